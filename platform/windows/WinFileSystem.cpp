#include "platform/windows/WinFileSystem.h"

#include <windows.h>

namespace quillon {

namespace {

// Larger files are not settings files; they are neither read nor replaced.
constexpr LONGLONG kMaxFileSize = 64 << 20;
constexpr wchar_t kTempSuffix[] = L".new";

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (ok()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0;
  }

 private:
  HANDLE h_;
};

bool WriteAll(HANDLE file, std::string_view data) {
  while (!data.empty()) {
    DWORD done = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 20));
    if (!WriteFile(file, data.data(), chunk, &done, nullptr) || done == 0) return false;
    data.remove_prefix(done);
  }
  return true;
}

bool CannotLiveHere(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_PATH_NOT_FOUND || error == ERROR_WRITE_PROTECT ||
         error == ERROR_FILE_NOT_FOUND || error == ERROR_INVALID_NAME;
}

std::wstring FolderOf(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

}  // namespace

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

FileText WinFileSystem::Read(const std::string& path) {
  FileText file;
  const std::wstring wide = Widen(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return file;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    file.kind = FileText::Kind::Other;
    return file;
  }
  Handle h(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  file.kind = FileText::Kind::Unreadable;
  if (!h.ok()) return file;
  // Only a file on a disk is read: a pipe or a device could keep the game waiting.
  if (GetFileType(h.get()) != FILE_TYPE_DISK) {
    file.kind = FileText::Kind::Other;
    return file;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h.get(), &size) || size.QuadPart > kMaxFileSize) return file;
  file.text.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t got = 0;
  while (got < file.text.size()) {
    DWORD n = 0;
    if (!ReadFile(h.get(), file.text.data() + got, static_cast<DWORD>(file.text.size() - got), &n, nullptr)) {
      file.text.clear();
      return file;
    }
    if (n == 0) break;
    got += n;
  }
  file.text.resize(got);
  file.kind = FileText::Kind::Text;
  return file;
}

WriteOutcome WinFileSystem::Replace(const std::string& path, std::string_view contents) {
  const std::wstring target = Widen(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return WriteOutcome::NotHere;
  // The player's own mark on a file: leave it be.
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) return WriteOutcome::Refused;

  // One temporary name beside the file: a crash leaves at most this one, and the next write
  // takes it over. Opened unshared, it also keeps a second game out while this one writes.
  const std::wstring temp = target + kTempSuffix;
  HANDLE raw = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 200; ++attempt) {
    raw = CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw != INVALID_HANDLE_VALUE) break;
    error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION) break;
    Sleep(10);
  }
  if (raw == INVALID_HANDLE_VALUE) {
    if (!CannotLiveHere(error)) return WriteOutcome::Failed;
    if (!exists) return WriteOutcome::NotHere;
    // No new file may go into the folder; the file itself may still be changed, in place:
    // the whole text in one write, then the tail cut and all of it flushed.
    Handle file(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) return CannotLiveHere(GetLastError()) ? WriteOutcome::NotHere : WriteOutcome::Failed;
    const bool ok = WriteAll(file.get(), contents) && SetEndOfFile(file.get()) && FlushFileBuffers(file.get());
    return file.Close() && ok ? WriteOutcome::Written : WriteOutcome::Failed;
  }
  Handle file(raw);
  const bool ok = WriteAll(file.get(), contents) && FlushFileBuffers(file.get());
  file.Close();
  // The rename replaces the old file in one step; write-through keeps it on the disk.
  if (!ok || !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temp.c_str());
    return WriteOutcome::Failed;
  }
  return WriteOutcome::Written;
}

std::string WinFileSystem::DataFolder() {
  if (dataFolder_) return *dataFolder_;
  wchar_t buffer[MAX_PATH * 4];
  DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, static_cast<DWORD>(std::size(buffer)));
  std::wstring base;
  if (n > 0 && n < std::size(buffer)) {
    base.assign(buffer, n);
  } else {
    n = GetEnvironmentVariableW(L"USERPROFILE", buffer, static_cast<DWORD>(std::size(buffer)));
    if (n == 0 || n >= std::size(buffer)) return {};
    base.assign(buffer, n);
    base += L"\\AppData\\Local";
  }
  while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
  return Narrow(base + L"\\Quillon\\");
}

bool WinFileSystem::MakeFolder(const std::string& folder) {
  std::wstring path = Widen(folder);
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::wstring parent = FolderOf(path);
  if (parent != path && parent.size() > 2 && !MakeFolder(Narrow(parent))) return false;
  return CreateDirectoryW(path.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace quillon
