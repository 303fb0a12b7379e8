#!/usr/bin/env python3
"""The built game in a real X window: Xvfb for the display, xdotool for keys, xwd for pixels."""
import argparse
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
DISPLAY = None
W, H = 425, 300
SKY, GROUND, BLUE = (0, 128, 128), (128, 0, 0), (0, 0, 255)


def start_xvfb(screen="800x600x24"):
    """An Xvfb of its own; it picks a free display itself, so groups started at once never share one."""
    read, write = os.pipe()
    # A black root: a window not yet painted shows black, as it would behind a compositor.
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", screen, "-nolisten", "tcp",
                             "-noreset", "-br"], pass_fds=(write,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    if not number.strip():
        proc.kill()
        raise RuntimeError("could not start Xvfb")
    return proc, ":" + number.decode().strip()


def env(**extra):
    e = dict(os.environ, DISPLAY=DISPLAY)
    e.pop("WAYLAND_DISPLAY", None)
    e.update(extra)
    return e


def xwd_data(window):
    """A window's xwd dump with its header, taken again while the window is in the middle of a
    change (Wine now and then shows one at another pixel size for a moment)."""
    for attempt in range(20):
        data = subprocess.run(["xwd", "-silent", "-id", str(window)], env=env(), check=True,
                              capture_output=True).stdout
        h = struct.unpack(">25I", data[:100])
        if h[11] == 32:
            break
        time.sleep(0.1)
    return data, h


def xwd(window):
    """Client-area pixels of a window as rows of (r, g, b)."""
    data, h = xwd_data(window)
    header_size, width, height, byte_order = h[0], h[4], h[5], h[7]
    bpp, bytes_per_line, ncolors = h[11], h[12], h[19]
    masks = h[14:17]
    assert bpp == 32, bpp
    pixels = data[header_size + ncolors * 12:]
    fmt = "<I" if byte_order == 0 else ">I"
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * 4]
        rows.append([tuple((v & m) >> s for m, s in zip(masks, shifts))
                     for (v,) in struct.iter_unpack(fmt, line)])
    return width, height, rows


def xwd_raw(window):
    """A window's client area as (width, height, rows of raw bytes, a packer of (r, g, b))."""
    data, h = xwd_data(window)
    header_size, width, height, byte_order, bytes_per_line, ncolors = h[0], h[4], h[5], h[7], h[12], h[19]
    assert h[11] == 32, h[11]
    masks = h[14:17]
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    pixels = data[header_size + ncolors * 12:]
    fmt = "<I" if byte_order == 0 else ">I"
    rows = [pixels[y * bytes_per_line:y * bytes_per_line + width * 4] for y in range(height)]
    # The byte no colour uses may hold anything (a compositor's alpha): zero it.
    used = masks[0] | masks[1] | masks[2]
    for i in range(4):
        if (used >> (8 * (i if byte_order == 0 else 3 - i))) & 0xFF == 0:
            zero = bytes(width)
            for y in range(height):
                row = bytearray(rows[y])
                row[i::4] = zero
                rows[y] = bytes(row)
    return width, height, rows, lambda c: struct.pack(fmt, sum(v << s for v, s in zip(c, shifts)))


def shows_scaled(shot, frame, scale, left, top):
    """Whether a screenshot shows `frame` with each pixel a scale x scale block at (left, top),
    and black everywhere else."""
    width, height, rows, pack = shot
    black = pack((0, 0, 0))
    cache = {}
    for y in range(height):
        fy = (y - top) // scale if y >= top else -1
        if not 0 <= fy < len(frame):
            if rows[y] != black * width:
                return False
            continue
        if fy not in cache:
            line = b"".join(pack(c) * scale for c in frame[fy])
            cache[fy] = black * left + line + black * (width - left - len(line) // 4)
        if rows[y] != cache[fy]:
            return False
    return True


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    parts = data.split(b"\n", 3)
    w, h = map(int, parts[1].split())
    raw = parts[3]
    return [[tuple(raw[(y * w + x) * 3:(y * w + x) * 3 + 3]) for x in range(w)] for y in range(h)]


class Game:
    """A copy of the game in a folder of its own, so its Quillon.ini lies beside it."""

    def __init__(self, ini=None, exe=None, player=None, launcher=(), args=(), **extra_env):
        if exe is None:
            self.dir = tempfile.mkdtemp(prefix="quillon-window-")
            self.exe = os.path.join(self.dir, "quillon")
            shutil.copy(ARGS.game, self.exe)
        else:
            self.exe = exe
            self.dir = os.path.dirname(os.path.realpath(exe))
        if ini is not None:
            with open(self.ini_path, "w") as f:
                f.write(ini)
        # A launcher (Wine) runs the program in a process of its own: find the window by name.
        self.by_pid = not launcher
        self.proc = subprocess.Popen([*launcher, self.exe, *args], cwd="/", env=env(**extra_env), preexec_fn=player,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.window = None

    @property
    def ini_path(self):
        return os.path.join(self.dir, "Quillon.ini")

    def find_window(self, timeout=20):
        end = time.time() + timeout
        while time.time() < end:
            pid = ["--pid", str(self.proc.pid)] if self.by_pid else []
            out = subprocess.run(["xdotool", "search", "--onlyvisible", *pid, "--name", "^Quillon$"],
                                 env=env(), capture_output=True, text=True).stdout.split()
            if out:
                self.window = int(out[0])
                return self.window
            if self.proc.poll() is not None:
                raise AssertionError("the game ended: " + self.proc.stderr.read().decode())
            time.sleep(0.05)
        raise AssertionError("no window")

    def shot(self):
        return xwd(self.window)

    def wait_for(self, predicate, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            try:
                w, h, rows = self.shot()
            except subprocess.CalledProcessError:  # not mapped yet
                time.sleep(0.03)
                continue
            if predicate(rows):
                return rows
            time.sleep(0.03)
        raise AssertionError("the screen never showed what was expected")

    def key(self, name):
        subprocess.run(["xdotool", "windowfocus", "--sync", str(self.window)], env=env(), check=False)
        subprocess.run(["xdotool", "key", name], env=env(), check=True)

    def start_play(self):
        """Enter on the title, again if a busy machine lost the first one."""
        self.wait_for(lambda r: r[0][0] == (0, 0, 0) and not is_play(r))
        for _ in range(10):
            self.key("Return")
            try:
                return self.wait_for(is_play, timeout=5)
            except AssertionError:
                pass
        raise AssertionError("Enter never started a round")

    def play_to_banner(self, timeout=240):
        """Plays a round to its end, jumping all the time to meet the balls."""
        self.start_play()
        end = time.time() + timeout
        while time.time() < end:
            rows = self.shot()[2]
            if banner_shown(rows):
                return rows
            self.key("Return")
            time.sleep(0.2)
        raise AssertionError("the round never ended")

    def close(self, how="close"):
        """Asks the window to close; the game's exit status, with its stderr kept in self.err."""
        subprocess.run([ARGS.xclose, how, str(self.window)], env=env(), check=True)
        status = self.proc.wait(timeout=30)
        self.err = self.proc.stderr.read().decode()
        if status != 0:
            print(f"exit {status}; stderr: {self.err!r}", file=sys.stderr)
        return status

    def cleanup(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def expected_titles(folder):
    out = tempfile.mkdtemp(prefix="quillon-frames-")
    subprocess.run([ARGS.frames, folder, out], check=True)
    frames = [read_ppm(os.path.join(out, f"title{i}.ppm")) for i in range(8)]
    shutil.rmtree(out)
    return frames


def is_play(rows):
    return rows[100][300] == SKY and rows[270][300] == GROUND


BANNER = None


def banner_shown(rows):
    """The "You Got High Score!" banner at (-1, 12); a coin may cover a little of it."""
    global BANNER
    if BANNER is None:
        out = tempfile.mkdtemp(prefix="quillon-frames-")
        subprocess.run([ARGS.frames, out, out], check=True)
        picture, mask = read_ppm(os.path.join(out, "banner.ppm")), read_ppm(os.path.join(out, "bannerm.ppm"))
        shutil.rmtree(out)
        BANNER = [(x - 1, 12 + y, picture[y][x]) for y in range(len(mask)) for x in range(1, len(mask[0]))
                  if mask[y][x] == (0, 0, 0)]
    if not is_play(rows):
        return False
    return sum(1 for x, y, c in BANNER if rows[y][x] == c) > 0.8 * len(BANNER)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def stored_best(path):
    with open(path) as f:
        for line in f:
            if line.startswith("HighScore="):
                return int(line.split("=", 1)[1])
    return None


def built_in_two_clones(tool, names):
    """Runs tools/TOOL in two fresh clones of the source, a couple of seconds apart, with no
    SOURCE_DATE_EPOCH given; the bytes of each named file, from each."""
    built = []
    for n in (1, 2):
        clone = tempfile.mkdtemp(prefix=f"quillon-clone{n}-")
        try:
            subprocess.run(["git", "clone", "-q", ARGS.source, clone], check=True)
            subprocess.run([os.path.join(clone, "tools", tool)], check=True, stdout=subprocess.DEVNULL,
                           env={k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"})
            files = {}
            for name in names:
                with open(os.path.join(clone, name), "rb") as f:
                    files[name] = f.read()
            built.append(files)
        finally:
            shutil.rmtree(clone, ignore_errors=True)
        time.sleep(2)  # another second on the clock for the second build
    return built


class Games(unittest.TestCase):
    def setUp(self):
        self.games = []

    def tearDown(self):
        for g in self.games:
            g.cleanup()

    def game(self, **kw):
        g = Game(**kw)
        self.games.append(g)
        return g


class RealWindow(Games):
    def test_title_shows_the_stored_best_score_pixel_for_pixel(self):
        g = self.game(ini="[QUILLON]\nHighScore=1250\n")
        g.find_window()
        titles = expected_titles(g.dir)
        g.wait_for(lambda r: True)
        w, h, rows = g.shot()
        self.assertEqual((w, h), (W, H))
        rows = g.wait_for(lambda r: r in titles)
        self.assertIn(rows, titles)
        self.assertEqual(g.close(), 0)
        with open(g.ini_path) as f:
            self.assertEqual(f.read(), "[QUILLON]\nHighScore=1250\n")

    def test_enter_starts_play_and_space_jumps(self):
        g = self.game()
        g.find_window()
        g.wait_for(lambda r: r[0][0] == (0, 0, 0) and not is_play(r))
        g.key("Return")
        rows = g.wait_for(is_play)
        # The car stands on the road and the score line is light grey.
        car = [(x, y) for y in range(225, 241) for x in range(75, 109) if rows[y][x] == BLUE]
        self.assertGreater(len(car), 100)
        grey = sum(1 for y in range(3, 18) for x in range(3, 80) if rows[y][x] == (230, 230, 230))
        self.assertGreater(grey, 20)
        g.key("space")
        g.wait_for(lambda r: is_play(r) and
                   not any(r[y][x] == BLUE for y in range(225, 241) for x in range(75, 109)) and
                   any(r[y][x] == BLUE for y in range(80, 225) for x in range(75, 109)))
        self.assertEqual(g.close(), 0)
        self.assertFalse(os.path.exists(g.ini_path))  # closing mid-round stores nothing

    def test_tour_where_a_player_goes(self):
        ini = "; kept as it is\n[QUILLON]\nHighScore=4096\n"
        g = self.game(ini=ini)
        g.find_window()
        titles = expected_titles(g.dir)
        first = g.wait_for(lambda r: True)
        # Black until the title's first frame, then the title itself, pixel for pixel.
        self.assertTrue(first in titles or all(p == (0, 0, 0) for row in first for p in row))
        g.wait_for(lambda r: r in titles)
        g.key("Return")
        g.wait_for(is_play)
        g.key("space")
        g.wait_for(lambda r: is_play(r) and
                   not any(r[y][x] == BLUE for y in range(225, 241) for x in range(75, 109)))
        g.wait_for(lambda r: is_play(r) and any(r[y][x] == BLUE for y in range(225, 241) for x in range(75, 109)))
        self.assertEqual(g.close(), 0)
        with open(g.ini_path, "rb") as f:
            self.assertEqual(f.read(), ini.encode())
        # A second start still shows that best score.
        again = Game(exe=g.exe)
        self.games.append(again)
        again.find_window()
        again.wait_for(lambda r: r in titles)
        self.assertEqual(again.close(), 0)

    def test_a_larger_best_that_another_copy_stored_meanwhile_stays(self):
        g = self.game(ini="[QUILLON]\nHighScore=100\n")
        g.find_window()
        g.play_to_banner()  # beats the 100 it read at its start
        # Another copy in the same folder stores its larger best during the slow-down.
        larger = "; theirs\n[QUILLON]\nHighScore=1000000\n"
        with open(g.ini_path, "w") as f:
            f.write(larger)
        titles = expected_titles(g.dir)
        g.wait_for(lambda r: r in titles, timeout=30)  # the title comes back with the larger best
        self.assertEqual(g.close(), 0)
        with open(g.ini_path) as f:
            self.assertEqual(f.read(), larger)

    def test_an_accelerated_framebuffer_keeps_the_game_running(self):
        # SDL makes a new X window for a renderer; only the window it has now is the game's.
        g = self.game(SDL_FRAMEBUFFER_ACCELERATION="1")
        g.find_window()
        time.sleep(2)
        self.assertIsNone(g.proc.poll(), g.proc.stderr.read().decode() if g.proc.poll() is not None else "")
        g.find_window()
        titles = expected_titles(g.dir)
        g.wait_for(lambda r: r in titles)
        self.assertEqual(g.close(), 0)

    def test_the_window_says_which_desktop_entry_is_its_own(self):
        g = self.game()
        g.find_window()
        props = subprocess.run(["xprop", "-id", str(g.window), "WM_CLASS", "_NET_WM_ICON"], env=env(),
                               capture_output=True, text=True, check=True).stdout
        self.assertIn('WM_CLASS(STRING) = "org.quillon.Quillon", "org.quillon.Quillon"', props)
        # Each drawn for its size or a whole enlargement of one design (no 48 from the 16's art).
        self.assertEqual(re.findall(r"Icon \((\d+) x \1\)", props), ["16", "32", "64"])
        with open(os.path.join(ARGS.source, "packaging", "quillon.desktop.in")) as f:
            self.assertIn("StartupWMClass=org.quillon.Quillon\n", f.read())
        self.assertEqual(g.close(), 0)

    def test_gamepads_plugged_in_and_out_give_their_own_keys(self):
        # SDL's virtual gamepads, against the real platform in a real window.
        run = subprocess.run([ARGS.pad_check], env=env(), capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("0 failed", run.stdout)

    def test_the_score_line_needs_no_fonts_on_the_machine(self):
        conf = tempfile.NamedTemporaryFile("w", suffix=".conf", delete=False)
        conf.write("<?xml version='1.0'?>\n<fontconfig></fontconfig>\n")
        conf.close()
        try:
            g = self.game(ini="[QUILLON]\nHighScore=-77\n", FONTCONFIG_FILE=conf.name)
            g.find_window()
            titles = expected_titles(g.dir)
            g.wait_for(lambda r: r in titles)
            self.assertEqual(g.close(), 0)
            self.assertEqual(g.err, "")
        finally:
            os.unlink(conf.name)


class TakenAway(Games):
    """However the game is ended from outside, the score the banner announced is kept."""

    def banner_then(self, end):
        g = self.game()
        g.find_window()
        g.play_to_banner()
        status = end(g)
        return g, status

    def test_a_window_destroyed_by_another_program(self):
        g, status = self.banner_then(lambda g: g.close("destroy"))
        self.assertEqual(status, 0)
        self.assertEqual(g.err, "")
        self.assertGreater(stored_best(g.ini_path), 0)

    def test_a_lost_display(self):
        g, status = self.banner_then(lambda g: g.close("kill"))
        self.assertGreater(stored_best(g.ini_path), 0)
        self.assertEqual(status, 1)
        self.assertEqual(g.err, "quillon: lost the connection to the display\n")

    def test_hangup_interrupt_and_terminate_end_it_as_a_close_does(self):
        def hang_up(g):
            g.proc.send_signal(signal.SIGHUP)
            return g.proc.wait(timeout=10)
        g, status = self.banner_then(hang_up)
        self.assertEqual(status, 0)
        self.assertGreater(stored_best(g.ini_path), 0)
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            g = self.game()
            g.find_window()
            g.wait_for(lambda r: r[0][0] == (0, 0, 0) and not is_play(r))
            g.proc.send_signal(sig)
            self.assertEqual(g.proc.wait(timeout=10), 0, sig)
            self.assertFalse(os.path.exists(g.ini_path))


def car_top(shot, scale, left=0, top=0):
    """The highest screen row of the car's blue in a scaled picture, in game pixels; None if none."""
    width, height, rows, pack = shot
    blue = pack(BLUE)
    x0, x1 = left + 75 * scale, left + 109 * scale
    for y in range(max(0, top), min(height, top + H * scale)):
        line = rows[y][x0 * 4:x1 * 4]
        at = line.find(blue)
        while at >= 0 and at % 4:
            at = line.find(blue, at + 1)
        if at >= 0:
            return (y - top) // scale
    return None


class Screens(Games):
    """A 2560 x 1440 screen whose desktop asks for twice the size (Xft.dpi: 192)."""

    def wait_scaled(self, g, scale, left=0, top=0, timeout=30):
        titles = expected_titles(g.dir)
        end = time.time() + timeout
        while time.time() < end:
            try:
                shot = xwd_raw(g.window)
            except subprocess.CalledProcessError:
                shot = None
            if shot and any(shows_scaled(shot, t, scale, left, top) for t in titles):
                return shot
            time.sleep(0.05)
        raise AssertionError(f"the title never showed at scale {scale} at ({left}, {top})")

    def highest(self, g, key, scale):
        """Presses a key in play and follows the car: the highest row it reaches."""
        g.key(key)
        best, end = H, time.time() + 4
        while time.time() < end:
            row = car_top(xwd_raw(g.window), scale)
            if row is not None:
                best = min(best, row)
        return best

    def test_the_desktops_scale_doubles_every_pixel_and_each_key_keeps_its_jump(self):
        g = self.game(ini="[QUILLON]\nHighScore=1250\n")
        g.find_window()
        shot = self.wait_scaled(g, 2)
        self.assertEqual(shot[:2], (850, 600))
        g.key("Return")
        g.wait_for(lambda r: r[200][600] == SKY and r[540][600] == GROUND)
        high = self.highest(g, "Return", 2)
        time.sleep(1)
        low = self.highest(g, "space", 2)
        self.assertLess(high, 40)  # the high jump rises 210 pixels, the low one 136
        self.assertTrue(70 < low < 110, low)
        self.assertEqual(g.close(), 0)

    def test_the_scale_option(self):
        g = self.game(args=("--scale", "3"))
        g.find_window()
        self.assertEqual(self.wait_scaled(g, 3)[:2], (1275, 900))
        self.assertEqual(g.close(), 0)
        # Too large for this screen; not a whole number at all, said with or without a display.
        no_display = {k: v for k, v in env().items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        for bad, words, environments in (("5", "from 1 to 4", (env(),)), ("0", "from 1 up", (env(), no_display)),
                                         ("two", "from 1 up", (env(), no_display)),
                                         ("-1", "from 1 up", (env(), no_display)),
                                         (None, "needs a whole number", (env(), no_display))):
            for e in environments:
                args = [ARGS.game, "--scale"] + ([bad] if bad is not None else [])
                run = subprocess.run(args, env=e, capture_output=True, text=True, timeout=30)
                self.assertEqual(run.returncode, 2, bad)
                self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
                self.assertIn(words, run.stderr)

    def test_a_size_forced_from_outside_shows_the_picture_centred(self):
        g = self.game()
        g.find_window()
        self.wait_scaled(g, 2)
        subprocess.run(["xdotool", "windowsize", "--sync", str(g.window), "1000", "700"], env=env(), check=True)
        self.wait_scaled(g, 2, 75, 50)
        subprocess.run(["xdotool", "windowsize", "--sync", str(g.window), "1400", "999"], env=env(), check=True)
        self.wait_scaled(g, 3, 62, 49)
        self.assertEqual(g.close(), 0)

    def test_full_screen_on_a_bare_x_server_leaves_the_picture_whole(self):
        # No window manager: the game's own requests are all there is.
        # No window manager: the window takes the screen itself, and gives it back whole.
        g = self.game()
        g.find_window()
        self.wait_scaled(g, 2)
        for leave in ("F11", "Escape"):
            g.key("F11")
            self.assertEqual(self.wait_scaled(g, 4, 430, 120)[:2], (2560, 1440))
            g.key(leave)
            self.assertEqual(self.wait_scaled(g, 2)[:2], (850, 600))
        g.key("Escape")  # in a window, nothing to leave
        time.sleep(0.5)
        self.assertEqual(self.wait_scaled(g, 2)[:2], (850, 600))
        self.assertEqual(g.close(), 0)

    def test_f11_fills_the_screen_and_f11_or_escape_leaves_it(self):
        # Full screen is the window manager's to give.
        wm = subprocess.Popen(["openbox"], env=env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(1)
            g = self.game()
            g.find_window()
            self.wait_scaled(g, 2)
            for leave in ("F11", "Escape"):
                g.key("F11")
                shot = self.wait_scaled(g, 4, 430, 120)
                self.assertEqual(shot[:2], (2560, 1440))
                g.key(leave)
                self.assertEqual(self.wait_scaled(g, 2)[:2], (850, 600))
            g.key("Return")  # the keys still play
            g.wait_for(lambda r: r[200][600] == SKY and r[540][600] == GROUND)
            self.assertEqual(g.close(), 0)
        finally:
            wm.terminate()
            wm.wait()
            # What the window manager left on the root window would still speak for it.
            names = subprocess.run(["xprop", "-root"], env=env(), capture_output=True, text=True).stdout
            for name in {line.split("(")[0] for line in names.splitlines() if line.startswith("_NET_")}:
                subprocess.run(["xprop", "-root", "-remove", name], env=env(), check=False)


class Wayland(Games):
    """The game as a Wayland client of its own, in a weston nested in the Xvfb."""

    def start_weston(self, scale=1):
        """A weston 520 x 400 across in its own units, its output at `scale` device pixels each."""
        self.runtime = tempfile.mkdtemp(prefix="quillon-xdg-")
        os.chmod(self.runtime, 0o700)
        log = os.path.join(self.runtime, "weston.log")
        with open(log, "w") as f:
            self.weston = subprocess.Popen(["weston", "--backend=x11-backend.so", "--width=520", "--height=400",
                                            f"--scale={scale}", "--socket=quillon-test", "--idle-time=0"],
                                           env=env(XDG_RUNTIME_DIR=self.runtime), stdout=f, stderr=f)
        self.addCleanup(self.stop_weston, self.weston, self.runtime)
        # Its log names the X window its output shows in.
        end = time.time() + 30
        self.screen = None
        while self.screen is None and time.time() < end:
            with open(log) as f:
                found = [line.split("window id ")[1].split()[0] for line in f if "window id " in line]
            if found and os.path.exists(os.path.join(self.runtime, "quillon-test")):
                self.screen = int(found[0])
            time.sleep(0.1)
        self.assertIsNotNone(self.screen, "weston did not start")

    @staticmethod
    def stop_weston(weston, runtime):
        weston.terminate()
        weston.wait()
        shutil.rmtree(runtime, ignore_errors=True)

    def wayland_game(self, **extra):
        g = self.game(**{"DISPLAY": "", "WAYLAND_DISPLAY": "quillon-test", "XDG_RUNTIME_DIR": self.runtime, **extra})
        g.window = self.screen  # what it shows is seen through weston's own window
        return g

    def find_title(self, g, scale=1, timeout=30):
        """Where in weston's output the title shows, each pixel a scale x scale block; its top-left corner."""
        titles = expected_titles(g.dir)
        # The title's busiest row above the prompt finds it; all of it above the prompt proves it.
        key = max(range(235), key=lambda r: len(set(titles[0][r])))
        # weston draws its pointer over whatever lies under it: out of the way with it.
        subprocess.run(["xdotool", "mousemove", "--window", str(self.screen), "2", "2"], env=env(), check=False)
        end = time.time() + timeout
        while time.time() < end:
            width, height, rows, pack = xwd_raw(self.screen)
            expect = [b"".join(pack(c) * scale for c in titles[0][r]) for r in range(235)]
            for y in range(key * scale, height - H * scale + key * scale):
                at = rows[y].find(expect[key])
                if at >= 0 and at % 4 == 0:
                    top = y - key * scale
                    if all(rows[top + r][at:at + W * 4 * scale] == expect[r // scale] for r in range(235 * scale)):
                        return at // 4, top
            if g.proc.poll() is not None:
                raise AssertionError("the game ended: " + g.proc.stderr.read().decode())
            time.sleep(0.1)
        raise AssertionError("the title never showed in weston")

    def test_the_title_shows_and_each_key_gives_its_own_jump(self):
        # Asked for; chosen for want of X; and chosen over X, on an output at scale 2, where the
        # picture must come as a buffer twice the window's size: 2 x 2 blocks of the title's own
        # colours, where the compositor's enlargement would smooth them.
        for scale, driver in ((1, {"SDL_VIDEODRIVER": "wayland"}), (1, {}), (2, {"DISPLAY": DISPLAY})):
            self.start_weston(scale)
            g = self.wayland_game(**driver)
            x, y = self.find_title(g, scale)
            if "DISPLAY" in driver:
                found = subprocess.run(["xdotool", "search", "--pid", str(g.proc.pid)], env=env(),
                                       capture_output=True, text=True).stdout.split()
                self.assertEqual(found, [], "an X window, not a Wayland one")
            subprocess.run(["xdotool", "windowfocus", "--sync", str(self.screen)], env=env(), check=False)
            # A click on the picture gives it weston's keyboard focus, whatever else took it.
            subprocess.run(["xdotool", "mousemove", "--window", str(self.screen), str(x + 5), str(y + 5), "click", "1"],
                           env=env(), check=False)
            for _ in range(20):
                subprocess.run(["xdotool", "key", "Return"], env=env(), check=True)
                time.sleep(0.5)
                rows = xwd(self.screen)[2]
                if rows[y + 100 * scale][x + 300 * scale] == SKY and rows[y + 270 * scale][x + 300 * scale] == GROUND:
                    break
            else:
                self.fail("Enter never started a round")
            tops = {}
            for key in ("Return", "space"):
                subprocess.run(["xdotool", "key", key], env=env(), check=True)
                best, end = H, time.time() + 4
                while time.time() < end:
                    row = car_top(xwd_raw(self.screen), scale, x, y)
                    if row is not None:
                        best = min(best, row)
                tops[key] = best
                time.sleep(1)
            self.assertLess(tops["Return"], 40)
            self.assertTrue(70 < tops["space"] < 110, tops)
            g.proc.terminate()
            self.assertEqual(g.proc.wait(timeout=10), 0)
            self.doCleanups()

    def test_the_scale_option_counts_device_pixels(self):
        # On an output at scale 2, --scale 1 is a window half as wide in the output's units.
        self.start_weston(2)
        g = self.wayland_game(args=("--scale", "1"))
        self.find_title(g, 1)

    def test_nothing_to_draw_with_is_one_line_and_a_failure(self):
        # No EGL for Wayland to draw through.
        self.start_weston()
        g = self.wayland_game(SDL_VIDEODRIVER="wayland", SDL_VIDEO_EGL_DRIVER="/nonexistent",
                              SDL_VIDEO_GL_DRIVER="/nonexistent")
        status = g.proc.wait(timeout=30)
        err = g.proc.stderr.read().decode()
        self.assertEqual(status, 1)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertIn("window", err)


PLAYER = 65534  # "nobody", when the tests run as root


def become_player():
    if os.geteuid() == 0:
        os.setgroups([])
        os.setgid(PLAYER)
        os.setuid(PLAYER)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


class Packaged(Games):
    """The Debian package, as tools/package builds it, checked and played unpacked."""

    @classmethod
    def setUpClass(cls):
        subprocess.run([os.path.join(ARGS.source, "tools", "package")], check=True, stdout=subprocess.DEVNULL)
        debs = [f for f in os.listdir(os.path.join(ARGS.source, "build", "dist")) if f.endswith(".deb")]
        assert len(debs) == 1, debs
        cls.deb = os.path.join(ARGS.source, "build", "dist", debs[0])
        cls.root = tempfile.mkdtemp(prefix="quillon-deb-")
        os.chmod(cls.root, 0o755)
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def test_two_clones_in_two_folders_build_the_same_bytes(self):
        first, second = built_in_two_clones("package", ["build/dist/" + os.path.basename(self.deb)])
        self.assertEqual(first, second)

    def test_lintian_finds_no_errors(self):
        run = subprocess.run(["lintian", "--fail-on", "error", self.deb], capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertNotIn("E: ", run.stdout)

    def test_the_desktop_entry_and_the_metadata_validate(self):
        share = os.path.join(self.root, "usr", "share")
        run = subprocess.run(["desktop-file-validate", os.path.join(share, "applications", "org.quillon.Quillon.desktop")],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        run = subprocess.run(["appstreamcli", "validate", "--no-net",
                              os.path.join(share, "metainfo", "org.quillon.Quillon.metainfo.xml")],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)

    def test_contents(self):
        def has(path):
            return os.path.exists(os.path.join(self.root, path))
        for path in ("usr/games/quillon", "usr/share/man/man6/quillon.6.gz", "usr/share/doc/quillon/copyright",
                     "usr/share/doc/quillon/changelog.gz"):
            self.assertTrue(has(path), path)
        for n in (16, 32, 48, 64, 128, 256):
            self.assertEqual(png_size(os.path.join(self.root, f"usr/share/icons/hicolor/{n}x{n}/apps/quillon.png")), (n, n))
        depends = subprocess.run(["dpkg-deb", "-f", self.deb, "Depends"], capture_output=True, text=True).stdout
        self.assertIn("libsdl2", depends)
        self.assertNotIn("fontconfig", depends)
        self.assertNotIn("freetype", depends)

    def test_root_playing_the_package_keeps_nothing_beside_the_program(self):
        if os.geteuid() != 0:
            self.skipTest("needs root")
        home = tempfile.mkdtemp(prefix="quillon-root-")
        games = os.path.join(self.root, "usr", "games")
        planted = os.path.join(games, "Quillon.ini")
        with open(planted, "w") as f:
            f.write("[QUILLON]\nHighScore=5000\n")
        try:
            g = Game(exe=os.path.join(games, "quillon"), HOME=home, XDG_DATA_HOME="")
            self.games.append(g)
            g.dir = home
            g.find_window()
            none = expected_titles(home)
            g.wait_for(lambda r: r in none)  # a best of 0: the file beside it is nobody's
            g.play_to_banner()
            g.wait_for(lambda r: not is_play(r), timeout=20)
            self.assertEqual(g.close(), 0)
            self.assertGreater(stored_best(os.path.join(home, ".local", "share", "quillon", "Quillon.ini")), 0)
            with open(planted) as f:
                self.assertEqual(f.read(), "[QUILLON]\nHighScore=5000\n")
            self.assertEqual(sorted(os.listdir(games)), ["Quillon.ini", "quillon"])
        finally:
            os.unlink(planted)
            shutil.rmtree(home, ignore_errors=True)

    def test_a_player_keeps_a_new_best_across_two_runs(self):
        home = tempfile.mkdtemp(prefix="quillon-home-")
        os.chmod(home, 0o755)
        if os.geteuid() == 0:
            os.chown(home, PLAYER, PLAYER)
        try:
            exe = os.path.join(self.root, "usr", "games", "quillon")
            g = Game(exe=exe, player=become_player, HOME=home, XDG_DATA_HOME="")
            self.games.append(g)
            g.dir = home  # what cleanup may remove
            g.find_window()
            g.play_to_banner()
            g.wait_for(lambda r: not is_play(r), timeout=20)  # the round ended and the title is back
            self.assertEqual(g.close(), 0)
            own = os.path.join(home, ".local", "share", "quillon")
            best = stored_best(os.path.join(own, "Quillon.ini"))
            self.assertGreater(best, 0)
            self.assertEqual(os.listdir(os.path.dirname(exe)), ["quillon"])
            again = Game(exe=exe, player=become_player, HOME=home, XDG_DATA_HOME="")
            self.games.append(again)
            again.dir = home
            again.find_window()
            titles = expected_titles(own)
            again.wait_for(lambda r: r in titles)
            self.assertEqual(again.close(), 0)
        finally:
            shutil.rmtree(home, ignore_errors=True)


def wine_program():
    """Debian's wine64 keeps its program off the PATH."""
    listing = subprocess.run(["dpkg", "-L", "wine64"], capture_output=True, text=True, check=True).stdout
    return next(line for line in listing.splitlines() if line.endswith("/wine64") and "/bin" not in line
                and os.path.isfile(line))


class Wine(Games):
    """quillon.exe, cross-built, in Wine on the same Xvfb; and the in-process suite as a Windows program."""

    @classmethod
    def setUpClass(cls):
        cls.wine = wine_program()
        cls.home = tempfile.mkdtemp(prefix="quillon-wine-")
        os.chmod(cls.home, 0o755)
        if os.geteuid() == 0:
            os.chown(cls.home, PLAYER, PLAYER)
        cls.prefix = os.path.join(cls.home, "prefix")
        cls.env = dict(WINEPREFIX=cls.prefix, WINEDEBUG="-all", HOME=cls.home, WINEDLLOVERRIDES="mscoree,mshtml=")
        # The player's own Wine, made once: the folder tests need someone whom a folder can refuse.
        # Wine's first start in a prefix now and then fails on a busy machine; a second one does not.
        for attempt in range(3):
            boot = subprocess.run([cls.wine, "wineboot", "-i"], env=env(**cls.env), preexec_fn=become_player,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            if boot.returncode == 0:
                break
            subprocess.run([os.path.join(os.path.dirname(cls.wine), "wineserver"), "-k"], env=env(**cls.env),
                           preexec_fn=become_player, stderr=subprocess.DEVNULL)
        else:
            raise RuntimeError(f"wineboot failed with status {boot.returncode}")

    @classmethod
    def tearDownClass(cls):
        subprocess.run([os.path.join(os.path.dirname(cls.wine), "wineserver"), "-k"], env=env(**cls.env),
                       preexec_fn=become_player, stderr=subprocess.DEVNULL)
        shutil.rmtree(cls.home, ignore_errors=True)

    def local_app_data(self):
        user = "nobody" if os.geteuid() == 0 else os.environ.get("USER", "")
        return os.path.join(self.prefix, "drive_c", "users", user, "AppData", "Local", "Quillon")

    def exe_game(self, folder, ini=None, args=()):
        # Each test starts without the player's own copy: once there, it is the one the game reads.
        shutil.rmtree(self.local_app_data(), ignore_errors=True)
        os.makedirs(folder, exist_ok=True)
        exe = os.path.join(folder, "quillon.exe")
        shutil.copy(os.path.join(ARGS.windows, "platform", "windows", "quillon.exe"), exe)
        if ini is not None:
            path = os.path.join(folder, "Quillon.ini")
            with open(path, "w", newline="") as f:
                f.write(ini)
            if os.geteuid() == 0:
                os.chown(path, PLAYER, PLAYER)  # the player's own file, as they'd have it
        g = Game(exe=exe, player=become_player, launcher=[self.wine], args=args, **self.env)
        self.games.append(g)
        return g

    def player_folder(self):
        folder = tempfile.mkdtemp(prefix="quillon-exe-", dir=self.home)
        os.chmod(folder, 0o755)
        if os.geteuid() == 0:
            os.chown(folder, PLAYER, PLAYER)
        return folder

    def test_the_in_process_suite_passes_as_a_windows_program(self):
        tests = os.path.join(ARGS.windows, "tests")
        run = subprocess.run([self.wine, os.path.join(tests, "quillon_tests.exe")], cwd=tests, env=env(**self.env),
                             preexec_fn=become_player,
                             capture_output=True, text=True, timeout=600)
        self.assertEqual(run.returncode, 0, run.stdout[-3000:] + run.stderr[-2000:])
        self.assertIn("[  PASSED  ]", run.stdout)

    def test_title_pixels_keys_and_a_close_mid_round(self):
        ini = "; mine\r\n[QUILLON]\r\nHighScore=1250\r\n[Other]\r\nx=1\r\n"
        g = self.exe_game(self.player_folder(), ini)
        g.find_window(timeout=60)
        titles = expected_titles(g.dir)
        # Wine may put a frame on the screen in bands: each pixel is black or the title's own.
        first = g.wait_for(lambda r: True)
        self.assertTrue(all(p == (0, 0, 0) or p == titles[0][y][x] or p == titles[7][y][x] or y >= 235
                            for y, row in enumerate(first) for x, p in enumerate(row)))
        w, h, _ = g.shot()
        self.assertEqual((w, h), (W, H))
        g.wait_for(lambda r: r in titles)
        g.key("Return")
        g.wait_for(is_play)
        g.key("space")
        g.wait_for(lambda r: is_play(r) and not any(r[y][x] == BLUE for y in range(225, 241) for x in range(75, 109))
                   and any(r[y][x] == BLUE for y in range(60, 225) for x in range(75, 109)))
        self.assertEqual(g.close(), 0)
        with open(g.ini_path, "rb") as f:
            self.assertEqual(f.read(), ini.encode())

    def test_a_round_to_its_end_stores_the_new_best_and_keeps_foreign_lines(self):
        g = self.exe_game(self.player_folder(), "; mine\r\n[QUILLON]\r\nHighScore=0\r\n[Other]\r\nx=1\r\n")
        g.find_window(timeout=60)
        g.play_to_banner()
        g.wait_for(lambda r: not is_play(r))
        self.assertEqual(g.close(), 0)
        with open(g.ini_path, "rb") as f:
            text = f.read().decode()
        best = stored_best(g.ini_path)
        self.assertGreater(best, 0)
        self.assertEqual(text, f"; mine\r\n[QUILLON]\r\nHighScore={best}\r\n[Other]\r\nx=1\r\n")
        self.assertEqual(sorted(os.listdir(g.dir)), ["Quillon.ini", "quillon.exe"])

    def test_a_larger_best_that_another_copy_stored_meanwhile_stays(self):
        g = self.exe_game(self.player_folder(), "[QUILLON]\r\nHighScore=100\r\n")
        g.find_window(timeout=60)
        g.play_to_banner()
        larger = "; theirs\r\n[QUILLON]\r\nHighScore=1000000\r\n"
        with open(g.ini_path, "w", newline="") as f:
            f.write(larger)
        titles = expected_titles(g.dir)
        g.wait_for(lambda r: r in titles, timeout=60)
        self.assertEqual(g.close(), 0)
        with open(g.ini_path, newline="") as f:
            self.assertEqual(f.read(), larger)

    def test_a_folder_the_player_cannot_write_keeps_the_best_in_local_app_data(self):
        # As under Program Files: a folder and a file that belong to someone else.
        if os.geteuid() != 0:
            self.skipTest("needs root to give the folder and its file to someone else")
        folder = tempfile.mkdtemp(prefix="quillon-locked-", dir=self.home)
        os.chmod(folder, 0o755)
        ini = "; theirs\r\n[QUILLON]\r\nHighScore=0\r\n"
        with open(os.path.join(folder, "Quillon.ini"), "w", newline="") as f:
            f.write(ini)
        g = self.exe_game(folder)
        g.find_window(timeout=60)
        g.play_to_banner()
        g.wait_for(lambda r: not is_play(r))
        self.assertEqual(g.close(), 0)
        with open(g.ini_path, "rb") as f:
            self.assertEqual(f.read(), ini.encode())
        own = os.path.join(self.local_app_data(), "Quillon.ini")
        with open(own, "rb") as f:
            text = f.read().decode()
        self.assertRegex(text, r"^; theirs\r\n\[QUILLON\]\r\nHighScore=[1-9][0-9]*\r\n$")


def pe_resources(path):
    """A Windows program's resources: {(type, id): bytes}, read from its .rsrc section."""
    with open(path, "rb") as f:
        exe = f.read()
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    sections, optional = struct.unpack_from("<H", exe, pe + 6)[0], struct.unpack_from("<H", exe, pe + 20)[0]
    table = pe + 24 + optional
    for i in range(sections):
        name, _, rva, _, raw = struct.unpack_from("<8sIIII", exe, table + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            break
    else:
        return {}

    def entries(offset):
        named, ids = struct.unpack_from("<HH", exe, raw + offset + 12)
        for k in range(named + ids):
            key, target = struct.unpack_from("<II", exe, raw + offset + 16 + 8 * k)
            yield key, target

    found = {}
    for kind, t in entries(0):
        for ident, n in entries(t & 0x7FFFFFFF):
            for _, leaf in entries(n & 0x7FFFFFFF):
                data_rva, size = struct.unpack_from("<II", exe, raw + leaf)
                found[(kind, ident)] = exe[raw + data_rva - rva:raw + data_rva - rva + size]
    return found


class WinePackages(Wine):
    """What Windows' own tools show of quillon.exe, its zip and its installer."""

    test_the_in_process_suite_passes_as_a_windows_program = None
    test_title_pixels_keys_and_a_close_mid_round = None
    test_a_larger_best_that_another_copy_stored_meanwhile_stays = None
    test_a_round_to_its_end_stores_the_new_best_and_keeps_foreign_lines = None
    test_a_folder_the_player_cannot_write_keeps_the_best_in_local_app_data = None

    def test_the_programs_icon_version_and_manifest(self):
        found = pe_resources(os.path.join(ARGS.windows, "platform", "windows", "quillon.exe"))
        groups = [data for (kind, _), data in found.items() if kind == 14]
        self.assertEqual(len(groups), 1)
        count = struct.unpack_from("<H", groups[0], 4)[0]
        sizes = sorted((groups[0][6 + 14 * i] or 256) for i in range(count))
        self.assertEqual(sizes, [16, 20, 24, 32, 40, 48, 64, 256])
        icons = {ident: data for (kind, ident), data in found.items() if kind == 3}
        # The 256 px one a PNG with alpha, as its 32 bits say; every other drawn to its edges
        # (no smaller art on a transparent margin).
        pngs = [data for data in icons.values() if data.startswith(b"\x89PNG")]
        self.assertEqual(len(pngs), 1)
        self.assertEqual(struct.unpack_from(">IIBB", pngs[0], 16), (256, 256, 8, 6))
        for data in icons.values():
            if not data.startswith(b"\x89PNG"):
                size = struct.unpack_from("<I", data, 4)[0]
                colours = data[40:40 + size * size * 4]
                self.assertTrue(all(colours[i + 3] == 0xFF for i in range(0, len(colours), 4)), size)
        self.assertEqual(len([k for k in found if k[0] == 24]), 1)  # one manifest
        version = next(data for (kind, _), data in found.items() if kind == 16).decode("utf-16-le", "replace")
        for key, value in (("FileDescription", "Quillon"), ("ProductName", "Quillon"),
                           ("OriginalFilename", "quillon.exe"), ("CompanyName", "The Quillon developers"),
                           ("FileVersion", "1.0"), ("ProductVersion", "1.0")):
            self.assertRegex(version, key + r"\x00+" + re.escape(value) + r"\x00", key)

    def test_two_clones_in_two_folders_build_the_same_windows_files(self):
        first, second = built_in_two_clones("windows", ["build/windows/platform/windows/quillon.exe",
                                                        "build/dist/quillon-windows.zip", "build/dist/quillon-setup-1.0.exe"])
        for name in first:
            self.assertEqual(first[name], second[name], name)

    def test_the_zip_has_its_folder_and_a_readme_that_says_extract_first(self):
        import zipfile
        with zipfile.ZipFile(os.path.join(ARGS.source, "build", "dist", "quillon-windows.zip")) as z:
            self.assertEqual(sorted(z.namelist()), ["Quillon/", "Quillon/README.txt", "Quillon/quillon.exe"])
            readme = z.read("Quillon/README.txt").decode()
        self.assertNotIn("\n", readme.replace("\r\n", ""))
        self.assertNotIn("\n#", readme)  # only the zip's own paragraphs, without their marks
        self.assertNotIn("Start it from the Start menu", readme)
        for words in ("Extract first", "More info", "Run anyway", "Quillon 1.0", "%LOCALAPPDATA%", "remove everything"):
            self.assertIn(words, readme)

    def test_upgrades_and_uninstalls_wait_for_the_running_game_and_keep_the_best(self):
        run = lambda *a: subprocess.run([self.wine, *a], env=env(**self.env), preexec_fn=become_player,
                                        capture_output=True, text=True, timeout=300)
        built = os.path.join(ARGS.source, "build", "dist", "quillon-setup-1.0.exe")
        found = pe_resources(built)
        version = next(data for (kind, _), data in found.items() if kind == 16).decode("utf-16-le", "replace")
        for key, value in (("OriginalFilename", "quillon-setup-1.0.exe"), ("InternalName", "quillon-setup"),
                           ("ProductName", "Quillon"), ("FileVersion", "1.0")):
            self.assertRegex(version, key + r"\x00+" + re.escape(value) + r"\x00", key)
        # The next version: the same files, its program told apart by a byte past its end.
        staged = tempfile.mkdtemp(prefix="quillon-next-", dir=self.home)
        for name in os.listdir(os.path.join(ARGS.source, "build", "windows", "installer")):
            shutil.copy(os.path.join(ARGS.source, "build", "windows", "installer", name), staged)
        with open(os.path.join(staged, "quillon.exe"), "ab") as f:
            f.write(b"next")
        next_exe = read_bytes(os.path.join(staged, "quillon.exe"))
        setup, upgrade = os.path.join(self.home, "quillon-setup-1.0.exe"), os.path.join(self.home, "quillon-setup-1.1.exe")
        shutil.copy(built, setup)
        subprocess.run(["makensis", "-V1", "-DVERSION=1.1", "-DSOURCE=" + staged, "-DOUTFILE=" + upgrade,
                        os.path.join(ARGS.source, "packaging", "windows", "quillon.nsi")], check=True)
        for path in (self.home, setup, upgrade):
            if os.geteuid() == 0:
                os.chown(path, PLAYER, PLAYER)

        # Into a folder of the player's choosing.
        self.assertEqual(run(setup, "/S", "/D=C:\\Games\\Quillon").returncode, 0)
        home = os.path.join(self.prefix, "drive_c", "Games", "Quillon")
        self.assertEqual(sorted(os.listdir(home)), ["README.txt", "quillon.exe", "uninstall.exe"])
        with open(os.path.join(home, "README.txt"), "rb") as f:
            readme = f.read().decode()
        for words in ("Quillon 1.0", "Settings > Apps", "installed", "Where the best score lives"):
            self.assertIn(words, readme)
        self.assertNotIn("Extract first", readme)
        local = os.path.dirname(self.local_app_data())
        menu = os.path.join(os.path.dirname(local), "Roaming", "Microsoft", "Windows", "Start Menu", "Programs")
        with open(os.path.join(menu, "Quillon.lnk"), "rb") as f:
            self.assertIn("Jump the broken car".encode("utf-16-le"), f.read())
        key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillon"
        entry = run("reg", "query", key).stdout
        for words in ("DisplayName", "DisplayVersion    REG_SZ    1.0", "Publisher", "DisplayIcon", "EstimatedSize",
                      "C:\\Games\\Quillon"):
            self.assertIn(words, entry)
        with open(os.path.join(home, "Quillon.ini"), "w") as f:
            f.write("[QUILLON]\r\nHighScore=777\r\n")
        first_exe = read_bytes(os.path.join(home, "quillon.exe"))

        def start():
            g = Game(exe=os.path.join(home, "quillon.exe"), player=become_player, launcher=[self.wine], **self.env)
            self.games.append(g)
            g.find_window(timeout=60)
            return g

        def installed():
            return sorted(os.listdir(home)), read_bytes(os.path.join(home, "quillon.exe")), \
                run("reg", "query", key).stdout

        # While the game runs, neither the next version nor the uninstaller touches a thing.
        g = start()
        before = installed()
        began = time.time()
        self.assertNotEqual(run(upgrade, "/S").returncode, 0)
        self.assertGreater(time.time() - began, 5)  # it waited for the player first
        self.assertNotEqual(run(os.path.join(home, "uninstall.exe"), "/S", "_?=C:\\Games\\Quillon").returncode, 0)
        self.assertEqual(installed(), before)
        self.assertEqual(before[1], first_exe)
        self.assertEqual(g.close(), 0)

        # Closed: the next version goes into the chosen folder, the best kept.
        self.assertEqual(run(upgrade, "/S").returncode, 0)
        self.assertEqual(read_bytes(os.path.join(home, "quillon.exe")), next_exe)
        self.assertFalse(os.path.exists(os.path.join(local, "Programs", "Quillon")))
        self.assertIn("DisplayVersion    REG_SZ    1.1", run("reg", "query", key).stdout)
        self.assertEqual(stored_best(os.path.join(home, "Quillon.ini")), 777)

        # Uninstalled as Settings does it: the program, its shortcut and entry go; the best stays.
        g = start()
        g.wait_for(lambda r: r in expected_titles(home), timeout=60)
        self.assertEqual(g.close(), 0)
        run(os.path.join(home, "uninstall.exe"), "/S")
        subprocess.run([os.path.join(os.path.dirname(self.wine), "wineserver"), "-w"], env=env(**self.env),
                       preexec_fn=become_player, timeout=120)
        self.assertEqual(sorted(os.listdir(home)), ["Quillon.ini"])
        self.assertFalse(os.path.exists(os.path.join(menu, "Quillon.lnk")))
        self.assertNotIn("DisplayName", run("reg", "query", key).stdout)


class WineScreens(Wine):
    """quillon.exe on a 2560 x 1440 screen at 96, 144 and 192 DPI."""

    # Only these, not the ones it inherits.
    test_the_in_process_suite_passes_as_a_windows_program = None
    test_title_pixels_keys_and_a_close_mid_round = None
    test_a_larger_best_that_another_copy_stored_meanwhile_stays = None
    test_a_round_to_its_end_stores_the_new_best_and_keeps_foreign_lines = None
    test_a_folder_the_player_cannot_write_keeps_the_best_in_local_app_data = None

    def set_dpi(self, dpi):
        for key in (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts"):
            subprocess.run([self.wine, "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                           env=env(**self.env), preexec_fn=become_player, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=True)
        # Wine reads it as a program starts.
        subprocess.run([os.path.join(os.path.dirname(self.wine), "wineserver"), "-w"], env=env(**self.env),
                       preexec_fn=become_player, timeout=60)

    def started(self, dpi, *args):
        self.set_dpi(dpi)
        g = self.exe_game(self.player_folder(), args=args)
        g.find_window(timeout=60)
        return g

    def test_each_dpi_gives_its_whole_scale_and_the_keys_their_jumps(self):
        # 144 DPI is 1.5: it rounds up to 2, which fits this screen.
        icon_sizes = {96: ["32", "16"], 192: ["64", "32"]}
        for dpi, scale in ((96, 1), (144, 2), (192, 2)):
            g = self.started(dpi)
            shot = Screens.wait_scaled(self, g, scale, timeout=60)
            self.assertEqual(shot[:2], (W * scale, H * scale), dpi)
            if dpi in icon_sizes:
                # The program's own icons, at the sizes this screen asks for, not ones drawn in code.
                props = subprocess.run(["xprop", "-id", str(g.window), "_NET_WM_ICON"], env=env(),
                                       capture_output=True, text=True, check=True).stdout
                self.assertEqual(re.findall(r"Icon \((\d+) x", props), icon_sizes[dpi], dpi)
            if dpi == 192:
                g.key("Return")
                g.wait_for(lambda r: r[200][600] == SKY and r[540][600] == GROUND)
                high = Screens.highest(self, g, "Return", 2)
                time.sleep(1)
                low = Screens.highest(self, g, "space", 2)
                self.assertLess(high, 40)
                self.assertTrue(70 < low < 110, low)
            self.assertEqual(g.close(), 0)

    def test_the_scale_option_and_full_screen(self):
        # 4 is the largest that fits this screen with the window's frame, even the wider frame of
        # 192 DPI; 5 is taller than the screen.
        g = self.started(192, "--scale", "4")
        self.assertEqual(Screens.wait_scaled(self, g, 4, timeout=60)[:2], (1700, 1200))
        for leave in ("F11", "Escape"):
            g.key("F11")
            self.assertEqual(Screens.wait_scaled(self, g, 4, 430, 120, timeout=30)[:2], (2560, 1440))
            g.key(leave)
            self.assertEqual(Screens.wait_scaled(self, g, 4, timeout=30)[:2], (1700, 1200))
        self.assertEqual(g.close(), 0)
        # A scale that does not fit is a message box, and exit status 2.
        g = self.started(96, "--scale", "5")
        self.assertIsNone(g.proc.poll())
        # A warning: the box shows the orange sign, not the red one of an error.
        orange = lambda r: sum(1 for row in r for p in row if p[0] > 200 and 90 < p[1] < 190 and p[2] < 80)
        red = lambda r: sum(1 for row in r for p in row if p[0] > 150 and p[1] < 60 and p[2] < 60)
        box = g.wait_for(lambda r: orange(r) > 50, timeout=30)
        self.assertEqual(red(box), 0)
        g.key("Return")
        self.assertEqual(g.proc.wait(timeout=30), 2)

    def test_the_manifest_asks_for_each_screens_own_scale(self):
        import xml.etree.ElementTree as ET
        with open(os.path.join(ARGS.windows, "platform", "windows", "quillon.exe"), "rb") as f:
            exe = f.read()
        start, end = exe.find(b"<assembly"), exe.find(b"</assembly>")
        self.assertTrue(0 <= start < end, "no manifest in the resources")
        self.assertEqual(exe.count(b"<assembly xmlns"), 1)  # one manifest, not two
        root = ET.fromstring(exe[start:end + len(b"</assembly>")])
        text = {el.tag.split("}")[1]: (el.text or "").strip() for el in root.iter()}
        self.assertEqual(text["dpiAwareness"], "PerMonitorV2, PerMonitor")
        self.assertEqual(text["dpiAware"], "true/pm")
        levels = [el.get("level") for el in root.iter() if el.tag.endswith("requestedExecutionLevel")]
        self.assertEqual(levels, ["asInvoker"])
        self.assertEqual(len([el for el in root.iter() if el.tag.endswith("supportedOS")]), 4)
        controls = [el.get("name") + " " + el.get("version") for el in root.iter() if el.tag.endswith("assemblyIdentity")
                    and el.get("name", "").startswith("Microsoft.Windows.Common-Controls")]
        self.assertEqual(controls, ["Microsoft.Windows.Common-Controls 6.0.0.0"])


class Installed(unittest.TestCase):
    def test_installs_into_a_prefix_and_keeps_its_best_score_beside_itself(self):
        prefix = tempfile.mkdtemp(prefix="quillon-prefix-")
        try:
            subprocess.run(["cmake", "--install", ARGS.build, "--prefix", prefix], check=True,
                           stdout=subprocess.DEVNULL)
            for path in ["bin/quillon", "lib/quillon/quillon", "share/applications/org.quillon.Quillon.desktop"] + [
                    f"share/icons/hicolor/{n}x{n}/apps/quillon.png" for n in (16, 32, 48, 64, 128, 256)]:
                self.assertTrue(os.path.exists(os.path.join(prefix, path)), path)
            with open(os.path.join(prefix, "share/applications/org.quillon.Quillon.desktop")) as f:
                self.assertIn(f"Exec={prefix}/bin/quillon", f.read())
            home = os.path.join(prefix, "lib", "quillon")
            with open(os.path.join(home, "Quillon.ini"), "w") as f:
                f.write("[QUILLON]\nHighScore=777\n")
            g = Game(exe=os.path.join(prefix, "bin", "quillon"))  # started from "/", through the link
            try:
                g.find_window()
                titles = expected_titles(home)
                g.wait_for(lambda r: r in titles)
                self.assertEqual(g.close(), 0)
            finally:
                if g.proc.poll() is None:
                    g.proc.kill()
                g.proc.stdout.close()
                g.proc.stderr.close()
        finally:
            shutil.rmtree(prefix, ignore_errors=True)


class NoDisplay(unittest.TestCase):
    def test_one_line_and_a_failure_status(self):
        e = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"):
            e.pop(name, None)
        run = subprocess.run([ARGS.game], env=e, capture_output=True, text=True, timeout=30)
        self.assertNotEqual(run.returncode, 0)
        self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
        self.assertIn("no display", run.stderr)
        # A display that does not answer is no display either, and the line names it.
        e["DISPLAY"] = ":250"
        run = subprocess.run([ARGS.game], env=e, capture_output=True, text=True, timeout=30)
        self.assertNotEqual(run.returncode, 0)
        self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
        self.assertIn("DISPLAY=:250", run.stderr)

    def test_help_version_and_an_unknown_option_as_debian_programs_answer_them(self):
        e = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        run = subprocess.run([ARGS.game, "--help"], env=e, capture_output=True, text=True, timeout=30)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        for words in ("Usage: quillon", "--scale N", "F11", "Quillon.ini"):
            self.assertIn(words, run.stdout)
        run = subprocess.run([ARGS.game, "--version"], env=e, capture_output=True, text=True, timeout=30)
        self.assertEqual((run.returncode, run.stdout.strip()), (0, "Quillon 1.0"))
        # Output that can't be written is an error, said in one line.
        for option in ("--help", "--version"):
            with open("/dev/full", "w") as full:
                run = subprocess.run([ARGS.game, option], env=e, stdout=full, stderr=subprocess.PIPE, text=True,
                                     timeout=30)
            self.assertEqual(run.returncode, 1, option)
            self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
            self.assertIn("cannot write", run.stderr)
        run = subprocess.run([ARGS.game, "--fast"], env=e, capture_output=True, text=True, timeout=30)
        self.assertEqual((run.returncode, run.stdout), (2, ""))
        self.assertIn('unknown option "--fast"', run.stderr)
        self.assertIn("Usage: quillon", run.stderr)

    def test_the_manual_names_every_option_and_key_that_help_does(self):
        e = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        usage = subprocess.run([ARGS.game, "--help"], env=e, capture_output=True, text=True, timeout=30).stdout
        with open(os.path.join(ARGS.source, "packaging", "quillon.6")) as f:
            manual = f.read()
        sections = dict(re.findall(r"^\.SH ([^\n]+)\n(.*?)(?=^\.SH |\Z)", manual, re.S | re.M))
        options = set(re.findall(r"\\-\\-([a-z]+)", sections["OPTIONS"]))
        self.assertEqual(options, set(re.findall(r"--([a-z]+)", usage)))
        keys = set(re.findall(r"^\.B (\S+)$", sections["KEYS"], re.M))
        self.assertEqual(keys, {"Enter", "Space", "F11", "Escape", "Gamepads"})
        for key in keys - {"Gamepads"}:
            self.assertIn(key, usage)
        self.assertIn("gamepad", usage)
        for name in ("XDG_DATA_HOME", "GDK_SCALE", "DISPLAY", "WAYLAND_DISPLAY"):
            self.assertTrue(re.search(r"^\.B " + name + "$", sections["ENVIRONMENT"], re.M), name)
        self.assertIn("Xft.dpi", sections["ENVIRONMENT"])
        for status in ("0", "1", "2"):
            self.assertTrue(re.search(r"(^|; )" + status + " ", sections["EXIT STATUS"], re.M), status)


class WineNarrow(WineScreens):
    """quillon.exe on a 1300 x 1024 screen, narrower than the picture's shape: the width decides."""

    test_each_dpi_gives_its_whole_scale_and_the_keys_their_jumps = None
    test_the_scale_option_and_full_screen = None
    test_the_manifest_asks_for_each_screens_own_scale = None

    def test_the_largest_scale_is_the_one_the_width_allows(self):
        # 3 x 425 and the frame fit 1300 across, with only the frame's own width to spare.
        g = self.started(96, "--scale", "3")
        self.assertEqual(Screens.wait_scaled(self, g, 3, timeout=60)[:2], (1275, 900))
        self.assertEqual(g.close(), 0)


def main():
    global ARGS, DISPLAY
    parser = argparse.ArgumentParser()
    parser.add_argument("--game", required=True)
    parser.add_argument("--frames", required=True)
    parser.add_argument("--xclose", required=True)
    parser.add_argument("--pad-check", help="the gamepad check program")
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--windows", help="a Windows build tree, for the Wine tests")
    ARGS, rest = parser.parse_known_args()
    if ARGS.windows:
        ARGS.windows = os.path.abspath(ARGS.windows)
    # The screens groups have a large screen of their own, at a desktop scale of 2.
    screens = any(name.split(".")[0] in ("Screens", "WineScreens") for name in rest)
    # WineNarrow's screen is narrower than the picture's shape; weston's output at scale 2 is
    # 1040 x 800 device pixels. Both fit this one.
    narrow = any(name.split(".")[0] in ("WineNarrow", "Wayland") for name in rest)
    xvfb, DISPLAY = start_xvfb("2560x1440x24" if screens else "1300x1024x24" if narrow else "800x600x24")
    if screens:
        subprocess.run(["xrdb", "-nocpp", "-merge"], input=b"Xft.dpi: 192\n", env=env(), check=True)
    try:
        result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    finally:
        xvfb.terminate()
        xvfb.wait()
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
