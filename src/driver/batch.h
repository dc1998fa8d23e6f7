#pragma once

// The files of a run handled since the last commit, each with what is told
// of it, and the new files of those converted, committed together
// (ReplacementFile::commitAll) so that their folder is flushed twice a
// batch and not twice a file. What is told of each file waits until its
// batch is done, and is then told whole, file by file, in the order named.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/arguments.h"
#include "driver/console.h"
#include "driver/file_report.h"
#include "driver/judgement.h"
#include "driver/outcome.h"
#include "driver/replacement_file.h"

class Batch {
 public:
  // A file converted into its new file, waiting to be committed.
  struct Prepared {
    std::unique_ptr<ReplacementFile> out;
    AsFound found;
    Ruling ruling;
    std::unique_ptr<ChangeReport> report;
    ChangeCounts changes;
  };
  // One file of the batch.
  struct Item {
    const NamedFile* file = nullptr;
    bool nameIsAPattern = false;
    HeldLines lines;
    std::optional<Outcome> outcome;  // ended before its commit
    Prepared prepared;
  };

  // Files in a batch at most: each holds two files open, and its lock.
  static constexpr std::size_t kMost = 100;
  // As many as `openFiles` more open files allow, beside the few a run holds
  // besides (the record, the memory, their locks, a folder, a backup read,
  // the standard streams): at least one.
  static std::size_t mostFor(std::size_t openFiles);

  // Judges a file again once another program changed it during its
  // conversion: what became of it where another run of hudconv converted
  // it meanwhile, and otherwise nothing.
  using JudgeAgain = std::function<std::optional<Outcome>(const NamedFile&)>;

  // What is told of each file is held until its commit where `held`.
  // What is written is remembered in the player's memory in `memory`
  // (none where empty).
  Batch(FileReport& report, bool held, JudgeAgain again, std::string memory)
      : report_(report),
        held_(held),
        again_(std::move(again)),
        remembering_{std::move(memory), std::nullopt, std::nullopt} {}

  // A file to be handled, last in the batch.
  Item& enter(const NamedFile& file, bool nameIsAPattern);
  std::size_t files() const { return items_.size(); }
  // Whether a new file of the batch replaces the file `state` tells of, or
  // the batch replaces files in another folder than `folder`.
  bool replaces(const FileVersion& state) const;
  bool inAnotherFolder(const std::string& folder) const;
  // Commits the new files, tells each file in turn, and hands on what
  // became of each, in order. Returns whether any file was written, which
  // changes its folder's record. The file being handled, `current` where
  // there is one, is told after. `record`, where given, is the record of
  // the batch's folder as the run holds it, and is kept as the commit
  // wrote it (see ReplacementFile::commitAll).
  bool commit(std::vector<Outcome>& outcomes, Item* current = nullptr,
              std::optional<Record>* record = nullptr);

  // What became of a file whose replacement failed with `failure`: its new
  // file is removed, or named where it stays.
  static Outcome failedWith(const FileReport& report, Failure failure,
                            Prepared& prepared, const std::string& path);

 private:
  FileReport& report_;
  bool held_;
  JudgeAgain again_;
  Remembering remembering_;
  std::vector<std::unique_ptr<Item>> items_;
};
