#include "convert/layout_converter.h"

#include <algorithm>
#include <cstring>

#include "convert/line_rewriter.h"

const char* const kNulByteText =
    "a NUL byte, which no text layout file holds (is it UTF-16 text or an "
    "image?)";

LayoutConverter::LayoutConverter(ByteSink& sink)
    : sink_(sink), rules_(inputFileName) {
  currentTagText.clear();
}

void LayoutConverter::emit(const char* data, std::size_t size) {
  for (;;) {
    if (!buffer_) buffer_ = sink_.lend(size_);
    const std::size_t piece = std::min(size, size_ - used_);
    std::memcpy(buffer_ + used_, data, piece);
    used_ += piece;
    if (piece == size) return;
    data += piece;
    size -= piece;
    // Full: handed on, and the next one taken when there is more.
    sink_.take(used_);
    buffer_ = nullptr;
    used_ = 0;
  }
}

void LayoutConverter::feed(const char* data, std::size_t size) {
  const char* const nul =
      static_cast<const char*>(std::memchr(data, '\0', size));
  if (!nul) {
    feedText(data, size);
    return;
  }
  // The lines before it first, so that an earlier error is the one told,
  // wherever the pieces are cut.
  const char* lineStart = nul;
  while (lineStart != data && lineStart[-1] != '\n') --lineStart;
  feedText(data, static_cast<std::size_t>(lineStart - data));
  throw ConversionError(lineNumber_ + 1, kNulByteText);
}

void LayoutConverter::feedText(const char* data, std::size_t size) {
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
      emit(unchanged, static_cast<std::size_t>(data - unchanged));
      emit(rewritten_);
      emit("\r\n", 2);
      unchanged = lineFeed + 1;
    } else if (!crLf) {
      emit(unchanged, static_cast<std::size_t>(lineFeed - unchanged));
      emit("\r\n", 2);
      unchanged = lineFeed + 1;
    }
    data = lineFeed + 1;
  }
  emit(unchanged, static_cast<std::size_t>(data - unchanged));
  line_.assign(data, end);
}

void LayoutConverter::finish() {
  // Any byte after the last line feed makes a line, a lone CR included.
  if (!line_.empty()) convertHeldLine(false);
  if (used_ > 0) sink_.take(used_);
  buffer_ = nullptr;
  used_ = 0;
}

bool LayoutConverter::rewrite(std::string_view line) {
  ++lineNumber_;
  try {
    const LineChange change = rewriteLineInto(line, rewritten_, rules_);
    if (change) {
      ++(change.width ? changes_.width : changes_.left);
      if (change.byException) ++changes_.byException;
    }
    return change.changed;
  } catch (const std::invalid_argument& e) {
    throw ConversionError(lineNumber_, e.what());
  } catch (const std::out_of_range& e) {
    throw ConversionError(lineNumber_, e.what());
  }
}

void LayoutConverter::convertHeldLine(bool beforeLineFeed) {
  if (beforeLineFeed && !line_.empty() && line_.back() == '\r')
    line_.pop_back();
  emit(rewrite(line_) ? std::string_view(rewritten_) : std::string_view(line_));
  emit("\r\n", 2);
  line_.clear();
}
