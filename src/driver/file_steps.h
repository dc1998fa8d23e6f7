#pragma once

// What every step of the driver's work on files shares: the error a failed
// step throws, and reading a file in blocks.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "convert/layout_converter.h"
#include "driver/messages.h"
#include "driver/platform.h"

// A file operation that failed, with what a player needs to act: what was
// done to which file, and the system's reason.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The layout file was changed by another program while it was converted.
class FileChangedError : public FileError {
 public:
  using FileError::FileError;
};

// Throws FileError("cannot STEP PATH: REASON") when `error` tells a failure.
inline void check(const SystemError& error, messages::Step step,
                  const std::string& path) {
  if (error) throw FileError(messages::failed(step, path, error));
}

// Buffers fitted to a file of `size` bytes: a small file needs no megabyte.
std::size_t blockSizeFor(std::uint64_t size);

// Reads all of `in` in blocks of `blockSize`, handing each to `take(data,
// size)`. Throws FileError naming `path` when reading fails.
template <typename Take>
void readBlocks(const SystemFile& in, const std::string& path,
                std::size_t blockSize, Take take) {
  const std::unique_ptr<char[]> block(new char[blockSize]);
  for (;;) {
    std::size_t got = 0;
    check(readSome(in, block.get(), blockSize, got), messages::Step::kRead,
          path);
    if (got == 0) return;
    take(block.get(), got);
  }
}

// Reads all of `in` in blocks of `blockSize` into `converter` and finishes
// it. Throws FileError naming `path` when reading fails, and what the
// converter throws.
void convertFile(const SystemFile& in, const std::string& path,
                 std::size_t blockSize, LayoutConverter& converter);
