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

PosixFileSystem::Deadline PosixFileSystem::Until(Patience patience, std::chrono::milliseconds longWait) const {
  const auto wait = patience == Patience::Long ? longWait : patience == Patience::Brief ? waits.brief
                                                                                      : std::chrono::milliseconds(0);
  return std::chrono::steady_clock::now() + wait;
}

void PosixFileSystem::FlushFolder(const std::string& path) {
  const std::string folder = FolderOf(path);
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.ok()) Flush(dir.get(), folder);
}

FileText PosixFileSystem::Read(const std::string& path, Patience patience) {
  return ReadUntil(path, Until(patience, waits.read));
}

FileText PosixFileSystem::ReadUntil(const std::string& path, Deadline deadline) {
  FileText file;
  const auto target = FollowLinks(path);
  if (!target) {
    file.kind = FileText::Kind::Other;
    return file;
  }
  // Non-blocking, so that a pipe or device at the path can't hold the game up; no links, as
  // the chain was followed above by the rule that says which may be. A writer holds the file's
  // lock until the whole new text is there.
  Fd fd(-1);
  struct stat st {};
  int error = 0;
  switch (LockNamed(*target, O_RDONLY, LOCK_SH, deadline, fd, st, error)) {
    case Named::Absent:
      return file;
    case Named::Other:
      file.kind = FileText::Kind::Other;
      return file;
    case Named::Busy:
      file.kind = FileText::Kind::Busy;
      return file;
    case Named::Failed:
      // A file there that can't be opened, or a name that can't be looked at.
      file.kind = ::lstat(target->c_str(), &st) == 0 && !S_ISREG(st.st_mode) ? FileText::Kind::Other
                                                                              : FileText::Kind::Unreadable;
      return file;
    case Named::Taken:
      break;
  }
  file.kind = FileText::Kind::Unreadable;
  if (st.st_size > kMaxFileSize) return file;
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

// Kept out of line: the page pauses in its callers, and pausing code is made larger.
[[gnu::noinline]] WriteOutcome PosixFileSystem::Update(const std::string& path, const Change& change, Patience patience,
                                     Companion* companion, bool shared) {
  lastError_.clear();
  if (companion != nullptr) companion->outcome = WriteOutcome::Kept;
  const auto target = FollowLinks(path);
  if (!target) {
    lastError_ = "a link that is not to be followed, or a loop of links";
    return WriteOutcome::NotHere;
  }
  const Deadline deadline = Until(patience, waits.long_);
  int error = 0;
  const WriteOutcome outcome = ReplaceThroughTemp(*target, change, companion, deadline, error);
  if (outcome != WriteOutcome::Failed || error == 0) return outcome;
  if (!CannotLiveHere(error)) return Fail(outcome, error);
  // No new file may go into the folder, or its temporary name is taken: the file itself may
  // still be changed, if it is the player's own or shared by name (never through a link that
  // someone else may have planted).
  return RewriteInPlace(*target, change, companion, deadline, error, shared && *target == path);
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

bool PosixFileSystem::Stage(Companion* companion, Deadline deadline, Staged& staged) {
  if (companion == nullptr) return true;
  staged.companion = companion;
  companion->outcome = StageText(*companion, deadline, staged);
  staged.ready = companion->outcome == WriteOutcome::Written;
  return staged.ready || companion->outcome == WriteOutcome::Kept;
}

void PosixFileSystem::Unstage(Staged& staged) {
  if (!staged.ready) return;
  staged.ready = false;
  staged.companion->outcome = WriteOutcome::Kept;
  if (!staged.inPlace) ::unlink(staged.temp.c_str());
}

WriteOutcome PosixFileSystem::StageText(Companion& companion, Deadline deadline, Staged& staged) {
  const auto target = FollowLinks(companion.path);
  if (!target) {
    lastError_ = companion.path + ": a link that is not to be followed";
    return WriteOutcome::NotHere;
  }
  const FileText now = ReadUntil(*target, deadline);
  if (now.kind == FileText::Kind::Busy) return Busy();
  if (now.kind == FileText::Kind::Other || now.kind == FileText::Kind::Unreadable) {
    lastError_ = companion.path + ": not a file to be written";
    return WriteOutcome::NotHere;
  }
  auto text = companion.change(now);
  if (!text) return WriteOutcome::Kept;
  staged.target = *target;
  staged.temp = *target + kTempSuffix;
  staged.text = std::move(*text);
  struct stat st {};
  staged.mode = static_cast<mode_t>(::stat(target->c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~CurrentUmask()));
  // Its own temporary file, as the first file's; only a regular file of the player's own, not
  // held by anyone, with nothing renamed over it meanwhile.
  staged.fd.Reset(::open(staged.temp.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  struct stat held {}, named {};
  if (staged.fd.ok() && ::fstat(staged.fd.get(), &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == ::geteuid() &&
      ::flock(staged.fd.get(), LOCK_EX | LOCK_NB) == 0 && ::lstat(staged.temp.c_str(), &named) == 0 &&
      named.st_ino == held.st_ino && named.st_dev == held.st_dev) {
    return WriteOutcome::Written;
  }
  // Where its folder takes no new file: the file itself, when it is the player's own.
  staged.inPlace = true;
  staged.fd.Reset(::open(target->c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (staged.fd.ok() && ::fstat(staged.fd.get(), &held) == 0 && S_ISREG(held.st_mode) &&
      held.st_uid == ::geteuid() && ::flock(staged.fd.get(), LOCK_EX | LOCK_NB) == 0) {
    return WriteOutcome::Written;
  }
  staged.fd.Reset(-1);
  lastError_ = companion.path + ": cannot be written there";
  return WriteOutcome::NotHere;
}

void PosixFileSystem::Finish(Staged& staged) {
  if (!staged.ready) return;
  // Not flushed on its own: the folder's flush after the first file's rename takes both, and a
  // companion lost to a power cut only goes missing (the run is checked against the best).
  bool ok = false;
  if (staged.inPlace) {
    ok = WriteAll(staged.fd.get(), staged.text, 0) &&
         ::ftruncate(staged.fd.get(), static_cast<off_t>(staged.text.size())) == 0;
  } else {
    (void)::fchmod(staged.fd.get(), staged.mode);
    struct stat st {};
    ok = ::fstat(staged.fd.get(), &st) == 0 && (st.st_size == 0 || ::ftruncate(staged.fd.get(), 0) == 0) &&
         WriteAll(staged.fd.get(), staged.text, 0) && ::rename(staged.temp.c_str(), staged.target.c_str()) == 0;
    if (!ok) ::unlink(staged.temp.c_str());
  }
  if (ok) return;
  staged.companion->outcome = WriteOutcome::Failed;
  lastError_ = staged.target + ": " + std::strerror(errno);
}

WriteOutcome PosixFileSystem::ReplaceThroughTemp(const std::string& target, const Change& change,
                                                 Companion* companion, Deadline deadline, int& error) {
  const std::string temp = target + kTempSuffix;
  // The temporary file's lock orders the writers that replace the file; the file's own lock
  // (below) is the turn that those rewriting it in place take too. The inode check catches a
  // temporary file that the last holder has just renamed into place.
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
    // The turn: what is stored now decides.
    Fd file(-1);
    struct stat st {};
    int fileError = 0;
    FileText now;
    switch (LockNamed(target, O_RDONLY, LOCK_EX, deadline, file, st, fileError)) {
      case Named::Busy:
        // What a crash left here whole is the next start's to roll forward: another copy's
        // turn is no reason to lose it.
        return named.st_size == 0 ? drop(Busy()) : Busy();
      case Named::Absent:
        break;
      case Named::Other:
        lastError_ = "not a regular file";
        return drop(WriteOutcome::NotHere);
      case Named::Failed:
        lastError_ = "the file cannot be read";
        return drop(WriteOutcome::NotHere);
      case Named::Taken: {
        auto text = st.st_size > kMaxFileSize ? std::nullopt : ReadRest(file.get());
        if (!text) {
          lastError_ = "the file cannot be read";
          return drop(WriteOutcome::NotHere);
        }
        now = FileText{FileText::Kind::Text, std::move(*text)};
        break;
      }
    }
    const bool exists = file.ok();
    const std::optional<std::string> contents = change(now);
    // A file the player made read-only is left so.
    if (contents && exists && (::access(target.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0)) {
      return drop(WriteOutcome::Refused);
    }
    Staged staged;
    // A companion that can't go here takes the first file elsewhere with it.
    if (!Stage(companion, deadline, staged)) return drop(companion->outcome);
    if (!contents && !staged.ready) return drop(WriteOutcome::Kept);
    if (contents) {
      // The mode is worth keeping, but never at the cost of the score.
      (void)::fchmod(fd.get(), static_cast<mode_t>(exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask())));
      // Only a leftover has anything to cut (and Emscripten's ftruncate fails on a fresh file).
      const bool ok = (named.st_size == 0 || ::ftruncate(fd.get(), 0) == 0) && WriteAll(fd.get(), *contents, 0) &&
                      Flush(fd.get(), temp) && ::rename(temp.c_str(), target.c_str()) == 0;
      if (!ok) {
        error = errno;
        drop(WriteOutcome::Failed);
        Unstage(staged);
        return Fail(WriteOutcome::Failed, error);
      }
    } else {
      drop(WriteOutcome::Kept);
    }
    Finish(staged);
    fd.Close();
    // The renames live in the folder: flush it too, or a power cut may bring the old file back.
    FlushFolder(target);
    return contents ? WriteOutcome::Written : WriteOutcome::Kept;
  }
}

WriteOutcome PosixFileSystem::RewriteInPlace(const std::string& target, const Change& change, Companion* companion,
                                             Deadline deadline, int tempError, bool shared) {
  Fd fd(-1);
  struct stat st {};
  int error = 0;
  switch (LockNamed(target, O_RDWR, LOCK_EX, deadline, fd, st, error)) {
    case Named::Busy:
      return Busy();
    case Named::Other:
      lastError_ = "not a regular file";
      return WriteOutcome::NotHere;
    case Named::Absent:
    case Named::Failed: {
      if (error == ENOENT) error = tempError;
      // Not to be changed here; what it holds may already say as much, and then so must the
      // companion's.
      const FileText now = ReadUntil(target, deadline);
      if (now.kind == FileText::Kind::Text && !change(now)) {
        if (companion == nullptr) return WriteOutcome::Kept;
        const FileText run = ReadUntil(FollowLinks(companion->path).value_or(companion->path), deadline);
        // A run not wanted here needs no turn of its file.
        if (!companion->change(run)) return WriteOutcome::Kept;
        if (run.kind == FileText::Kind::Busy) return Busy();
        companion->outcome = WriteOutcome::NotHere;
        error = tempError;
      }
      return Fail(CannotLiveHere(error) ? WriteOutcome::NotHere : WriteOutcome::Failed, error);
    }
    case Named::Taken:
      break;
  }
  if (st.st_size > kMaxFileSize) {
    lastError_ = "the file cannot be read";
    return WriteOutcome::NotHere;
  }
  // Another player's file is rewritten only where it is shared by name.
  if (!shared && st.st_uid != ::geteuid()) {
    lastError_ = "the file is not the player's own";
    return WriteOutcome::NotHere;
  }
  // The turn is ours: what is stored now decides.
  const auto text = ReadRest(fd.get());
  if (!text) return Fail(WriteOutcome::NotHere, errno);
  const std::optional<std::string> contents = change(FileText{FileText::Kind::Text, *text});
  Staged staged;
  if (!Stage(companion, deadline, staged)) return companion->outcome;
  if (contents) {
    // The whole text in one write, then the tail cut and all of it flushed; readers wait
    // while it is only partly there.
    const bool ok = WriteAll(fd.get(), *contents, 0) &&
                    ::ftruncate(fd.get(), static_cast<off_t>(contents->size())) == 0 && Flush(fd.get(), target);
    if (!ok) {
      error = errno != 0 ? errno : EIO;
      Unstage(staged);
      return Fail(WriteOutcome::Failed, error);
    }
  }
  Finish(staged);
  if (staged.ready && !staged.inPlace) FlushFolder(staged.target);
  if (!contents) return WriteOutcome::Kept;
  return fd.Close() ? WriteOutcome::Written : Fail(WriteOutcome::Failed, EIO);
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
