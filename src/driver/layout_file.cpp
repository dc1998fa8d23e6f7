#include "driver/layout_file.h"

#include <cstring>
#include <vector>

#include "convert/line_rewriter.h"

void LayoutConverter::feed(const char* data, std::size_t size) {
  const char* const end = data + size;
  while (data != end) {
    const char* lineFeed = static_cast<const char*>(
        std::memchr(data, '\n', static_cast<std::size_t>(end - data)));
    if (!lineFeed) {
      line_.append(data, end);
      return;
    }
    line_.append(data, lineFeed);
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    convertLine();
    data = lineFeed + 1;
  }
}

void LayoutConverter::finish() {
  // Any byte after the last line feed makes a line, a lone CR included.
  if (!line_.empty()) convertLine();
}

void LayoutConverter::convertLine() {
  ++lineNumber_;
  try {
    convertedText_ += rewriteLine(line_);
  } catch (const std::logic_error& e) {
    // invalid_argument and out_of_range, the errors of a bad value
    throw ConversionError(lineNumber_, e.what());
  }
  convertedText_ += "\r\n";
  line_.clear();
}

bool convertStream(std::FILE* in, LayoutConverter& converter) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
    if (std::ferror(in)) return false;  // errno still tells why
    converter.feed(buffer.data(), got);
    if (got < buffer.size()) break;
  }
  converter.finish();
  return true;
}
