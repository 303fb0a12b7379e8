// The board's runs in one SQLite file, with a write-ahead log: readers never wait for a post.
#include <sqlite3.h>

#include <mutex>
#include <optional>
#include <stdexcept>

#include "server/Database.h"

namespace quillon::board {
namespace {

class Statement {
 public:
  Statement(sqlite3* db, const char* text) : db_(db) {
    if (sqlite3_prepare_v2(db, text, -1, &stmt_, nullptr) != SQLITE_OK) Throw();
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int n, const std::string& value) {
    if (sqlite3_bind_text(stmt_, Index(n), value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) != SQLITE_OK)
      Throw();
    return *this;
  }
  Statement& Bind(int n, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, Index(n), value) != SQLITE_OK) Throw();
    return *this;
  }
  // True while a row is there to read.
  bool Step() {
    const int status = sqlite3_step(stmt_);
    if (status == SQLITE_ROW) return true;
    if (status != SQLITE_DONE) Throw();
    return false;
  }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text == nullptr ? std::string() : std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
  }
  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }

 private:
  int Index(int n) const {
    const std::string name = "$" + std::to_string(n);
    const int index = sqlite3_bind_parameter_index(stmt_, name.c_str());
    if (index == 0) throw std::runtime_error("no parameter " + name);
    return index;
  }
  [[noreturn]] void Throw() const { throw std::runtime_error(sqlite3_errmsg(db_)); }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

void Run(sqlite3* db, const char* text) {
  char* message = nullptr;
  if (sqlite3_exec(db, text, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string why = message != nullptr ? message : "the statement failed";
    sqlite3_free(message);
    throw std::runtime_error(why);
  }
}

class Sqlite : public Database {
 public:
  explicit Sqlite(sqlite3* db) : db_(db) {}
  ~Sqlite() override { sqlite3_close_v2(db_); }

  void Migrate() {
    Run(db_, "PRAGMA journal_mode=WAL");
    Run(db_, "PRAGMA synchronous=NORMAL");
    // Another board on the same file waits for its turn rather than failing.
    sqlite3_busy_timeout(db_, 10000);
    Run(db_, "BEGIN IMMEDIATE");
    try {
      Run(db_, "CREATE TABLE IF NOT EXISTS board_schema (version INTEGER NOT NULL)");
      std::optional<std::int64_t> version;
      {
        Statement read(db_, "SELECT version FROM board_schema");
        if (read.Step()) version = read.Int(0);
      }
      if (!version) {
        Run(db_, "INSERT INTO board_schema (version) VALUES (0)");
        version = 0;
      }
      if (*version > kSchemaVersion) throw std::runtime_error("the database is of a newer quillon-board");
      if (*version < 1) {
        for (const char* step : sql::kVersion1) Run(db_, step);
      }
      Statement set(db_, "UPDATE board_schema SET version = $1");
      set.Bind(1, std::int64_t{kSchemaVersion}).Step();
      Run(db_, "COMMIT");
    } catch (...) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  Posted Post(const std::string& day, const std::string& name, std::int32_t score, const std::string& code,
              const std::string& posted) override {
    const std::lock_guard lock(mutex_);
    Posted result;
    Statement(db_, sql::kRecordCode).Bind(1, day).Bind(2, code).Bind(3, name).Bind(4, posted).Step();
    Statement owner(db_, sql::kOwner);
    owner.Bind(1, day).Bind(2, code);
    if (owner.Step() && owner.Text(0) != name) {
      result.taken = true;
      return result;
    }
    Statement(db_, sql::kKeepBest).Bind(1, day).Bind(2, name).Bind(3, std::int64_t{score}).Bind(4, code).Bind(5, posted).Step();
    Statement rank(db_, sql::kRank);
    rank.Bind(1, day).Bind(2, name);
    if (rank.Step()) result.rank = rank.Int(0);
    return result;
  }

  std::vector<Entry> Board(const std::string& day, int limit) override {
    const std::lock_guard lock(mutex_);
    std::vector<Entry> entries;
    Statement read(db_, sql::kBoard);
    read.Bind(1, day).Bind(2, std::int64_t{limit});
    while (read.Step()) {
      entries.push_back(Entry{static_cast<std::int64_t>(entries.size()) + 1, read.Text(0),
                              static_cast<std::int32_t>(read.Int(1)), read.Text(2), read.Text(3)});
    }
    return entries;
  }

 private:
  sqlite3* db_;
  // One connection, one statement at a time: each takes a millisecond or so.
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<Database> OpenSqlite(const std::string& path, std::string* error) {
  sqlite3* db = nullptr;
  // A link planted where the file should be is not followed to someone else's file.
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "cannot be opened");
    sqlite3_close_v2(db);
    return nullptr;
  }
  auto board = std::make_unique<Sqlite>(db);
  try {
    board->Migrate();
  } catch (const std::exception& e) {
    *error = path + ": " + e.what();
    return nullptr;
  }
  return board;
}

}  // namespace quillon::board
