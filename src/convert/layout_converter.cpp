#include "convert/layout_converter.h"

#include <cstring>

#include "convert/line_rewriter.h"

const char* const kNulByteText =
    "a NUL byte, which no text layout file holds (is it UTF-16 text or an "
    "image?)";

LayoutConverter::LayoutConverter(ByteSink& sink, std::size_t blockSize)
    : sink_(sink),
      blockSize_(blockSize > 0 ? blockSize : 1),
      block_(new char[blockSize_]),
      rules_(inputFileName) {
  currentTagText.clear();
}

void LayoutConverter::emit(const char* data, std::size_t size) {
  if (size > blockSize_ - used_) {
    drain();
    // What fills a block on its own need not be copied first.
    if (size >= blockSize_) {
      sink_.write(data, size);
      return;
    }
  }
  std::memcpy(block_.get() + used_, data, size);
  used_ += size;
}

void LayoutConverter::drain() {
  if (used_ == 0) return;
  sink_.write(block_.get(), used_);
  used_ = 0;
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
  drain();
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
