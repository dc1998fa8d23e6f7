// What a run makes of a file it has seen before, told as a player's short
// stories: the backup and the record each guard, the record of the right
// folder and the right file, and what is told of each file comes whole, in
// its place.

#include "command_line_fixture.h"

namespace {

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

TEST_F(CommandLineTest, AFileSeenBeforeIsKnownByItsBackupOrTheRecord) {
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
