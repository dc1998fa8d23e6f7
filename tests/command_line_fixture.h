#pragma once

// Runs the real executable the way a player does: copied into a home folder
// of its own, with the layout file in Output beside it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/platform_process.h"
#include "support/program.h"
#include "support/same_bytes.h"

namespace fs = std::filesystem;

inline std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Console text as the program prints it: the Windows C runtime writes each
// line feed as CR LF.
inline std::string console(const std::string& text) {
  if (!kOnWindows) return text;
  std::string result;
  for (const char c : text) result += c == '\n' ? "\r\n" : std::string(1, c);
  return result;
}

inline const std::string kBanner =
    console("Welcome to Quellmarch - Surround/Eyefinity HUD Converver\n");

inline const std::string kLayout =
    "<GuiScreen>\r\n"
    "  <Property Label=\"TAG\" Value=\"LBL_Map\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"300\" />\r\n"
    "\r\n"
    "  <Property Label=\"WIDTH\" Value=\"1800\" />\r\n"
    "</GuiScreen>\r\n";
inline const std::string kConverted =
    "<GuiScreen>\r\n"
    "  <Property Label=\"TAG\" Value=\"LBL_Map\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"160\" />\r\n"
    "\r\n"
    "  <Property Label=\"WIDTH\" Value=\"1800\" />\r\n"
    "</GuiScreen>\r\n";
// What a run says after converting kLayout into kConverted.
inline const std::string kConvertedSays =
    "Changed 1 LEFT and 1 WIDTH values (2 by the built-in exceptions).";
// What a run says after converting kLayout under a name the exceptions do
// not list.
inline const std::string kDefaultConvertedSays =
    "Changed 1 LEFT and 1 WIDTH values (0 by the built-in exceptions).";
// The same layout under a name the exceptions do not list.
inline const std::string kDefaultConverted =
    "<GuiScreen>\r\n"
    "  <Property Label=\"TAG\" Value=\"LBL_Map\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"367\" />\r\n"
    "\r\n"
    "  <Property Label=\"WIDTH\" Value=\"600\" />\r\n"
    "</GuiScreen>\r\n";

// A game update's layout file: kLayout with another first line; and it
// converted under a name the exceptions do not list.
inline const std::string kPatched =
    "<GuiScreen Patched=\"1\">" + kLayout.substr(11);
inline const std::string kPatchedConverted =
    "<GuiScreen Patched=\"1\">" + kDefaultConverted.substr(11);

// Runs as a user without rights to the files.
inline ProgramOptions asAnotherUser() {
  ProgramOptions options;
  options.asOtherUser = true;
  return options;
}

// What a run on one file prints: the banner, the file, what came of it.
inline std::string reportOf(const std::string& path, const std::string& says) {
  std::string text = "Input file is: ";
  text += path;
  text += "\n";
  text += says;
  text += "\n";
  return kBanner + console(text);
}

// The line after a first conversion's report, for the original kept as
// `backup`, as the program writes it and as the console shows it.
inline std::string keptText(const std::string& backup) {
  return "The original is kept as " + backup +
         "; hudconv needs it there to know that the file is converted.\n";
}
inline std::string keptLine(const std::string& backup) {
  return console(keptText(backup));
}

// What a first conversion of one file prints: its report, and where the
// original is kept, named as the system resolves it.
inline ::testing::AssertionResult IsFirstReport(const std::string& out,
                                                const std::string& path,
                                                const std::string& says) {
  const std::string report = reportOf(path, says);
  const std::string start = console("The original is kept as ");
  const std::string end = keptLine(".bak").substr(start.size());
  const bool matches =
      out.compare(0, report.size(), report) == 0 &&
      out.size() > report.size() + start.size() + end.size() &&
      out.compare(report.size(), start.size(), start) == 0 &&
      out.compare(out.size() - end.size(), end.size(), end) == 0 &&
      out.find('\n', report.size()) == out.size() - 1;
  if (matches) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "not the first report of " << path << ": " << out;
}

struct Result {
  int status;
  std::string out, err;
};

// A scratch folder of the test's own, `root_`, removed afterwards.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    do {
      root_ = fs::temp_directory_path() /
              ("hudconv-test-" + std::to_string(random()));
    } while (!fs::create_directory(root_));
    root_ = fs::canonical(root_);
    // Each test has a player's profile of its own: what one converts is
    // not remembered in another.
    const fs::path profile = root_ / "profile";
#ifdef _WIN32
    ::_wputenv_s(L"LOCALAPPDATA", profile.wstring().c_str());
#else
    ::setenv("XDG_STATE_HOME", profile.c_str(), 1);
#endif
  }

  void TearDown() override {
    // Windows will not remove a read-only file.
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root_, ignored))
      fs::permissions(entry.path(), fs::perms::owner_write,
                      fs::perm_options::add | fs::perm_options::nofollow,
                      ignored);
    fs::remove_all(root_);
  }

  fs::path root_;
};

// One step of a player's story: what the player does to the files first,
// the command, and what must come of it. In `args`, the environment and the
// texts, {H} stands for the home folder and {/} for the separator the program
// writes; the paths in `files` are below the home folder, where kNoFile says
// that nothing stands.
struct StoryStep {
  std::function<void(const fs::path& home)> before;  // may be empty
  std::vector<std::string> args;
  int status = 0;
  std::vector<std::string> says = {};      // each in the output or the errors
  std::vector<std::string> saysOnce = {};  // each there exactly once
  // `says` in this order, in the output and the errors as one stream.
  bool inOrder = false;
  std::map<std::string, std::string> files = {};
  ProgramOptions options = {};
};
inline const std::string kNoFile = "(nothing)";

class CommandLineTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    moveHome(root_);
  }

  // Installs the program in `home`, below the scratch folder, with an empty
  // Output folder beside it.
  void moveHome(const fs::path& home) {
    home_ = home;
    fs::create_directories(home_);
    // Open to other users, for the tests that run as one.
    fs::permissions(home_, fs::perms::owner_all | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
    install(utf8Path(executableDirectory()) / HUDCONV_EXE_NAME);
    fs::create_directory(output());
  }

  // Puts the program `built` in the home folder, as the one that runs.
  void install(const fs::path& built) {
    program_ = home_ / built.filename();
    fs::copy_file(built, program_, fs::copy_options::overwrite_existing);
  }

  fs::path output() const { return home_ / "Output"; }

  // The path the program reports and reads for `name`, in UTF-8.
  std::string pathOf(const std::string& name) const {
    return utf8(home_) + (kOnWindows ? "\\Output\\" : "/Output/") + name;
  }

  Result run(const std::vector<std::string>& args,
             const ProgramOptions& options = {}) {
    const fs::path out = home_ / "stdout";
    const fs::path err = home_ / "stderr";
    Result result{runProgram(program_, args, out, err, options), readBytes(out),
                  readBytes(err)};
    fs::remove(out);
    fs::remove(err);
    return result;
  }

  // The names in Output, so that a stray temporary file shows; hudconv's
  // record, which its own tests look at, aside.
  std::set<std::string> outputEntries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(output()))
      if (entry.path().filename() != ".hudconv.record")
        names.insert(utf8(entry.path().filename()));
    return names;
  }

  // Expects a run on `name` to fail and leave the file exactly as it was,
  // and nothing else but, where it failed after keeping it, the original as
  // its backup (which is then removed); returns standard error.
  std::string expectFailureLeavesFile(const std::string& name,
                                      const ProgramOptions& options = {},
                                      bool keepsBackup = false) {
    const std::string before = readBytes(output() / name);
    auto entries = outputEntries();
    const Result r = run({name}, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              kBanner + console("Input file is: " + pathOf(name) + "\n"));
    EXPECT_SAME_BYTES(readBytes(output() / name), before);
    if (keepsBackup) {
      entries.insert(name + ".bak");
      EXPECT_SAME_BYTES(readBytes(output() / (name + ".bak")), before);
    }
    EXPECT_EQ(outputEntries(), entries);
    // Not where the file is held open: the backup is the same file then.
    std::error_code held;
    if (keepsBackup) fs::remove(output() / (name + ".bak"), held);
    const std::string start = "hudconv: error: ";
    EXPECT_EQ(r.err.substr(0, start.size()), start);
    EXPECT_NE(r.err.find(pathOf(name) + " was left unchanged." + console("\n")),
              std::string::npos)
        << r.err;
    return r.err;
  }

  // Plays `steps` in turn, from an empty Output folder in a home of its own
  // where the same program runs.
  void play(const std::string& story, const std::vector<StoryStep>& steps) {
    const fs::path program = program_;
    moveHome(root_ / ("story" + std::to_string(++stories_)));
    if (program.filename() != program_.filename()) install(program);
    const auto filled = [&](std::string text) {
      const std::pair<std::string, std::string> places[] = {
          {"{H}", utf8(home_)}, {"{/}", kOnWindows ? "\\" : "/"}};
      for (const auto& [place, value] : places)
        for (std::size_t at = text.find(place); at != std::string::npos;
             at = text.find(place, at + value.size()))
          text.replace(at, place.size(), value);
      return console(text);
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const StoryStep& step = steps[i];
      const std::string what = story + ", step " + std::to_string(i + 1);
      if (step.before) step.before(home_);
      std::vector<std::string> args;
      for (const std::string& arg : step.args) args.push_back(filled(arg));
      const fs::path out = home_ / "stdout";
      const fs::path err = step.inOrder ? out : home_ / "stderr";
      ProgramOptions options = step.options;
      for (std::string& entry : options.environment) entry = filled(entry);
      const int status = runProgram(program_, args, out, err, options);
      const std::string printed =
          readBytes(out) + (step.inOrder ? "" : readBytes(err));
      fs::remove(out);
      fs::remove(err);
      EXPECT_EQ(status, step.status) << what << ":\n" << printed;
      std::size_t from = 0;
      for (const std::string& says : step.says) {
        const std::string text = filled(says);
        const std::size_t at = printed.find(text, step.inOrder ? from : 0);
        EXPECT_NE(at, std::string::npos) << what << ": " << text << "\n"
                                         << printed;
        if (at != std::string::npos) from = at + text.size();
      }
      for (const std::string& says : step.saysOnce) {
        const std::string text = filled(says);
        const std::size_t at = printed.find(text);
        EXPECT_TRUE(at != std::string::npos &&
                    printed.find(text, at + 1) == std::string::npos)
            << what << ", once: " << text << "\n"
            << printed;
      }
      for (const auto& [path, bytes] : step.files) {
        const fs::path file = home_ / utf8Path(path);
        if (bytes == kNoFile) {
          EXPECT_FALSE(fs::exists(fs::symlink_status(file)))
              << what << ": " << path;
        } else {
          EXPECT_SAME_BYTES(readBytes(file), bytes) << what << ": " << path;
        }
      }
    }
  }

  fs::path home_, program_;
  int stories_ = 0;
};

// Folders below `folder` up to a path of 250 characters: a file in them has
// a path beyond the old limit of 260, while the folders themselves stay
// within what the tests' own file calls can handle on Windows.
inline fs::path longFolder(fs::path folder) {
  while (folder.native().size() < 250)
    folder /= std::string(
        std::min<std::size_t>(50, 250 - folder.native().size()), 'd');
  return folder;
}

// A home folder of the program, named in some script.
struct Home {
  const char* label;
  const char* name;
};
inline void PrintTo(const Home& home, std::ostream* out) { *out << home.label; }

// The same cases in home folders named in other scripts: a player's folders
// may be named in any of them.
class AnyHomeTest : public CommandLineTest,
                    public ::testing::WithParamInterface<Home> {
 protected:
  void SetUp() override {
    CommandLineTest::SetUp();
    moveHome(root_ / utf8Path(GetParam().name));
  }
};
