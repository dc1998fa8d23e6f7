#pragma once

#include <cstddef>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert/layout_converter.h"
#include "driver/content_hash.h"
#include "driver/file_steps.h"
#include "driver/messages.h"
#include "driver/pending_file.h"
#include "driver/platform_files.h"
#include "driver/platform_process.h"
#include "driver/record.h"

// The file that `path` leads to, symbolic links followed: the one that is
// replaced, with its backup beside it. Throws FileError.
std::string replacedFile(const std::string& path);

// Checks that this user may replace the file `target`, and tells what its
// replacement inherits. Throws FileError.
InheritedAttributes checkReplaceable(const std::string& target);

class BlockWriter;

// The layout file and its backup as the run found them, and what is to
// become of the backup.
struct AsFound {
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

class ReplacementFile;

// The player's memory that a commit adds to: its folder (none where empty),
// and the first failure to write it.
struct Remembering {
  std::string folder;
  std::optional<Failure> failed;
  std::optional<Record> held;  // as a commit last wrote it
};

// One layout file's part in a commit: its new file, what is known of it,
// and, once committed, what failed for it; `unrecorded` where that was the
// record of the whole batch.
struct Commit {
  ReplacementFile* file = nullptr;
  AsFound found;
  std::optional<Failure> failure;
  bool unrecorded = false;
};

// The new contents of a layout file, written beside it while they are made,
// into a pending file, which the writer's thread fills from the buffers the
// converter is lent. The layout file changes only at commitAll(), in one
// rename, so it holds either its old or its new bytes whatever fails. Its
// permissions and owner (attributes on Windows) are kept.
//
// Calling sequence:
//   ReplacementFile out(target, blockSize);  // checks, and creates the file
//   ... a LayoutConverter writes through lend() and take() ...
//   out.finishWriting();  // optional: all written, the buffers let go of
//   out.flushSoon();      // optional: flushed on another thread meanwhile
//   ... the layout file is closed (Windows replaces no open file) ...
//   ReplacementFile::commitAll(batch);  // with the others of its folder; or,
//                                       // on any other way out, nothing:
//                                       // the destructor removes the file
//
// commitAll() puts the new files of one folder in place of their layout
// files together, so that the folder is flushed twice for all of them, not
// for each. It does, in this order: writes what is queued of each new file
// and flushes it, or waits for the flush that flushSoon() started; then for
// each file, in the order of the files (device and inode, then name), takes the
// layout file's lock, held to the end; checks that the layout file is still as
// read, and its backup as found; where it has none, keeps the original as
// the backup, or for a new original, keeps it in place of the backup. Then
// it puts what it is to write and the originals in the folder's record,
// once, flushed, and renamed into place, and in the player's memory beside
// it (whose lock is taken after the folder's, before any file's, and let go
// of before the renames); where the record cannot be
// written, no file of the batch is replaced (each fails, `unrecorded`, and
// the record's failure is returned). Then it flushes the folder, once,
// where a backup was kept: the backups and the record are on disk before
// the first rename. Then for each file it names and closes the new file and
// renames it over the layout file. Then it flushes the folder once more. A
// crash leaves each layout file and its backup (old, none), (old, old) or
// (new, old), and for a new original N with the backup B (N, B), (N, N) or
// (new, N), never anything else, and a converted file is in the record
// whatever became of its backup; each is judged right by the next run. A
// step that fails for one file leaves that file as it was and removes a
// backup that this run made for it (one put in place of another stays: it
// holds the file as it is), its failure saying what became of that backup;
// the others go on. A folder flush that fails fails every file whose backup
// it was to keep.
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
  // Writes what is queued, and lets go of the buffers. Throws FileError.
  void finishWriting();
  // Starts flushing what is written on another thread (Flusher), so that
  // the flushes of a batch wait for the disk together while the next files
  // are converted.
  void flushSoon();
  // Commits `batch`, whose files are all in one folder, as above: sets the
  // failure of each file that is not replaced (where another program
  // changed a file meanwhile, failure->changed() is true), and returns the
  // record's failure where that left the whole batch unconverted. What is
  // written is put in the player's memory in `memory` too (see Memory),
  // which is told what failed there, if anything; that fails no file.
  // `record`, where given, is the folder's record as the run holds it, and
  // is the record as written once the commit is done (see
  // RecordUpdate::startFrom), or none.
  static std::optional<Failure> commitAll(
      std::vector<Commit>& batch, Remembering& memory,
      std::optional<Record>* record = nullptr);
  // Removes the new file after a failure; false when it stays behind, at
  // tempPath().
  bool discard();
  const std::string& tempPath() const { return pending_.path(); }
  const std::string& target() const { return target_; }

 private:
  // What this commit did to the backup, to be undone where it fails.
  enum class Made { kNothing, kBackup, kBackupReplaced };

  void flush();
  // The steps from the check to the folder's flush, under the lock.
  void checkAndKeep(const AsFound& expected);
  void checkUnchanged(const FileVersion& expected);
  void replace(const FileVersion& expected);
  [[noreturn]] void failChanged();
  // `failure`, with what became of a backup made for it.
  Failure failed(Failure failure, const std::string& backup);

  std::string target_;
  InheritedAttributes attributes_;
  PendingFile pending_;
  std::unique_ptr<BlockWriter> writer_;
  char* lent_ = nullptr;
  ContentHash written_{ContentHash::For::kNewEntry};
  std::future<SystemError> flushing_;
  FileLock held_;
  Made made_ = Made::kNothing;
};
