#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "convert/line_rewriter.h"
#include "convert/rule_table.h"

// A value the converter cannot handle, with the 1-based line it stands on,
// what was wrong with it, and where it is a property's value, which property
// (LEFT, WIDTH or TAG) and its value text as it stands, up to its closing
// quote and cut to a few dozen characters. what() is the reason as
// rewriteLine gives it.
class ConversionError : public std::runtime_error {
 public:
  enum class Kind {
    kNotANumber,     // no digits where the number should be
    kOutOfRange,     // a number beyond 32 bits
    kEndsAtValue,    // the line ends right behind its Value
    kWidthOverflow,  // a width that its exception scales beyond 32 bits
    kNulByte,        // a NUL byte, which no text file holds
    // Never thrown here: a NUL byte in a file that reads as UTF-16 text, as
    // the reader of the file tells it.
    kSavedAsUtf16,
  };
  ConversionError(std::size_t line, Kind kind, const std::string& reason,
                  std::string property = "", std::string value = "")
      : std::runtime_error(reason),
        line_(line),
        kind_(kind),
        property_(std::move(property)),
        value_(std::move(value)) {}
  std::size_t line() const { return line_; }
  Kind kind() const { return kind_; }
  const std::string& property() const { return property_; }
  const std::string& value() const { return value_; }

 private:
  std::size_t line_;
  Kind kind_;
  std::string property_, value_;
};

// The reason given for a file that holds a NUL byte, which no text layout
// file does: it is UTF-16 text, an image, or damaged.
extern const char* const kNulByteText;

// How many values a conversion rewrote, of each kind, how many of them by a
// built-in exception, and on how many lines the rewrite cut text away (see
// ValueChange::cut).
struct ChangeCounts {
  std::size_t left = 0, width = 0, byException = 0, cut = 0;
};

// One value that a conversion changed, for a preview or a warning.
struct ValueChange {
  std::size_t line = 0;  // 1-based
  bool width = false;    // a WIDTH value; otherwise a LEFT value
  bool byException = false;
  std::int32_t before = 0, after = 0;
  std::string_view control;  // the name on the last TAG line, if any
  // What the rewrite replaced beyond the number, its closing quote, white
  // space and "/>" (a comment, another attribute, the label itself): gone
  // from the line. Empty for a line that ends with its value.
  std::string_view cut;
};

// Told of the values a conversion changes, as it changes them: of each, or
// only of those whose rewrite cuts text.
class ChangeListener {
 public:
  virtual void changed(const ValueChange& change) = 0;

 protected:
  ~ChangeListener() = default;
};

// Where converted bytes go. The converter fills a buffer that the sink
// lends it and hands it back full, so that the bytes are not copied again on
// their way. A sink reports a failure by throwing.
class ByteSink {
 public:
  // The buffer to fill next, and its size in `size` (at least 1).
  virtual char* lend(std::size_t& size) = 0;
  // Takes the first `used` bytes of the buffer lent last, which the
  // converter no longer touches.
  virtual void take(std::size_t used) = 0;

 protected:
  ~ByteSink() = default;
};

// A sink that handles the bytes as they come, from one buffer of its own.
class BufferedSink : public ByteSink {
 public:
  explicit BufferedSink(std::size_t size) : size_(size > 0 ? size : 1) {}
  char* lend(std::size_t& size) override {
    if (!buffer_) buffer_.reset(new char[size_]);
    size = size_;
    return buffer_.get();
  }
  void take(std::size_t used) override { write(buffer_.get(), used); }

 protected:
  ~BufferedSink() = default;
  virtual void write(const char* data, std::size_t size) = 0;

 private:
  std::size_t size_;
  std::unique_ptr<char[]> buffer_;  // left uninitialised: it is written first
};

// Collects bytes in memory: the whole converted text, where it is wanted.
class StringSink final : public BufferedSink {
 public:
  // Collects `blockSize` bytes at a time.
  explicit StringSink(std::size_t blockSize = 128 << 10)
      : BufferedSink(blockSize) {}
  std::string text;

 private:
  void write(const char* data, std::size_t size) override {
    text.append(data, size);
  }
};

// Converts a layout file fed to it in pieces of any size, into the buffers
// of a sink. Lines end at a line feed; a carriage return directly before it
// is dropped, and every converted line is followed by CR LF, the line break
// written to disk. A last line without a line break is converted too; a file
// that ends with one gains no empty line. Memory stays the longest line,
// whatever the size of the file.
class LayoutConverter {
 public:
  // The size of the blocks a file is read and written in.
  static constexpr std::size_t kBlockSize = 128 << 10;

  // Which changes a listener is told of.
  enum class Told { kEveryChange, kCuts };

  // Starts the conversion of one file (currentTagText starts empty) into
  // `sink`, telling `listener`, where one is given, of the changes `told`.
  explicit LayoutConverter(ByteSink& sink, ChangeListener* listener = nullptr,
                           Told told = Told::kEveryChange);
  // The same for the file named `fileName` (its bare name), whose
  // exceptions apply; the one above goes by inputFileName.
  LayoutConverter(ByteSink& sink, std::string_view fileName,
                  ChangeListener* listener = nullptr,
                  Told told = Told::kEveryChange);

  // Throws ConversionError when rewriteLine rejects a line or a line holds a
  // NUL byte, and whatever the sink throws.
  void feed(const char* data, std::size_t size);
  // Converts the last line when it had no line break, and hands over what is
  // still collected. Throws as feed does.
  void finish();

  const ChangeCounts& changes() const { return changes_; }

 private:
  void feedText(const char* data, std::size_t size);
  // Copies bytes into the sink's buffer; short pieces without a call.
  void emit(const char* data, std::size_t size) {
    if (size - 1 < size_ - used_) {  // and not empty
      std::memcpy(buffer_ + used_, data, size);
      used_ += size;
      return;
    }
    emitAcross(data, size);
  }
  void emit(std::string_view text) { emit(text.data(), text.size()); }
  // Fills the buffer, hands it on, and goes on in the next ones.
  void emitAcross(const char* data, std::size_t size);
  // Tells how the line just counted, which holds `markers`, changes; a line
  // without markers, most of a file, stays as it is without a call. The
  // line is noted while it is edited, for the error that it may raise.
  LineEdit edit(std::string_view line, const Markers& markers) {
    if (!markers.any()) return {};
    editing_ = line;
    editingMarkers_ = markers;
    const LineEdit change = editLine(line, markers, rules_, tag_);
    editing_ = {};
    return change;
  }
  // Runs `step`, which converts lines. The TAG text may be a view into them:
  // it is kept before they are gone, also when a line or the sink fails. A
  // line's error becomes a ConversionError.
  template <class Step>
  void guarded(Step step) {
    try {
      step();
    } catch (const std::invalid_argument& e) {
      keepTagText();
      if (editing_.data() == nullptr) throw;  // not from a line: as it came
      throwBadValue(ConversionError::Kind::kNotANumber, e.what());
    } catch (const ValueOutOfRange& e) {
      keepTagText();
      if (editing_.data() == nullptr) throw;
      throwBadValue(kindOf(e), e.what());
    } catch (const std::out_of_range& e) {
      keepTagText();
      if (editing_.data() == nullptr) throw;
      throwBadValue(ConversionError::Kind::kOutOfRange, e.what());
    } catch (...) {
      keepTagText();
      throw;
    }
    keepTagText();
  }
  // Throws the ConversionError of the line being edited, for `reason`.
  [[noreturn]] void throwBadValue(ConversionError::Kind kind,
                                  const char* reason) const;
  // Which of rewriteLine's range errors `e` is.
  static ConversionError::Kind kindOf(const ValueOutOfRange& e);
  // Counts a change and emits the changed line from its new number on, and
  // its line break.
  void emitRest(std::string_view line, const LineEdit& change);
  void convertHeldLine(bool beforeLineFeed);

  // Tells the listener of the change `change` made to `line`.
  void tell(std::string_view line, const LineEdit& change) const;
  // Copies the TAG text into currentTagText where it is a view into a line.
  void keepTagText() {
    if (tag_.copied) return;
    currentTagText.assign(tag_.text);
    tag_.copied = true;
  }

  ByteSink& sink_;
  ChangeListener* listener_;
  bool tellEveryChange_;
  char* buffer_ = nullptr;  // lent by the sink; size_ 0 while none is
  std::size_t size_ = 0, used_ = 0;
  std::string line_;  // a line cut by the end of a piece, until it is whole
  std::size_t lineNumber_ = 0;
  ChangeCounts changes_;
  FileRuleLookup rules_;  // of the file's name, as it is at the start
  // The text of the last TAG line: a view into its line, copied into
  // currentTagText once per piece rather than once per TAG line.
  TagText tag_;
  std::string_view editing_;  // the line being edited, if any
  Markers editingMarkers_;
};
