#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
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
  Record& recordIn(const std::string& folder);
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
  std::set<std::string> cleaned_;  // folders whose leftovers are removed
};
