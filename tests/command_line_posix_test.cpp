// Command-line cases that only POSIX systems can set up: a file-size limit,
// permission bits and symbolic links.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <vector>

#include "command_line_fixture.h"
#include "driver/content_hash.h"
#include "driver/pending_file.h"
#include "driver/record.h"

namespace {

using PendingFileTest = ScratchTest;

// A backup's copy and a new layout file at once, and more: every named one
// goes when the run is stopped.
TEST_F(PendingFileTest, EveryNamedPendingFileGoesOnASignal) {
  const std::string folder = root_.string();
  EXPECT_EXIT(
      {
        prepareProcess();
        std::vector<std::unique_ptr<PendingFile>> files;
        for (int i = 0; i < 3; ++i) {
          files.push_back(std::make_unique<PendingFile>(folder));
          files.back()->nameAndClose();
        }
        std::raise(SIGTERM);
      },
      ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(CommandLineTest, SignalsNeverDecideTheOutcome) {
  // A file-size limit stops the converted text, not the short messages: a
  // write error, not the signal that would end the program.
  std::string layout;
  while (layout.size() < 16384) layout += kLayout;
  writeBytes(output() / "map_p.gui.xml", layout);
  ProgramOptions limited;
  limited.fileSize = 8192;
  const std::string err = expectFailureLeavesFile("map_p.gui.xml", limited);
  EXPECT_NE(err.find("File too large"), std::string::npos) << err;

  // `hudconv map_p.gui.xml | true`: nobody reads the report.
  writeBytes(output() / "map_p.gui.xml", kLayout);
  ProgramOptions unread;
  unread.closedOutput = true;
  EXPECT_EQ(run({"map_p.gui.xml"}, unread).status, 0);
  EXPECT_SAME_BYTES(readBytes(output() / "map_p.gui.xml"), kConverted);
}

TEST_F(CommandLineTest, OnlyRegularFilesAreOpenedAndNeverWaitedFor) {
  // A pipe would block the read, a device be replaced by a file or read
  // without end. Run as another user, so that a fault here cannot replace
  // the machine's own devices.
  ASSERT_EQ(::mkfifo((output() / "fifo.xml").c_str(), 0644), 0);
  fs::create_symlink("/dev/null", output() / "null.xml");
  fs::create_symlink("/dev/zero", output() / "zero.xml");
  // Run where a file of each name lies: only a name that is not found
  // below Output is looked for here.
  ProgramOptions inHome = asAnotherUser();
  inHome.workingFolder = home_;
  for (const std::string name : {"fifo.xml", "null.xml", "zero.xml"}) {
    writeBytes(home_ / name, kLayout);
    const Result r = run({name}, inHome);
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_EQ(r.err, "hudconv: error: cannot open " + pathOf(name) +
                         ": not a regular file.\n");
  }
  for (const std::string name : {"fifo.xml", "null.xml", "zero.xml"}) {
    EXPECT_SAME_BYTES(readBytes(home_ / name), kLayout) << name;
  }
  EXPECT_TRUE(fs::is_fifo(output() / "fifo.xml"));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  // A pipe here, where Output holds no file of its name: what is told is
  // the file missing from Output.
  ASSERT_EQ(::mkfifo((home_ / "piped.xml").c_str(), 0644), 0);
  const Result r = run({"piped.xml"}, inHome);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("hudconv: error: cannot open " + pathOf("piped.xml") +
                            ": No such file or directory. The layout file "
                            "must be in the folder",
                        0),
            0u)
      << r.err;
  EXPECT_TRUE(fs::is_fifo(home_ / "piped.xml"));
}

TEST_F(CommandLineTest, KeepsPermissionsAndSymbolicLinks) {
  writeBytes(output() / "map_p.gui.xml", kLayout);
  fs::permissions(output() / "map_p.gui.xml", fs::perms::owner_read |
                                                  fs::perms::owner_write |
                                                  fs::perms::group_read);
  fs::create_directory(home_ / "real");
  writeBytes(home_ / "real" / "target.xml", kLayout);
  fs::create_symlink("../real/target.xml", output() / "link_p.gui.xml");

  EXPECT_EQ(run({"map_p.gui.xml"}).status, 0);
  EXPECT_SAME_BYTES(readBytes(output() / "map_p.gui.xml"), kConverted);
  EXPECT_EQ(
      fs::status(output() / "map_p.gui.xml").permissions(),
      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  EXPECT_EQ(run({"link_p.gui.xml"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(output() / "link_p.gui.xml"));
  EXPECT_SAME_BYTES(readBytes(home_ / "real" / "target.xml"),
                    kDefaultConverted);
  // The original is kept beside the file the link points to, and so is the
  // record of what was written there.
  EXPECT_SAME_BYTES(readBytes(home_ / "real" / "target.xml.bak"), kLayout);
  EXPECT_TRUE(fs::exists(home_ / "real" / ".hudconv.record"));
  EXPECT_EQ(std::distance(fs::directory_iterator(home_ / "real"),
                          fs::directory_iterator()),
            3);
  // And put back there.
  EXPECT_EQ(run({"--restore", "link_p.gui.xml"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(output() / "link_p.gui.xml"));
  EXPECT_SAME_BYTES(readBytes(home_ / "real" / "target.xml"), kLayout);
  EXPECT_EQ(std::distance(fs::directory_iterator(home_ / "real"),
                          fs::directory_iterator()),
            2);
}

TEST_F(CommandLineTest, WhatTheFolderRefusesIsFoundBeforeAnythingIsMade) {
  // A file of root's that anyone may write, in a folder anyone may write:
  // sticky, as /tmp or a shared one, the folder lets only the owner of a
  // file replace it; not sticky, the converted file would belong to whoever
  // ran hudconv, and the owner could no longer write it. Nothing is made,
  // not even the backup.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run as another user";
  const std::string name = "map_p.gui.xml";
  writeBytes(output() / name, kLayout);
  fs::permissions(output() / name, fs::perms::all & ~fs::perms::owner_exec &
                                       ~fs::perms::group_exec &
                                       ~fs::perms::others_exec);
  const struct {
    fs::perms folder;
    std::string says;
  } rows[] = {
      {fs::perms::all | fs::perms::sticky_bit,
       "cannot replace " + pathOf(name) +
           ": it belongs to another user, and its folder lets only the owner "
           "of a file replace it."},
      {fs::perms::all, "cannot convert " + pathOf(name) +
                           ": it belongs to root, and the converted file "
                           "would belong to you instead"},
  };
  for (const auto& row : rows) {
    fs::permissions(output(), row.folder);
    const std::string err = expectFailureLeavesFile(name, asAnotherUser());
    EXPECT_NE(err.find(row.says), std::string::npos) << err;
  }
  // A name whose backup's name would be too long for the file system.
  const std::string longName = std::string(245, 'x') + ".gui.xml";
  writeBytes(output() / longName, kLayout);
  const std::string err = expectFailureLeavesFile(longName);
  EXPECT_NE(err.find("cannot keep the original of " + pathOf(longName) +
                     " as " + pathOf(longName) +
                     ".bak: that name is too long for the file system. Give " +
                     pathOf(longName) + " a shorter name"),
            std::string::npos)
      << err;
}

TEST_F(CommandLineTest, ATemporaryFileIsAsOldAsWhenItWasMade) {
  // A backup's copy takes the original's modification time while it waits
  // for its name: a time that says little of a leftover's age. Those made
  // an hour ago are removed in FaultTest.ATemporaryFileThatAStoppedRunLeft.
  const std::string name = "map_p.gui.xml";
  writeBytes(output() / name, kLayout);
  writeBytes(output() / ".hudconv-copyXX", kConverted);
  fs::last_write_time(output() / ".hudconv-copyXX",
                      fs::last_write_time(output() / ".hudconv-copyXX") -
                          std::chrono::hours(1));
  EXPECT_EQ(run({name}).status, 0);
  EXPECT_EQ(outputEntries(),
            (std::set<std::string>{name, name + ".bak", ".hudconv-copyXX"}));
}

TEST_F(CommandLineTest, ALinkIsFollowedOnlyForItsMakerOrTheOwnerOfItsFile) {
  // Anyone who may write Output could plant a link to a private file of
  // root's there: root's folder run passes it over, and refuses it named.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to own links as others";
  fs::create_directory(home_ / "private");
  fs::permissions(home_ / "private", fs::perms::owner_all);
  writeBytes(home_ / "private" / "settings.xml", kLayout);
  fs::create_symlink("../private/settings.xml", output() / "zz.gui.xml");
  ASSERT_EQ(::lchown((output() / "zz.gui.xml").c_str(), 65534, 65534), 0);
  // A link of that user's to a file of their own is followed.
  writeBytes(home_ / "theirs.xml", kLayout);
  ASSERT_EQ(::chown((home_ / "theirs.xml").c_str(), 65534, 65534), 0);
  fs::create_symlink("../theirs.xml", output() / "own.gui.xml");
  ASSERT_EQ(::lchown((output() / "own.gui.xml").c_str(), 65534, 65534), 0);
  writeBytes(output() / "a.gui.xml", kLayout);

  Result r = run({output().string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("hudconv: warning: passed over " + pathOf("zz.gui.xml") +
                       ": a symbolic link that another user made"),
            std::string::npos)
      << r.err;
  EXPECT_SAME_BYTES(readBytes(output() / "a.gui.xml"), kDefaultConverted);
  EXPECT_SAME_BYTES(readBytes(home_ / "theirs.xml"), kDefaultConverted);
  EXPECT_SAME_BYTES(readBytes(home_ / "private" / "settings.xml"), kLayout);
  EXPECT_FALSE(fs::exists(home_ / "private" / "settings.xml.bak"));

  r = run({"zz.gui.xml"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot open " + pathOf("zz.gui.xml") +
                       ": it is a symbolic link that another user made"),
            std::string::npos)
      << r.err;
  EXPECT_SAME_BYTES(readBytes(home_ / "private" / "settings.xml"), kLayout);
}

TEST_F(CommandLineTest, AFileNamedAsAPatternIsTakenAndThatIsTold) {
  writeBytes(output() / "*.gui.xml", kLayout);
  writeBytes(output() / "a.gui.xml", kLayout);
  const Result r = run({"*.gui.xml"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_SAME_BYTES(readBytes(output() / "*.gui.xml"), kDefaultConverted);
  EXPECT_SAME_BYTES(readBytes(output() / "a.gui.xml"), kLayout);
  EXPECT_NE(r.out.find("Took the file named " + pathOf("*.gui.xml") +
                       " itself. To convert every file that the pattern "
                       "matches, name their folder instead (hudconv " +
                       output().string() + ").\n"),
            std::string::npos)
      << r.out;
}

}  // namespace

// The folder's record knows every file by its own name, as Linux tells
// names apart: one with a line break, and two that differ in letter case
// alone. With the backups and the player's memory gone, it still tells
// each converted.
TEST_F(CommandLineTest, TheRecordKnowsEveryNameAsTheSystemTellsThem) {
  const std::vector<std::string> names = {"a\nb_p.gui.xml", "c\rd_p.gui.xml",
                                          "MAP_P.gui.xml", "map_p.gui.xml"};
  for (const std::string& name : names)
    writeBytes(output() / name, name == "map_p.gui.xml" ? kPatched : kLayout);
  ASSERT_EQ(run({utf8(output())}).status, 0);
  std::map<std::string, std::string> converted;
  for (const std::string& name : names) {
    converted[name] = readBytes(output() / name);
    fs::remove(output() / (name + ".bak"));
  }
  fs::remove_all(root_ / "profile");
  const Result again = run({utf8(output())});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("4 files: 0 converted, 4 already converted"),
            std::string::npos)
      << again.out;
  for (const std::string& name : names)
    EXPECT_SAME_BYTES(readBytes(output() / name), converted[name]) << name;
}

// Batches as large as the limit on open files allows: wherever one file
// alone converts, every file of a folder does, also where the program was
// started with files open that count against the limit.
TEST_F(CommandLineTest, ALowLimitOnOpenFilesMakesSmallerBatches) {
  const std::pair<std::uint64_t, int> limits[] = {{32, 0}, {128, 0}, {64, 30}};
  for (const auto& [limit, inherited] : limits) {
    for (int i = 0; i < 60; ++i)
      writeBytes(output() / ("hud" + std::to_string(i) + "_p.gui.xml"),
                 kLayout);
    ProgramOptions options;
    options.openFiles = limit;
    options.inheritedFiles = inherited;
    const Result r = run({utf8(output())}, options);
    EXPECT_EQ(r.status, 0) << limit << r.err;
    EXPECT_NE(r.out.find("60 files: 60 converted"), std::string::npos)
        << limit << r.out;
    fs::remove_all(output());
    fs::create_directories(output());
  }
}

// A record that another user wrote is not taken for the player's: it could
// say that hudconv wrote an original, which would then never be converted.
TEST_F(CommandLineTest, AnotherUsersRecordIsIgnored) {
  writeBytes(output() / "a_p.gui.xml", kLayout);
  ContentHash hash;
  hash.feed(kLayout.data(), kLayout.size());
  const fs::path record = output() / ".hudconv.record";
  writeBytes(record,
             recordText({{"a_p.gui.xml", hash.digest(), hash.digest()}}));
  if (::chown(record.c_str(), 12345, 12345) != 0)
    GTEST_SKIP() << "only root gives a file to another user";
  const Result r = run({"a_p.gui.xml"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_SAME_BYTES(readBytes(output() / "a_p.gui.xml"), kDefaultConverted);
  EXPECT_NE(r.err.find(".hudconv.record (a record of the files hudconv "
                       "converted there) belongs to another user"),
            std::string::npos)
      << r.err;
}

// A folder that two players share: the record that one writes, the other
// may read and add to; one the other may not read is never written over,
// and the files are left until it can be read or is moved away.
TEST_F(CommandLineTest, ARecordIsForEveryoneWhoMayWriteTheFiles) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
  fs::permissions(output(), fs::perms::all);
  for (const char* name : {"a_p.gui.xml", "b_p.gui.xml"}) {
    writeBytes(output() / name, kLayout);
    fs::permissions(output() / name, fs::perms::all & ~fs::perms::owner_exec &
                                         ~fs::perms::group_exec &
                                         ~fs::perms::others_exec);
  }
  // The other player's own file.
  ASSERT_EQ(::chown((output() / "a_p.gui.xml").c_str(), 65534, 65534), 0);
  ProgramOptions other;
  other.asOtherUser = true;
  const fs::path record = output() / ".hudconv.record";
  // Another player's record, which only its owner may read.
  writeBytes(record,
             recordText({{"c_p.gui.xml", Digest{1, {}, 1}, Digest{2, {}, 2}}}));
  fs::permissions(record, fs::perms::owner_read | fs::perms::owner_write);
  const std::string before = readBytes(record);
  const Result refused = run({"a_p.gui.xml"}, other);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("cannot read " + utf8(record) +
                             ": Permission denied (hudconv's record"),
            std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("Let this user read it, or move it away"),
            std::string::npos)
      << refused.err;
  EXPECT_SAME_BYTES(readBytes(output() / "a_p.gui.xml"), kLayout);
  EXPECT_SAME_BYTES(readBytes(record), before);
  // The record one player writes, the other reads and keeps.
  fs::remove(record);
  ASSERT_EQ(run({"b_p.gui.xml"}).status, 0);
  const Result shared = run({"a_p.gui.xml"}, other);
  EXPECT_EQ(shared.status, 0) << shared.err;
  std::vector<RecordEntry> entries;
  ASSERT_TRUE(parseRecord(readBytes(record), entries));
  EXPECT_EQ(entries.size(), 2u);
}
