// Reading a file in blocks, and holding its lock.

#include "driver/file_steps.h"

#include <algorithm>

std::size_t blockSizeFor(std::uint64_t size) {
  // Room for the whole of a small file in one piece, its end included.
  const std::uint64_t fitted = std::max<std::uint64_t>(size + 1, 4096);
  return static_cast<std::size_t>(
      std::min<std::uint64_t>(fitted, LayoutConverter::kBlockSize));
}

ChangeCounts convertFile(const SystemFile& in, const std::string& path,
                         std::size_t blockSize, ByteSink& sink,
                         std::string_view name, ChangeListener* listener,
                         LayoutConverter::Told told, ContentHash* hash) {
  LayoutConverter converter(sink, name, listener, told);
  readBlocks(in, path, blockSize, [&](const char* data, std::size_t size) {
    if (hash) hash->feed(data, size);
    converter.feed(data, size);
  });
  converter.finish();
  return converter.changes();
}

void lockFile(FileLock& held, const std::string& target) {
  const SystemError error = held.lock(target);
  // The steps after tell of a file that is gone.
  if (error && !error.isNotFound())
    throw FileError(failureOf(Failure::Kind::kLock, target, "", error));
}
