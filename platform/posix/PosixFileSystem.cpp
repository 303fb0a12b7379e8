#include "platform/posix/PosixFileSystem.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace quillon {

namespace {

// Larger files are not settings files; they are neither read nor replaced.
constexpr off_t kMaxFileSize = 64 << 20;
// Links followed before giving up, as the kernel does.
constexpr int kMaxLinks = 40;
// The one temporary name beside a file: a crash leaves at most this one behind, and the
// next write takes it over.
constexpr const char* kTempSuffix = ".new";

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  // Closes now; false when the close reported an error.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Whether the kernel's protected_symlinks rule lets this user follow the link: not in a
// world-writable sticky folder, or the link is the user's own, or the folder's owner's. The
// rule holds here whether or not the kernel enforces it, so that nobody can point a player's
// best score at another file of theirs.
bool MayFollow(const std::string& link, const struct stat& linkStat) {
  struct stat folder {};
  if (::stat(FolderOf(link).c_str(), &folder) != 0) return false;
  const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  return !shared || linkStat.st_uid == ::geteuid() || linkStat.st_uid == folder.st_uid;
}

// The path a chain of symbolic links ends at, whether or not anything is there; nothing for
// a loop or a link this user may not follow.
std::optional<std::string> FollowLinks(std::string path) {
  for (int hop = 0; hop <= kMaxLinks; ++hop) {  // the last look finds no link
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (!MayFollow(path, st)) return std::nullopt;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) return std::nullopt;
    target.resize(static_cast<std::size_t>(n));
    path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
  }
  return std::nullopt;
}

void Pause(long ms) {
  timespec t{0, ms * 1000000L};
  ::nanosleep(&t, nullptr);
}

// Another copy of the game holds a lock for a few milliseconds; one that holds it longer is
// stuck, and is not worth holding the game up for: after about a second, go on without.
bool LockFor(int fd, int operation) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (::flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    Pause(10);
  }
  return false;
}

bool WriteAll(int fd, std::string_view data, off_t offset) {
  while (!data.empty()) {
    const ssize_t n = ::pwrite(fd, data.data(), data.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

unsigned CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

bool CannotLiveHere(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == ENOENT || error == ENOTDIR;
}

// The leftover temporary file beside a file, open, if it is a regular file of this user's
// that no running copy is writing.
std::optional<int> OpenLeftover(const std::string& path) {
  const auto target = FollowLinks(path);
  if (!target) return std::nullopt;
  const std::string temp = *target + kTempSuffix;
  const int fd = ::open(temp.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat held {}, named {};
  if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != ::geteuid() ||
      ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::lstat(temp.c_str(), &named) != 0 ||
      named.st_ino != held.st_ino || named.st_dev != held.st_dev) {
    ::close(fd);
    return std::nullopt;
  }
  return fd;
}

}  // namespace

FileText PosixFileSystem::Read(const std::string& path) {
  FileText file;
  const auto target = FollowLinks(path);
  if (!target) {
    file.kind = FileText::Kind::Other;
    return file;
  }
  // Non-blocking, so that a pipe or device at the path can't hold the game up; no links, as
  // the chain was followed above by the rule that says which may be.
  Fd fd(::open(target->c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!fd.ok()) {
    const int error = errno;
    if (::lstat(target->c_str(), &st) != 0) {
      if (errno != ENOENT && errno != ENOTDIR) file.kind = FileText::Kind::Unreadable;
      return file;
    }
    file.kind = S_ISREG(st.st_mode) && error != ELOOP ? FileText::Kind::Unreadable : FileText::Kind::Other;
    return file;
  }
  if (::fstat(fd.get(), &st) != 0) {
    file.kind = FileText::Kind::Unreadable;
    return file;
  }
  if (!S_ISREG(st.st_mode)) {
    file.kind = FileText::Kind::Other;
    return file;
  }
  file.kind = FileText::Kind::Unreadable;
  if (st.st_size > kMaxFileSize) return file;
  // A copy rewriting the file in place holds it locked until the whole text is there.
  LockFor(fd.get(), LOCK_SH);
  char chunk[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      file.text.clear();
      return file;
    }
    if (n == 0) break;
    file.text.append(chunk, static_cast<std::size_t>(n));
    if (file.text.size() > static_cast<std::size_t>(kMaxFileSize)) {
      file.text.clear();
      return file;
    }
  }
  file.kind = FileText::Kind::Text;
  return file;
}

WriteOutcome PosixFileSystem::Fail(WriteOutcome outcome, int error) {
  lastError_ = error != 0 ? std::strerror(error) : "";
  return outcome;
}

WriteOutcome PosixFileSystem::Update(const std::string& path, const Change& change) {
  lastError_.clear();
  const auto target = FollowLinks(path);
  if (!target) {
    lastError_ = "a link that is not to be followed, or a loop of links";
    return WriteOutcome::NotHere;
  }
  // Copies of the game that store into one folder take turns, from the read to the rename.
  Fd folder(::open(FolderOf(*target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.ok()) LockFor(folder.get(), LOCK_EX);
  const FileText now = Read(*target);
  if (now.kind == FileText::Kind::Other || now.kind == FileText::Kind::Unreadable) {
    lastError_ = now.kind == FileText::Kind::Other ? "not a regular file" : "the file cannot be read";
    return WriteOutcome::NotHere;
  }
  const std::optional<std::string> contents = change(now);
  if (!contents) return WriteOutcome::Kept;
  return Replace(*target, *contents);
}

std::optional<std::string> PosixFileSystem::Leftover(const std::string& path) {
  const auto fd = OpenLeftover(path);
  if (!fd) return std::nullopt;
  Fd held(*fd);
  std::string text;
  char chunk[8192];
  for (ssize_t n; (n = ::read(held.get(), chunk, sizeof chunk)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text.size() > static_cast<std::size_t>(kMaxFileSize)) return std::nullopt;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  return text;
}

void PosixFileSystem::DropLeftover(const std::string& path) {
  const auto fd = OpenLeftover(path);
  if (!fd) return;
  Fd held(*fd);
  if (const auto target = FollowLinks(path)) ::unlink((*target + kTempSuffix).c_str());
}

bool PosixFileSystem::Flush(int fd, const std::string& path) {
  if (onFlush) onFlush(path);
  return ::fsync(fd) == 0;
}

WriteOutcome PosixFileSystem::Replace(const std::string& target, std::string_view contents) {
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return Fail(WriteOutcome::NotHere, 0);
  const bool writable = exists && ::access(target.c_str(), W_OK) == 0 && (st.st_mode & 0222) != 0;
  if (exists && !writable) {
    // A read-only file in a folder the player may change was made so on purpose.
    return ::access(FolderOf(target).c_str(), W_OK) == 0 ? WriteOutcome::Refused
                                                         : Fail(WriteOutcome::NotHere, EACCES);
  }
  const unsigned mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
  int error = 0;
  const WriteOutcome outcome = ReplaceThroughTemp(target, contents, mode, error);
  if (outcome != WriteOutcome::Failed) return outcome;
  if (!CannotLiveHere(error)) return Fail(outcome, error);
  // No new file may go into the folder; the file itself may still be changed.
  if (exists) return RewriteInPlace(target, contents);
  return Fail(WriteOutcome::NotHere, error);
}

WriteOutcome PosixFileSystem::ReplaceThroughTemp(const std::string& target, std::string_view contents,
                                                 unsigned mode, int& error) {
  const std::string temp = target + kTempSuffix;
  // Another game may be writing the same file: the lock says so, and the inode check
  // catches a temp file that it has just renamed into place.
  for (int attempt = 0;; ++attempt) {
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd.ok()) {
      error = errno;
      return WriteOutcome::Failed;
    }
    struct stat held {};
    if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) return WriteOutcome::Failed;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (attempt >= 200) return WriteOutcome::Failed;
      Pause(10);
      continue;
    }
    struct stat named {};
    if (::lstat(temp.c_str(), &named) != 0 || named.st_ino != held.st_ino || named.st_dev != held.st_dev) {
      if (attempt >= 200) return WriteOutcome::Failed;
      continue;
    }
    // The mode is worth keeping, but never at the cost of the score.
    (void)::fchmod(fd.get(), static_cast<mode_t>(mode));
    // Only a leftover has anything to cut (and Emscripten's ftruncate fails on a fresh file).
    bool ok = (named.st_size == 0 || ::ftruncate(fd.get(), 0) == 0) && WriteAll(fd.get(), contents, 0) &&
              Flush(fd.get(), temp) && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
      error = errno;
      ::unlink(temp.c_str());
      return WriteOutcome::Failed;
    }
    fd.Close();
    // The rename lives in the folder: flush it too, or a power cut may bring the old file back.
    const std::string folder = FolderOf(target);
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.ok()) Flush(dir.get(), folder);
    return WriteOutcome::Written;
  }
}

WriteOutcome PosixFileSystem::RewriteInPlace(const std::string& target, std::string_view contents) {
  Fd fd(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!fd.ok()) return Fail(CannotLiveHere(errno) ? WriteOutcome::NotHere : WriteOutcome::Failed, errno);
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Fail(WriteOutcome::Failed, errno);
  // Readers wait while the text is only partly there.
  LockFor(fd.get(), LOCK_EX);
  // The whole text in one write, then the tail cut and all of it flushed.
  const bool ok = WriteAll(fd.get(), contents, 0) &&
                  ::ftruncate(fd.get(), static_cast<off_t>(contents.size())) == 0 &&
                  Flush(fd.get(), target);
  const int error = ok ? 0 : errno;
  return fd.Close() && ok ? WriteOutcome::Written : Fail(WriteOutcome::Failed, error != 0 ? error : EIO);
}

std::string PosixFileSystem::DataFolder() {
  if (dataFolder_) return *dataFolder_;
  const auto absolute = [](const char* s) { return s != nullptr && s[0] == '/'; };
  const auto trimmed = [](std::string s) {
    while (!s.empty() && s.back() == '/') s.pop_back();
    return s;
  };
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); absolute(xdg)) return trimmed(xdg) + "/quillon/";
  const char* home = std::getenv("HOME");
  if (!absolute(home)) {
    const passwd* pw = ::getpwuid(::getuid());
    home = pw != nullptr ? pw->pw_dir : nullptr;
  }
  if (!absolute(home)) return {};
  return trimmed(home) + "/.local/share/quillon/";
}

bool PosixFileSystem::MakeFolder(const std::string& folder) {
  std::string path;
  std::size_t pos = 0;
  while (pos < folder.size()) {
    const auto slash = folder.find('/', pos + 1);
    path = folder.substr(0, slash);
    pos = slash == std::string::npos ? folder.size() : slash;
    if (path.empty() || path == "/") continue;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace quillon
