// A whole layout file converted as it is fed in pieces: lines found, cut
// lines joined, line breaks kept, and each changed value told.

#include "convert/layout_converter.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "convert/line_rewriter.h"

const char* const kNulByteText =
    "a NUL byte, which no text layout file holds (is it UTF-16 text or an "
    "image?)";

namespace {

const char* propertyOf(const Markers& markers) {
  return markers.left ? "LEFT" : markers.width ? "WIDTH" : "TAG";
}

// What follows the first `Value` of a line and its `="`, up to the closing
// quote, cut to a few dozen characters.
std::string valueTextOf(std::string_view line) {
  const std::size_t kShown = 40;
  const std::size_t value = line.find("Value");
  if (value == std::string_view::npos) return "";
  std::string_view text = line.substr(std::min(line.size(), value + 7));
  text = text.substr(0, text.find('"'));
  if (text.size() <= kShown) return std::string(text);
  return std::string(text.substr(0, kShown)) + "...";
}

}  // namespace

LayoutConverter::LayoutConverter(ByteSink& sink, ChangeListener* listener,
                                 Told told)
    : LayoutConverter(sink, inputFileName, listener, told) {}

LayoutConverter::LayoutConverter(ByteSink& sink, std::string_view fileName,
                                 ChangeListener* listener, Told told)
    : sink_(sink),
      listener_(listener),
      tellEveryChange_(listener && told == Told::kEveryChange),
      rules_(fileName) {
  currentTagText.clear();
}

void LayoutConverter::emitAcross(const char* data, std::size_t size) {
  if (size == 0) return;
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
    size_ = used_ = 0;
  }
}

void LayoutConverter::feed(const char* data, std::size_t size) {
  const char* const nul =
      static_cast<const char*>(std::memchr(data, '\0', size));
  if (!nul) {
    guarded([&] { feedText(data, size); });
    return;
  }
  // The lines before it first, so that an earlier error is the one told,
  // wherever the pieces are cut.
  const char* lineStart = nul;
  while (lineStart != data && lineStart[-1] != '\n') --lineStart;
  guarded([&] { feedText(data, static_cast<std::size_t>(lineStart - data)); });
  throw ConversionError(lineNumber_ + 1, ConversionError::Kind::kNulByte,
                        kNulByteText);
}

void LayoutConverter::throwBadValue(ConversionError::Kind kind,
                                    const char* reason) const {
  throw ConversionError(lineNumber_, kind, reason, propertyOf(editingMarkers_),
                        valueTextOf(editing_));
}

ConversionError::Kind LayoutConverter::kindOf(const ValueOutOfRange& e) {
  switch (e.which()) {
    case ValueOutOfRange::Which::kEndsAtValue:
      return ConversionError::Kind::kEndsAtValue;
    case ValueOutOfRange::Which::kWidthOverflow:
      return ConversionError::Kind::kWidthOverflow;
    case ValueOutOfRange::Which::kOutOfRange:
      break;
  }
  return ConversionError::Kind::kOutOfRange;
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

  // Lines that stay as they are, CR LF included, are copied in runs; the
  // scanner passes over those that cannot change.
  const char* unchanged = data;
  const std::size_t linesBefore = lineNumber_;
  LineScanner lines(data, end);
  Markers markers;
  while (const char* const lineFeed = lines.next(markers)) {
    const char* const start = lines.lineStart();
    lineNumber_ = linesBefore + lines.lines();
    const bool crLf = lineFeed != start && lineFeed[-1] == '\r';
    const std::string_view line(
        start, static_cast<std::size_t>(lineFeed - start) - (crLf ? 1 : 0));
    if (const LineEdit change = edit(line, markers); change.change) {
      // The line up to its value goes with the unchanged run before it.
      emit(unchanged,
           static_cast<std::size_t>(start + change.valueStart - unchanged));
      emitRest(line, change);
      unchanged = lineFeed + 1;
    } else if (!crLf) {
      emit(unchanged, static_cast<std::size_t>(lineFeed - unchanged));
      emit("\r\n", 2);
      unchanged = lineFeed + 1;
    }
  }
  lineNumber_ = linesBefore + lines.lines();
  data = lines.lineStart();
  emit(unchanged, static_cast<std::size_t>(data - unchanged));
  line_.assign(data, end);
}

void LayoutConverter::finish() {
  // Any byte after the last line feed makes a line, a lone CR included.
  if (!line_.empty()) guarded([&] { convertHeldLine(false); });
  if (used_ > 0) sink_.take(used_);
  buffer_ = nullptr;
  size_ = used_ = 0;
}

namespace {

// What a rewrite of `line` by `change` replaced beyond the number, its
// closing quote, white space and "/>"; empty where that was all.
std::string_view cutBy(std::string_view line, const LineEdit& change) {
  const std::size_t replacedEnd = std::min(change.tailStart(), line.size());
  if (change.numberEnd >= replacedEnd) return {};  // the number goes on
  const std::string_view after =
      line.substr(change.numberEnd, replacedEnd - change.numberEnd);
  std::size_t end = after[0] != '"' ? 0 : 1;
  end = std::min(after.find_first_not_of(" \t", end), after.size());
  if (after.substr(end, 2) == "/>") end += 2;
  end = std::min(after.find_first_not_of(" \t", end), after.size());
  return end < after.size() ? after : std::string_view();
}

}  // namespace

void LayoutConverter::tell(std::string_view line,
                           const LineEdit& change) const {
  const std::int32_t before = numberAt(line, change.valueStart);
  const std::string_view cut = cutBy(line, change);
  ValueChange told;
  told.line = lineNumber_;
  told.width = change.change.width;
  told.byException = change.change.byException;
  told.before = before;
  told.after = change.number;
  const std::string_view tag =
      tag_.copied ? std::string_view(currentTagText) : tag_.text;
  told.control = tag.substr(0, tag.find('"'));
  told.cut = cut;
  listener_->changed(told);
}

void LayoutConverter::emitRest(std::string_view line, const LineEdit& change) {
  ++(change.change.width ? changes_.width : changes_.left);
  if (change.change.byException) ++changes_.byException;
  // Most lines end as a rewrite ends them: that is checked in place.
  const std::size_t replaced =
      std::min(change.tailStart(), line.size()) - change.numberEnd;
  const bool cuts = (replaced != kValueEnd.size() ||
                     std::memcmp(line.data() + change.numberEnd,
                                 kValueEnd.data(), kValueEnd.size()) != 0) &&
                    !cutBy(line, change).empty();
  if (cuts) {
    ++changes_.cut;
    if (listener_) tell(line, change);
  } else if (tellEveryChange_) {
    tell(line, change);
  }
  // Most lines end with the value: then the number and the line's end are
  // written straight into the buffer when they fit.
  const std::string_view lineEnd = "\r\n";
  const std::size_t kLongest = 11 + kValueEnd.size() + lineEnd.size();
  if (change.tailStart() >= line.size() && size_ - used_ >= kLongest) {
    char* at = writeNumber(buffer_ + used_, change.number);
    std::memcpy(at, kValueEnd.data(), kValueEnd.size());
    at += kValueEnd.size();
    std::memcpy(at, lineEnd.data(), lineEnd.size());
    used_ = static_cast<std::size_t>(at + lineEnd.size() - buffer_);
    return;
  }
  char digits[16];
  char* const digitsEnd = writeNumber(digits, change.number);
  emit(digits, static_cast<std::size_t>(digitsEnd - digits));
  emit(kValueEnd);
  if (change.tailStart() < line.size()) emit(line.substr(change.tailStart()));
  emit("\r\n", 2);
}

void LayoutConverter::convertHeldLine(bool beforeLineFeed) {
  if (beforeLineFeed && !line_.empty() && line_.back() == '\r')
    line_.pop_back();
  ++lineNumber_;
  if (const LineEdit change = edit(line_, findMarkers(line_)); change.change) {
    emit(line_.data(), change.valueStart);
    emitRest(line_, change);
  } else {
    emit(line_);
    emit("\r\n", 2);
  }
  keepTagText();  // before the line it may view is cleared
  line_.clear();
}
