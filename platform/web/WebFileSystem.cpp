#include "platform/web/WebFileSystem.h"

#include <emscripten.h>

#include <optional>
#include <string>

namespace quillon {

namespace {

// One write into the browser's storage, while the game waits for it.
struct Transaction {
  const FileSystem::Change* change = nullptr;
  FileSystem::Companion* companion = nullptr;
  std::string now;     // what storage holds, handed over by the page
  std::string result;  // what goes back into it
  bool done = false;
  int outcome = 0;  // 1 written, 0 kept, -1 failed
};

// What a write means to store, kept should the page go away first; `now` keeps it at once.
// Only the best's own file has a leftover to roll forward (storage.js keeps one, the best's).
void KeepPending(const std::string& path, const std::optional<std::string>& text, bool now) {
  if (!text) return;
  EM_ASM({
    if (UTF8ToString($2) !== QUILLON_FILE) return;
    Module.quillonPending = HEAPU8.slice($0, $0 + $1);
    if ($3) quillonKeepPending();
  }, text->data(), text->size(), path.c_str(), now ? 1 : 0);
}

}  // namespace

// Called by the page from inside the transaction, while the game sleeps in Update.
extern "C" {
EMSCRIPTEN_KEEPALIVE char* quillon_transaction_buffer(Transaction* t, int length) {
  t->now.assign(static_cast<std::size_t>(length), '\0');
  return t->now.data();
}
// The new text's length, or -1 to leave storage as it is: the first file's, then (`second`) the
// companion's.
EMSCRIPTEN_KEEPALIVE int quillon_transaction_change(Transaction* t, int present, int second) {
  const FileText now{present ? FileText::Kind::Text : FileText::Kind::Absent, present ? t->now : std::string()};
  if (second && t->companion == nullptr) return -1;
  std::optional<std::string> text = second ? t->companion->change(now) : (*t->change)(now);
  if (second && text) t->companion->outcome = WriteOutcome::Written;
  if (!text) return -1;
  t->result = std::move(*text);
  return static_cast<int>(t->result.size());
}
EMSCRIPTEN_KEEPALIVE const char* quillon_transaction_result(Transaction* t) { return t->result.data(); }
EMSCRIPTEN_KEEPALIVE void quillon_transaction_done(Transaction* t, int outcome) {
  t->outcome = outcome;
  t->done = true;
}
}

FileText WebFileSystem::Read(const std::string& path, Patience patience) {
  if (EM_ASM_INT({ return Module.quillonStorage === 'late' || Module.quillonStorage === 'pending' ? 1 : 0; })) {
    return FileText{FileText::Kind::Busy, {}};
  }
  return files_.Read(path, patience);
}

WriteOutcome WebFileSystem::Update(const std::string& path, const Change& change, Patience patience,
                                   Companion* companion, bool shared) {
  lastError_.clear();
  if (companion != nullptr) companion->outcome = WriteOutcome::Kept;
  // Where the browser refused its storage, the game's folder lives in
  // memory for this visit, and nothing is ever written over what could not be read.
  const int state = EM_ASM_INT({
    var state = Module.quillonStorage;
    return state === 'browser' ? 1 : state === 'memory' ? 0 : 2;
  });
  // Nothing is stored before the stored best has been read: the game tries again when it has.
  // Meanwhile the best waits where the browser writes at once, for the next visit should this
  // one end first (over one kept by an earlier visit only where it is larger).
  if (state == 2) {
    const auto left = files_.Leftover(path);
    KeepPending(path, change(left ? FileText{FileText::Kind::Text, *left} : files_.Read(path)), true);
    lastError_ = "the browser's storage has not answered yet";
    return WriteOutcome::Busy;
  }
  if (state == 0) return files_.Update(path, change, patience, companion, shared);
  // Should the page go away before the transaction ends, this is what it meant to store.
  KeepPending(path, change(files_.Read(path)), false);
  Transaction t;
  t.change = &change;
  t.companion = companion;
  EM_ASM({ Module.quillonTransact($0, UTF8ToString($1), $2 ? UTF8ToString($2) : ''); }, &t, path.c_str(),
         companion != nullptr ? companion->path.c_str() : nullptr);
  while (!t.done) emscripten_sleep(1);
  if (t.outcome < 0) {
    lastError_ = "the browser's storage refused the write";
    if (companion != nullptr) companion->outcome = WriteOutcome::Failed;
    return WriteOutcome::Failed;
  }
  return t.outcome > 0 ? WriteOutcome::Written : WriteOutcome::Kept;
}

std::optional<std::string> WebFileSystem::Leftover(const std::string& path) {
  if (EM_ASM_INT({ return Module.quillonStorage === 'late' ? 1 : 0; })) return std::nullopt;
  return files_.Leftover(path);
}

void WebFileSystem::DropLeftover(const std::string& path) {
  files_.DropLeftover(path);
  EM_ASM({
    try {
      localStorage.removeItem('quillon-pending');
    } catch (e) {
    }
  });
}

}  // namespace quillon
