#include "command_line_fixture.h"

namespace {

TEST_P(AnyHomeTest, WithoutArgumentItSaysSoAndTouchesNothing) {
  fs::remove(output());
  const Result r = run({});
  EXPECT_EQ(r.status, kOnWindows ? -1 : 255);
  // Then the wait for a key press: on Windows the command interpreter's
  // "pause" (its text varies), elsewhere nothing without a terminal.
  const std::string said = kBanner + console("Input File not specified\n");
  EXPECT_EQ(r.out.substr(0, said.size()), said);
  EXPECT_EQ(r.out.size() > said.size(), kOnWindows) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(fs::exists(output()));
  EXPECT_FALSE(fs::exists(home_ / "Override"));
}

TEST_P(AnyHomeTest, InputThatCannotBeOpenedEndsQuietlyWithZero) {
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

TEST_P(AnyHomeTest, ConvertsTheFileInPlaceByteForByte) {
  const std::string nul("\0", 1);
  // Below folders that take the file's path beyond 260 characters.
  const fs::path deep = longFolder(output()).lexically_relative(output());
  const struct {
    std::string name, before, after;
  } cases[] = {
      {"map_p.gui.xml", kLayout, kConverted},  // exception rules apply
      // A folder in the name hides the file from the exceptions.
      {"sub/map_p.gui.xml", kLayout, kDefaultConverted},
      {(deep / "map_p.gui.xml").generic_u8string(), kLayout, kDefaultConverted},
      {"other_p.gui.xml", "Label=\"LEFT\" Value=\"300\" />\n\nx",
       "Label=\"LEFT\" Value=\"367\" />\r\n\r\nx\r\n"},
      {"empty.gui.xml", "", ""},
      {"карта 日本.gui.xml", kLayout, kDefaultConverted},
      {"bytes.gui.xml", "\xEF\xBB\xBF" + nul + "\x1A\r\r\n\x1A",
       "\xEF\xBB\xBF" + nul + "\x1A\r\r\n\x1A\r\n"},
  };
  for (const auto& c : cases) {
    const fs::path file = output() / fs::u8path(c.name);
    fs::create_directories(file.parent_path());
    writeBytes(file, c.before);
    const Result r = run({c.name, "ignored", "--also-ignored"});
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.out, kBanner + "Input file is: " + pathOf(c.name));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readBytes(file), c.after) << c.name;
  }
  EXPECT_EQ(outputEntries(),
            (std::set<std::string>{"map_p.gui.xml", "other_p.gui.xml",
                                   "empty.gui.xml", "карта 日本.gui.xml",
                                   "bytes.gui.xml", "sub",
                                   deep.begin()->u8string()}));
}

TEST_P(AnyHomeTest, ADroppedFileIsConvertedWhereItIs) {
  // A file manager passes the full path of a file dropped on the program;
  // the exceptions still go by the file's bare name.
  const fs::path near = root_ / fs::u8path("Dropped Ωμέγα");
  for (const fs::path& folder : {near, longFolder(near)}) {
    const fs::path file = folder / "map_p.gui.xml";
    fs::create_directories(folder);
    writeBytes(file, kLayout);
    const Result r = run({file.u8string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kBanner + "Input file is: " + file.u8string());
    EXPECT_EQ(readBytes(file), kConverted) << file;
    EXPECT_EQ(std::next(fs::directory_iterator(folder)),
              fs::directory_iterator())
        << "a stray file beside " << file;
  }
  EXPECT_TRUE(fs::is_directory(home_ / "Override"));
}

TEST_P(AnyHomeTest, RunsFromAFolderWithAPathBeyond260Characters) {
  if (kOnWindows)
    GTEST_SKIP() << "Windows (and Wine) cannot start a program from a folder "
                    "path beyond 260 characters without long-path support";
  fs::path home = home_;
  while (home.string().size() < 300) home /= std::string(50, 'd');
  moveHome(home);
  writeBytes(output() / "map_p.gui.xml", kLayout);
  const Result r = run({"map_p.gui.xml"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner + "Input file is: " + pathOf("map_p.gui.xml"));
  EXPECT_EQ(readBytes(output() / "map_p.gui.xml"), kConverted);
  EXPECT_TRUE(fs::is_directory(home_ / "Override"));
}

TEST_P(AnyHomeTest, ABadValueStopsTheRunAndKeepsTheFile) {
  const std::string name = "map_p.gui.xml";
  // In the larger file the new one is megabytes long when the bad value
  // comes.
  for (const std::size_t copies : {1, 40000}) {
    std::string layout;
    for (std::size_t i = 0; i < copies; ++i) layout += kLayout;
    writeBytes(output() / name,
               layout + "  <Property Label=\"WIDTH\" Value=\"wide\" />\r\n");
    const auto stamp = fs::last_write_time(output() / name);
    const std::string err = expectFailureLeavesFile(name);
    EXPECT_NE(
        err.find(pathOf(name) + ", line " + std::to_string(6 * copies + 1) +
                 ": invalid stoi argument."),
        std::string::npos)
        << err;
    EXPECT_EQ(fs::last_write_time(output() / name), stamp);
  }
}

TEST_P(AnyHomeTest, AFileTheUserMayNotWriteIsLeftAloneAndReported) {
  // The folder is open to all, so only the file's own mode can stop a write;
  // root may write anything, so as root the run drops to another user.
  // On Windows this sets the read-only attribute.
  fs::permissions(output(), fs::perms::all);
  writeBytes(output() / "map_p.gui.xml", kLayout);
  fs::permissions(output() / "map_p.gui.xml", fs::perms::owner_read |
                                                  fs::perms::group_read |
                                                  fs::perms::others_read);
  const std::string err =
      expectFailureLeavesFile("map_p.gui.xml", {0, true, {}});
  EXPECT_NE(err.find("cannot write " + pathOf("map_p.gui.xml") + ": "),
            std::string::npos)
      << err;
}

INSTANTIATE_TEST_SUITE_P(Homes, AnyHomeTest,
                         ::testing::Values(Home{"Ascii", "home"},
                                           Home{"Mixed", "José 日本 Ωμέγα"},
                                           Home{"Cyrillic", "Игры"}),
                         [](const ::testing::TestParamInfo<Home>& home) {
                           return std::string(home.param.label);
                         });

}  // namespace
