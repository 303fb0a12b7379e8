#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

struct stat;

// The careful file calls the POSIX file system is made of: following links only as the kernel
// would let this user, locks with a deadline, whole reads and writes.
namespace quillon::posix {

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
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now; false when the close reported an error.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

enum class Lock { Taken, Busy, Failed };

std::string FolderOf(const std::string& path);

// Whether the kernel's protected_symlinks rule lets this user follow the link: not in a
// world-writable sticky folder, or the link is the user's own, or the folder's owner's. The
// rule holds here whether or not the kernel enforces it, so that nobody can point a player's
// best score at another file of theirs.
bool MayFollow(const std::string& link, const struct stat& linkStat);

// The path a chain of symbolic links ends at, whether or not anything is there; nothing for
// a loop or a link this user may not follow.
std::optional<std::string> FollowLinks(std::string path);

void Pause(long ms);

// flock has no timeout of its own: poll until the deadline.
Lock LockUntil(int fd, int operation, std::chrono::steady_clock::time_point deadline);

enum class Named { Taken, Absent, Other, Busy, Failed };

// Opens the file `path` names (no link) and takes its lock, then makes sure the path still
// names what was locked: a writer that replaces the file may have renamed another over it while
// this one waited. `st` is the locked file's; `error` says why it Failed.
Named LockNamed(const std::string& path, int flags, int operation, std::chrono::steady_clock::time_point deadline,
                Fd& fd, struct stat& st, int& error);

// The rest of an open file, from where it stands; nothing past the size a settings file has.
std::optional<std::string> ReadRest(int fd);

bool WriteAll(int fd, std::string_view data, off_t offset);

unsigned CurrentUmask();

// Also what stands in the temporary file's way: a folder (EISDIR), a link (ELOOP), a pipe
// nobody reads (ENXIO), someone else's file (EEXIST, ours).
bool CannotLiveHere(int error);

// The leftover temporary file beside a file, open, if it is a regular file of this user's
// that no running copy is writing.
std::optional<int> OpenLeftover(const std::string& path);

}  // namespace quillon::posix
