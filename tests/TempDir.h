#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace quillon::testing {

// A whole file's bytes; empty when there is none.
inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh folder, removed again with everything in it.
struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::random_device random;
    for (;;) {
      path = std::filesystem::temp_directory_path() / ("quillon-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(path)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path, ec);
  }
  // With the platform's own separator at the end.
  std::string Folder() const { return (path / "").string(); }
  std::string Ini() const { return (path / "Quillon.ini").string(); }
  void Write(const std::string& text) const { std::ofstream(Ini(), std::ios::binary) << text; }
  std::string Read() const { return ReadFile(Ini()); }
};

#ifndef _WIN32
#ifdef QUILLON_COVERAGE
extern "C" void __gcov_dump();
#endif
// Ends a test's child process; in the coverage build its lines are counted first, so that what
// only a child runs (a check as another player, a copy storing at once) maps to its test.
[[noreturn]] inline void ExitChild(int status) {
#ifdef QUILLON_COVERAGE
  // A check that capped the file size or the memory (a full disk) still gets its counts out.
  for (const auto limit : {RLIMIT_FSIZE, RLIMIT_AS}) {
    rlimit r{};
    if (::getrlimit(limit, &r) == 0 && r.rlim_cur != r.rlim_max) {
      r.rlim_cur = r.rlim_max;
      ::setrlimit(limit, &r);
    }
  }
  __gcov_dump();
#endif
  ::_exit(status);
}

// A disk of `kib` KiB of its own over `folder` for the object's life (a full disk, or one made
// read-only); false where there is none (an empty path, not root, no tmpfs).
class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& folder, int kib) : folder_(folder.string()) {
    const std::string options = "size=" + std::to_string(kib) + "k,mode=0777";
    mounted_ = !folder_.empty() && ::geteuid() == 0 && ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  explicit operator bool() const { return mounted_; }
  bool MakeReadOnly() { return ::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

 private:
  std::string folder_;
  bool mounted_ = false;
};
#endif

// A file held as another program holds it (locked, or open unshared) for the object's life;
// an empty path holds nothing.
class HeldFile {
 public:
  explicit HeldFile(const std::string& path) {
    if (path.empty()) return;
#ifdef _WIN32
    // Open and shared with nobody.
    if (_wsopen_s(&fd_, std::filesystem::u8path(path).wstring().c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW, 0) != 0) fd_ = -1;
#else
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
#endif
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() { Release(); }
  void Release() {
#ifdef _WIN32
    if (fd_ >= 0) _close(fd_);
#else
    if (fd_ >= 0) ::close(fd_);
#endif
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace quillon::testing
