// What a run leaves when it is killed at any moment, or races other runs on
// the same file: the layout file holds its old or its new bytes, never
// anything else, and nothing is left beside it.

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

// The layout converted `times` times over, as runs one after another make it.
std::string convertedTimes(std::string text, int times) {
  buildRuleTable();
  inputFileName = kName;
  for (int i = 0; i < times; ++i)
    text = convertInPieces(text, text.size() + 1, LayoutConverter::kBlockSize);
  return text;
}

TEST_F(CommandLineTest, AKilledRunLeavesTheOldOrTheNewFileAndNothingElse) {
  const std::string before = layoutOf(20 << 20);
  writeBytes(output() / kName, before);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(run({kName}).status, 0);
  const auto whole = std::chrono::steady_clock::now() - start;
  const std::string after = readBytes(output() / kName);
  ASSERT_SAME_BYTES(after, convertedTimes(before, 1));

  // Kills spread from start-up to beyond the end of a whole run.
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<long> moment(
      0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count() *
             13 / 10);
  int old = 0;
  int replaced = 0;
  int named = 0;
  for (int kill = 0; kill < 30; ++kill) {
    writeBytes(output() / kName, before);
    const int pid =
        startProgram(program_, {kName}, home_ / "stdout", home_ / "stderr");
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    killProgram(pid);
    waitForProgram(pid);
    const std::string now = readBytes(output() / kName);
    ASSERT_TRUE(now == before || now == after) << "kill " << kill;
    (now == before ? old : replaced) += 1;
    for (const std::string& entry : outputEntries()) {
      if (entry == kName) continue;
      // Named a few microseconds before the rename: it is complete then. A
      // file that was still being written must never have had a name.
      EXPECT_SAME_BYTES(readBytes(output() / entry), after) << entry;
      fs::remove(output() / entry);
      ++named;
    }
  }
  std::cout << "30 kills: " << old << " before the rename, " << replaced
            << " after it; " << named
            << " left a named copy (killed between naming and renaming)\n";
  // Without a kill before the rename, nothing here was about a conversion
  // cut short.
  EXPECT_GT(old, 0);
}

TEST_F(CommandLineTest, RunsAtOnceOnOneFileNeverMixTheirWork) {
  if (kOnWindows)
    GTEST_SKIP() << "Windows cannot replace a file that another run holds "
                    "open; those runs end with \"cannot rename\" instead";
  const std::string before = layoutOf(1 << 20);
  std::vector<std::string> converted;
  for (int times = 0; times <= 8; ++times)
    converted.push_back(convertedTimes(before, times));
  int succeeded = 0;
  int refused = 0;
  for (int round = 0; round < 3; ++round) {
    writeBytes(output() / kName, before);
    std::vector<int> runs;
    runs.reserve(8);
    for (int i = 0; i < 8; ++i)
      runs.push_back(startProgram(program_, {kName}, root_ / "stdout",
                                  root_ / ("stderr" + std::to_string(i))));
    for (int i = 0; i < 8; ++i) {
      const int status = waitForProgram(runs[i]);
      const std::string err = readBytes(root_ / ("stderr" + std::to_string(i)));
      if (status == 0) {
        ++succeeded;
      } else {
        ++refused;
        EXPECT_EQ(status, 1);
        EXPECT_NE(err.find("changed during the conversion"), std::string::npos)
            << err;
      }
    }
    const std::string now = readBytes(output() / kName);
    EXPECT_NE(std::find(converted.begin() + 1, converted.end(), now),
              converted.end())
        << "round " << round << ": not a whole conversion";
    EXPECT_EQ(outputEntries(), std::set<std::string>{kName});
  }
  std::cout << "24 runs at once, 8 a round: " << succeeded << " converted, "
            << refused << " found the file changed\n";
}

}  // namespace
