// What a run makes of a file it has seen before: first the rules alone,
// each verdict with the facts it was given and the order it asked for
// them in; then as a player's short stories: the backup and the record each
// guard, the record of the right folder and the right file, and what is
// told of each file comes whole, in its place.

#include "driver/judgement.h"

#include "command_line_fixture.h"
#include "driver/record.h"

namespace {

// All there is to know of one file; the rules read of it only what they ask.
struct World {
  bool backup = true, oneFile = false, file = true, converted = false,
       bytes = false, recorded = false, written = false, original = false,
       remembered = false, backupOriginal = false;
  Drift drift = Drift::kChanged;
};

// The verdict on `world`, and the facts asked for, in order, one letter
// each: Backup found, one file (1), File found, backup Converted, Same
// bytes, Recorded, Written, Original, reMembered, bacKup the recorded
// original, Drift.
// Each yes-or-no fact: where the rules read it, where the world holds it,
// and its letter.
struct YesOrNo {
  Fact fact;
  std::optional<bool> Facts::*known;
  bool World::*is;
  char letter;
};
const YesOrNo kYesOrNo[] = {
    {Fact::kBackupFound, &Facts::backupFound, &World::backup, 'B'},
    {Fact::kOneFile, &Facts::oneFile, &World::oneFile, '1'},
    {Fact::kFileFound, &Facts::fileFound, &World::file, 'F'},
    {Fact::kBackupConverted, &Facts::backupConverted, &World::converted, 'C'},
    {Fact::kBackupBytes, &Facts::backupBytes, &World::bytes, 'S'},
    {Fact::kRecorded, &Facts::recorded, &World::recorded, 'R'},
    {Fact::kHoldsWritten, &Facts::holdsWritten, &World::written, 'W'},
    {Fact::kHoldsOriginal, &Facts::holdsOriginal, &World::original, 'O'},
    {Fact::kRemembered, &Facts::remembered, &World::remembered, 'M'},
    {Fact::kBackupOriginal, &Facts::backupOriginal, &World::backupOriginal,
     'K'},
};

std::pair<Verdict, std::string> judged(const World& world, const Asked& asked,
                                       bool restore) {
  Facts facts;
  std::string order;
  for (int step = 0; step < 12; ++step) {
    const Judgement judgement =
        restore ? judgeRestore(facts) : judgeConversion(facts, asked);
    if (judgement.verdict) return {*judgement.verdict, order};
    if (judgement.next == Fact::kDrift) {
      facts.drift = DriftReport{world.drift, 1};
      order += 'D';
      continue;
    }
    for (const YesOrNo& fact : kYesOrNo)
      if (fact.fact == judgement.next) {
        facts.*fact.known = world.*fact.is;
        order += fact.letter;
      }
  }
  ADD_FAILURE() << "no verdict after " << order;
  return {Verdict::kUnconverted, order};
}

TEST(JudgementTest, EachVerdictComesFromTheFactsItNeedsInTheirOrder) {
  const Asked none;
  const Asked update{true, false};
  const Asked updateNamed{true, true};
  const Asked named{false, true};
  World noBackup;
  noBackup.backup = false;
  World gone = noBackup;  // converted once, its backup deleted since
  gone.recorded = true;
  World goneWritten = gone;
  goneWritten.written = true;
  World goneOriginal = gone;
  goneOriginal.original = true;
  const World different;  // neither its backup nor that converted
  World stopped;
  stopped.oneFile = true;
  World converted;
  converted.converted = true;
  World convertedRecorded = converted;
  convertedRecorded.recorded = true;
  convertedRecorded.written = true;
  World convertedTold = convertedRecorded;
  convertedTold.backupOriginal = true;
  World written = different;
  written.recorded = true;
  written.written = true;
  World putBack;
  putBack.bytes = true;
  World putBackWritten = putBack;
  putBackWritten.recorded = true;
  putBackWritten.written = true;
  World tuned;
  tuned.drift = Drift::kTuned;
  World patched;
  patched.drift = Drift::kNewOriginal;
  World recordedOther = different;  // the record knows other bytes
  recordedOther.recorded = true;
  World goneRemembered = gone;  // the player's memory knows the bytes
  goneRemembered.remembered = true;
  World remembered = different;
  remembered.remembered = true;
  const struct {
    const char* what;
    World world;
    Asked asked;
    Verdict verdict;
    const char* order;
  } cases[] = {
      {"never converted", noBackup, none, Verdict::kUnconverted, "BRM"},
      {"backup gone, what was written", goneWritten, none,
       Verdict::kConvertedBackupGone, "BRW"},
      {"backup gone, remembered", goneRemembered, none,
       Verdict::kConvertedBackupGone, "BRWM"},
      {"remembered, beside another backup", remembered, none,
       Verdict::kConvertedNotItsBackup, "B1RCM"},
      {"backup gone, the original", goneOriginal, none, Verdict::kUnconverted,
       "BRWMO"},
      {"backup gone, neither", gone, none, Verdict::kEditedBackupGone, "BRWMO"},
      {"backup gone, neither, --update over a folder", gone, update,
       Verdict::kEditedBackupGone, "BRWMO"},
      {"backup gone, neither, --update NAME", gone, updateNamed,
       Verdict::kUnconverted, "BRWM"},
      {"the backup itself, under both names", stopped, none,
       Verdict::kLeftByStoppedRun, "B1"},
      {"its backup converted", converted, none, Verdict::kAlreadyConverted,
       "B1RC"},
      {"its backup converted, as the record tells", convertedTold, none,
       Verdict::kAlreadyConverted, "B1RWK"},
      {"its backup converted, another original recorded", convertedRecorded,
       none, Verdict::kAlreadyConverted, "B1RWKC"},
      {"what was written, beside another backup", written, none,
       Verdict::kConvertedNotItsBackup, "B1RWKC"},
      {"the backup's bytes", putBack, none, Verdict::kBackupPutBack, "B1RCMS"},
      {"the backup's bytes, which hudconv wrote", putBackWritten, none,
       Verdict::kConvertedNotItsBackup, "B1RWKC"},
      {"the record knows other bytes", recordedOther, none, Verdict::kEdited,
       "B1RWCMSD"},
      {"tuned", tuned, none, Verdict::kTuned, "B1RCMSD"},
      {"tuned, --update NAME", tuned, updateNamed, Verdict::kTuned, "B1RCMSD"},
      {"a new original", patched, none, Verdict::kNewOriginal, "B1RCMSD"},
      {"a new original, named", patched, named, Verdict::kNewOriginal,
       "B1RCMSD"},
      {"a new original, --update", patched, update, Verdict::kNewOriginalTaken,
       "B1RCMSD"},
      {"changed", different, none, Verdict::kEdited, "B1RCMSD"},
      {"changed, --update over a folder", different, update, Verdict::kEdited,
       "B1RCMSD"},
      {"changed, --update NAME", different, updateNamed, Verdict::kEditedTaken,
       "B1RCMSD"},
  };
  for (const auto& c : cases) {
    const auto [verdict, order] = judged(c.world, c.asked, false);
    EXPECT_EQ(verdict, c.verdict) << c.what;
    EXPECT_EQ(order, c.order) << c.what;
  }
}

TEST(JudgementTest, ARestoreIsJudgedByItsBackupFirst) {
  World noBackup;
  noBackup.backup = false;
  noBackup.recorded = true;
  World backupWritten;
  backupWritten.recorded = true;
  backupWritten.written = true;
  backupWritten.file = false;
  World missing;
  missing.file = false;
  World recordedMissing = missing;
  recordedMissing.recorded = true;
  World stopped;
  stopped.oneFile = true;
  stopped.converted = true;
  World converted;
  converted.converted = true;
  World bytes;
  bytes.bytes = true;
  World tuned;
  tuned.drift = Drift::kTuned;
  World patched;
  patched.drift = Drift::kNewOriginal;
  World backupRemembered = missing;
  backupRemembered.remembered = true;
  const struct {
    const char* what;
    World world;
    Verdict verdict;
    const char* order;
  } cases[] = {
      {"no backup", noBackup, Verdict::kNoBackup, "B"},
      {"the backup is what hudconv wrote", backupWritten,
       Verdict::kBackupConverted, "BRW"},
      {"the backup is what hudconv wrote, as remembered", backupRemembered,
       Verdict::kBackupConverted, "BRM"},
      {"the file is gone", missing, Verdict::kRestorable, "BRMF"},
      {"the file is gone, the record knows other bytes", recordedMissing,
       Verdict::kRestorable, "BRWMF"},
      {"the original under both names", stopped, Verdict::kOriginalInPlace,
       "BRMF1"},
      {"its backup converted", converted, Verdict::kRestorable, "BRMF1C"},
      {"the backup's bytes", bytes, Verdict::kRestorable, "BRMF1CS"},
      {"tuned", tuned, Verdict::kTuned, "BRMF1CSD"},
      {"a new original", patched, Verdict::kNewOriginal, "BRMF1CSD"},
      {"changed", World{}, Verdict::kEdited, "BRMF1CSD"},
  };
  for (const auto& c : cases) {
    const auto [verdict, order] = judged(c.world, {}, true);
    EXPECT_EQ(verdict, c.verdict) << c.what;
    EXPECT_EQ(order, c.order) << c.what;
  }
}

void put(const fs::path& home, const std::string& path,
         const std::string& bytes) {
  fs::create_directories((home / utf8Path(path)).parent_path());
  writeBytes(home / utf8Path(path), bytes);
}

void copy(const fs::path& home, const std::string& from,
          const std::string& to) {
  // Not fs::copy_file: MinGW's will not overwrite.
  writeBytes(home / utf8Path(to), readBytes(home / utf8Path(from)));
}

void remove(const fs::path& home, const std::string& path) {
  fs::remove(home / utf8Path(path));
}

// Where a file of Output is, as the program names it.
std::string inOutput(const std::string& name) {
  return "{H}{/}Output{/}" + name;
}

// A first conversion of Output/a_p.gui.xml, from kLayout.
StoryStep firstConversion() {
  return {
      [](const fs::path& home) { put(home, "Output/a_p.gui.xml", kLayout); },
      {"a_p.gui.xml"},
      0};
}

// A file behind a link in Output, converted once.
StoryStep linkedConversion() {
  return {[](const fs::path& home) {
            put(home, "real/target.xml", kLayout);
            fs::create_symlink("../real/target.xml",
                               home / "Output" / "link_p.gui.xml");
          },
          {"link_p.gui.xml"},
          0,
          {},
          {},
          false,
          {{"real/target.xml", kDefaultConverted},
           {"real/target.xml.bak", kLayout}}};
}

Digest digestOf(const std::string& bytes) {
  ContentHash hash;
  hash.feed(bytes.data(), bytes.size());
  return hash.digest();
}

// A digest as the version before held it: the older hash alone.
Digest olderDigestOf(const std::string& bytes) {
  Digest digest = digestOf(bytes);
  digest.sha256.reset();
  return digest;
}

// A record of one entry as the version before wrote it.
std::string recordOfTheVersionBefore(const std::string& name,
                                     const std::string& written,
                                     const std::string& original) {
  std::string text = "hudconv record 2\n";
  for (const std::string* bytes : {&written, &original}) {
    const Digest digest = olderDigestOf(*bytes);
    text += std::to_string(digest.size) + ' ' + hashText(digest) + ' ';
  }
  text += name + "\n";
  return text + "end " + hashText(olderDigestOf(text)) + "\n";
}

TEST_F(CommandLineTest, AFileSeenBeforeIsKnownByItsBackupOrTheRecord) {
  // The record of the version before still knows its files, and its entry
  // is written again in SHA-256 once the backup proves it.
  // An original that matches its older hash is not taken for one, for a
  // file can be made to match it: it is left, as one edited.
  play("a record of the version before",
       {{[](const fs::path& home) {
           put(home, "Output/a_p.gui.xml", kLayout);
           put(home, "Output/.hudconv.record",
               recordOfTheVersionBefore("a_p.gui.xml", kDefaultConverted,
                                        kLayout));
         },
         {"a_p.gui.xml"},
         1,
         {},
         {},
         false,
         {{"Output/a_p.gui.xml", kLayout}}},
        {[](const fs::path& home) {
           put(home, "Output/a_p.gui.xml", kDefaultConverted);
         },
         {"a_p.gui.xml"},
         0,
         {"Already converted (hudconv wrote these bytes)"},
         {},
         false,
         {{"Output/a_p.gui.xml", kDefaultConverted}}},
        {[](const fs::path& home) {
           put(home, "Output/a_p.gui.xml.bak", kLayout);
         },
         {"a_p.gui.xml"},
         0,
         {"Already converted, so nothing was written"},
         {},
         false,
         {{"Output/.hudconv.record",
           recordText({{"a_p.gui.xml", digestOf(kDefaultConverted),
                        digestOf(kLayout)}})}}},
        // So does the player's memory that it kept.
        {[](const fs::path& home) {
           remove(home, "Output/a_p.gui.xml.bak");
           remove(home, "Output/.hudconv.record");
           const Digest written = olderDigestOf(kDefaultConverted);
           put(home, "../profile/hudconv/.hudconv.record",
               recordOfTheVersionBefore(
                   std::to_string(written.size) + '-' + hashText(written),
                   kDefaultConverted, kDefaultConverted));
         },
         {"a_p.gui.xml"},
         0,
         {"Already converted (hudconv wrote these bytes)"},
         {},
         false,
         {{"Output/a_p.gui.xml", kDefaultConverted}}}});
  play("a converted file copied as its backup",
       {firstConversion(),
        {[](const fs::path& home) {
           copy(home, "Output/a_p.gui.xml", "Output/a_p.gui.xml.bak");
         },
         {"a_p.gui.xml"},
         0,
         {"Already converted (hudconv wrote these bytes), so nothing was "
          "written. " +
          inOutput("a_p.gui.xml.bak") +
          " is not the original it was converted from"},
         {},
         false,
         {{"Output/a_p.gui.xml", kDefaultConverted}}}});
  // A file known by its backup alone, as an older hudconv or a deleted
  // record left it, is put in the record by the next run (not by a
  // preview), and so stays known once its backup is deleted too.
  const StoryStep recordDeleted = {
      [](const fs::path& home) { remove(home, "Output/.hudconv.record"); },
      {"--dry-run", "a_p.gui.xml"},
      0,
      {},
      {},
      false,
      {{"Output/.hudconv.record", kNoFile}}};
  play("a converted file missing from the record",
       {firstConversion(),
        recordDeleted,
        {{}, {"a_p.gui.xml"}, 0, {"Already converted, so nothing was"}},
        {[](const fs::path& home) { remove(home, "Output/a_p.gui.xml.bak"); },
         {"a_p.gui.xml"},
         0,
         {"Already converted (hudconv wrote these bytes)"},
         {},
         false,
         {{"Output/a_p.gui.xml", kDefaultConverted}}}});
  // A restore over a folder brings back no file that a game update
  // deleted, and says so; naming the file brings it back.
  play("a restore over a folder, one file deleted",
       {{[](const fs::path& home) {
           put(home, "Output/a_p.gui.xml", kLayout);
           put(home, "Output/b_p.gui.xml", kLayout);
         },
         {"{H}{/}Output"}},
        {[](const fs::path& home) { remove(home, "Output/a_p.gui.xml"); },
         {"--restore", "{H}{/}Output"},
         0,
         {"1 backup has no layout file beside it, left as it is: "
          "a_p.gui.xml.bak; name a file to bring it back: hudconv --restore "
          "NAME\n"},
         {},
         false,
         {{"Output/a_p.gui.xml", kNoFile},
          {"Output/a_p.gui.xml.bak", kLayout},
          {"Output/b_p.gui.xml", kLayout}}},
        {{},
         {"--restore", "a_p.gui.xml"},
         0,
         {},
         {},
         false,
         {{"Output/a_p.gui.xml", kLayout},
          {"Output/a_p.gui.xml.bak", kNoFile}}}});
  // Without its backup, a file named with --update is taken as its new
  // original, as the refusal of a plain run advises.
  play("a game update over a file whose backup was deleted",
       {firstConversion(),
        {[](const fs::path& home) {
           remove(home, "Output/a_p.gui.xml.bak");
           put(home, "Output/a_p.gui.xml", kPatched);
         },
         {"--update", "a_p.gui.xml"},
         0,
         {},
         {},
         false,
         {{"Output/a_p.gui.xml", kPatchedConverted},
          {"Output/a_p.gui.xml.bak", kPatched}}}});
  // Each folder's record knows its own files, and the files of one folder
  // are told whole, in the order named, before the next folder's.
  const StoryStep twoFolders = {
      [](const fs::path& home) {
        put(home, "Output/a_p.gui.xml", kLayout);
        put(home, "Output/b_p.gui.xml", kLayout);
        put(home, "Other/x.gui.xml", kLayout);
      },
      {"{H}{/}Output", "{H}{/}Other"},
      0,
      {"Input file is: " + inOutput("a_p.gui.xml") + "\nChanged",
       "Input file is: " + inOutput("b_p.gui.xml") + "\nChanged",
       "Input file is: {H}{/}Other{/}x.gui.xml\nChanged"},
      {},
      true};
  play("two folders, their backups deleted",
       {twoFolders,
        {[](const fs::path& home) {
           for (const char* backup :
                {"Output/a_p.gui.xml.bak", "Output/b_p.gui.xml.bak",
                 "Other/x.gui.xml.bak"})
             remove(home, backup);
         },
         {"{H}{/}Output", "{H}{/}Other"},
         0,
         {"3 files: 0 converted, 3 already converted"},
         {},
         false,
         {{"Output/a_p.gui.xml", kDefaultConverted},
          {"Other/x.gui.xml", kDefaultConverted}}}});
  // A damaged record is told once a run, also when another folder's file
  // comes between two of its own.
  play("a damaged record, read again after another folder",
       {{[](const fs::path& home) {
           put(home, "Output/a_p.gui.xml", kLayout);
           put(home, "Output/b_p.gui.xml", kLayout);
           put(home, "Other/x.gui.xml", kLayout);
           put(home, "Output/.hudconv.record",
               "hudconv record 1\n0 0 0 0 a_p.gui.xml\n");
         },
         {"--dry-run", "a_p.gui.xml", "{H}{/}Other{/}x.gui.xml", "b_p.gui.xml"},
         0,
         {},
         {"is damaged or of another version, and is ignored"}}});
  // A file that cannot be opened is told in its place, between the others.
  play("a file missing among others",
       {{[](const fs::path& home) {
           put(home, "Output/a_p.gui.xml", kLayout);
           put(home, "Output/b_p.gui.xml", kLayout);
         },
         {"a_p.gui.xml", "missing.gui.xml", "b_p.gui.xml"},
         2,
         {"Input file is: " + inOutput("a_p.gui.xml") + "\nChanged",
          "Input file is: " + inOutput("missing.gui.xml"),
          "hudconv: error: cannot open " + inOutput("missing.gui.xml"),
          "Input file is: " + inOutput("b_p.gui.xml") + "\nChanged"},
         {},
         true}});
  if (kOnWindows) return;  // the rest needs links
  // A link leads to the file that is converted: its backup and its record
  // are those of that file.
  play("a file behind a link, its backup deleted",
       {linkedConversion(),
        {[](const fs::path& home) { remove(home, "real/target.xml.bak"); },
         {"link_p.gui.xml"},
         0,
         {"Already converted (hudconv wrote these bytes)"},
         {},
         false,
         {{"real/target.xml", kDefaultConverted}}}});
  play("a file behind a link, its converted bytes copied as its backup",
       {linkedConversion(),
        {[](const fs::path& home) {
           copy(home, "real/target.xml", "real/target.xml.bak");
         },
         {"--restore", "link_p.gui.xml"},
         1,
         {"holds the file as hudconv converted it, not its original"},
         {},
         false,
         {{"real/target.xml", kDefaultConverted},
          {"real/target.xml.bak", kDefaultConverted}}}});
}

}  // namespace
