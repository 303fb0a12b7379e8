#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>

#include "game/HighScoreStore.h"
#include "game/IniText.h"
#include "FakePlatform.h"
#include "TempDir.h"

namespace quillon {
namespace {

using testing::TempDir;

testing::TestFileSystem g_files{std::string()};

std::int32_t ReadBest(const TempDir& dir, std::int32_t start = 0) {
  HighScoreStore store(g_files);
  store.SetFolder(dir.Folder());
  store.Read(start);
  return start;
}

TEST(HighScoreStore, ReadsWhatTheFileHoldsAndKeepsTheOldValueOtherwise) {
  struct Case { std::string text; std::int32_t expected; };
  for (Case c : {Case{"[QUILLON]\nHighScore=1250\n", 1250},
                 Case{"[quillon]\r\n  highscore = 12.7  \r\n", 12},
                 Case{"[QUILLON]\nHighScore=-2.5", -3},
                 Case{"[QUILLON]\nHighScore=\"300\"\n", 300},
                 Case{"[QUILLON]\nHighScore=\n", 7},
                 Case{"[QUILLON]\nHighScore=lots\n", 7},
                 Case{"[QUILLON]\nHighScore=99999999999\n", 7},
                 // The value is read into 1024 bytes: 1023 characters and the end.
                 Case{"[QUILLON]\nHighScore=" + std::string(1019, '0') + "5000\n", 5000},
                 Case{"[QUILLON]\nHighScore=" + std::string(1020, '0') + "5000\n", 500},
                 Case{"[OTHER]\nHighScore=5\n", 0},
                 Case{"  [QUILLON]  \nHighScore=5\n", 5},
                 Case{"[QUILLON]\n[]\nHighScore=5\n", 0},  // a section of no name ends it
                 Case{"[XUILLON]\nHighScore=5\n[QUILLON]\nXighScore=6\n", 0},
                 Case{"[QUILLON]\nOther=5\n[NEXT]\nHighScore=9\n", 0},
                 Case{"this is not an ini file at all", 0},
                 Case{std::string("\x89PNG\r\n\x1a\n\0\0\0[QUILLON]\nHighScore=4\0\xff\n", 28), 0},
                 Case{"", 0}}) {
    TempDir dir;
    dir.Write(c.text);
    EXPECT_EQ(ReadBest(dir, 7), c.expected) << c.text;
  }
  TempDir none;  // no file at all reads as "0"
  EXPECT_EQ(ReadBest(none, 7), 0);
}

TEST(HighScoreStore, OddFilesNeitherCrashNorLoseTheScore) {
  TempDir dir;
  std::string binary = "[QUILLON]\nHighScore=77\0garbage\n";
  binary.push_back('\0');
  binary += std::string(5000, '\xff') + "\n" + std::string(100000, 'x');
  dir.Write(binary);
  EXPECT_EQ(ReadBest(dir), 77);
  dir.Write("[QUILLON]\nHighScore=" + std::string(2000, '1') + "\n");
  EXPECT_EQ(ReadBest(dir, 5), 5);  // cut to 1023 digits: still far too large
  EXPECT_EQ(FindIniValue("[Q]\nk=" + std::string(2000, '1'), "Q", "k", "0", 1024).size(), 1023u);
  std::filesystem::create_directory(dir.path / "Quillon.ini.d");
  HighScoreStore store(g_files);
  store.SetFolder((dir.path / "Quillon.ini.d" / "").string());
  std::filesystem::create_directory((dir.path / "Quillon.ini.d" / "Quillon.ini"));
  std::int32_t best = 3;
  store.Read(best);  // a folder where the file should be
  EXPECT_EQ(best, 0);
  EXPECT_FALSE(store.Write(10));
#ifndef _WIN32
  EXPECT_NE(store.Problem().find("not a regular file"), std::string::npos) << store.Problem();
#endif
  // Once the folder is gone the next write goes in, with no word left from the one before.
  std::filesystem::remove(dir.path / "Quillon.ini.d" / "Quillon.ini");
  EXPECT_EQ(store.Write(10), 10);
  EXPECT_EQ(store.Problem(), "");
}

TEST(HighScoreStore, WritesKeepEverythingElseInTheFile) {
  struct Case { std::string before, after; };
  for (const Case& c : {
           Case{"", "[QUILLON]\nHighScore=4321\n"},
           Case{"[QUILLON]\nHighScore=10\n", "[QUILLON]\nHighScore=4321\n"},
           Case{"; best\r\n[quillon]\r\n highscore = 10 \r\n[Other]\r\nx=1\r\n",
                "; best\r\n[quillon]\r\n highscore =4321\r\n[Other]\r\nx=1\r\n"},
           Case{"[Other]\nx=1", "[Other]\nx=1\n[QUILLON]\nHighScore=4321\n"},
           Case{"[QUILLON]\nName=me\n\n[Other]\n", "[QUILLON]\nName=me\nHighScore=4321\n\n[Other]\n"},
           Case{"[QUILLON]\nName=me", "[QUILLON]\nName=me\nHighScore=4321\n"},
           Case{"junk without sections\n", "junk without sections\n[QUILLON]\nHighScore=4321\n"},
       }) {
    TempDir dir;
    if (!c.before.empty()) dir.Write(c.before);
    HighScoreStore store(g_files);
    store.SetFolder(dir.Folder());
    EXPECT_TRUE(store.Write(4321));
    EXPECT_EQ(dir.Read(), c.after);
    EXPECT_EQ(ReadBest(dir), 4321);
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
  }
}

TEST(HighScoreStore, AFailedWriteLeavesTheOldFileWhole) {
  // A path through a regular file fails for everyone, root included.
  TempDir dir;
  dir.Write("[QUILLON]\nHighScore=5\n");
  HighScoreStore store(g_files);
  store.SetFolder((std::filesystem::path(dir.Ini()) / "").string());
  EXPECT_FALSE(store.Write(99));
  EXPECT_EQ(dir.Read(), "[QUILLON]\nHighScore=5\n");
#ifndef _WIN32
  EXPECT_NE(store.Problem().find("Not a directory"), std::string::npos) << store.Problem();
#endif
  // A store with no folder at all fails at once, and says so: it waits for no one's turn.
  HighScoreStore nowhere(g_files);
  EXPECT_FALSE(nowhere.Write(99));
  EXPECT_FALSE(nowhere.Busy());
  EXPECT_NE(nowhere.Problem().find("no data folder"), std::string::npos) << nowhere.Problem();
}

#ifndef _WIN32
TEST(HighScoreStore, KeepsTheFilesPermissions) {
  TempDir dir;
  dir.Write("[QUILLON]\nHighScore=5\n");
  ::chmod(dir.Ini().c_str(), 0600);
  HighScoreStore store(g_files);
  store.SetFolder(dir.Folder());
  ASSERT_TRUE(store.Write(6));
  struct stat st {};
  ASSERT_EQ(::stat(dir.Ini().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}
#endif

}  // namespace
}  // namespace quillon
