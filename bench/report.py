#!/usr/bin/env python3
"""One performance report: frame cost, CPU share, frame lateness, start-up time, peak memory.

Builds nothing itself; tools/report builds a release tree and calls this with its binaries.
"""
import gzip
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

BUILD = sys.argv[1]
SITE = sys.argv[2] if len(sys.argv) > 2 else None
WINDOWS = sys.argv[3] if len(sys.argv) > 3 else None
WINE_ENV = {"WINEPREFIX": os.path.abspath("build/wine-report"), "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml="}
SECONDS = float(os.environ.get("QUILLON_REPORT_SECONDS", "10"))
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def share(pid, seconds):
    c0, t0 = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(pid) - c0) / (time.monotonic() - t0)


def start_xvfb():
    n = 97
    while os.path.exists(f"/tmp/.X11-unix/X{n}"):
        n += 1
    xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "2560x1440x24", "-nolisten", "tcp", "-noreset"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(f"/tmp/.X11-unix/X{n}"):
            break
        time.sleep(0.05)
    return f":{n}", xvfb


def wine_program():
    listing = subprocess.run(["dpkg", "-L", "wine64"], capture_output=True, text=True, check=True).stdout
    return next(line for line in listing.splitlines() if line.endswith("/wine64") and os.path.isfile(line))


def find_process(name):
    """The process whose command line starts with a path ending in name (Wine's runs apart from its launcher)."""
    for _ in range(400):
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open(f"/proc/{entry}/cmdline", "rb") as f:
                        first = f.read().split(b"\0")[0].decode(errors="replace")
                except OSError:
                    continue
                if first.replace("\\", "/").endswith(name):
                    return int(entry)
        time.sleep(0.05)
    raise RuntimeError(f"no process {name}")


def run_probe(command, display, process_name=None, extra_env=None, size=None):
    """CPU shares on the title and in play, and the probe's own figures, over one run; `size` forces
    the window to another size, as a full screen does."""
    env = dict(os.environ, DISPLAY=display, **(extra_env or {}))
    env.pop("WAYLAND_DISPLAY", None)
    probe = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    window = ""
    while not window:
        window = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Quillon$"],
                                env=env, capture_output=True, text=True).stdout.strip()
        time.sleep(0.05)
    pid = find_process(process_name) if process_name else probe.pid
    if size:
        subprocess.run(["xdotool", "windowsize", "--sync", window.split()[0], *map(str, size)], env=env, check=True)
    time.sleep(1)
    title = share(pid, SECONDS)
    subprocess.run(["xdotool", "windowfocus", "--sync", window.split()[0]], env=env)
    subprocess.run(["xdotool", "key", "Return"], env=env, check=True)
    time.sleep(0.5)
    play = share(pid, SECONDS)
    subprocess.run([os.path.join(BUILD, "tests", "quillon_xclose"), "close", window.split()[0]], env=env, check=True)
    out, _ = probe.communicate(timeout=30)
    return title, play, dict(line.split(None, 1) for line in out.strip().splitlines())


def main():
    print("== Frame cost (Google Benchmark, one run, same process) ==")
    bench = subprocess.run([os.path.join(BUILD, "bench", "quillon_bench"), "--benchmark_min_time=0.5", "--benchmark_color=false"],
                           capture_output=True, text=True, check=True).stdout
    print(bench.strip())

    print()
    print("== A round's end: the title's wait, and the store of best and run beside the frame loop ==")
    store = subprocess.run([os.path.join(BUILD, "bench", "quillon_store_bench"), os.path.join(BUILD, "store-bench")],
                           capture_output=True, text=True, check=True).stdout
    print(store.strip())

    display, xvfb = start_xvfb()
    try:
        probe = os.path.join(BUILD, "bench", "quillon_pacing_probe")
        title, play, stats = run_probe([probe], display)
        scaled = {s: run_probe([probe, str(s)], display)[:2] for s in (2, 3)}
        scaled["full screen 1920x1080"] = run_probe([probe], display, size=(1920, 1080))[:2]
        wayland_rows, game_memory, xjump_memory = wayland_and_memory(display)
        windows = None
        if WINDOWS:
            windows = run_probe([wine_program(), os.path.join(WINDOWS, "quillon_pacing_probe.exe")], display,
                                process_name="quillon_pacing_probe.exe", extra_env=WINE_ENV)
    finally:
        xvfb.terminate()
        xvfb.wait()
    print()
    print(f"== The real game under Xvfb ({SECONDS:.0f} s on the title, {SECONDS:.0f} s in play; "
          "CPU from /proc/PID/stat, times from the game's own clock) ==")
    print(f"CPU on the title:  {title * 100:.2f}% of one core (target under 3%)")
    print(f"CPU in play:       {play * 100:.2f}% of one core (target under 2%)")
    print(f"frame start after its deadline over {stats['frames']} frames: median "
          f"{float(stats['late_median_ms']):.2f} ms, p99 {float(stats['late_p99_ms']):.2f} ms, "
          f"max {float(stats['late_max_ms']):.2f} ms (target p99 within 2 ms)")
    print(f"first title frame on the screen: {float(stats['first_frame_ms']):.1f} ms after main() "
          "(target within 200 ms)")
    print(f"peak memory (VmHWM): {stats['peak_memory'].strip()} (target under 25 MB)")
    for name, (t, p) in scaled.items():
        label = f"at scale {name}" if isinstance(name, int) else f"in a {name}"
        print(f"CPU {label}: title {t * 100:.2f}%, play {p * 100:.2f}% of one core"
              + (" (targets under 3% and 2% at scale 3)" if name == 3 else ""))
    print()
    print(f"== The game on Wayland (weston nested in the Xvfb) and on X11, side by side ({SECONDS:.0f} s on the "
          "title each) ==")
    for scale, wayland, compositor, x11 in wayland_rows:
        print(f"at scale {scale}: Wayland {wayland * 100:.2f}% of one core (weston {compositor * 100:.2f}% more), "
              f"X11 {x11 * 100:.2f}%: {wayland / max(x11, 1e-6):.1f}x" + (" (target within 2x)" if scale == 2 else ""))
    rss, pss, where = game_memory
    print()
    print("== Memory at 1x on the title, under the same Xvfb ==")
    print(f"quillon: RSS {rss / 1024:.1f} MB, PSS {pss / 1024:.1f} MB; RSS by where it lies: "
          + ", ".join(f"{name} {kb / 1024:.1f} MB" for name, kb in sorted(where.items(), key=lambda i: -i[1])))
    if xjump_memory:
        x_rss, x_pss, _ = xjump_memory
        print(f"xjump:   RSS {x_rss / 1024:.1f} MB, PSS {x_pss / 1024:.1f} MB; quillon's RSS is "
              f"{rss / x_rss:.1f}x xjump's (target within 1.5x), its PSS {pss / x_pss:.1f}x")
    if windows:
        w_title, w_play, w_stats = windows
        exe = os.path.getsize(os.path.join(WINDOWS, "platform", "windows", "quillon.exe"))
        print()
        print(f"== quillon.exe under Wine on the same Xvfb ({SECONDS:.0f} s on the title, {SECONDS:.0f} s in play; "
              "CPU of the game's own process, not wineserver's) ==")
        print(f"CPU on the title:  {w_title * 100:.2f}% of one core (target under 3%)")
        print(f"CPU in play:       {w_play * 100:.2f}% of one core (target under 2%)")
        print(f"frame start after its deadline over {w_stats['frames']} frames: median "
              f"{float(w_stats['late_median_ms']):.2f} ms, p99 {float(w_stats['late_p99_ms']):.2f} ms, "
              f"max {float(w_stats['late_max_ms']):.2f} ms (target p99 within 2 ms)")
        print(f"first title frame on the screen: {float(w_stats['first_frame_ms']):.1f} ms after the program's "
              "start, Wine's own loading not counted (target within 200 ms)")
        print(f"quillon.exe: {exe / 1024 / 1024:.2f} MB (target under 1.5 MB)")
    if SITE:
        web_report(title, play)


def memory(pid):
    """RSS and PSS in KB, and where the RSS lies: the heap, other private memory, shared memory
    with the X server, the program itself, and the libraries it loads."""
    with open(f"/proc/{pid}/smaps_rollup") as f:
        rollup = {line.split(":")[0]: int(line.split()[1]) for line in f if line.split()[-1] == "kB"}
    where, name = {}, None
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            fields = line.split()
            if "-" in fields[0] and len(fields) >= 5 and ":" in fields[3]:
                path = fields[5] if len(fields) > 5 else ""
                name = ("heap" if path == "[heap]" else "other private" if not path or path.startswith("[")
                        else "X11 shared memory" if path.startswith("/SYSV") else "libraries" if ".so" in path
                        else "the program")
            elif fields[0] == "Rss:":
                where[name] = where.get(name, 0) + int(fields[1])
    return rollup["Rss"], rollup["Pss"], where


def wayland_and_memory(display):
    """The game on Wayland (a weston nested in the Xvfb) against the same on X11, at scales 1
    and 2; and its memory at 1x against xjump's, on the same Xvfb."""
    game = os.path.abspath(os.path.join(BUILD, "quillon"))
    env = dict(os.environ, DISPLAY=display)
    env.pop("WAYLAND_DISPLAY", None)
    rows = []
    for scale in (1, 2):
        runtime = tempfile.mkdtemp(prefix="quillon-report-xdg-")
        os.chmod(runtime, 0o700)
        weston = subprocess.Popen(["weston", "--backend=x11-backend.so", "--width=1000", "--height=760",
                                   f"--scale={scale}", "--socket=quillon-report", "--idle-time=0"],
                                  env=dict(env, XDG_RUNTIME_DIR=runtime), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            for _ in range(200):
                if os.path.exists(os.path.join(runtime, "quillon-report")):
                    break
                time.sleep(0.05)
            folder = tempfile.mkdtemp(prefix="quillon-report-")
            on_wayland = subprocess.Popen([game], cwd=folder, stderr=subprocess.DEVNULL,
                                          env=dict(env, DISPLAY="", WAYLAND_DISPLAY="quillon-report",
                                                   XDG_RUNTIME_DIR=runtime))
            time.sleep(2)
            c0, w0, t0 = cpu_seconds(on_wayland.pid), cpu_seconds(weston.pid), time.monotonic()
            time.sleep(SECONDS)
            elapsed = time.monotonic() - t0
            wayland, compositor = (cpu_seconds(on_wayland.pid) - c0) / elapsed, (cpu_seconds(weston.pid) - w0) / elapsed
            on_wayland.terminate()
            on_wayland.wait()
        finally:
            weston.terminate()
            weston.wait()
            shutil.rmtree(runtime, ignore_errors=True)
        on_x11 = subprocess.Popen([game, "--scale", str(scale)], cwd=folder, env=env, stderr=subprocess.DEVNULL)
        time.sleep(2)
        x11 = share(on_x11.pid, SECONDS)
        if scale == 1:
            game_memory = memory(on_x11.pid)
        on_x11.terminate()
        on_x11.wait()
        rows.append((scale, wayland, compositor, x11))
    xjump_memory = None
    if os.path.exists("/usr/games/xjump"):
        xjump = subprocess.Popen(["/usr/games/xjump"], env=dict(env, HOME=tempfile.mkdtemp(prefix="quillon-xjump-")),
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(3)
        xjump_memory = memory(xjump.pid)
        xjump.terminate()
        xjump.wait()
    return rows, game_memory, xjump_memory


def web_report(desktop_title, desktop_play):
    here = os.path.dirname(os.path.abspath(__file__))
    sizes = {}
    for name in sorted(os.listdir(SITE)):
        with open(os.path.join(SITE, name), "rb") as f:
            sizes[name] = len(gzip.compress(f.read(), 9))
    out = subprocess.run(["node", os.path.join(here, "web_report.mjs"), SITE, str(SECONDS)],
                         capture_output=True, text=True, check=True).stdout
    web = json.loads(out.strip().splitlines()[-1])
    print()
    print(f"== The web build in headless Chromium ({SECONDS:.0f} s on the title, {SECONDS:.0f} s in play; "
          "renderer CPU from /proc/PID/stat) ==")
    single = sizes.pop("quillon.html", 0)
    page = sum(v for n, v in sizes.items() if n == "index.html" or n.endswith((".js", ".wasm")) and n != "sw.js")
    print("first visit's transfer, gzip -9: " + ", ".join(f"{n} {s / 1024:.1f} KB" for n, s in sizes.items()) +
          f"; {sum(sizes.values()) / 1024:.1f} KB in all; the page, its script and WebAssembly "
          f"{page / 1024:.1f} KB (target under 70 KB)")
    print(f"the one-file quillon.html, gzip -9: {single / 1024:.1f} KB (target under 90 KB)")
    print(f"frames a second: {web['titleFps']:.1f} on the title (the game's 40), "
          f"{web['playFps']:.1f} in play (the game's 18 to 20)")
    print(f"first title frame on the canvas: {web['firstFrameMs']:.0f} ms after navigation (target within 300 ms)")
    print(f"renderer CPU on the title: {web['title'] * 100:.2f}% of one core, "
          f"{web['title'] / desktop_title:.1f}x the desktop game's (target within 2x)")
    print(f"renderer CPU in play:      {web['play'] * 100:.2f}% of one core, "
          f"{web['play'] / desktop_play:.1f}x the desktop game's (target within 2x)")
    for ratio in ("1", "2"):
        r = web[ratio]
        print(f"at {ratio} device pixel(s) a CSS pixel, against a bare page putting the same rectangles "
              f"({'x'.join(map(str, r['titleRect']))} at {r['titleFps']:.0f}/s, "
              f"{'x'.join(map(str, r['playRect']))} at {r['playFps']:.0f}/s) on a canvas laid out alike: "
              f"title {r['title'] / r['bareTitle']:.2f}x ({r['title'] * 100:.2f}% against {r['bareTitle'] * 100:.2f}%), "
              f"play {r['play'] / r['barePlay']:.2f}x ({r['play'] * 100:.2f}% against {r['barePlay'] * 100:.2f}%) "
              "(target within 1.2x)")


if __name__ == "__main__":
    main()
