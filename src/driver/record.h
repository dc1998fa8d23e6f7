#pragma once

// Each folder in which hudconv converts holds a small record of what it
// wrote there: for each file converted, the size and hash of the bytes
// written and of the original kept. The backup beside a file is the first
// guard against moving a control twice; the record is the second, which
// still knows a converted file once its backup is deleted. It is never a
// reason to convert or to restore what the backup would not allow.

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "driver/content_hash.h"
#include "driver/failure.h"
#include "driver/pending_file.h"
#include "driver/platform_process.h"

// The record's name in each folder: hidden, and neither a layout file, a
// backup nor a leftover of a run.
inline constexpr const char* kRecordName = ".hudconv.record";

// Whether a file's bare `name` is that of a record, in any letter case.
bool isRecordName(const std::string& name);

struct RecordEntry {
  std::string name;  // the bare name of the file converted
  Digest written;    // what hudconv wrote
  Digest original;   // the original it kept as the backup
};

class Record {
 public:
  enum class State {
    kNone,        // no record in the folder
    kRead,        // read whole
    kIgnored,     // damaged, cut short, of another version, or unreadable
    kNotTrusted,  // another user's, who may have made it up (see isTrusted)
    kUnreadable,  // there, but this user may not read it (`readError`)
  };
  // Reads the record of `folder`. One that cannot be trusted whole is
  // trusted in no part.
  static Record read(const std::string& folder);

  State state() const { return state_; }
  const SystemError& readError() const { return readError_; }
  const std::string& path() const { return path_; }
  // The entry of the file named `name` (told apart from others as the
  // system tells names apart: see nameAsTheSystemCompares()), or null. The
  // entry is noted as asked for.
  const RecordEntry* find(const std::string& name) const;
  // The names of the entries never asked for since the record was read.
  std::vector<std::string> notAskedFor() const;
  // Puts `entry` in place of the one of its name, or drops that of `name`.
  void put(RecordEntry entry);
  void drop(const std::string& name);
  // Keeps the `most` entries put last, where it holds more.
  void keepNewest(std::size_t most);
  const std::vector<RecordEntry>& entries() const { return entries_; }
  // The record as it is stored.
  std::string text() const;
  // Whether the record of `folder` is still as this one was read or
  // written: read whole, or none, and its file not replaced or changed
  // since. Such a one need not be read again.
  bool isCurrent(const std::string& folder) const;

 private:
  friend class RecordUpdate;  // which tells the version it wrote

  std::string path_;
  State state_ = State::kNone;
  FileVersion version_;  // of the file read or written
  SystemError readError_;
  std::vector<RecordEntry> entries_;
  // Where each name's entry is, by nameAsTheSystemCompares(): a folder of
  // thousands of files is looked up once a file.
  std::unordered_map<std::string, std::size_t> index_;
  mutable std::vector<bool> asked_;  // by entry
};

// The update of a folder's record in two steps, so that its flush waits
// for the disk together with those of the files it tells of. begin() locks
// the folder, reads the record, writes it anew beside it with `entries`,
// without the entries of the names `dropped` (telling `before`, where
// given, the entry that each of `entries` replaced, if any), and starts its
// flush; finish(), after a begin() that did not fail, waits for that flush,
// locks the new record too and renames it over the old. The folder stays
// locked (by its record: see FileLock::lockRecord) until the update is
// gone; an empty record made to be locked is removed then unless a record
// took its place. Each returns what failed.
class RecordUpdate {
 public:
  RecordUpdate();
  ~RecordUpdate();
  RecordUpdate(const RecordUpdate&) = delete;
  RecordUpdate& operator=(const RecordUpdate&) = delete;

  // At most `most` entries are kept, the newest. A record is readable by
  // whoever may write the folder's files, unless it is `private`. One that
  // this user may not read is never written over: that fails.
  std::optional<Failure> begin(
      const std::string& folder, const std::vector<RecordEntry>& entries,
      const std::vector<std::string>& dropped = {},
      std::vector<std::optional<RecordEntry>>* before = nullptr,
      std::size_t most = SIZE_MAX, bool isPrivate = false);
  // Before begin(): the record as the run holds it, read or written by it
  // before, is taken in place of reading it again where it is current
  // (see Record::isCurrent), and `held` is the record as written once
  // finished, or none where the update failed. A record of thousands of
  // files is read once a run, not once a batch.
  void startFrom(std::optional<Record>& held) { held_record_ = &held; }
  std::optional<Failure> finish();
  // Once finished: puts `entries` in the record in place, and drops the
  // entries of `dropped`, under the same lock, in one more write.
  std::optional<Failure> amend(const std::vector<RecordEntry>& entries,
                               const std::vector<std::string>& dropped);

 private:
  std::string folder_;
  FileLock held_;
  std::optional<Record>* held_record_ = nullptr;
  std::optional<Record> record_;  // as written
  std::unique_ptr<PendingFile> next_;
  std::future<SystemError> flushing_;
  bool private_ = false;
  bool replaced_ = false;  // a record renamed into place

  // Names `next` and renames it over the record at `path`, held. Throws
  // FileError.
  void replace(PendingFile& next, const std::string& path);
};

// Puts `entries` in the record of `folder`, crash-safely: under the folder's
// lock, the record is read again, written anew beside it, flushed and
// renamed over it, once for all of them. A crash leaves the old record or
// the new (whose name the folder's flush makes last). The names `dropped`
// lose their entries; `before`, where given, is told the entry that each of
// `entries` replaced, if any. Returns what failed.
std::optional<Failure> updateRecord(
    const std::string& folder, const std::vector<RecordEntry>& entries,
    const std::vector<std::string>& dropped = {},
    std::vector<std::optional<RecordEntry>>* before = nullptr,
    std::size_t most = SIZE_MAX, bool isPrivate = false);

// The record's text for `entries`, and the entries of a record's `text`,
// false where it cannot be trusted whole.
std::string recordText(const std::vector<RecordEntry>& entries);
bool parseRecord(const std::string& text, std::vector<RecordEntry>& entries);
