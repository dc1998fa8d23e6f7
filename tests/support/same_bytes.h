#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>

// Compares file contents byte for byte. On a mismatch it tells the sizes and
// the first offset where they differ, with a few bytes around it, never the
// whole text: gtest's own diff of two large strings takes memory that grows
// with the product of their sizes.
//   EXPECT_SAME_BYTES(readBytes(path), expected);

// Up to 16 bytes either side of `at`, with everything but printable ASCII
// escaped.
inline std::string bytesAround(const std::string& text, std::size_t at) {
  const std::size_t from = at > 16 ? at - 16 : 0;
  const std::size_t to = std::min(text.size(), at + 16);
  std::string shown = from > 0 ? "..." : "";
  shown += '"';
  for (std::size_t i = from; i < to; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (i == at) shown += "[HERE]";
    if (c == '\\' || c == '"') {
      shown += '\\';
      shown += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      shown += escaped;
    }
  }
  if (at >= to) shown += "[HERE: the end]";
  shown += '"';
  return shown + (to < text.size() ? "..." : "");
}

inline ::testing::AssertionResult SameBytes(const char* actualExpression,
                                            const char* expectedExpression,
                                            const std::string& actual,
                                            const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() &&
         actual[at] == expected[at])
    ++at;
  return ::testing::AssertionFailure()
         << actualExpression << " (" << actual.size() << " bytes) differs from "
         << expectedExpression << " (" << expected.size()
         << " bytes) first at byte " << at << ":\n  actual   "
         << bytesAround(actual, at) << "\n  expected "
         << bytesAround(expected, at);
}

#define EXPECT_SAME_BYTES(actual, expected) \
  EXPECT_PRED_FORMAT2(SameBytes, actual, expected)
#define ASSERT_SAME_BYTES(actual, expected) \
  ASSERT_PRED_FORMAT2(SameBytes, actual, expected)
