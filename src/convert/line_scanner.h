#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Finds where the lines of a text end and which markers each holds.

// Which of the markers `Label="TAG"`, `Label="LEFT"` and `Label="WIDTH"` a
// line holds.
struct Markers {
  bool tag = false, left = false, width = false;
  bool any() const { return tag || left || width; }
};

// The markers that occur anywhere in `line`.
Markers findMarkers(std::string_view line);

// Notes in `found` the marker that begins at `at`, if one does, reading no
// further than `end`. A marker holds no line feed, so one found before the
// end of a line lies within it.
inline void noteMarkerAt(const char* at, const char* end, Markers& found) {
  // `Label="` and the shortest name, `TAG"`; most `L`s are no `La`.
  const std::size_t left = static_cast<std::size_t>(end - at);
  if (left < 11 || at[1] != 'a' || std::memcmp(at, "Label=\"", 7) != 0) return;
  const char* const name = at + 7;
  if (std::memcmp(name, "TAG\"", 4) == 0)
    found.tag = true;
  else if (left >= 12 && std::memcmp(name, "LEFT\"", 5) == 0)
    found.left = true;
  else if (left >= 13 && std::memcmp(name, "WIDTH\"", 6) == 0)
    found.width = true;
}

// The bytes the scanner looks at in one go.
inline constexpr std::size_t kWindow = 64;

// Bit i tells whether byte i of the 64 at `at` is a line feed or an `L`.
// The bytes are compared in a loop that GCC and clang vectorise (see it with
// -fopt-info-vec, or -Rpass=loop-vectorize for clang); each 8 flags of 0 or
// 1, read as one word, are then gathered into its top byte by one
// multiplication that moves flag k to bit 56 + k, with no two products on
// one bit and no carries. Where flag k lies in the word depends on the byte
// order, and so does the multiplier.
inline std::uint64_t windowMask(const char* at) {
  constexpr std::uint64_t kGather = std::endian::native == std::endian::big
                                        ? 0x8040201008040201u
                                        : 0x0102040810204080u;
  unsigned char flags[kWindow];
  for (std::size_t i = 0; i < kWindow; ++i)
    flags[i] = static_cast<unsigned char>((at[i] == '\n') | (at[i] == 'L'));
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kWindow / 8; ++i) {
    std::uint64_t eight = 0;
    std::memcpy(&eight, flags + 8 * i, 8);
    mask |= ((eight * kGather) >> 56) << (8 * i);
  }
  return mask;
}

// The same for the last bytes of a text, fewer than 64: bits beyond them
// stay clear.
std::uint64_t tailMask(const char* at, std::size_t size);

// Goes through a text line by line, 64 bytes at a time: the set bits of
// their mask are taken lowest first, and each `L` is checked for a marker.
// It stops only at the lines that may change: those that hold a marker, and
// those whose line feed has no carriage return before it, which gain one.
class LineScanner {
 public:
  LineScanner(const char* begin, const char* end)
      : window_(begin), end_(end), lineStart_(begin), next_(begin) {}

  // Goes on to the next line that may change: returns its line feed, or
  // nullptr when the text ends first. `markers` tells which markers it
  // holds.
  const char* next(Markers& markers) {
    Markers found;
    for (;;) {
      while (mask_ == 0) {
        if (loaded_) {
          if (static_cast<std::size_t>(end_ - window_) <= kWindow) {
            lineStart_ = next_;
            markers = found;
            return nullptr;
          }
          window_ += kWindow;
        }
        loaded_ = true;
        const std::size_t left = static_cast<std::size_t>(end_ - window_);
        mask_ = left >= kWindow ? windowMask(window_) : tailMask(window_, left);
      }
      const char* const at = window_ + std::countr_zero(mask_);
      mask_ &= mask_ - 1;
      if (*at != '\n') {
        noteMarkerAt(at, end_, found);
        continue;
      }
      ++lines_;
      const char* const start = next_;
      next_ = at + 1;
      if (found.any() || at == start || at[-1] != '\r') {
        lineStart_ = start;
        markers = found;
        return at;
      }
    }
  }

  // Where the line that next() returned begins; once it has returned
  // nullptr, where the text after the last line feed begins.
  const char* lineStart() const { return lineStart_; }
  // How many line feeds next() has passed.
  std::size_t lines() const { return lines_; }

 private:
  const char* window_;  // the bytes that mask_ is of
  const char* end_;
  const char* lineStart_;
  const char* next_;        // where the line after the last line feed begins
  std::uint64_t mask_ = 0;  // the bits not yet taken
  std::size_t lines_ = 0;
  bool loaded_ = false;
};
