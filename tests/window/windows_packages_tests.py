"""The Windows program's resources, its zip and its installer, under Wine."""
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


from wine_tests import Wine


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
        # The 256 px one a PNG with alpha, as its 32 bits say; every other drawn to its edges (no
        # smaller art on a transparent margin), a tile whose corners alone are clear.
        pngs = [data for data in icons.values() if data.startswith(b"\x89PNG")]
        self.assertEqual(len(pngs), 1)
        self.assertEqual(struct.unpack_from(">IIBB", pngs[0], 16), (256, 256, 8, 6))
        for data in icons.values():
            if not data.startswith(b"\x89PNG"):
                size = struct.unpack_from("<I", data, 4)[0]
                alpha = lambda x, y: data[40 + (y * size + x) * 4 + 3]
                self.assertEqual([alpha(x, y) for x, y in ((0, 0), (size - 1, 0), (0, size - 1), (size - 1, size - 1))],
                                 [0] * 4, size)
                middles = ((size // 2, 0), (0, size // 2), (size // 2, size - 1), (size - 1, size // 2), (size // 2, size // 2))
                self.assertEqual([alpha(x, y) for x, y in middles], [0xFF] * 5, size)
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
        self.assertEqual(run(upgrade, "/S").returncode, 3)
        self.assertGreater(time.time() - began, 5)  # it waited for the player first
        quiet = re.search(r"QuietUninstallString\s+REG_SZ\s+(.*)", run("reg", "query", key).stdout).group(1).strip()
        # The uninstall Settings and management tools run, as it stands: its status is its own.
        uninstall = lambda: run(*[part.strip('"') for part in re.findall(r'"[^"]*"|\S+', quiet)]).returncode
        self.assertEqual(uninstall(), 3)
        self.assertEqual(installed(), before)
        self.assertEqual(before[1], first_exe)
        self.assertEqual(g.close(), 0)
        # A game that shows only a message box holds them off just the same.
        g = Game(exe=os.path.join(home, "quillon.exe"), player=become_player, launcher=[self.wine], args=["--version"],
                 **self.env)
        self.games.append(g)
        g.find_window(timeout=60)
        self.assertEqual(run(upgrade, "/S").returncode, 3)
        self.assertEqual(uninstall(), 3)
        self.assertEqual(installed(), before)
        g.proc.kill()
        g.proc.wait()
        # A file that can't be written: the installer says so, and the last version stays whole.
        os.mkdir(os.path.join(home, "README.txt.new"))
        if os.geteuid() == 0:
            os.chown(os.path.join(home, "README.txt.new"), PLAYER, PLAYER)
        self.assertEqual(run(upgrade, "/S").returncode, 4)
        os.rmdir(os.path.join(home, "README.txt.new"))
        self.assertEqual(installed(), before)
        # One that can't be replaced once the program already was: the program goes back too.
        held = os.path.join(home, "README.txt.old")
        os.makedirs(os.path.join(held, "kept"))
        self.assertEqual(run(upgrade, "/S").returncode, 4)
        shutil.rmtree(held)
        self.assertEqual(installed(), before)
        g = start()

        # Closed while it waits: the next version goes into the chosen folder, the best kept.
        waiting = subprocess.Popen([self.wine, upgrade, "/S"], env=env(**self.env), preexec_fn=become_player,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(2)
        self.assertIsNone(waiting.poll(), "the next version waits for the player")
        self.assertEqual(g.close(), 0)
        self.assertEqual(waiting.wait(timeout=300), 0)
        self.assertEqual(read_bytes(os.path.join(home, "quillon.exe")), next_exe)
        self.assertFalse(os.path.exists(os.path.join(local, "Programs", "Quillon")))
        self.assertIn("DisplayVersion    REG_SZ    1.1", run("reg", "query", key).stdout)
        self.assertEqual(stored_best(os.path.join(home, "Quillon.ini")), 777)

        # Uninstalled as Settings does it: the program, its shortcut and entry go; the best stays.
        g = start()
        g.wait_for(shows_title(777), timeout=60)
        self.assertEqual(g.close(), 0)
        self.assertEqual(uninstall(), 0)
        end = time.time() + 30  # the uninstaller itself goes the moment it has ended
        while os.listdir(home) != ["Quillon.ini"] and time.time() < end:
            time.sleep(0.1)
        self.assertEqual(sorted(os.listdir(home)), ["Quillon.ini"])
        self.assertFalse(os.path.exists(os.path.join(menu, "Quillon.lnk")))
        self.assertNotIn("DisplayName", run("reg", "query", key).stdout)
