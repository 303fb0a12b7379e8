"""What every tier of the window tests shares: an Xvfb, xdotool for keys, xwd for pixels, the
game in a folder of its own, the stored frames it must show, Wine's program and the player's account."""
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
    e.pop("GDK_SCALE", None)  # the tests' own desktop asks for no scale of its own
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

    def find_window(self, timeout=20, name="Quillon"):
        end = time.time() + timeout
        while time.time() < end:
            pid = ["--pid", str(self.proc.pid)] if self.by_pid else []
            out = subprocess.run(["xdotool", "search", "--onlyvisible", *pid, "--name", f"^{name}$"],
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


# What the game draws, as tests/data/golden/ keeps it (the in-process suite writes it anew with
# QUILLON_WRITE_GOLDEN=1): never from a program built from the sources under test.
GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "golden")


def fingerprint(data):
    """A frame's 64-bit FNV-1a over its pixels, each as the bytes blue, green, red, 0."""
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def rows_print(rows):
    return fingerprint(bytes(v for row in rows for r, g, b in row for v in (b, g, r, 0)))


def read_golden(name):
    """A stored run: its code, its score and each of its frames' fingerprints."""
    with open(os.path.join(GOLDEN, name + ".txt")) as f:
        lines = f.read().split()
    return lines[0], int(lines[1]), [int(v, 16) for v in lines[2:]]


def read_titles():
    with open(os.path.join(GOLDEN, "titles.txt")) as f:
        # A best, or "unknown": the title while the stored best could not be read yet.
        return {(line.split()[0] if line.split()[0] == "unknown" else int(line.split()[0])):
                {int(v, 16) for v in line.split()[1:]} for line in f if line.strip()}


TITLES = read_titles()


def shows_title(best):
    """Whether a frame is the title with that best score (one of the stored bests)."""
    prints = TITLES[best]
    return lambda rows: not is_play(rows) and rows_print(rows) in prints


def read_ppms(path):
    """Every picture in a file of binary PPMs, as rows of (r, g, b)."""
    with open(path, "rb") as f:
        data = f.read()
    pictures = []
    while data:
        parts = data.split(b"\n", 3)
        w, h = map(int, parts[1].split())
        raw, data = parts[3][:w * h * 3], parts[3][w * h * 3:]
        pictures.append([[tuple(raw[(y * w + x) * 3:(y * w + x) * 3 + 3]) for x in range(w)] for y in range(h)])
    return pictures


# The first title with a best of 1250; the "You Got High Score!" banner and its mask.
TITLE_1250, BANNER_PICTURE, BANNER_MASK = read_ppms(os.path.join(GOLDEN, "pictures.ppm"))


def is_play(rows):
    return rows[100][300] == SKY and rows[270][300] == GROUND


BANNER = [(x - 1, 12 + y, BANNER_PICTURE[y][x]) for y in range(len(BANNER_MASK))
          for x in range(1, len(BANNER_MASK[0])) if BANNER_MASK[y][x] == (0, 0, 0)]


def banner_shown(rows):
    """The "You Got High Score!" banner at (-1, 12); a coin may cover a little of it."""
    if not is_play(rows):
        return False
    return sum(1 for x, y, c in BANNER if rows[y][x] == c) > 0.8 * len(BANNER)


def scaled_print(shot, scale, left, top):
    """The fingerprint of the picture a screenshot shows with each pixel a scale x scale block at
    (left, top) and black everywhere else; None where it shows anything else."""
    width, height, rows, pack = shot
    black = pack((0, 0, 0))
    if top < 0 or left < 0 or left + W * scale > width or top + H * scale > height:
        return None
    for y in list(range(top)) + list(range(top + H * scale, height)):
        if rows[y] != black * width:
            return None
    picture = bytearray()
    for fy in range(H):
        line = rows[top + fy * scale]
        if line[:left * 4] != black * left or line[(left + W * scale) * 4:] != black * (width - left - W * scale):
            return None
        pixels = [line[(left + x * scale) * 4:(left + x * scale) * 4 + 4] for x in range(W)]
        if scale > 1 and b"".join(p * scale for p in pixels) != line[left * 4:(left + W * scale) * 4]:
            return None
        if any(rows[top + fy * scale + k] != line for k in range(1, scale)):
            return None
        picture += b"".join(pixels)
    # The bytes blue, green, red, 0 whatever the server's order.
    order = pack((3, 2, 1))
    if order != b"\x01\x02\x03\x00":
        at = [order.index(k) for k in (1, 2, 3)]
        picture = bytes(v for i in range(0, len(picture), 4) for v in (*(picture[i + a] for a in at), 0))
    return fingerprint(bytes(picture))


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


# The car's highest row in each jump, in game pixels: the high one rises 210 pixels from 225,
# the low one 136.
JUMPS = {"Return": (5, 40), "space": (70, 110)}


def jump(shoot, press, key, scale, left=0, top=0):
    """Presses a key with the car on the road and follows it until it lands: its highest row.
    Screenshots come as fast as the machine allows; where none caught the top of the jump, the
    jump is made again, so a busy machine costs time, never a wrong height."""
    low, high = JUMPS[key]
    for attempt in range(8):
        end = time.time() + 60
        while (car_top(shoot(), scale, left, top) or 0) < 220:  # standing: its top at 225
            assert time.time() < end, "the car never stood on the road"
        press(key)
        # A press a window system lost shows as a car that never leaves the road: pressed again,
        # before the round runs out.
        best, left_road, lost = H, False, time.time() + 5
        while time.time() < end and (left_road or time.time() < lost):
            row = car_top(shoot(), scale, left, top)
            if row is None:
                continue
            best = min(best, row)
            left_road = left_road or row < 220
            if left_road and row >= 220:
                break
        assert best >= low, f"{key} rose to row {best}, above its {low}"
        if best <= high:
            return best
    raise AssertionError(f"{key} never rose to row {high}: {best}")


def watch_stored_run(g, scale, name="still", count=10, timeout=180, then=()):
    """Has a game started with --watch on a stored run's code show `count` of that run's frames,
    each one the run's own, in the run's order, at a scale; then, for each (key, scale, left, top)
    of `then`, presses the key and has it show `count` more at that scale and place; then Escape
    ends it; its exit status. Whatever the machine's pace, only which frames show is checked,
    never when."""
    prints = read_golden(name)[2]
    at = {}
    for i, p in enumerate(prints):
        at.setdefault(p, []).append(i)
    last, end = -1, time.time() + timeout
    for key, scale, left, top in ((None, scale, 0, 0), *then):
        if key:
            g.key(key)
        last = watch_frames(g, at, last, scale, left, top, count, end)
    g.key("Escape")
    return g.proc.wait(timeout=30)


def watch_frames(g, at, last, scale, left, top, count, end):
    """Follows a watched run until `count` of its frames showed at a scale and place; the last."""
    seen, placed = set(), False
    while len(seen) < count:
        assert time.time() < end, f"only {len(seen)} frames of the run at scale {scale} in time"
        try:
            shot = xwd_raw(g.window)
        except subprocess.CalledProcessError:  # not mapped yet, or gone
            assert g.proc.poll() is None, f"the run ended after only {len(seen)} of its frames were seen"
            continue
        width, _, rows, pack = shot
        if all(row == pack((0, 0, 0)) * width for row in rows):
            continue  # black before the first frame
        p = scaled_print(shot, scale, left, top)
        if p not in at and not placed:
            continue  # the first frame at a size may come in bands, or at the size before
        assert p in at, f"a frame the run never had, at scale {scale} (after frame {last})"
        later = [i for i in at[p] if i >= last]
        assert later, f"frame {at[p]} after frame {last}"
        last, placed = later[0], True
        seen.add(last)
    return last


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
