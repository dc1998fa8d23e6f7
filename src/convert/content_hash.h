#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// How many bytes a file holds and a 64-bit hash of them: enough to know a
// file again by its bytes alone, where it cannot be compared with another.
struct Digest {
  std::uint64_t size = 0;
  std::uint64_t hash = 0;
  bool operator==(const Digest&) const = default;
};

// Hashes bytes fed to it in pieces of any size, at a fraction of an
// instruction a byte: eight lanes take one 8-byte word each of every 64
// bytes, in a loop the compiler makes vector code of, and are mixed into one
// hash at the end. No step of a lane can lose a difference, so files that
// differ in one 8-byte word always hash differently, and a change is turned
// onto other bits before the next word comes; it tells files changed by
// accident or by hand apart, not one made to collide with another.
class ContentHash {
 public:
  void feed(const char* data, std::size_t size);
  // The digest of everything fed so far.
  Digest digest() const;

 private:
  static constexpr std::size_t kLanes = 8;
  static constexpr std::size_t kStripe = kLanes * 8;

  std::array<std::uint64_t, kLanes> lanes_ = {
      0x9E3779B97F4A7C15u, 0xC2B2AE3D27D4EB4Fu, 0x165667B19E3779F9u,
      0xD6E8FEB86659FD93u, 0xFF51AFD7ED558CCDu, 0xC4CEB9FE1A85EC53u,
      0x27D4EB2F165667C5u, 0x94D049BB133111EBu};
  std::array<unsigned char, kStripe> held_{};  // a stripe begun
  std::size_t heldSize_ = 0;
  std::uint64_t size_ = 0;
};
