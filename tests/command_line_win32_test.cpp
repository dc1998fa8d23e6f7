// Command-line cases that only Windows can set up.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "command_line_fixture.h"

namespace {

TEST_F(CommandLineTest, AFileAnotherProgramHoldsOpenIsLeftAlone) {
  // Another program may let us read and write the file but not replace it;
  // the replace then fails only at its last step, after the temporary file
  // has been written. Held without any sharing, it cannot even be opened.
  const std::string name = "map_p.gui.xml";
  writeBytes(output() / name, kLayout);
  const auto hold = [&](DWORD sharing) {
    return ::CreateFileW((output() / name).c_str(), GENERIC_READ, sharing,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  };
  HANDLE held = hold(FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  // The original was kept just before the rename failed.
  const std::string err = expectFailureLeavesFile(name, {}, true);
  ::CloseHandle(held);
  EXPECT_NE(err.find("cannot rename "), std::string::npos) << err;

  held = hold(0);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const Result r = run({name});
  ::CloseHandle(held);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(
      r.err.rfind("hudconv: error: cannot open " + pathOf(name) + ": ", 0), 0u)
      << r.err;
  EXPECT_SAME_BYTES(readBytes(output() / name), kLayout);
}

// The file hidden by the player stays so; the record that hudconv keeps
// beside it is hidden from the start.
TEST_F(CommandLineTest, KeepsTheFileHidden) {
  const std::string name = "map_p.gui.xml";
  const fs::path path = output() / name;
  writeBytes(output() / name, kLayout);
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(run({name}).status, 0);
  EXPECT_SAME_BYTES(readBytes(output() / name), kConverted);
  EXPECT_TRUE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  const DWORD record =
      ::GetFileAttributesW((output() / ".hudconv.record").c_str());
  EXPECT_NE(record, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(record & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(CommandLineTest, ATemporaryFileThatAStoppedRunLeftIsRemoved) {
  // Only one that no running hudconv holds open, as each does its own
  // without sharing, and that was made more than a few seconds from now,
  // before or after. A backup's copy takes the original's write time, so
  // that says nothing of its age.
  const std::string name = "map_p.gui.xml";
  writeBytes(output() / name, kLayout);
  const auto madeAt = [&](const char* temporary, std::int64_t hours) {
    writeBytes(output() / temporary, kConverted);
    const HANDLE file =
        ::CreateFileW((output() / temporary).c_str(), FILE_WRITE_ATTRIBUTES, 0,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks =
        ((std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime) +
        static_cast<std::uint64_t>(hours * 36000000000LL);
    const FILETIME made{static_cast<DWORD>(ticks),
                        static_cast<DWORD>(ticks >> 32)};
    EXPECT_TRUE(::SetFileTime(file, &made, nullptr, nullptr));
    FILETIME kept{};
    ::GetFileTime(file, &kept, nullptr, nullptr);
    ::CloseHandle(file);
    return kept.dwLowDateTime == made.dwLowDateTime &&
           kept.dwHighDateTime == made.dwHighDateTime;
  };
  if (!madeAt(".hudconv-leftxx", -1))
    GTEST_SKIP() << "this file system keeps no creation time (Wine on Linux "
                    "takes the modification time for it)";
  madeAt(".hudconv-heldxx", -1);
  madeAt(".hudconv-nextxx", 24 * 365);
  writeBytes(output() / ".hudconv-newxxx", kConverted);
  writeBytes(output() / ".hudconv-copyxx", kConverted);
  fs::last_write_time(output() / ".hudconv-copyxx",
                      fs::last_write_time(output() / ".hudconv-copyxx") -
                          std::chrono::hours(1));
  const HANDLE held =
      ::CreateFileW((output() / ".hudconv-heldxx").c_str(), GENERIC_READ, 0,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(run({name}).status, 0);
  ::CloseHandle(held);
  EXPECT_SAME_BYTES(readBytes(output() / name), kConverted);
  EXPECT_EQ(outputEntries(),
            (std::set<std::string>{name, name + ".bak", ".hudconv-heldxx",
                                   ".hudconv-newxxx", ".hudconv-copyxx"}));
}

TEST_F(CommandLineTest, HelpAndVersionAsWindowsPlayersTypeThem) {
  for (const char* help : {"/h", "/HELP"}) {
    const Result r = run({help});
    EXPECT_EQ(r.status, 0) << help;
    EXPECT_EQ(r.out.substr(0, kBanner.size()), kBanner) << help;
    EXPECT_NE(r.out.find("Usage: hudconv FOLDER | PATTERN | FILE..."),
              std::string::npos)
        << help;
  }
  for (const char* version : {"/v", "/VERSION"}) {
    const Result r = run({version});
    EXPECT_EQ(r.status, 0) << version;
    EXPECT_EQ(r.out, "hudconv " HUDCONV_VERSION "\r\n") << version;
  }
}

TEST(ProgramPropertiesTest, TellWhatItIsAndNeverAskToElevate) {
  const fs::path program = utf8Path(executableDirectory()) / HUDCONV_EXE_NAME;
  DWORD ignored = 0;
  std::vector<char> info(::GetFileVersionInfoSizeW(program.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(::GetFileVersionInfoW(
      program.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  const auto value = [&](const wchar_t* name) {
    const std::wstring key =
        std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(info.data(), key.c_str(),
                          reinterpret_cast<void**>(&text), &length))
      return std::wstring();
    return std::wstring(text, length ? length - 1 : 0);
  };
  EXPECT_EQ(value(L"ProductVersion"), L"" HUDCONV_VERSION);
  EXPECT_EQ(value(L"FileVersion"), L"" HUDCONV_VERSION);
  EXPECT_EQ(value(L"OriginalFilename"), L"hudconv.exe");
  EXPECT_EQ(value(L"ProductName"), L"hudconv");
  EXPECT_NE(value(L"FileDescription").find(L"HUD"), std::wstring::npos);

  const HMODULE image =
      ::LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr);
  const HRSRC found =
      ::FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr);
  const std::string manifest(
      static_cast<const char*>(::LockResource(::LoadResource(image, found))),
      ::SizeofResource(image, found));
  ::FreeLibrary(image);
  for (const char* says : {"level=\"asInvoker\"", ">true</longPathAware>",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
    EXPECT_NE(manifest.find(says), std::string::npos) << says;
}

}  // namespace
