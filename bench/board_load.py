#!/usr/bin/env python3
"""The board under load, on this machine's loopback only, bounded in count and time: verified
posts a second with their p50 and p99 latency at 1, 8 and 64 clients at once, then board reads
a second, for SQLite and for PostgreSQL, and the board's CPU time for each post.
  board_load.py PATH/TO/quillon-board"""
import http.client
import json
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "board"))
import board_test  # noqa: E402

SECONDS = 4          # each measurement's length at most
MOST_REQUESTS = 4000  # and its count


def golden_keys():
    """The stored daily round's jumps, so that each post is a real round's length to play again."""
    code = board_test.golden_daily()[0]
    digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
    bits = "".join(format(digits.index(c), "06b") for c in code[3:])
    data = [int(bits[i:i + 8], 2) for i in range(0, len(bits) - 7, 8)]
    numbers, value, shift = [], 0, 0
    for b in data:
        value |= (b & 0x7F) << shift
        shift += 7
        if not b & 0x80:
            numbers.append(value)
            value, shift = 0, 0
    count, keys, frame = numbers[3], [], 0
    for n in numbers[4:4 + count]:
        frame += n >> 1
        keys.append((frame, bool(n & 1)))
    return keys


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure(board, clients, request):
    """Runs `request(i)` from `clients` threads until the time or the count is up."""
    latencies, statuses = [], []
    lock = threading.Lock()
    end = time.monotonic() + SECONDS
    counter = iter(range(MOST_REQUESTS))

    def client():
        while time.monotonic() < end:
            with lock:
                i = next(counter, None)
            if i is None:
                return
            start = time.monotonic()
            try:
                status = request(i)
            except OSError:
                status = 0
            with lock:
                latencies.append(time.monotonic() - start)
                statuses.append(status)
    threads = [threading.Thread(target=client) for _ in range(clients)]
    began = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    took = time.monotonic() - began
    latencies.sort()
    done = statuses.count(200)
    return {"per_second": done / took, "p50_ms": 1000 * latencies[len(latencies) // 2],
            "p99_ms": 1000 * latencies[min(len(latencies) - 1, int(len(latencies) * 0.99))],
            "ok": done, "busy": statuses.count(503), "failed": statuses.count(0)}


def call(port, method, path, body=None):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request(method, path, body=json.dumps(body) if body else None)
    status = c.getresponse().status
    c.close()
    return status


def main():
    board_test.ARGS.board = os.path.abspath(sys.argv[1])
    keys = golden_keys()
    seed = board_test.daily_seed("2026-12-09")
    pg = board_test.Postgres()
    try:
        folder = os.path.join(os.path.dirname(board_test.ARGS.board), "load")
        os.makedirs(folder, exist_ok=True)
        sqlite = os.path.join(folder, f"load-{os.getpid()}.db")
        for kind, database in (("SQLite", sqlite), ("PostgreSQL", pg.database())):
            board = board_test.Board(database, extra=("--posts-per-minute", "0"))
            try:
                for clients in (1, 8, 64):
                    before = cpu_seconds(board.proc.pid)

                    def post(i, clients=clients):
                        code = board_test.run_code(seed, keys, best=clients * 100000 + i)
                        return call(board.port, "POST", "/api/runs", {"name": f"c{clients}-{i % 50}", "code": code})
                    r = measure(board, clients, post)
                    cpu = (cpu_seconds(board.proc.pid) - before) / max(1, r["ok"] + r["busy"])
                    print(f"{kind:10} posts, {clients:2} clients: {r['per_second']:7.1f}/s  p50 {r['p50_ms']:6.1f} ms"
                          f"  p99 {r['p99_ms']:7.1f} ms  ({r['ok']} kept, {r['busy']} told busy, {r['failed']} failed; "
                          f"board CPU {1000 * cpu:.2f} ms a post)")
                r = measure(board, 8, lambda i: call(board.port, "GET", "/api/board/2026-12-09"))
                print(f"{kind:10} board reads, 8 clients: {r['per_second']:7.1f}/s  p50 {r['p50_ms']:6.1f} ms"
                      f"  p99 {r['p99_ms']:7.1f} ms")
            finally:
                board.stop()
        for suffix in ("", "-wal", "-shm"):
            if os.path.exists(sqlite + suffix):
                os.remove(sqlite + suffix)
    finally:
        pg.stop()
    print(f"(a round of {keys[-1][0]}+ frames each; the clients are Python threads on the same machine)")


if __name__ == "__main__":
    main()
