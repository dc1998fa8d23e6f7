#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "driver/arguments.h"
#include "driver/batch.h"
#include "driver/evidence.h"
#include "driver/file_report.h"
#include "driver/options.h"
#include "driver/outcome.h"
#include "driver/platform_files.h"
#include "driver/record.h"

// Each layout file's story, as the player named it and as it was found:
// converted in place, the original kept as its backup at the first
// conversion, or put back from that backup (`options.restore`). Every step
// is reported on the console. A preview (`options.preview`) does everything
// but write: it tells each value that would change, and what would change
// in all.
//
// A run over many files converts those of one folder in batches (Batch):
// each file is converted into its new file, and the batch is committed
// together. A single file, a preview and a restore go one file at a time.
class LayoutRun {
 public:
  // `home` is the folder of the executable, whose Output folder a missing
  // file belongs in; the run goes over `files` files.
  LayoutRun(const std::string& home, const Options& options, std::size_t files);
  ~LayoutRun();
  LayoutRun(const LayoutRun&) = delete;
  LayoutRun& operator=(const LayoutRun&) = delete;

  // Tells of a file the run will handle: of each folder's record, it reads
  // the entries of those files, and of files gone from the folder.
  void expect(const NamedFile& file);
  // Tells of a folder that was listed to find files: it is not listed
  // again. One that was not is listed for its leftovers meanwhile.
  void listed(std::shared_ptr<const Listing> listing);
  // Converts or restores `file`, named as a pattern where `nameIsAPattern`.
  void handle(const NamedFile& file, bool nameIsAPattern);
  // Commits the last batch, and returns what became of each file, in order.
  std::vector<Outcome> finish();

 private:
  std::optional<Outcome> convertLayoutFile(Batch::Item& item);
  std::optional<Outcome> convert(SystemFile& in, const FileVersion& state,
                                 Batch::Item& item);
  Outcome restore(const NamedFile& file);
  // Commits the batch; the file being handled, `current` where one is, is
  // told after.
  void commitBatch(Batch::Item* current = nullptr);
  // Whether `error` tells that the batch holds as many files open as the
  // process may: committed early, it lets go of them, and the file that
  // met it is tried again. The limit sizes batches (Batch::mostFor), but
  // files the run was started with count against it too.
  bool freesFiles(const SystemError& error) const;
  // The record of `folder`, read once a run and kept as this run writes it.
  // The folder is listed once then, for its leftovers and its gone files.
  Record& recordIn(const std::string& folder);
  // Whether the run may ask the record of recordFolder_ for the entry of
  // the file named `name`: one it was told of, or one whose file and
  // backup are gone from the folder as listed.
  bool wants(std::string_view name) const;
  // Puts in the record the files found converted that it did not know, and
  // drops the entries whose file and backup are both gone.
  void recordUnrecorded();
  // Of the entries of recordFolder_'s record, those that no file handled
  // there asked for, whose file and backup are both gone, where a folder
  // or a pattern was listed: a game update removed them, and no run needs
  // them again.
  std::vector<std::string> goneEntries() const;
  // Converts a file but for the values hudconv wrote in it, judged so by
  // `evidence`.
  std::optional<Outcome> convertAround(Evidence& evidence, Batch::Item& item);
  // What became of `file`, where another run of hudconv converted it while
  // this one did (see Batch::JudgeAgain).
  std::optional<Outcome> judgeAgain(const NamedFile& file);

  std::string home_;
  Options options_;
  bool batched_;
  std::size_t batchSize_;  // files in a batch at most
  FileReport report_;
  Batch batch_;                     // since the last commit
  std::vector<Outcome> outcomes_;   // of the files told
  Batch::Item* current_ = nullptr;  // the one being handled
  Memory memory_;  // the player's, of what hudconv wrote anywhere
  std::optional<Record> record_;
  std::string recordFolder_;
  std::vector<RecordEntry> unrecorded_;  // of recordFolder_'s files
  bool listed_ = false;  // a folder or pattern found files in recordFolder_
  // The names in recordFolder_, where it was listed, and those of the files
  // the run was told of, as the system compares them, hashed.
  std::optional<std::unordered_set<std::size_t>> there_;
  std::unordered_set<std::size_t> expected_;
  std::set<std::string> cleaned_;  // folders whose leftovers are removed
  std::vector<std::shared_ptr<const Listing>> listings_;  // not yet visited
  std::vector<std::thread> cleaners_;  // of folders not listed before
};
