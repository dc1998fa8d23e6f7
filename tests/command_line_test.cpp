// Runs the real executable the way a player does: copied into a home folder
// of its own, with the layout file in Output beside it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kBanner =
    "Welcome to Quellmarch - Surround/Eyefinity HUD Converver\n";

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

struct Result {
  int status;
  std::string out, err;
};

struct Limits {
  rlim_t fileSize = RLIM_INFINITY;
  bool asOtherUser = false;  // a user who may read but not write the file
};

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "hudconv-XXXXXX");
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    home_ = fs::canonical(pattern);
    fs::permissions(home_, fs::perms::owner_all | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
    fs::copy_file(HUDCONV_EXE, home_ / "hudconv");
    fs::create_directory(output());
  }
  void TearDown() override { fs::remove_all(home_); }

  fs::path output() const { return home_ / "Output"; }
  std::string pathOf(const std::string& name) const {
    return (home_ / "Output").string() + "/" + name;
  }

  Result run(const std::vector<std::string>& args, Limits limits = {}) {
    const fs::path out = home_ / "stdout", err = home_ / "stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int in = ::open("/dev/null", O_RDONLY);
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit fileSize{limits.fileSize, limits.fileSize};
      ::setrlimit(RLIMIT_FSIZE, &fileSize);
      if (limits.asOtherUser && ::geteuid() == 0 &&
          (::setgid(65534) != 0 || ::setuid(65534) != 0))
        ::_exit(99);
      std::vector<char*> argv{const_cast<char*>("hudconv")};
      for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv((home_ / "hudconv").c_str(), argv.data());
      ::_exit(98);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readBytes(out),
                  readBytes(err)};
    fs::remove(out);
    fs::remove(err);
    return result;
  }

  // The names in Output, so that a stray temporary file shows.
  std::set<std::string> outputEntries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(output()))
      names.insert(entry.path().filename().string());
    return names;
  }

  // Expects a run on `name` to fail and leave the file exactly as it was;
  // returns standard error.
  std::string expectFailureLeavesFile(const std::string& name,
                                      Limits limits = {}) {
    const std::string before = readBytes(output() / name);
    const auto entries = outputEntries();
    const Result r = run({name}, limits);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner + "Input file is: " + pathOf(name));
    EXPECT_EQ(readBytes(output() / name), before);
    EXPECT_EQ(outputEntries(), entries);
    EXPECT_EQ(r.err.substr(0, 17), "\nhudconv: error: ");
    EXPECT_NE(r.err.find(pathOf(name) + " was left unchanged."),
              std::string::npos)
        << r.err;
    return r.err;
  }

  fs::path home_;
};

const std::string kLayout =
    "<GuiScreen>\r\n"
    "  <Property Label=\"TAG\" Value=\"LBL_Map\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"300\" />\r\n"
    "\r\n"
    "  <Property Label=\"WIDTH\" Value=\"1800\" />\r\n"
    "</GuiScreen>\r\n";
const std::string kConverted =
    "<GuiScreen>\r\n"
    "  <Property Label=\"TAG\" Value=\"LBL_Map\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"160\" />\r\n"
    "\r\n"
    "  <Property Label=\"WIDTH\" Value=\"1800\" />\r\n"
    "</GuiScreen>\r\n";
// The same layout under a name the exceptions do not list.
const std::string kDefaultConverted =
    "<GuiScreen>\r\n"
    "  <Property Label=\"TAG\" Value=\"LBL_Map\" />\r\n"
    "  <Property Label=\"LEFT\" Value=\"367\" />\r\n"
    "\r\n"
    "  <Property Label=\"WIDTH\" Value=\"600\" />\r\n"
    "</GuiScreen>\r\n";

TEST_F(CommandLineTest, WithoutArgumentItSaysSoAndTouchesNothing) {
  fs::remove(output());
  const Result r = run({});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, kBanner + "Input File not specified\n");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(fs::exists(output()));
  EXPECT_FALSE(fs::exists(home_ / "Override"));
}

TEST_F(CommandLineTest, InputThatCannotBeOpenedEndsQuietlyWithZero) {
  fs::remove(output());
  for (const std::string name : {"missing.gui.xml", "", "folder"}) {
    if (name == "folder") fs::create_directory(output() / name);
    const Result r = run({name});
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.out, kBanner + "Input file is: " + pathOf(name) +
                         "Cannot open Input file " + pathOf(name));
    EXPECT_EQ(r.err, "");
    // The first run made the working folders.
    EXPECT_TRUE(fs::is_directory(output()));
    EXPECT_TRUE(fs::is_directory(home_ / "Override"));
  }
}

TEST_F(CommandLineTest, ConvertsTheFileInPlaceByteForByte) {
  const std::string nul("\0", 1);
  const struct {
    const char* name;
    std::string before, after;
  } cases[] = {
      {"map_p.gui.xml", kLayout, kConverted},  // exception rules apply
      // A folder in the name hides the file from the exceptions.
      {"sub/map_p.gui.xml", kLayout, kDefaultConverted},
      {"other_p.gui.xml", "Label=\"LEFT\" Value=\"300\" />\n\nx",
       "Label=\"LEFT\" Value=\"367\" />\r\n\r\nx\r\n"},
      {"empty.gui.xml", "", ""},
      {"bytes.gui.xml", "\xEF\xBB\xBF" + nul + "\x1A\r\r\n\x1A",
       "\xEF\xBB\xBF" + nul + "\x1A\r\r\n\x1A\r\n"},
  };
  fs::create_directory(output() / "sub");
  for (const auto& c : cases) {
    writeBytes(output() / c.name, c.before);
    const Result r = run({c.name, "ignored", "--also-ignored"});
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.out, kBanner + "Input file is: " + pathOf(c.name));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readBytes(output() / c.name), c.after) << c.name;
  }
  EXPECT_EQ(outputEntries(),
            (std::set<std::string>{"map_p.gui.xml", "other_p.gui.xml",
                                   "empty.gui.xml", "bytes.gui.xml", "sub"}));
}

TEST_F(CommandLineTest, ABadValueStopsTheRunAndKeepsTheFile) {
  const std::string name = "map_p.gui.xml";
  writeBytes(output() / name,
             kLayout + "  <Property Label=\"WIDTH\" Value=\"wide\" />\r\n");
  const auto stamp = fs::last_write_time(output() / name);
  const std::string err = expectFailureLeavesFile(name);
  EXPECT_NE(err.find(pathOf(name) + ", line 7: invalid stoi argument."),
            std::string::npos)
      << err;
  EXPECT_EQ(fs::last_write_time(output() / name), stamp);
}

TEST_F(CommandLineTest, AFailedWriteKeepsTheFileAndLeavesNoTemporary) {
  // The limit stops the converted text, not the short messages.
  std::string layout;
  while (layout.size() < 16384) layout += kLayout;
  writeBytes(output() / "map_p.gui.xml", layout);
  const std::string err =
      expectFailureLeavesFile("map_p.gui.xml", Limits{8192, false});
  EXPECT_NE(err.find("File too large"), std::string::npos) << err;
}

TEST_F(CommandLineTest, AFileTheUserMayNotWriteIsLeftAloneAndReported) {
  // The folder is open to all, so only the file's own mode can stop a write;
  // root may write anything, so as root the run drops to another user.
  fs::permissions(output(), fs::perms::all);
  writeBytes(output() / "map_p.gui.xml", kLayout);
  fs::permissions(output() / "map_p.gui.xml", fs::perms::owner_read |
                                                  fs::perms::group_read |
                                                  fs::perms::others_read);
  const std::string err =
      expectFailureLeavesFile("map_p.gui.xml", Limits{RLIM_INFINITY, true});
  EXPECT_NE(err.find("Permission denied"), std::string::npos) << err;
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
  EXPECT_EQ(readBytes(output() / "map_p.gui.xml"), kConverted);
  EXPECT_EQ(
      fs::status(output() / "map_p.gui.xml").permissions(),
      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  EXPECT_EQ(run({"link_p.gui.xml"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(output() / "link_p.gui.xml"));
  EXPECT_EQ(readBytes(home_ / "real" / "target.xml"), kDefaultConverted);
  EXPECT_EQ(fs::directory_iterator(home_ / "real")->path().filename(),
            "target.xml");
}

}  // namespace
