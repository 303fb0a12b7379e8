// quillon-board: the daily run's board. Every run posted is played again by the game's own rules
// before it is ranked; the score is what the replay reaches, never what a client says.
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "game/Daily.h"
#include "game/RunCode.h"
#include "server/Board.h"
#include "server/Database.h"

namespace {

using nlohmann::json;
using namespace quillon;
using namespace quillon::board;

constexpr const char* kUsage =
    "Usage: quillon-board --listen HOST:PORT --database PATH|postgresql://... [--site DIR]\n"
    "                     [--posts-per-minute N] [--verifiers N]\n"
    "The daily run's board: takes posted runs, plays each again, and ranks what it reaches.\n\n"
    "  --listen HOST:PORT     where to take requests (PORT 0: any free one, said on standard output)\n"
    "  --database PATH        a SQLite file, made where there is none\n"
    "  --database postgresql://USER@HOST/DB\n"
    "                         a PostgreSQL database, which several boards may share\n"
    "  --site DIR             the page's files, served from /\n"
    "  --posts-per-minute N   posts one address may make in a minute (10; 0 for no limit)\n"
    "  --verifiers N          threads that play runs again (the processors' count)\n";

struct Options {
  std::string host, database, site;
  int port = -1;
  int postsPerMinute = 10;
  unsigned verifiers = 0;
};

std::optional<int> Number(const std::string& text, int most) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int value = std::stoi(text);
  if (value > most) return std::nullopt;
  return value;
}

// Nothing, with the reason, for a command line that names no board.
std::optional<Options> Parse(int argc, char** argv, std::string* problem) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    const std::string value = hasValue ? argv[i + 1] : "";
    if (arg == "--listen" && hasValue) {
      const auto colon = value.rfind(':');
      const auto port = colon == std::string::npos ? std::nullopt : Number(value.substr(colon + 1), 65535);
      if (!port || colon == 0) {
        *problem = "--listen takes HOST:PORT, not \"" + value + "\"";
        return std::nullopt;
      }
      o.host = value.substr(0, colon);
      if (o.host.size() > 2 && o.host.front() == '[' && o.host.back() == ']') o.host = o.host.substr(1, o.host.size() - 2);
      o.port = *port;
    } else if (arg == "--database" && hasValue) {
      o.database = value;
    } else if (arg == "--site" && hasValue) {
      o.site = value;
    } else if ((arg == "--posts-per-minute" || arg == "--verifiers") && hasValue) {
      const auto n = Number(value, 100000);
      if (!n || (arg == "--verifiers" && *n == 0)) {
        *problem = arg + " takes a whole number, not \"" + value + "\"";
        return std::nullopt;
      }
      if (arg == "--verifiers") {
        o.verifiers = static_cast<unsigned>(*n);
      } else {
        o.postsPerMinute = *n;
      }
    } else {
      *problem = hasValue || arg.rfind("--", 0) != 0 ? "unknown option \"" + arg + "\"" : arg + " needs a value";
      return std::nullopt;
    }
    ++i;
  }
  if (o.port < 0 || o.database.empty()) {
    *problem = "--listen and --database are needed";
    return std::nullopt;
  }
  return o;
}

void Answer(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump(), "application/json");
}

void Refuse(httplib::Response& res, int status, const std::string& why) { Answer(res, status, json{{"error", why}}); }

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  std::string problem;
  const auto options = Parse(argc, argv, &problem);
  if (!options) {
    std::fprintf(stderr, "quillon-board: %s\n%s", problem.c_str(), kUsage);
    return 2;
  }
  // SIGINT and SIGTERM end it cleanly, taken by a thread of its own.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const auto db = OpenDatabase(options->database, &problem);
  if (!db) {
    std::fprintf(stderr, "quillon-board: %s\n", problem.c_str());
    return 1;
  }
  const unsigned verifiers = options->verifiers != 0 ? options->verifiers : std::max(1u, std::thread::hardware_concurrency());
  Verifier verifier(verifiers, 8 * verifiers);
  RateLimit limit(options->postsPerMinute);

  httplib::Server server;
  // Requests are served on threads of their own, apart from the verifiers: a client slow to send
  // holds one of them for the read's time-out at most a byte, and the rest go on.
  server.new_task_queue = [] { return new httplib::ThreadPool(64); };
  server.set_read_timeout(5, 0);
  server.set_write_timeout(5, 0);
  server.set_keep_alive_timeout(5);
  server.set_payload_max_length(kMaxBody);
  // The page looks for the last on its own files: a board serves it, so its controls may show.
  server.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"X-Quillon-Board", "1"}});
  if (!options->site.empty() && !server.set_mount_point("/", options->site)) {
    std::fprintf(stderr, "quillon-board: %s: no such folder\n", options->site.c_str());
    return 1;
  }

  server.Get("/api/health", [](const httplib::Request&, httplib::Response& res) {
    Answer(res, 200, json{{"status", "ok"}});
  });

  server.Get(R"(/api/board/([^/]*))", [&db](const httplib::Request& req, httplib::Response& res) {
    const auto day = ParseDate(req.matches[1].str());
    if (!day) return Refuse(res, 400, "the day is not a date (YYYY-MM-DD)");
    json entries = json::array();
    try {
      for (const Entry& e : db->Board(DateText(*day), kBoardLimit)) {
        entries.push_back({{"rank", e.rank}, {"name", e.name}, {"score", e.score}, {"code", e.code}, {"posted", e.posted}});
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quillon-board: reading the board: %s\n", e.what());
      return Refuse(res, 503, "the board can't be read just now");
    }
    Answer(res, 200, json{{"day", DateText(*day)}, {"entries", std::move(entries)}});
  });

  server.Post("/api/runs", [&](const httplib::Request& req, httplib::Response& res) {
    if (!limit.Allow(req.remote_addr, std::chrono::steady_clock::now())) {
      res.set_header("Retry-After", "60");
      return Refuse(res, 429, "too many posts from this address: try again in a minute");
    }
    const json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return Refuse(res, 400, "the body is not a JSON object");
    const auto name = body.find("name"), code = body.find("code");
    if (name == body.end() || !name->is_string() || code == body.end() || !code->is_string()) {
      return Refuse(res, 400, "the body needs a \"name\" and a \"code\", both text");
    }
    const std::string who = name->get<std::string>(), text = code->get<std::string>();
    if (const auto why = NameProblem(who)) return Refuse(res, 400, *why);
    ParsedRun parsed = ParseRunCode(text);
    if (!parsed.run) return Refuse(res, 400, "the code names no run: " + parsed.problem);
    const auto now = std::chrono::system_clock::now();
    const DayOf day = OpenDayOf(*parsed.run, std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
    if (!day.day) return Refuse(res, 400, day.problem);
    auto pending = verifier.Submit(std::move(*parsed.run));
    if (!pending) {
      res.set_header("Retry-After", "5");
      return Refuse(res, 503, "the board is busy: try again in a few seconds");
    }
    const Verdict verdict = pending->get();
    if (!verdict.score) return Refuse(res, 400, "the run can't have been played: " + verdict.problem);
    try {
      const Posted posted = db->Post(DateText(*day.day), who, *verdict.score, text, IsoTime(now));
      if (posted.taken) return Refuse(res, 409, "this run is on the board already, under another name");
      Answer(res, 200, json{{"day", DateText(*day.day)}, {"score", *verdict.score}, {"rank", posted.rank}});
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quillon-board: keeping a run: %s\n", e.what());
      Refuse(res, 503, "the run could not be kept just now: try again");
    }
  });

  // Whatever else went wrong (an unknown path, a body too large) is said the same way.
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    const char* why = res.status == 404   ? "nothing here"
                      : res.status == 413 ? "the body is too large"
                                          : "the request can't be served";
    Refuse(res, res.status, why);
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    Refuse(res, 500, "the board failed on this request");
  });

  // The library listens with a queue of 5: a burst of clients past that waits a second for
  // its connection to be retried. The socket's queue is made deeper once it listens.
  int listening = -1;
  server.set_socket_options([&listening](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listening = sock;
  });
  int port = options->port;
  if (port == 0) {
    port = server.bind_to_any_port(options->host);
  } else if (!server.bind_to_port(options->host, port)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "quillon-board: cannot listen on %s:%d\n", options->host.c_str(), options->port);
    return 1;
  }
  if (listening >= 0) ::listen(listening, SOMAXCONN);
  std::printf("quillon-board: listening on http://%s:%d/\n", options->host.c_str(), port);
  std::fflush(stdout);
  std::atomic<bool> ended{false};
  std::thread stopper([&server, &ended, signals] {
    int which = 0;
    sigwait(&signals, &which);
    // The library stops only a server already running: a signal that comes before it runs (just
    // after the line above, say) would be lost, and the board would serve on for good.
    while (!ended && !server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server.stop();
  });
  const bool served = server.listen_after_bind();
  ended = true;
  if (stopper.joinable()) {
    // Ended by a signal, the stopper is done; otherwise wake it.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
  }
  return served ? 0 : 1;
}
