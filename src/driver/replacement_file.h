#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "convert/layout_converter.h"
#include "driver/file_steps.h"
#include "driver/messages.h"
#include "driver/pending_file.h"
#include "driver/platform.h"

// The file that `path` leads to, symbolic links followed: the one that is
// replaced, with its backup beside it. Throws FileError.
std::string replacedFile(const std::string& path);

// Checks that this user may replace the file `target`, and tells what its
// replacement inherits. Throws FileError.
InheritedAttributes checkReplaceable(const std::string& target);

class BlockWriter;

// The new contents of a layout file, written beside it while they are made,
// into a pending file, which the writer's thread fills from the buffers the
// converter is lent. The layout file changes only at replace(), in one
// rename, so it holds either its old or its new bytes whatever fails. Its
// permissions and owner (attributes on Windows) are kept. Unless it replaced
// the layout file, the new file is removed again.
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
  // Writes what is still queued and flushes the new file to disk. Throws
  // FileError.
  void finish();
  // Unless the layout file is still the version `expected`, which it was when
  // it was read, another program has written to it: it stays as that program
  // left it, and the new file is removed (FileChangedError).
  void checkUnchanged(const FileVersion& expected);
  // Names the new file and renames it over the layout file, in that order
  // and at once. Close the layout file first: Windows cannot replace a file
  // that is open. Throws FileError, and FileChangedError where the rename
  // failed because another program holds the file and changed it.
  void replace(const FileVersion& expected);
  // Removes the new file after a failure; false when it stays behind, at
  // tempPath().
  bool discard();
  const std::string& tempPath() const { return pending_.path(); }

 private:
  [[noreturn]] void failChanged();

  std::string target_;
  InheritedAttributes attributes_;
  PendingFile pending_;
  std::unique_ptr<BlockWriter> writer_;
};
