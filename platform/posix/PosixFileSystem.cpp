#include "platform/posix/PosixFileSystem.h"

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

namespace quillon {

using namespace posix;

FileText PosixFileSystem::Read(const std::string& path) {
  return ReadUntil(path, std::chrono::steady_clock::now() + waits.read);
}

FileText PosixFileSystem::ReadUntil(const std::string& path, Deadline deadline) {
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
  // A copy rewriting the file in place holds it locked until the whole text is there; where
  // files take no locks, no copy rewrites in place.
  if (LockUntil(fd.get(), LOCK_SH, deadline) == Lock::Busy) {
    file.kind = FileText::Kind::Busy;
    return file;
  }
  auto text = ReadRest(fd.get());
  if (!text) return file;
  file.text = std::move(*text);
  file.kind = FileText::Kind::Text;
  return file;
}

WriteOutcome PosixFileSystem::Fail(WriteOutcome outcome, int error) {
  lastError_ = error != 0 ? std::strerror(error) : "";
  return outcome;
}

WriteOutcome PosixFileSystem::Busy() {
  lastError_ = "another program held it locked too long";
  return WriteOutcome::Busy;
}

WriteOutcome PosixFileSystem::Update(const std::string& path, const Change& change, Patience patience) {
  lastError_.clear();
  const auto target = FollowLinks(path);
  if (!target) {
    lastError_ = "a link that is not to be followed, or a loop of links";
    return WriteOutcome::NotHere;
  }
  const Deadline deadline = std::chrono::steady_clock::now() + (patience == Patience::Long ? waits.long_ : waits.brief);
  int error = 0;
  const WriteOutcome outcome = ReplaceThroughTemp(*target, change, deadline, error);
  if (outcome != WriteOutcome::Failed) return outcome;
  if (!CannotLiveHere(error)) return Fail(outcome, error);
  // No new file may go into the folder, or its temporary name is taken: the file itself may
  // still be changed.
  return RewriteInPlace(*target, change, deadline, error);
}

std::optional<std::string> PosixFileSystem::Leftover(const std::string& path) {
  const auto fd = OpenLeftover(path);
  if (!fd) return std::nullopt;
  Fd held(*fd);
  return ReadRest(held.get());
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

WriteOutcome PosixFileSystem::ReplaceThroughTemp(const std::string& target, const Change& change,
                                                 Deadline deadline, int& error) {
  const std::string temp = target + kTempSuffix;
  // The temporary file's lock is the turn: its holder reads, decides and renames. The inode
  // check catches a temporary file that the last holder has just renamed into place.
  for (;;) {
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd.ok()) {
      error = errno;
      return WriteOutcome::Failed;
    }
    struct stat held {};
    if (::fstat(fd.get(), &held) != 0) {
      error = errno;
      return WriteOutcome::Failed;
    }
    // A pipe, a device or someone else's file under that name is not ours to write into.
    if (!S_ISREG(held.st_mode) || held.st_uid != ::geteuid()) {
      error = EEXIST;
      return WriteOutcome::Failed;
    }
    switch (LockUntil(fd.get(), LOCK_EX, deadline)) {
      case Lock::Busy:
        return Busy();
      case Lock::Failed:
        error = errno;
        return WriteOutcome::Failed;
      case Lock::Taken:
        break;
    }
    struct stat named {};
    if (::lstat(temp.c_str(), &named) != 0 || named.st_ino != held.st_ino || named.st_dev != held.st_dev) {
      if (std::chrono::steady_clock::now() >= deadline) return Busy();
      continue;
    }
    const auto drop = [&](WriteOutcome outcome) {
      ::unlink(temp.c_str());
      return outcome;
    };
    // The turn is ours: what is stored now decides.
    const FileText now = ReadUntil(target, deadline);
    if (now.kind == FileText::Kind::Busy) return drop(Busy());
    if (now.kind == FileText::Kind::Other || now.kind == FileText::Kind::Unreadable) {
      lastError_ = now.kind == FileText::Kind::Other ? "not a regular file" : "the file cannot be read";
      return drop(WriteOutcome::NotHere);
    }
    const std::optional<std::string> contents = change(now);
    if (!contents) return drop(WriteOutcome::Kept);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    // A file the player made read-only is left so.
    if (exists && (::access(target.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0)) {
      return drop(WriteOutcome::Refused);
    }
    // The mode is worth keeping, but never at the cost of the score.
    (void)::fchmod(fd.get(), static_cast<mode_t>(exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask())));
    // Only a leftover has anything to cut (and Emscripten's ftruncate fails on a fresh file).
    const bool ok = (named.st_size == 0 || ::ftruncate(fd.get(), 0) == 0) && WriteAll(fd.get(), *contents, 0) &&
                    Flush(fd.get(), temp) && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
      error = errno;
      drop(WriteOutcome::Failed);
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

WriteOutcome PosixFileSystem::RewriteInPlace(const std::string& target, const Change& change, Deadline deadline,
                                             int tempError) {
  Fd fd(::open(target.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.ok()) {
    const int error = errno == ENOENT ? tempError : errno;
    // Not to be changed here; what it holds may already say as much.
    const FileText now = ReadUntil(target, deadline);
    if (now.kind == FileText::Kind::Text && !change(now)) return WriteOutcome::Kept;
    return Fail(CannotLiveHere(error) ? WriteOutcome::NotHere : WriteOutcome::Failed, error);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Fail(WriteOutcome::Failed, errno);
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    lastError_ = S_ISREG(st.st_mode) ? "the file cannot be read" : "not a regular file";
    return WriteOutcome::NotHere;
  }
  // Readers wait while the text is only partly there.
  switch (LockUntil(fd.get(), LOCK_EX, deadline)) {
    case Lock::Busy:
      return Busy();
    case Lock::Failed:
      return Fail(WriteOutcome::Failed, errno);
    case Lock::Taken:
      break;
  }
  // The turn is ours: what is stored now decides.
  const auto text = ReadRest(fd.get());
  if (!text) return Fail(WriteOutcome::NotHere, errno);
  const std::optional<std::string> contents = change(FileText{FileText::Kind::Text, *text});
  if (!contents) return WriteOutcome::Kept;
  // The whole text in one write, then the tail cut and all of it flushed.
  const bool ok = WriteAll(fd.get(), *contents, 0) &&
                  ::ftruncate(fd.get(), static_cast<off_t>(contents->size())) == 0 && Flush(fd.get(), target);
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
