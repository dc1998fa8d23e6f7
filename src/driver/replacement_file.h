#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "convert/content_hash.h"
#include "convert/layout_converter.h"
#include "driver/file_steps.h"
#include "driver/messages.h"
#include "driver/pending_file.h"
#include "driver/platform_files.h"

// The file that `path` leads to, symbolic links followed: the one that is
// replaced, with its backup beside it. Throws FileError.
std::string replacedFile(const std::string& path);

// Checks that this user may replace the file `target`, and tells what its
// replacement inherits. Throws FileError.
InheritedAttributes checkReplaceable(const std::string& target);

class BlockWriter;

// What the caller of ReplacementFile::commit() knows of the layout file.
struct Expected {
  FileVersion file;  // the layout file as it was read
  // Where it has no backup yet, the original is kept as `backup` before the
  // rename; where it has one, that is still as it was found (`backupFile`),
  // and where the file is a new original, it is kept in place of that one.
  bool keepOriginal = true;
  bool replaceBackup = false;
  std::string backup;
  FileVersion backupFile;
  Digest original;  // of the layout file as it was read, for the record
};

// The new contents of a layout file, written beside it while they are made,
// into a pending file, which the writer's thread fills from the buffers the
// converter is lent. The layout file changes only at commit(), in one
// rename, so it holds either its old or its new bytes whatever fails. Its
// permissions and owner (attributes on Windows) are kept.
//
// Calling sequence:
//   ReplacementFile out(target, blockSize);  // checks, and creates the file
//   ... a LayoutConverter writes through lend() and take() ...
//   out.commit(in, expected);  // or, on any other way out, nothing: the
//                              // destructor removes the new file
//
// commit() does, in this order: writes what is queued and flushes the new
// file; closes the layout file `in` (Windows replaces no open file); takes
// the layout file's lock; checks that the layout file is still as read, and
// its backup as found; where it has none, keeps the original as the backup,
// or for a new original, keeps it in place of the backup, and flushes the
// folder; names and closes the new file; renames it over the layout file;
// flushes the folder; puts what it wrote and the original in the folder's
// record. A crash leaves the layout file and its backup (old, none), (old,
// old) or (new, old), and for a new original N with the backup B (N, B),
// (N, N) or (new, N), never anything else; each is judged right by the next
// run from the backup alone, the record as it was or not. A failure before
// the rename leaves the layout file as it was and removes a backup that this
// run made (one put in place of another stays: it holds the file as it is),
// and the error says what became of that backup.
class ReplacementFile final : public ByteSink {
 public:
  // Checks that the file at `target` (not a symbolic link) may be replaced,
  // and creates the new file beside it, to be written in blocks of
  // `blockSize`. Throws FileError.
  ReplacementFile(const std::string& target, std::size_t blockSize);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // The new bytes are written from the buffers they were converted into.
  // Throw FileError.
  char* lend(std::size_t& size) override;
  void take(std::size_t used) override;
  // Puts the new file in place of the layout file, as above, and returns
  // what failed of the record's update, which undoes nothing. Throws
  // FileError; where another program changed a file meanwhile,
  // failure().changed() is true.
  std::optional<Failure> commit(SystemFile& in, const Expected& expected);
  // Removes the new file after a failure; false when it stays behind, at
  // tempPath().
  bool discard();
  const std::string& tempPath() const { return pending_.path(); }

 private:
  void finish();
  void checkUnchanged(const FileVersion& expected);
  void replace(const FileVersion& expected);
  // The steps from the check to the rename, under the lock.
  void keepOriginalAndReplace(const Expected& expected);
  void replaceOriginalAndReplace(const Expected& expected);
  [[noreturn]] void failChanged();

  std::string target_;
  InheritedAttributes attributes_;
  PendingFile pending_;
  std::unique_ptr<BlockWriter> writer_;
  char* lent_ = nullptr;
  ContentHash written_;
};
