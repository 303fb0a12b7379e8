#!/usr/bin/env python3
"""quillon-board as it runs: a real process over a real SQLite file, and over a real PostgreSQL
server this test starts itself (a cluster in a temporary folder, on a socket there, run as an
unprivileged user), the same cases against both.
  board_test.py --board PATH [unittest names]"""
import argparse
import glob
import http.client
import json
import os
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ARGS = argparse.Namespace()
HERE = os.path.dirname(os.path.abspath(__file__))
GOLDEN = os.path.join(HERE, "..", "data", "golden")
PLAYER = "nobody"  # the PostgreSQL server's user where the tests run as root

# Moments the boards are started at, in UTC.
NOON = "2026-12-09 12:00:00"
AFTER_MIDNIGHT = "2026-12-10 05:59:59"   # yesterday's round still open, its last second
AFTER_GRACE = "2026-12-10 06:00:00"      # and now closed


def daily_seed(day):
    """The day's seed: SplitMix64 over the day's number, as the game has it."""
    import datetime
    days = (datetime.date.fromisoformat(day) - datetime.date(1970, 1, 1)).days
    z = (days + 0x51C0DA11D4117) & 0xFFFFFFFFFFFFFFFF
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
    z ^= z >> 31
    seed = (z ^ (z >> 32)) & 0xFFFFFFFF
    return seed or 1


def run_code(seed, keys=(), draws=0, best=0):
    """A run's code: its numbers as 7-bit groups, in base64url after "Q1-"."""
    out = bytearray()

    def put(v):
        while v >= 0x80:
            out.append((v & 0x7F) | 0x80)
            v >>= 7
        out.append(v)
    put(seed)
    put(draws)
    put((best << 1) & 0xFFFFFFFF)
    put(len(keys))
    last = 0
    for frame, high in keys:
        put(((frame - last) << 1) | (1 if high else 0))
        last = frame
    digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
    code = "Q1-"
    for i in range(0, len(out), 3):
        chunk = out[i] << 16 | (out[i + 1] << 8 if i + 1 < len(out) else 0) | (out[i + 2] if i + 2 < len(out) else 0)
        for k in range(min(4, (len(out) - i) * 4 // 3 + 1)):
            code += digits[(chunk >> (18 - 6 * k)) & 63]
    return code


def golden_daily():
    with open(os.path.join(GOLDEN, "daily.txt")) as f:
        code, score = f.read().split()[:2]
    return code, int(score)


class Postgres:
    """A PostgreSQL cluster of the test's own: made, started, and removed at the end."""

    def __init__(self):
        bin_dir = sorted(d for d in os.listdir("/usr/lib/postgresql"))[-1]
        self.bin = os.path.join("/usr/lib/postgresql", bin_dir, "bin")
        self.dir = tempfile.mkdtemp(prefix="quillon-pg-")
        os.chmod(self.dir, 0o755)
        self.data = os.path.join(self.dir, "data")
        user = pwd.getpwnam(PLAYER) if os.geteuid() == 0 else None
        if user:
            os.chown(self.dir, user.pw_uid, user.pw_gid)
        self.run(["initdb", "-D", self.data, "-A", "trust", "-U", "quillon", "--no-sync"], quiet=True)
        self.run(["pg_ctl", "-D", self.data, "-w", "-t", "60", "-l", os.path.join(self.dir, "log"), "start", "-o",
                  f"-k {self.dir} -c listen_addresses='' -c fsync=off"], quiet=True)
        self.count = 0

    def run(self, command, quiet=False):
        command = [os.path.join(self.bin, command[0])] + command[1:]
        if os.geteuid() == 0:
            command = ["runuser", "-u", PLAYER, "--"] + command
        done = subprocess.run(command, capture_output=True, text=True, cwd=self.dir)
        if done.returncode != 0:
            raise AssertionError(f"{command}: {done.stdout}{done.stderr}")
        return done.stdout

    def database(self):
        """A new, empty database's address."""
        self.count += 1
        name = f"board{self.count}"
        self.run(["createdb", "-h", self.dir, "-U", "quillon", name])
        return f"postgresql://quillon@/{name}?host={self.dir}"

    def sql(self, address, text):
        name = address.split("/")[3].split("?")[0]
        return self.run(["psql", "-h", self.dir, "-U", "quillon", "-d", name, "-tAc", text])

    def stop(self):
        self.run(["pg_ctl", "-D", self.data, "-w", "-m", "fast", "stop"], quiet=True)
        shutil.rmtree(self.dir, ignore_errors=True)


class Board:
    """A quillon-board process at a moment of its own, on a free port of the loopback."""

    def __init__(self, database, at=NOON, extra=(), frozen=False):
        # libfaketime in the board itself (its clock running from `at`, or stopped there): the faketime command would stand between it and its signals.
        env = dict(os.environ, LD_PRELOAD=glob.glob("/usr/lib/*/faketime/libfaketimeMT.so.1")[0], FAKETIME=at if frozen else "@" + at,
                   FAKETIME_DONT_FAKE_MONOTONIC="1", TZ="UTC",
                   ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        self.proc = subprocess.Popen([ARGS.board, "--listen", "127.0.0.1:0", "--database", database, *extra],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        line = self.proc.stdout.readline().decode()
        if "listening on" not in line:
            self.proc.wait(timeout=10)
            raise AssertionError("the board did not start: " + line + self.proc.stderr.read().decode())
        self.port = int(line.rstrip().rstrip("/").rsplit(":", 1)[1])

    def request(self, method, path, body=None, raw=None, timeout=30):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        data = raw if raw is not None else (json.dumps(body) if body is not None else None)
        c.request(method, path, body=data, headers={"Content-Type": "application/json"} if data is not None else {})
        r = c.getresponse()
        text = r.read().decode()
        c.close()
        return r.status, json.loads(text) if r.getheader("Content-Type", "").startswith("application/json") else text, r

    def post(self, name, code):
        status, body, _ = self.request("POST", "/api/runs", {"name": name, "code": code})
        return status, body

    def board(self, day="2026-12-09"):
        status, body, _ = self.request("GET", "/api/board/" + day)
        assert status == 200, (status, body)
        return body["entries"]

    def stop(self):
        self.proc.terminate()
        status = self.proc.wait(timeout=20)
        self.proc.stdout.close()
        self.proc.stderr.close()
        return status


class BoardCases:
    """The same cases over either database; a subclass says which."""

    def fresh(self):
        raise NotImplementedError

    def start(self, database=None, **kw):
        board = Board(database or self.fresh(), **kw)
        self.addCleanup(lambda: board.proc.poll() is None and board.stop())
        return board

    def test_runs_are_played_again_ranked_and_kept_a_names_best(self):
        code, score = golden_daily()
        seed = daily_seed("2026-12-09")
        self.assertEqual(seed, 239509435)  # the game's own stored seed for the day
        database = self.fresh()
        b = self.start(database)
        self.assertEqual(b.request("GET", "/api/health")[0], 200)
        self.assertEqual(b.post("ann", code), (200, {"day": "2026-12-09", "score": score, "rank": 1}))
        # The same code again is the same one entry.
        self.assertEqual(b.post("ann", code), (200, {"day": "2026-12-09", "score": score, "rank": 1}))
        # Runs of other scores: what the replay reaches is what counts.
        other = {}
        for frame in range(10, 400, 7):
            c = run_code(seed, [(frame, True)], best=3)
            status, body = b.post("bob", c)
            if status == 200:
                other[body["score"]] = c
            if len(other) >= 3:
                break
        self.assertGreaterEqual(len(other), 3, other)
        scores = sorted(other)
        # A worse run leaves a name's best as it was; the rank is the name's.
        bob = b.board()[[e["name"] for e in b.board()].index("bob")]
        self.assertEqual(bob["score"], max(scores))
        worse = b.post("bob", run_code(seed, [], best=77))
        self.assertEqual(worse[0], 200)
        self.assertEqual(worse[1]["rank"], 1 + (score > max(scores)))
        entries = b.board()
        self.assertEqual([e["name"] for e in entries], ["ann", "bob"] if score > max(scores) else ["bob", "ann"])
        self.assertEqual([e["rank"] for e in entries], [1, 2])
        for e in entries:
            self.assertRegex(e["posted"], r"^2026-12-09T12:00:\d\d\.\d{3}Z$")
            self.assertEqual(set(e), {"rank", "name", "score", "code", "posted"})
        self.assertEqual(entries[[e["name"] for e in entries].index("ann")]["code"], code)
        # Another's run is not anyone's to post; a name is text, never markup.
        self.assertEqual(b.post("eve", code)[0], 409)
        self.assertEqual(b.post("<b>Zoë</b> & co", run_code(seed, [], best=5))[0], 200)
        self.assertIn("<b>Zoë</b> & co", [e["name"] for e in b.board()])
        # Kept across a restart; the next day's board starts empty.
        self.assertEqual(b.stop(), 0)
        again = self.start(database)
        self.assertEqual(again.board(), entries + [e for e in again.board() if e["name"] == "<b>Zoë</b> & co"])
        self.assertEqual(again.board("2026-12-10"), [])

    def test_bad_input_gets_one_clear_answer_and_changes_nothing(self):
        seed = daily_seed("2026-12-09")
        b = self.start(extra=("--posts-per-minute", "0"))
        good = run_code(seed, [], best=1)

        def post(body):
            return b.request("POST", "/api/runs", raw=body)
        rows = [
            ("malformed JSON", post('{"name": "ann", "code": '), 400),
            ("not an object", post('["ann"]'), 400),
            ("nested past any stack", post("[" * 60000), 400),
            ("no code", post('{"name": "ann"}'), 400),
            ("a code that is no text", post('{"name": "ann", "code": 12}'), 400),
            ("over 64 KB", post(json.dumps({"name": "ann", "code": "Q" * (64 * 1024)})), 413),
            ("a code that does not parse", b.request("POST", "/api/runs", {"name": "ann", "code": "Q1-!!"}), 400),
            ("a jump no round could take", b.request("POST", "/api/runs", {"name": "ann", "code": run_code(seed, [(10, True), (11, True)])}), 400),
            ("jumps past the end", b.request("POST", "/api/runs", {"name": "ann", "code": run_code(seed, [(999999, True)])}), 400),
            ("a closed day", b.request("POST", "/api/runs", {"name": "ann", "code": run_code(daily_seed("2026-12-08"))}), 400),
            ("a future day", b.request("POST", "/api/runs", {"name": "ann", "code": run_code(daily_seed("2026-12-10"))}), 400),
            ("no daily run", b.request("POST", "/api/runs", {"name": "ann", "code": run_code(12345)}), 400),
            ("draws before it", b.request("POST", "/api/runs", {"name": "ann", "code": run_code(seed, draws=3)}), 400),
            ("an empty name", b.request("POST", "/api/runs", {"name": "", "code": good}), 400),
            ("a blank name", b.request("POST", "/api/runs", {"name": "   ", "code": good}), 400),
            ("a long name", b.request("POST", "/api/runs", {"name": "x" * 25, "code": good}), 400),
            ("a newline", b.request("POST", "/api/runs", {"name": "a\nb", "code": good}), 400),
            ("DEL", b.request("POST", "/api/runs", {"name": "a\x7fb", "code": good}), 400),
            ("a C1 control", b.request("POST", "/api/runs", {"name": "a\x85b", "code": good}), 400),
            ("a lone surrogate", post('{"name": "a\\udc00", "code": "%s"}' % good), 400),
            ("a name that is no text", b.request("POST", "/api/runs", {"name": ["ann"], "code": good}), 400),
            ("no such day", b.request("GET", "/api/board/2026-02-30"), 400),
            ("no such path", b.request("GET", "/api/nothing"), 404),
        ]
        for what, (status, body, response), expected in rows:
            with self.subTest(what):
                self.assertEqual(status, expected, body)
                self.assertIsInstance(body, dict, body)
                self.assertEqual(list(body), ["error"])
                self.assertNotIn("\n", body["error"])
                self.assertTrue(body["error"])
        self.assertEqual(b.board(), [])
        self.assertEqual(b.board("2026-12-08"), [])
        # The longest name that is one, in characters of any script.
        self.assertEqual(b.post("é" * 24, good)[0], 200)
        self.assertEqual([e["name"] for e in b.board()], ["é" * 24])

    def test_days_open_and_close_by_utc(self):
        database = self.fresh()
        cases = [(NOON, "2026-12-08", 400), (NOON, "2026-12-09", 200), (NOON, "2026-12-10", 400),
                 (AFTER_MIDNIGHT, "2026-12-09", 200), (AFTER_MIDNIGHT, "2026-12-10", 200),
                 (AFTER_MIDNIGHT, "2026-12-11", 400), (AFTER_GRACE, "2026-12-09", 400),
                 (AFTER_GRACE, "2026-12-10", 200)]
        for n, (at, day, expected) in enumerate(cases):
            with self.subTest(at=at, day=day):
                # A stopped clock: a second either side of the grace's end, however slow the start.
                b = self.start(database, at=at, frozen=True)
                status, body = b.post(f"p{n}", run_code(daily_seed(day), best=n))
                self.assertEqual(status, expected, body)
                if status == 200:
                    self.assertEqual(body["day"], day)
                b.stop()

    def test_an_address_posting_too_often_is_told_to_wait_and_reads_go_on(self):
        b = self.start(extra=("--posts-per-minute", "5"))
        seed = daily_seed("2026-12-09")
        statuses = [b.post("ann", run_code(seed, best=k))[0] for k in range(5)]
        self.assertEqual(statuses, [200] * 5)
        status, body, response = b.request("POST", "/api/runs", {"name": "ann", "code": run_code(seed, best=9)})
        self.assertEqual(status, 429)
        self.assertEqual(response.getheader("Retry-After"), "60")
        self.assertIn("error", body)
        self.assertEqual(len(b.board()), 1)

    def test_a_slow_client_or_a_flood_of_posts_holds_up_no_reader(self):
        b = self.start(extra=("--posts-per-minute", "0", "--verifiers", "1"))
        seed = daily_seed("2026-12-09")
        # Slow clients, a byte of their headers a second.
        slow = []
        for _ in range(4):
            s = socket.create_connection(("127.0.0.1", b.port))
            slow.append(s)
        stop = threading.Event()

        def dribble():
            request = b"GET /api/health HTTP/1.1\r\nHost: x\r\n"
            for i in range(len(request)):
                if stop.is_set():
                    return
                for s in slow:
                    try:
                        s.send(request[i:i + 1])
                    except OSError:
                        pass
                time.sleep(1)
        t = threading.Thread(target=dribble)
        t.start()
        self.addCleanup(lambda: (stop.set(), t.join(), [s.close() for s in slow]))
        # A flood of posts from one address: at most the queue's length wait, the rest are told
        # to come back; none is lost or half kept.
        results = []
        lock = threading.Lock()

        def flood(k):
            for j in range(25):
                status, body = b.post(f"f{k}", run_code(seed, best=k * 100 + j))
                with lock:
                    results.append(status)
        floods = [threading.Thread(target=flood, args=(k,)) for k in range(16)]
        for f in floods:
            f.start()
        reads = []
        while any(f.is_alive() for f in floods):
            start = time.monotonic()
            self.assertEqual(b.request("GET", "/api/board/2026-12-09", timeout=10)[0], 200)
            reads.append(time.monotonic() - start)
        for f in floods:
            f.join()
        self.assertEqual(len(results), 16 * 25)
        self.assertEqual(set(results) - {200, 503}, set())
        self.assertIn(200, results)
        self.assertTrue(reads)
        self.assertEqual({e["name"] for e in b.board()}, {f"f{k}" for k in range(16)} & {e["name"] for e in b.board()})
        self.assertEqual(b.request("GET", "/api/health", timeout=5)[0], 200)

    def test_a_database_of_a_newer_board_is_left_alone(self):
        database = self.fresh()
        # Stopped the moment it says it listens, again and again: a signal that came before the
        # server ran was once lost, and the board served on.
        for _ in range(50):
            self.assertEqual(self.start(database).stop(), 0)
        self.make_newer(database)
        proc = subprocess.run([ARGS.board, "--listen", "127.0.0.1:0", "--database", database], capture_output=True,
                              text=True, timeout=30)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(len(proc.stderr.splitlines()), 1, proc.stderr)
        self.assertIn("newer quillon-board", proc.stderr)


class Sqlite(BoardCases, unittest.TestCase):
    def fresh(self):
        folder = tempfile.mkdtemp(prefix="quillon-board-")
        self.addCleanup(shutil.rmtree, folder, True)
        return os.path.join(folder, "board.db")

    def make_newer(self, database):
        import sqlite3
        with sqlite3.connect(database) as db:
            db.execute("UPDATE board_schema SET version = 99")

    def test_a_link_planted_for_the_file_is_not_followed(self):
        folder = tempfile.mkdtemp(prefix="quillon-board-")
        self.addCleanup(shutil.rmtree, folder, True)
        # An empty file is one SQLite would gladly make a database of.
        theirs = os.path.join(folder, "theirs")
        open(theirs, "w").close()
        os.symlink(theirs, os.path.join(folder, "board.db"))
        proc = subprocess.run([ARGS.board, "--listen", "127.0.0.1:0", "--database", os.path.join(folder, "board.db")],
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(len(proc.stderr.splitlines()), 1, proc.stderr)
        self.assertEqual(os.path.getsize(theirs), 0)


class Postgresql(BoardCases, unittest.TestCase):
    server = None

    @classmethod
    def setUpClass(cls):
        cls.server = Postgres()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def fresh(self):
        return self.server.database()

    def make_newer(self, database):
        self.server.sql(database, "UPDATE board_schema SET version = 99")

    def test_two_boards_on_one_database_lose_no_post(self):
        database = self.fresh()
        boards = [self.start(database, extra=("--posts-per-minute", "0")), self.start(database, extra=("--posts-per-minute", "0"))]
        seed = daily_seed("2026-12-09")
        # Each name's runs, posted at once through both boards.
        runs = {f"n{k}": [run_code(seed, [(frame, frame % 2 == 0)], best=k) for frame in range(10, 200, 13)]
                for k in range(4)}
        reached = {name: [] for name in runs}
        lock = threading.Lock()

        def poster(name, codes, board):
            for c in codes:
                status, body = board.post(name, c)
                with lock:
                    reached[name].append((status, body.get("score")))
        threads = [threading.Thread(target=poster, args=(name, codes[i::2], boards[i]))
                   for name, codes in runs.items() for i in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        entries = boards[0].board()
        self.assertEqual(entries, boards[1].board())
        best = {e["name"]: e["score"] for e in entries}
        for name in runs:
            played = [score for status, score in reached[name] if status == 200]
            self.assertEqual(len(reached[name]), len(runs[name]))
            # Each run either counted or could not have been played: none lost on the way.
            self.assertTrue(all(status in (200, 400) for status, _ in reached[name]), reached[name])
            self.assertEqual(best.get(name), max(played) if played else None, name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--board", required=True)
    parsed, rest = parser.parse_known_args()
    ARGS.board = os.path.abspath(parsed.board)
    result = unittest.main(module="__main__", argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
