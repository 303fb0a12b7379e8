#include "platform/posix/PosixFiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace quillon::posix {

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool MayFollow(const std::string& link, const struct stat& linkStat) {
  struct stat folder {};
  if (::stat(FolderOf(link).c_str(), &folder) != 0) return false;
  const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  return !shared || linkStat.st_uid == ::geteuid() || linkStat.st_uid == folder.st_uid;
}

std::optional<std::string> FollowLinks(std::string path) {
  for (int hop = 0; hop <= kMaxLinks; ++hop) {  // the last look finds no link
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (!MayFollow(path, st)) return std::nullopt;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    // Filling the room left for one more byte means the link changed since it was looked at.
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(n));
    path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
  }
  return std::nullopt;
}

void Pause(long ms) {
  timespec t{0, ms * 1000000L};
  ::nanosleep(&t, nullptr);
}

Lock LockUntil(int fd, int operation, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return Lock::Taken;
    if (errno != EWOULDBLOCK && errno != EINTR) return Lock::Failed;
    if (std::chrono::steady_clock::now() >= deadline) return Lock::Busy;
    Pause(5);
  }
}

Named LockNamed(const std::string& path, int flags, int operation, std::chrono::steady_clock::time_point deadline,
                Fd& fd, struct stat& st, int& error) {
  for (;;) {
    fd.Reset(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok()) {
      error = errno;
      if (error == ENOENT || error == ENOTDIR) return Named::Absent;
      return error == ELOOP ? Named::Other : Named::Failed;
    }
    if (::fstat(fd.get(), &st) != 0) {
      error = errno;
      return Named::Failed;
    }
    if (!S_ISREG(st.st_mode)) return Named::Other;
    switch (LockUntil(fd.get(), operation, deadline)) {
      case Lock::Busy:
        return Named::Busy;
      case Lock::Failed:
        error = errno;
        return Named::Failed;
      case Lock::Taken:
        break;
    }
    struct stat named {};
    if (::lstat(path.c_str(), &named) == 0 && named.st_ino == st.st_ino && named.st_dev == st.st_dev) {
      if (::fstat(fd.get(), &st) == 0) return Named::Taken;  // as it is now, after the wait
      error = errno;
      return Named::Failed;
    }
    if (std::chrono::steady_clock::now() >= deadline) return Named::Busy;
  }
}

std::optional<std::string> ReadRest(int fd) {
  std::string text;
  char chunk[8192];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return text;
    text.append(chunk, static_cast<std::size_t>(n));
    if (text.size() > static_cast<std::size_t>(kMaxFileSize)) return std::nullopt;
  }
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
  return error == EACCES || error == EPERM || error == EROFS || error == ENOENT || error == ENOTDIR ||
         error == EISDIR || error == ELOOP || error == ENXIO || error == EEXIST;
}

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

}  // namespace quillon::posix
