// Which files an argument names: the decisions behind a pattern, a folder
// and a name from here, taken without starting the program.

#include "driver/arguments.h"

#include "command_line_fixture.h"
#include "driver/options.h"

namespace {

// A file named like an option is given behind "--": nothing behind it is
// read as an option, not even a second "--".
TEST(OptionsTest, EverythingBehindTwoDashesIsAFile) {
  const Options options = parseOptions(
      {"hudconv", "-u", "--", "-n", "--restore", "--", "-x", "a_p.gui.xml"});
  EXPECT_TRUE(options.update);
  EXPECT_FALSE(options.preview);
  EXPECT_FALSE(options.restore);
  EXPECT_EQ(options.unknownOption, "");
  EXPECT_EQ(options.files, (std::vector<std::string>{"-n", "--restore", "--",
                                                     "-x", "a_p.gui.xml"}));
}

TEST(ArgumentsTest, APatternMatchesNamesInAnyLetterCase) {
  const struct {
    const char* name;
    const char* pattern;
    bool matches;
  } cases[] = {
      {"zoom_p.gui.xml", "Z*", true},
      {"Zoom_p.gui.xml", "z*", true},
      {"A_P.GUI.XML", "*.gui.xml", true},
      // Only ASCII letters fold: [ and { come right after Z and z.
      {"{x}", "[X]", false},
      {"a_p.gui.xml", "?_p.gui.xml", true},
      {"ab_p.gui.xml", "?_p.gui.xml", false},
      {"_p.gui.xml", "?_p.gui.xml", false},
      {"", "*", true},
      {"a_p.gui.xml.bak", "*.gui.xml", false},
      // A star gives back what it took when the rest fails further on.
      {"xml_p.gui.xml", "*xml", true},
      {"a_p.gui.xmlx", "*xml", false},
      {"a_p.gui.xm", "a_p.gui.xml", false},
      {"a_p.gui.xml", "a_p.gui.xm", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(matchesPattern(c.name, c.pattern), c.matches)
        << c.name << " / " << c.pattern;
}

TEST(ArgumentsTest, ANameIsLookedForBelowOutputThenHere) {
  const std::string home = kOnWindows ? "C:\\Games\\hudconv" : "/games/hudconv";
  const std::string full = kOnWindows ? "C:\\HUD\\x.gui.xml" : "/hud/x.gui.xml";
  const auto output = [&](const std::string& name) {
    return layoutFilePath(home, name);
  };
  const struct {
    std::string name;
    std::vector<std::string> places;
  } cases[] = {
      {"x.gui.xml", {output("x.gui.xml"), "x.gui.xml"}},
      {"sub/x.gui.xml", {output("sub/x.gui.xml"), "sub/x.gui.xml"}},
      {"", {output(""), "."}},
      {full, {full}},
      // Named from here: here first.
      {"./x.gui.xml", {"./x.gui.xml", output("./x.gui.xml")}},
      {"../x.gui.xml", {"../x.gui.xml", output("../x.gui.xml")}},
      {".\\x.gui.xml", {".\\x.gui.xml", output(".\\x.gui.xml")}},
      {"..\\x.gui.xml", {"..\\x.gui.xml", output("..\\x.gui.xml")}},
      // A name that only starts with dots is no way from here.
      {"..x.gui.xml", {output("..x.gui.xml"), "..x.gui.xml"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(placesOf(c.name, home), c.places) << c.name;
}

using ExpandArgumentTest = ScratchTest;

TEST_F(ExpandArgumentTest, APatternOrAFolderNamesItsFilesInNameOrder) {
  // Layout files in any letter case, one with its backup and the backup of
  // one that is gone; and what is no file to convert: a leftover of a
  // stopped run, a folder named like a layout file, a link to that folder.
  for (const char* name :
       {"b_p.gui.xml", "b_p.gui.xml.bak", "Zoom_p.GUI.XML", "a_p.gui.xml",
        "gone_p.gui.xml.BAK", "notes.txt", ".hudconv-AbCdEf"})
    writeBytes(root_ / name, kLayout);
  fs::create_directory(root_ / "sub_p.gui.xml");
  if (!kOnWindows)
    fs::create_directory_symlink("sub_p.gui.xml", root_ / "linked_p.gui.xml");
  const std::string folder = utf8(root_);
  const std::string in = folder + (kOnWindows ? "\\" : "/");
  const struct {
    std::string argument;
    bool restore;
    std::vector<std::string> names;
    std::vector<std::string> lonely = {};  // backups whose file is gone
  } cases[] = {
      {folder, false, {"a_p.gui.xml", "b_p.gui.xml", "Zoom_p.GUI.XML"}},
      {in + "*",
       false,
       {"a_p.gui.xml", "b_p.gui.xml", "notes.txt", "Zoom_p.GUI.XML"}},
      {in + "Z*", false, {"Zoom_p.GUI.XML"}},
      {in + "?_p.gui.xml", false, {"a_p.gui.xml", "b_p.gui.xml"}},
      {in + "x*", false, {}},
      // A backup stands for its file; one whose file is gone is set apart,
      // and a pattern that finds it alone still found something.
      {folder, true, {"b_p.gui.xml"}, {"gone_p.gui.xml.BAK"}},
      {in + "*", true, {"b_p.gui.xml"}, {"gone_p.gui.xml.BAK"}},
      {in + "g*", true, {}, {"gone_p.gui.xml.BAK"}},
  };
  for (const auto& c : cases) {
    const Named named = expandArgument(c.argument, "", c.restore);
    EXPECT_TRUE(named.many) << c.argument;
    std::vector<std::string> expected;
    for (const std::string& name : c.names) expected.push_back(in + name);
    std::vector<std::string> paths;
    for (const NamedFile& file : named.files) paths.push_back(file.path);
    EXPECT_EQ(paths, expected) << c.argument << " " << c.restore;
    EXPECT_EQ(named.lonelyBackups, c.lonely) << c.argument;
  }
  // A file's own name names that file alone, where it was found.
  const Named one = expandArgument(in + "a_p.gui.xml", "", false);
  EXPECT_FALSE(one.many);
  ASSERT_EQ(one.files.size(), 1u);
  EXPECT_EQ(one.files[0].path, in + "a_p.gui.xml");
}

// cmd passes a " for the \" that ends a quoted name: it is taken off where
// the name names nothing and the name without it names a file; a file whose
// name really ends in one is taken as it is.
TEST_F(ExpandArgumentTest, AStrayQuoteIsTakenOffOnlyWhereTheNameNamesNothing) {
  const std::string file = utf8(root_ / "a_p.gui.xml");
  const std::string nowhere = utf8(root_ / "b_p.gui.xml") + "\"";
  writeBytes(root_ / "a_p.gui.xml", kLayout);
  EXPECT_EQ(withoutStrayQuote(file + "\"", ""), file);
  EXPECT_EQ(withoutStrayQuote(nowhere, ""), nowhere);
  if (kOnWindows) return;  // no name holds a " there
  writeBytes(root_ / "a_p.gui.xml\"", kLayout);
  EXPECT_EQ(withoutStrayQuote(file + "\"", ""), file + "\"");
}

}  // namespace
