"""What every tier of the window tests shares: an Xvfb, xdotool for keys, xwd for pixels, the
game in a folder of its own, the expected frames, Wine's program and the player's account."""
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

# The command line, filled in by run(): one object, so that every test file sees it.
ARGS = argparse.Namespace()
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


def wine_program():
    """Debian's wine64 keeps its program off the PATH."""
    listing = subprocess.run(["dpkg", "-L", "wine64"], capture_output=True, text=True, check=True).stdout
    return next(line for line in listing.splitlines() if line.endswith("/wine64") and "/bin" not in line
                and os.path.isfile(line))


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


def run():
    """Parses the command line, starts the Xvfb the named groups need, runs them, and exits."""
    global DISPLAY
    parser = argparse.ArgumentParser()
    parser.add_argument("--game", required=True)
    parser.add_argument("--frames", required=True)
    parser.add_argument("--xclose", required=True)
    parser.add_argument("--pad-check", help="the gamepad check program")
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--windows", help="a Windows build tree, for the Wine tests")
    parsed, rest = parser.parse_known_args()
    ARGS.__dict__.update(vars(parsed))
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
        result = unittest.main(module="__main__", argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    finally:
        xvfb.terminate()
        xvfb.wait()
    sys.exit(0 if result.wasSuccessful() else 1)
