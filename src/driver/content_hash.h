#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "driver/platform_hash.h"

// What knows a file again by its bytes alone, where it cannot be compared
// with another: how many bytes it holds and their SHA-256. An entry that an
// earlier hudconv recorded holds instead the 64-bit hash that version used
// (`older`), which is no proof against a file made to match it; every
// digest of a file carries that hash as well, so such an entry still knows
// its file.
struct Digest {
  std::uint64_t size = 0;
  std::optional<Sha256::Value> sha256;  // none in an earlier entry
  std::uint64_t older = 0;
};

// Whether two digests tell the same bytes: by SHA-256 where both hold it,
// else by the older hash.
bool operator==(const Digest& one, const Digest& other);

// The digest's hash in lowercase hex, put at the end of `text`: its SHA-256
// where it holds one, else the older hash, without leading zeros.
void appendHash(std::string& text, const Digest& digest);
std::string hashText(const Digest& digest);

// Hashes bytes fed to it in pieces of any size.
class ContentHash {
 public:
  // What the digest is for: to be compared with any entry, which takes both
  // hashes, or to be an entry of this version, which takes SHA-256 alone.
  enum class For { kAnyEntry, kNewEntry };
  explicit ContentHash(For use = For::kAnyEntry)
      : older_(use == For::kAnyEntry) {}

  void feed(const char* data, std::size_t size);
  // The digest of everything fed so far.
  Digest digest() const;

 private:
  static constexpr std::size_t kLanes = 8;
  static constexpr std::size_t kStripe = kLanes * 8;

  Sha256 sha256_;
  bool older_;
  // The older hash: eight lanes take one 8-byte word each of every 64
  // bytes, and are mixed into one hash at the end.
  std::array<std::uint64_t, kLanes> lanes_ = {
      0x9E3779B97F4A7C15u, 0xC2B2AE3D27D4EB4Fu, 0x165667B19E3779F9u,
      0xD6E8FEB86659FD93u, 0xFF51AFD7ED558CCDu, 0xC4CEB9FE1A85EC53u,
      0x27D4EB2F165667C5u, 0x94D049BB133111EBu};
  std::array<unsigned char, kStripe> held_{};  // a stripe begun
  std::size_t heldSize_ = 0;
  std::uint64_t size_ = 0;
};
