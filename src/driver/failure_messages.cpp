// What a failure says, made from the values that tell it.

#include "driver/failure_messages.h"

#include "driver/message_words.h"
#include "driver/platform_console.h"

namespace messages {

const char kOutOfMemory[] = "out of memory";
const char kSavedAsUtf16[] =
    "it is saved as UTF-16 (\"Unicode\" in Notepad): save it as UTF-8 or "
    "ANSI and run again";

std::string recordNotWritten(const Failure& failure, const std::string& folder,
                             std::size_t files) {
  const std::string left =
      files == 1
          ? std::string("the layout file of ") + folder +
                " that this run was converting was left unchanged"
          : "the " + std::to_string(files) + " layout files of " + folder +
                " that this run was converting were left unchanged";
  // Another run holds the folder: what to do is in the lock's own words.
  if (failure.kind == Failure::Kind::kLock &&
      failure.error.source() == SystemError::Source::kLockHeld)
    return describe(failure) + "; " + left;
  // One it may not read is never written over: another user may need it.
  const char* const then =
      failure.step == Step::kRead && failure.kind == Failure::Kind::kStep
          ? ". Let this user read it, or move it away, and run hudconv again"
          : ". Free space or fix what is named, and run hudconv again";
  return describe(failure) +
         " (hudconv's record of the files it converted there). hudconv "
         "converts no file that it cannot record, so that none is ever "
         "moved twice: " +
         left + then;
}

std::string memoryNotWritten(const Failure& failure) {
  return describe(failure) +
         " (hudconv's memory, in your profile, of the files it wrote "
         "anywhere); the files were converted all the same, and their "
         "backups and the record beside them tell that they are. Fix what "
         "is named, or free space, so that hudconv remembers them too";
}

namespace {

// What each step did, as "cannot VERB[ WHAT] PATH" tells it; the summary
// keeps the verb alone.
struct StepWords {
  const char* verb;
  const char* what;
};
const StepWords kSteps[] = {
    {"cannot read", ""},
    {"cannot read", " the attributes of"},
    {"cannot read", " the backup"},
    {"cannot write", ""},
    {"cannot create", " a temporary file in"},
    {"cannot set", " the permissions of"},
    {"cannot set", " the time of"},
    {"cannot flush", ""},
    {"cannot name", ""},
    {"cannot close", ""},
    {"cannot rename", ""},
    {"cannot find", ""},
    {"cannot find", " the backup"},
    {"cannot flush", " the folder"},
};

const StepWords& wordsOf(Step step) { return kSteps[static_cast<int>(step)]; }

std::string whatStandsAt(EntryKind kind) {
  return kind == EntryKind::kFolder ? "a folder"
         : kind == EntryKind::kLink ? "a symbolic link"
                                    : "a device or a pipe";
}

std::string ownerWouldChangeReason(const std::string& owner) {
  return "it belongs to " + owner +
         ", and the converted file would belong to you instead, so that " +
         owner + " could no longer change it";
}

const char kNotReplaceableReason[] =
    "it belongs to another user, and its folder lets only the owner of a "
    "file replace it";

std::string nameTooLongReason(const std::string& path) {
  return "that name is too long for the file system. Give " + path +
         " a shorter name, and run hudconv again";
}

std::string lockHeldBy(const std::string& path,
                       SystemError::LockHolder holder) {
  if (holder == SystemError::LockHolder::kReader)
    return "another program is reading " + path +
           " and keeps it locked against changes";
  return "another run of hudconv (or another program) has been working on " +
         path + " for a minute and still holds it";
}

std::string madeBackupNote(const Failure& failure) {
  if (failure.madeBackup == Failure::MadeBackup::kReplaced)
    return failure.backup +
           " now holds the file as it is, as its new original; run hudconv "
           "again to convert it";
  if (failure.madeBackup == Failure::MadeBackup::kRemoved)
    return "the backup " + failure.backup + " made for it was removed again";
  return "the backup " + failure.backup +
         " made for it could not be removed (" + failure.backupError.text() +
         "), and holds the same bytes";
}

// The failure itself, without what became of what it made: in full, and in
// the few words of a summary, each kind in one row.
struct Words {
  std::string full, brief;
};

Words wordsFor(const Failure& f) {
  using Kind = Failure::Kind;
  switch (f.kind) {
    case Kind::kStep:
      return {std::string(wordsOf(f.step).verb) + wordsOf(f.step).what + " " +
                  f.path + ": " + f.error.text(),
              wordsOf(f.step).verb + (": " + f.error.text())};
    case Kind::kReadOnly:
      return {
          "cannot write " + f.path + ": the file is marked read-only; " +
              (thisSystem() == System::kWindows
                   ? "clear the mark with attrib -r " + quotedForShell(f.path) +
                         " (or untick Read-only in the file's Properties)"
                   : "clear the mark with chmod u+w " +
                         quotedForShell(f.path)) +
              ", and run hudconv again",
          "cannot write: the file is marked read-only"};
    case Kind::kNotReplaceable:
      return {"cannot replace " + f.path + ": " + kNotReplaceableReason,
              std::string("cannot replace: ") + kNotReplaceableReason};
    case Kind::kOwnerWouldChange:
      return {"cannot convert " + f.path + ": " +
                  ownerWouldChangeReason(f.other) + "; " +
                  (f.other == "root" ? f.other : f.other + " or root") +
                  " can convert it",
              "cannot convert: " + ownerWouldChangeReason(f.other)};
    case Kind::kRenameTo:
      return {
          "cannot rename " + f.path + " to " + f.other + ": " + f.error.text(),
          "cannot rename: " + f.error.text()};
    case Kind::kKeepOriginal:
      return {"cannot keep the original as " + f.path +
                  ": a second name: " + f.error.text() +
                  "; a copy: " + (f.cause ? describe(*f.cause) : ""),
              "cannot keep: " + f.error.text()};
    case Kind::kNotABackup:
      return {f.path + " is " + whatStandsAt(f.error.entryKind()) +
                  ", not the original that hudconv keeps under that name: "
                  "remove it or rename it, and run hudconv again",
              f.path + " is " + whatStandsAt(f.error.entryKind())};
    case Kind::kBackupNameTooLong:
      return {"cannot keep the original of " + f.path + " as " + f.other +
                  ": " + nameTooLongReason(f.path),
              "cannot keep: " + nameTooLongReason(f.path)};
    case Kind::kLock:
      if (f.error.source() != SystemError::Source::kLockHeld)
        return {"cannot lock " + f.path +
                    " against other runs of hudconv: " + f.error.text(),
                "cannot lock: " + f.error.text()};
      return {lockHeldBy(f.path, f.error.lockHolder()) +
                  (f.error.lockHolder() == SystemError::LockHolder::kReader
                       ? "; close that program, then run hudconv again"
                       : "; let it finish, or close the console window it "
                         "runs in, then run hudconv again"),
              lockHeldBy(f.path, f.error.lockHolder())};
    case Kind::kChangedMeanwhile:
      return {f.path +
                  " changed during the conversion (another program wrote to "
                  "it), and was left as it is now" +
                  (f.madeBackup == Failure::MadeBackup::kNone
                       ? ""
                       : "; " + madeBackupNote(f)) +
                  ".",
              f.path +
                  " changed during the conversion (another program wrote to "
                  "it)"};
    case Kind::kBackupAppeared:
      return {f.path +
                  " appeared during the conversion, made by another program "
                  "or run; " +
                  f.other + " was left as it is now. Run hudconv again.",
              f.path + " appeared during the conversion"};
    case Kind::kBackupChanged:
      return {f.path +
                  " changed during the conversion, changed or removed by "
                  "another program; " +
                  f.other + " was left as it is now. Run hudconv again.",
              f.path + " changed during the conversion"};
  }
  return {};
}

}  // namespace

std::string describe(const Failure& failure) {
  std::string text = wordsFor(failure).full;
  if (failure.madeBackup != Failure::MadeBackup::kNone &&
      failure.kind != Failure::Kind::kChangedMeanwhile)
    text += "; " + madeBackupNote(failure);
  if (!failure.leftBehind.empty()) text += notRemoved(failure.leftBehind);
  return text;
}

std::string shortReason(const Failure& failure) {
  return wordsFor(failure).brief;
}

std::string temporaryFileIn(const std::string& folder) {
  return "the temporary file in " + folder;
}

std::string notRemoved(const std::string& temporary) {
  return " (the temporary file " + temporary + " could not be removed)";
}

std::string leftUnchanged(const std::string& reason, const std::string& what) {
  return reason + ". " + what + " was left unchanged.";
}

std::string cannotOpen(const std::string& path, const SystemError& error,
                       const std::string& mustBeIn) {
  if (error.source() == SystemError::Source::kForeignLink)
    return "cannot open " + path +
           ": it is a symbolic link that another user made to a file that is "
           "not theirs. hudconv follows a link only for the user who made it "
           "or for the owner of the file it leads to, so that whoever may "
           "write a folder cannot have your run rewrite a file elsewhere.";
  std::string text = "cannot open " + path + ": " + error.text() + ".";
  // A name that ends in a quote is seldom a name at all.
  if (!path.empty() && path.back() == '"')
    text += std::string(" The \" at its end is stray") + kStrayQuote + ".";
  if (!mustBeIn.empty())
    text += " The layout file must be in the folder " + mustBeIn +
            " beside hudconv, or be dropped on it.";
  if (error.isNotFound()) text += " hudconv --help shows how to use it.";
  return text;
}

namespace {

// The reason for a bad value, as rewriteLine and the converter give it.
std::string reasonOf(ConversionError::Kind kind) {
  switch (kind) {
    case ConversionError::Kind::kNotANumber:
      return kNotANumberText;
    case ConversionError::Kind::kOutOfRange:
      return kOutOfRangeText;
    case ConversionError::Kind::kEndsAtValue:
      return kEndsAtValueText;
    case ConversionError::Kind::kWidthOverflow:
      return kWidthOverflowText;
    case ConversionError::Kind::kNulByte:
      return kNulByteText;
    case ConversionError::Kind::kSavedAsUtf16:
      return kSavedAsUtf16;
  }
  return {};
}

}  // namespace

// What a bad value means for its line, in plain words; the reason itself
// where the converter told no property.
std::string meaningOf(const BadValue& bad) {
  if (bad.property.empty()) return reasonOf(bad.kind);
  const std::string shown =
      "the " + bad.property + " value \"" + bad.value + "\"";
  switch (bad.kind) {
    case ConversionError::Kind::kNotANumber:
      return shown + " is not a whole number";
    case ConversionError::Kind::kOutOfRange:
      return shown + " does not fit a 32-bit integer";
    case ConversionError::Kind::kEndsAtValue:
      return "the " + bad.property + " line ends right behind its Value";
    default:
      return shown + ", scaled by its exception, does not fit a 32-bit integer";
  }
}

std::string badValue(const std::string& path, const BadValue& bad) {
  std::string text =
      path + ", line " + std::to_string(bad.line) + ": " + reasonOf(bad.kind);
  if (bad.property.empty()) return text;
  return text + ": " + meaningOf(bad);
}

std::string cannotPutBack(const std::string& backup, const SystemError& error) {
  return "cannot put " + backup + " back in place: " + error.text();
}

}  // namespace messages
