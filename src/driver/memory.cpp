// The player's memory of what hudconv wrote: read once, looked up by
// digest.

#include "driver/memory.h"

#include <charconv>

#include "driver/platform_files.h"
#include "driver/platform_process.h"

namespace {

// The entry's name in the memory's record: its written digest, which is
// what the memory is looked up by; its SHA-256, or for an entry of an
// earlier version, the older hash.
std::string keyOf(const Digest& digest) {
  return std::to_string(digest.size) + '-' + hashText(digest);
}

// The same bytes as an earlier version remembered them.
Digest olderOf(const Digest& digest) {
  Digest older = digest;
  older.sha256.reset();
  return older;
}

}  // namespace

std::string Memory::ofThisPlayer() {
  const std::string state = profileStateFolder();
  return state.empty() ? state : pathIn(state, "hudconv");
}

bool Memory::mayKnow(std::uint64_t size) {
  if (folder_.empty()) return false;
  if (!record_) read();
  return sizes_.contains(size);
}

bool Memory::knows(const Digest& digest) {
  if (!mayKnow(digest.size)) return false;
  const RecordEntry* entry = record_->find(keyOf(digest));
  if (entry == nullptr && digest.sha256)
    entry = record_->find(keyOf(olderOf(digest)));
  return entry != nullptr && entry->written == digest;
}

void Memory::read() {
  // One that cannot be trusted whole knows nothing; the backups and the
  // folders' records still guard.
  record_ = Record::read(folder_);
  if (record_->state() != Record::State::kRead) record_ = Record();
  for (const RecordEntry& entry : record_->entries())
    sizes_.insert(entry.written.size);
}

namespace {

// What the memory keeps of the record's `entries`: their written digests,
// where they are not their originals'. A file that its conversion left as
// it was moves nothing when converted again: its original is not taken for
// what hudconv wrote.
std::vector<RecordEntry> rememberedOf(const std::vector<RecordEntry>& entries) {
  std::vector<RecordEntry> remembered;
  remembered.reserve(entries.size());
  for (const RecordEntry& entry : entries)
    if (entry.written != entry.original)
      remembered.push_back(
          {keyOf(entry.written), entry.written, entry.written});
  return remembered;
}

// Makes the memory's folder, and those it is in, where they are missing.
void makeMemoryFolder(const std::string& folder) {
  if (isFolder(folder)) return;
  // Each folder on the way, from the top: one that is there stays.
  for (std::size_t at = folder.find_first_of("/\\", 1); at != std::string::npos;
       at = folder.find_first_of("/\\", at + 1))
    createFolder(folder.substr(0, at));
  createFolder(folder);
}

}  // namespace

std::optional<Failure> MemoryUpdate::begin(
    const std::string& folder, const std::vector<RecordEntry>& entries,
    std::optional<Record>* held) {
  const std::vector<RecordEntry> remembered = rememberedOf(entries);
  if (folder.empty() || remembered.empty()) return std::nullopt;
  makeMemoryFolder(folder);
  update_.emplace();
  if (held) update_->startFrom(*held);
  std::optional<Failure> failed =
      update_->begin(folder, remembered, {}, nullptr, kMostRemembered, true);
  if (failed) update_.reset();
  return failed;
}

std::optional<Failure> MemoryUpdate::finish() {
  if (!update_) return std::nullopt;
  std::optional<Failure> failed = update_->finish();
  update_.reset();
  return failed;
}

std::optional<Failure> remember(const std::string& folder,
                                const std::vector<RecordEntry>& entries) {
  MemoryUpdate update;
  if (std::optional<Failure> failed = update.begin(folder, entries))
    return failed;
  return update.finish();
}
