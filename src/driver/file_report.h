#pragma once

// What the player reads of each layout file and of a run, and what became
// of each file for the run's summary. Over more than one file a run is told
// briefly, a line or two of each, unless --verbose; a preview over many
// tells each file in one line, which names it.

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "convert/layout_converter.h"
#include "driver/failure.h"
#include "driver/failure_messages.h"
#include "driver/file_messages.h"
#include "driver/judgement.h"
#include "driver/options.h"
#include "driver/outcome.h"
#include "driver/record.h"

// Tells the player of text that a rewrite cuts, the first few in full, and
// in a preview of every value that would change. A conversion's warnings
// wait until the file is replaced: one that fails has cut nothing.
class ChangeReport final : public ChangeListener {
 public:
  // `listed`: a preview's every value, told as it is found.
  ChangeReport(const std::string& path, bool preview, bool listed)
      : path_(path), preview_(preview), listed_(listed) {}
  void changed(const ValueChange& change) override;
  // Once the file is converted with `changes`: the warnings held, and how
  // many more lines lost text.
  void finish(const ChangeCounts& changes) const;

 private:
  static constexpr std::size_t kToldInFull = 5;
  std::string path_;
  bool preview_;
  bool listed_;
  std::size_t told_ = 0;
  std::vector<std::string> held_;
};

class FileReport {
 public:
  // A run as `options` ask, over `files` files.
  FileReport(const Options& options, std::size_t files);

  // A file's first line: its name.
  void announce(const std::string& path) const;
  // What a decision says of a file, and what became of it: the sentence of
  // a file left as it is, found done, or restored; of one converted, what
  // is told before its conversion.
  // `facts` are those read of the file, which has `backup` (not found as
  // `backupError` tells).
  Outcome told(const Decision& decision, const std::string& path,
               const std::string& backup, const Facts& facts,
               const SystemError& backupError) const;
  // What tells of the values of a file being converted, or previewed.
  ChangeReport changeReport(const std::string& path) const;
  // A preview's end: what would change, in `path` converted as `ruling`.
  Outcome wouldBeMade(const std::string& path, const ChangeCounts& changes,
                      const Ruling& ruling) const;
  // A conversion on disk: what changed, and which backup it kept. Players
  // delete what looks like clutter, and the backups must stay: a run over
  // many files tells why once.
  Outcome made(const std::string& path, const ChangeCounts& changes,
               const std::string& backup, const Ruling& ruling);

  // Files that were not converted, and why.
  Outcome isABackup(const std::string& path, const std::string& argument) const;
  Outcome isARecord(const std::string& path) const;
  // Where the file was missing from the folder it was looked for in, it
  // `mustBeIn` another.
  Outcome cannotOpen(const std::string& path, const SystemError& error,
                     const std::string& mustBeIn) const;
  Outcome badValue(const std::string& path, const BadValue& bad,
                   const std::string& leftBehind) const;
  Outcome failed(const std::string& path, Failure failure) const;
  Outcome cannotRestore(const std::string& path, const Failure& failure) const;
  Outcome cannotPutBack(const std::string& path, const std::string& backup,
                        const SystemError& error) const;

  // The folder's record: not trusted (told once a folder), or not written
  // for `files` files of `folder`, which were left unconverted (told once a
  // batch, by the caller), and what became of each of them.
  void recordRead(const Record& record);
  // Once a run: the player's memory could not be written.
  void memoryNotWritten(const Failure& failure);
  void recordNotWritten(const Failure& failure, const std::string& folder,
                        std::size_t files) const;
  Outcome unrecorded(const std::string& path, Failure failure) const;
  void tookNamedAsPattern(const std::string& path) const;

 private:
  // A line of what became of one file.
  void tell(const std::string& path, const std::string& line) const;

  bool brief_;
  bool preview_;
  bool restore_;
  bool explained_ = false;  // why the backups must stay
  std::set<std::string> ignoredRecords_;
  bool toldMemory_ = false;
};

// The end of a run over several files: how many came to what, a line for
// each not done, and where some are new originals, the command for them.
// `passedOver` backups came along with their files.
void tellSummary(const std::vector<Outcome>& outcomes, std::size_t passedOver,
                 const Options& options);
