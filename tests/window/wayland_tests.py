"""The Linux game as a Wayland client of its own, in a weston nested in the Xvfb."""
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


class Wayland(Games):
    """The game as a Wayland client of its own, in a weston nested in the Xvfb."""

    def start_weston(self, scale=1, headless=False):
        """A weston 520 x 400 across in its own units, its output at `scale` device pixels each;
        or, headless, one with no output to see and no seat."""
        self.runtime = tempfile.mkdtemp(prefix="quillon-xdg-")
        os.chmod(self.runtime, 0o700)
        log = os.path.join(self.runtime, "weston.log")
        with open(log, "w") as f:
            backend = "headless-backend.so" if headless else "x11-backend.so"
            self.weston = subprocess.Popen(["weston", "--backend=" + backend, "--width=520", "--height=400",
                                            f"--scale={scale}", "--socket=quillon-test", "--idle-time=0"],
                                           env=env(XDG_RUNTIME_DIR=self.runtime), stdout=f, stderr=f)
        self.addCleanup(self.stop_weston, self.weston, self.runtime)
        # Its log names the X window its output shows in.
        end = time.time() + 30
        self.screen = None
        while self.screen is None and time.time() < end:
            with open(log) as f:
                found = [line.split("window id ")[1].split()[0] for line in f if "window id " in line]
            if (found or headless) and os.path.exists(os.path.join(self.runtime, "quillon-test")):
                self.screen = int(found[0]) if found else 0
            time.sleep(0.1)
        self.assertIsNotNone(self.screen, "weston did not start")

    @staticmethod
    def stop_weston(weston, runtime):
        weston.terminate()
        weston.wait()
        shutil.rmtree(runtime, ignore_errors=True)

    def wayland_game(self, **extra):
        g = self.game(ini="[QUILLON]\nHighScore=1250\n", **{"DISPLAY": "", "WAYLAND_DISPLAY": "quillon-test", "XDG_RUNTIME_DIR": self.runtime, **extra})
        g.window = self.screen  # what it shows is seen through weston's own window
        return g

    def point_at(self, x, y, width, height):
        """Puts weston's pointer on (x, y) of its window. weston moves it by X's steps from where it
        last came in, and a step it missed (its window mapped under the pointer) leaves it elsewhere
        for good, where a click falls beside the game and takes its keyboard focus away; so the
        pointer leaves the window (the screen is larger) and comes in again right there."""
        subprocess.run(["xdotool", "mousemove", "--window", str(self.screen), str(width + 10), str(height + 10),
                        "sleep", "0.1", "mousemove", "--window", str(self.screen), str(x), str(y)],
                       env=env(), check=False)

    def keep_shot(self):
        """What weston shows, kept for a failure to be read later; its path."""
        shot = os.path.join(tempfile.gettempdir(), f"quillon-weston-{os.getpid()}.xwd")
        with open(shot, "wb") as f:
            f.write(xwd_data(self.screen)[0])
        return shot

    def find_title(self, g, scale=1, timeout=30):
        """Where in weston's output the title shows, each pixel a scale x scale block; its top-left corner."""
        # The title's busiest row above the prompt finds it; all of it above the prompt proves it.
        key = max(range(235), key=lambda r: len(set(TITLE_1250[r])))
        # weston draws its pointer over whatever lies under it, and a launcher's name under it
        # over windows near its corner: out of the way with it, to the middle of the panel, where
        # no window goes.
        width, height = xwd_raw(self.screen)[:2]
        self.point_at(width // 2, 2, width, height)
        end = time.time() + timeout
        while time.time() < end:
            width, height, rows, pack = xwd_raw(self.screen)
            expect = [b"".join(pack(c) * scale for c in TITLE_1250[r]) for r in range(235)]
            for y in range(key * scale, height - H * scale + key * scale):
                at = rows[y].find(expect[key])
                if at >= 0 and at % 4 == 0:
                    top = y - key * scale
                    if all(rows[top + r][at:at + W * 4 * scale] == expect[r // scale] for r in range(235 * scale)):
                        return at // 4, top
            if g.proc.poll() is not None:
                raise AssertionError("the game ended: " + g.proc.stderr.read().decode())
            time.sleep(0.1)
        raise AssertionError(f"the title never showed in weston at scale {scale}: what it showed is {self.keep_shot()}")

    def test_the_title_shows_and_each_key_gives_its_own_jump(self):
        # Asked for; chosen for want of X; and chosen over X, on an output at scale 2, where the
        # picture must come as a buffer twice the window's size: 2 x 2 blocks of the title's own
        # colours, where the compositor's enlargement would smooth them.
        for scale, driver in ((1, {"SDL_VIDEODRIVER": "wayland"}), (1, {}), (2, {"DISPLAY": harness.DISPLAY})):
            self.start_weston(scale)
            g = self.wayland_game(**driver)
            x, y = self.find_title(g, scale)
            # Shown through shared memory of its own: a renderer, where the GPU is a program,
            # would cost ten times as much.
            with open(f"/proc/{g.proc.pid}/maps") as f:
                self.assertIn("/memfd:quillon-frame", f.read())
            if "DISPLAY" in driver:
                found = subprocess.run(["xdotool", "search", "--pid", str(g.proc.pid)], env=env(),
                                       capture_output=True, text=True).stdout.split()
                self.assertEqual(found, [], "an X window, not a Wayland one")
            for attempt in range(40):
                if attempt % 5 == 0:
                    # A click on the picture gives it weston's keyboard focus, whatever else took
                    # it; again now and then, for a busy machine's weston may miss one.
                    subprocess.run(["xdotool", "windowfocus", "--sync", str(self.screen)], env=env(), check=False)
                    self.point_at(x + 5, y + 5, *xwd_raw(self.screen)[:2])
                    subprocess.run(["xdotool", "click", "1"], env=env(), check=False)
                subprocess.run(["xdotool", "key", "Return"], env=env(), check=True)
                time.sleep(0.5)
                rows = xwd(self.screen)[2]
                if rows[y + 100 * scale][x + 300 * scale] == SKY and rows[y + 270 * scale][x + 300 * scale] == GROUND:
                    break
            else:
                shot = self.keep_shot()
                where = [subprocess.run(["xdotool", *cmd], env=env(), capture_output=True, text=True).stdout.strip()
                         for cmd in (["getwindowfocus"], ["getmouselocation"])]
                self.fail(f"Enter never started a round at scale {scale} ({driver}): what weston showed is {shot}; "
                          f"X's focus {where[0]}, weston's window {self.screen}, X's pointer {where[1]}")
            for key in ("Return", "space"):
                jump(lambda: xwd_raw(self.screen), lambda k: subprocess.run(["xdotool", "key", k], env=env(), check=True),
                     key, scale, x, y)
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

    def test_a_compositor_sdl_cannot_start_on_leaves_x11_or_one_line(self):
        # SDL crashes as it starts on a weston with no seat: the game goes to X11 where there is
        # one, and where there is none says so in one line.
        self.start_weston(headless=True)
        g = self.wayland_game(DISPLAY=harness.DISPLAY)
        g.find_window(timeout=30)
        g.wait_for(shows_title(1250), timeout=30)
        self.assertEqual(g.close(), 0)
        g = self.wayland_game()
        status = g.proc.wait(timeout=30)
        err = g.proc.stderr.read().decode()
        self.assertEqual(status, 1)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertIn("WAYLAND_DISPLAY=quillon-test", err)
