// The record of what hudconv wrote in a folder: read, trusted whole or not
// at all, and replaced in one rename.

#include "driver/record.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include "convert/rule_table.h"
#include "driver/file_steps.h"
#include "driver/flusher.h"
#include "driver/pending_file.h"
#include "driver/platform_files.h"
#include "driver/platform_process.h"

namespace {

// A record is written whole, and grows by additions, each sealed by an end
// line that vouches for it and for the line before it (the head, or the end
// line of the addition before): a record cut short or changed by hand is
// not taken for a whole one, and an addition cut short by a crash is not
// taken at all.
constexpr int kVersion = 4;
constexpr std::string_view kHead = "hudconv record 4\n";
// The versions before, still read, each one part sealed once: the third
// held SHA-256 hashes; the second and first the older hash, and the first
// its names as they are.
constexpr std::string_view kHeads[] = {
    "hudconv record 1\n", "hudconv record 2\n", "hudconv record 3\n", kHead};
constexpr std::string_view kEnd = "end ";
constexpr std::string_view kDrop = "drop ";
// No record comes near this: a folder's, nor the player's memory of
// kMostRemembered files, grown by additions to twice its size.
constexpr std::uint64_t kLargest = std::uint64_t{64} << 20;
constexpr std::size_t kLongestLine = std::size_t{1} << 16;
// What may be added to a record before it is written whole again: as much
// as it held then, or this much.
constexpr std::uint64_t kLeastAdded = std::uint64_t{64} << 10;
constexpr std::size_t kShaDigits = 2 * std::tuple_size_v<Sha256::Value>;

void appendNumber(std::string& text, std::uint64_t number, int base) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof(digits), number, base);
  text.append(digits, end.ptr);
}

// Reads a number and the one space behind it from the front of `text`.
bool takeNumber(std::string_view& text, std::uint64_t& number, int base) {
  const auto read =
      std::from_chars(text.data(), text.data() + text.size(), number, base);
  if (read.ec != std::errc() || read.ptr == text.data() ||
      read.ptr == text.data() + text.size() || *read.ptr != ' ')
    return false;
  text.remove_prefix(static_cast<std::size_t>(read.ptr - text.data()) + 1);
  return true;
}

// Reads what appendHash() wrote and the space behind it; a SHA-256 only
// where `secure`, the older hash only where not or in an entry carried over.
bool takeHash(std::string_view& text, Digest& digest, bool secure) {
  const std::size_t space = text.find(' ');
  if (space == std::string_view::npos) return false;
  if (!secure || space != kShaDigits) return takeNumber(text, digest.older, 16);
  // As appendHash() writes it: lowercase.
  const auto nibble = [](char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
  };
  Sha256::Value value;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const int high = nibble(text[2 * i]);
    const int low = nibble(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    value[i] = static_cast<unsigned char>(high << 4 | low);
  }
  digest.sha256 = value;
  text.remove_prefix(space + 1);
  return true;
}

// What an end line vouches with: the SHA-256 of what `hash` was fed, or
// in the versions before the third, the older hash.
std::string sealOf(const ContentHash& hash, bool secure) {
  Digest digest = hash.digest();
  if (!secure) digest.sha256.reset();
  return hashText(digest);
}

ContentHash::For sealedFor(bool secure) {
  return secure ? ContentHash::For::kNewEntry : ContentHash::For::kAnyEntry;
}

// A name on its line: a line break and the `%` that marks what stands for
// one, as `%` and two hex digits.
void appendName(std::string& text, std::string_view name) {
  for (const char c : name) {
    if (c == '%' || c == '\n' || c == '\r') {
      constexpr char kHex[] = "0123456789ABCDEF";
      text += '%';
      text += kHex[static_cast<unsigned char>(c) >> 4];
      text += kHex[static_cast<unsigned char>(c) & 15];
    } else {
      text += c;
    }
  }
}

// The name that appendName() wrote, or none where it could not have.
std::optional<std::string> nameOf(std::string_view line) {
  std::string name;
  name.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '%') {
      name += line[i];
      continue;
    }
    unsigned value = 0;
    const char* const start = line.data() + i + 1;
    if (i + 2 >= line.size() ||
        std::from_chars(start, start + 2, value, 16).ptr != start + 2)
      return std::nullopt;
    name += static_cast<char>(value);
    i += 2;
  }
  return name;
}

}  // namespace

bool isRecordName(const std::string& name) {
  return sameFileName(name, kRecordName);
}

namespace {

void appendEntry(std::string& text, const RecordEntry& entry) {
  for (const Digest* digest : {&entry.written, &entry.original}) {
    appendNumber(text, digest->size, 10);
    text += ' ';
    appendHash(text, *digest);
    text += ' ';
  }
  appendName(text, entry.name);
  text += '\n';
}

// The lines that put `entries` and drop the entries of `dropped`, sealed by
// an end line that vouches for them and for the line `before` them.
std::string sealedLines(std::string_view before,
                        const std::vector<RecordEntry>& entries,
                        const std::vector<std::string>& dropped = {}) {
  std::string text;
  // Two hashes, two sizes and a name a line.
  text.reserve((entries.size() + 1) * (2 * kShaDigits + 64));
  for (const RecordEntry& entry : entries) appendEntry(text, entry);
  for (const std::string& name : dropped) {
    text += kDrop;
    appendName(text, name);
    text += '\n';
  }
  ContentHash hash(sealedFor(true));
  hash.feed(before.data(), before.size());
  hash.feed(text.data(), text.size());
  text += kEnd;
  text += sealOf(hash, true);
  text += '\n';
  return text;
}

}  // namespace

std::string recordText(const std::vector<RecordEntry>& entries) {
  return std::string(kHead) + sealedLines(kHead, entries);
}

// Takes a record's lines one by one into `record_`, from the head on or
// from the end line of its last whole part on: the entries of each part
// only once its end line vouches for them.
class Record::Reader {
 public:
  Reader(Record& record, std::uint64_t at)
      : record_(record), offset_(at), fromHead_(at == 0) {}

  // A whole line, with its line feed; false where the record cannot be
  // trusted.
  bool take(std::string_view line) {
    offset_ += line.size();
    if (!hash_) return open(line);
    if (ended_) return false;
    if (line.starts_with(kEnd)) return seal(line);
    hash_->feed(line.data(), line.size());
    // An addition cut short may end in anything; a line vouched for may not.
    if (!stage(line.substr(0, line.size() - 1))) {
      if (record_.format_ < kVersion) return false;
      broken_ = true;
    }
    return true;
  }
  // What stood behind the last whole line, at the end: whether the record
  // can be trusted. What follows its last whole part is an addition cut
  // short by a crash, or being written now, and is not part of it.
  bool finish(std::string_view rest) const {
    if (!hash_) return false;
    if (record_.format_ < kVersion) return ended_ && rest.empty();
    return record_.end_ > 0;
  }

 private:
  struct Change {
    bool drop = false;
    RecordEntry entry;
  };

  bool open(std::string_view line) {
    if (!fromHead_) {
      if (line != record_.lastEnd_) return false;
    } else {
      const auto* head = std::find(std::begin(kHeads), std::end(kHeads), line);
      if (head == std::end(kHeads)) return false;
      record_.format_ = static_cast<int>(head - std::begin(kHeads)) + 1;
    }
    startPart(line);
    return true;
  }

  void startPart(std::string_view before) {
    hash_.emplace(sealedFor(secure()));
    hash_->feed(before.data(), before.size());
    staged_.clear();
    broken_ = false;
  }

  bool secure() const { return record_.format_ >= 3; }

  bool seal(std::string_view line) {
    const std::string_view seal =
        line.substr(kEnd.size(), line.size() - kEnd.size() - 1);
    if (broken_ || seal != sealOf(*hash_, secure())) return false;
    for (Change& change : staged_) {
      if (change.drop)
        record_.drop(change.entry.name);
      else
        record_.put(std::move(change.entry));
    }
    record_.end_ = offset_;
    if (record_.baseEnd_ == 0) record_.baseEnd_ = offset_;
    record_.lastEnd_ = line;
    if (record_.format_ < kVersion)
      ended_ = true;
    else
      startPart(line);
    return true;
  }

  // Reads an entry's line, or a drop's, and stages it where it is wanted.
  bool stage(std::string_view line) {
    Change change;
    std::string_view fields;
    if (record_.format_ == kVersion && line.starts_with(kDrop)) {
      change.drop = true;
      line.remove_prefix(kDrop.size());
    } else {
      // The name stands behind two sizes and two hashes.
      std::size_t at = 0;
      for (int field = 0; field < 4; ++field) {
        at = line.find(' ', at);
        if (at == std::string_view::npos) return false;
        ++at;
      }
      fields = line.substr(0, at);
      line.remove_prefix(at);
      ++record_.lines_;
    }
    if (line.empty()) return false;
    // Most lines are of files not wanted: their names are not copied.
    std::optional<std::string> decoded;
    std::string_view name = line;
    if (record_.format_ != 1 && line.find('%') != std::string_view::npos) {
      decoded = nameOf(line);
      if (!decoded) return false;
      name = *decoded;
    }
    if (record_.wanted_ && !record_.wanted_(name)) {
      record_.passedOver_.insert(hashOfName(name));
      return true;
    }
    change.entry.name = decoded ? std::move(*decoded) : std::string(name);
    RecordEntry& entry = change.entry;
    if (!change.drop &&
        (!takeNumber(fields, entry.written.size, 10) ||
         !takeHash(fields, entry.written, secure()) ||
         !takeNumber(fields, entry.original.size, 10) ||
         !takeHash(fields, entry.original, secure()) || !fields.empty()))
      return false;
    staged_.push_back(std::move(change));
    return true;
  }

  Record& record_;
  std::uint64_t offset_;  // of the end of the last line taken
  bool fromHead_;
  std::optional<ContentHash> hash_;  // of the part being read
  std::vector<Change> staged_;       // its changes
  bool broken_ = false;              // a line of it could not be read
  bool ended_ = false;  // the one end line of an earlier version read
};

namespace {

// Hands each line of `text` to `reader`, and what follows the last.
bool readLines(std::string_view text, Record::Reader& reader) {
  for (std::size_t lineEnd = text.find('\n'); lineEnd != std::string_view::npos;
       lineEnd = text.find('\n')) {
    if (!reader.take(text.substr(0, lineEnd + 1))) return false;
    text.remove_prefix(lineEnd + 1);
  }
  return reader.finish(text);
}

// Hands each line of `file`, from where it is read on, to `reader`, block
// by block: only a line that two blocks share is copied. Throws FileError.
bool readLines(const SystemFile& file, const std::string& path,
               std::uint64_t size, Record::Reader& reader) {
  std::string shared;
  bool trusted = true;
  readBlocks(
      file, path, blockSizeFor(size), [&](const char* data, std::size_t got) {
        std::string_view block(data, got);
        while (trusted && !block.empty()) {
          const std::size_t lineEnd = block.find('\n');
          const std::size_t taken =
              lineEnd == std::string_view::npos ? block.size() : lineEnd + 1;
          if (shared.empty() && lineEnd != std::string_view::npos) {
            trusted = reader.take(block.substr(0, taken));
          } else {
            shared.append(block.data(), taken);
            trusted = shared.size() <= kLongestLine;
            if (trusted && lineEnd != std::string_view::npos) {
              trusted = reader.take(shared);
              shared.clear();
            }
          }
          block.remove_prefix(taken);
        }
      });
  return trusted && reader.finish(shared);
}

}  // namespace

bool parseRecord(const std::string& text, std::vector<RecordEntry>& entries) {
  entries.clear();
  Record record;
  Record::Reader reader(record, 0);
  if (!readLines(text, reader)) return false;
  entries = record.entries();
  return true;
}

Record Record::read(const std::string& folder, Wanted wanted) {
  Record record;
  record.path_ = pathIn(folder, kRecordName);
  SystemFile file;
  FileVersion version;
  const SystemError error =
      openForReading(record.path_, file, version, Links::kRefuse);
  // An empty one is held by a run that is writing the first.
  if (error.isNotFound() || (!error && version.size == 0)) return record;
  if (error.isAccessDenied()) {
    record.state_ = State::kUnreadable;
    record.readError_ = error;
    return record;
  }
  if (!error && !isTrusted(file, folder)) {
    record.state_ = State::kNotTrusted;
    return record;
  }
  record.state_ = State::kIgnored;
  if (error || version.size > kLargest) return record;
  Record read;
  read.path_ = record.path_;
  read.wanted_ = std::move(wanted);
  try {
    Reader reader(read, 0);
    if (!readLines(file, read.path_, version.size, reader)) return record;
  } catch (const FileError&) {
    return record;
  }
  read.state_ = State::kRead;
  read.version_ = version;
  read.asked_.clear();
  return read;
}

bool Record::catchUp(const std::string& folder) {
  if (isCurrent(folder)) return true;
  if (state_ != State::kRead || format_ != kVersion) return false;
  SystemFile file;
  FileVersion now;
  const std::uint64_t from = end_ - lastEnd_.size();
  if (openForReading(path_, file, now, Links::kRefuse) ||
      !now.sameFile(version_) || now.size < end_ || now.size > kLargest ||
      rewindFile(file, from))
    return false;
  try {
    Reader reader(*this, from);
    if (!readLines(file, path_, now.size - from, reader)) return false;
  } catch (const FileError&) {
    return false;
  }
  version_ = now;
  return true;
}

bool Record::isCurrent(const std::string& folder) const {
  if (path_ != pathIn(folder, kRecordName)) return false;
  FileVersion now;
  const SystemError error = readVersion(path_, now, Links::kRefuse);
  if (state_ == State::kNone)
    return error.isNotFound() || (!error && now.size == 0);
  return state_ == State::kRead && !error && now == version_;
}

const RecordEntry* Record::find(const std::string& name) {
  const std::string key = nameAsTheSystemCompares(name);
  auto found = index_.find(key);
  if (found == index_.end() && state_ == State::kRead &&
      passedOver_.contains(hashOfName(name))) {
    // Read whole, the entries asked for so far asked for still.
    Record whole = read(folderOf(path_));
    if (whole.state_ == State::kRead) {
      for (std::size_t i = 0; i < asked_.size(); ++i)
        if (asked_[i]) (void)whole.find(entries_[i].name);
      *this = std::move(whole);
    }
    passedOver_.clear();
    found = index_.find(key);
  }
  if (found == index_.end()) return nullptr;
  asked_.resize(entries_.size());
  asked_[found->second] = true;
  return &entries_[found->second];
}

std::vector<std::string> Record::notAskedFor() const {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (i >= asked_.size() || !asked_[i]) names.push_back(entries_[i].name);
  return names;
}

void Record::put(RecordEntry entry) {
  if (entry.name.empty()) return;
  const auto [at, isNew] =
      index_.emplace(nameAsTheSystemCompares(entry.name), entries_.size());
  if (isNew)
    entries_.push_back(std::move(entry));
  else
    entries_[at->second] = std::move(entry);
  // A file the run put in is one it handled.
  asked_.resize(entries_.size());
  asked_[at->second] = true;
}

void Record::drop(const std::string& name) {
  const auto found = index_.find(nameAsTheSystemCompares(name));
  if (found == index_.end()) return;
  const std::size_t at = found->second;
  asked_.clear();
  index_.erase(found);
  if (at + 1 != entries_.size()) {
    entries_[at] = std::move(entries_.back());
    index_[nameAsTheSystemCompares(entries_[at].name)] = at;
  }
  entries_.pop_back();
}

void Record::keepNewest(std::size_t most) {
  if (entries_.size() <= most) return;
  asked_.clear();
  entries_.erase(
      entries_.begin(),
      entries_.begin() + static_cast<std::ptrdiff_t>(entries_.size() - most));
  index_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i)
    index_[nameAsTheSystemCompares(entries_[i].name)] = i;
}

std::string Record::text() const { return recordText(entries_); }

namespace {

// `record` with `entries` put in it and the names `dropped` dropped;
// `before`, where given, told what each of `entries` replaced.
void change(Record& record, const std::vector<RecordEntry>& entries,
            const std::vector<std::string>& dropped,
            std::vector<std::optional<RecordEntry>>* before) {
  for (const RecordEntry& entry : entries) {
    if (before) {
      const RecordEntry* was = record.find(entry.name);
      before->push_back(was ? std::optional<RecordEntry>(*was) : std::nullopt);
    }
    record.put(entry);
  }
  for (const std::string& name : dropped) record.drop(name);
}

// The text of `record`, written in a new hidden file of `folder` beside it.
// Throws FileError.
std::unique_ptr<PendingFile> writtenBeside(const std::string& folder,
                                           const std::string& text,
                                           bool isPrivate) {
  auto next = std::make_unique<PendingFile>(folder);
  next->check(writeAll(next->file(), text.data(), text.size()), Step::kWrite);
  next->check(hideFile(next->file()), Step::kSetPermissions);
  if (!isPrivate)
    next->check(shareWithFolder(next->file(), folder), Step::kSetPermissions);
  return next;
}

}  // namespace

// The record of `folder` as it is, to be changed: `held` where that is
// current, or once it has read what was added since. One this user may not
// read is not to be written over. Throws FileError.
Record RecordUpdate::recordToChange(const std::string& folder,
                                    std::optional<Record>* held) {
  Record::Wanted wanted;
  if (held && *held && (*held)->path() == pathIn(folder, kRecordName)) {
    std::optional<Record> taken = std::exchange(*held, std::nullopt);
    if (taken->catchUp(folder)) return std::move(*taken);
    wanted = taken->wanted_;
  }
  Record record = Record::read(folder, std::move(wanted));
  if (record.state() == Record::State::kUnreadable)
    check(record.readError(), Step::kRead, record.path());
  return record;
}

RecordUpdate::RecordUpdate() = default;
RecordUpdate::~RecordUpdate() {
  // A flush still going writes to the file that is removed.
  if (flushing_.valid()) flushing_.wait();
  cutOff();
  if (!replaced_) held_.removeMadeRecord();
}

void RecordUpdate::replace(PendingFile& next, const std::string& path) {
  // Held before it has the record's name, so that no other run takes the
  // record between the rename and the end of this update.
  if (const SystemError error = held_.holdAlso(next.file()))
    throw FileError(failureOf(Failure::Kind::kLock, folder_, "", error));
  next.nameAndClose();
  next.check(next.renameOver(path), Step::kRename);
  replaced_ = true;
}

void RecordUpdate::write(const std::vector<RecordEntry>& entries,
                         const std::vector<std::string>& dropped,
                         std::vector<std::optional<RecordEntry>>* before) {
  Record& record = *record_;
  // Added to in place: a whole record of this version, not grown past
  // what it held when last written whole, nor to twice the most entries it
  // keeps (written whole, it keeps the newest), in a file of one name
  // (another name of it is no record's), as it was read.
  if (record.state() == Record::State::kRead && record.format_ == kVersion &&
      record.lines_ + entries.size() <=
          most_ + std::min(most_, SIZE_MAX - most_)) {
    std::string chunk = sealedLines(record.lastEnd_, entries, dropped);
    FileVersion now;
    if (record.end_ - record.baseEnd_ + chunk.size() <=
            std::max(record.baseEnd_, kLeastAdded) &&
        !openForAppending(record.path(), added_, now) &&
        now == record.version_ && now.names == 1) {
      change(record, entries, dropped, before);
      chunk_ = std::move(chunk);
      lines_ = entries.size();
      if (const SystemError error =
              writeAt(added_, record.end_, chunk_.data(), chunk_.size())) {
        cutOff();
        check(error, Step::kWrite, record.path());
      }
      flushing_ = Flusher::shared().flush(added_);
      return;
    }
    added_ = SystemFile();
  }
  // Written whole: every entry, not those a run wanted alone.
  if (record.wanted_) record = recordToChange(folder_);
  change(record, entries, dropped, before);
  record.keepNewest(most_);
  const std::string text = record.text();
  chunk_ = text;
  lines_ = record.entries().size();
  next_ = writtenBeside(folder_, text, private_);
  // On disk before any file it tells of is renamed; it waits for the disk
  // together with theirs.
  flushing_ = Flusher::shared().flush(next_->file());
}

void RecordUpdate::complete() {
  Record& record = *record_;
  if (added_.isOpen()) {
    if (const SystemError error = flushing_.get()) {
      cutOff();
      check(error, Step::kFlush, record.path());
    }
    record.end_ += chunk_.size();
    record.lines_ += lines_;
  } else {
    next_->check(flushing_.get(), Step::kFlush);
    replace(*next_, record.path());
    next_.reset();
    record.format_ = kVersion;
    record.baseEnd_ = record.end_ = chunk_.size();
    record.lines_ = lines_;
    record.wanted_ = nullptr;
  }
  added_ = SystemFile();
  record.lastEnd_ = chunk_.substr(chunk_.rfind('\n', chunk_.size() - 2) + 1);
  chunk_.clear();
  // Under the folder's lock still: the version is of what was written.
  if (readVersion(record.path(), record.version_, Links::kRefuse))
    record.state_ = Record::State::kIgnored;
  else
    record.state_ = Record::State::kRead;
}

void RecordUpdate::cutOff() {
  if (!added_.isOpen() || !record_) return;
  (void)writeAt(added_, record_->end_, nullptr, 0);
  added_ = SystemFile();
}

std::optional<Failure> RecordUpdate::begin(
    const std::string& folder, const std::vector<RecordEntry>& entries,
    const std::vector<std::string>& dropped,
    std::vector<std::optional<RecordEntry>>* before, std::size_t most,
    bool isPrivate) {
  try {
    // Another run that converts in the same folder waits here: neither
    // loses the other's entry.
    const std::string path = pathIn(folder, kRecordName);
    if (const SystemError error = held_.lockRecord(folder, path, !isPrivate))
      throw FileError(failureOf(
          Failure::Kind::kLock,
          error.source() == SystemError::Source::kLockHeld &&
                  error.lockHolder() == SystemError::LockHolder::kReader
              ? path
              : folder,
          "", error));
    folder_ = folder;
    private_ = isPrivate;
    most_ = most;
    // Given back where none is held, or one of this folder.
    if (held_record_ && *held_record_ &&
        (*held_record_)->path() != pathIn(folder, kRecordName))
      held_record_ = nullptr;
    record_ = recordToChange(folder, held_record_);
    write(entries, dropped, before);
    return std::nullopt;
  } catch (const FileError& e) {
    return e.failure();
  }
}

std::optional<Failure> RecordUpdate::finish() {
  try {
    complete();
    if (held_record_ && record_->state() == Record::State::kRead)
      *held_record_ = std::move(record_);
    return std::nullopt;
  } catch (const FileError& e) {
    return e.failure();
  }
}

std::optional<Failure> RecordUpdate::amend(
    const std::vector<RecordEntry>& entries,
    const std::vector<std::string>& dropped) {
  try {
    // Read again: the record held is of before the renames.
    if (held_record_) held_record_->reset();
    record_ = recordToChange(folder_);
    write(entries, dropped, nullptr);
    complete();
    return std::nullopt;
  } catch (const FileError& e) {
    return e.failure();
  }
}

std::optional<Failure> updateRecord(
    const std::string& folder, const std::vector<RecordEntry>& entries,
    const std::vector<std::string>& dropped,
    std::vector<std::optional<RecordEntry>>* before, std::size_t most,
    bool isPrivate) {
  RecordUpdate update;
  if (std::optional<Failure> failed =
          update.begin(folder, entries, dropped, before, most, isPrivate))
    return failed;
  return update.finish();
}
