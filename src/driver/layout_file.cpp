#include "driver/layout_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "convert/line_rewriter.h"
#include "driver/platform.h"

namespace {

// What one line of n bytes (its LF not counted) becomes at most: a new
// number and `" />` in place of a value text cut short, then CR LF.
std::size_t mostOutputForLine(std::size_t lineBytes) { return lineBytes + 17; }

// What n bytes of whole lines become at most: twice as much for empty lines
// with bare LFs; a rewritten line is long enough to gain less than that.
std::size_t mostOutputFor(std::size_t bytes) { return 2 * bytes + 16; }

}  // namespace

void LayoutConverter::reserve(std::size_t inputBytes) {
  // Room for a file that gains a little, as one whose line breaks are bare
  // LFs does, and for the worst case of one more piece; only the first part
  // is mapped at once.
  const std::size_t expected = inputBytes + inputBytes / 32;
  convertedText_.reserve(expected + mostOutputFor(kBlockSize));
  adviseLargeBuffer(convertedText_.data(), expected);
}

void LayoutConverter::makeRoom(std::size_t outputBytes) {
  const std::size_t needed = convertedText_.size() + outputBytes;
  const std::size_t capacity = convertedText_.capacity();
  // Grows by an eighth rather than doubling, to stay near the file's size.
  if (needed > capacity) {
    convertedText_.reserve(std::max(needed, capacity + capacity / 8));
    adviseLargeBuffer(convertedText_.data(), convertedText_.capacity());
  }
}

void LayoutConverter::feed(const char* data, std::size_t size) {
  const char* const end = data + size;
  if (!line_.empty()) {
    // Finish the line that an earlier piece began.
    const char* lineFeed =
        static_cast<const char*>(std::memchr(data, '\n', size));
    if (!lineFeed) {
      line_.append(data, end);
      return;
    }
    line_.append(data, lineFeed);
    convertHeldLine(true);
    data = lineFeed + 1;
  }
  makeRoom(mostOutputFor(static_cast<std::size_t>(end - data)));

  // Lines that stay as they are, CR LF included, are copied in runs.
  const char* unchanged = data;
  while (data != end) {
    const char* lineFeed = static_cast<const char*>(
        std::memchr(data, '\n', static_cast<std::size_t>(end - data)));
    if (!lineFeed) break;
    const bool crLf = lineFeed != data && lineFeed[-1] == '\r';
    const std::string_view line(
        data, static_cast<std::size_t>(lineFeed - data) - (crLf ? 1 : 0));
    if (rewrite(line)) {
      convertedText_.append(unchanged, data);
      convertedText_ += rewritten_;
      convertedText_ += "\r\n";
      unchanged = lineFeed + 1;
    } else if (!crLf) {
      convertedText_.append(unchanged, lineFeed);
      convertedText_ += "\r\n";
      unchanged = lineFeed + 1;
    }
    data = lineFeed + 1;
  }
  convertedText_.append(unchanged, data);
  line_.assign(data, end);
}

void LayoutConverter::finish() {
  // Any byte after the last line feed makes a line, a lone CR included.
  if (!line_.empty()) convertHeldLine(false);
}

bool LayoutConverter::rewrite(std::string_view line) {
  ++lineNumber_;
  try {
    return rewriteLineInto(line, rewritten_);
  } catch (const std::logic_error& e) {
    // invalid_argument and out_of_range, the errors of a bad value
    throw ConversionError(lineNumber_, e.what());
  }
}

void LayoutConverter::convertHeldLine(bool beforeLineFeed) {
  if (beforeLineFeed && !line_.empty() && line_.back() == '\r')
    line_.pop_back();
  makeRoom(mostOutputForLine(line_.size()));
  convertedText_ += rewrite(line_) ? rewritten_ : line_;
  convertedText_ += "\r\n";
  line_.clear();
}

bool convertStream(std::FILE* in, LayoutConverter& converter) {
  std::vector<char> buffer(LayoutConverter::kBlockSize);
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
    if (std::ferror(in)) return false;  // errno still tells why
    converter.feed(buffer.data(), got);
    if (got < buffer.size()) break;
  }
  converter.finish();
  return true;
}
