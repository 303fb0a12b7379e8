// The board's runs in a PostgreSQL server that any number of boards share.
#include <libpq-fe.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "server/Database.h"

namespace quillon::board {
namespace {

// A result that frees itself; throws for anything but success.
class Result {
 public:
  Result(PGconn* conn, const char* text, const std::vector<std::string>& params) {
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    result_ = PQexecParams(conn, text, static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result_);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      std::string why = PQresultErrorMessage(result_);
      PQclear(result_);
      if (!why.empty() && why.back() == '\n') why.pop_back();
      throw std::runtime_error(why.empty() ? std::string(PQerrorMessage(conn)) : why);
    }
  }
  ~Result() { PQclear(result_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  int Rows() const { return PQntuples(result_); }
  std::string Text(int row, int column) const { return PQgetvalue(result_, row, column); }
  std::int64_t Int(int row, int column) const { return std::stoll(Text(row, column)); }

 private:
  PGresult* result_ = nullptr;
};

class Postgres : public Database {
 public:
  Postgres(const std::string& address, int connections) : address_(address) {
    try {
      for (int i = 0; i < connections; ++i) all_.push_back(Connect());
    } catch (...) {
      for (PGconn* c : all_) PQfinish(c);
      throw;
    }
    free_ = all_;
  }
  ~Postgres() override {
    for (PGconn* c : all_) PQfinish(c);
  }

  void Migrate() {
    Use([](PGconn* c) {
      Result(c, "BEGIN", {});
      try {
        // One board migrates at a time, however many start together.
        Result(c, "SELECT pg_advisory_xact_lock(7305135)", {});
        Result(c, "CREATE TABLE IF NOT EXISTS board_schema (version INTEGER NOT NULL)", {});
        Result read(c, "SELECT version FROM board_schema", {});
        std::int64_t version = 0;
        if (read.Rows() == 0) {
          Result(c, "INSERT INTO board_schema (version) VALUES (0)", {});
        } else {
          version = read.Int(0, 0);
        }
        if (version > kSchemaVersion) throw std::runtime_error("the database is of a newer quillon-board");
        if (version < 1) {
          for (const char* step : sql::kVersion1) Result(c, step, {});
        }
        Result(c, "UPDATE board_schema SET version = $1", {std::to_string(kSchemaVersion)});
        Result(c, "COMMIT", {});
      } catch (...) {
        PQclear(PQexec(c, "ROLLBACK"));
        throw;
      }
    });
  }

  Posted Post(const std::string& day, const std::string& name, std::int32_t score, const std::string& code,
              const std::string& posted) override {
    Posted result;
    Use([&](PGconn* c) {
      Result(c, sql::kRecordCode, {day, code, name, posted});
      Result owner(c, sql::kOwner, {day, code});
      if (owner.Rows() > 0 && owner.Text(0, 0) != name) {
        result.taken = true;
        return;
      }
      Result(c, sql::kKeepBest, {day, name, std::to_string(score), code, posted});
      Result rank(c, sql::kRank, {day, name});
      if (rank.Rows() > 0) result.rank = rank.Int(0, 0);
    });
    return result;
  }

  std::vector<Entry> Board(const std::string& day, int limit) override {
    std::vector<Entry> entries;
    Use([&](PGconn* c) {
      Result read(c, sql::kBoard, {day, std::to_string(limit)});
      for (int row = 0; row < read.Rows(); ++row) {
        entries.push_back(Entry{row + 1, read.Text(row, 0), static_cast<std::int32_t>(read.Int(row, 1)),
                                read.Text(row, 2), read.Text(row, 3)});
      }
    });
    return entries;
  }

 private:
  PGconn* Connect() {
    PGconn* c = PQconnectdb(address_.c_str());
    if (PQstatus(c) != CONNECTION_OK) {
      std::string why = PQerrorMessage(c);
      PQfinish(c);
      // Its message may run over lines; the board says one.
      for (char& ch : why) ch = ch == '\n' ? ' ' : ch;
      while (!why.empty() && why.back() == ' ') why.pop_back();
      throw std::runtime_error(why);
    }
    // The server's notices ("already exists, skipping") are no news to anyone reading the log.
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
    return c;
  }

  // A connection of the pool for one piece of work; one lost (the server restarted) is made anew.
  template <typename Work>
  void Use(Work work) {
    PGconn* c = nullptr;
    {
      std::unique_lock lock(mutex_);
      freed_.wait(lock, [this] { return !free_.empty(); });
      c = free_.back();
      free_.pop_back();
    }
    const auto give_back = [this, &c] {
      const std::lock_guard lock(mutex_);
      free_.push_back(c);
      freed_.notify_one();
    };
    try {
      if (PQstatus(c) != CONNECTION_OK) PQreset(c);
      work(c);
    } catch (...) {
      give_back();
      throw;
    }
    give_back();
  }

  std::string address_;
  std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<PGconn*> free_, all_;
};

}  // namespace

std::unique_ptr<Database> OpenPostgres(const std::string& address, std::string* error) {
  try {
    auto board = std::make_unique<Postgres>(address, 4);
    board->Migrate();
    return board;
  } catch (const std::exception& e) {
    *error = std::string("PostgreSQL: ") + e.what();
    return nullptr;
  }
}

std::unique_ptr<Database> OpenDatabase(const std::string& where, std::string* error) {
  if (where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0) return OpenPostgres(where, error);
  return OpenSqlite(where, error);
}

}  // namespace quillon::board
