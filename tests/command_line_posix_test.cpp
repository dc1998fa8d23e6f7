// Command-line cases that only POSIX systems can set up: a file-size limit,
// permission bits and symbolic links.

#include "command_line_fixture.h"

namespace {

TEST_F(CommandLineTest, AFailedWriteKeepsTheFileAndLeavesNoTemporary) {
  // The limit stops the converted text, not the short messages.
  std::string layout;
  while (layout.size() < 16384) layout += kLayout;
  writeBytes(output() / "map_p.gui.xml", layout);
  const std::string err =
      expectFailureLeavesFile("map_p.gui.xml", {8192, false, {}});
  EXPECT_NE(err.find("File too large"), std::string::npos) << err;
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
