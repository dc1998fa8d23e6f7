// Makes the write-back fail at each step, and the disk and folders misbehave,
// and checks that the layout file always survives: exit status 1, a message
// with the reason, the file byte for byte as before, no stray file.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "command_line_fixture.h"

namespace {

// Runs the program linked to the shared C library, into which the shim is
// preloaded.
class FaultTest : public CommandLineTest {
 protected:
  void SetUp() override {
    CommandLineTest::SetUp();
    install(HUDCONV_PRELOADABLE);
  }

  // Starts the program on `name` and returns its id once Output holds
  // `entries` names, or 20 seconds have passed. The new record written
  // beside the old for a moment is not counted.
  int startUntil(std::size_t entries, const std::string& name,
                 const ProgramOptions& options) {
    const int pid = startProgram(program_, {name}, home_ / "stdout",
                                 home_ / "stderr", options);
    const auto give_up =
        std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (layoutEntries() < entries &&
           std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(layoutEntries(), entries) << "no temporary file appeared";
    return pid;
  }

  // The names in Output but for a new record being written, which may be
  // caught still empty or half written.
  std::size_t layoutEntries() const {
    const std::string_view header = "hudconv record ";
    std::size_t count = 0;
    for (const std::string& name : outputEntries()) {
      const std::string bytes = readBytes(output() / name);
      const std::string_view start =
          std::string_view(bytes).substr(0, header.size());
      count += header.starts_with(start) ? 0 : 1;
    }
    return count;
  }
};

// Runs the program with support/fault_shim.cpp preloaded; a slow write
// takes `writeDelayMs` where that is given.
ProgramOptions withFault(const std::string& fault, int writeDelayMs = 0) {
  ProgramOptions options;
  options.environment = {"LD_PRELOAD=" HUDCONV_FAULT_SHIM,
                         "HUDCONV_FAULT=" + fault};
  if (writeDelayMs > 0)
    options.environment.push_back("HUDCONV_FAULT_DELAY_MS=" +
                                  std::to_string(writeDelayMs));
  return options;
}

const std::string kName = "map_p.gui.xml";

// `text` `count` times over: a layout file of many controls.
std::string copies(const std::string& text, std::size_t count) {
  std::string result;
  result.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i) result += text;
  return result;
}

// One step of the replacement failing, with the file system giving the new
// file no name (as most do) or a name from the start: what the message says
// where, {folder} and the others filled in by the case.
struct FailingStep {
  const char* name;   // the case's name
  const char* fault;  // as HUDCONV_FAULT takes it
  const char* says;
  const char* saysWhenNamed;  // empty: the case needs an unnamed file
  const char* reason;         // the system's words
  // Fails after the original was kept, which is removed again.
  bool removesBackup;
};

const FailingStep kFailingSteps[] = {
    {"Create", "create",
     "cannot create a temporary file in {folder}: Too many open files",
     "cannot create a temporary file in {folder}: Too many open files",
     "Too many open files", false},
    {"Permissions", "chmod", "cannot set the permissions of {unnamed}",
     "cannot set the permissions of {named}", "Operation not permitted", false},
    {"Write", "write", "cannot write {unnamed}No space left on device",
     "cannot write {named}", "No space left on device", false},
    {"Flush", "flush", "cannot flush {unnamed}Input/output error",
     "cannot flush {named}", "Input/output error", false},
    // A file system that names it from the start has no such step.
    {"Name", "name", "cannot name {unnamed}Operation not permitted", "",
     "Operation not permitted", true},
    {"Close", "close", "cannot close {named}", "cannot close {named}",
     "Input/output error", true},
    {"Rename", "rename", "cannot rename {named}", "cannot rename {named}",
     "Invalid cross-device link", true},
    // A file system that has neither hard links nor room for a copy.
    {"NoLinkNoCopy", "no-link,no-copy", "{noBackup}", "{noBackup}",
     "to {backup}: Operation not permitted", false},
    // Neither the folder nor its file system can be flushed: the backup
    // might not survive a power cut, so nothing is renamed.
    {"FolderFlush", "folder-flush,syncfs",
     "cannot flush the folder {folder}: Input/output error",
     "cannot flush the folder {folder}: Input/output error",
     "Input/output error", true},
};

// A failing case is named by its step, not by its bytes.
void PrintTo(const FailingStep& step, std::ostream* out) { *out << step.name; }

class FailingStepTest : public FaultTest,
                        public ::testing::WithParamInterface<FailingStep> {
 protected:
  // `text` with the case's places filled in.
  std::string filled(std::string text) const {
    const std::string folder = output().string();
    const std::string named = folder + "/.hudconv-";
    const std::string backup = folder + "/" + kName + ".bak";
    const std::pair<std::string, std::string> places[] = {
        {"{noBackup}", "cannot keep the original as " + backup +
                           ": a second name: Operation not permitted; a "
                           "copy: cannot rename " +
                           named},
        // An unnamed new file is named by its folder, a named one by its
        // path.
        {"{unnamed}", "the temporary file in " + folder + ": "},
        {"{named}", named},
        {"{backup}", backup},
        {"{folder}", folder},
    };
    for (const auto& [place, value] : places)
      for (std::size_t at = text.find(place); at != std::string::npos;
           at = text.find(place, at + value.size()))
        text.replace(at, place.size(), value);
    return text;
  }
};

TEST_P(FailingStepTest, KeepsTheFileAndSaysWhy) {
  const FailingStep& step = GetParam();
  writeBytes(output() / kName, kLayout);
  const std::string backup = output().string() + "/" + kName + ".bak";
  const std::string err = expectFailureLeavesFile(kName, withFault(step.fault));
  EXPECT_NE(err.find(filled(step.says)), std::string::npos) << err;
  EXPECT_NE(err.find(filled(step.reason)), std::string::npos) << err;
  EXPECT_EQ(err.find("; the backup " + backup +
                     " made for it was removed again. ") != std::string::npos,
            step.removesBackup)
      << err;
  if (*step.saysWhenNamed == '\0') return;
  // Where the file system has no unnamed files, a named one is used.
  const std::string alone = expectFailureLeavesFile(
      kName, withFault(step.fault + std::string(",no-tmpfile")));
  EXPECT_NE(alone.find(filled(step.saysWhenNamed)), std::string::npos) << alone;
  EXPECT_NE(alone.find(filled(step.reason)), std::string::npos) << alone;
}

INSTANTIATE_TEST_SUITE_P(Steps, FailingStepTest,
                         ::testing::ValuesIn(kFailingSteps),
                         [](const ::testing::TestParamInfo<FailingStep>& step) {
                           return std::string(step.param.name);
                         });

// One step failing for one file of a run over a folder, whose files are
// committed together: that file is left as it was and told, the others are
// converted, and nothing is left behind; the next run converts what is left,
// once. A folder flush that fails fails each file whose backup it was to
// keep, and a run killed at the third rename leaves each file (old, none),
// (old, old) or (new, old).
struct BatchFault {
  const char* name;
  const char* fault;  // strikes the third time it would
  std::size_t left;   // files left unconverted
};

const BatchFault kBatchFaults[] = {
    // Too many files open: the batch is committed early, which lets go of
    // them, and the file is tried again.
    {"Create", "create", 0},
    {"Permissions", "chmod", 1},
    {"Write", "write", 1},
    {"Flush", "flush", 1},
    {"Name", "name", 1},
    {"Rename", "rename", 1},
    {"FlushNamed", "no-tmpfile,flush", 1},
    {"FolderFlush", "folder-flush,syncfs", 5},
    {"Killed", "kill-at-rename", 3},
};

void PrintTo(const BatchFault& fault, std::ostream* out) { *out << fault.name; }

class BatchFaultTest : public FaultTest,
                       public ::testing::WithParamInterface<BatchFault> {};

TEST_P(BatchFaultTest, OneFileFailsAndTheOthersAreConvertedOnce) {
  const BatchFault& fault = GetParam();
  const bool killed = std::string(fault.fault) == "kill-at-rename";
  std::set<std::string> files;
  for (int i = 1; i <= 5; ++i) {
    const std::string name = "hud" + std::to_string(i) + "_p.gui.xml";
    writeBytes(output() / name, kLayout);
    files.insert(name);
  }
  ProgramOptions options = withFault(fault.fault);
  options.environment.push_back("HUDCONV_FAULT_NTH=3");
  const Result r = run({output().string()}, options);
  EXPECT_EQ(r.status, killed ? -SIGKILL : fault.left > 0 ? 1 : 0) << r.err;
  std::size_t left = 0;
  std::set<std::string> expected = files;
  for (const std::string& name : files) {
    const fs::path backup = output() / (name + ".bak");
    const std::string bytes = readBytes(output() / name);
    if (fs::exists(backup)) {
      expected.insert(name + ".bak");
      EXPECT_SAME_BYTES(readBytes(backup), kLayout) << name;
    }
    if (bytes == kDefaultConverted) {
      EXPECT_TRUE(fs::exists(backup)) << name;
      continue;
    }
    EXPECT_SAME_BYTES(bytes, kLayout) << name;
    ++left;
    if (killed) continue;
    EXPECT_FALSE(fs::exists(backup)) << name;
    EXPECT_NE(r.err.find(pathOf(name) + " was left unchanged."),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(left, fault.left);
  // A kill leaves the new file it was about to rename, named; the run after
  // a while removes it.
  std::set<std::string> entries = outputEntries();
  if (killed)
    std::erase_if(entries, [](const std::string& name) {
      return name.rfind(".hudconv-", 0) == 0;
    });
  EXPECT_EQ(entries, expected);
  const Result again = run({output().string()});
  EXPECT_EQ(again.status, 0) << again.err;
  for (const std::string& name : files) {
    EXPECT_SAME_BYTES(readBytes(output() / name), kDefaultConverted) << name;
    EXPECT_SAME_BYTES(readBytes(output() / (name + ".bak")), kLayout) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, BatchFaultTest,
                         ::testing::ValuesIn(kBatchFaults),
                         [](const ::testing::TestParamInfo<BatchFault>& f) {
                           return std::string(f.param.name);
                         });

// When nothing fails: the new file gets the old one's owner (another user's
// where the tests run as root); the backup is on the disk before the new
// file is named and renamed, and the rename itself after it. Without hard
// links, the backup is a copy with the original's owner, mode and time. A
// folder that cannot be flushed has its file system flushed.
class StepOrderTest : public FaultTest,
                      public ::testing::WithParamInterface<const char*> {};

TEST_P(StepOrderTest, TheOriginalIsOnDiskBeforeTheRename) {
  const std::string fault = GetParam();
  const std::string log = (root_ / "steps").string();
  writeBytes(output() / kName, kLayout);
  (void)!::chown((output() / kName).c_str(), 65534, 65534);
  ::chmod((output() / kName).c_str(), 0640);
  struct stat before {};
  ASSERT_EQ(::stat((output() / kName).c_str(), &before), 0);
  ProgramOptions options = withFault(fault);
  options.environment.push_back("HUDCONV_FAULT_LOG=" + log);
  EXPECT_EQ(run({kName}, options).status, 0);
  EXPECT_SAME_BYTES(readBytes(output() / kName), kConverted);
  const std::string owner = "fchown " + std::to_string(before.st_uid) + " " +
                            std::to_string(before.st_gid) + "\n";
  const std::string naming =
      fault.find("no-tmpfile") == std::string::npos ? "name\n" : "";
  const std::string copied =
      fault.find("no-link") == std::string::npos ? "" : owner + naming;
  const std::string flushed =
      fault == "folder-flush" ? "syncfs\n" : "fsync-folder\n";
  std::string steps = owner + copied;
  steps += "backup\n";
  // The record of what is to be written, and the player's memory of it,
  // each named and renamed in place, and on disk with the backup before the
  // rename.
  steps += naming + "rename\n";
  steps += naming + "rename\n";
  steps += flushed;
  steps += naming;
  steps += "rename\n";
  steps += flushed;
  EXPECT_EQ(readBytes(log), steps);
  struct stat after {};
  ASSERT_EQ(::stat((output() / kName).c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  const fs::path backupFile = output() / (kName + ".bak");
  EXPECT_SAME_BYTES(readBytes(backupFile), kLayout);
  struct stat kept {};
  ASSERT_EQ(::stat(backupFile.c_str(), &kept), 0);
  EXPECT_EQ(kept.st_uid, before.st_uid);
  EXPECT_EQ(kept.st_mode, before.st_mode);
  EXPECT_EQ(kept.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(kept.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(outputEntries(), (std::set<std::string>{kName, kName + ".bak"}));
  // Putting the original back is flushed to the disk as well.
  fs::remove(log);
  EXPECT_EQ(run({"--restore", kName}, options).status, 0);
  EXPECT_SAME_BYTES(readBytes(output() / kName), kLayout);
  EXPECT_EQ(readBytes(log), "restore\n" + flushed);
  EXPECT_EQ(outputEntries(), std::set<std::string>{kName});
}

INSTANTIATE_TEST_SUITE_P(Ways, StepOrderTest,
                         ::testing::Values("", "no-tmpfile", "no-link",
                                           "no-link,no-tmpfile",
                                           "folder-flush"),
                         [](const auto& way) {
                           // "no-link,no-tmpfile" as NoLinkNoTmpfile.
                           std::string name;
                           bool start = true;
                           for (const char* c = way.param; *c; ++c) {
                             if (*c == '-' || *c == ',') {
                               start = true;
                             } else {
                               name += start
                                           ? static_cast<char>(std::toupper(*c))
                                           : *c;
                               start = false;
                             }
                           }
                           return name.empty() ? std::string("Plain") : name;
                         });

// Over a folder: every original is kept and on disk before the first
// rename, and the folder is flushed twice in all, not twice a file. Each
// folder of a run is flushed for its own files.
TEST_F(FaultTest, AFolderIsFlushedBeforeItsRenamesOnceForAllItsFiles) {
  const std::string log = (root_ / "steps").string();
  for (const char* name : {"a_p.gui.xml", "b_p.gui.xml", "c_p.gui.xml"})
    writeBytes(output() / name, kLayout);
  const fs::path other = root_ / "Other";
  fs::create_directories(other);
  writeBytes(other / "d_p.gui.xml", kLayout);
  ProgramOptions options = withFault("");
  options.environment.push_back("HUDCONV_FAULT_LOG=" + log);
  EXPECT_EQ(run({output().string(), other.string()}, options).status, 0);
  // The owners given to the new files aside.
  std::string steps = readBytes(log);
  for (std::size_t at = steps.find("fchown"); at != std::string::npos;
       at = steps.find("fchown"))
    steps.erase(at, steps.find('\n', at) + 1 - at);
  // The record and the player's memory, each made whole; the memory, once
  // made, is added to in place.
  const std::string made = "name\nrename\n";
  EXPECT_EQ(steps,
            "backup\nbackup\nbackup\n" + made + made +
                "fsync-folder\n"
                "name\nrename\nname\nrename\nname\nrename\nfsync-folder\n"
                "backup\n" +
                made + "fsync-folder\nname\nrename\nfsync-folder\n");
}

TEST_F(FaultTest, AFileChangedDuringTheConversionIsLeftAsItIsNow) {
  // Found before the rename, by the file's size or its time alone; or when
  // the rename fails because the other run holds the file, which it has
  // changed meanwhile.
  const struct {
    const char* fault;
    std::string after;
  } cases[] = {
      {"change-input", kLayout + "changed\r\n"},
      {"change-in-place", "X" + kLayout.substr(1)},
      {"change-keep-time", kLayout + "changed\r\n"},
      {"change-at-rename", kLayout + "changed\r\n"},
  };
  for (const auto& c : cases) {
    writeBytes(output() / kName, kLayout);
    // Older than any clock tick: a write now changes the time for sure.
    fs::last_write_time(
        output() / kName,
        fs::last_write_time(output() / kName) - std::chrono::hours(1));
    ProgramOptions options = withFault(c.fault);
    options.environment.push_back("HUDCONV_FAULT_FILE=" +
                                  (output() / kName).string());
    const Result r = run({kName}, options);
    EXPECT_EQ(r.status, 1);
    // Kept just before the rename, which the other run's write then hit,
    // the backup is removed again.
    const std::string backupNote = std::string(c.fault) == "change-at-rename"
                                       ? "; the backup " + pathOf(kName) +
                                             ".bak made for it was removed "
                                             "again"
                                       : "";
    EXPECT_NE(r.err.find(pathOf(kName) +
                         " changed during the conversion (another program "
                         "wrote to it), and was left as it is now" +
                         backupNote + "."),
              std::string::npos)
        << c.fault << ": " << r.err;
    EXPECT_SAME_BYTES(readBytes(output() / kName), c.after);
    EXPECT_EQ(outputEntries(), std::set<std::string>{kName});
  }
  // The backup of a file that is its original, removed or changed
  // meanwhile: the file would be left converted without its original.
  for (const std::string fault : {"remove-backup", "change-backup"}) {
    writeBytes(output() / kName, kLayout);
    writeBytes(output() / (kName + ".bak"), kLayout);
    ProgramOptions options = withFault(fault);
    options.environment.push_back("HUDCONV_FAULT_FILE=" +
                                  (output() / kName).string());
    const Result r = run({kName}, options);
    EXPECT_EQ(r.status, 1) << fault;
    EXPECT_NE(r.err.find(pathOf(kName) + ".bak changed during the conversion"),
              std::string::npos)
        << fault << ": " << r.err;
    EXPECT_SAME_BYTES(readBytes(output() / kName), kLayout) << fault;
    if (fault == "change-backup") {
      EXPECT_SAME_BYTES(readBytes(output() / (kName + ".bak")),
                        kLayout + "changed\r\n");
      fs::remove(output() / (kName + ".bak"));
    }
    EXPECT_EQ(outputEntries(), std::set<std::string>{kName}) << fault;
  }
  // A backup of other bytes, made meanwhile, is never taken for the
  // original, not even one of the same size: the file is left as it is.
  // Without hard links it appears just before the copy is named, and the
  // copy is removed.
  for (const std::string& layout : {kLayout, std::string("<ab/>\r\n")}) {
    for (const char* fault : {"backup-appears", "backup-appears,no-link"}) {
      writeBytes(output() / kName, layout);
      fs::last_write_time(
          output() / kName,
          fs::last_write_time(output() / kName) - std::chrono::hours(1));
      const Result r = run({kName}, withFault(fault));
      EXPECT_EQ(r.status, 1) << fault << ", " << layout.size() << " bytes";
      EXPECT_NE(
          r.err.find(pathOf(kName) + ".bak appeared during the conversion"),
          std::string::npos)
          << fault << ": " << r.err;
      EXPECT_SAME_BYTES(readBytes(output() / kName), layout) << fault;
      EXPECT_SAME_BYTES(readBytes(output() / (kName + ".bak")), "other\r\n")
          << fault;
      EXPECT_EQ(outputEntries(), (std::set<std::string>{kName, kName + ".bak"}))
          << fault;
      fs::remove(output() / (kName + ".bak"));
    }
  }
}

// Another program that changes a layout file or its backup between two
// looks of a run at it: what the run found first is never taken for what is
// there now, and the file is left as it is now.
TEST_F(FaultTest, AChangeBetweenTwoLooksAtAFileIsFoundAndKept) {
  const auto changing = [](const std::string& fault, const std::string& file) {
    ProgramOptions options = withFault(fault);
    options.environment.push_back("HUDCONV_FAULT_FILE={H}/Output/" + file);
    return options;
  };
  const std::string path = "{H}/Output/a_p.gui.xml";
  std::string tuned = kDefaultConverted;
  tuned.replace(tuned.find("367"), 3, "370");
  const StoryStep converted = {[](const fs::path& home) {
                                 writeBytes(home / "Output/a_p.gui.xml",
                                            kLayout);
                               },
                               {"a_p.gui.xml"}};
  const std::string again = " was left as it is now. Run hudconv again.\n";
  // Another run converted it since it was read: what was read is the backup
  // alone now, and no link.
  play("a file another run converts as it is read",
       {{converted.before,
         {"a_p.gui.xml"},
         1,
         {path + " changed during the conversion (another program wrote to "
                 "it), and was left as it is now.\n"},
         {},
         false,
         {{"Output/a_p.gui.xml", "<converted/>\r\n"},
          {"Output/a_p.gui.xml.bak", kLayout}},
         changing("converted-meanwhile", "a_p.gui.xml")}});
  // After the file was checked and before its backup is replaced by it.
  play("a new original written to as it is kept",
       {converted,
        {[](const fs::path& home) {
           writeBytes(home / "Output/a_p.gui.xml", kPatched);
         },
         {"--update", "a_p.gui.xml"},
         1,
         {path +
          " changed during the conversion (another program wrote to "
          "it), and was left as it is now; " +
          path + ".bak now holds the file as it is"},
         {},
         false,
         {{"Output/a_p.gui.xml", kPatched + "changed\r\n"},
          {"Output/a_p.gui.xml.bak", kPatched + "changed\r\n"}},
         changing("change-on-reopen", "a_p.gui.xml")}});
  // While a tuned file is judged, or a restore looks at the file it would
  // replace.
  play("a backup written to as its tuned file is judged",
       {converted,
        {[&](const fs::path& home) {
           writeBytes(home / "Output/a_p.gui.xml", tuned);
         },
         {"a_p.gui.xml"},
         1,
         {path +
          ".bak changed during the conversion, changed or removed by "
          "another program; " +
          path + again},
         {},
         false,
         {{"Output/a_p.gui.xml", tuned}},
         changing("change-on-reopen", "a_p.gui.xml.bak")}});
  play("a backup written to as it would be put back",
       {converted,
        {{},
         {"--restore", "a_p.gui.xml"},
         1,
         {"cannot restore " + path + ": " + path +
          ".bak changed during the conversion"},
         {},
         false,
         {{"Output/a_p.gui.xml", kDefaultConverted},
          {"Output/a_p.gui.xml.bak", kLayout + "changed\r\n"}},
         changing("change-on-reopen", "a_p.gui.xml.bak")}});
  // The backup of a file that is its original, in a run over many: the
  // others go on, and the summary gives the few words of the cause.
  play("a backup written to in a run over a folder",
       {{[](const fs::path& home) {
           writeBytes(home / "Output/a_p.gui.xml", kLayout);
           writeBytes(home / "Output/a_p.gui.xml.bak", kLayout);
           writeBytes(home / "Output/b_p.gui.xml", kLayout);
         },
         {"{H}/Output"},
         1,
         {path + again,
          "  not converted: " + path + " (changed during the conversion)\n"},
         {},
         false,
         {{"Output/a_p.gui.xml", kLayout},
          {"Output/b_p.gui.xml", kDefaultConverted}},
         changing("change-backup", "a_p.gui.xml")}});
}

// A step that fails for one file is told for that file alone: a folder
// flush that fails fails only the files whose backups it was to keep, and a
// restore whose rename fails keeps both the file and its backup.
TEST_F(FaultTest, AStepThatFailsFailsTheFilesItWasFor) {
  play("a folder flush that fails, one file with its backup",
       {{[](const fs::path& home) {
           writeBytes(home / "Output/a_p.gui.xml", kLayout);
           writeBytes(home / "Output/b_p.gui.xml", kLayout);
           writeBytes(home / "Output/b_p.gui.xml.bak", kLayout);
         },
         {"{H}/Output"},
         1,
         {"cannot flush the folder {H}/Output: Input/output error",
          "2 files: 1 converted, 0 already converted, 1 not converted"},
         {},
         false,
         {{"Output/a_p.gui.xml", kLayout},
          {"Output/a_p.gui.xml.bak", kNoFile},
          {"Output/b_p.gui.xml", kDefaultConverted}},
         withFault("folder-flush,syncfs")}});
  play("a restore whose rename fails",
       {{[](const fs::path& home) {
           writeBytes(home / "Output/a_p.gui.xml", kLayout);
         },
         {"a_p.gui.xml"}},
        {{},
         {"--restore", "a_p.gui.xml"},
         1,
         {"cannot restore {H}/Output/a_p.gui.xml: cannot put "
          "{H}/Output/a_p.gui.xml.bak back in place: Invalid cross-device "
          "link"},
         {},
         false,
         {{"Output/a_p.gui.xml", kDefaultConverted},
          {"Output/a_p.gui.xml.bak", kLayout}},
         withFault("restore-rename")}});
}

TEST_F(FaultTest, AnInterruptRemovesANamedTemporaryFile) {
  // Where the file system has no unnamed files, the new file has a name
  // from the start, and an interrupt while it is written must remove it.
  const std::size_t count = (1 << 20) / kLayout.size() + 1;
  const std::string layout = copies(kLayout, count);
  writeBytes(output() / kName, layout);
  // Sends `signal` to a run while its temporary file exists.
  const auto signalWhileWriting = [&](int signal,
                                      const ProgramOptions& options) {
    const int pid = startUntil(2, kName, options);
    ::kill(pid, signal);
    return waitForProgram(pid);
  };
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    EXPECT_EQ(signalWhileWriting(signal, withFault("no-tmpfile,slow-write")),
              -signal);
    EXPECT_SAME_BYTES(readBytes(output() / kName), layout);
    EXPECT_EQ(outputEntries(), std::set<std::string>{kName}) << signal;
  }
  // A signal that the caller ignores (nohup, trap '' HUP) stays ignored.
  ProgramOptions nohup = withFault("no-tmpfile,slow-write", 10);
  nohup.ignoredSignal = SIGHUP;
  EXPECT_EQ(signalWhileWriting(SIGHUP, nohup), 0);
  EXPECT_SAME_BYTES(readBytes(output() / kName), copies(kConverted, count));
  EXPECT_EQ(outputEntries(), (std::set<std::string>{kName, kName + ".bak"}));
}

// The signal that comes while a batch's new file is being named, at the
// moment the helper threads flush the others: its handler waits for the
// main thread, which removes that file too.
TEST_F(FaultTest, ASignalDuringABatchLeavesNoNewFileBehind) {
  // Which thread the system hands the signal to is its own choice: tried
  // often enough to see it handed to each.
  for (int attempt = 0; attempt < 6; ++attempt) {
    fs::remove_all(output());
    fs::create_directories(output());
    for (int i = 0; i < 6; ++i)
      writeBytes(output() / ("hud" + std::to_string(i) + "_p.gui.xml"),
                 copies(kLayout, 2000));
    const std::string nth = std::to_string(1 + attempt % 3);
    ProgramOptions options = withFault("term-at-name");
    options.environment.push_back("HUDCONV_FAULT_NTH=" + nth);
    EXPECT_EQ(run({utf8(output())}, options).status, -SIGTERM) << nth;
    for (const std::string& name : outputEntries())
      ASSERT_EQ(name.find(".hudconv-"), std::string::npos) << nth << name;
  }
}

TEST_F(FaultTest, FailuresWhileStreamingKeepTheFile) {
  // Beyond the first block read and the first range written back: the new
  // file is partly written when the failure comes.
  const std::size_t count = (9 << 20) / kLayout.size() + 1;
  const std::string layout = copies(kLayout, count);
  writeBytes(output() / kName, layout);
  // A slow writer lets every buffer of its ring wait to be written, so that
  // more wait behind the one that fails.
  const int delayMs = 10;
  const std::string writeBack =
      "cannot write the temporary file in " + output().string();
  const struct {
    const char* fault;
    std::string says;
  } cases[] = {
      {"read", "cannot read " + pathOf(kName) + ": Input/output error"},
      {"write-back", writeBack},
      {"write-back,slow-write", writeBack},
  };
  for (const auto& c : cases) {
    const std::string err =
        expectFailureLeavesFile(kName, withFault(c.fault, delayMs));
    EXPECT_NE(err.find(c.says), std::string::npos) << c.fault << ": " << err;
    EXPECT_NE(err.find("Input/output error"), std::string::npos) << err;
  }
  // A file system that cannot start the write-back early is no failure, nor
  // is a writer that falls behind: the converter waits for a free buffer.
  for (const char* fault : {"write-back-unsupported", "slow-write"}) {
    EXPECT_EQ(run({kName}, withFault(fault, delayMs)).status, 0) << fault;
    EXPECT_SAME_BYTES(readBytes(output() / kName), copies(kConverted, count))
        << fault;
    EXPECT_EQ(outputEntries(), (std::set<std::string>{kName, kName + ".bak"}));
    fs::remove(output() / (kName + ".bak"));
    writeBytes(output() / kName, layout);
  }
}

// Removes what a killed run left named in Output: temporary files, which a
// later run removes once they are a few seconds old.
void removeNamedLeftovers(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().rfind(".hudconv-", 0) == 0)
      fs::remove(entry.path());
}

// The record fails at each step of its update, or the run is killed just
// before its rename: no file is converted that it does not know, nothing
// of a new record is left, the failure is told once for the folder, and
// the next run converts the file once.
TEST_F(FaultTest, ARecordThatCannotBeWrittenLetsNoFileBeConverted) {
  const struct {
    const char* fault;
    const char* reason;  // null: the run is killed
  } cases[] = {
      {"record-lock", "cannot lock "},
      {"record-write", "No space left on device"},
      {"record-rename", "Invalid cross-device link"},
      {"kill-at-record", nullptr},
  };
  const fs::path backup = output() / (kName + ".bak");
  const fs::path record = output() / ".hudconv.record";
  const std::string once =
      " (hudconv's record of the files it converted there). hudconv converts "
      "no file that it cannot record";
  for (const auto& c : cases) {
    fs::remove(backup);
    fs::remove(record);
    writeBytes(output() / kName, kLayout);
    writeBytes(output() / "b_p.gui.xml", kLayout);
    const Result r = run({utf8(output())}, withFault(c.fault));
    EXPECT_NE(r.status, 0) << c.fault;
    if (c.reason) {
      EXPECT_EQ(r.status, 1) << c.fault;
      // Told once for the folder, with its two files.
      const std::size_t told = r.err.find(once);
      EXPECT_NE(told, std::string::npos) << c.fault << r.err;
      EXPECT_EQ(r.err.find(once, told + 1), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("the 2 layout files of "), std::string::npos)
          << r.err;
      EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.fault << r.err;
      EXPECT_SAME_BYTES(readBytes(output() / kName), kLayout) << c.fault;
      EXPECT_EQ(outputEntries(), (std::set<std::string>{kName, "b_p.gui.xml"}))
          << c.fault;
    } else {
      // Killed between keeping the originals and the first rename.
      removeNamedLeftovers(output());
      EXPECT_SAME_BYTES(readBytes(output() / kName), kLayout) << c.fault;
    }
    // Killed, it leaves at most the empty record it held, which tells
    // nothing.
    EXPECT_TRUE(!fs::exists(record) || (!c.reason && fs::is_empty(record)))
        << c.fault;
    const Result again = run({utf8(output())});
    EXPECT_EQ(again.status, 0) << c.fault << again.err;
    EXPECT_SAME_BYTES(readBytes(output() / kName), kConverted) << c.fault;
    EXPECT_SAME_BYTES(readBytes(backup), kLayout) << c.fault;
    // Known by the record alone from now on.
    fs::remove(backup);
    fs::remove(output() / "b_p.gui.xml.bak");
    EXPECT_EQ(run({utf8(output())}).status, 0) << c.fault;
    EXPECT_SAME_BYTES(readBytes(output() / kName), kConverted) << c.fault;
    fs::remove(output() / "b_p.gui.xml");
  }
  // A record that is there is added to in place: where that fails, it
  // keeps its bytes, and what was added is cut off again.
  for (const char* fault :
       {"record-lock", "record-write", "record-flush", "kill-at-record"}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(output()))
      fs::remove(entry.path());
    writeBytes(output() / "c_p.gui.xml", kLayout);
    ASSERT_EQ(run({"c_p.gui.xml"}).status, 0);
    const std::string kept = readBytes(record);
    writeBytes(output() / kName, kLayout);
    EXPECT_NE(run({kName}, withFault(fault)).status, 0) << fault;
    removeNamedLeftovers(output());
    EXPECT_SAME_BYTES(readBytes(output() / kName), kLayout) << fault;
    EXPECT_SAME_BYTES(readBytes(record), kept) << fault;
    EXPECT_EQ(run({kName}).status, 0) << fault;
    EXPECT_SAME_BYTES(readBytes(output() / kName), kConverted) << fault;
  }
}

// A run over a whole HUD killed at a step of a batch (the record, a rename
// over a file of the first batch or of the second), the
// same command again, and then every backup deleted as clutter: the record
// knows every file converted, and none moves twice.
TEST_F(FaultTest, AKilledRunAndDeletedBackupsMoveNothingTwice) {
  const int kFiles = 150;
  const struct {
    const char* fault;
    int nth;  // 0: the first time
  } cases[] = {
      {"kill-at-record", 0},   {"kill-at-rename", 1},   {"kill-at-rename", 50},
      {"kill-at-rename", 100}, {"kill-at-rename", 101}, {"kill-at-rename", 150},
  };
  const auto nameOf = [](int i) {
    return "hud" + std::to_string(1000 + i) + "_p.gui.xml";
  };
  for (const auto& c : cases) {
    const std::string what = std::string(c.fault) + " " + std::to_string(c.nth);
    fs::remove_all(output());
    fs::create_directories(output());
    for (int i = 0; i < kFiles; ++i) writeBytes(output() / nameOf(i), kLayout);
    ProgramOptions killed = withFault(c.fault);
    if (c.nth > 0)
      killed.environment.push_back("HUDCONV_FAULT_NTH=" +
                                   std::to_string(c.nth));
    EXPECT_NE(run({utf8(output())}, killed).status, 0) << what;
    removeNamedLeftovers(output());
    const Result again = run({utf8(output())});
    EXPECT_EQ(again.status, 0) << what << again.err;
    for (int i = 0; i < kFiles; ++i)
      fs::remove(output() / (nameOf(i) + ".bak"));
    const Result last = run({utf8(output())});
    EXPECT_EQ(last.status, 0) << what << last.err;
    EXPECT_NE(last.out.find("150 files: 0 converted, 150 already converted"),
              std::string::npos)
        << what << last.out;
    for (int i = 0; i < kFiles; ++i)
      ASSERT_SAME_BYTES(readBytes(output() / nameOf(i)), kDefaultConverted)
          << what << " " << nameOf(i);
    // The record deleted too: the player's memory still knows them.
    fs::remove(output() / ".hudconv.record");
    const Result remembered = run({utf8(output())});
    EXPECT_NE(
        remembered.out.find("150 files: 0 converted, 150 already converted"),
        std::string::npos)
        << what << remembered.out;
  }
}

// Two runs over two folders whose files are hard links of each other's,
// named in the other order: each takes the locks of the files in the same
// order, so that neither waits for what the other holds.
TEST_F(FaultTest, RunsOverHardLinksOfOneAnotherNeverWaitForEachOther) {
  const fs::path other = root_ / "Other";
  fs::create_directories(other);
  writeBytes(output() / "a_p.gui.xml", kLayout);
  writeBytes(output() / "b_p.gui.xml", kLayout + "<!-- b -->\r\n");
  // By name, Other holds b's file first and a's last.
  fs::create_hard_link(output() / "b_p.gui.xml", other / "x_p.gui.xml");
  fs::create_hard_link(output() / "a_p.gui.xml", other / "y_p.gui.xml");
  // Each waits with a file's lock held while its backup's copy is named;
  // the second is another player's, whose memory is another.
  const ProgramOptions slow = withFault("no-link,slow-backup");
  ProgramOptions another = slow;
  another.environment.push_back("XDG_STATE_HOME=" + utf8(root_ / "another"));
  const int first = startProgram(program_, {utf8(output())}, home_ / "stdout",
                                 home_ / "stderr0", slow);
  const int second = startProgram(program_, {utf8(other)}, home_ / "stdout",
                                  home_ / "stderr1", another);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(waitForProgram(first), 0) << readBytes(home_ / "stderr0");
  EXPECT_EQ(waitForProgram(second), 0) << readBytes(home_ / "stderr1");
  EXPECT_LT(std::chrono::steady_clock::now() - started,
            std::chrono::seconds(30));
  for (const fs::path& file : {output() / "a_p.gui.xml", other / "y_p.gui.xml"})
    EXPECT_SAME_BYTES(readBytes(file), kDefaultConverted) << file;
}

// Two consoles that convert one HUD at once: the run that comes second
// waits for each file the first holds, finds it converted, and says so;
// both end well, and every file is converted once.
TEST_F(FaultTest, TwoRunsOverOneFolderAtOnceBothEndWell) {
  const int kFiles = 40;
  for (int i = 0; i < kFiles; ++i)
    writeBytes(output() / ("hud" + std::to_string(i) + "_p.gui.xml"), kLayout);
  std::vector<int> runs;
  runs.reserve(2);
  for (int i = 0; i < 2; ++i)
    runs.push_back(startProgram(program_, {utf8(output())}, home_ / "stdout",
                                home_ / ("stderr" + std::to_string(i)),
                                withFault("slow-record")));
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(waitForProgram(runs[i]), 0)
        << readBytes(home_ / ("stderr" + std::to_string(i)));
  for (int i = 0; i < kFiles; ++i)
    EXPECT_SAME_BYTES(
        readBytes(output() / ("hud" + std::to_string(i) + "_p.gui.xml")),
        kDefaultConverted);
  const Result again = run({utf8(output())});
  EXPECT_NE(again.out.find("40 files: 0 converted, 40 already converted"),
            std::string::npos)
      << again.out;
}

// Runs that convert other files of one folder at once each put their entry
// in its record: none is lost, so that with the backups gone, every file is
// still known as converted.
TEST_F(FaultTest, RunsAtOnceInOneFolderKeepEachOthersRecord) {
  const int kRuns = 6;
  std::vector<int> runs;
  for (int i = 0; i < kRuns; ++i) {
    const std::string name = "file" + std::to_string(i) + "_p.gui.xml";
    writeBytes(output() / name, kLayout);
    runs.push_back(startProgram(program_, {name}, home_ / "stdout",
                                home_ / ("stderr" + std::to_string(i)),
                                withFault("slow-record")));
  }
  for (int i = 0; i < kRuns; ++i)
    EXPECT_EQ(waitForProgram(runs[i]), 0)
        << readBytes(home_ / ("stderr" + std::to_string(i)));
  for (int i = 0; i < kRuns; ++i)
    fs::remove(output() / ("file" + std::to_string(i) + "_p.gui.xml.bak"));
  const Result r = run({utf8(output())});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("6 files: 0 converted, 6 already converted"),
            std::string::npos)
      << r.out;
}

// An update killed at each of its steps: before the record, before the
// new original is kept, before the rename over the file; or failing at the
// rename. Each leaves the old pair, the new original with its new backup,
// or its conversion with it; the same command again converts it exactly
// once.
TEST_F(FaultTest, AnUpdateKilledAtAnyStepIsDoneOnceByTheNextRun) {
  const std::string& patched = kPatched;
  const std::string patchedConverted =
      "<GuiScreen Patched=\"1\">" + kConverted.substr(11);
  const fs::path backup = output() / (kName + ".bak");
  const struct {
    const char* fault;
    std::string file, backup;  // as the kill or the failure leaves them
    const char* says;          // where it fails: on standard error
  } cases[] = {
      {"kill-at-backup", patched, kLayout, nullptr},
      {"kill-at-backup,no-link", patched, kLayout, nullptr},
      {"kill-at-rename", patched, patched, nullptr},
      // The record, added to, is on its way to the disk before the new
      // original is kept.
      {"kill-at-record", patched, kLayout, nullptr},
      // The new original is kept in place of the old: it stays.
      {"rename", patched, patched,
       ".bak now holds the file as it is, as its new original; run hudconv "
       "again to convert it"},
  };
  for (const auto& c : cases) {
    const char* fault = c.fault;
    fs::remove(backup);
    fs::remove(output() / ".hudconv.record");
    writeBytes(output() / kName, kLayout);
    ASSERT_EQ(run({kName}).status, 0);
    writeBytes(output() / kName, patched);
    const Result r = run({"--update", kName}, withFault(fault));
    EXPECT_NE(r.status, 0) << fault;
    if (c.says) {
      EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    removeNamedLeftovers(output());
    EXPECT_SAME_BYTES(readBytes(output() / kName), c.file) << fault;
    EXPECT_SAME_BYTES(readBytes(backup), c.backup) << fault;
    EXPECT_EQ(run({"--update", kName}).status, 0) << fault;
    EXPECT_SAME_BYTES(readBytes(output() / kName), patchedConverted) << fault;
    EXPECT_SAME_BYTES(readBytes(backup), patched) << fault;
    EXPECT_EQ(outputEntries(), (std::set<std::string>{kName, kName + ".bak"}))
        << fault;
  }
}

TEST_F(FaultTest, AFileRemovedBeforeTheReplaceIsNotRecreated) {
  writeBytes(output() / kName, kLayout);
  const Result r = run({kName}, withFault("remove-input"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot find " + pathOf(kName) +
                       ": No such file or directory"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(outputEntries().empty());
}

TEST_F(FaultTest, AnOutputFolderThatCannotBeWrittenKeepsTheFile) {
  // The file is the user's own; only its folder is closed.
  writeBytes(output() / kName, kLayout);
  (void)!::chown((output() / kName).c_str(), 65534, 65534);
  fs::permissions(output() / kName,
                  fs::perms::owner_read | fs::perms::owner_write |
                      fs::perms::group_read | fs::perms::group_write |
                      fs::perms::others_read | fs::perms::others_write);
  fs::permissions(output(), fs::perms::owner_read | fs::perms::owner_exec |
                                fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read |
                                fs::perms::others_exec);
  const std::string err = expectFailureLeavesFile(kName, asAnotherUser());
  EXPECT_NE(err.find("cannot create a temporary file in " + output().string() +
                     ": Permission denied"),
            std::string::npos)
      << err;
}

TEST_F(FaultTest, ARestoreWaitsForTheLastStepsOfAConversion) {
  // The file is its original put back, so the conversion keeps the backup it
  // has; a restore that came between its last check and its rename would
  // put the original back just before the converted file replaced it, and
  // leave that without a backup.
  writeBytes(output() / kName, kLayout);
  writeBytes(output() / (kName + ".bak"), kLayout);
  // Named just before the rename, which waits.
  const int converting = startUntil(3, kName, withFault("slow-rename"));
  const Result restored = run({"--restore", kName});
  EXPECT_EQ(waitForProgram(converting), 0);
  EXPECT_EQ(restored.status, 0) << restored.err;
  EXPECT_SAME_BYTES(readBytes(output() / kName), kLayout);
  EXPECT_EQ(outputEntries(), std::set<std::string>{kName});
}

TEST_F(FaultTest, AConversionWaitsForTheLastStepsOfAnother) {
  // Its last look at the file comes once it holds the lock: one taken before
  // would miss the other run's rename, and put a second conversion of the
  // original over the converted file. It then finds the file converted by
  // the other run, and ends well.
  writeBytes(output() / kName, kLayout);
  const int first = startUntil(3, kName, withFault("slow-rename"));
  const Result second = run({kName});
  EXPECT_EQ(waitForProgram(first), 0);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.out.find("Already converted, so nothing was written."),
            std::string::npos)
      << second.out;
  EXPECT_EQ(second.err, "");
  EXPECT_SAME_BYTES(readBytes(output() / kName), kConverted);
  EXPECT_SAME_BYTES(readBytes(output() / (kName + ".bak")), kLayout);
  EXPECT_EQ(outputEntries(), (std::set<std::string>{kName, kName + ".bak"}));
}

TEST_F(FaultTest, ATemporaryFileThatAStoppedRunLeftIsRemoved) {
  // Only one that no running hudconv holds, made more than a few seconds
  // from now: with the clock an hour ahead, or a year behind.
  for (const std::string clock : {"clock-ahead", "clock-behind"}) {
    for (const auto& entry : fs::directory_iterator(output()))
      fs::remove(entry.path());
    writeBytes(output() / kName, kLayout);
    for (const char* temporary :
         {".hudconv-leftXX", ".hudconv-heldXX", ".hudconv-longer-name"})
      writeBytes(output() / temporary, kConverted);
    // Nor a link named like one: it is not followed to what it leads to.
    writeBytes(home_ / "old.txt", kConverted);
    fs::create_symlink("../old.txt", output() / ".hudconv-LnkAbc");
    const int held =
        ::open((output() / ".hudconv-heldXX").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_EQ(run({kName}, withFault(clock)).status, 0) << clock;
    ::close(held);
    EXPECT_EQ(outputEntries(), (std::set<std::string>{
                                   kName, kName + ".bak", ".hudconv-heldXX",
                                   ".hudconv-longer-name", ".hudconv-LnkAbc"}))
        << clock;
    EXPECT_SAME_BYTES(readBytes(home_ / "old.txt"), kConverted);
    // Also by a run that finds nothing to convert there, or restores.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{kName},
          std::vector<std::string>{"--restore", kName}}) {
      writeBytes(output() / ".hudconv-leftYY", kConverted);
      EXPECT_EQ(run(args, withFault(clock)).status, 0) << clock;
      EXPECT_FALSE(fs::exists(output() / ".hudconv-leftYY")) << clock;
    }
  }
}

TEST_F(FaultTest, ABackupsCopyIsHeldUntilItHasItsName) {
  // Without hard links the original is copied, with its old time; a run on
  // another file in the folder, an hour later by its clock, must not take
  // the copy for a leftover while it waits for its name.
  writeBytes(output() / kName, kLayout);
  writeBytes(output() / "other.gui.xml", kLayout);
  const int first = startUntil(3, kName, withFault("no-link,slow-backup"));
  const Result second = run({"other.gui.xml"}, withFault("clock-ahead"));
  EXPECT_EQ(waitForProgram(first), 0) << readBytes(home_ / "stderr");
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_SAME_BYTES(readBytes(output() / kName), kConverted);
  EXPECT_SAME_BYTES(readBytes(output() / (kName + ".bak")), kLayout);
}

// A reader's lock on the byte of `path` that hudconv locks, which anyone
// who may read the file can take; held until the descriptor is closed.
int lockAsAReader(const fs::path& path) {
  const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct flock byte {};
  byte.l_type = F_RDLCK;
  byte.l_whence = SEEK_SET;
  byte.l_start = std::int64_t{1} << 62;
  byte.l_len = 1;
  EXPECT_EQ(::fcntl(reader, F_OFD_SETLK, &byte), 0) << path;
  return reader;
}

TEST_F(FaultTest, NoOneButARunThatMayWriteTheFileKeepsAnotherWaiting) {
  // A reader's lock on a layout file: refused at once, in words a player
  // can act on.
  writeBytes(output() / kName, kLayout);
  const int reader = lockAsAReader(output() / kName);
  const auto start = std::chrono::steady_clock::now();
  std::string err = expectFailureLeavesFile(kName);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_NE(err.find("another program is reading " + pathOf(kName) +
                     " and keeps it locked against changes"),
            std::string::npos)
      << err;
  ::close(reader);
  // A stopped run holds it, and its folder, which a commit locks first: a
  // minute by the clock (here sixty times as fast), then plain words.
  const int stopped = startUntil(3, kName, withFault("slow-rename"));
  ::kill(stopped, SIGSTOP);
  const auto waited = std::chrono::steady_clock::now();
  const Result r = run({kName}, withFault("fast-clock"));
  EXPECT_LT(std::chrono::steady_clock::now() - waited,
            std::chrono::seconds(10));
  ::kill(stopped, SIGCONT);
  EXPECT_EQ(waitForProgram(stopped), 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("another run of hudconv (or another program) has been "
                       "working on " +
                       utf8(output()) + " for a minute and still holds it"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("that this run was converting was left unchanged"),
            std::string::npos)
      << r.err;
  EXPECT_SAME_BYTES(readBytes(output() / kName), kConverted);

  // Anyone who may read the folder may flock() it: no lock of hudconv's,
  // never waited for.
  const std::string other = "other_p.gui.xml";
  writeBytes(output() / other, kLayout);
  const int folder = ::open(output().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(folder, LOCK_EX), 0);
  const Result unheld = run({other}, withFault("fast-clock"));
  ::close(folder);
  EXPECT_EQ(unheld.status, 0) << unheld.err;
  EXPECT_SAME_BYTES(readBytes(output() / (other + ".bak")), kLayout);
  // The record, which holds the folder's lock, may be read by all: a
  // reader's lock on it is refused at once, not waited for.
  const std::string third = "third_p.gui.xml";
  writeBytes(output() / third, kLayout);
  const int recordReader = lockAsAReader(output() / ".hudconv.record");
  const auto refused = std::chrono::steady_clock::now();
  const Result held = run({third});
  EXPECT_LT(std::chrono::steady_clock::now() - refused,
            std::chrono::seconds(5));
  ::close(recordReader);
  EXPECT_EQ(held.status, 1);
  EXPECT_NE(held.err.find("another program is reading " +
                          utf8(output() / ".hudconv.record") +
                          " and keeps it locked against changes"),
            std::string::npos)
      << held.err;
  EXPECT_SAME_BYTES(readBytes(output() / third), kLayout);
  // A run holds the record it wrote from its rename on, to the end of its
  // commit: stopped while it replaces its file, it keeps another run in
  // the folder waiting, whichever file that converts.
  const std::string fourth = "fourth_p.gui.xml";
  writeBytes(output() / fourth, kLayout);
  const int slow = startProgram(program_, {fourth}, home_ / "stdout",
                                home_ / "stderr", withFault("slow-rename"));
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (readBytes(output() / ".hudconv.record").find(fourth) ==
             std::string::npos &&
         std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(slow, SIGSTOP);
  const Result waiting = run({third}, withFault("fast-clock"));
  ::kill(slow, SIGCONT);
  EXPECT_EQ(waitForProgram(slow), 0);
  EXPECT_EQ(waiting.status, 1) << waiting.err;
  EXPECT_NE(waiting.err.find("has been working on " + utf8(output()) +
                             " for a minute"),
            std::string::npos)
      << waiting.err;
}

TEST_F(FaultTest, AFileThatBecomesAPipeIsNeverWaitedFor) {
  writeBytes(output() / kName, kLayout);
  const int pid = startProgram(program_, {kName}, home_ / "stdout",
                               home_ / "stderr", withFault("pipe-at-write"));
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0 &&
         std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (std::chrono::steady_clock::now() >= give_up) {
    killProgram(pid);
    waitForProgram(pid);
    FAIL() << "the run waited on the pipe";
  }
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string err = readBytes(home_ / "stderr");
  EXPECT_NE(err.find("cannot write " + pathOf(kName) + ": not a regular file"),
            std::string::npos)
      << err;
  EXPECT_EQ(outputEntries(), std::set<std::string>{kName});
}

TEST_F(FaultTest, AnOutputFolderThatCannotBeReadIsFlushedAllTheSame) {
  // It may be written but not read, so it cannot be opened to be flushed:
  // the file system it is on is flushed instead, before the rename.
  writeBytes(output() / kName, kLayout);
  (void)!::chown((output() / kName).c_str(), 65534, 65534);
  fs::permissions(output() / kName,
                  fs::perms::owner_read | fs::perms::owner_write |
                      fs::perms::others_read | fs::perms::others_write);
  const fs::path log = root_ / "steps";
  writeBytes(log, "");
  fs::permissions(log, fs::perms::owner_read | fs::perms::owner_write |
                           fs::perms::others_read | fs::perms::others_write);
  const fs::perms open = fs::status(output()).permissions();
  fs::permissions(output(), fs::perms::owner_write | fs::perms::owner_exec |
                                fs::perms::group_write | fs::perms::group_exec |
                                fs::perms::others_write |
                                fs::perms::others_exec);
  ProgramOptions options = withFault("");
  options.asOtherUser = true;
  options.environment.push_back("HUDCONV_FAULT_LOG=" + log.string());
  const Result r = run({kName}, options);
  fs::permissions(output(), open);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_SAME_BYTES(readBytes(output() / kName), kConverted);
  EXPECT_SAME_BYTES(readBytes(output() / (kName + ".bak")), kLayout);
  // The new file is handed the old one's owner first; the record, which
  // cannot be locked in such a folder, is written all the same, offered the
  // folder's group (which this user, of another, cannot give it).
  const std::string steps = readBytes(log);
  const std::string flushes =
      "fchown 4294967295 0\n"
      "backup\nname\nrename\nsyncfs\nname\nrename\nsyncfs\n";
  EXPECT_EQ(steps.substr(0, 7), "fchown ") << steps;
  EXPECT_EQ(steps.substr(steps.find('\n') + 1), flushes);
}

TEST_F(FaultTest, AFullDiskKeepsTheFile) {
  // A 64 KiB file system holds the layout file but not a second copy.
  if (::mount("hudconv-test", output().c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                 << "); this needs root with CAP_SYS_ADMIN";
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount(path.c_str()); }
  } unmount{output().string()};

  std::string layout;
  while (layout.size() < 40000) layout += kLayout;
  writeBytes(output() / kName, layout);
  ASSERT_SAME_BYTES(readBytes(output() / kName), layout);
  const std::string err = expectFailureLeavesFile(kName);
  EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
}

}  // namespace
