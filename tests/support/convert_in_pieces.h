#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

#include "convert/layout_converter.h"

// Converts `text` fed in pieces of `pieceSize`, as reads in blocks may cut a
// line anywhere, and handed on in blocks of `blockSize`, telling `listener`
// of the changes `told` where one is given.
inline std::string convertInPieces(
    const std::string& text, std::size_t pieceSize, std::size_t blockSize,
    ChangeListener* listener = nullptr,
    LayoutConverter::Told told = LayoutConverter::Told::kEveryChange) {
  StringSink sink(blockSize);
  LayoutConverter converter(sink, listener, told);
  for (std::size_t at = 0; at < text.size(); at += pieceSize)
    converter.feed(text.data() + at, std::min(pieceSize, text.size() - at));
  converter.finish();
  return sink.text;
}
