"""quillon.exe under Wine: the in-process suite, pixels, keys, files, DPI."""
import fcntl
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
from x11_tests import Screens  # its checks of a scaled title and of jumps serve Wine too


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
        # Two groups making their prefixes at once, as one user, make wineboot fail now and then:
        # one at a time, across the groups, and what it said kept for the failure.
        with open(os.path.join(tempfile.gettempdir(), "quillon-wineboot.lock"), "a") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            said = []
            for attempt in range(3):
                boot = subprocess.run([cls.wine, "wineboot", "-i"], env=env(**cls.env), preexec_fn=become_player,
                                      capture_output=True, text=True, timeout=300)
                if boot.returncode == 0:
                    break
                said.append(f"status {boot.returncode}: {boot.stdout[-1500:]}{boot.stderr[-1500:]}")
                subprocess.run([os.path.join(os.path.dirname(cls.wine), "wineserver"), "-k"], env=env(**cls.env),
                               preexec_fn=become_player, stderr=subprocess.DEVNULL)
            else:
                raise RuntimeError("wineboot failed three times:\n" + "\n".join(said))
            # Until its server has ended too: the next group's boot never meets this one's going down.
            subprocess.run([os.path.join(os.path.dirname(cls.wine), "wineserver"), "-w"], env=env(**cls.env),
                           preexec_fn=become_player, timeout=120)

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
        # Wine may put a frame on the screen in bands: each pixel is black or the title's own
        # (below 235 the prompt changes from frame to frame).
        first = g.wait_for(lambda r: True)
        self.assertTrue(all(p == (0, 0, 0) or p == TITLE_1250[y][x] or y >= 235
                            for y, row in enumerate(first) for x, p in enumerate(row)))
        w, h, _ = g.shot()
        self.assertEqual((w, h), (W, H))
        g.wait_for(shows_title(1250))
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
        # The run that set it beside it, as a code.
        self.assertEqual(sorted(os.listdir(g.dir)), ["Quillon.ini", "Quillon.run", "quillon.exe"])
        with open(os.path.join(g.dir, "Quillon.run")) as f:
            self.assertRegex(f.read(), r"^Q1-[A-Za-z0-9_-]+\n$")

    def test_a_larger_best_that_another_copy_stored_meanwhile_stays(self):
        g = self.exe_game(self.player_folder(), "[QUILLON]\r\nHighScore=100\r\n")
        g.find_window(timeout=60)
        g.play_to_banner()
        larger = "; theirs\r\n[QUILLON]\r\nHighScore=1000000\r\n"
        with open(g.ini_path, "w", newline="") as f:
            f.write(larger)
        g.wait_for(shows_title(1000000), timeout=60)
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


class WineScreens(Wine):
    """quillon.exe on a 2560 x 1440 screen at 96, 144 and 192 DPI."""

    # Only these, not the ones it inherits.
    test_the_in_process_suite_passes_as_a_windows_program = None
    test_title_pixels_keys_and_a_close_mid_round = None
    test_a_larger_best_that_another_copy_stored_meanwhile_stays = None
    test_a_round_to_its_end_stores_the_new_best_and_keeps_foreign_lines = None
    test_a_folder_the_player_cannot_write_keeps_the_best_in_local_app_data = None

    def set_dpi(self, dpi):
        server = [os.path.join(os.path.dirname(self.wine), "wineserver"), "-w"]
        for key in (r"HKCU\Control Panel\Desktop", r"HKCC\Software\Fonts"):
            # A prefix whose last program is still going down can refuse the write once (seen on a
            # busy machine): wait for it to settle, and try again, a few times at most.
            for attempt in range(3):
                done = subprocess.run([self.wine, "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                                       str(dpi), "/f"], env=env(**self.env), preexec_fn=become_player,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
                if done.returncode == 0:
                    break
                subprocess.run(server, env=env(**self.env), preexec_fn=become_player, timeout=60)
            else:
                self.fail(f"wine reg add {key} failed three times")
        # Wine reads it as a program starts.
        subprocess.run(server, env=env(**self.env), preexec_fn=become_player, timeout=60)

    def started(self, dpi, *args, name="Quillon"):
        self.set_dpi(dpi)
        g = self.exe_game(self.player_folder(), args=args)
        g.find_window(timeout=60, name=name)
        return g

    def test_a_stored_run_watched_shows_its_stored_frames_at_each_scale(self):
        code = read_golden("jumper")[0]
        # Full screen and back, mid-run: each time the whole picture is drawn anew.
        for args, scale, then in (((), 2, (("F11", 4, 430, 120), ("F11", 2, 0, 0))), (("--scale", "1"), 1, ())):
            g = self.started(192, "--watch", code, *args, name="Quillon - watching a run")
            self.assertEqual(watch_stored_run(g, scale, "jumper", count=6, then=then), 0, args)
            self.assertEqual(sorted(os.listdir(g.dir)), ["quillon.exe"])

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
                for key in ("Return", "space"):
                    jump(lambda: xwd_raw(g.window), g.key, key, 2)
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


class WineNarrow(WineScreens):
    """quillon.exe on a 1300 x 1024 screen, narrower than the picture's shape: the width decides."""

    test_each_dpi_gives_its_whole_scale_and_the_keys_their_jumps = None
    test_a_stored_run_watched_shows_its_stored_frames_at_each_scale = None
    test_the_scale_option_and_full_screen = None
    test_the_manifest_asks_for_each_screens_own_scale = None

    def test_the_largest_scale_is_the_one_the_width_allows(self):
        # 3 x 425 and the frame fit 1300 across, with only the frame's own width to spare.
        g = self.started(96, "--scale", "3")
        self.assertEqual(Screens.wait_scaled(self, g, 3, timeout=60)[:2], (1275, 900))
        self.assertEqual(g.close(), 0)
