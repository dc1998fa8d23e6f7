#pragma once

#include <array>
#include <cstddef>
#include <memory>

// SHA-256 as each system has it: Windows' own (CNG), elsewhere nettle's,
// linked in. No one can make two files with one digest of it, so what it
// vouches for is what a file holds.
class Sha256 {
 public:
  using Value = std::array<unsigned char, 32>;

  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void feed(const void* data, std::size_t size);
  // The hash of everything fed so far; more may still be fed.
  Value value() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};
