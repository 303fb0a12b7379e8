"""The Linux game in a real X window: keys, pixels, scales, a window taken away, no display."""
import glob
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest

import harness
from harness import *  # noqa: F401,F403


class RealWindow(Games):
    def test_title_shows_the_stored_best_score_pixel_for_pixel(self):
        g = self.game(ini="[QUILLON]\nHighScore=1250\n")
        g.find_window()
        g.wait_for(lambda r: True)
        w, h, rows = g.shot()
        self.assertEqual((w, h), (W, H))
        g.wait_for(shows_title(1250))
        self.assertEqual(g.close(), 0)
        with open(g.ini_path) as f:
            self.assertEqual(f.read(), "[QUILLON]\nHighScore=1250\n")

    def test_enter_starts_play_and_space_jumps(self):
        # With the wall clock stopped: the game's pace is the monotonic clock's.
        faketime = glob.glob("/usr/lib/*/faketime/libfaketime.so.1")[0]
        # (An ASan build would refuse a library loaded ahead of its runtime.)
        g = self.game(LD_PRELOAD=faketime, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0",
                      FAKETIME="2000-01-01 00:00:00", FAKETIME_DONT_FAKE_MONOTONIC="1")
        g.find_window()
        rows = g.start_play()
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
        titles = shows_title(4096)
        first = g.wait_for(lambda r: True)
        # Black until the title's first frame, then the title itself, pixel for pixel.
        self.assertTrue(titles(first) or all(p == (0, 0, 0) for row in first for p in row))
        g.wait_for(titles)
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
        again.wait_for(titles)
        self.assertEqual(again.close(), 0)

    def test_a_larger_best_that_another_copy_stored_meanwhile_stays(self):
        g = self.game(ini="[QUILLON]\nHighScore=100\n")
        g.find_window()
        g.play_to_banner()  # beats the 100 it read at its start
        # Another copy in the same folder stores its larger best during the slow-down.
        larger = "; theirs\n[QUILLON]\nHighScore=1000000\n"
        with open(g.ini_path, "w") as f:
            f.write(larger)
        g.wait_for(shows_title(1000000), timeout=30)  # the title comes back with the larger best
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
        g.wait_for(shows_title(0))
        self.assertEqual(g.close(), 0)

    def test_the_window_says_which_desktop_entry_is_its_own(self):
        g = self.game()
        g.find_window()
        props = subprocess.run(["xprop", "-id", str(g.window), "WM_CLASS", "_NET_WM_ICON"], env=env(),
                               capture_output=True, text=True, check=True).stdout
        self.assertIn('WM_CLASS(STRING) = "org.quillon.Quillon", "org.quillon.Quillon"', props)
        # Each drawn for its size or a whole enlargement of one design (no 48 from the 16's art).
        self.assertEqual(re.findall(r"Icon \((\d+) x \1\)", props), ["16", "32", "64"])
        # Each a tile of its own shape: its corners clear, its middle solid.
        raw = subprocess.run(["xprop", "-id", str(g.window), "-f", "_NET_WM_ICON", "32c", " = $0+", "_NET_WM_ICON"],
                             env=env(), capture_output=True, text=True, check=True).stdout
        values, at = [int(v) for v in raw.split("=", 1)[1].split(",")], 0
        while at < len(values):
            n = values[at]
            pixels = values[at + 2:at + 2 + n * n]
            self.assertEqual([pixels[i] >> 24 for i in (0, n - 1, n * (n - 1), n * n - 1)], [0] * 4, n)
            self.assertEqual(pixels[n * (n // 2) + n // 2] >> 24, 255, n)
            at += 2 + n * n
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
            g.wait_for(shows_title(-77))
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

    def test_every_close_ends_it_from_the_windows_first_moment(self):
        # A close the window manager's button sends, at moments spread over the first second,
        # each to a copy started in a fresh folder: not one may be lost.
        lost = []
        for i in range(200):
            g = Game()
            try:
                g.find_window()
                time.sleep(i % 50 / 50)
                subprocess.run([ARGS.xclose, "close", str(g.window)], env=env(), check=True)
                try:
                    self.assertEqual(g.proc.wait(timeout=10), 0)
                except subprocess.TimeoutExpired:
                    lost.append(i % 50 / 50)
            finally:
                g.cleanup()
        self.assertEqual(lost, [], "closes lost, seconds after the window showed")

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


class Screens(Games):
    """A 2560 x 1440 screen whose desktop asks for twice the size (Xft.dpi: 192)."""

    def wait_scaled(self, g, scale, left=0, top=0, timeout=30, best=0):
        titles = TITLES[best]
        end = time.time() + timeout
        while time.time() < end:
            try:
                shot = xwd_raw(g.window)
            except subprocess.CalledProcessError:
                shot = None
            if shot and scaled_print(shot, scale, left, top) in titles:
                return shot
            time.sleep(0.05)
        raise AssertionError(f"the title never showed at scale {scale} at ({left}, {top})")

    def test_the_desktops_scale_doubles_every_pixel_and_each_key_keeps_its_jump(self):
        g = self.game(ini="[QUILLON]\nHighScore=1250\n")
        g.find_window()
        shot = self.wait_scaled(g, 2, best=1250)
        self.assertEqual(shot[:2], (850, 600))
        g.key("Return")
        g.wait_for(lambda r: r[200][600] == SKY and r[540][600] == GROUND)
        for key in ("Return", "space"):
            jump(lambda: xwd_raw(g.window), g.key, key, 2)
        self.assertEqual(g.close(), 0)

    def test_a_stored_run_watched_shows_its_stored_frames_at_each_scale(self):
        code = read_golden("jumper")[0]
        # Full screen and back, mid-run: each time the whole picture is drawn anew.
        for args, scale, then in (((), 2, (("F11", 4, 430, 120), ("F11", 2, 0, 0))), (("--scale", "1"), 1, ()),
                                  (("--scale", "3"), 3, ())):
            g = self.game(args=("--watch", code, *args))
            g.find_window(name="Quillon - watching a run")
            self.assertEqual(watch_stored_run(g, scale, "jumper", count=6, then=then), 0, args)
            self.assertEqual(os.listdir(g.dir), ["quillon"])  # a watched run stores nothing

    def test_the_desktops_own_scale_is_gdk_scale_else_xft_dpi(self):
        try:
            for dpi, gdk, scale in ((192, None, 2), (192, "1", 1), (192, "3", 3), (192, "", 2), (192, "two", 2),
                                    (96, None, 1), (144, None, 2), (288, None, 3)):
                subprocess.run(["xrdb", "-nocpp", "-merge"], input=b"Xft.dpi: %d\n" % dpi, env=env(), check=True)
                g = self.game(**({} if gdk is None else {"GDK_SCALE": gdk}))
                g.find_window()
                self.wait_scaled(g, scale)
                self.assertEqual(g.close(), 0)
        finally:
            subprocess.run(["xrdb", "-nocpp", "-merge"], input=b"Xft.dpi: 192\n", env=env(), check=True)

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
                g.wait_for(shows_title(777))
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

    def test_run_codes_on_the_command_line(self):
        # With no display: a code is checked, and a bad one refused, before any window.
        e = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        golden = os.path.join(ARGS.source, "tests", "data", "golden", "jumper.txt")
        with open(golden) as f:
            code, score = f.readline().strip(), f.readline().strip()
        home = tempfile.mkdtemp(prefix="quillon-runs-")
        self.addCleanup(shutil.rmtree, home, ignore_errors=True)
        game = os.path.join(home, "quillon")
        shutil.copy(ARGS.game, game)
        fifo = os.path.join(home, "fifo")
        os.mkfifo(fifo)
        with open(os.path.join(home, "Quillon.run"), "w") as f:
            f.write("Q1-Af___________wEAAA\n")  # a start years of draws away: no run at all
        # Each answers at once (the time-out is only there to fail rather than hang).
        for args, status, out, err in (
                (["--verify", "Q1-Af___________wEAAA"], 1, "", "more draws"),
                (["--watch", "Q1-Af___________wEAAA"], 1, "", "more draws"),
                (["--verify", fifo], 1, "", "not a Quillon run code"),
                (["--verify", "/dev/zero"], 1, "", "not a Quillon run code"),
                (["--watch", home], 1, "", "not a Quillon run code"),
                (["--verify", code], 0, score + "\n", ""),
                (["--verify", golden], 0, score + "\n", ""),  # a file holding one
                (["--verify", code[:-4]], 1, "", "damaged"),
                (["--verify", "Q7-" + code[3:]], 1, "", "another version"),
                (["--verify"], 1, "", "empty"),
                (["--watch", "Q1-\u00e9"], 1, "", "character"),
                (["--run-code"], 1, "", "no run is kept yet"),
                (["--run-code", "--daily"], 1, "", "no daily run is kept for today")):
            run = subprocess.run([game, *args], env=e, capture_output=True, text=True, timeout=60)
            self.assertEqual((run.returncode, run.stdout), (status, out), args)
            self.assertEqual(len(run.stderr.splitlines()), 1 if err else 0, run.stderr)
            self.assertIn(err, run.stderr)
        # A kept run is printed as it is kept.
        with open(os.path.join(home, "Quillon.ini"), "w") as f:
            f.write("[QUILLON]\nHighScore=%s\n" % score)
        with open(os.path.join(home, "Quillon.run"), "w") as f:
            f.write(code + "\n")
        run = subprocess.run([game, "--run-code"], env=e, capture_output=True, text=True, timeout=60)
        self.assertEqual((run.returncode, run.stdout), (0, code + "\n"))
        # The day's run, on its UTC day and no other.
        daily = read_golden("daily")[0]
        with open(os.path.join(home, "Quillon.daily"), "w") as f:
            f.write(daily + "\n")
        faketime = glob.glob("/usr/lib/*/faketime/libfaketime.so.1")[0]
        for moment, status, out in (("2026-12-09 23:59:59", 0, daily + "\n"), ("2026-12-10 00:00:00", 1, "")):
            run = subprocess.run([game, "--run-code", "--daily"], capture_output=True, text=True, timeout=60,
                                 env=dict(e, LD_PRELOAD=faketime, FAKETIME="@" + moment, TZ="UTC",
                                          ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"))
            self.assertEqual((run.returncode, run.stdout), (status, out), moment)

    def test_the_manual_metadata_and_readmes_say_what_help_does(self):
        e = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        usage = subprocess.run([ARGS.game, "--help"], env=e, capture_output=True, text=True, timeout=30).stdout
        parts = dict(zip(("table", "Environment", "Exit status"), re.split(r"\n(?:Environment|Exit status):\n", usage)))
        def read(*path):
            with open(os.path.join(ARGS.source, *path), encoding="utf-8") as f:
                return f.read()
        manual = read("packaging", "quillon.6")
        sections = dict(re.findall(r"^\.SH ([^\n]+)\n(.*?)(?=^\.SH |\Z)", manual, re.S | re.M))
        meta = " ".join(re.findall(r"<li>(.*?)</li>", read("packaging", "org.quillon.Quillon.metainfo.xml")))
        readme = read("packaging", "windows", "README.txt")
        def options(text):
            return set(re.findall(r"(?<![\w-])--?[a-z][a-z-]*=?", text.replace("\\-", "-")))
        # Every option, in every spelling (-h, --scale=N), in the manual and the Windows README.
        said = options(parts["table"])
        self.assertLessEqual({"-h", "--scale=", "--run-code", "--daily"}, said)
        self.assertEqual(options(sections["OPTIONS"]), said)
        self.assertEqual(options(readme.split("Its exit status")[0]), said)
        # Every key and gamepad button, in the manual, the software centres' list and the README.
        keys = set(re.findall(r"^  (\w+)(?:,| )", parts["table"], re.M))
        self.assertEqual(keys, {"Enter", "Space", "F11", "W", "D"})
        self.assertEqual(set(re.findall(r"^\.B (\S+)$", sections["KEYS"], re.M)), keys | {"Escape", "Gamepads"})
        pads = dict(re.findall(r"^  (\w+), gamepad ([A-Z]\w*(?: or [A-Z]\w*)?)", parts["table"], re.M))
        self.assertEqual(pads, {"Enter": "A", "Space": "B or X", "W": "Y", "D": "Start"})
        gamepads = sections["KEYS"].split("Gamepads")[1]
        for key, buttons in pads.items():
            for button in buttons.split(" or "):
                self.assertRegex(gamepads, r"[(;] ?" + button + r",", button)
            self.assertIn(f"{key} (gamepad {buttons})", meta)
            self.assertIn(f"{key}, gamepad {buttons}", readme)
        for words in ("F11", "Escape"):
            self.assertIn(words, meta)
            self.assertIn(words, readme)
        # The variables that choose a display, and every exit status with its causes.
        names = set(re.findall(r"^  ([A-Z_]+) ", parts["Environment"], re.M))
        self.assertEqual(set(re.findall(r"^\.B ([A-Z_]+)$", sections["ENVIRONMENT"], re.M)), names)
        self.assertIn("SDL_VIDEODRIVER", names)
        statuses = dict(re.findall(r"^  ([0-9])\s+(.*)$", parts["Exit status"], re.M))
        entries = dict(re.findall(r"^\.B ([0-9])\n(.*?)(?=^\.TP|\Z)", sections["EXIT STATUS"], re.S | re.M))
        told = dict(re.findall(r"(?:^|; )([0-9]) (?:when|for) (.*?)(?=; [0-9] |\.$)",
                               " ".join(readme.split("Its exit status:")[1].split("\n\n")[0].split())))
        self.assertEqual(set(statuses), {"0", "1", "2"})
        for status, why in statuses.items():
            self.assertEqual(options(entries[status]), options(why), status)
            self.assertEqual(options(told[status]), options(why), status)
