#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "convert/rule_table.h"

// A value the converter cannot handle, with the 1-based line it stands on.
class ConversionError : public std::runtime_error {
 public:
  ConversionError(std::size_t line, const std::string& reason)
      : std::runtime_error(reason), line_(line) {}
  std::size_t line() const { return line_; }

 private:
  std::size_t line_;
};

// The reason given for a file that holds a NUL byte, which no text layout
// file does: it is UTF-16 text, an image, or damaged.
extern const char* const kNulByteText;

// How many values a conversion rewrote, of each kind, and how many of them
// by a built-in exception.
struct ChangeCounts {
  std::size_t left = 0, width = 0, byException = 0;
};

// Where converted bytes go. A sink reports a failure by throwing.
class ByteSink {
 public:
  virtual void write(const char* data, std::size_t size) = 0;

 protected:
  ~ByteSink() = default;
};

// Collects bytes in memory: the whole converted text, where it is wanted.
class StringSink final : public ByteSink {
 public:
  void write(const char* data, std::size_t size) override {
    text.append(data, size);
  }
  std::string text;
};

// Converts a layout file fed to it in pieces of any size, and hands the
// converted bytes to a sink in blocks. Lines end at a line feed; a carriage
// return directly before it is dropped, and every converted line is followed
// by CR LF, the line break written to disk. A last line without a line break
// is converted too; a file that ends with one gains no empty line. Memory
// stays one block and the longest line, whatever the size of the file.
class LayoutConverter {
 public:
  // The most that is collected before it goes to the sink.
  static constexpr std::size_t kBlockSize = 128 << 10;

  // Starts the conversion of one file (currentTagText starts empty) into
  // `sink`, collecting up to `blockSize` bytes between writes.
  explicit LayoutConverter(ByteSink& sink, std::size_t blockSize = kBlockSize);

  // Throws ConversionError when rewriteLine rejects a line or a line holds a
  // NUL byte, and whatever the sink throws.
  void feed(const char* data, std::size_t size);
  // Converts the last line when it had no line break, and hands over what is
  // still collected. Throws as feed does.
  void finish();

  const ChangeCounts& changes() const { return changes_; }

 private:
  void feedText(const char* data, std::size_t size);
  void emit(const char* data, std::size_t size);
  void emit(std::string_view text) { emit(text.data(), text.size()); }
  void drain();
  // Counts the line and rewrites it into rewritten_; false if unchanged.
  bool rewrite(std::string_view line);
  void convertHeldLine(bool beforeLineFeed);

  ByteSink& sink_;
  std::size_t blockSize_;
  std::unique_ptr<char[]> block_;  // left uninitialised: it is written first
  std::size_t used_ = 0;
  std::string line_;  // a line cut by the end of a piece, until it is whole
  std::string rewritten_;
  std::size_t lineNumber_ = 0;
  ChangeCounts changes_;
  FileRuleLookup rules_;  // of inputFileName, as it is at the start
};
