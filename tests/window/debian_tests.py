"""The Debian package, built, checked and played unpacked."""
import os
import zlib
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
        meta = os.path.join(share, "metainfo", "org.quillon.Quillon.metainfo.xml")
        for command in (["appstreamcli", "validate", "--no-net", "--pedantic"], ["appstream-util", "validate", "--nonet"]):
            run = subprocess.run(command + [meta], capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        # Strict, all it finds is what this metadata is meant to say: no translations (the game
        # has none), and the controls in <supports>, newer than appstream-util knows.
        run = subprocess.run(["appstream-util", "validate-strict", "--nonet", meta], capture_output=True, text=True)
        found = {line.split(":")[0].strip("• ").strip() + ":" + line.split(":", 1)[1].strip()
                 for line in run.stdout.splitlines() if line.startswith("•")}
        self.assertEqual(found, {"tag-invalid:XML data contains unknown tag",
                                 "translations-required:<name> has no translations",
                                 "translations-required:<summary> has no translations",
                                 "translations-required:<description> has no translations"}, run.stdout)
        with open(meta) as f:
            size = re.search(r'<image type="source" width="(\d+)" height="(\d+)"', f.read()).groups()
        self.assertEqual(png_size(os.path.join(ARGS.build, "generated", "screenshot-title.png")), tuple(map(int, size)))

    def test_contents(self):
        def has(path):
            return os.path.exists(os.path.join(self.root, path))
        for path in ("usr/games/quillon", "usr/share/man/man6/quillon.6.gz", "usr/share/doc/quillon/copyright",
                     "usr/share/doc/quillon/changelog.gz"):
            self.assertTrue(has(path), path)
        for n in (16, 32, 48, 64, 128, 256):
            path = os.path.join(self.root, f"usr/share/icons/hicolor/{n}x{n}/apps/quillon.png")
            self.assertEqual(png_size(path), (n, n))
            # A shape of its own: the corners clear, the middle and the edges' middles solid.
            with open(path, "rb") as f:
                data = f.read()
            raw = zlib.decompress(data[data.index(b"IDAT") + 4:data.index(b"IEND") - 8])
            alpha = lambda x, y: raw[y * (n * 4 + 1) + 1 + x * 4 + 3]
            self.assertEqual([alpha(x, y) for x, y in ((0, 0), (n - 1, 0), (0, n - 1), (n - 1, n - 1))], [0] * 4, n)
            self.assertEqual([alpha(x, y) for x, y in ((n // 2, n // 2), (0, n // 2), (n // 2, 0))], [255] * 3, n)
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
            g.wait_for(shows_title(0))  # a best of 0: the file beside it is nobody's
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
            # A best the stored titles know, in the file the game wrote, for the second start to show.
            path = os.path.join(own, "Quillon.ini")
            with open(path) as f:
                text = f.read()
            with open(path, "w") as f:
                f.write(text.replace(f"HighScore={best}\n", "HighScore=4096\n"))
            again = Game(exe=exe, player=become_player, HOME=home, XDG_DATA_HOME="")
            self.games.append(again)
            again.dir = home
            again.find_window()
            again.wait_for(shows_title(4096))
            self.assertEqual(again.close(), 0)
        finally:
            shutil.rmtree(home, ignore_errors=True)
