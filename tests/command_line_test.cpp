// The program as a player runs it: each case starts the real executable in
// a scratch folder of its own and compares what it wrote, byte for byte.

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "command_line_fixture.h"
#include "convert/layout_converter.h"
#include "convert/line_rewriter.h"
#include "convert/rule_table.h"
#include "driver/record.h"
#include "support/convert_in_pieces.h"

namespace {

TEST_P(AnyHomeTest, WithoutAFileItExplainsAndTouchesNothing) {
  fs::remove(output());
  const std::string usage =
      kBanner + console("Usage: hudconv FOLDER | PATTERN | FILE...\n");
  const std::string usageEnd = console("no file named.\n");
  const std::string none = kBanner + console("Input File not specified\n");
  const int noFile = kOnWindows ? -1 : 255;
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{}, noFile, none, ""},
      {{"--"}, noFile, none, ""},
      {{"--help"}, 0, usage, ""},
      {{"-h"}, 0, usage, ""},
      {{"/?"}, 0, usage, ""},
      {{"-?"}, 0, usage, ""},
      {{"-help"}, 0, usage, ""},
      {{"--version"}, 0, console("hudconv " HUDCONV_VERSION "\n"), ""},
      // The first unknown option is the one told.
      {{"--colour", "--size", "map_p.gui.xml"},
       2,
       "",
       "hudconv: error: unknown option --colour (hudconv --help"},
      // A dash and letters is an option too, not a file.
      {{"map_p.gui.xml", "-x"},
       2,
       "",
       "hudconv: error: unknown option -x (hudconv --help lists them; "
       "hudconv -- -x converts"},
  };
  for (const auto& c : cases) {
    const std::string what = testing::PrintToString(c.args);
    const Result r = run(c.args);
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << what;
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << what;
    if (c.out == usage || c.out == none) {
      // The whole HUD first, then one file, then the options a player
      // needs next.
      std::size_t at = 0;
      for (const char* form :
           {"  hudconv Output ", "  hudconv *.gui.xml ",
            "  hudconv confirm_p.gui.xml", "  hudconv --restore ",
            "  hudconv --dry-run ", "  hudconv --update "}) {
        const std::size_t next = r.out.find(form, at);
        EXPECT_NE(next, std::string::npos) << what << form << r.out;
        at = next;
      }
      // The usage in full; without a file, then the wait for a key press:
      // on Windows the command interpreter's "pause" (its text varies),
      // elsewhere nothing without a terminal.
      const std::size_t end = r.out.find(usageEnd);
      ASSERT_NE(end, std::string::npos) << what << r.out;
      EXPECT_EQ(end + usageEnd.size() < r.out.size(),
                kOnWindows && c.status == noFile)
          << what << r.out;
    } else {
      EXPECT_EQ(r.out, c.out) << what;
    }
    EXPECT_FALSE(fs::exists(output())) << what;
    EXPECT_FALSE(fs::exists(home_ / "Override")) << what;
  }
}

TEST_P(AnyHomeTest, EachFileThatCannotBeOpenedIsToldAndEndsWithTwo) {
  fs::remove(output());
  const std::string folder = pathOf("");
  const std::string mustBe = "The layout file must be in the folder " +
                             folder.substr(0, folder.size() - 1) +
                             " beside hudconv, or be dropped on it.";
  const std::string help = " hudconv --help shows how to use it.";
  const std::string nowhere = utf8(root_ / "nowhere" / "x.gui.xml");
  const struct {
    std::string name, says;
  } cases[] = {
      {"missing.gui.xml", mustBe + help},
      {"", ": not a regular file."},
      // A full path names the file itself, so no folder is pointed to.
      {nowhere, "." + help},
  };
  ProgramOptions inHome;
  inHome.workingFolder = home_;
  for (const auto& c : cases) {
    const std::string path = isFullPath(c.name) ? c.name : pathOf(c.name);
    const Result r = run({c.name}, inHome);
    EXPECT_EQ(r.status, 2) << c.name;
    EXPECT_EQ(r.out, reportOf(path, "Cannot open Input file " + path));
    EXPECT_EQ(r.err.rfind("hudconv: error: cannot open " + path + ": ", 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find(c.says + console("\n")), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(mustBe) != std::string::npos,
              c.says.rfind(mustBe, 0) == 0)
        << r.err;
    // The first run made the working folders.
    EXPECT_TRUE(fs::is_directory(output()));
    EXPECT_TRUE(fs::is_directory(home_ / "Override"));
  }
  // Every file is converted in turn, whatever became of the one before.
  writeBytes(output() / "a_p.gui.xml", kLayout);
  writeBytes(output() / "map_p.gui.xml", kLayout);
  const Result r = run({"a_p.gui.xml", "missing.gui.xml", "map_p.gui.xml"});
  EXPECT_EQ(r.status, 2);
  EXPECT_SAME_BYTES(readBytes(output() / "a_p.gui.xml"), kDefaultConverted);
  EXPECT_SAME_BYTES(readBytes(output() / "map_p.gui.xml"), kConverted);
  EXPECT_NE(
      r.out.find(console("Cannot open Input file " + pathOf("missing.gui.xml") +
                         "\nInput file is: " + pathOf("map_p.gui.xml") + "\n")),
      std::string::npos)
      << r.out;
  // And last, what became of them, naming the one that was not opened.
  const std::string summary = console(
      "3 files: 2 converted, 0 already converted, 0 not converted, 1 could "
      "not be opened.\n  could not be opened: " +
      pathOf("missing.gui.xml") + " (");
  const std::size_t at = r.out.find(summary);
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\n', at + summary.size()) + 1, r.out.size()) << r.out;
}

TEST_P(AnyHomeTest, APatternOrAFolderNamesEveryLayoutFileInIt) {
  // Layout files in any letter case, one already converted, and what is no
  // layout file of its own: another kind of file, a sub-folder, a backup.
  for (const std::string name : {"a_p.gui.xml", "B_p.GUI.XML", "c_p.gui.xml"})
    writeBytes(output() / name, kLayout);
  writeBytes(output() / "notes.txt", kLayout);
  // A folder named like a layout file, which is not entered.
  const fs::path sub = output() / "sub_p.gui.xml";
  fs::create_directories(sub);
  writeBytes(sub / "d_p.gui.xml", kLayout);
  fs::create_directories(output() / "empty");
  ASSERT_EQ(run({"c_p.gui.xml"}).status, 0);
  const std::string inOutput =
      kOnWindows ? "Output\\*.gui.xml" : "Output/*.gui.xml";
  // Console text before the wait: each file in two lines, and why the
  // backups matter once.
  std::string listed;
  for (const std::string name : {"a_p.gui.xml", "B_p.GUI.XML"}) {
    listed += "Input file is: " + pathOf(name) + "\n" + kDefaultConvertedSays +
              " The original is kept as " + pathOf(name) + ".bak.\n";
    if (name[0] == 'a')
      listed +=
          "Leave each .bak beside its file: it is the original, the only way "
          "back to it (hudconv --restore), and it tells hudconv that the file "
          "is converted.\n";
  }
  listed += "Input file is: " + pathOf("c_p.gui.xml") + "\n";
  ProgramOptions inHome;
  inHome.workingFolder = home_;
  const struct {
    std::vector<std::string> args;
    bool fromHome;
    int status;
    std::string out, err;
  } cases[] = {
      // Naming nothing, before anything is converted.
      {{"*.none"},
       false,
       2,
       "",
       "hudconv: error: no file matches *.none in " + pathOf("") + "."},
      {{"empty"},
       false,
       2,
       "",
       "hudconv: error: no layout file (*.gui.xml) in " + pathOf("empty") +
           "."},
      // In any letter case; the backups it would match are left out.
      {{"*_P.GUI.XML*"}, false, 0, listed, ""},
      {{"--restore", "*_p.gui.xml"}, false, 0, "", ""},
      // As cmd.exe passes a pattern from the program's folder.
      {{inOutput}, true, 0, listed, ""},
      {{"--restore", utf8(output())}, false, 0, "", ""},
      // A dropped folder is its full path.
      {{utf8(output())}, false, 0, listed, ""},
  };
  for (const auto& c : cases) {
    const std::string what = testing::PrintToString(c.args);
    const Result r = run(c.args, c.fromHome ? inHome : ProgramOptions{});
    EXPECT_EQ(r.status, c.status) << what << r.err;
    EXPECT_EQ(r.out.substr(0, kBanner.size() + console(c.out).size()),
              kBanner + console(c.out))
        << what;
    EXPECT_EQ(r.err.substr(0, console(c.err).size()), console(c.err)) << what;
    const bool restored = c.args[0] == "--restore";
    for (const std::string name : {"a_p.gui.xml", "B_p.GUI.XML"}) {
      EXPECT_SAME_BYTES(readBytes(output() / name),
                        restored || c.status != 0 ? kLayout : kDefaultConverted)
          << what << name;
      EXPECT_EQ(fs::exists(output() / (name + ".bak")),
                !restored && c.status == 0)
          << what << name;
    }
    EXPECT_SAME_BYTES(readBytes(output() / "notes.txt"), kLayout) << what;
    EXPECT_SAME_BYTES(readBytes(sub / "d_p.gui.xml"), kLayout) << what;
    // c_p.gui.xml is converted again after each restore.
    if (restored) {
      EXPECT_EQ(run({"c_p.gui.xml"}).status, 0) << what;
    }
  }
}

TEST_P(AnyHomeTest, ConvertsTheFileInPlaceByteForByte) {
  // Below folders that take the file's path beyond 260 characters.
  const fs::path deep = longFolder(output()).lexically_relative(output());
  const std::string byDefault =
      "Changed 1 LEFT and 1 WIDTH values (0 by the built-in exceptions).";
  const struct {
    std::string name, before, after, says;
  } cases[] = {
      {"map_p.gui.xml", kLayout, kConverted, kConvertedSays},
      // The exceptions go by the bare name, in any letter case.
      {"sub/map_p.gui.xml", kLayout, kConverted, kConvertedSays},
      {"./MAP_P.gui.xml", kLayout, kConverted, kConvertedSays},
      {utf8(fs::path((deep / "map_p.gui.xml").generic_u8string())), kLayout,
       kConverted, kConvertedSays},
      {"other_p.gui.xml", "Label=\"LEFT\" Value=\"300\" />\n\nx",
       "Label=\"LEFT\" Value=\"367\" />\r\n\r\nx\r\n",
       "Changed 1 LEFT and 0 WIDTH values (0 by the built-in exceptions)."},
      {"empty.gui.xml", "", "",
       "Nothing to move: no LEFT or WIDTH value needed changing."},
      // A WIDTH alone, on a last line without a line break.
      {"width_p.gui.xml", "Label=\"WIDTH\" Value=\"300\" />",
       "Label=\"WIDTH\" Value=\"100\" />\r\n",
       "Changed 0 LEFT and 1 WIDTH values (0 by the built-in exceptions)."},
      // Named like an option, so given behind "--"; a lone dash is a name.
      {"--odd.gui.xml", kLayout, kDefaultConverted, byDefault},
      {"-", kLayout, kDefaultConverted, byDefault},
      {"карта 日本.gui.xml", kLayout, kDefaultConverted, byDefault},
      {"bytes.gui.xml", "\xEF\xBB\xBF\x1A\r\r\n\x1A",
       "\xEF\xBB\xBF\x1A\r\r\n\x1A\r\n",
       "Nothing to move: no LEFT or WIDTH value needed changing."},
  };
  for (const auto& c : cases) {
    const fs::path file = output() / utf8Path(c.name);
    fs::create_directories(file.parent_path());
    writeBytes(file, c.before);
    const Result r =
        c.name.rfind("--", 0) == 0 ? run({"--", c.name}) : run({c.name});
    EXPECT_EQ(r.status, 0) << c.name;
    // Windows took MAP_P.gui.xml for map_p.gui.xml, its original put back.
    if (kOnWindows && c.name == "./MAP_P.gui.xml") {
      EXPECT_EQ(r.out, reportOf(pathOf(c.name), c.says));
    } else {
      EXPECT_TRUE(IsFirstReport(r.out, pathOf(c.name), c.says));
    }
    EXPECT_EQ(r.err, "");
    EXPECT_SAME_BYTES(readBytes(file), c.after) << c.name;
    // The original beside it, under the name the system gave the file.
    fs::path backup = file;
    backup += ".bak";
    if (kOnWindows && c.name == "./MAP_P.gui.xml")
      backup = output() / "map_p.gui.xml.bak";
    EXPECT_SAME_BYTES(readBytes(backup), c.before) << c.name;
  }
  // A name as tab completion types it in the program's folder: not below
  // Output, so from the current folder.
  const std::string typed =
      kOnWindows ? "Output\\map_p.gui.xml" : "Output/map_p.gui.xml";
  writeBytes(output() / "map_p.gui.xml", kLayout);
  ProgramOptions inHome;
  inHome.workingFolder = home_;
  const Result r = run({typed}, inHome);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, reportOf(typed, kConvertedSays));
  EXPECT_SAME_BYTES(readBytes(output() / "map_p.gui.xml"), kConverted);
  // A name from here is taken from here first, although Output holds one.
  const std::string here =
      kOnWindows ? ".\\here_p.gui.xml" : "./here_p.gui.xml";
  writeBytes(home_ / "here_p.gui.xml", kLayout);
  writeBytes(output() / "here_p.gui.xml", kLayout);
  EXPECT_EQ(run({here}, inHome).status, 0);
  EXPECT_SAME_BYTES(readBytes(home_ / "here_p.gui.xml"), kDefaultConverted);
  EXPECT_SAME_BYTES(readBytes(output() / "here_p.gui.xml"), kLayout);
  std::set<std::string> entries{"sub", utf8(*deep.begin()), "here_p.gui.xml"};
  for (const std::string name :
       {"map_p.gui.xml", "MAP_P.gui.xml", "other_p.gui.xml", "empty.gui.xml",
        "width_p.gui.xml", "--odd.gui.xml", "-", "карта 日本.gui.xml",
        "bytes.gui.xml"}) {
    // Windows took MAP_P.gui.xml for the file already there.
    if (kOnWindows && name == "MAP_P.gui.xml") continue;
    entries.insert(name);
    entries.insert(name + ".bak");
  }
  EXPECT_EQ(outputEntries(), entries);
}

TEST_P(AnyHomeTest, APreviewWritesNothingAndCutTextIsTold) {
  const std::string name = "map_p.gui.xml";
  // The value before its label: the rewrite takes the label with it. A
  // closing "/>" without the space is no loss.
  const std::string layout = kLayout +
                             "<P Value=\"900\" Label=\"LEFT\" />\r\n"
                             "<P Label=\"LEFT\" Value=\"600\"/>\r\n";
  writeBytes(output() / name, layout);
  fs::last_write_time(output() / name, fs::last_write_time(output() / name) -
                                           std::chrono::hours(1));
  const auto stamp = fs::last_write_time(output() / name);
  const std::string cut =
      "hudconv: warning: " + pathOf(name) +
      ", line 7: the new number replaced \"\" Label=\"LEFT\" />\" as well, "
      "which was behind the old one\n";
  Result r = run({"--dry-run", name});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            kBanner + console("Input file is: " + pathOf(name) +
                              "\n"
                              "  line 3, LBL_Map: LEFT 300 -> 160 (a built-in "
                              "exception)\n"
                              "  line 5, LBL_Map: WIDTH 1800 -> 1800 (a "
                              "built-in exception)\n"
                              "  line 7, LBL_Map: LEFT 900 -> 360 (a built-in "
                              "exception)\n"
                              "  line 8, LBL_Map: LEFT 600 -> 260 (a built-in "
                              "exception)\n"
                              "Would change 3 LEFT and 1 WIDTH values (4 by "
                              "the built-in exceptions). Nothing was "
                              "written.\n"));
  EXPECT_EQ(r.err, console(cut));
  // Nothing was made, not even a folder.
  EXPECT_SAME_BYTES(readBytes(output() / name), layout);
  EXPECT_EQ(fs::last_write_time(output() / name), stamp);
  EXPECT_EQ(outputEntries(), std::set<std::string>{name});
  EXPECT_FALSE(fs::exists(home_ / "Override"));
  // Converted, with the same warning; then a preview finds it converted.
  r = run({name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, console(cut));
  const std::string converted = readBytes(output() / name);
  r = run({"-n", name});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Already converted"), std::string::npos) << r.out;
  EXPECT_SAME_BYTES(readBytes(output() / name), converted);
  // Five such lines are told in full; beyond five, one line counts the rest.
  std::string many;
  const std::string more =
      " more lines lost text behind their number in the same way";
  for (const std::size_t lines : {5, 7}) {
    many.clear();
    for (std::size_t i = 0; i < lines; ++i)
      many += "<P Label=\"LEFT\" Value=\"900\"/><!-- -->\r\n";
    writeBytes(output() / "many_p.gui.xml", many);
    r = run({"-n", "many_p.gui.xml"});
    std::size_t told = 0;
    for (std::size_t at = r.err.find("the new number replaced");
         at != std::string::npos;
         at = r.err.find("the new number replaced", at + 1))
      ++told;
    EXPECT_EQ(told, 5u) << r.err;
    EXPECT_EQ(r.err.find(more) != std::string::npos, lines > 5) << r.err;
  }
  EXPECT_NE(r.err.find(pathOf("many_p.gui.xml") + ": 2" + more),
            std::string::npos)
      << r.err;
  // The conversion warns alike, but only once the file is replaced: one that
  // fails has cut nothing.
  writeBytes(output() / "bad_p.gui.xml", many + "Label=\"LEFT\" Value=\"x\"\n");
  const Result failed = run({"bad_p.gui.xml"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err.find("the new number"), std::string::npos) << failed.err;
  const Result warned = run({"many_p.gui.xml"});
  EXPECT_EQ(warned.status, 0);
  EXPECT_EQ(warned.err, r.err);
}

TEST_P(AnyHomeTest, ASecondRunNeverMovesTheControlsTwice) {
  const std::string name = "map_p.gui.xml";
  const fs::path file = output() / name;
  const fs::path backup = output() / (name + ".bak");
  const std::string edited = kConverted + "<!-- moved by hand -->\r\n";
  writeBytes(file, kLayout);
  // Older than any clock tick, so that a write shows.
  fs::last_write_time(file, fs::last_write_time(file) - std::chrono::hours(1));
  const auto originalTime = fs::last_write_time(file);
  const std::string error = "hudconv: error: ";
  const struct {
    const char* what;
    std::optional<std::string> put;  // written to the file first
    std::vector<std::string> args;
    int status;
    // The last line of standard output, or how standard error starts.
    std::string says;
    std::string after;
    std::optional<std::string> backupAfter;
    bool first = false;  // a first conversion, which tells of the backup
    std::string ends{};  // where given, how standard output ends
  } steps[] = {
      {"first run", {}, {name}, 0, kConvertedSays, kConverted, kLayout, true},
      {"second run",
       {},
       {name},
       0,
       "Already converted, so nothing was written. The original is kept as " +
           pathOf(name) + ".bak.",
       kConverted,
       kLayout},
      // A select-all drop, or a shell's *: the backup is never converted,
      // and passed over beside its file.
      {"with its backup named too",
       {},
       {name, name + ".bak"},
       0,
       "Already converted, so nothing was written. The original is kept as " +
           pathOf(name) +
           ".bak.\n1 file: 0 converted, 1 already converted, 0 not "
           "converted, 0 could not be opened; 1 backup passed over, named "
           "along with its file.",
       kConverted,
       kLayout},
      {"its backup named in capitals",
       {},
       {name + ".BAK"},
       1,
       error + pathOf(name + ".BAK") +
           " is the original that an earlier conversion kept, and is never "
           "converted itself. To put it back in place of " +
           name + ", run hudconv --restore " + name + ".",
       kConverted,
       kLayout},
      {"a restore is never previewed",
       {},
       {"--restore", "--dry-run", name},
       2,
       error + "--dry-run shows what a conversion would change; it does not "
               "go with --restore",
       kConverted,
       kLayout},
      {"nor updated",
       {},
       {"--restore", "-u", name},
       2,
       error + "--update takes new originals for a conversion; it does not go "
               "with --restore",
       kConverted,
       kLayout},
      {"original put back",
       kLayout,
       {name},
       0,
       kConvertedSays,
       kConverted,
       kLayout},
      {"edited after",
       edited,
       {name},
       1,
       error + pathOf(name) + " was changed since its conversion",
       edited,
       kLayout},
      // Putting the original back would lose the edit.
      {"edited, not restored",
       {},
       {"--restore", name},
       1,
       error + "cannot restore " + pathOf(name) +
           ": it was changed since its conversion",
       edited,
       kLayout},
      // Named by its backup, as a select-all drop does.
      {"restored",
       kConverted,
       {"--restore", name + ".bak"},
       0,
       "Restored the original from " + pathOf(name) +
           ".bak, which is gone now.",
       kLayout,
       {}},
      {"restored again",
       {},
       {"--restore", name},
       2,
       error + "cannot restore " + pathOf(name) + ": no backup " +
           pathOf(name) + ".bak (",
       kLayout,
       {}},
      {"converted again",
       {},
       {name},
       0,
       kConvertedSays,
       kConverted,
       kLayout,
       true},
  };
  for (const auto& step : steps) {
    if (step.put) writeBytes(file, *step.put);
    const auto before = fs::last_write_time(file);
    const Result r = run(step.args);
    EXPECT_EQ(r.status, step.status) << step.what;
    if (step.status == 0) {
      if (step.first) {
        EXPECT_TRUE(IsFirstReport(r.out, pathOf(name), step.says)) << step.what;
      } else {
        EXPECT_EQ(r.out, reportOf(pathOf(name), step.says)) << step.what;
      }
      EXPECT_EQ(r.err, "") << step.what;
    } else {
      EXPECT_EQ(r.err.substr(0, step.says.size()), step.says) << step.what;
      EXPECT_EQ(fs::last_write_time(file), before) << step.what;
    }
    const std::string ends = console(step.ends);
    EXPECT_TRUE(r.out.size() >= ends.size() &&
                r.out.compare(r.out.size() - ends.size(), ends.size(), ends) ==
                    0)
        << step.what << ": " << r.out;
    EXPECT_SAME_BYTES(readBytes(file), step.after) << step.what;
    EXPECT_EQ(fs::exists(backup), step.backupAfter.has_value()) << step.what;
    if (step.backupAfter) {
      EXPECT_SAME_BYTES(readBytes(backup), *step.backupAfter) << step.what;
      EXPECT_EQ(fs::last_write_time(backup), originalTime) << step.what;
    }
  }
  // Nothing written by a second run, not even the time.
  const auto converted = fs::last_write_time(file);
  EXPECT_EQ(run({name}).status, 0);
  EXPECT_EQ(fs::last_write_time(file), converted);
  // With the converted file gone, the backup alone is put back.
  fs::remove(file);
  EXPECT_EQ(run({"--restore", name}).status, 0);
  EXPECT_SAME_BYTES(readBytes(file), kLayout);
  EXPECT_EQ(fs::last_write_time(file), originalTime);
  EXPECT_EQ(outputEntries(), std::set<std::string>{name});
  // So is one from here, where Output holds neither the file nor its backup.
  const fs::path here = home_ / "here";
  fs::create_directory(here);
  writeBytes(here / "x_p.gui.xml.bak", kLayout);
  ProgramOptions inHere;
  inHere.workingFolder = here;
  EXPECT_EQ(run({"--restore", "x_p.gui.xml"}, inHere).status, 0);
  EXPECT_SAME_BYTES(readBytes(here / "x_p.gui.xml"), kLayout);
  EXPECT_FALSE(fs::exists(here / "x_p.gui.xml.bak"));
  // A run stopped between keeping the original and replacing the file left
  // the one file under both names: it is the original, whichever comes next.
  fs::create_hard_link(file, backup);
  EXPECT_EQ(run({name}).status, 0);
  EXPECT_SAME_BYTES(readBytes(file), kConverted);
  EXPECT_SAME_BYTES(readBytes(backup), kLayout);
  // And --restore changes nothing then: the original is in place.
  fs::remove(file);
  fs::create_hard_link(backup, file);
  const Result r = run({"--restore", name});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, reportOf(pathOf(name),
                            "The original is in place already: " +
                                pathOf(name) + " and " + pathOf(name) +
                                ".bak are the same file, as a run stopped "
                                "before replacing it left them. Nothing was "
                                "changed."));
  EXPECT_SAME_BYTES(readBytes(file), kLayout);
  EXPECT_TRUE(fs::equivalent(file, backup));
}

// What a player does after the first conversion of a whole HUD: deletes the
// backups as clutter, puts originals back by hand, gets a game update over
// part of it, tunes a value by hand, and converts the whole HUD again each
// time. No control ever moves twice, and each file ends as the player
// expects.
// A whole HUD reads at a glance: a line or two a file, the backups that a
// shell's * hands along passed over, and a preview that converts nothing.
TEST_F(CommandLineTest, AWholeHudIsToldInALineOrTwoAFile) {
  constexpr std::size_t kFiles = 20;
  std::vector<std::string> names;
  std::vector<std::string> withBackups;  // as Output/* names them
  for (std::size_t i = 0; i < kFiles; ++i) {
    // Piece by piece: GCC 12 warns, wrongly, of an overlap otherwise.
    std::string name = "f";
    name += std::to_string(10 + i);
    name += "_p.gui.xml";
    names.push_back(name);
    writeBytes(output() / names.back(), kLayout);
    withBackups.push_back(pathOf(names.back()));
    withBackups.push_back(pathOf(names.back() + ".bak"));
  }
  const std::string hud = utf8(output());
  const std::string counted = std::to_string(kFiles) + " files: ";
  const auto with = [](std::vector<std::string> args,
                       std::vector<std::string> more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::size_t lines;  // of standard output, the banner included
    std::string summary;
    std::string converted;  // what each file holds after
    bool backups;
  } steps[] = {
      {"previewed",
       {"--dry-run", hud},
       1 + kFiles + 1,
       counted + "20 would be converted, 0 already converted, 0 would not be "
                 "converted, 0 could not be opened. Nothing was written.",
       kLayout,
       false},
      {"previewed in full",
       {"--dry-run", "--verbose", hud},
       1 + 4 * kFiles + 1,
       counted + "20 would be converted",
       kLayout,
       false},
      {"converted",
       {hud},
       1 + 2 * kFiles + 1 + 1,
       counted +
           "20 converted, 0 already converted, 0 not converted, 0 could not "
           "be opened.",
       kDefaultConverted,
       true},
      {"with the backups the shell hands along", withBackups,
       1 + 2 * kFiles + 1,
       counted +
           "0 converted, 20 already converted, 0 not converted, 0 could not "
           "be opened; 20 backups passed over, named along with their files.",
       kDefaultConverted, true},
      {"restored alike", with({"--restore"}, withBackups), 1 + 2 * kFiles + 1,
       counted +
           "20 restored, 0 already in place, 0 not restored, 0 without a "
           "backup or not opened; 20 backups passed over, named along with "
           "their files.",
       kLayout, false},
  };
  for (const auto& step : steps) {
    const Result r = run(step.args);
    EXPECT_EQ(r.status, 0) << step.what << r.err;
    EXPECT_EQ(r.err, "") << step.what;
    EXPECT_EQ(
        static_cast<std::size_t>(std::count(r.out.begin(), r.out.end(), '\n')),
        step.lines)
        << step.what << "\n"
        << r.out;
    EXPECT_NE(r.out.find(console(step.summary)), std::string::npos)
        << step.what << "\n"
        << r.out;
    for (const std::string& name : names) {
      EXPECT_SAME_BYTES(readBytes(output() / name), step.converted)
          << step.what << name;
      EXPECT_EQ(fs::exists(output() / (name + ".bak")), step.backups)
          << step.what << name;
    }
  }
  // A preview's line of a file names it, in the conditional.
  const Result r = run({"--dry-run", hud});
  EXPECT_NE(r.out.find(console(pathOf(names[0]) +
                               ": would change 1 LEFT and 1 WIDTH values, 0 "
                               "by an exception\n")),
            std::string::npos)
      << r.out;
}

// A HUD of 2,000 files: each converted once and kept, in a run whose files
// go to disk together, no more open at once than a system allows (1,024 is
// common), and the record knows them all once the backups are deleted. A
// file named before its folder is found converted there.
TEST_F(CommandLineTest, TwoThousandFilesAreEachConvertedOnceAndRecorded) {
  // Under Wine, 250: three batches, more files than one batch may hold.
  const std::size_t kFiles = kOnWindows ? 250 : 2000;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < kFiles; ++i) {
    std::string name = "f";
    name += std::to_string(i);
    name += "_p.gui.xml";
    names.push_back(name);
    writeBytes(output() / name, kLayout);
  }
  const std::string hud = utf8(output());
  ProgramOptions options;
  options.openFiles = 1024;
  const Result r = run({pathOf(names[0]), hud}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string count = std::to_string(kFiles);
  EXPECT_NE(r.out.find(console(std::to_string(kFiles + 1) + " files: " + count +
                               " converted, 1 already converted, 0 "
                               "not converted, 0 could not be "
                               "opened.\n")),
            std::string::npos)
      << r.out.substr(r.out.size() - std::min<std::size_t>(r.out.size(), 400));
  for (const std::string& name : names) {
    ASSERT_SAME_BYTES(readBytes(output() / name), kDefaultConverted) << name;
    ASSERT_SAME_BYTES(readBytes(output() / (name + ".bak")), kLayout) << name;
    fs::remove(output() / (name + ".bak"));
  }
  const Result again = run({hud});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find(console(count + " files: 0 converted, " + count +
                                   " already converted")),
            std::string::npos);
  for (const std::string& name : names)
    ASSERT_SAME_BYTES(readBytes(output() / name), kDefaultConverted) << name;
}

// Each command a message suggests runs as pasted, in a folder whose name
// the shell would split or take for its own.
TEST_F(CommandLineTest, ASuggestedCommandRunsAsPasted) {
  moveHome(root_ / "HUD Copy's (x86) & more");
  const std::string name = "a_p.gui.xml";
  writeBytes(output() / name, kLayout);
  ASSERT_EQ(run({name}).status, 0);
  const std::string& patched = kPatched;
  const std::string& patchedConverted = kPatchedConverted;
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string from, to;  // what the command stands between
    std::string after, backupAfter;
  } steps[] = {
      {"a new original",
       {name},
       "; hudconv ",
       " keeps it",
       patchedConverted,
       patched},
      {"a backup named",
       {pathOf(name + ".bak")},
       ", run hudconv ",
       ".\n",
       patched,
       ""},
  };
  writeBytes(output() / name, patched);
  for (const auto& step : steps) {
    const Result refused = run(step.args);
    EXPECT_EQ(refused.status, 1) << step.what << refused.err;
    const std::size_t from = refused.err.find(step.from);
    ASSERT_NE(from, std::string::npos) << step.what << refused.err;
    const std::size_t start = from + step.from.size();
    ProgramOptions pasted;
    pasted.typed = refused.err.substr(
        start, refused.err.find(console(step.to), start) - start);
    const Result r = run({}, pasted);
    EXPECT_EQ(r.status, 0) << step.what << ": " << *pasted.typed << r.err;
    EXPECT_SAME_BYTES(readBytes(output() / name), step.after) << step.what;
    EXPECT_EQ(fs::exists(output() / (name + ".bak")), !step.backupAfter.empty())
        << step.what;
  }
}

// cmd.exe hands on "C:\HUD Copy\" as C:\HUD Copy" : the folder is taken all
// the same, and a name that is nowhere has its stray quote pointed at.
TEST_F(CommandLineTest, AQuoteThatCmdLeftAtTheEndOfANameIsTakenOff) {
  const fs::path folder = root_ / "HUD Copy";
  fs::create_directories(folder);
  writeBytes(folder / "a_p.gui.xml", kLayout);
  const struct {
    std::string name;
    int status;
    std::string says;
  } cases[] = {
      {utf8(folder), 0,
       "Took " + utf8(folder) + " for " + utf8(folder) + "\" (cmd passes"},
      {utf8(root_ / "HUD Nowhere"), 2, "\" at its end is stray (cmd passes"},
  };
  for (const auto& c : cases) {
    ProgramOptions typed;
    // As the player types it in cmd.exe, and as cmd.exe passes it on.
    typed.typed = kOnWindows ? "\"" + c.name + "\\\"" : "'" + c.name + "\"'";
    const Result r = run({}, typed);
    EXPECT_EQ(r.status, c.status) << c.name << r.err;
    EXPECT_NE((r.out + r.err).find(console(c.says)), std::string::npos)
        << r.out << r.err;
  }
  EXPECT_SAME_BYTES(readBytes(folder / "a_p.gui.xml"), kDefaultConverted);
}

TEST_F(CommandLineTest, AfterATidyUpAndAGameUpdateNoControlMovesTwice) {
  const std::string hud = utf8(output());
  const std::vector<std::string> names = {"a_p.gui.xml", "b_p.gui.xml",
                                          "c_p.gui.xml"};
  const std::string& patched = kPatched;
  const std::string& patchedConverted = kPatchedConverted;
  std::string tuned = kDefaultConverted;
  tuned.replace(tuned.find("367"), 3, "370");
  // An update that moved the controls and added a line: no value of it is
  // one hudconv wrote.
  std::string moved = kLayout;
  moved.replace(moved.find("300"), 3, "310");
  moved.replace(moved.find("1800"), 4, "1700");
  moved.replace(moved.find("</GuiScreen>"), 0, "  <Added/>\r\n");
  buildRuleTable();
  inputFileName = "b_p.gui.xml";
  const auto convertedText = [](const std::string& text) {
    return convertInPieces(text, text.size() + 1, LayoutConverter::kBlockSize);
  };
  const std::string movedConverted = convertedText(moved);
  // Its conversion, a control added since: converted by name, the values
  // hudconv wrote stay.
  const std::string control =
      "  <Property Label=\"TAG\" Value=\"LBL_New\" />\r\n"
      "  <Property Label=\"LEFT\" Value=\"600\" />\r\n";
  const auto withControl = [&](std::string text) {
    return text.replace(text.find("</GuiScreen>"), 0, control);
  };
  const std::string edited = withControl(movedConverted);
  const std::string editedTaken = convertedText(withControl(moved));
  // What the three files and their backups hold after each step; empty:
  // no backup.
  struct Files {
    std::string a, b, c, aBackup, bBackup, cBackup;
  };
  const Files converted = {kDefaultConverted, kDefaultConverted,
                           kDefaultConverted, kLayout,
                           kLayout,           kLayout};
  const Files tidied = {
      kDefaultConverted, kDefaultConverted, kDefaultConverted, "", "", ""};
  const Files updated = {patched, kDefaultConverted, tuned,
                         kLayout, kLayout,           kLayout};
  const Files taken = {patchedConverted, kDefaultConverted, tuned,
                       patched,          kLayout,           kLayout};
  const Files misCopied = {kDefaultConverted,
                           kDefaultConverted,
                           kDefaultConverted,
                           kDefaultConverted,
                           "",
                           ""};
  const Files movedTaken = {patchedConverted, movedConverted, tuned,
                            patched,          moved,          kLayout};
  const Files changed = {patchedConverted, edited, tuned,
                         patched,          moved,  kLayout};
  const Files namedTaken = {patchedConverted, editedTaken, tuned,
                            patched,          moved,       kLayout};
  const struct Step {
    const char* what;
    std::function<void()> before;
    std::vector<std::string> args;
    int status;
    Files after;
    std::vector<std::string> says;  // each in the output or the errors
  } steps[] = {
      {"the first conversion", [] {}, {hud}, 0, converted, {}},
      {"backups deleted, the whole HUD again",
       [&] {
         for (const std::string& name : names)
           fs::remove(output() / (name + ".bak"));
       },
       {hud},
       0,
       tidied,
       {"Already converted (hudconv wrote these bytes), so nothing was "
        "written. Its original cannot be put back with --restore: " +
            pathOf("a_p.gui.xml.bak") + " was deleted.",
        "3 files: 0 converted, 3 already converted, 0 not converted"}},
      {"no converted file is restored as an original",
       [] {},
       {"--restore", hud},
       2,
       tidied,
       {"no file with a backup (.bak) in " + hud + "."}},
      {"a converted file copied as its backup is never put back",
       [&] {
         fs::copy_file(output() / "a_p.gui.xml", output() / "a_p.gui.xml.bak");
       },
       {"--restore", "a_p.gui.xml"},
       1,
       misCopied,
       {"cannot restore " + pathOf("a_p.gui.xml") + ": " +
        pathOf("a_p.gui.xml.bak") +
        " holds the file as hudconv converted it, not its original: put "
        "back, each control would move again. Nothing was changed."}},
      // The record knows the originals it converted.
      {"originals put back by hand",
       [&] {
         fs::remove(output() / "a_p.gui.xml.bak");
         for (const std::string& name : names)
           writeBytes(output() / name, kLayout);
       },
       {hud},
       0,
       converted,
       {"3 files: 3 converted"}},
      {"a pattern that matches everything",
       [] {},
       {utf8(output() / "*")},
       0,
       converted,
       {"3 files: 0 converted, 3 already converted"}},
      {"the record named",
       [] {},
       {".hudconv.record"},
       1,
       converted,
       {pathOf(".hudconv.record") +
        " is hudconv's record of the files it converted in its folder, not "
        "a layout file: it is never converted."}},
      {"a game update over one file, a value tuned in another",
       [&] {
         writeBytes(output() / "a_p.gui.xml", patched);
         writeBytes(output() / "c_p.gui.xml", tuned);
       },
       {hud},
       1,
       updated,
       {pathOf("a_p.gui.xml") +
            " is a new original (a game update?) and was left unchanged; "
            "hudconv --update " +
            pathOf("a_p.gui.xml") + " keeps it as its backup and converts it.",
        std::string("Already converted; 1 value was changed after the "
                    "conversion and is kept. Nothing was written."),
        std::string("3 files: 0 converted, 2 already converted, 1 not "
                    "converted, 0 could not be opened."),
        "  not converted: " + pathOf("a_p.gui.xml") +
            " (new original (game update?))",
        "  already converted: " + pathOf("c_p.gui.xml") +
            " (tuned by hand, kept)",
        std::string("1 file is a new original, as a game update brings: to "
                    "convert it, run the same command again with --update.")}},
      {"the update previewed",
       [] {},
       {"--dry-run", "--update", hud},
       0,
       updated,
       {pathOf("a_p.gui.xml") +
            ": a new original (game update?), would be kept as its backup in "
            "place of the old one; would change 1 LEFT and 1 WIDTH values, 0 "
            "by an exception\n",
        std::string("3 files: 1 would be converted, 2 already converted, 0 "
                    "would not be converted, 0 could not be opened. Nothing "
                    "was written.")}},
      {"the update",
       [] {},
       {"-u", hud},
       0,
       taken,
       {"Input file is: " + pathOf("a_p.gui.xml") +
        "\nChanged 1 LEFT and 1 WIDTH values (0 by the built-in exceptions). "
        "A new original (game update?): kept as " +
        pathOf("a_p.gui.xml.bak") + " in place of the old one.\nInput"}},
      {"the update again",
       [] {},
       {"--update", hud},
       0,
       taken,
       {"3 files: 0 converted, 3 already converted, 0 not converted"}},
      {"new values and a line added, the whole HUD updated",
       [&] { writeBytes(output() / "b_p.gui.xml", moved); },
       {"--update", hud},
       0,
       movedTaken,
       {"3 files: 1 converted, 2 already converted"}},
      {"changed in other ways, the whole HUD updated",
       [&] { writeBytes(output() / "b_p.gui.xml", edited); },
       {"--update", hud},
       1,
       changed,
       {pathOf("b_p.gui.xml") + " was changed since its conversion: ",
        "  not converted: " + pathOf("b_p.gui.xml") +
            " (changed since its conversion)",
        "1 file holds values hudconv wrote and was changed otherwise since "
        "(lines added, removed or rewritten): named with --update, the rest "
        "of it is converted and those values stay, with the original kept "
        "as the backup. To convert them: hudconv --update " +
            pathOf("b_p.gui.xml") + "\n"}},
      {"changed in other ways, updated by name",
       [] {},
       {"--update", "b_p.gui.xml"},
       0,
       namedTaken,
       {"Changed since its conversion: it was converted but for the values "
        "hudconv wrote in it, which stay as they are; " +
        pathOf("b_p.gui.xml.bak") + " stays its original."}},
      {"converted around its values, the whole HUD again",
       [] {},
       {"--update", hud},
       0,
       namedTaken,
       {"3 files: 0 converted, 3 already converted"}},
      {"a tuned file is not restored over",
       [] {},
       {"--restore", "c_p.gui.xml"},
       1,
       namedTaken,
       {"cannot restore " + pathOf("c_p.gui.xml") +
        ": values were tuned by hand in it since its conversion, and "
        "putting " +
        pathOf("c_p.gui.xml.bak") + " back would lose them; to put the " +
        "original back all the same, move " + pathOf("c_p.gui.xml") +
        " away and run: hudconv --restore " + pathOf("c_p.gui.xml") +
        ". Nothing was changed."}},
  };
  for (const std::string& name : names) writeBytes(output() / name, kLayout);
  for (const Step& step : steps) {
    step.before();
    const Result r = run(step.args);
    EXPECT_EQ(r.status, step.status) << step.what << ": " << r.err;
    for (const std::string& says : step.says)
      EXPECT_TRUE(r.out.find(console(says)) != std::string::npos ||
                  r.err.find(console(says)) != std::string::npos)
          << step.what << ": " << says << "\n"
          << r.out << r.err;
    const Files& after = step.after;
    const std::string files[] = {after.a, after.b, after.c};
    const std::string backups[] = {after.aBackup, after.bBackup, after.cBackup};
    std::set<std::string> entries;
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_SAME_BYTES(readBytes(output() / names[i]), files[i])
          << step.what << ": " << names[i];
      entries.insert(names[i]);
      if (backups[i].empty()) continue;
      EXPECT_SAME_BYTES(readBytes(output() / (names[i] + ".bak")), backups[i])
          << step.what << ": " << names[i];
      entries.insert(names[i] + ".bak");
    }
    EXPECT_EQ(outputEntries(), entries) << step.what;
  }
  // Without its backup, a file tuned by hand and a game update's look
  // alike: it is left as it is, whatever else is deleted.
  fs::remove(output() / "c_p.gui.xml.bak");
  const Result alike = run({"c_p.gui.xml"});
  EXPECT_EQ(alike.status, 1);
  EXPECT_NE(alike.err.find("was changed since hudconv converted it"),
            std::string::npos)
      << alike.err;
  EXPECT_SAME_BYTES(readBytes(output() / "c_p.gui.xml"), tuned);
  // A damaged record is told once a run, however many files it is read
  // for, and trusted in no part: the backups still tell what is converted.
  writeBytes(output() / "c_p.gui.xml.bak", kLayout);
  writeBytes(output() / ".hudconv.record",
             "hudconv record 1\n0 0 0 0 a_p.gui.xml\n");
  const Result damaged = run({"--restore", hud});
  EXPECT_EQ(damaged.status, 1) << damaged.err;
  const std::string ignored = "is damaged or of another version";
  const std::size_t first = damaged.err.find(ignored);
  EXPECT_NE(first, std::string::npos) << damaged.err;
  EXPECT_EQ(damaged.err.find(ignored, first + 1), std::string::npos)
      << damaged.err;
  EXPECT_SAME_BYTES(readBytes(output() / "a_p.gui.xml"), patched);
  // Converted around the values hudconv wrote, it is no original either.
  EXPECT_SAME_BYTES(readBytes(output() / "b_p.gui.xml"), editedTaken);
  EXPECT_SAME_BYTES(readBytes(output() / "c_p.gui.xml"), tuned);
}

TEST_F(CommandLineTest, AFreshCopyOfTheGameIsTakenInTheCommandTheRunNames) {
  const std::string hud = utf8(output());
  const std::vector<std::string> names = {"a_p.gui.xml", "b_p.gui.xml",
                                          "c_p.gui.xml"};
  for (const std::string& name : names) writeBytes(output() / name, kLayout);
  ASSERT_EQ(run({hud}).status, 0);
  // The files and their backups deleted, a new version copied in; the
  // record stays.
  for (const std::string& name : names) {
    fs::remove(output() / (name + ".bak"));
    writeBytes(output() / name, kPatched);
  }
  const Result held = run({hud});
  EXPECT_EQ(held.status, 1);
  const std::string command =
      "To convert them: hudconv --update " + pathOf("a_p.gui.xml") + " " +
      pathOf("b_p.gui.xml") + " " + pathOf("c_p.gui.xml") + "\n";
  EXPECT_NE(held.out.find(console("3 files are not what hudconv wrote and "
                                  "have no backup beside them")),
            std::string::npos)
      << held.out;
  EXPECT_NE(held.out.find(console(command)), std::string::npos) << held.out;
  // The command as the run gave it.
  std::vector<std::string> pasted = {"--update"};
  for (const std::string& name : names) pasted.push_back(pathOf(name));
  EXPECT_EQ(run(pasted).status, 0);
  for (const std::string& name : names) {
    EXPECT_SAME_BYTES(readBytes(output() / name), kPatchedConverted) << name;
    EXPECT_SAME_BYTES(readBytes(output() / (name + ".bak")), kPatched) << name;
  }
  // An update removes a file: the record forgets it once a run finds the
  // file and its backup gone, and a file of that name later is an original.
  fs::remove(output() / "c_p.gui.xml");
  fs::remove(output() / "c_p.gui.xml.bak");
  // One whose backup is still there is not forgotten.
  fs::remove(output() / "b_p.gui.xml");
  EXPECT_EQ(run({hud}).status, 0);
  std::vector<RecordEntry> entries;
  ASSERT_TRUE(parseRecord(readBytes(output() / ".hudconv.record"), entries));
  std::set<std::string> recorded;
  for (const RecordEntry& entry : entries) recorded.insert(entry.name);
  EXPECT_EQ(recorded, (std::set<std::string>{"a_p.gui.xml", "b_p.gui.xml"}));
  writeBytes(output() / "c_p.gui.xml", kLayout);
  EXPECT_EQ(run({hud}).status, 0);
  EXPECT_SAME_BYTES(readBytes(output() / "c_p.gui.xml"), kDefaultConverted);
}

// The player's memory knows what hudconv wrote wherever it lies: nothing
// moves twice once the backups and the record are deleted, or the HUD is
// copied elsewhere, and no such bytes are put back as an original.
TEST_F(CommandLineTest, WhatHudconvWroteIsRememberedWhateverIsDeletedBesideIt) {
  const std::string hud = utf8(output());
  const std::vector<std::string> names = {"a_p.gui.xml", "b_p.gui.xml"};
  for (const std::string& name : names) writeBytes(output() / name, kLayout);
  ASSERT_EQ(run({hud}).status, 0);
  for (const std::string& name : names) fs::remove(output() / (name + ".bak"));
  fs::remove(output() / ".hudconv.record");
  const Result tidied = run({hud});
  EXPECT_EQ(tidied.status, 0) << tidied.err;
  EXPECT_NE(tidied.out.find(console("2 files: 0 converted, 2 already")),
            std::string::npos)
      << tidied.out;
  const fs::path copy = root_ / "Copy";
  fs::create_directory(copy);
  for (const std::string& name : names) {
    EXPECT_SAME_BYTES(readBytes(output() / name), kDefaultConverted) << name;
    fs::copy_file(output() / name, copy / name);
  }
  EXPECT_EQ(run({utf8(copy)}).status, 0);
  EXPECT_SAME_BYTES(readBytes(copy / "a_p.gui.xml"), kDefaultConverted);
  // A converted file kept as a backup is no original to put back.
  writeBytes(copy / "b_p.gui.xml.bak", kDefaultConverted);
  fs::remove(copy / ".hudconv.record");
  const Result restored = run({"--restore", utf8(copy / "b_p.gui.xml")});
  EXPECT_EQ(restored.status, 1);
  EXPECT_NE(restored.err.find("holds the file as hudconv converted it"),
            std::string::npos)
      << restored.err;
  // A memory that cannot be written stops no conversion: one warning.
  fs::remove_all(root_ / "profile");
  fs::create_directory(root_ / "profile");
  writeBytes(root_ / "profile" / "hudconv", "not a folder");
  for (const std::string& name : names) writeBytes(copy / name, kPatched);
  fs::remove(copy / "b_p.gui.xml.bak");
  fs::remove(copy / ".hudconv.record");
  const fs::path second = root_ / "Second";
  fs::create_directory(second);
  writeBytes(second / "a_p.gui.xml", kPatched);
  const Result forgotten = run({utf8(copy), utf8(second)});
  EXPECT_EQ(forgotten.status, 0) << forgotten.err;
  const std::string warning = "(hudconv's memory, in your profile,";
  const std::size_t first = forgotten.err.find(warning);
  EXPECT_NE(first, std::string::npos) << forgotten.err;
  EXPECT_EQ(forgotten.err.find(warning, first + 1), std::string::npos)
      << forgotten.err;
  for (const std::string& name : names)
    EXPECT_SAME_BYTES(readBytes(copy / name), kPatchedConverted) << name;
}

TEST_F(CommandLineTest, ABackupThatIsNoOriginalIsNeverTakenForOne) {
  const std::string name = "map_p.gui.xml";
  const std::string path = pathOf(name);
  const fs::path backup = output() / (name + ".bak");
  const std::string report = kBanner + console("Input file is: " + path + "\n");
  const std::string restoring = "cannot restore " + path + ": ";
  const std::string notABackup =
      ", not the original that hudconv keeps under that name: remove it or "
      "rename it, and run hudconv again. ";
  // What stands as the backup: its bytes, a folder, or a symbolic link to
  // them.
  enum Kind { kBytes, kFolder, kLink, kUnreadable };
  struct Case {
    const char* what;
    std::string file;
    Kind kind;
    std::string backup;  // its bytes, or where the link points
    bool restore;
    std::string err;
  };
  std::vector<Case> cases = {
      // Converted into nothing, so not into the file either.
      {"a backup with a bad value", "a\r\n", kBytes,
       "Label=\"LEFT\" Value=\"abc\" />\r\n", false,
       path + " was changed since its conversion"},
      {"a folder", kLayout, kFolder, "", false,
       path + ".bak is a folder" + notABackup + path + " was left unchanged."},
      {"a folder, restored", kLayout, kFolder, "", true,
       restoring + path + ".bak is a folder" + notABackup +
           "Nothing was changed."},
      // Edited and never converted, or the backup is another file's.
      {"another file's original, restored", kLayout, kBytes, "<other/>\r\n",
       true, restoring + "it is a new original"},
  };
  if (!kOnWindows) {
    const std::vector<Case> links = {
        {"a link to the file", kLayout, kLink, name, false,
         path + ".bak is a symbolic link" + notABackup + path +
             " was left unchanged."},
        {"a link to the file, restored", kLayout, kLink, name, true,
         restoring + path + ".bak is a symbolic link" + notABackup},
        {"a link to another file, restored", kLayout, kLink, "../other.txt",
         true, restoring + path + ".bak is a symbolic link" + notABackup},
        {"a dangling link", kLayout, kLink, "missing", false,
         path + ".bak is a symbolic link" + notABackup},
        {"a dangling link, restored", kLayout, kLink, "missing", true,
         restoring + path + ".bak is a symbolic link" + notABackup},
        {"an unreadable backup", kLayout, kUnreadable, kLayout, false,
         "cannot read the backup " + path + ".bak: Permission denied. " + path +
             " was left unchanged."},
        {"an unreadable backup, restored", kLayout, kUnreadable, kLayout, true,
         restoring + "cannot read the backup " + path +
             ".bak: Permission denied. Nothing was changed."},
    };
    cases.insert(cases.end(), links.begin(), links.end());
  }
  writeBytes(home_ / "other.txt", kConverted);
  for (const auto& c : cases) {
    writeBytes(output() / name, c.file);
    if (c.kind == kFolder)
      fs::create_directory(backup);
    else if (c.kind == kLink)
      fs::create_symlink(c.backup, backup);
    else
      writeBytes(backup, c.backup);
    if (c.kind == kUnreadable) fs::permissions(backup, fs::perms::none);
    const std::vector<std::string> args =
        c.restore ? std::vector<std::string>{"--restore", name}
                  : std::vector<std::string>{name};
    const Result r = run(args, asAnotherUser());
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.out, report) << c.what;
    EXPECT_EQ(r.err.rfind("hudconv: error: " + c.err, 0), 0u)
        << c.what << ": " << r.err;
    EXPECT_SAME_BYTES(readBytes(output() / name), c.file) << c.what;
    EXPECT_EQ(fs::is_symlink(backup), c.kind == kLink) << c.what;
    if (c.kind == kBytes) {
      EXPECT_SAME_BYTES(readBytes(backup), c.backup) << c.what;
    }
    EXPECT_EQ(outputEntries(), (std::set<std::string>{name, name + ".bak"}))
        << c.what;
    fs::remove_all(backup);
  }
  EXPECT_SAME_BYTES(readBytes(home_ / "other.txt"), kConverted);
}

TEST_P(AnyHomeTest, ADroppedFileIsConvertedWhereItIs) {
  // A file manager passes the full path of a file dropped on the program;
  // the exceptions still go by the file's bare name.
  const fs::path near = root_ / utf8Path("Dropped Ωμέγα");
  for (const fs::path& folder : {near, longFolder(near)}) {
    const fs::path file = folder / "map_p.gui.xml";
    fs::create_directories(folder);
    writeBytes(file, kLayout);
    const Result r = run({utf8(file)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(IsFirstReport(r.out, utf8(file), kConvertedSays));
    EXPECT_SAME_BYTES(readBytes(file), kConverted) << file;
    std::set<std::string> beside;
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.is_regular_file()) beside.insert(utf8(entry.path().filename()));
    EXPECT_EQ(beside, (std::set<std::string>{".hudconv.record", "map_p.gui.xml",
                                             "map_p.gui.xml.bak"}));
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
  EXPECT_TRUE(IsFirstReport(r.out, pathOf("map_p.gui.xml"), kConvertedSays));
  EXPECT_SAME_BYTES(readBytes(output() / "map_p.gui.xml"), kConverted);
  EXPECT_TRUE(fs::is_directory(home_ / "Override"));
}

TEST_P(AnyHomeTest, ABadValueStopsTheRunAndKeepsTheFile) {
  const std::string name = "map_p.gui.xml";
  const struct {
    std::string line, says;
  } cases[] = {
      // The reason, and what it means for that line.
      {"  <Property Label=\"WIDTH\" Value=\"wide\" />\r\n",
       "invalid stoi argument: the WIDTH value \"wide\" is not a whole "
       "number."},
      {"  <Property Label=\"LEFT\" Value=\"99999999999\" />\r\n",
       "stoi argument out of range: the LEFT value \"99999999999\" does not "
       "fit a 32-bit integer."},
      // UTF-16 text, or an image dropped by mistake.
      {std::string("<\0P\0", 4), std::string(kNulByteText) + "."},
  };
  // Saved as UTF-16 by Notepad ("Unicode"), with its byte-order mark or
  // without: told in words a player can act on.
  const std::string utf16 =
      "it is saved as UTF-16 (\"Unicode\" in Notepad): "
      "save it as UTF-8 or ANSI and run again.";
  for (const std::string& text :
       {std::string("\xFF\xFE<\0G\0u\0i\0\r\0\n\0", 14),
        std::string("<\0G\0u\0i\0S\0c\0r\0\r\0\n\0", 18),
        std::string("\0<\0G\0u\0i\0>\0\r\0\n", 14)}) {
    writeBytes(output() / name, text);
    const std::string err = expectFailureLeavesFile(name);
    EXPECT_NE(err.find(pathOf(name) + ", line 1: " + utf16), std::string::npos)
        << err;
  }
  // In the larger file the new one is megabytes long when the bad value
  // comes.
  for (const auto& c : cases) {
    for (const std::size_t copies : {1, 40000}) {
      std::string layout;
      for (std::size_t i = 0; i < copies; ++i) layout += kLayout;
      writeBytes(output() / name, layout + c.line);
      const auto stamp = fs::last_write_time(output() / name);
      const std::string err = expectFailureLeavesFile(name);
      EXPECT_NE(err.find(pathOf(name) + ", line " +
                         std::to_string(6 * copies + 1) + ": " + c.says),
                std::string::npos)
          << err;
      EXPECT_EQ(fs::last_write_time(output() / name), stamp);
    }
  }
}

// A file the user may not write, or that is marked read-only, is never
// replaced: not by a conversion, for root neither, and not by --restore.
TEST_P(AnyHomeTest, AFileTheUserMayNotWriteIsLeftAloneAndReported) {
  // The folder is open to all, so only the file's own mode can stop a write.
  // On Windows this sets the read-only attribute.
  fs::permissions(output(), fs::perms::all);
  const fs::perms readOnly =
      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  writeBytes(output() / "kept_p.gui.xml", kLayout);
  ASSERT_EQ(run({"kept_p.gui.xml"}).status, 0);
  fs::permissions(output() / "kept_p.gui.xml", readOnly);
  writeBytes(output() / "map_p.gui.xml", kLayout);
  fs::permissions(output() / "map_p.gui.xml", readOnly);
  const std::string marked =
      ": the file is marked read-only; clear the mark with " +
      std::string(kOnWindows ? "attrib -r " : "chmod u+w ");
  const struct {
    const char* what;
    std::vector<std::string> args;
    ProgramOptions options;
    std::string says;
  } cases[] = {
      {"converted by another user",
       {"map_p.gui.xml"},
       asAnotherUser(),
       "cannot write " + pathOf("map_p.gui.xml") + ": "},
      {"converted by its owner, or root",
       {"map_p.gui.xml"},
       {},
       "cannot write " + pathOf("map_p.gui.xml") + marked},
      {"restored",
       {"--restore", "kept_p.gui.xml"},
       {},
       "cannot restore " + pathOf("kept_p.gui.xml") + ": cannot write " +
           pathOf("kept_p.gui.xml") + marked},
  };
  for (const auto& c : cases) {
    const std::string file = c.args.back();
    const std::string before = readBytes(output() / file);
    const auto entries = outputEntries();
    const Result r = run(c.args, c.options);
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.what << r.err;
    EXPECT_SAME_BYTES(readBytes(output() / file), before) << c.what;
    EXPECT_EQ(outputEntries(), entries) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(Homes, AnyHomeTest,
                         ::testing::Values(Home{"Ascii", "home"},
                                           Home{"Mixed", "José 日本 Ωμέγα"},
                                           Home{"Cyrillic", "Игры"}),
                         [](const ::testing::TestParamInfo<Home>& home) {
                           return std::string(home.param.label);
                         });

}  // namespace
