// The digests that know a file again by its bytes.

#include "driver/content_hash.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

constexpr std::size_t kLanes = 8;
constexpr std::size_t kStripe = kLanes * 8;

// Adds each word of `count` stripes at `data` to its lane and turns the lane
// by 23 bits, so that a change moves on to other bits at every stripe and a
// later one cannot cancel it; both steps can be undone, so no difference is
// ever lost.
void addStripes(std::uint64_t* lanes, const unsigned char* data,
                std::size_t count) {
  std::uint64_t local[kLanes];
  std::memcpy(local, lanes, sizeof(local));
  for (std::size_t s = 0; s < count; ++s, data += kStripe) {
    for (std::size_t i = 0; i < kLanes; ++i) {
      std::uint64_t word = 0;
      std::memcpy(&word, data + 8 * i, 8);
      const std::uint64_t sum = local[i] + word;
      local[i] = (sum << 23) | (sum >> 41);
    }
  }
  std::memcpy(lanes, local, sizeof(local));
}

// Spreads every bit of `x` over the whole word.
std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDu;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53u;
  x ^= x >> 33;
  return x;
}

}  // namespace

bool operator==(const Digest& one, const Digest& other) {
  if (one.size != other.size) return false;
  if (one.sha256 && other.sha256) return *one.sha256 == *other.sha256;
  return one.older == other.older;
}

void appendHash(std::string& text, const Digest& digest) {
  if (!digest.sha256) {
    char number[16];
    text.append(
        number,
        std::to_chars(number, number + sizeof(number), digest.older, 16).ptr);
    return;
  }
  constexpr char kHex[] = "0123456789abcdef";
  const std::size_t at = text.size();
  text.resize(at + 2 * digest.sha256->size());
  char* out = text.data() + at;
  for (const unsigned char byte : *digest.sha256) {
    *out++ = kHex[byte >> 4];
    *out++ = kHex[byte & 15];
  }
}

std::string hashText(const Digest& digest) {
  std::string text;
  appendHash(text, digest);
  return text;
}

void ContentHash::feed(const char* data, std::size_t size) {
  sha256_.feed(data, size);
  size_ += size;
  if (!older_) return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  if (heldSize_ > 0) {
    const std::size_t piece = std::min(size, kStripe - heldSize_);
    std::memcpy(held_.data() + heldSize_, bytes, piece);
    heldSize_ += piece;
    bytes += piece;
    size -= piece;
    if (heldSize_ < kStripe) return;
    addStripes(lanes_.data(), held_.data(), 1);
    heldSize_ = 0;
  }
  addStripes(lanes_.data(), bytes, size / kStripe);
  const std::size_t rest = size % kStripe;
  std::memcpy(held_.data(), bytes + size - rest, rest);
  heldSize_ = rest;
}

Digest ContentHash::digest() const {
  if (!older_) return {size_, sha256_.value(), 0};
  std::array<std::uint64_t, kLanes> lanes = lanes_;
  // The last bytes, padded with zeros; the size tells them from the zeros.
  std::array<unsigned char, kStripe> last{};
  std::memcpy(last.data(), held_.data(), heldSize_);
  addStripes(lanes.data(), last.data(), 1);
  std::uint64_t hash = mix(size_ + 0x9E3779B97F4A7C15u);
  for (const std::uint64_t lane : lanes) hash = mix(hash ^ mix(lane)) + lane;
  return {size_, sha256_.value(), hash};
}
