#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

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

}  // namespace quillon::testing
