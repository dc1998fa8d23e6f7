#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "convert/layout_converter.h"
#include "driver/file_reading.h"
#include "driver/messages.h"
#include "driver/platform.h"

// The layout file was changed by another program while it was converted.
class FileChangedError : public FileError {
 public:
  using FileError::FileError;
};

// The file that `path` leads to, symbolic links followed: the one that is
// replaced, with its backup beside it. Throws FileError.
std::string replacedFile(const std::string& path);

// Checks that this user may replace the file `target`, and tells what its
// replacement inherits. Throws FileError.
InheritedAttributes checkReplaceable(const std::string& target);

class BlockWriter;

// The new contents of a layout file, written beside it while they are made,
// in a file that has no name until commit() where the system allows, so that
// a run that is killed leaves nothing behind. The layout file changes only at
// commit(), in one rename, so it holds either its old or its new bytes
// whatever fails. Its permissions and owner (attributes on Windows) are kept.
// Unless committed, the new file is removed again.
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
  // Flushes the new file to disk and renames it over the layout file, unless
  // the layout file is no longer the version `expected`, which it was
  // when it was read: then another program has written to it, and it stays
  // as that program left it (FileChangedError). Where `backup` names a file,
  // the layout file is kept there first (see keepOriginal). Close the layout
  // file first: Windows cannot replace a file that is open. Throws FileError.
  void commit(const FileVersion& expected, const std::string& backup = "");
  // Removes the new file after a failure; false when it stays behind, at
  // tempPath().
  bool discard();
  const std::string& tempPath() const { return tempPath_; }

 private:
  [[noreturn]] void fail(messages::Step step, const SystemError& error) const;
  [[noreturn]] void failChanged();
  // The new file as a message names it.
  std::string tempName() const;

  std::string target_, folder_, tempPath_;
  SystemFile file_;
  std::unique_ptr<BlockWriter> writer_;
  bool done_ = false;
};
