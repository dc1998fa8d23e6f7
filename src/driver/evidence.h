#pragma once

// What is read of a layout file, its backup and its folder's record to
// judge it: exactly the facts its judgement asks for, one at a time. The
// file and its backup are each read once for it (small ones whole, into
// memory), the backup converted once, and the digests taken from the same
// reads; a file read to be judged is read once more only to be converted.

#include <optional>
#include <string>

#include "convert/layout_converter.h"
#include "driver/judgement.h"
#include "driver/memory.h"
#include "driver/platform_files.h"
#include "driver/record.h"

class Evidence {
 public:
  // Of the layout file open as `in`, read in the state `state`, named
  // `path`, whose original is kept as `backup` in the folder of `record`,
  // for a conversion, and of the player's `memory`. `in` is left at its
  // start. What is given must outlive the evidence.
  Evidence(const SystemFile& in, const FileVersion& state,
           const std::string& path, const std::string& backup, Record& record,
           Memory& memory);
  // Of the layout file `target`, named `path`, for a restore: it is opened
  // only where the judgement needs it.
  Evidence(const std::string& path, const std::string& target,
           const std::string& backup, Record& record, Memory& memory);
  Evidence(const Evidence&) = delete;
  Evidence& operator=(const Evidence&) = delete;

  // Reads facts until the rules give a verdict. Throws FileError, also
  // where the backup is no regular file of its own or changed while read.
  Decision judgeConversion(const Asked& asked);
  Decision judgeRestore();

  // Closes the files read, whose facts stay.
  void close();
  // For a file found to be its backup converted: the record's entry it
  // lacks, where the record knows it not or by other sizes, made from the
  // same reads.
  std::optional<RecordEntry> unrecorded();

  // A file converted but for the values hudconv wrote in it: its text so
  // converted, what changed, and the digest of the original that its backup
  // holds, which stays; `listener` is told of the changes. Throws
  // ConversionError as a conversion does, and FileError.
  struct Around {
    std::string text;
    ChangeCounts changes;
    Digest original;
  };
  Around convertedAround(ChangeListener* listener);

  const Facts& facts() const { return facts_; }
  // The backup as it was found, and why none was.
  const FileVersion& backupState() const { return backupState_; }
  const SystemError& backupError() const { return backupError_; }

 private:
  // The file and its backup held whole, and the backup's conversion.
  struct Texts {
    std::optional<std::string> file, backup;
    bool convertedYet = false;
    std::optional<std::string> conversion;
  };

  void read(Fact fact);
  void openTheBackup();
  void openTheFile();
  void findOneFile();
  bool isBackupConverted();
  bool holdsBackupBytes();
  DriftReport drift();
  Digest fileDigest();
  Digest backupDigest();
  // Whether both are small enough to be held whole.
  bool heldWhole() const;
  const std::string& fileText();
  const std::string& backupText();
  const std::optional<std::string>& backupConversion();
  void checkBackupUnchanged() const;
  // The name the record knows the file by: that of the file a link leads to.
  std::string recordName() const;

  const SystemFile* in_;
  SystemFile ownIn_;  // the layout file a restore opens
  FileVersion state_;
  const std::string& path_;
  const std::string& target_;
  const std::string& backup_;
  std::string name_;
  Record& record_;
  const RecordEntry* entry_ = nullptr;  // once the record is asked
  Memory& memory_;
  bool restore_;
  SystemFile backupFile_;
  FileVersion backupState_;
  SystemError backupError_;
  Facts facts_;
  std::optional<Digest> fileDigest_, backupDigest_;
  Texts texts_;
};

// Whether the file open as `in` begins as UTF-16 text does: with its
// byte-order mark, or with a NUL in every other byte. Leaves it anywhere.
bool savedAsUtf16(const SystemFile& in);
