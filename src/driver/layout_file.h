#pragma once

#include <cstddef>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

// A value the converter cannot handle, with the 1-based line it stands on.
class ConversionError : public std::runtime_error {
 public:
  ConversionError(std::size_t line, const std::string& reason)
      : std::runtime_error(reason), line_(line) {}
  std::size_t line() const { return line_; }

 private:
  std::size_t line_;
};

// Converts a layout file fed to it in pieces of any size. Lines end at a line
// feed; a carriage return directly before it is dropped. Every converted line
// is stored followed by CR LF, the line break written to disk, so the buffer
// already holds the file's new bytes. A last line without a line break is
// converted too; a file that ends with one gains no empty line.
class LayoutConverter {
 public:
  // The size of the pieces convertStream reads.
  static constexpr std::size_t kBlockSize = 1 << 20;

  // Sets aside room for the converted text of a file of `inputBytes` bytes,
  // so that it is not moved while it grows.
  void reserve(std::size_t inputBytes);
  // Throws ConversionError when rewriteLine rejects a line.
  void feed(const char* data, std::size_t size);
  // Converts the last line when it had no line break. Throws as feed does.
  void finish();
  const std::string& convertedText() const { return convertedText_; }

 private:
  // Makes sure `outputBytes` more fit without moving the text.
  void makeRoom(std::size_t outputBytes);
  // Counts the line and rewrites it into rewritten_; false if unchanged.
  bool rewrite(std::string_view line);
  void convertHeldLine(bool beforeLineFeed);

  std::string line_;  // a line cut by the end of a piece, until it is whole
  std::string rewritten_;
  std::string convertedText_;
  std::size_t lineNumber_ = 0;
};

// Feeds the whole stream to `converter` and finishes it. Returns false on a
// read error (errno tells which); throws as LayoutConverter does.
bool convertStream(std::FILE* in, LayoutConverter& converter);
