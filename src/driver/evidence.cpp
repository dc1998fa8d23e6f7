// Reading the facts a layout file's judgement asks for, each once.

#include "driver/evidence.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "convert/drift.h"
#include "convert/layout_converter.h"
#include "driver/backup.h"
#include "driver/content_hash.h"
#include "driver/file_steps.h"

namespace {

// Files up to this size are read whole once and judged in memory; larger
// ones are compared block by block, in a few blocks of memory.
constexpr std::uint64_t kHeldWhole = std::uint64_t{1} << 20;
// Far beyond any layout file: what is larger is never judged line by line.
constexpr std::uint64_t kJudgedByLine = std::uint64_t{64} << 20;

// Reads until `size` bytes are in, or the file ends.
SystemError readFull(const SystemFile& file, char* data, std::size_t size,
                     std::size_t& got) {
  got = 0;
  while (got < size) {
    std::size_t piece = 0;
    if (const SystemError error = readSome(file, data + got, size - got, piece))
      return error;
    if (piece == 0) break;
    got += piece;
  }
  return {};
}

void rewind(const SystemFile& file, const std::string& path) {
  check(rewindFile(file), Step::kRead, path);
}

// Read straight into the text, with room for one byte more, so that a file
// of the size found ends at the first read that finds nothing.
std::string readWhole(const SystemFile& file, const std::string& path,
                      std::uint64_t size) {
  rewind(file, path);
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::size_t filled = 0;
  for (;;) {
    std::size_t got = 0;
    check(readFull(file, text.data() + filled, text.size() - filled, got),
          Step::kRead, path);
    filled += got;
    if (filled < text.size()) break;
    text.resize(text.size() * 2);  // it grew since it was found
  }
  text.resize(filled);
  rewind(file, path);
  return text;
}

Digest digestOf(const std::string& text) {
  ContentHash hash;
  hash.feed(text.data(), text.size());
  return hash.digest();
}

Digest streamedDigest(const SystemFile& file, const std::string& path,
                      std::uint64_t size) {
  rewind(file, path);
  ContentHash hash;
  readBlocks(file, path, blockSizeFor(size),
             [&](const char* data, std::size_t got) { hash.feed(data, got); });
  rewind(file, path);
  return hash.digest();
}

// Converts into a text of its own, lending the converter its free end: the
// bytes are written once, where they stay.
class TextSink final : public ByteSink {
 public:
  // Room for `expected` bytes first.
  explicit TextSink(std::size_t expected) : text_(expected + 64, '\0') {}
  char* lend(std::size_t& size) override {
    if (text_.size() - used_ < 64) text_.resize(text_.size() * 2);
    size = text_.size() - used_;
    return text_.data() + used_;
  }
  void take(std::size_t used) override { used_ += used; }
  std::string text() && {
    text_.resize(used_);
    return std::move(text_);
  }

 private:
  std::string text_;
  std::size_t used_ = 0;
};

// The conversion of `text`, as the file `name` is converted; none where it
// was never converted into anything.
std::optional<std::string> converted(const std::string& text,
                                     const std::string& name) {
  TextSink sink(text.size());
  LayoutConverter converter(sink, name);
  try {
    converter.feed(text.data(), text.size());
    converter.finish();
  } catch (const ConversionError&) {
    return std::nullopt;
  }
  return std::move(sink).text();
}

// Compares the bytes written to it with those of a file, in turn, until
// the first that differs.
class ComparingSink final : public BufferedSink {
 public:
  ComparingSink(const SystemFile& file, const std::string& path,
                std::size_t blockSize)
      : BufferedSink(blockSize),
        file_(file),
        path_(path),
        size_(blockSize),
        read_(new char[size_]) {}

  // Whether the file ended where the bytes written ended, all alike.
  bool matched() {
    if (same_ && readPiece(1) != 0) same_ = false;
    return same_;
  }

 private:
  void write(const char* data, std::size_t size) override {
    while (same_ && size > 0) {
      const std::size_t piece = std::min(size, size_);
      same_ = readPiece(piece) == piece &&
              std::memcmp(read_.get(), data, piece) == 0;
      data += piece;
      size -= piece;
    }
  }
  std::size_t readPiece(std::size_t size) {
    std::size_t got = 0;
    check(readFull(file_, read_.get(), size, got), Step::kRead, path_);
    return got;
  }

  const SystemFile& file_;
  const std::string& path_;
  std::size_t size_;
  std::unique_ptr<char[]> read_;
  bool same_ = true;
};

// Whether converting `original` gives the bytes of `file`, block by block.
bool convertsInto(const SystemFile& original, const std::string& originalPath,
                  const SystemFile& file, const std::string& path,
                  const std::string& name, std::size_t blockSize) {
  rewind(original, originalPath);
  rewind(file, path);
  ComparingSink sink(file, path, blockSize);
  bool same = false;
  try {
    convertFile(original, originalPath, blockSize, sink, name);
    same = sink.matched();
  } catch (const ConversionError&) {
    // It was never converted into anything.
  }
  rewind(file, path);
  return same;
}

bool sameBytes(const SystemFile& one, const std::string& onePath,
               const SystemFile& other, const std::string& otherPath,
               std::size_t blockSize) {
  rewind(one, onePath);
  rewind(other, otherPath);
  const std::unique_ptr<char[]> oneBlock(new char[blockSize]);
  const std::unique_ptr<char[]> otherBlock(new char[blockSize]);
  bool same = true;
  for (;;) {
    std::size_t oneGot = 0;
    std::size_t otherGot = 0;
    check(readFull(one, oneBlock.get(), blockSize, oneGot), Step::kRead,
          onePath);
    check(readFull(other, otherBlock.get(), blockSize, otherGot), Step::kRead,
          otherPath);
    if (oneGot != otherGot ||
        std::memcmp(oneBlock.get(), otherBlock.get(), oneGot) != 0) {
      same = false;
      break;
    }
    if (oneGot == 0) break;
  }
  rewind(one, onePath);
  return same;
}

}  // namespace

Evidence::Evidence(const SystemFile& in, const FileVersion& state,
                   const std::string& path, const std::string& backup,
                   Record& record, Memory& memory)
    : in_(&in),
      state_(state),
      path_(path),
      target_(path),
      backup_(backup),
      // The exceptions go by the name the file was given, the record by
      // the name of the file that link leads to.
      name_(fileNameOf(path)),
      record_(record),
      memory_(memory),
      restore_(false) {}

Evidence::Evidence(const std::string& path, const std::string& target,
                   const std::string& backup, Record& record, Memory& memory)
    : in_(nullptr),
      path_(path),
      target_(target),
      backup_(backup),
      name_(fileNameOf(target)),
      record_(record),
      memory_(memory),
      restore_(true) {}

Decision Evidence::judgeConversion(const Asked& asked) {
  for (;;) {
    const Judgement judgement = ::judgeConversion(facts_, asked);
    if (judgement.verdict)
      return {*judgement.verdict, rulingOf(*judgement.verdict, false)};
    read(judgement.next);
  }
}

Decision Evidence::judgeRestore() {
  for (;;) {
    const Judgement judgement = ::judgeRestore(facts_);
    if (judgement.verdict)
      return {*judgement.verdict, rulingOf(*judgement.verdict, true)};
    read(judgement.next);
  }
}

std::optional<RecordEntry> Evidence::unrecorded() {
  if (!facts_.recorded) read(Fact::kRecorded);
  // Sizes that agree are taken for the entry's own: a second run reads no
  // more than it did. An entry of an earlier version is written again in
  // SHA-256.
  if (entry_ && entry_->written.size == state_.size &&
      entry_->original.size == backupState_.size && entry_->written.sha256 &&
      entry_->original.sha256)
    return std::nullopt;
  return RecordEntry{recordName(), fileDigest(), backupDigest()};
}

std::string Evidence::recordName() const {
  // A file named by itself, not by a link to it, has the name it was given.
  return restore_ || isBackupOf(backup_, target_)
             ? name_
             : fileNameOf(fileOfBackup(backup_));
}

void Evidence::close() {
  ownIn_.close();
  backupFile_.close();
}

void Evidence::read(Fact fact) {
  switch (fact) {
    case Fact::kBackupFound:
      openTheBackup();
      // A conversion has its file open already: one look tells both.
      if (!restore_ && *facts_.backupFound) findOneFile();
      return;
    case Fact::kOneFile:
      findOneFile();
      return;
    case Fact::kFileFound:
      openTheFile();
      return;
    case Fact::kBackupConverted:
      facts_.backupConverted = isBackupConverted();
      return;
    case Fact::kBackupBytes:
      facts_.backupBytes = holdsBackupBytes();
      return;
    case Fact::kRecorded:
      entry_ = record_.find(recordName());
      facts_.recorded = entry_ != nullptr;
      return;
    case Fact::kHoldsWritten: {
      // A restore asks it of the backup, which it would put back.
      const std::uint64_t size = restore_ ? backupState_.size : state_.size;
      facts_.holdsWritten =
          size == entry_->written.size &&
          (restore_ ? backupDigest() : fileDigest()) == entry_->written;
      return;
    }
    case Fact::kRemembered: {
      // A restore asks it of the backup; a digest is taken only where the
      // memory knows bytes of the size.
      const std::uint64_t size = restore_ ? backupState_.size : state_.size;
      facts_.remembered =
          memory_.mayKnow(size) &&
          memory_.knows(restore_ ? backupDigest() : fileDigest());
      return;
    }
    case Fact::kBackupOriginal:
      facts_.backupOriginal = backupState_.size == entry_->original.size &&
                              backupDigest() == entry_->original;
      return;
    case Fact::kHoldsOriginal:
      // Only SHA-256 proves it: the file would be converted, and one made
      // to match the older hash of an original could move twice.
      facts_.holdsOriginal = entry_->original.sha256 &&
                             state_.size == entry_->original.size &&
                             fileDigest() == entry_->original;
      return;
    case Fact::kDrift:
      facts_.drift = drift();
      return;
  }
}

void Evidence::openTheBackup() {
  backupError_ = openBackup(backup_, backupFile_, backupState_);
  facts_.backupFound = !backupError_.isNotFound();
  if (*facts_.backupFound) checkBackupOpened(backupError_, path_, backup_);
}

void Evidence::openTheFile() {
  const SystemError error = openForReading(target_, ownIn_, state_);
  facts_.fileFound = !error.isNotFound();
  if (*facts_.fileFound) check(error, Step::kRead, target_);
  in_ = &ownIn_;
}

// One file under both names has two names. With one, another run has
// converted the file since it was read here, and what was read is the
// backup alone now; or, where the file is still there, the backup's name
// led to it through a link that the system did not tell of.
void Evidence::findOneFile() {
  facts_.oneFile = backupState_.sameFile(state_);
  if (!*facts_.oneFile || backupState_.names >= 2) return;
  FileVersion now;
  if (readVersion(target_, now) || !now.sameFile(state_))
    throw FileError(failureOf(Failure::Kind::kChangedMeanwhile, target_));
  throw FileError(failureOf(Failure::Kind::kNotABackup, backup_, "",
                            SystemError::notARegularFile(EntryKind::kLink)));
}

bool Evidence::heldWhole() const {
  return state_.size <= kHeldWhole && backupState_.size <= kHeldWhole;
}

const std::string& Evidence::fileText() {
  if (!texts_.file) texts_.file = readWhole(*in_, target_, state_.size);
  return *texts_.file;
}

const std::string& Evidence::backupText() {
  if (!texts_.backup) {
    texts_.backup = readWhole(backupFile_, backup_, backupState_.size);
    checkBackupUnchanged();
  }
  return *texts_.backup;
}

const std::optional<std::string>& Evidence::backupConversion() {
  if (!std::exchange(texts_.convertedYet, true))
    texts_.conversion = converted(backupText(), name_);
  return texts_.conversion;
}

// What was read of the backup is the backup as it was found: another
// program that wrote to it meanwhile leaves nothing judged by it.
void Evidence::checkBackupUnchanged() const {
  FileVersion now;
  if (readVersion(backup_, now, Links::kRefuse) || now != backupState_)
    throw FileError(failureOf(Failure::Kind::kBackupChanged, backup_, target_));
}

bool Evidence::isBackupConverted() {
  if (heldWhole()) {
    const std::optional<std::string>& conversion = backupConversion();
    return conversion && *conversion == fileText();
  }
  const bool same =
      convertsInto(backupFile_, backup_, *in_, target_, name_,
                   blockSizeFor(std::max(state_.size, backupState_.size)));
  checkBackupUnchanged();
  return same;
}

bool Evidence::holdsBackupBytes() {
  if (backupState_.size != state_.size) return false;
  if (heldWhole()) return fileText() == backupText();
  const bool same =
      sameBytes(*in_, target_, backupFile_, backup_, blockSizeFor(state_.size));
  checkBackupUnchanged();
  return same;
}

DriftReport Evidence::drift() {
  if (state_.size > kJudgedByLine || backupState_.size > kJudgedByLine)
    return {};
  // Held whole here for the comparison, whatever their size.
  const std::optional<std::string>& conversion = backupConversion();
  if (!conversion) return {};  // it was never converted into anything
  return judgeDrift(fileText(), backupText(), *conversion);
}

Evidence::Around Evidence::convertedAround(ChangeListener* listener) {
  // The lines whose values are left, and the others' changes.
  class Changes final : public ChangeListener {
   public:
    Changes(const std::vector<std::size_t>& kept, ChangeListener* told)
        : kept_(kept), told_(told) {}
    ChangeCounts counts;

   private:
    void changed(const ValueChange& change) override {
      if (std::binary_search(kept_.begin(), kept_.end(), change.line)) return;
      ++(change.width ? counts.width : counts.left);
      counts.byException += change.byException ? 1 : 0;
      counts.cut += change.cut.empty() ? 0 : 1;
      if (told_ != nullptr) told_->changed(change);
    }
    const std::vector<std::size_t>& kept_;
    ChangeListener* told_;
  };
  const std::optional<std::string>& conversion = backupConversion();
  const std::string& file = fileText();
  const std::vector<std::size_t> kept =
      conversion ? convertedValueLines(file, backupText(), *conversion)
                 : std::vector<std::size_t>{};
  Changes changes(kept, listener);
  StringSink sink;
  LayoutConverter converter(sink, name_, &changes);
  converter.feed(file.data(), file.size());
  converter.finish();
  return {withLinesKept(file, sink.text, kept), changes.counts, backupDigest()};
}

Digest Evidence::fileDigest() {
  if (!fileDigest_)
    fileDigest_ = texts_.file || state_.size <= kHeldWhole
                      ? digestOf(fileText())
                      : streamedDigest(*in_, target_, state_.size);
  return *fileDigest_;
}

Digest Evidence::backupDigest() {
  if (!backupDigest_) {
    if (texts_.backup || backupState_.size <= kHeldWhole) {
      backupDigest_ = digestOf(backupText());
    } else {
      backupDigest_ = streamedDigest(backupFile_, backup_, backupState_.size);
      checkBackupUnchanged();
    }
  }
  return *backupDigest_;
}

bool savedAsUtf16(const SystemFile& in) {
  char start[64];
  std::size_t got = 0;
  if (rewindFile(in) || readSome(in, start, sizeof(start), got)) return false;
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(start[i]);
  };
  if (got >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) ||
                   (byte(0) == 0xFE && byte(1) == 0xFF)))
    return true;
  if (got < 8) return false;
  for (std::size_t nul = 0; nul < 2; ++nul) {
    bool alternates = true;
    for (std::size_t i = 0; i + 1 < got && alternates; i += 2)
      alternates = (byte(i + nul) == 0) && (byte(i + 1 - nul) != 0);
    if (alternates) return true;
  }
  return false;
}
