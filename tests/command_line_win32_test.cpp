// Command-line cases that only Windows can set up.

#include <windows.h>

#include "command_line_fixture.h"

namespace {

TEST_F(CommandLineTest, AFileAnotherProgramHoldsOpenIsLeftAlone) {
  // Another program may let us read and write the file but not replace it;
  // the replace then fails only at its last step, after the temporary file
  // has been written.
  const std::string name = "map_p.gui.xml";
  writeBytes(output() / name, kLayout);
  const HANDLE held =
      ::CreateFileA((output() / name).string().c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::string err = expectFailureLeavesFile(name);
  ::CloseHandle(held);
  EXPECT_NE(err.find("cannot rename "), std::string::npos) << err;
}

TEST_F(CommandLineTest, KeepsTheFileHidden) {
  const std::string name = "map_p.gui.xml";
  const std::string path = (output() / name).string();
  writeBytes(output() / name, kLayout);
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(run({name}).status, 0);
  EXPECT_EQ(readBytes(output() / name), kConverted);
  EXPECT_TRUE(::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

}  // namespace
