// What a run leaves when it is killed at any moment, or races other runs on
// the same file: the layout file holds its old bytes, or its old bytes
// converted once with the old ones kept as its backup; nothing else, and
// nothing else beside it.

#include <algorithm>
#include <chrono>
#include <iostream>
#include <random>
#include <thread>

#include "command_line_fixture.h"
#include "convert/line_rewriter.h"
#include "convert/rule_table.h"
#include "support/convert_in_pieces.h"

namespace {

const std::string kName = "map_p.gui.xml";

std::string layoutOf(std::size_t bytes) {
  std::string layout;
  while (layout.size() < bytes) layout += kLayout;
  return layout;
}

// The layout converted once, as a run makes it.
std::string converted(const std::string& text) {
  buildRuleTable();
  inputFileName = kName;
  return convertInPieces(text, text.size() + 1, LayoutConverter::kBlockSize);
}

TEST_F(CommandLineTest,
       AKilledRunLeavesTheOldFileOrItConvertedOnceWithItsBackup) {
  const std::string before = layoutOf(20 << 20);
  writeBytes(output() / kName, before);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(run({kName}).status, 0);
  const auto whole = std::chrono::steady_clock::now() - start;
  const std::string after = readBytes(output() / kName);
  ASSERT_SAME_BYTES(after, converted(before));

  // Kills spread from start-up to beyond the end of a whole run.
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<long> moment(
      0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count() *
             13 / 10);
  const fs::path backup = output() / (kName + ".bak");
  int old = 0;
  int kept = 0;
  int replaced = 0;
  int named = 0;
  for (int kill = 0; kill < 30; ++kill) {
    fs::remove(backup);
    writeBytes(output() / kName, before);
    const int pid =
        startProgram(program_, {kName}, home_ / "stdout", home_ / "stderr");
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    killProgram(pid);
    waitForProgram(pid);
    // The old file without a backup, the old file with one, or the new
    // file with one; the backup always the old file.
    const std::string now = readBytes(output() / kName);
    const bool backedUp = fs::exists(backup);
    if (backedUp) {
      ASSERT_SAME_BYTES(readBytes(backup), before) << kill;
    }
    ASSERT_TRUE(now == before || (now == after && backedUp)) << "kill " << kill;
    (now == after ? replaced : backedUp ? kept : old) += 1;
    for (const std::string& entry : outputEntries()) {
      if (entry == kName || entry == kName + ".bak") continue;
      // The record's new text, named just before its own rename.
      if (readBytes(output() / entry).rfind("hudconv record ", 0) == 0) {
        fs::remove(output() / entry);
        continue;
      }
      // Named a few microseconds before the rename: it is complete then. A
      // file that was still being written must never have had a name.
      EXPECT_SAME_BYTES(readBytes(output() / entry), after) << entry;
      fs::remove(output() / entry);
      ++named;
    }
    // Whatever the moment, the next run leaves the file converted once.
    ASSERT_EQ(run({kName}).status, 0) << kill;
    ASSERT_SAME_BYTES(readBytes(output() / kName), after) << kill;
    ASSERT_SAME_BYTES(readBytes(backup), before) << kill;
  }
  std::cout << "30 kills: " << old << " before the backup, " << kept
            << " between the backup and the rename, " << replaced
            << " after the rename; " << named
            << " left a named copy (killed between naming and renaming)\n";
  // Without a kill before the rename, nothing here was about a conversion
  // cut short.
  EXPECT_GT(old, 0);
}

TEST_F(CommandLineTest, RunsAtOnceOnOneFileConvertItOnce) {
  // Conversions and restores at once: whatever their order, the file is
  // never converted twice nor left converted without its original, and the
  // next run leaves it converted once.
  const std::string before = layoutOf(1 << 20);
  const std::string after = converted(before);
  const fs::path backup = output() / (kName + ".bak");
  const int kRuns = 8;
  int succeeded = 0;
  int refused = 0;
  int restored = 0;
  for (int round = 0; round < 4; ++round) {
    fs::remove(backup);
    writeBytes(output() / kName, before);
    // From the second round on, the file starts converted.
    if (round > 0) {
      ASSERT_EQ(run({kName}).status, 0);
    }
    std::vector<int> runs;
    runs.reserve(kRuns);
    const auto restores = [&](int i) { return round > 0 && i % 3 == 1; };
    for (int i = 0; i < kRuns; ++i) {
      std::vector<std::string> args{kName};
      if (restores(i)) args.insert(args.begin(), "--restore");
      runs.push_back(startProgram(program_, args, root_ / "stdout",
                                  root_ / ("stderr" + std::to_string(i))));
    }
    for (int i = 0; i < kRuns; ++i) {
      const int status = waitForProgram(runs[i]);
      const std::string err = readBytes(root_ / ("stderr" + std::to_string(i)));
      if (restores(i)) {
        // Restored, or found no backup left to restore; on Windows also
        // refused while another run holds the file open.
        const bool held = kOnWindows && status == 1 &&
                          err.find("back in place") != std::string::npos;
        EXPECT_TRUE(status == 0 || held ||
                    (status == 2 && err.find("no backup") != std::string::npos))
            << status << " " << err;
        restored += status == 0;
        continue;
      }
      if (status == 0) {
        ++succeeded;
        continue;
      }
      ++refused;
      // Windows will not replace a file that another run holds open, nor
      // open a backup that a restore is renaming, nor, for a moment, the
      // file that a restore renames its backup over (status 2).
      const bool unopened =
          kOnWindows && status == 2 &&
          err.find("cannot open ") != std::string::npos &&
          (err.find("Sharing violation") != std::string::npos ||
           err.find("Access denied") != std::string::npos);
      if (unopened) continue;
      EXPECT_EQ(status, 1) << err;
      const bool changed =
          err.find("changed during the conversion") != std::string::npos;
      const bool held =
          kOnWindows && (err.find("cannot rename") != std::string::npos ||
                         err.find("Sharing violation") != std::string::npos);
      EXPECT_TRUE(changed || held) << err;
    }
    // The original, with no backup or its own; or converted once, with it.
    const std::string now = readBytes(output() / kName);
    if (now != before) {
      EXPECT_SAME_BYTES(now, after) << "round " << round;
      EXPECT_SAME_BYTES(readBytes(backup), before) << "round " << round;
    } else if (fs::exists(backup)) {
      EXPECT_SAME_BYTES(readBytes(backup), before) << "round " << round;
    }
    EXPECT_EQ(run({kName}).status, 0) << "round " << round;
    EXPECT_SAME_BYTES(readBytes(output() / kName), after) << "round " << round;
    EXPECT_SAME_BYTES(readBytes(backup), before) << "round " << round;
    EXPECT_EQ(outputEntries(), (std::set<std::string>{kName, kName + ".bak"}));
  }
  std::cout << "32 runs at once, 8 a round: " << succeeded
            << " converted or found it converted, " << refused
            << " were refused, " << restored << " restored\n";
}

}  // namespace
