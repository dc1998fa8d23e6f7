// Which markers a line holds, and the mask of the bytes that end a block.

#include "convert/line_scanner.h"

Markers findMarkers(std::string_view line) {
  const auto holds = [&](std::string_view marker) {
    return line.find(marker) != std::string_view::npos;
  };
  return {holds("Label=\"TAG\""), holds("Label=\"LEFT\""),
          holds("Label=\"WIDTH\"")};
}

std::uint64_t tailMask(const char* at, std::size_t size) {
  // Zeros behind the bytes: neither line feeds nor `L`s.
  char window[kWindow] = {};
  if (size > 0) std::memcpy(window, at, size < kWindow ? size : kWindow);
  return windowMask(window);
}
