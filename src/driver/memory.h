#pragma once

// hudconv's memory in the player's profile: the digest (size and hash) of
// every file it wrote, wherever that lies. The backup beside a file and the
// folder's record are lost with the folder's clutter; the memory is not. A
// file that holds bytes hudconv wrote is already converted, whatever was
// deleted beside it or wherever it was copied or moved, and a backup that
// holds them is never put back. It holds no file's contents, and no names:
// an entry is a digest. It is stored as a record of its own, in the folder
// `hudconv` of the profile's state folder (see profileStateFolder()).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "driver/content_hash.h"
#include "driver/record.h"

// The most digests it keeps: the newest are kept.
inline constexpr std::size_t kMostRemembered = 100000;

// The memory as a run reads it: once, when first asked.
class Memory {
 public:
  // The memory kept in `folder`; none where `folder` is empty.
  explicit Memory(std::string folder) : folder_(std::move(folder)) {}
  // The folder of the memory of the player running hudconv; empty where the
  // system tells no profile.
  static std::string ofThisPlayer();

  const std::string& folder() const { return folder_; }
  // Whether it may know bytes of `size`: where not, no digest need be
  // taken. Whether it knows the bytes of `digest`.
  bool mayKnow(std::uint64_t size);
  bool knows(const Digest& digest);

 private:
  void read();

  std::string folder_;
  std::optional<Record> record_;
  std::unordered_set<std::uint64_t> sizes_;
};

// Puts in the player's memory in `folder` the bytes that the record's
// `entries` say hudconv writes, in two steps as RecordUpdate puts them in
// a folder's record: begin() writes the memory anew beside the old, under
// its lock, and starts its flush; finish() waits for that flush and renames
// it into place, and the lock goes with the update. Nothing is done where
// `folder` is empty or nothing is to be remembered: a file its conversion
// left as it was is not. Each returns what failed.
class MemoryUpdate {
 public:
  // `held`, where given, is the memory as a run last wrote it, and is
  // what it writes now (see RecordUpdate::startFrom).
  std::optional<Failure> begin(const std::string& folder,
                               const std::vector<RecordEntry>& entries,
                               std::optional<Record>* held = nullptr);
  std::optional<Failure> finish();

 private:
  std::optional<RecordUpdate> update_;
};

// Both steps at once.
std::optional<Failure> remember(const std::string& folder,
                                const std::vector<RecordEntry>& entries);
