#include "platform/windows/WinFileSystem.h"

#include <windows.h>

#include <optional>

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

bool Held(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

// How long a read waits, and a write of each patience.
constexpr ULONGLONG kReadWaitMs = 1000, kBriefWaitMs = 250, kLongWaitMs = 5000;

// Opens a file, waiting out another copy of the game or another program (a virus scanner, a
// backup) that holds it, for waitMs at most.
HANDLE OpenWaiting(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                   DWORD& error, ULONGLONG waitMs = kReadWaitMs) {
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  for (;;) {
    const HANDLE h = CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
    error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (h != INVALID_HANDLE_VALUE || !Held(error) || GetTickCount64() >= deadline) return h;
    Sleep(10);
  }
}

// The whole of an open file, from its start.
std::optional<std::string> ReadAll(HANDLE h) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h, &size) || size.QuadPart > kMaxFileSize) return std::nullopt;
  std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t got = 0;
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  while (got < text.size()) {
    DWORD n = 0;
    if (!ReadFile(h, text.data() + got, static_cast<DWORD>(text.size() - got), &n, nullptr)) return std::nullopt;
    if (n == 0) break;
    got += n;
  }
  text.resize(got);
  return text;
}

std::string Describe(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::wstring message = n > 0 && text != nullptr ? std::wstring(text, n) : L"error " + std::to_wstring(error);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.')) {
    message.pop_back();
  }
  return Narrow(message);
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

FileText WinFileSystem::Read(const std::string& path, Patience patience) {
  FileText file;
  const std::wstring wide = Widen(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return file;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    file.kind = FileText::Kind::Other;
    return file;
  }
  DWORD error = 0;
  const ULONGLONG wait = patience == Patience::Long ? kReadWaitMs : patience == Patience::Brief ? kBriefWaitMs : 0;
  Handle h(OpenWaiting(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, error, wait));
  // Held by a copy rewriting it, or another program, past the wait: read it again later.
  file.kind = Held(error) ? FileText::Kind::Busy : FileText::Kind::Unreadable;
  if (!h.ok()) return file;
  // Only a file on a disk is read: a pipe or a device could keep the game waiting.
  if (GetFileType(h.get()) != FILE_TYPE_DISK) {
    file.kind = FileText::Kind::Other;
    return file;
  }
  file.kind = FileText::Kind::Unreadable;
  if (auto text = ReadAll(h.get())) {
    file.text = std::move(*text);
    file.kind = FileText::Kind::Text;
  }
  return file;
}

WriteOutcome WinFileSystem::Fail(WriteOutcome outcome, unsigned long error) {
  lastError_ = error != 0 ? Describe(error) : "";
  return outcome;
}

WriteOutcome WinFileSystem::WriteCompanion(Companion& companion, unsigned long long waitMs, bool& wrote) {
  wrote = false;
  const FileText now = Read(companion.path, Patience::Brief);
  if (now.kind == FileText::Kind::Busy) return Fail(WriteOutcome::Busy, ERROR_SHARING_VIOLATION);
  if (now.kind == FileText::Kind::Other || now.kind == FileText::Kind::Unreadable) return Fail(WriteOutcome::NotHere, 0);
  const auto text = companion.change(now);
  if (!text) return WriteOutcome::Kept;
  const std::wstring target = Widen(companion.path), temp = target + kTempSuffix;
  DWORD error = 0;
  Handle file(OpenWaiting(temp, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, error, waitMs));
  if (file.ok()) {
    // Not flushed on its own: a companion lost to a power cut only goes missing.
    if (WriteAll(file.get(), *text) &&
        MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      wrote = true;
      return WriteOutcome::Written;
    }
    error = GetLastError();
    file.Close();
    DeleteFileW(temp.c_str());
    return Fail(WriteOutcome::Failed, error);
  }
  if (!CannotLiveHere(error) || now.kind == FileText::Kind::Absent) {
    return Fail(Held(error) ? WriteOutcome::Busy : CannotLiveHere(error) ? WriteOutcome::NotHere : WriteOutcome::Failed, error);
  }
  Handle in(OpenWaiting(target, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, error, waitMs));
  if (!in.ok()) return Fail(Held(error) ? WriteOutcome::Busy : WriteOutcome::NotHere, error);
  SetFilePointer(in.get(), 0, nullptr, FILE_BEGIN);
  if (WriteAll(in.get(), *text) && SetEndOfFile(in.get())) {
    wrote = true;
    return WriteOutcome::Written;
  }
  return Fail(WriteOutcome::Failed, GetLastError());
}

WriteOutcome WinFileSystem::Update(const std::string& path, const Change& change, Patience patience,
                                   Companion* companion, bool /*shared: the file's own permissions decide here*/) {
  lastError_.clear();
  if (companion != nullptr) companion->outcome = WriteOutcome::Kept;
  const std::wstring target = Widen(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(WriteOutcome::NotHere, 0);
  const ULONGLONG wait = patience == Patience::Long ? kLongWaitMs : patience == Patience::Brief ? kBriefWaitMs : 0;
  // The companion goes in after the first file, in the same turn (the store takes both
  // elsewhere when it can't go).
  const auto withCompanion = [&](WriteOutcome first) {
    if (companion == nullptr || (first != WriteOutcome::Written && first != WriteOutcome::Kept)) return first;
    bool wrote = false;
    companion->outcome = WriteCompanion(*companion, wait, wrote);
    return first == WriteOutcome::Kept && wrote ? WriteOutcome::Kept : first;
  };

  // One temporary name beside the file: a crash leaves at most this one, and the next write
  // takes it over. Held open with no sharing but for the rename, it makes a second copy that
  // replaces the file wait from its read to the rename.
  const std::wstring temp = target + kTempSuffix;
  DWORD error = 0;
  Handle file(OpenWaiting(temp, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          error, wait));
  if (!file.ok()) {
    // Another copy's turn went on for longer than this one may wait: nothing is written.
    if (Held(error)) return Fail(WriteOutcome::Busy, error);
    if (!CannotLiveHere(error)) return Fail(WriteOutcome::Failed, error);
    if (!exists) return Fail(WriteOutcome::NotHere, error);
    // No new file may go into the folder; the file itself may still be changed, in place,
    // held unshared: the turn that a copy replacing it takes too.
    Handle in(OpenWaiting(target, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, error, wait));
    if (!in.ok()) {
      if (Held(error)) return Fail(WriteOutcome::Busy, error);
      return Fail(CannotLiveHere(error) ? WriteOutcome::NotHere : WriteOutcome::Failed, error);
    }
    const auto text = ReadAll(in.get());
    if (!text) return Fail(WriteOutcome::NotHere, GetLastError());
    if (attributes & FILE_ATTRIBUTE_READONLY) return WriteOutcome::Refused;
    const auto contents = change(FileText{FileText::Kind::Text, *text});
    if (!contents) return withCompanion(WriteOutcome::Kept);
    SetFilePointer(in.get(), 0, nullptr, FILE_BEGIN);
    const bool ok = WriteAll(in.get(), *contents) && SetEndOfFile(in.get()) && FlushFileBuffers(in.get());
    error = ok ? 0 : GetLastError();
    if (!ok) return Fail(WriteOutcome::Failed, error);
    return withCompanion(WriteOutcome::Written);
  }
  const auto Abandon = [&](WriteOutcome outcome, DWORD why) {
    file.Close();
    DeleteFileW(temp.c_str());
    return Fail(outcome, why);
  };
  // The file's own turn, which a copy rewriting it in place takes too: held open, shared for
  // reading and for the rename only.
  FileText now;
  Handle held(exists ? OpenWaiting(target, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, error, wait)
                      : INVALID_HANDLE_VALUE);
  if (exists) {
    if (!held.ok()) return Abandon(Held(error) ? WriteOutcome::Busy : WriteOutcome::NotHere, error);
    if (GetFileType(held.get()) != FILE_TYPE_DISK) return Abandon(WriteOutcome::NotHere, 0);
    const auto text = ReadAll(held.get());
    if (!text) return Abandon(WriteOutcome::NotHere, ERROR_READ_FAULT);
    now = FileText{FileText::Kind::Text, *text};
  }
  const auto contents = change(now);
  // The player's own mark on a file: leave it be.
  if (contents && exists && (attributes & FILE_ATTRIBUTE_READONLY)) return Abandon(WriteOutcome::Refused, 0);
  if (!contents) {
    file.Close();
    DeleteFileW(temp.c_str());
    return withCompanion(WriteOutcome::Kept);
  }
  if (!WriteAll(file.get(), *contents) || !FlushFileBuffers(file.get())) {
    return Abandon(WriteOutcome::Failed, GetLastError());
  }
  // The rename replaces the old file in one step, while the temporary file is still held;
  // write-through keeps it on the disk. The old file's turn is let go only now (Wine replaces no
  // file that is open), a moment before. A file another program holds is waited for.
  if (held.ok()) held.Close();
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return withCompanion(WriteOutcome::Written);
    }
    error = GetLastError();
    if ((!Held(error) && error != ERROR_ACCESS_DENIED) || attempt >= 100) break;
    Sleep(10);
  }
  return Abandon(Held(error) || error == ERROR_ACCESS_DENIED ? WriteOutcome::NotHere : WriteOutcome::Failed, error);
}

std::optional<std::string> WinFileSystem::Leftover(const std::string& path) {
  // Unshared: a copy of the game that is writing it still holds it, and keeps it.
  Handle h(CreateFileW((Widen(path) + kTempSuffix).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok() || GetFileType(h.get()) != FILE_TYPE_DISK) return std::nullopt;
  return ReadAll(h.get());
}

void WinFileSystem::DropLeftover(const std::string& path) {
  Handle h(CreateFileW((Widen(path) + kTempSuffix).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_DELETE_ON_CLOSE, nullptr));
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
