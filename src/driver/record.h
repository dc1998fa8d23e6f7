#pragma once

// Each folder in which hudconv converts holds a small record of what it
// wrote there: for each file converted, the size and hash of the bytes
// written and of the original kept. The backup beside a file is the first
// guard against moving a control twice; the record is the second, which
// still knows a converted file once its backup is deleted. It is never a
// reason to convert or to restore what the backup would not allow.

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
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
  // Which entries a run keeps, by the name of the file: those it may ask
  // for. Where it is empty, all are kept.
  using Wanted = std::function<bool(std::string_view name)>;
  // Reads the record of `folder`, streaming, keeping the entries `wanted`.
  // One that cannot be trusted whole is trusted in no part; only the last
  // addition to it, where it was cut short, is not part of it.
  static Record read(const std::string& folder, Wanted wanted = {});

  State state() const { return state_; }
  const SystemError& readError() const { return readError_; }
  const std::string& path() const { return path_; }
  // The entry of the file named `name` (told apart from others as the
  // system tells names apart: see nameAsTheSystemCompares()), or null. The
  // entry is noted as asked for. A name whose entry was passed over as not
  // wanted has the record read again, whole.
  const RecordEntry* find(const std::string& name);
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

  class Reader;  // of a record's text, a line at a time

 private:
  friend class RecordUpdate;  // which adds to it, or writes it anew

  // Whether the record is current (see isCurrent) once it has read what
  // was added to its file since: its file is the same, and grew by whole
  // additions.
  bool catchUp(const std::string& folder);

  std::string path_;
  State state_ = State::kNone;
  FileVersion version_;  // of the file read or written
  SystemError readError_;
  Wanted wanted_;
  // How the file is laid out: its version; the bytes of its first part,
  // written whole, and of all its whole parts, each sealed by an end line,
  // the last of which is `lastEnd_`; and the entry lines in them.
  int format_ = 0;
  std::uint64_t baseEnd_ = 0, end_ = 0;
  std::string lastEnd_;
  std::size_t lines_ = 0;
  std::vector<RecordEntry> entries_;
  // Where each name's entry is, by nameAsTheSystemCompares(): a folder of
  // thousands of files is looked up once a file.
  std::unordered_map<std::string, std::size_t> index_;
  std::vector<bool> asked_;  // by entry
  // The hashes of the names, as the system compares them, of the entries
  // not wanted: a name asked for that may be one is read whole.
  std::unordered_set<std::size_t> passedOver_;
};

// The update of a folder's record in two steps, so that its flush waits
// for the disk together with those of the files it tells of. begin() locks
// the folder, reads the record (or what was added to it since it was held),
// adds to it `entries` and the drops of the entries of the names `dropped`
// (telling `before`, where given, the entry that each of `entries`
// replaced, if any), and starts its flush; finish(), after a begin() that
// did not fail, waits for that flush. The record grows by what is added,
// sealed, in place; where what was added since it was last written whole
// outgrows it, or it cannot be added to, it is written anew beside the old
// instead, and finish() locks the new record too and renames it over the
// old. An addition that fails is cut off again. The folder stays
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
  std::optional<Record> record_;       // as written
  std::unique_ptr<PendingFile> next_;  // the record written anew
  SystemFile added_;                   // or the record added to
  std::string chunk_;                  // what was added
  std::future<SystemError> flushing_;
  std::size_t most_ = SIZE_MAX;
  std::size_t lines_ = 0;  // the entry lines written
  bool private_ = false;
  bool replaced_ = false;  // a record renamed into place

  // The record of `folder` as it is, to be changed: `held` where that is
  // current, or once it has read what was added since. One this user may
  // not read is not to be written over. Throws FileError.
  static Record recordToChange(const std::string& folder,
                               std::optional<Record>* held = nullptr);
  // Writes record_ with `entries` put and `dropped` dropped, added to or
  // anew, and starts its flush. Throws FileError.
  void write(const std::vector<RecordEntry>& entries,
             const std::vector<std::string>& dropped,
             std::vector<std::optional<RecordEntry>>* before);
  // Waits for that flush, and puts what was written in place. Throws
  // FileError.
  void complete();
  // Cuts off an addition that failed.
  void cutOff();
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

// The record's text for `entries`, written whole, and the entries of a
// record's `text`, false where it cannot be trusted whole.
std::string recordText(const std::vector<RecordEntry>& entries);
bool parseRecord(const std::string& text, std::vector<RecordEntry>& entries);
