// The record of what hudconv wrote in a folder: read, trusted whole or not
// at all, and replaced in one rename.

#include "driver/record.h"

#include <charconv>
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

constexpr std::string_view kHead = "hudconv record 3\n";
// The versions before, still read: both held the older hash, and the first
// its names as they are.
constexpr std::string_view kSecondHead = "hudconv record 2\n";
constexpr std::string_view kFirstHead = "hudconv record 1\n";
constexpr std::string_view kEnd = "end ";
// No record of a folder's layout files comes near this.
constexpr std::uint64_t kLargest = std::uint64_t{16} << 20;
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

// What the end line vouches with for the lines before it: their SHA-256,
// or in the versions before, the older hash.
std::string sealOf(std::string_view text, bool secure) {
  ContentHash hash(secure ? ContentHash::For::kNewEntry
                          : ContentHash::For::kAnyEntry);
  hash.feed(text.data(), text.size());
  Digest digest = hash.digest();
  if (!secure) digest.sha256.reset();
  return hashText(digest);
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

std::string recordText(const std::vector<RecordEntry>& entries) {
  std::string text(kHead);
  // Two hashes, two sizes and a name a line.
  text.reserve(kHead.size() + entries.size() * (2 * kShaDigits + 64));
  for (const RecordEntry& entry : entries) {
    for (const Digest* digest : {&entry.written, &entry.original}) {
      appendNumber(text, digest->size, 10);
      text += ' ';
      appendHash(text, *digest);
      text += ' ';
    }
    appendName(text, entry.name);
    text += '\n';
  }
  // The last line vouches for all before it: a record cut short or
  // changed by hand is not taken for a whole one.
  const std::string seal = sealOf(text, true);
  text += kEnd;
  text += seal;
  text += '\n';
  return text;
}

bool parseRecord(const std::string& text, std::vector<RecordEntry>& entries) {
  entries.clear();
  // An entry a line, of more than 128 bytes where it holds SHA-256 hashes.
  entries.reserve(text.size() / 128);
  std::string_view rest(text);
  const std::string_view head = rest.substr(0, kHead.size());
  const bool first = head == kFirstHead;
  const bool secure = head == kHead;
  if (!first && !secure && head != kSecondHead) return false;
  const std::size_t endLine = rest.rfind(kEnd);
  if (endLine == std::string_view::npos || rest.back() != '\n' ||
      (endLine > 0 && rest[endLine - 1] != '\n'))
    return false;
  std::string_view last = rest.substr(endLine + kEnd.size());
  last.remove_suffix(1);
  if (last != sealOf(rest.substr(0, endLine), secure)) return false;
  rest = rest.substr(kHead.size(), endLine - kHead.size());
  while (!rest.empty()) {
    const std::size_t lineEnd = rest.find('\n');
    std::string_view line = rest.substr(0, lineEnd);
    rest.remove_prefix(lineEnd + 1);
    RecordEntry entry;
    if (!takeNumber(line, entry.written.size, 10) ||
        !takeHash(line, entry.written, secure) ||
        !takeNumber(line, entry.original.size, 10) ||
        !takeHash(line, entry.original, secure) || line.empty())
      return false;
    if (first) {
      entry.name = line;
    } else if (std::optional<std::string> name = nameOf(line)) {
      entry.name = std::move(*name);
    } else {
      return false;
    }
    entries.push_back(std::move(entry));
  }
  return true;
}

Record Record::read(const std::string& folder) {
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
  std::string stored;
  try {
    readBlocks(file, record.path_, blockSizeFor(version.size),
               [&](const char* data, std::size_t size) {
                 if (stored.size() + size <= kLargest)
                   stored.append(data, size);
               });
  } catch (const FileError&) {
    return record;
  }
  std::vector<RecordEntry> parsed;
  if (!parseRecord(stored, parsed)) return record;
  record.state_ = State::kRead;
  record.version_ = version;
  record.entries_.reserve(parsed.size());
  record.index_.reserve(parsed.size());
  for (RecordEntry& entry : parsed) record.put(std::move(entry));
  record.asked_.clear();
  return record;
}

bool Record::isCurrent(const std::string& folder) const {
  if (path_ != pathIn(folder, kRecordName)) return false;
  FileVersion now;
  const SystemError error = readVersion(path_, now, Links::kRefuse);
  if (state_ == State::kNone)
    return error.isNotFound() || (!error && now.size == 0);
  return state_ == State::kRead && !error && now == version_;
}

const RecordEntry* Record::find(const std::string& name) const {
  const auto found = index_.find(nameAsTheSystemCompares(name));
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
                                           const Record& record,
                                           bool isPrivate) {
  const std::string text = record.text();
  auto next = std::make_unique<PendingFile>(folder);
  next->check(writeAll(next->file(), text.data(), text.size()), Step::kWrite);
  next->check(hideFile(next->file()), Step::kSetPermissions);
  if (!isPrivate)
    next->check(shareWithFolder(next->file(), folder), Step::kSetPermissions);
  return next;
}

// The record of `folder` as it is, to be changed: `held` where that is
// current. One this user may not read is not to be written over. Throws
// FileError.
Record recordToChange(const std::string& folder,
                      std::optional<Record>* held = nullptr) {
  if (held && *held && (*held)->path() == pathIn(folder, kRecordName)) {
    std::optional<Record> taken = std::exchange(*held, std::nullopt);
    if (taken->isCurrent(folder)) return std::move(*taken);
  }
  Record record = Record::read(folder);
  if (record.state() == Record::State::kUnreadable)
    check(record.readError(), Step::kRead, record.path());
  return record;
}

}  // namespace

RecordUpdate::RecordUpdate() = default;
RecordUpdate::~RecordUpdate() {
  // A flush still going writes to the file that is removed.
  if (flushing_.valid()) flushing_.wait();
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
    // Given back where none is held, or one of this folder.
    if (held_record_ && *held_record_ &&
        (*held_record_)->path() != pathIn(folder, kRecordName))
      held_record_ = nullptr;
    record_ = recordToChange(folder, held_record_);
    change(*record_, entries, dropped, before);
    record_->keepNewest(most);
    next_ = writtenBeside(folder, *record_, isPrivate);
    // On disk before any file it tells of is renamed; it waits for the disk
    // together with theirs.
    flushing_ = Flusher::shared().flush(next_->file());
    return std::nullopt;
  } catch (const FileError& e) {
    return e.failure();
  }
}

std::optional<Failure> RecordUpdate::finish() {
  try {
    next_->check(flushing_.get(), Step::kFlush);
    replace(*next_, record_->path());
    // Under the folder's lock still: the version is of what was written.
    if (held_record_ &&
        !readVersion(record_->path(), record_->version_, Links::kRefuse)) {
      record_->state_ = Record::State::kRead;
      *held_record_ = std::move(record_);
    }
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
    Record record = recordToChange(folder_);
    change(record, entries, dropped, nullptr);
    const std::unique_ptr<PendingFile> next =
        writtenBeside(folder_, record, private_);
    replace(*next, record.path());
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
