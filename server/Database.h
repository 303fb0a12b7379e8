#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Where the board keeps its runs: SQLite in one file, or a PostgreSQL that several boards share.
namespace quillon::board {

struct Entry {
  std::int64_t rank = 0;
  std::string name;
  std::int32_t score = 0;
  std::string code;
  std::string posted;  // ISO 8601, UTC, to the millisecond
};

// What became of a verified run.
struct Posted {
  bool taken = false;     // the code is on the board already as another name's
  std::int64_t rank = 0;  // the name's place on the day's board, its best counting
};

class Database {
 public:
  virtual ~Database() = default;
  // Keeps a verified run: the first name to post a code owns it, and a name's entry is its best
  // of the day, kept by the database itself, so that boards sharing it never lose a post.
  virtual Posted Post(const std::string& day, const std::string& name, std::int32_t score, const std::string& code,
                      const std::string& posted) = 0;
  // The day's entries, best first, at most `limit` of them.
  virtual std::vector<Entry> Board(const std::string& day, int limit) = 0;
};

// The schema's version: each step from the one before is in the migrations, run by whichever
// board finds the database behind it.
constexpr int kSchemaVersion = 1;

// Opens (and creates or migrates) the database a --database argument names: a
// postgresql:// address, else a SQLite file. Nothing, with the reason, where it can't.
std::unique_ptr<Database> OpenDatabase(const std::string& where, std::string* error);
std::unique_ptr<Database> OpenSqlite(const std::string& path, std::string* error);
std::unique_ptr<Database> OpenPostgres(const std::string& address, std::string* error);

// The same statements for both: PostgreSQL's $n placeholders, which SQLite takes as well.
namespace sql {
constexpr const char* kRecordCode =
    "INSERT INTO codes (day, code, name, posted) VALUES ($1, $2, $3, $4) ON CONFLICT (day, code) DO NOTHING";
constexpr const char* kOwner = "SELECT name FROM codes WHERE day = $1 AND code = $2";
// A name's best in one statement: no read and write back for two boards to interleave.
constexpr const char* kKeepBest =
    "INSERT INTO runs (day, name, score, code, posted) VALUES ($1, $2, $3, $4, $5) "
    "ON CONFLICT (day, name) DO UPDATE SET score = excluded.score, code = excluded.code, posted = excluded.posted "
    "WHERE excluded.score > runs.score";
// Ties go to the earlier post, then by name, the same order the board lists.
constexpr const char* kRank =
    "SELECT COUNT(*) FROM runs r, runs me WHERE me.day = $1 AND me.name = $2 AND r.day = $1 AND "
    "(r.score > me.score OR (r.score = me.score AND (r.posted < me.posted OR "
    "(r.posted = me.posted AND r.name <= me.name))))";
constexpr const char* kBoard =
    "SELECT name, score, code, posted FROM runs WHERE day = $1 ORDER BY score DESC, posted ASC, name ASC LIMIT $2";
// Version 1: the runs (a name's best of a day) and every code posted, with its owner.
constexpr const char* kVersion1[] = {
    "CREATE TABLE runs (day TEXT NOT NULL, name TEXT NOT NULL, score INTEGER NOT NULL, code TEXT NOT NULL, "
    "posted TEXT NOT NULL, PRIMARY KEY (day, name))",
    "CREATE INDEX runs_order ON runs (day, score DESC, posted, name)",
    "CREATE TABLE codes (day TEXT NOT NULL, code TEXT NOT NULL, name TEXT NOT NULL, posted TEXT NOT NULL, "
    "PRIMARY KEY (day, code))",
};
}  // namespace sql

}  // namespace quillon::board
