// The best score against odd files, locked folders and crashes, on the real file system.
#include <dlfcn.h>
#include <fcntl.h>
#include <csignal>
#include <grp.h>
#include <linux/fs.h>
#include <pwd.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include <filesystem>
#include <algorithm>
#include <functional>
#include <optional>
#include <thread>

#include "TempDir.h"
#include "game/HighScoreStore.h"
#include "platform/posix/PosixFileSystem.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

constexpr uid_t kPlayer = 65534;  // "nobody": root may write anywhere, a player may not

// Collects what went wrong where gtest can't look: in a child process.
struct Checks {
  std::string failures;
  void Expect(bool ok, const std::string& what) {
    if (!ok) failures += what + "\n";
  }
};

// What the kernel does only on a failing disk or in a race with another program, planted where
// the store meets it. Each sees its call first; a call it leaves alone goes on as usual.
struct Faults {
  std::function<std::optional<ssize_t>(int fd)> read;  // a result instead of reading
  std::function<std::optional<ssize_t>(int fd)> pwrite;  // and instead of writing
  std::function<std::optional<ssize_t>(const char* path, char* buffer, std::size_t size)> readlink;
  std::function<void(int fd)> flock;                        // just before the lock
  std::function<void(const char* from, const char* to)> rename;  // just before the rename
};
Faults kernelFaults;

// Plants faults for as long as it lives.
struct PlantFaults {
  explicit PlantFaults(Faults faults) { kernelFaults = std::move(faults); }
  ~PlantFaults() { kernelFaults = {}; }
};

bool SameFile(int fd, const fs::path& path) {
  struct stat open {}, named {};
  return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_ino == named.st_ino &&
         open.st_dev == named.st_dev;
}

std::optional<ssize_t> Failing(int error) {
  errno = error;
  return -1;
}

}  // namespace
}  // namespace quillon

template <typename F>
static F Next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
  static const auto next = Next<ssize_t (*)(int, void*, size_t)>("read");
  if (quillon::kernelFaults.read) {
    if (const auto n = quillon::kernelFaults.read(fd)) return *n;
  }
  return next(fd, buffer, size);
}

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  if (quillon::kernelFaults.pwrite) {
    if (const auto n = quillon::kernelFaults.pwrite(fd)) return *n;
  }
  return next(fd, buffer, size, offset);
}

extern "C" ssize_t readlink(const char* path, char* buffer, size_t size) {
  static const auto next = Next<ssize_t (*)(const char*, char*, size_t)>("readlink");
  if (quillon::kernelFaults.readlink) {
    if (const auto n = quillon::kernelFaults.readlink(path, buffer, size)) return *n;
  }
  return next(path, buffer, size);
}

extern "C" int flock(int fd, int operation) {
  static const auto next = Next<int (*)(int, int)>("flock");
  if (quillon::kernelFaults.flock) quillon::kernelFaults.flock(fd);
  return next(fd, operation);
}

extern "C" int rename(const char* from, const char* to) {
  static const auto next = Next<int (*)(const char*, const char*)>("rename");
  if (quillon::kernelFaults.rename) quillon::kernelFaults.rename(from, to);
  return next(from, to);
}

namespace quillon {
namespace {

// Makes `link` the first of `links` links in a row in its folder, the last pointing at `target`.
void LinkChain(const fs::path& link, int links, const fs::path& target) {
  const fs::path folder = link.parent_path();
  for (int i = 1; i < links; ++i) fs::create_symlink("l" + std::to_string(i), folder / ("l" + std::to_string(i - 1)));
  fs::create_symlink(target, folder / ("l" + std::to_string(links - 1)));
  fs::rename(folder / "l0", link);
}

int OpenDescriptors() {
  int open = 0;
  for (int fd = 0; fd < 1024; ++fd) open += ::fcntl(fd, F_GETFD) != -1;
  return open;
}

// Runs the checks in a child process as an ordinary player, with a watchdog against hangs; every
// file the store opened, on any path, is closed again (a descriptor lost per store runs a long
// session out of them).
void AsPlayer(const std::function<void(Checks&)>& body) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(out[0]);
    ::alarm(20);
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kPlayer) != 0 || ::setuid(kPlayer) != 0)) {
      ::_exit(3);
    }
    Checks checks;
    const int open = OpenDescriptors();
    body(checks);
    checks.Expect(OpenDescriptors() == open, "every descriptor opened is closed");
    (void)!::write(out[1], checks.failures.data(), checks.failures.size());
    testing::ExitChild(checks.failures.empty() ? 0 : 1);
  }
  ::close(out[1]);
  std::string failures;
  char buffer[512];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) failures.append(buffer, n);
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(failures, "");
  EXPECT_TRUE(WIFEXITED(status)) << "the check was killed by signal " << WTERMSIG(status) << " (a hang?)";
  EXPECT_EQ(WEXITSTATUS(status), failures.empty() ? 0 : 1);
}

// Hands a path to the player when the test runs as root.
void GiveToPlayer(const fs::path& path) {
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), kPlayer, kPlayer), 0);
  }
}

// A folder the player can't write in, whoever runs the tests.
void LockFolder(const fs::path& path) { ::chmod(path.c_str(), 0555); }

// A folder no one, root included, may add a file to, for as long as it lives; false where the
// file system or the user can't make one.
class ImmutableFolder {
 public:
  explicit ImmutableFolder(fs::path path) : path_(std::move(path)) { set_ = Set(true); }
  ~ImmutableFolder() {
    if (set_) Set(false);
  }
  explicit operator bool() const { return set_; }

 private:
  bool Set(bool on) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
  }
  fs::path path_;
  bool set_ = false;
};

void WriteFile(const fs::path& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary) << text;
  ::chmod(path.c_str(), mode);
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A run's code for these tests: "run:N" reaches N.
std::optional<std::int32_t> RunScore(std::string_view code) {
  if (code.substr(0, 4) != "run:") return std::nullopt;
  return std::atoi(std::string(code.substr(4)).c_str());
}

// A program folder, a player's data folder beside it, and the store over both.
struct Setting {
  TempDir root;
  fs::path program = root.path / "game";
  fs::path data = root.path / "home" / "quillon";
  PosixFileSystem files{data.string() + "/"};
  mutable HighScoreStore store{files};

  Setting() {
    fs::create_directories(program);
    fs::create_directories(root.path / "home");
    ::chmod(root.path.c_str(), 0755);
    GiveToPlayer(program);
    GiveToPlayer(root.path / "home");
    store.SetFolder(program.string() + "/");
  }
  fs::path Ini() const { return program / "Quillon.ini"; }
  fs::path Own() const { return data / "Quillon.ini"; }
  std::int32_t Best(std::int32_t start = -1) const {
    store.Read(start);
    return start;
  }
};

TEST(FileSafety, APipeNamedLikeTheFileNeverHangsTheGameAndIsLeftAlone) {
  // Named like the best's file, or like its run's.
  for (const char* name : {"Quillon.ini", "Quillon.run"}) {
    SCOPED_TRACE(name);
    Setting s;
    const fs::path pipe = s.program / name;
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    GiveToPlayer(pipe);
    AsPlayer([&](Checks& c) {
      c.Expect(s.Best(7) == 0, "a pipe reads as no file");
      c.Expect(s.store.Write(500, Patience::Brief, "run:500", RunScore) == 500, "the score goes to the player's own copy");
      c.Expect(ReadFile(s.data / "Quillon.run") == "run:500\n", "with its run");
      struct stat st {};
      c.Expect(::lstat(pipe.c_str(), &st) == 0 && S_ISFIFO(st.st_mode), "the pipe is still there");
      c.Expect(s.Best() == 500, "and is read back from the own copy");
    });
  }
}

TEST(FileSafety, LinksAreWrittenThroughAndStayLinks) {
  Setting s;
  fs::create_directories(s.root.path / "elsewhere");
  const fs::path real = s.root.path / "elsewhere" / "real.ini";
  WriteFile(real, "; mine\n[QUILLON]\nHighScore=10\n");
  fs::create_symlink("../elsewhere/real.ini", s.program / "s");
  fs::create_symlink("s", s.Ini());  // a chain of two, both relative, the first as short as a link goes
  ASSERT_EQ(s.Best(), 10);
  ASSERT_TRUE(s.store.Write(20));
  EXPECT_EQ(ReadFile(real), "; mine\n[QUILLON]\nHighScore=20\n");
  EXPECT_TRUE(fs::is_symlink(s.Ini()));
  EXPECT_TRUE(fs::is_symlink(s.program / "s"));
  EXPECT_EQ(Entries(s.root.path / "elsewhere"), std::vector<std::string>{"real.ini"});

  // As many links as the kernel follows, and no more (below).
  fs::remove(s.Ini());
  LinkChain(s.Ini(), 40, "../elsewhere/real.ini");
  ASSERT_TRUE(s.store.Write(25));
  EXPECT_EQ(ReadFile(real), "; mine\n[QUILLON]\nHighScore=25\n");

  // A dangling link gets its file made where it points.
  fs::remove(real);
  ASSERT_TRUE(s.store.Write(30));
  EXPECT_EQ(ReadFile(real), "[QUILLON]\nHighScore=30\n");
  EXPECT_TRUE(fs::is_symlink(s.Ini()));
  EXPECT_FALSE(fs::exists(s.data));
}

TEST(FileSafety, AFileThePlayerMadeReadOnlyIsNotReplaced) {
  Setting s;
  WriteFile(s.Ini(), "[QUILLON]\nHighScore=5\n", 0444);
  GiveToPlayer(s.Ini());
  AsPlayer([&](Checks& c) {
    c.Expect(!s.store.Write(99), "the write fails");
    c.Expect(ReadFile(s.Ini()) == "[QUILLON]\nHighScore=5\n", "the file is unchanged");
    c.Expect(!fs::exists(s.data), "no second file appears");
    c.Expect(Entries(s.program) == std::vector<std::string>{"Quillon.ini"}, "nothing is left beside it");
  });
  ::chmod(s.Ini().c_str(), 0444);  // root too leaves it alone
  EXPECT_FALSE(s.store.Write(99));
  EXPECT_EQ(ReadFile(s.Ini()), "[QUILLON]\nHighScore=5\n");
  // The player's own copy, made read-only, is not passed over for the program's folder either.
  Setting own;
  fs::create_directories(own.data);
  WriteFile(own.Own(), "[QUILLON]\nHighScore=5\n", 0444);
  for (const fs::path& p : {own.data, own.Own()}) GiveToPlayer(p);
  AsPlayer([&](Checks& c) {
    c.Expect(!own.store.Write(99), "the write fails");
    c.Expect(ReadFile(own.Own()) == "[QUILLON]\nHighScore=5\n", "the copy is unchanged");
    c.Expect(Entries(own.program).empty(), "nothing goes beside the program");
  });
}

TEST(FileSafety, AWritableFileInALockedFolderIsRewrittenInPlace) {
  Setting s;
  WriteFile(s.Ini(), "; notes\r\n[QUILLON]\r\nHighScore=-123456\r\n[Other]\r\nx=1\r\n", 0644);
  GiveToPlayer(s.Ini());
  LockFolder(s.program);
  struct stat before {};
  ::stat(s.Ini().c_str(), &before);
  AsPlayer([&](Checks& c) {
    c.Expect(s.store.Write(7).has_value(), "the write succeeds");
    c.Expect(ReadFile(s.Ini()) == "; notes\r\n[QUILLON]\r\nHighScore=7\r\n[Other]\r\nx=1\r\n",
             "the file holds the new score, shorter than the old, and nothing else changed");
    struct stat after {};
    c.Expect(::stat(s.Ini().c_str(), &after) == 0 && after.st_ino == before.st_ino, "in place");
    c.Expect(!fs::exists(s.data), "no second file appears");
  });
  if (::geteuid() != 0) return;
  // Another player's files there: the best, shared by name, is rewritten in place; the day's
  // run, theirs alone, is not, where this player has no folder of their own to keep it.
  Setting shared;
  WriteFile(shared.Ini(), "[QUILLON]\nHighScore=5\n", 0666);
  WriteFile(shared.program / "Quillon.daily", "day:1\n", 0666);
  LockFolder(shared.program);
  PosixFileSystem noFolder{std::string()};
  HighScoreStore store{noFolder};
  store.SetFolder(shared.program.string() + "/");
  AsPlayer([&](Checks& c) {
    c.Expect(store.Write(9) == 9 && ReadFile(shared.Ini()) == "[QUILLON]\nHighScore=9\n", "the shared best");
    const auto day = [](std::string_view code) { return code == "day:2" ? std::optional<std::int32_t>(2) : std::nullopt; };
    c.Expect(!store.KeepDaily("day:2", day), "not their day's run");
  });
  EXPECT_EQ(ReadFile(shared.program / "Quillon.daily"), "day:1\n");
  // A folder made immutable refuses a new file with another error, and is passed over alike;
  // where there is no file to rewrite and no folder of the player's, the store says why.
  Setting fixed;
  WriteFile(fixed.Ini(), "[QUILLON]\nHighScore=5\n", 0644);
  GiveToPlayer(fixed.Ini());
  const fs::path empty = fixed.root.path / "empty";
  fs::create_directory(empty);
  const ImmutableFolder program(fixed.program), none(empty);
  if (!program || !none) GTEST_SKIP() << "no immutable folders here";
  HighScoreStore bare{noFolder};
  bare.SetFolder(empty.string() + "/");
  AsPlayer([&](Checks& c) {
    c.Expect(fixed.store.Write(7) == 7 && ReadFile(fixed.Ini()) == "[QUILLON]\nHighScore=7\n", "in place");
    c.Expect(!fs::exists(fixed.data), "no second file appears");
    c.Expect(!bare.Write(7) && bare.Problem().find("Quillon.ini: Operation not permitted") != std::string::npos,
             "why: " + bare.Problem());
  });
}

TEST(FileSafety, WhereTheProgramsFolderCantKeepTheFileThePlayerGetsACopy) {
  // No file, and a folder the player can't write in.
  {
    Setting s;
    LockFolder(s.program);
    AsPlayer([&](Checks& c) {
      c.Expect(s.Best() == 0, "nothing stored yet");
      c.Expect(s.store.Write(250).has_value(), "the write succeeds");
      c.Expect(ReadFile(s.Own()) == "[QUILLON]\nHighScore=250\n", "into the player's own copy");
      c.Expect(s.Best() == 250, "which is read back");
      c.Expect(Entries(s.program).empty(), "the program's folder stays empty");
      // Once there, the copy takes the next best even where the program's folder could.
      ::chmod(s.program.c_str(), 0755);
      c.Expect(s.store.Write(260) == 260 && ReadFile(s.Own()) == "[QUILLON]\nHighScore=260\n", "the copy");
      c.Expect(Entries(s.program).empty(), "and the program's folder still nothing");
    });
  }
  // Someone else's file there: the copy starts from it, and from then on it counts.
  {
    Setting s;
    WriteFile(s.Ini(), "; theirs\n[QUILLON]\nHighScore=100\n[Keys]\nfast=1\n", 0444);
    LockFolder(s.program);
    AsPlayer([&](Checks& c) {
      c.Expect(s.Best() == 100, "the file beside the program is read");
      c.Expect(s.store.Write(300).has_value(), "the write succeeds");
      c.Expect(ReadFile(s.Own()) == "; theirs\n[QUILLON]\nHighScore=300\n[Keys]\nfast=1\n",
               "the copy keeps every other line");
      c.Expect(ReadFile(s.Ini()) == "; theirs\n[QUILLON]\nHighScore=100\n[Keys]\nfast=1\n",
               "the original is untouched");
      c.Expect(s.Best() == 300, "the own copy is read first");
      c.Expect(s.store.Write(400) && ReadFile(s.Own()).find("HighScore=400") != std::string::npos,
               "later writes go to the copy");
    });
    struct stat st {};
    ASSERT_EQ(::stat(s.data.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);  // made for the player alone
  }  // Whatever holds the temporary file's name (a folder, a pipe, a link to elsewhere, someone
  // else's file) is a folder that takes no new file: the file beside the program is rewritten
  // in place, or the player gets a copy; the obstacle stays as it was. The same holds where it
  // is the run's temporary file: the run goes in place, or both go to the player's copy.
  enum { kFolder, kPipe, kLink, kTheirs };
  for (int obstacle : {kFolder, kPipe, kLink, kTheirs})
  for (bool ofRun : {false, true}) {
    for (bool beside : {false, true}) {
      SCOPED_TRACE(std::string(ofRun ? "the run's" : "the best's") + (beside ? ", beside" : ""));
      Setting s;
      const fs::path temp = s.program / (ofRun ? "Quillon.run.new" : "Quillon.ini.new");
      const fs::path elsewhere = s.root.path / "elsewhere";
      const fs::path run = s.program / "Quillon.run";
      WriteFile(elsewhere, "theirs\n", 0666);
      if (beside) WriteFile(s.Ini(), "[QUILLON]\nHighScore=5\n", 0666);
      if (beside && ofRun) {
        WriteFile(run, "run:5\n", 0644);
        GiveToPlayer(run);
      }
      if (obstacle == kFolder) fs::create_directory(temp);
      if (obstacle == kPipe) { ASSERT_EQ(::mkfifo(temp.c_str(), 0666), 0); }
      if (obstacle == kLink) fs::create_symlink(elsewhere, temp);
      if (obstacle == kTheirs) WriteFile(temp, "theirs\n", 0666);
      if (obstacle == kTheirs && ::geteuid() != 0) continue;  // only root can leave one as someone else
      AsPlayer([&](Checks& c) {
        c.Expect(s.store.Write(250, Patience::Brief, ofRun ? "run:250" : "", RunScore) == 250, "the best is kept");
        c.Expect(ReadFile(beside ? s.Ini() : s.Own()) == "[QUILLON]\nHighScore=250\n",
                 beside ? "in the file beside the program" : "in the player's own copy");
        c.Expect(s.Best() == 250, "and read back");
        if (ofRun) c.Expect(s.store.RunKept() && ReadFile(beside ? run : s.data / "Quillon.run") == "run:250\n", "the run with it");
        if (ofRun && !beside) c.Expect(!fs::exists(s.Ini()), "and neither beside the program");
        c.Expect(ReadFile(elsewhere) == "theirs\n", "nothing else is written");
      });
      EXPECT_EQ(fs::symlink_status(temp).type(),
                obstacle == kFolder ? fs::file_type::directory : obstacle == kPipe ? fs::file_type::fifo
                : obstacle == kLink ? fs::file_type::symlink : fs::file_type::regular) << obstacle;
      if (obstacle == kTheirs) { EXPECT_EQ(ReadFile(temp), "theirs\n"); }
    }
  }
}

TEST(FileSafety, ACrashLeavesAtMostOneLeftoverAndTheNextWriteClearsIt) {
  Setting s;
  WriteFile(s.Ini(), "[QUILLON]\nHighScore=1\n");
  // Die right after the temporary file is flushed, twice in a row.
  for (int crash = 0; crash < 2; ++crash) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      s.files.onFlush = [](const std::string&) { ::_exit(9); };
      s.store.Write(50 + crash);
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 9);
    EXPECT_EQ(ReadFile(s.Ini()), "[QUILLON]\nHighScore=1\n");
    EXPECT_EQ(Entries(s.program).size(), 2u);
  }
  ASSERT_TRUE(s.store.Write(60));
  EXPECT_EQ(Entries(s.program), std::vector<std::string>{"Quillon.ini"});
  EXPECT_EQ(ReadFile(s.Ini()), "[QUILLON]\nHighScore=60\n");
}

TEST(FileSafety, ABestNoLargerThanTheStoredOneLeavesTheFileUntouched) {
  Setting s;
  WriteFile(s.Ini(), "; mine\n[QUILLON]\nHighScore=500\n");
  struct stat before {};
  ::stat(s.Ini().c_str(), &before);
  int flushes = 0;
  s.files.onFlush = [&](const std::string&) { ++flushes; };
  EXPECT_EQ(s.store.Write(500), 500);
  EXPECT_EQ(s.store.Write(20), 500);
  struct stat after {};
  ::stat(s.Ini().c_str(), &after);
  EXPECT_EQ(flushes, 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(Entries(s.program), std::vector<std::string>{"Quillon.ini"});
}

TEST(FileSafety, AWriteThatFailsLeavesNothingBehind) {
  Setting s, t;
  for (const Setting* each : {&s, &t}) {
    WriteFile(each->Ini(), "[QUILLON]\nHighScore=1\n");
    GiveToPlayer(each->Ini());
  }
  // t's file is rewritten in place for want of its temporary name, with a run to go beside it,
  // and there is no folder of the player's to pass the best to.
  fs::create_directory(t.program / "Quillon.ini.new");
  PosixFileSystem noFolder{std::string()};
  HighScoreStore bare{noFolder};
  bare.SetFolder(t.program.string() + "/");
  AsPlayer([&](Checks& c) {
    // A disk that takes no more than ten bytes a file.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit small{10, RLIM_INFINITY};  // the hard limit stays, for the coverage build's counts
    c.Expect(::setrlimit(RLIMIT_FSIZE, &small) == 0, "the limit is set");
    c.Expect(!s.store.Write(123456).has_value(), "the write fails");
    c.Expect(s.store.Problem().find("File too large") != std::string::npos, "and says why: " + s.store.Problem());
    c.Expect(ReadFile(s.Ini()) == "[QUILLON]\nHighScore=1\n", "the old file is whole");
    c.Expect(Entries(s.program) == std::vector<std::string>{"Quillon.ini"}, "no temporary file is left");
    // In a folder that takes no new file, the rewrite in place fails and says so too.
    LockFolder(s.program);
    c.Expect(!s.store.Write(123456).has_value(), "the rewrite in place fails");
    c.Expect(s.store.Problem().find("File too large") != std::string::npos, "and says why: " + s.store.Problem());
    // No run is left half made, and the store says what failed where.
    c.Expect(!bare.Write(123456, Patience::Brief, "run:123456", RunScore).has_value(), "the write fails");
    c.Expect(bare.Problem().rfind(t.Ini().string() + ": File too large", 0) == 0, "and says why: " + bare.Problem());
    c.Expect(ReadFile(t.Ini()) == "[QUILLON]\nHighScore=1\n", "the old file is whole");
    c.Expect(Entries(t.program) == std::vector<std::string>{"Quillon.ini", "Quillon.ini.new"}, "nothing else there");
  });
}

TEST(FileSafety, TheFileIsFlushedBeforeTheRenameAndTheFolderAfterIt) {
  // Through a temporary file, or in place where its name is taken; a new best with its run, or
  // the best stored already and only its run to add. Each flush is told with the best's file
  // and the run's as they are then: the folder's comes last, once both are in.
  const std::string one = "[QUILLON]\nHighScore=1\n", two = "[QUILLON]\nHighScore=2\n";
  struct Case { bool inPlace, newBest; std::vector<std::string> flushed; };
  for (const Case& k : {Case{false, true, {"Quillon.ini.new|" + one + "|", "game|" + two + "|run:2\n"}},
                        Case{false, false, {"game|" + one + "|run:1\n"}},
                        Case{true, true, {"Quillon.ini|" + two + "|", "game|" + two + "|run:2\n"}},
                        Case{true, false, {"game|" + one + "|run:1\n"}}}) {
    SCOPED_TRACE(k.flushed.front());
    Setting s;
    WriteFile(s.Ini(), one);
    if (k.inPlace) fs::create_directory(s.program / "Quillon.ini.new");
    std::vector<std::string> flushed;
    s.files.onFlush = [&](const std::string& path) {
      flushed.push_back(fs::path(path).filename().string() + "|" + ReadFile(s.Ini()) + "|" +
                        ReadFile(s.program / "Quillon.run"));
    };
    // The run goes in while the best's turn is still held: no other copy comes between the two.
    // A signal cuts into every other write, which is tried again.
    std::vector<std::string> runs;
    bool cut = false;
    Faults faults;
    faults.pwrite = [&](int) { return (cut = !cut) ? Failing(EINTR) : std::nullopt; };
    faults.rename = [&](const char*, const char* to) {
      if (fs::path(to).filename() != "Quillon.run") return;
      const int fd = ::open(s.Ini().c_str(), O_RDONLY | O_CLOEXEC);
      runs.push_back(::flock(fd, LOCK_SH | LOCK_NB) == 0 ? "the turn let go" : "the turn held");
      ::close(fd);
    };
    PlantFaults plant(faults);
    const std::int32_t best = k.newBest ? 2 : 1;
    ASSERT_EQ(s.store.Write(best, Patience::Brief, "run:" + std::to_string(best), RunScore), best);
    EXPECT_EQ(flushed, k.flushed);
    EXPECT_EQ(runs, std::vector<std::string>{"the turn held"});
  }
}

TEST(FileSafety, ANewFileFollowsTheUmaskAndAnOldOneKeepsItsMode) {
  // The best's file and its run's alike.
  for (mode_t mask : {022, 077, 002}) {
    Setting s;
    const fs::path run = s.program / "Quillon.run";
    // The run waits for the best's turn in a temporary file no one else may open meanwhile.
    int privateRuns = 0;
    s.files.onFlush = [&](const std::string&) {
      struct stat waiting {};
      if (::stat((run.string() + ".new").c_str(), &waiting) == 0 && (waiting.st_mode & 0777) == 0600) ++privateRuns;
    };
    const mode_t old = ::umask(mask);
    EXPECT_TRUE(s.store.Write(1, Patience::Brief, "run:1", RunScore));
    EXPECT_EQ(privateRuns, 1);
    EXPECT_EQ(::umask(old), mask) << "the game leaves the umask as it found it";
    struct stat st {};
    for (const fs::path& file : {s.Ini(), run}) {
      ASSERT_EQ(::stat(file.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << std::oct << mask << file;
      ::chmod(file.c_str(), 0641);  // every kind of bit, however odd on a settings file
    }
    // Longer texts left in the temporary files by a crash are written over whole, not in part.
    WriteFile(run.string() + ".new", "run:1234567890\n", 0600);
    WriteFile(s.Ini().string() + ".new", "; a longer text cut short by a crash\n[QUILLON]\nHigh", 0600);
    EXPECT_TRUE(s.store.Write(2, Patience::Brief, "run:2", RunScore));
    EXPECT_EQ(ReadFile(run), "run:2\n");
    EXPECT_EQ(ReadFile(s.Ini()), "[QUILLON]\nHighScore=2\n");
    for (const fs::path& file : {s.Ini(), run}) {
      ASSERT_EQ(::stat(file.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0641u) << file;
    }
    // The best already stored, its run missing: the run goes in beside it all the same, new.
    fs::remove(run);
    EXPECT_TRUE(s.store.Write(2, Patience::Brief, "run:2", RunScore));
    EXPECT_EQ(ReadFile(run), "run:2\n");
    EXPECT_EQ(Entries(s.program), (std::vector<std::string>{"Quillon.ini", "Quillon.run"}));
    ASSERT_EQ(::stat(run.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~old);
  }
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to leave someone else's temporary file behind";
  // A leftover the player may write but not chmod: the mode can't be copied, the score still goes in.
  Setting s;
  WriteFile(s.Ini(), "[QUILLON]\nHighScore=1\n", 0640);
  GiveToPlayer(s.Ini());
  WriteFile(s.program / "Quillon.ini.new", "", 0666);
  AsPlayer([&](Checks& c) {
    c.Expect(s.store.Write(2).has_value(), "the write succeeds");
    c.Expect(ReadFile(s.Ini()) == "[QUILLON]\nHighScore=2\n", "with the new score");
  });
}

TEST(FileSafety, MarkedUtf8AndUtf16FilesAreReadAndWrittenBackInTheirOwnEncoding) {
  const auto utf16 = [](const std::u16string& text, bool little) {
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t u : text) {
      const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
      out += little ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
  };
  struct Case { std::string before, after; std::int32_t best; };
  for (bool little : {true, false}) {
    for (const Case& c : {Case{"\xEF\xBB\xBF[QUILLON]\r\nHighScore=1250\r\n", "\xEF\xBB\xBF[QUILLON]\r\nHighScore=1251\r\n", 1250},
                          Case{utf16(u"; Pok\u00e9mon \u65e5\u672c \U0001F600\r\n[QUILLON]\r\nHighScore=1250\r\n", little),
                               utf16(u"; Pok\u00e9mon \u65e5\u672c \U0001F600\r\n[QUILLON]\r\nHighScore=1251\r\n", little), 1250},
                          Case{utf16(u"[Other]\r\nname=\u00e9\r\n", little) + "\x01",
                               utf16(u"[Other]\r\nname=\u00e9\r\n[QUILLON]\r\nHighScore=1251\r\n", little) + "\x01", 0}}) {
      Setting s;
      WriteFile(s.Ini(), c.before);
      EXPECT_EQ(s.Best(), c.best);
      ASSERT_TRUE(s.store.Write(1251));
      EXPECT_EQ(ReadFile(s.Ini()), c.after);
      EXPECT_EQ(s.Best(), 1251);
    }
  }
}

// Runs `body` in `count` child processes at once and waits for them all; true when each
// ended well.
bool InParallel(int count, const std::function<bool(int)>& body) {
  std::vector<pid_t> children;
  std::fflush(nullptr);
  for (int i = 0; i < count; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) testing::ExitChild(body(i) ? 0 : 1);
    children.push_back(pid);
  }
  bool ok = true;
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return ok;
}

// Another process, as anyone who can read `path` may, holding a lock on it for `hold`.
pid_t HoldLock(const fs::path& path, int operation, std::chrono::milliseconds hold) {
  int ready[2];
  if (::pipe(ready) != 0) return 0;
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const char locked = fd >= 0 && ::flock(fd, operation) == 0 ? 'y' : 'n';
    (void)!::write(ready[1], &locked, 1);
    std::this_thread::sleep_for(hold);
    ::_exit(0);
  }
  ::close(ready[1]);
  char locked = 'n';
  (void)!::read(ready[0], &locked, 1);
  ::close(ready[0]);
  EXPECT_EQ(locked, 'y') << path;
  return pid;
}

// Stores as the game does: briefly at each round's end, and what never got its turn once more,
// with more patience, as the program ends. True when every best was kept, and no other copy
// took back what this one kept.
bool StoreAsTheGameDoes(HighScoreStore& store, const std::vector<std::int32_t>& bests) {
  std::optional<std::int32_t> waiting;
  for (std::int32_t best : bests) {
    const auto kept = store.Write(best);
    if (!kept) {
      if (!store.Busy()) return false;
      waiting = best;
      continue;
    }
    std::int32_t now = INT32_MIN;  // stays so where every place was busy
    store.Read(now);
    if (*kept < best || (now != INT32_MIN && now < best)) return false;
  }
  if (!waiting) return true;
  const auto kept = store.Write(*waiting, Patience::Long);
  return kept && *kept >= *waiting;
}

TEST(FileSafety, CopiesStoringAtOnceKeepTheLargestAndNeverTearTheFile) {
  // In a writable folder (replaced through a temporary file) and in a locked folder with a
  // writable file (rewritten in place): many contested stores; then a slow disk, every copy
  // storing at once under CPU load, while someone else holds the folder's lock, or a shared
  // lock on the file for longer than a round's end waits.
  struct Case { bool locked; int writers, stores; std::chrono::milliseconds flush; int hogs; };
  for (const Case& k : {Case{false, 4, 400, {}, 0}, Case{true, 4, 400, {}, 0},
                        Case{false, 8, 1, std::chrono::milliseconds(150), 3},
                        Case{true, 8, 1, std::chrono::milliseconds(150), 3}}) {
    Setting s;
    const std::string head = "; notes\r\n[QUILLON]\r\nHighScore=", tail = "\r\n[Other]\r\nx=1\r\n";
    WriteFile(s.Ini(), head + "0" + tail, 0666);
    GiveToPlayer(s.Ini());
    if (k.locked) LockFolder(s.program);
    // Someone else: holding the folder's lock to the end, or the file's shared lock for a while.
    const pid_t hostile = k.flush.count() == 0 ? 0
                          : k.locked        ? HoldLock(s.Ini(), LOCK_SH, std::chrono::milliseconds(600))
                                            : HoldLock(s.program, LOCK_EX, std::chrono::seconds(30));
    AsPlayer([&](Checks& c) {
      // Every store a new best, interleaved so that each one is contested; among copies that
      // store once, the first to start has the largest.
      const auto best = [&](int writer, int i) { return ((i + 1) * k.writers - writer) * 10 + 1; };
      const std::int32_t largest = best(0, k.stores - 1);
      const bool ok = InParallel(k.writers + 1 + k.hogs, [&](int who) {
        PosixFileSystem files(s.data.string() + "/");
        if (who > k.writers) {  // the load
          const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
          while (std::chrono::steady_clock::now() < end) {
          }
          return true;
        }
        if (who == k.writers) {  // the reader: a whole file or none, never a torn one
          for (int i = 0; i < 2000; ++i) {
            const FileText now = files.Read(s.Ini().string());
            const std::string& t = now.text;
            if (now.kind == FileText::Kind::Busy) continue;
            if (now.kind != FileText::Kind::Text || t.rfind(head, 0) != 0 || t.size() < head.size() + tail.size() ||
                t.compare(t.size() - tail.size(), tail.size(), tail) != 0)
              return false;
          }
          return true;
        }
        files.onFlush = [&](const std::string&) { std::this_thread::sleep_for(k.flush); };
        HighScoreStore store(files);
        store.SetFolder(s.program.string() + "/");
        std::vector<std::int32_t> bests;
        for (int i = 0; i < k.stores; ++i) bests.push_back(best(who, i));
        return StoreAsTheGameDoes(store, bests);
      });
      c.Expect(ok, "every store kept its best and every read saw a whole file");
      c.Expect(ReadFile(s.Ini()) == head + std::to_string(largest) + tail, "the largest best stays");
      c.Expect(!fs::exists(s.data), "no copy of the player's was needed");
      c.Expect(Entries(s.program) == std::vector<std::string>{"Quillon.ini"}, "nothing is left beside it");
    });
    if (hostile > 0) {
      ::kill(hostile, SIGKILL);
      ::waitpid(hostile, nullptr, 0);
    }
  }
}

TEST(FileSafety, ALockHeldByAnotherDelaysAStoreButNeverLetsOneGoAheadWithoutIt) {
  using std::chrono::milliseconds;
  // Another copy writing its temporary file, another copy rewriting the file in place (in a
  // locked folder), anyone reading the file there or where the store goes through a temporary
  // file (which must not be left behind), anyone locking the folder.
  enum Holder { kTemp, kInPlace, kReader, kOpenReader, kFolder };
  for (Holder holder : {kTemp, kInPlace, kReader, kOpenReader, kFolder}) {
    for (bool released : {true, false}) {  // while the store waits, or past every wait
      Setting s;
      WriteFile(s.Ini(), "[QUILLON]\nHighScore=100\n", 0644);
      GiveToPlayer(s.Ini());
      if (holder == kInPlace || holder == kReader) LockFolder(s.program);
      AsPlayer([&](Checks& c) {
        const fs::path temp = s.program / "Quillon.ini.new";
        const fs::path held = holder == kTemp ? temp : holder == kFolder ? s.program : s.Ini();
        const bool reader = holder == kReader || holder == kOpenReader;
        const int fd = ::open(held.c_str(), holder == kTemp ? O_RDWR | O_CREAT : holder == kInPlace ? O_RDWR : O_RDONLY, 0600);
        c.Expect(::flock(fd, reader ? LOCK_SH : LOCK_EX) == 0, "the lock is taken");
        // Released: every wait is long enough. Not: the round's end waits a twentieth of a second
        // and must give up within the long wait (a wait it took wrongly), however busy the machine.
        s.files.waits = released ? PosixFileSystem::Waits{milliseconds(5000), milliseconds(5000), milliseconds(5000)}
                                 : PosixFileSystem::Waits{milliseconds(50), milliseconds(50), milliseconds(1500)};
        const std::string more = "[QUILLON]\nHighScore=1001\n";
        std::thread other;
        if (released) {
          other = std::thread([&] {
            std::this_thread::sleep_for(milliseconds(100));
            // The other copy stores more while this one waits for its turn.
            if (holder == kTemp || holder == kInPlace) (void)!::pwrite(fd, more.data(), more.size(), 0);
            if (holder == kTemp) ::rename(temp.c_str(), s.Ini().c_str());
            ::close(fd);
          });
        }
        const auto asked = std::chrono::steady_clock::now();
        const auto kept = s.store.Write(1000);
        const auto waited = std::chrono::steady_clock::now() - asked;
        if (released || holder == kFolder) {
          if (other.joinable()) other.join();
          const bool raced = released && (holder == kTemp || holder == kInPlace);
          c.Expect(kept == (raced ? 1001 : 1000), "the turn comes, and what is stored then decides");
          c.Expect(waited < milliseconds(1000), "within moments of the lock's release");
          c.Expect(ReadFile(s.Ini()) == (raced ? more : "[QUILLON]\nHighScore=1000\n"), "the larger is in the file");
          if (!released) ::close(fd);
          return;
        }
        c.Expect(!kept && s.store.Busy(), "a store that got no turn says so");
        c.Expect(waited >= milliseconds(50) && waited < milliseconds(1500), "after its own wait, not the long one");
        c.Expect(ReadFile(s.Ini()) == "[QUILLON]\nHighScore=100\n", "and wrote nothing");
        c.Expect(Entries(s.program) == (holder == kTemp ? std::vector<std::string>{"Quillon.ini", "Quillon.ini.new"}
                                                        : std::vector<std::string>{"Quillon.ini"}),
                 "nor left a file of its own beside it");
        const auto cpu = [] {
          timespec t{};
          ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
          return milliseconds(t.tv_sec * 1000 + t.tv_nsec / 1000000);
        };
        const auto cpuBefore = cpu();
        c.Expect(s.store.Write(1000, Patience::Long) == 1000, "as the program ends, the best is kept");
        // Sleeping between its tries: spinning would take a core from the game the whole wait.
        c.Expect(cpu() - cpuBefore < milliseconds(150), "the wait costs next to no time of the processor");
        c.Expect(ReadFile(s.Own()) == "[QUILLON]\nHighScore=1000\n", "in the player's own copy");
        ::close(fd);
        c.Expect(s.Best() == 1000, "and shows from then on");
        c.Expect(Entries(s.program) == std::vector<std::string>{"Quillon.ini"}, "nothing is left beside it");
      });
    }
  }
}

TEST(FileSafety, AFolderOwnerAndAFileOnlyPlayerTakeOneTurn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to own the folder while another plays";
  // The owner replaces the file through a temporary one; the player, who may write only the
  // file, rewrites it in place. Whoever stores first does so on a slow disk; the second, with
  // the larger best, comes 100 ms later and must wait for the first's turn, not run past it.
  for (bool ownerFirst : {true, false}) {
    SCOPED_TRACE(ownerFirst ? "the owner first" : "the player first");
    Setting s;
    WriteFile(s.Ini(), "[QUILLON]\nHighScore=100\n", 0666);
    ::chown(s.program.c_str(), 0, 0);
    LockFolder(s.program);
    const bool ok = InParallel(2, [&](int who) {
      const bool owner = (who == 0) == ownerFirst;
      if (!owner && (::setgroups(0, nullptr) != 0 || ::setgid(kPlayer) != 0 || ::setuid(kPlayer) != 0)) return false;
      PosixFileSystem files(s.data.string() + "/");
      if (who == 0) files.onFlush = [](const std::string&) { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
      if (who == 1) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      HighScoreStore store(files);
      store.SetFolder(s.program.string() + "/");
      const std::int32_t best = who == 0 ? 2000 : 3000;
      return store.Write(best, Patience::Long) == best;
    });
    EXPECT_TRUE(ok) << "each store kept its own best, the second after the first";
    EXPECT_EQ(ReadFile(s.Ini()), "[QUILLON]\nHighScore=3000\n");
    EXPECT_FALSE(fs::exists(s.data));
    EXPECT_EQ(Entries(s.program), std::vector<std::string>{"Quillon.ini"});
  }
}

TEST(FileSafety, TheRunGoesWhereItsBestGoesOrBothGoToThePlayersFolder) {
  // A locked folder with a writable file and no run file of the player's own, or with one, or
  // with another player's run file there; a full disk beside the program, the file in its
  // room; the player's run file a link planted to someone else's file in a shared folder. Then that link beside the program, where the best still goes in
  // place: the run goes to the player's folder with a copy of the best, or, where that folder
  // can't be made, can't be written or there is none, the best stays kept without its run.
  enum { kLockedNoRun, kLockedOwnRun, kFullDisk, kLockedTheirRun, kPlanted, kPlantedBeside, kPlantedNoHome,
         kPlantedDataLocked, kPlantedNoFolder };
  for (int place : {kLockedNoRun, kLockedOwnRun, kFullDisk, kLockedTheirRun, kPlanted, kPlantedBeside, kPlantedNoHome,
                    kPlantedDataLocked, kPlantedNoFolder}) {
    SCOPED_TRACE(place);
    if (place >= kFullDisk && ::geteuid() != 0) continue;  // a mount, another user
    Setting s;
    const fs::path run = s.program / "Quillon.run", ownRun = s.data / "Quillon.run";
    const fs::path shared = s.root.path / "shared", victim = shared / "theirs";
    testing::SmallDisk disk(place == kFullDisk ? s.program : fs::path(), 16);
    if (place == kFullDisk && !disk) GTEST_SKIP() << "no tmpfs";
    WriteFile(s.Ini(), "[QUILLON]\nHighScore=100\n", 0666);
    GiveToPlayer(s.Ini());
    if (place == kFullDisk) std::ofstream(s.program / "filler", std::ios::binary) << std::string(64 << 10, 'x');
    if (place == kLockedOwnRun || place == kLockedTheirRun) {
      WriteFile(run, "run:5\n", 0666);
      if (place == kLockedOwnRun) GiveToPlayer(run);
    }
    if (place == kLockedNoRun || place == kLockedOwnRun || place == kLockedTheirRun) LockFolder(s.program);
    const bool planted = place >= kPlanted;
    const fs::path link = place == kPlanted ? ownRun : run;
    if (place == kPlanted || place == kPlantedDataLocked) fs::create_directories(s.data);
    if (planted) {
      fs::create_directories(shared);
      ::chmod(shared.c_str(), 01777);
      WriteFile(victim, "theirs\n", 0666);
      fs::create_symlink(victim, link);
      ::lchown(link.c_str(), kPlayer, kPlayer);
    }
    if (place == kPlanted || place == kPlantedDataLocked) {
      GiveToPlayer(s.data);
      if (place == kPlanted) {
        WriteFile(s.Own(), "[QUILLON]\nHighScore=100\n");
        GiveToPlayer(s.Own());
      }
    }
    if (place > kPlanted) LockFolder(s.program);
    if (place == kPlantedNoHome) LockFolder(s.root.path / "home");
    if (place == kPlantedDataLocked) LockFolder(s.data);
    PosixFileSystem noFolder{std::string()};
    HighScoreStore bare{noFolder};
    bare.SetFolder(s.program.string() + "/");
    HighScoreStore& store = place == kPlantedNoFolder ? bare : s.store;
    AsPlayer([&](Checks& c) {
      c.Expect(store.Write(500, Patience::Brief, "run:500", RunScore) == 500, "the best is kept");
      const bool runGoes = !planted || place == kPlantedBeside, bestBeside = place == kLockedOwnRun || place > kPlantedBeside;
      c.Expect(store.RunKept() == runGoes, "the run with it, where it can be");
      c.Expect(ReadFile(bestBeside ? s.Ini() : s.Own()) == "[QUILLON]\nHighScore=500\n", "the best in its place");
      if (runGoes) {
        c.Expect(ReadFile(place == kLockedOwnRun ? run : ownRun) == "run:500\n", "the run beside it");
        c.Expect(store.ReadRun(RunScore) == "run:500", "and read back");
        c.Expect(!store.ReadRun({}), "but not without a way to score it");
      }
      c.Expect(fs::exists(s.data) == (place != kLockedOwnRun && (place <= kPlantedBeside || place == kPlantedDataLocked)),
             "the player's folder");
      // Where neither place takes the run, the store says why in both, the first place first.
      const std::string& problem = store.Problem();
      if (place == kPlantedNoHome) c.Expect(problem.find("cannot be made") != std::string::npos, problem);
      if (place == kPlantedNoFolder) c.Expect(problem.find("; the player has no data folder") != std::string::npos, problem);
      if (place == kPlantedDataLocked) {
        c.Expect(problem.rfind(run.string() + ": ", 0) == 0 && problem.find("; " + s.Own().string() + ": ") != std::string::npos,
                 problem);
      }
      c.Expect(s.Best() == 500, "the best read back");
    });
    if (planted) {
      EXPECT_EQ(ReadFile(victim), "theirs\n");
      EXPECT_TRUE(fs::is_symlink(link));
      EXPECT_EQ(Entries(shared), std::vector<std::string>{"theirs"});
    }
    if (place == kLockedTheirRun) { EXPECT_EQ(ReadFile(run), "run:5\n"); }
    if (place == kFullDisk) {
      // Neither file's temporary one is left taking room there, and the file there, with room
      // for its own text but none for its run's, is left as it was.
      EXPECT_EQ(Entries(s.program), (std::vector<std::string>{"Quillon.ini", "filler"}));
      EXPECT_EQ(ReadFile(s.Ini()), "[QUILLON]\nHighScore=100\n");
    }
  }
  // The best already in a file that can't be rewritten, in a locked folder: its run beside it
  // already, held by another copy, or another run there. Each is told apart by what follows:
  // nothing to do, a turn to wait for, or both going to the player's folder. A best stored with
  // no run has nothing to do either.
  // Nor has one whose run can't be scored, or reaches more than the best it was handed for.
  // Nor, with its run, one on a disk mounted read-only; nor a lower best with its own run,
  // another copy holding the run file there (its best's turn is no reason to wait).
  enum { kSameRun, kHeldRun, kOtherRun, kNoRun, kNoScorer, kHigherRun, kReadOnlyDisk, kLowerHeld };
  for (int place : {kSameRun, kHeldRun, kOtherRun, kNoRun, kNoScorer, kHigherRun, kReadOnlyDisk, kLowerHeld}) {
    SCOPED_TRACE(place);
    const bool readOnly = place == kReadOnlyDisk;
    const int run = readOnly ? kSameRun : place;
    Setting s;
    testing::SmallDisk disk(readOnly ? s.program : fs::path(), 64);
    if (readOnly && !disk) continue;
    const fs::path beside = s.program / "Quillon.run";
    WriteFile(s.Ini(), "[QUILLON]\nHighScore=500\n", 0444);
    const bool other = run == kOtherRun || run == kHigherRun;
    WriteFile(beside, other ? "run:5\n" : "run:500\n", 0644);
    for (const fs::path& p : {s.Ini(), beside}) GiveToPlayer(p);
    if (readOnly) {
      EXPECT_TRUE(disk.MakeReadOnly());
    } else {
      LockFolder(s.program);
    }
    testing::HeldFile held(run == kHeldRun || run == kLowerHeld ? beside.string() : std::string());
    AsPlayer([&](Checks& c) {
      const bool lower = run == kHigherRun || run == kLowerHeld;
      const auto kept = s.store.Write(lower ? 300 : 500, Patience::Brief,
                                      run == kNoRun ? "" : run == kLowerHeld ? "run:300" : "run:500",
                                      run == kNoScorer ? HighScoreStore::Scorer() : RunScore);
      c.Expect(kept == (run == kHeldRun ? std::nullopt : std::optional<std::int32_t>(500)), "kept, or not yet");
      c.Expect(s.store.Busy() == (run == kHeldRun), "busy only while another holds the run");
      c.Expect(s.store.RunKept() == (run == kSameRun || run == kOtherRun), "the run kept where it can be");
      c.Expect(fs::exists(s.data) == (run == kOtherRun), "the player's folder only for what can't stay");
      if (run == kOtherRun) {
        c.Expect(ReadFile(s.Own()) == "[QUILLON]\nHighScore=500\n" && ReadFile(s.data / "Quillon.run") == "run:500\n", "both there");
      }
    });
    EXPECT_EQ(ReadFile(s.Ini()), "[QUILLON]\nHighScore=500\n");
    EXPECT_EQ(ReadFile(beside), other ? "run:5\n" : "run:500\n");
  }
}

TEST(FileSafety, APlantedLinkNeverRewritesTheVictimsFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant as one user and play as another";
  constexpr uid_t kAttacker = 4321;
  Setting s;
  const fs::path shared = s.root.path / "shared";
  fs::create_directories(shared);
  ::chmod(shared.c_str(), 01777);  // world-writable and sticky, like /tmp
  const fs::path victim = s.root.path / "home" / ".bashrc";
  WriteFile(victim, "alias ll='ls -l'\n", 0644);
  GiveToPlayer(victim);
  fs::create_symlink(victim, shared / "Quillon.ini");
  ASSERT_EQ(::lchown((shared / "Quillon.ini").c_str(), kAttacker, kAttacker), 0);
  s.store.SetFolder(shared.string() + "/");
  AsPlayer([&](Checks& c) {
    c.Expect(s.Best(7) == 0, "the link is not read");
    c.Expect(s.store.Write(900).has_value(), "the best is kept");
    c.Expect(ReadFile(victim) == "alias ll='ls -l'\n", "the victim's file is as it was");
    c.Expect(ReadFile(s.Own()) == "[QUILLON]\nHighScore=900\n", "in the player's own copy");
    c.Expect(fs::is_symlink(shared / "Quillon.ini"), "the link stays");
  });
  // The player's own link there, and anyone's link in a folder that is not shared (writable by
  // all but not sticky, or sticky but not writable by all), are followed.
  std::int32_t best = 950;
  for (const auto& [mode, owner] : {std::pair<mode_t, uid_t>{01777, kPlayer}, {0777, kAttacker}, {01775, kAttacker}}) {
    SCOPED_TRACE(mode);
    ::chmod(shared.c_str(), mode);
    ASSERT_EQ(::lchown((shared / "Quillon.ini").c_str(), owner, owner), 0);
    fs::remove(s.Own());
    AsPlayer([&](Checks& c) {
      c.Expect(s.store.Write(best).has_value(), "the best is kept");
      c.Expect(ReadFile(victim) == "alias ll='ls -l'\n[QUILLON]\nHighScore=" + std::to_string(best) + "\n",
               "through the link");
    });
    best += 50;
  }
}

TEST(FileSafety, WhatCannotBeReadOrFollowedIsNeverReplaced) {
  // A loop of links, a chain longer than the kernel follows, a link that changes each time it
  // is looked at, a file the player may write but not read, one on a failing disk, and one too
  // large to be a settings file.
  enum { kLoop, kLongChain, kChangingLink, kUnreadable, kFailingDisk, kHuge };
  for (int kind : {kLoop, kLongChain, kChangingLink, kUnreadable, kFailingDisk, kHuge}) {
    SCOPED_TRACE(kind);
    Setting s;
    const bool loop = kind == kLoop || kind == kLongChain || kind == kChangingLink;
    const bool unreadable = kind == kUnreadable || kind == kFailingDisk;
    Faults faults;
    if (kind == kLoop) {
      fs::create_symlink("b.ini", s.Ini());
      fs::create_symlink("Quillon.ini", s.program / "b.ini");
    } else if (kind == kLongChain) {
      WriteFile(s.program / "b.ini", "[QUILLON]\nHighScore=5000\n");
      LinkChain(s.Ini(), 41, "b.ini");
    } else if (kind == kChangingLink) {
      // By the time it is read it has grown past the room its length left: the name read is
      // cut short, and may be another file's.
      WriteFile(s.program / "b.ini", "[QUILLON]\nHighScore=4000\n");
      WriteFile(s.program / "bb.ini", "[QUILLON]\nHighScore=5000\n");
      fs::create_symlink("b.ini", s.Ini());
      faults.readlink = [&](const char* path, char* buffer, std::size_t size) -> std::optional<ssize_t> {
        if (path != s.Ini().string() || size < 5) return std::nullopt;
        const std::string cut = std::string(size - 4, 'b') + ".ini";
        std::memcpy(buffer, cut.data(), size);
        return static_cast<ssize_t>(size);
      };
    } else {
      WriteFile(s.Ini(), "[QUILLON]\nHighScore=5000\n", kind == kUnreadable ? 0200 : 0644);
      if (kind == kHuge) fs::resize_file(s.Ini(), (64 << 20) + 1);  // sparse: no disk taken
      GiveToPlayer(s.Ini());
      if (kind == kFailingDisk) {
        faults.read = [&](int fd) { return SameFile(fd, s.Ini()) ? Failing(EIO) : std::nullopt; };
      }
    }
    AsPlayer([&](Checks& c) {
      PlantFaults plant(faults);
      c.Expect(s.store.Write(60).has_value(), "the best is kept");
      c.Expect(ReadFile(s.Own()) == "[QUILLON]\nHighScore=60\n", "in the player's own copy");
      c.Expect(s.Best() == 60, "which is read from then on");
      // Unreadable only for a moment: its larger best shows again, and stays the best. The
      // disk comes back, but a signal cuts into every other read of it.
      if (kind == kUnreadable) ::chmod(s.Ini().c_str(), 0644);
      bool cut = false;
      if (kind == kFailingDisk) {
        kernelFaults.read = [&](int fd) { return SameFile(fd, s.Ini()) && (cut = !cut) ? Failing(EINTR) : std::nullopt; };
      }
      c.Expect(s.Best() == (unreadable ? 5000 : 60), "a place once unreadable is read again");
      c.Expect(s.store.Write(70) == (unreadable ? 5000 : 70), "and counts when the next best is stored");
    });
    if (loop) { EXPECT_TRUE(fs::is_symlink(s.Ini())); }
    if (kind == kLoop) { EXPECT_TRUE(fs::is_symlink(s.program / "b.ini")); }
    if (kind == kLongChain || kind == kChangingLink) {
      EXPECT_EQ(ReadFile(s.program / "b.ini"), kind == kLongChain ? "[QUILLON]\nHighScore=5000\n" : "[QUILLON]\nHighScore=4000\n");
    }
    if (kind == kChangingLink) { EXPECT_EQ(ReadFile(s.program / "bb.ini"), "[QUILLON]\nHighScore=5000\n"); }
    if (unreadable) { EXPECT_EQ(ReadFile(s.Ini()), "[QUILLON]\nHighScore=5000\n"); }
    if (kind == kHuge) {
      EXPECT_EQ(fs::file_size(s.Ini()), (64u << 20) + 1);
      // A byte less is still a settings file, and read.
      fs::resize_file(s.Ini(), 64u << 20);
      EXPECT_EQ(s.Best(), 5000);
      // And the next best goes into it, not past it to the player's own copy.
      fs::remove(s.Own());
      EXPECT_EQ(s.store.Write(6000), 6000);
      EXPECT_FALSE(fs::exists(s.Own()));
      EXPECT_EQ(s.Best(), 6000);
      // A byte more is a file there that can't be read, not none.
      fs::resize_file(s.Ini(), (64u << 20) + 1);
      EXPECT_EQ(s.files.Read(s.Ini().string()).kind, FileText::Kind::Unreadable);
      // At the limit in a folder that takes no new file, it is rewritten in place.
      fs::resize_file(s.Ini(), 64u << 20);
      GiveToPlayer(s.Ini());
      LockFolder(s.program);
      AsPlayer([&](Checks& c) {
        c.Expect(s.store.Write(7000) == 7000 && !fs::exists(s.Own()), "in place");
        c.Expect(s.Best() == 7000, "and read back");
      });
    }
  }
}

TEST(FileSafety, TheNextStartClearsLeftoversAndRollsAWholeNewBestForward) {
  const std::string stored = "; mine\n[QUILLON]\nHighScore=100\n";
  struct Case { std::string leftover; std::int32_t best; bool removed; };
  for (const Case& c : {Case{"", 100, true},                                       // died before writing
                        Case{"; mine\n[QUILLON]\nHigh", 100, true},                // died while writing
                        Case{"; mine\n[QUILLON]\nHighScore=31", 100, true},        // cut inside the value
                        Case{"; mine\n[QUILLON]\nHighScore=3100\n", 3100, true},   // died before the rename
                        Case{"; mine\n[QUILLON]\nHighScore=90\n", 100, true},      // whole, but less
                        Case{"[QUILLON]\nHighScore=999999\n", 100, true}}) {       // not this file's
    Setting s;
    WriteFile(s.Ini(), stored);
    WriteFile(s.program / "Quillon.ini.new", c.leftover, 0600);
    EXPECT_EQ(s.Best(), c.best) << c.leftover;
    EXPECT_EQ(ReadFile(s.Ini()).find("HighScore=" + std::to_string(c.best)) != std::string::npos, true);
    EXPECT_EQ(Entries(s.program), std::vector<std::string>{"Quillon.ini"}) << c.leftover;
  }
  // A whole one while another copy is reading the file: it waits for the next start.
  {
    Setting s;
    WriteFile(s.Ini(), stored);
    WriteFile(s.program / "Quillon.ini.new", "; mine\n[QUILLON]\nHighScore=3100\n", 0600);
    const int reader = ::open(s.Ini().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(reader, LOCK_SH), 0);
    EXPECT_EQ(s.Best(), 100);
    EXPECT_EQ(Entries(s.program), (std::vector<std::string>{"Quillon.ini", "Quillon.ini.new"}));
    ::close(reader);
    EXPECT_EQ(s.Best(), 3100);
    EXPECT_EQ(Entries(s.program), std::vector<std::string>{"Quillon.ini"});
  }
  // Another copy's temporary file takes the leftover's name just as it is locked: the one held
  // is no longer this file's, and is not rolled forward.
  {
    Setting s;
    const fs::path leftover = s.program / "Quillon.ini.new";
    WriteFile(s.Ini(), stored);
    WriteFile(leftover, "; mine\n[QUILLON]\nHighScore=3100\n", 0600);
    WriteFile(s.program / "theirs", "; mine\n[QUILLON]\nHigh", 0600);
    bool swapped = false;
    Faults faults;
    faults.flock = [&](int fd) {
      if (!swapped && SameFile(fd, leftover)) swapped = (fs::rename(s.program / "theirs", leftover), true);
    };
    PlantFaults plant(faults);
    EXPECT_EQ(s.Best(), 100);
    EXPECT_TRUE(swapped);
    EXPECT_EQ(ReadFile(s.Ini()), stored);
  }
  // A crash right after the first write of all leaves no file but a whole leftover, beside
  // the program or in the player's own folder.
  for (bool own : {false, true}) {
    Setting s;
    const fs::path folder = own ? s.data : s.program;
    fs::create_directories(folder);
    WriteFile(folder / "Quillon.ini.new", "[QUILLON]\nHighScore=77\n", 0600);
    EXPECT_EQ(s.Best(), 77);
    EXPECT_EQ(ReadFile(folder / "Quillon.ini"), "[QUILLON]\nHighScore=77\n");
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"Quillon.ini"});
  }
  // A pipe of that name, even the player's own, is no leftover: nothing waits on it, and it stays.
  {
    Setting s;
    WriteFile(s.Ini(), stored);
    ASSERT_EQ(::mkfifo((s.program / "Quillon.ini.new").c_str(), 0600), 0);
    EXPECT_EQ(s.Best(), 100);
    EXPECT_EQ(fs::symlink_status(s.program / "Quillon.ini.new").type(), fs::file_type::fifo);
  }
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own mappings need more room than this
  // A leftover of a gigabyte (sparse) is never read whole, and the next write takes it over:
  // 256 MiB more room is plenty for the rest.
  {
    Setting s;
    WriteFile(s.Ini(), stored);
    GiveToPlayer(s.Ini());
    WriteFile(s.program / "Quillon.ini.new", "", 0600);
    fs::resize_file(s.program / "Quillon.ini.new", 1u << 30);
    GiveToPlayer(s.program / "Quillon.ini.new");
    AsPlayer([&](Checks& c) {
      long pages = 0;
      std::ifstream("/proc/self/statm") >> pages;
      const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (256u << 20);
      const rlimit cap{room, RLIM_INFINITY};
      c.Expect(::setrlimit(RLIMIT_AS, &cap) == 0, "the limit is set");
      c.Expect(s.Best() == 100, "the stored best stands");
      c.Expect(s.store.Write(200) == 200, "the next best is stored over it");
      c.Expect(Entries(s.program) == std::vector<std::string>{"Quillon.ini"}, "and the leftover is gone");
    });
  }
#endif
  if (::geteuid() != 0) return;
  // Someone else's file of that name, or a link, is not the player's to remove.
  Setting s;
  WriteFile(s.Ini(), stored, 0666);
  WriteFile(s.program / "Quillon.ini.new", "[QUILLON]\nHighScore=5\n", 0666);
  fs::create_directories(s.data);
  GiveToPlayer(s.data);
  fs::create_symlink(s.Ini(), s.data / "Quillon.ini.new");
  AsPlayer([&](Checks& c) {
    c.Expect(s.Best() == 100, "the stored best is read");
    c.Expect(Entries(s.program) == std::vector<std::string>{"Quillon.ini", "Quillon.ini.new"}, "root's file stays");
    c.Expect(fs::is_symlink(s.data / "Quillon.ini.new"), "the link stays");
  });
}

TEST(FileSafety, ASystemWideInstallKeepsTheBestOnlyInThePlayersFolder) {
  Setting s;
  PosixFileSystem files(s.data.string() + "/", true);
  HighScoreStore store(files);
  store.SetFolder(s.program.string() + "/");
  WriteFile(s.Ini(), "[QUILLON]\nHighScore=5000\n");
  std::int32_t best = 3;
  store.Read(best);
  EXPECT_EQ(best, 0);  // whatever lies beside the program is nobody's best
  EXPECT_EQ(store.Write(20), 20);
  EXPECT_EQ(ReadFile(s.Own()), "[QUILLON]\nHighScore=20\n");
  EXPECT_EQ(ReadFile(s.Ini()), "[QUILLON]\nHighScore=5000\n");
  EXPECT_EQ(Entries(s.program), std::vector<std::string>{"Quillon.ini"});
  // Where the copy can't be kept, each try says why once, with no word left from the one before.
  fs::remove(s.Own());
  fs::create_directory(s.Own());
  for (const std::int32_t next : {30, 40}) {
    EXPECT_FALSE(store.Write(next));
    EXPECT_EQ(store.Problem(), s.Own().string() + ": not a regular file");
  }
}

// Sets an environment variable for one scope; nullptr unsets it.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~EnvVar() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(FileSafety, ThePlayersFolderFollowsTheDesktopsRulesForDataFiles) {
  const auto folder = [](const char* xdg, const char* home) {
    EnvVar x("XDG_DATA_HOME", xdg), h("HOME", home);
    return PosixFileSystem().DataFolder();
  };
  EXPECT_EQ(folder("/data//", "/home/p"), "/data/quillon/");
  EXPECT_EQ(folder("/", "/home/p"), "/quillon/");
  // A relative or empty XDG_DATA_HOME is ignored, as the desktop's rules say.
  EXPECT_EQ(folder("rel/data", "/home/p/"), "/home/p/.local/share/quillon/");
  EXPECT_EQ(folder("", "/home/p"), "/home/p/.local/share/quillon/");
  EXPECT_EQ(folder(nullptr, "/home/p"), "/home/p/.local/share/quillon/");
  // With no usable HOME, the account's own home.
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  const std::string own = std::string(pw->pw_dir) + "/.local/share/quillon/";
  EXPECT_EQ(folder(nullptr, "relative"), own);
  EXPECT_EQ(folder(nullptr, nullptr), own);
  // Made with every folder on the way, however the slashes fall.
  TempDir root;
  const std::string made = "/" + root.path.string() + "/a//b/";
  EXPECT_TRUE(PosixFileSystem().MakeFolder(made));
  EXPECT_TRUE(fs::is_directory(root.path / "a" / "b"));
  // A file where the folder would be is no folder made, at the end or on the way.
  WriteFile(root.path / "a" / "file", "");
  EXPECT_FALSE(PosixFileSystem().MakeFolder((root.path / "a" / "file").string() + "/"));
  EXPECT_FALSE(PosixFileSystem().MakeFolder((root.path / "a" / "file" / "c").string() + "/"));
}

}  // namespace
}  // namespace quillon
