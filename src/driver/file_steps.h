#pragma once

// Reading a file in blocks, as every step of the driver's work on files
// does.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "convert/layout_converter.h"
#include "driver/content_hash.h"
#include "driver/failure.h"
#include "driver/platform_files.h"
#include "driver/platform_process.h"

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
    check(readSome(in, block.get(), blockSize, got), Step::kRead, path);
    if (got == 0) return;
    take(block.get(), got);
  }
}

// Converts all of `in`, read in blocks of `blockSize`, into `sink`, as the
// file named `name` is converted, telling `listener` (where given) of the
// changes `told`; `hash`, where given, is fed the same bytes. Returns what
// changed. Throws FileError naming `path` when reading fails, and what the
// converter throws.
ChangeCounts convertFile(
    const SystemFile& in, const std::string& path, std::size_t blockSize,
    ByteSink& sink, std::string_view name, ChangeListener* listener = nullptr,
    LayoutConverter::Told told = LayoutConverter::Told::kEveryChange,
    ContentHash* hash = nullptr);

// Holds the lock of the layout file `target` while it is replaced or
// restored, so that another run of hudconv never comes between the steps.
// A file that is gone has nothing to guard. Throws FileError.
void lockFile(FileLock& held, const std::string& target);
