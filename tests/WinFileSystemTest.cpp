// The best score's Windows file code, where it runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <thread>

#include "TempDir.h"
#include "game/HighScoreStore.h"
#include "platform/windows/WinFileSystem.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

std::size_t Entries(const fs::path& folder) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

TEST(WinFileSystem, ReplacesTheFileWholeAndTakesOverALeftover) {
  TempDir dir;
  dir.Write("; notes\r\n[QUILLON]\r\nHighScore=10\r\n[Other]\r\nx=1\r\n");
  std::ofstream(dir.path / "Quillon.ini.new", std::ios::binary) << "half a file from a crash";
  WinFileSystem files{std::string()};
  HighScoreStore store(files);
  store.SetFolder(dir.Folder());
  ASSERT_TRUE(store.Write(4321));
  EXPECT_EQ(dir.Read(), "; notes\r\n[QUILLON]\r\nHighScore=4321\r\n[Other]\r\nx=1\r\n");
  EXPECT_EQ(Entries(dir.path), 1u);
  std::int32_t best = 0;
  store.Read(best);
  EXPECT_EQ(best, 4321);
}

TEST(WinFileSystem, AFileMarkedReadOnlyIsLeftAlone) {
  TempDir dir;
  dir.Write("[QUILLON]\r\nHighScore=5\r\n");
  const std::wstring ini = dir.path.wstring() + L"\\Quillon.ini";
  ASSERT_TRUE(SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_READONLY));
  TempDir data;
  WinFileSystem files{data.Folder()};
  HighScoreStore store(files);
  store.SetFolder(dir.Folder());
  EXPECT_FALSE(store.Write(99));
  SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(dir.Read(), "[QUILLON]\r\nHighScore=5\r\n");
  EXPECT_EQ(Entries(data.path), 0u);
}

TEST(WinFileSystem, WhereTheProgramsFolderCantKeepTheFileThePlayersOwnCopyDoes) {
  TempDir root;
  WinFileSystem files{(root.path / "Local" / "Quillon" / "").string()};
  HighScoreStore store(files);
  store.SetFolder((root.path / "gone" / "").string());  // a folder that can't take the file
  ASSERT_TRUE(store.Write(77));
  EXPECT_EQ(ReadFile(root.path / "Local" / "Quillon" / "Quillon.ini"), "[QUILLON]\nHighScore=77\n");
  std::int32_t best = 0;
  store.Read(best);
  EXPECT_EQ(best, 77);  // A folder named like its temporary file: no file can be made there either.
  fs::create_directories(root.path / "game" / "Quillon.ini.new");
  WinFileSystem other{(root.path / "Other" / "").string()};
  HighScoreStore blocked(other);
  blocked.SetFolder((root.path / "game" / "").string());
  EXPECT_EQ(blocked.Write(88), 88);
  EXPECT_EQ(ReadFile(root.path / "Other" / "Quillon.ini"), "[QUILLON]\nHighScore=88\n");
  EXPECT_TRUE(fs::is_directory(root.path / "game" / "Quillon.ini.new"));
}

TEST(WinFileSystem, FolderNamesInAnyScriptWork) {
  TempDir root;
  const fs::path folder = root.path / fs::u8path(u8"Spiele \u00e4\u00f6\u00fc \u65e5\u672c");
  fs::create_directory(folder);
  WinFileSystem files{std::string()};
  HighScoreStore store(files);
  const std::u8string utf8 = (folder / "").u8string();
  store.SetFolder(std::string(utf8.begin(), utf8.end()));
  ASSERT_TRUE(store.Write(1250));
  EXPECT_EQ(ReadFile(folder / "Quillon.ini"), "[QUILLON]\nHighScore=1250\n");
  std::int32_t best = 0;
  store.Read(best);
  EXPECT_EQ(best, 1250);
  EXPECT_EQ(files.DataFolder(), "");
}

TEST(WinFileSystem, ThePlayersFolderIsInLocalAppDataOrElseUnderTheProfile) {
  const auto folder = [](const wchar_t* local, const wchar_t* profile) {
    wchar_t oldLocal[1024], oldProfile[1024];
    const DWORD hadLocal = GetEnvironmentVariableW(L"LOCALAPPDATA", oldLocal, 1024);
    const DWORD hadProfile = GetEnvironmentVariableW(L"USERPROFILE", oldProfile, 1024);
    SetEnvironmentVariableW(L"LOCALAPPDATA", local);
    SetEnvironmentVariableW(L"USERPROFILE", profile);
    const std::string found = WinFileSystem().DataFolder();
    SetEnvironmentVariableW(L"LOCALAPPDATA", hadLocal ? oldLocal : nullptr);
    SetEnvironmentVariableW(L"USERPROFILE", hadProfile ? oldProfile : nullptr);
    return found;
  };
  EXPECT_EQ(folder(L"C:\\Users\\p\\AppData\\Local\\", L"C:\\Users\\p"), "C:\\Users\\p\\AppData\\Local\\Quillon\\");
  EXPECT_EQ(folder(L"D:\\Local", nullptr), "D:\\Local\\Quillon\\");
  EXPECT_EQ(folder(nullptr, L"C:\\Users\\p"), "C:\\Users\\p\\AppData\\Local\\Quillon\\");
  EXPECT_EQ(folder(nullptr, nullptr), "");
}

TEST(WinFileSystem, AFileAnotherProgramHoldsIsWaitedForThenLeftAlone) {
  TempDir dir, data;
  dir.Write("[QUILLON]\r\nHighScore=300\r\n");
  const std::wstring ini = dir.path.wstring() + L"\\Quillon.ini";
  WinFileSystem files{data.Folder()};
  HighScoreStore store(files);
  store.SetFolder(dir.Folder());
  // Held for a moment, as a virus scanner does: the read and the write wait for it.
  HANDLE held = CreateFileW(ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    Sleep(300);
    CloseHandle(held);
  });
  std::int32_t best = 0;
  store.Read(best);
  release.join();
  EXPECT_EQ(best, 300);
  // Held, readable but not to be replaced, while a best is stored: the replacing waits for it.
  held = CreateFileW(ini.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread later([held] {
    Sleep(300);
    CloseHandle(held);
  });
  EXPECT_EQ(store.Write(400), 400);
  later.join();
  EXPECT_EQ(dir.Read(), "[QUILLON]\r\nHighScore=400\r\n");
  // Another copy's turn (its temporary file, held unshared) past a round's end wait: nothing
  // is written, and the store says it only waited.
  held = CreateFileW((ini + L".new").c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS, 0,
                     nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(store.Write(450), std::nullopt);
  EXPECT_TRUE(store.Busy()) << store.Problem();
  CloseHandle(held);
  DeleteFileW((ini + L".new").c_str());
  EXPECT_EQ(dir.Read(), "[QUILLON]\r\nHighScore=400\r\n");
  // Held for good: neither read as 0 (a start's read says the best is not known yet) nor
  // replaced; a round's end waits for a later turn, and the program's end takes the best to
  // the player's own copy...
  dir.Write("[QUILLON]\r\nHighScore=100000\r\n");
  held = CreateFileW(ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  best = -1;
  EXPECT_FALSE(store.Read(best));
  EXPECT_EQ(best, -1);
  EXPECT_EQ(store.Write(658), std::nullopt);
  EXPECT_TRUE(store.Busy()) << store.Problem();
  EXPECT_EQ(store.Write(658, Patience::Long), 658);
  CloseHandle(held);
  EXPECT_EQ(dir.Read(), "[QUILLON]\r\nHighScore=100000\r\n");
  EXPECT_EQ(ReadFile(data.path / "Quillon.ini"), "[QUILLON]\nHighScore=658\n");
  // ...and once released, its larger best shows again at the next start.
  best = 0;
  EXPECT_TRUE(store.Read(best));
  EXPECT_EQ(best, 100000);
}

TEST(WinFileSystem, AStaleCopyNeverReplacesALargerBestAndALeftoverIsRolledForward) {
  TempDir dir;
  dir.Write("[QUILLON]\r\nHighScore=100\r\n");
  WinFileSystem files{std::string()};
  HighScoreStore first(files), second(files);
  first.SetFolder(dir.Folder());
  second.SetFolder(dir.Folder());
  EXPECT_EQ(second.Write(1931), 1931);
  EXPECT_EQ(first.Write(1208), 1931);
  EXPECT_EQ(dir.Read(), "[QUILLON]\r\nHighScore=1931\r\n");
  // A whole new best that a crash left before its rename is kept at the next start.
  std::ofstream(dir.path / "Quillon.ini.new", std::ios::binary) << "[QUILLON]\r\nHighScore=5000\r\n";
  std::int32_t best = 0;
  first.Read(best);
  EXPECT_EQ(best, 5000);
  EXPECT_EQ(Entries(dir.path), 1u);
}

}  // namespace
}  // namespace quillon
