// The files of a run committed together, and told in turn.

#include "driver/batch.h"

#include <algorithm>
#include <utility>

#include "driver/platform_files.h"
#include "driver/platform_process.h"

// Each new file of a batch may be named from the start, and covered against
// signals until it is renamed.
static_assert(Batch::kMost + 8 <= SignalCleanup::kMost);

Batch::Item& Batch::enter(const NamedFile& file, bool nameIsAPattern) {
  auto item = std::make_unique<Item>();
  item->file = &file;
  item->nameIsAPattern = nameIsAPattern;
  if (held_) item->lines.hold();
  items_.push_back(std::move(item));
  return *items_.back();
}

bool Batch::replaces(const FileVersion& state) const {
  for (const std::unique_ptr<Item>& item : items_)
    if (item->prepared.out && item->prepared.found.file.sameFile(state))
      return true;
  return false;
}

bool Batch::inAnotherFolder(const std::string& folder) const {
  for (const std::unique_ptr<Item>& item : items_)
    if (item->prepared.out)
      return folderOf(item->prepared.out->target()) != folder;
  return false;
}

std::size_t Batch::mostFor(std::size_t openFiles) {
  constexpr std::size_t kBeside = 24;
  constexpr std::size_t kEach = 3;
  if (openFiles <= kBeside + kEach) return 1;
  return std::min(kMost, (openFiles - kBeside) / kEach);
}

Outcome Batch::failedWith(const FileReport& report, Failure failure,
                          Prepared& prepared, const std::string& path) {
  ReplacementFile* out = prepared.out.get();
  if (out && !out->discard() && !failure.changed())
    failure.leftBehind = out->tempPath();
  prepared.out.reset();
  return report.failed(path, std::move(failure));
}

namespace {

std::size_t unrecordedFiles(const std::vector<Commit>& batch) {
  std::size_t files = 0;
  for (const Commit& commit : batch) files += commit.unrecorded ? 1 : 0;
  return files;
}

}  // namespace

bool Batch::commit(std::vector<Outcome>& outcomes, Item* current,
                   std::optional<Record>* record) {
  // The one being handled stays, to be told after.
  std::unique_ptr<Item> kept;
  if (current && !items_.empty() && items_.back().get() == current) {
    kept = std::move(items_.back());
    items_.pop_back();
    current->lines.stop();
  }
  std::vector<Commit> batch;
  for (const std::unique_ptr<Item>& item : items_)
    if (item->prepared.out)
      batch.push_back({item->prepared.out.get(), item->prepared.found, {}});
  const std::optional<Failure> unrecorded =
      ReplacementFile::commitAll(batch, remembering_, record);
  if (remembering_.failed) report_.memoryNotWritten(*remembering_.failed);
  std::size_t next = 0;
  bool toldRecord = false;
  for (const std::unique_ptr<Item>& item : items_) {
    item->lines.tell();
    Prepared& prepared = item->prepared;
    if (prepared.out) {
      const Commit& committed = batch[next++];
      const std::string& path = item->file->path;
      if (committed.unrecorded) {
        // Told once a batch, whose files it was to hold.
        if (!std::exchange(toldRecord, true))
          report_.recordNotWritten(*unrecorded, folderOf(path),
                                   unrecordedFiles(batch));
        item->outcome = report_.unrecorded(path, *committed.failure);
      } else if (committed.failure) {
        // Another run of hudconv may have been the other program.
        std::optional<Outcome> again;
        if (committed.failure->changed() && again_) {
          prepared.out->discard();
          again = again_(*item->file);
        }
        item->outcome =
            again ? std::move(*again)
                  : failedWith(report_, *committed.failure, prepared, path);
      } else {
        prepared.report->finish(prepared.changes);
        item->outcome = report_.made(path, prepared.changes,
                                     prepared.found.backup, prepared.ruling);
      }
      prepared.out.reset();
    }
    if (item->nameIsAPattern) report_.tookNamedAsPattern(item->outcome->path);
    outcomes.push_back(std::move(*item->outcome));
  }
  items_.clear();
  if (kept) {
    if (held_) kept->lines.hold();
    items_.push_back(std::move(kept));
  }
  return !batch.empty();
}
