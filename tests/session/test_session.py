"""End-to-end runs of the boot-time scanner on machines made for each check:
screen texts, menu dispatch, the walk, settings, verdicts, Esc, the scan
time, and bad input. TW_TARNWELL names the scanner, TW_TARNWELL_FAKE the
same session linked with the test engine of fake_engine.cpp, which these
checks use so that they need no library; the engine's own runs with the
default library are in tests/engine."""

import os
import re
import shutil
import threading
import time
import unittest

from screen import (CLEAR_COUNTDOWN, COUNTDOWN, COUNTDOWN_LINE, LOAD_FAILED, BANNER_RE, field, menu, parse, summary)
from simmachine import Machine, get_attrs, set_attrs

TARNWELL = os.environ.get("TW_TARNWELL", "")
FAKE = os.environ.get("TW_TARNWELL_FAKE", "")


def keys(*names, at=12.0, step=None):
    """A keyboard script: the first key at `at` seconds of machine time after
    the keyboard is opened (12 of the countdown's 20 seconds). A key that
    comes before the prompt's first read is queued and, as on the real
    device, makes the prompt give up; the delay leaves a loaded machine time
    to issue that read."""
    out = []
    for i, name in enumerate(names):
        event = {"at": at + i * (step or 0)}
        if isinstance(name, int):
            event["code"] = name
        else:
            event["key"] = name
        out.append(event)
    return out


def read_lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read().splitlines()


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def key_timing_lost(m, out):
    """True when a scripted first key missed the prompt's window: it reached
    the keyboard before the prompt's first read (the device then completes
    the read at once and the prompt takes no key and shows no countdown, as
    the real one does), or after the last countdown step. On a heavily
    loaded test machine the keyboard's feeder and the prompt can drift that
    far apart; such a run says nothing about the session and is repeated."""
    menu_end = "Press <Esc> to exit.\n\n"
    if not m.keyboard or menu_end not in out:
        return False
    return (menu_end + "\r") not in out or (COUNTDOWN_LINE % 1) in out


class Base(unittest.TestCase):
    program = FAKE

    def setUp(self):
        if not self.program or not os.path.exists(self.program):
            self.skipTest("program not built")

    def machine(self, **kw):
        m = Machine(**kw)
        self.addCleanup(m.cleanup)
        return m

    def run_ok(self, m, env=None, timeout=60):
        log = os.path.join(m.folder, "engine.log")
        full_env = {"TW_FAKE_ENGINE_LOG": log}
        full_env.update(env or {})
        for attempt in range(3):
            if os.path.exists(log):
                os.remove(log)
            r = m.run(self.program, env=full_env, timeout=timeout)
            if not key_timing_lost(m, r.out):
                break
        self.assertEqual(0, r.returncode, "exit status; stderr: " + r.err)
        r.log = read_lines(log)
        return r

    def screen(self, r):
        s = parse(r.out)
        self.assertIsNotNone(s, "unexpected screen: %r" % r.out[-3000:])
        return s

    def assertZeroSummary(self, s):
        self.assertEqual(summary(), s.summary)

    def scanned(self, r):
        """Paths the engine was handed, in order (from the test engine's log)."""
        return [line.split(" path=", 1)[1] for line in r.log if line.startswith("scan ")]


class ScreenTexts(Base):
    def test_no_key_shows_banner_menu_countdown_and_summary_and_ends_quickly(self):
        m = self.machine(time_scale=0.01)
        m.file("C:\\a.txt")
        m.file("F:\\b.txt")
        p = m.start(self.program)
        data, stamps = b"", []
        while True:
            chunk = os.read(p.stdout.fileno(), 65536)
            if not chunk:
                break
            data += chunk
            stamps.append((time.monotonic(), len(data)))
        p.communicate(timeout=60)
        end = time.monotonic()
        self.assertEqual(0, p.returncode)
        out = data.decode("utf-8")
        head = re.match(BANNER_RE, out)
        self.assertIsNotNone(head, out[:200])
        rest = out[head.end():]
        expected = "C:\\ F:\\ " + menu("C:", "F:") + COUNTDOWN + CLEAR_COUNTDOWN + summary()
        self.assertEqual(expected, rest[:len(expected)])
        self.assertIn(rest[len(expected):], ("00:00:00\r\n", "00:00:01\r\n"))
        # The countdown's twenty seconds are scaled by 0.01: from its first
        # line to the end of the process takes a fraction of a second, not 20.
        first_line = len(data[:data.index(b"within 10 second")])
        countdown_start = next(t for t, n in stamps if n > first_line)
        self.assertLess(end - countdown_start, 2.0)

    def test_no_removable_drive_hides_the_usb_line(self):
        m = self.machine(drives={"C": ("c", "fixed"), "E": ("e", "fixed")})
        s = self.screen(self.run_ok(m))
        self.assertEqual("C:\\ E:\\ ", s.roots)
        self.assertEqual(menu("C:E:", None), s.menu)
        self.assertEqual(list(range(10, 0, -1)), s.countdown)

    def test_only_types_fixed_and_removable_are_listed(self):
        m = self.machine(drives={
            "C": ("c", "fixed"), "D": (None, "cdrom"), "E": ("e", "remote"), "F": ("usb", "removable"),
            "G": ("g", "ramdisk"), "H": ("h", "cdrom"), "I": (None, "removable"), "J": ("j", "removable"),
            "K": ("k", "fixed")})
        s = self.screen(self.run_ok(m))
        self.assertEqual("C:\\ F:\\ J:\\ K:\\ ", s.roots)
        self.assertEqual(menu("C:K:", "F:J:"), s.menu)

    def test_only_an_empty_cdrom_still_prompts(self):
        m = self.machine(drives={"D": (None, "cdrom")}, keyboard=keys("A"))
        s = self.screen(self.run_ok(m))
        self.assertEqual("", s.roots)
        self.assertEqual(menu("", None), s.menu)
        # "A" with no fixed drive loads the library and walks nothing.
        self.assertTrue(s.loaded)
        self.assertEqual("", s.walk)
        self.assertZeroSummary(s)

    def test_no_drive_at_all_ends_after_the_menu(self):
        m = self.machine(drives={})
        r = self.run_ok(m)
        head = re.match(BANNER_RE, r.out)
        self.assertIsNotNone(head, r.out)
        self.assertEqual(menu("", None), r.out[head.end():])


class Dispatch(Base):
    """Which trees each menu key walks: every file shown is handed to the
    engine once, and nothing else is."""

    def make(self, key_script):
        m = self.machine(drives={"C": ("c", "fixed"), "D": (None, "cdrom"), "E": ("e", "fixed"),
                                 "F": ("usb", "removable"), "G": ("g", "removable")},
                         keyboard=key_script)
        m.file("C:\\root.txt")
        m.file("C:\\WINDOWS\\win.ini")
        m.file("C:\\WINDOWS\\system32\\kernel32.dll")
        m.file("C:\\Documents and Settings\\u\\doc.txt")
        m.file("E:\\e.txt")
        m.file("F:\\f.txt")
        m.file("F:\\hid\\g.txt")
        m.file("G:\\g.txt")
        return m

    C_FILES = ["C:\\root.txt", "C:\\WINDOWS\\win.ini", "C:\\WINDOWS\\system32\\kernel32.dll",
               "C:\\Documents and Settings\\u\\doc.txt"]

    def walked(self, key_script):
        r = self.run_ok(self.make(key_script))
        s = self.screen(r)
        self.assertEqual(summary(scanned=len(s.fields())), s.summary)
        self.assertEqual(len(s.fields()), len(self.scanned(r)))
        return s

    def assertWalk(self, s, groups):
        """The walk shows exactly the files of the groups, group after group."""
        fields = s.fields()
        position = 0
        for group in groups:
            expected = sorted(field(p) for p in group)
            self.assertEqual(expected, sorted(fields[position:position + len(group)]), fields)
            position += len(group)
        self.assertEqual(position, len(fields), fields)

    def test_a_walks_every_fixed_drive_in_letter_order(self):
        s = self.walked(keys("A"))
        self.assertTrue(s.loaded)
        self.assertWalk(s, [self.C_FILES, ["E:\\e.txt"]])

    def test_u_walks_every_removable_drive(self):
        s = self.walked(keys("U"))
        self.assertTrue(s.loaded)
        self.assertWalk(s, [["F:\\f.txt", "F:\\hid\\g.txt"], ["G:\\g.txt"]])

    def test_b_walks_the_windows_directory_only(self):
        s = self.walked(keys("B"))
        self.assertWalk(s, [["C:\\WINDOWS\\win.ini", "C:\\WINDOWS\\system32\\kernel32.dll"]])

    def test_a_drive_letter_walks_that_drive(self):
        self.assertWalk(self.walked(keys("G")), [["G:\\g.txt"]])
        self.assertWalk(self.walked(keys("E")), [["E:\\e.txt"]])
        self.assertWalk(self.walked(keys("C")), [self.C_FILES])

    def test_keys_that_choose_nothing(self):
        # Esc, a digit, the keypad 1 (no character), a letter without a
        # listed drive (D: is an empty CD-ROM, Z: does not exist), no key.
        for script in (keys("Esc"), keys("1"), keys(79), keys("D"), keys("Z"), []):
            s = self.walked(script)
            self.assertFalse(s.loaded, script)
            self.assertEqual("", s.walk, script)

    def test_u_without_a_removable_drive_scans_nothing(self):
        m = self.machine(drives={"C": ("c", "fixed")}, keyboard=keys("U"))
        m.file("C:\\a.txt")
        s = self.screen(self.run_ok(m))
        self.assertFalse(s.loaded)
        self.assertEqual("", s.walk)
        self.assertZeroSummary(s)


class WalkOutput(Base):
    def make(self, **kw):
        kw.setdefault("drives", {"C": ("c", "fixed")})
        kw.setdefault("keyboard", keys("C"))
        return self.machine(**kw)

    def test_progress_field_in_full_up_to_40_characters_then_short_form(self):
        m = self.make()
        p40 = "C:\\" + "p" * 37
        p41 = "C:\\qqqqqq\\" + "r" * 31
        p_long = "C:\\q\\" + "s" * 95
        self.assertEqual((40, 41), (len(p40), len(p41)))
        for p in (p40, p41, p_long):
            m.file(p)
        m.dir("C:\\empty")
        s = self.screen(self.run_ok(m))
        # In full: the path and three blanks; longer: the drive, two full
        # stops and the last 35 characters.
        self.assertEqual(sorted(["\r" + p40 + "   ", "\rC:\\..qqq\\" + "r" * 31 + "   ",
                                 "\rC:\\.." + "s" * 35 + "   "]),
                         sorted("\r" + part for part in s.walk.split("\r")[1:]))
        self.assertEqual(sorted([(p40, ""), (field(p41), ""), (field(p_long), "")]), sorted(s.chunks()))

    def test_short_form_never_splits_a_double_byte_character(self):
        # GBK: each of these characters is two bytes. The last 35 bytes of
        # the path begin inside a character, so the field starts one byte
        # later and keeps its width with a blank at the end.
        m = self.make(code_page=936)
        name = "\u75c5\u6bd2" * 10 + ".com"
        path = "C:\\aa\\" + name
        raw = path.encode("gbk")
        self.assertEqual(b"\xa1", raw[-35:-34])  # the second byte of a character
        m.file(path)
        s = self.screen(self.run_ok(m))
        tail = raw[-34:].decode("gbk")
        self.assertEqual("\rC:\\.." + tail + "    ", s.walk)

    def test_empty_tree_shows_nothing(self):
        m = self.make()
        m.dir("C:\\empty\\deeper")
        s = self.screen(self.run_ok(m))
        self.assertTrue(s.loaded)
        self.assertEqual("", s.walk)

    def test_depth_first_each_directory_walked_where_it_is_met(self):
        m = self.make()
        tree = ["C:\\a\\1.txt", "C:\\a\\2.txt", "C:\\a\\b\\3.txt", "C:\\a\\b\\c\\4.txt", "C:\\a\\b\\c\\5.txt",
                "C:\\a\\d\\6.txt", "C:\\e\\7.txt", "C:\\8.txt", "C:\\e\\f\\9.txt"]
        for p in tree:
            m.file(p)
        s = self.screen(self.run_ok(m))
        by_field = {field(p): p for p in tree}
        order = [by_field[f] for f in s.fields()]
        self.assertEqual(sorted(tree), sorted(order))
        dirs = {p[:i + 1] for p in tree for i, ch in enumerate(p) if ch == "\\"}
        for d in dirs:
            inside = [i for i, p in enumerate(order) if p.startswith(d)]
            self.assertEqual(list(range(inside[0], inside[-1] + 1)), inside, "%s not contiguous in %s" % (d, order))

    def test_paths_beyond_the_walk_buffer_are_skipped(self):
        # 1024 units with the terminator: a 1023-unit file path is shown, a
        # 1024-unit one is not; a folder is entered only while its path,
        # backslash and pattern fit.
        m = self.make()
        base = "C:\\" + "\\".join(c * 250 for c in "abc") + "\\" + "d" * 200 + "\\"
        self.assertEqual(957, len(base))
        shown = [base + "f" * 65 + "1", base + "g" * 64 + "\\x"]
        for p in shown:
            self.assertEqual(1023, len(p))
            m.file(p)
        m.file(base + "h" * 65 + "22")   # 1024 units
        m.file(base + "i" * 65 + "\\x")  # its folder with a backslash and "*" needs 1025
        m.file("C:\\small.txt")
        s = self.screen(self.run_ok(m))
        self.assertEqual(sorted([field("C:\\small.txt")] + [field(p) for p in shown]), sorted(s.fields()))

    def test_ansi_paths_over_1023_bytes_are_skipped(self):
        # Code page 936: each CJK character is one UTF-16 unit but two ANSI
        # bytes, so these paths fit the walk buffer but not the ANSI path.
        m = self.make(code_page=936)
        han = "\u4e2d" * 85
        base = "C:\\" + "\\".join([han] * 5) + "\\"   # 3 + 5 * 171 = 858 ANSI bytes
        fits = base + "\u6587" * 65 + "m" * 35        # 858 + 130 + 35 = 1023 bytes
        too_long = base + "\u6587" * 65 + "n" * 36    # 1024 bytes
        m.file(fits)
        m.file(too_long)
        m.file("C:\\small.txt")
        s = self.screen(self.run_ok(m))
        fields = s.fields()
        self.assertEqual(2, len(fields), fields)
        self.assertIn(field("C:\\small.txt"), fields)
        self.assertIn("C:\\.." + "m" * 35, fields)

    def test_names_holding_a_backslash_are_skipped(self):
        # A disk written elsewhere may hold names with a backslash in them.
        # No path can name such an entry: joined to its folder it would name
        # another file (here F:\victim.txt once more, through "..").
        m = self.make(drives={"C": ("c", "fixed"), "F": ("usb", "removable")}, keyboard=keys("F"))
        m.file("F:\\victim.txt")
        m.file("F:\\d\\ok.txt")
        with open(os.path.join(m.host("F:\\d"), "..\\victim.txt"), "wb") as f:
            f.write(b"x")
        os.makedirs(os.path.join(m.host("F:\\d"), "e\\..\\.."))
        with open(os.path.join(m.host("F:\\d"), "e\\..\\..", "inner.txt"), "wb") as f:
            f.write(b"x")
        r = self.run_ok(m)
        self.assertEqual(sorted(["F:\\d\\ok.txt", "F:\\victim.txt"]), sorted(self.scanned(r)))

    def test_names_that_a_path_turns_into_another_object_are_skipped(self):
        # Joined to its folder, a file name that is a DOS device name (in any
        # folder, with any extension) names the device ("F:\d\COM1" is the
        # serial port, whose read waits for ever at boot); trailing dots and
        # blanks are dropped from a path's last name, so "x.txt." names
        # "x.txt"; a colon names a stream of another file. Folders with such
        # names are walked: their paths end in a backslash.
        m = self.make(drives={"C": ("c", "fixed"), "F": ("usb", "removable")}, keyboard=keys("F"))
        ok = ["F:\\x.txt", "F:\\d\\CONFIG.SYS", "F:\\d\\COM10", "F:\\d\\nul\\in.txt", "F:\\d\\dot.\\in.txt",
              "F:\\d\\lpt0.txt"]
        odd = ["F:\\COM1", "F:\\d\\nul.txt", "F:\\d\\Aux .exe", "F:\\d\\con", "F:\\d\\lpt9.log.txt",
               "F:\\x.txt.", "F:\\x.txt ", "F:\\d\\y..", "F:\\d\\a:b"]
        for p in ok + odd:
            m.file(p)
        r = self.run_ok(m)
        self.assertEqual(sorted(ok), sorted(self.scanned(r)))
        self.assertEqual(sorted(field(p) for p in ok), sorted(self.screen(r).fields()))

    def test_names_the_ansi_code_page_cannot_spell_are_not_handed_on(self):
        # The engine is handed the ANSI path and turns it back into UTF-16.
        # A character the code page lacks comes back as "?" (or, with a
        # best-fit mapping, as another character), so that path names
        # another file, or a device, or nothing. Such files are shown and
        # counted, as files whose open fails, but never opened.
        m = self.make(drives={"C": ("c", "fixed"), "F": ("usb", "removable")}, keyboard=keys("F"))
        ok = ["F:\\plain.txt", "F:\\caf\u00e9.txt", "F:\\d\u00e9j\u00e0\\in.txt"]
        odd = ["F:\\a\u0100.txt", "F:\\\u4e2d\\in.txt", "F:\\x\\\uff23\uff2f\uff2d\uff11.txt"]
        for p in ok + odd:
            m.file(p)
        m.file("F:\\a?.txt")  # what the first odd name would come back as
        r = self.run_ok(m)
        with open(os.path.join(m.folder, "engine.log"), encoding="cp1252") as f:
            scanned = [line.split(" path=", 1)[1] for line in f.read().splitlines() if line.startswith("scan ")]
        self.assertEqual(sorted(ok + ["F:\\a?.txt"]), sorted(scanned))
        shown = len(ok) + len(odd) + 1
        self.assertEqual(shown, len(self.screen(r).fields()))
        self.assertIn("%d files scaned." % shown, r.out)

    def test_very_deep_tree_is_cut_at_the_depth_limit_without_harm(self):
        m = self.make()
        path = "C:\\"
        files = []
        for level in range(300):
            files.append(path + "f")
            path += "d\\"
        for f in files:
            m.file(f)
        s = self.screen(self.run_ok(m))
        # The root and 256 folder levels below it are walked.
        self.assertEqual(sorted(field(f) for f in files[:257]), sorted(s.fields()))

    def test_directory_links_that_loop_are_not_followed_back(self):
        m = self.make()
        files = ["C:\\top.txt", "C:\\a\\1.txt", "C:\\a\\b\\2.txt"]
        for f in files:
            m.file(f)
        os.symlink(".", m.host("C:\\a\\self"))
        os.symlink("..", m.host("C:\\a\\up"))
        os.symlink("../..", m.host("C:\\a\\b\\root1"))
        os.symlink("..", m.host("C:\\a\\b\\parent"))
        os.symlink(m.host("C:\\a"), m.host("C:\\a\\b\\absolute"))
        s = self.screen(self.run_ok(m, timeout=60))
        self.assertEqual(sorted(field(f) for f in files), sorted(s.fields()))

    def test_a_loop_through_two_links_ends_at_the_first_repeated_folder(self):
        # C:\x\to_y leads to C:\y, whose to_x leads back to C:\x: each folder
        # is walked once below the other, and the walk stops where it would
        # come round to a folder already on its path.
        m = self.make()
        m.file("C:\\x\\f.txt")
        m.file("C:\\y\\g.txt")
        os.symlink(m.host("C:\\y"), m.host("C:\\x\\to_y"))
        os.symlink(m.host("C:\\x"), m.host("C:\\y\\to_x"))
        s = self.screen(self.run_ok(m, timeout=60))
        expected = ["C:\\x\\f.txt", "C:\\x\\to_y\\g.txt", "C:\\y\\g.txt", "C:\\y\\to_x\\f.txt"]
        self.assertEqual(sorted(field(f) for f in expected), sorted(s.fields()))

    def test_a_plain_folder_below_a_link_that_repeats_an_ancestor_is_not_entered(self):
        # C:\m\l1 leads to C:\n\o, whose l2 leads to C:\n; there the plain
        # folder o is C:\n\o again, already on the walk's path (reached
        # through l1): it is not walked a second time below itself.
        m = self.make()
        m.file("C:\\n\\g.txt")
        m.file("C:\\n\\o\\f.txt")
        m.dir("C:\\m")
        os.symlink(m.host("C:\\n\\o"), m.host("C:\\m\\l1"))
        os.symlink(m.host("C:\\n"), m.host("C:\\n\\o\\l2"))
        s = self.screen(self.run_ok(m, timeout=60))
        expected = ["C:\\m\\l1\\f.txt", "C:\\m\\l1\\l2\\g.txt", "C:\\n\\g.txt", "C:\\n\\o\\f.txt"]
        self.assertEqual(sorted(field(f) for f in expected), sorted(s.fields()))


class Attributes(Base):
    program = FAKE

    def test_removable_items_are_normal_before_they_are_entered_or_handed_on(self):
        m = self.machine(drives={"C": ("c", "fixed"), "F": ("usb", "removable")}, keyboard=keys("F"))
        m.dir("F:\\RECYCLER", attrs=0x16)
        m.dir("F:\\RECYCLER\\S-1-5", attrs=0x13)
        m.file("F:\\RECYCLER\\S-1-5\\worm.exe", attrs=0x7)
        m.file("F:\\RECYCLER\\note.txt", attrs=0x2)
        m.file("F:\\autorun.inf", attrs=0x7)
        r = self.run_ok(m)
        scans = [line for line in r.log if line.startswith("scan ")]
        self.assertEqual(3, len(scans), r.log)
        for line in scans:
            attrs = int(re.search(r"attrs=(0x[0-9a-f]+)", line).group(1), 16)
            parent = int(re.search(r"parent=(0x[0-9a-f]+)", line).group(1), 16)
            self.assertEqual(0, attrs & 0x7, line)   # not read-only, hidden or system
            self.assertEqual(0, parent & 0x7, line)
        for p in ("F:\\RECYCLER", "F:\\RECYCLER\\S-1-5", "F:\\RECYCLER\\S-1-5\\worm.exe",
                  "F:\\RECYCLER\\note.txt", "F:\\autorun.inf"):
            self.assertEqual(0, (get_attrs(m.host(p)) or 0) & 0x7, p)

    def test_links_on_a_removable_drive_change_nothing_they_lead_to(self):
        # A junction on the stick into C:\WINDOWS and a file link to a file
        # of C: must not make those system files normal.
        m = self.machine(drives={"C": ("c", "fixed"), "F": ("usb", "removable")}, keyboard=keys("F"))
        m.dir("C:\\WINDOWS", attrs=0x16)
        sysfile = m.file("C:\\WINDOWS\\w.ini", attrs=0x7)
        linked = m.file("C:\\boot.ini", attrs=0x7)
        own = m.file("F:\\own.txt", attrs=0x2)
        os.symlink(m.host("C:\\WINDOWS"), m.host("F:\\j"))
        os.symlink(linked, m.host("F:\\boot.lnk"))
        r = self.run_ok(m)
        # The linked file is still scanned; nothing behind the junction is.
        self.assertEqual(sorted(["F:\\boot.lnk", "F:\\own.txt"]), sorted(self.scanned(r)))
        self.assertEqual(0x16, get_attrs(m.host("C:\\WINDOWS")))
        self.assertEqual(0x7, get_attrs(sysfile))
        self.assertEqual(0x7, get_attrs(linked))
        self.assertEqual(0, (get_attrs(own) or 0) & 0x7)

    def test_fixed_drives_are_never_changed(self):
        m = self.machine(drives={"C": ("c", "fixed")}, keyboard=keys("C"))
        m.dir("C:\\hidden", attrs=0x16)
        m.file("C:\\hidden\\sys.dll", attrs=0x7)
        plain = m.file("C:\\plain.txt")
        r = self.run_ok(m)
        self.assertEqual(2, len(self.scanned(r)))
        self.assertEqual(0x16, get_attrs(m.host("C:\\hidden")))
        self.assertEqual(0x7, get_attrs(m.host("C:\\hidden\\sys.dll")))
        self.assertIsNone(get_attrs(plain))


class EngineDriven(Base):
    """Runs with the test engine: verdicts, counters, library modes and
    folders, the system sweep, Esc and the scan time."""
    program = FAKE

    def test_verdict_texts_and_summary_counts(self):
        m = self.machine(drives={"C": ("c", "fixed")}, keyboard=keys("C"))
        names = {"#report.txt": "\n", "#delete.txt": ", delete\n", "#delfail.txt": ", delete failed\n",
                 "#clean.txt": ", cleaned\n", "#cleanfail.txt": ", cleaned failed\n"}
        for n in list(names) + ["plain.txt", "#unpack.txt", "#zip.txt"]:
            m.file("C:\\" + n)
        s = self.screen(self.run_ok(m))
        expected = [(field("C:\\" + n), "Virus.Fake" + v) for n, v in names.items()]
        expected += [(field("C:\\" + n), "") for n in ("plain.txt", "#unpack.txt", "#zip.txt")]
        self.assertEqual(sorted(expected), sorted(s.chunks()))
        self.assertEqual(summary(scanned=8, found=5, deleted=1, cleaned=1, unpacked=1, members=3, archives=1),
                         s.summary)

    def test_library_mode_and_folder_per_choice(self):
        for key, mode in (("A", 1), ("B", 1), ("C", 1), ("U", 0), ("F", 0)):
            m = self.machine(keyboard=keys(key), lib_target="C:\\Program Files\\tarnwellUSB\\Lib")
            r = self.run_ok(m)
            creates = [line for line in r.log if line.startswith("create ")]
            self.assertEqual(["create mode=%d folder=C:\\Program Files\\tarnwellUSB\\Lib\\" % mode], creates, key)
            self.assertEqual("destroy", r.log[-1])

    def test_library_folder_from_lib_target(self):
        cases = [(None, "\\"), ("", "\\"), ("L" * 1022, "L" * 1022 + "\\"), ("L" * 1023, "\\"),
                 ("L" * 1500, "\\")]
        for value, folder in cases:
            m = self.machine(keyboard=keys("C"), lib_target=value)
            r = self.run_ok(m)
            self.assertEqual(["create mode=1 folder=" + folder],
                             [line for line in r.log if line.startswith("create ")], value and len(value))

    def test_library_that_cannot_be_loaded_ends_the_run_without_summary(self):
        m = self.machine(keyboard=keys("U"), lib_target="C:\\nolib")
        m.file("F:\\f.txt")
        r = self.run_ok(m)
        self.assertTrue(r.out.endswith(CLEAR_COUNTDOWN + LOAD_FAILED), r.out[-300:])
        self.assertEqual([], self.scanned(r))

    def test_sweep_after_a_usb_scan(self):
        # The Windows directory on D: moves the documents directory there too.
        m = self.machine(drives={"C": ("c", "fixed"), "D": ("d", "fixed"), "F": ("usb", "removable")},
                         win_target="D:\\WINNT", keyboard=keys("F"))
        m.file("F:\\#sweep.exe")
        m.file("C:\\boot.ini", attrs=0x6)
        m.file("C:\\sub\\not-in-sweep.txt")
        m.file("D:\\d.txt")
        m.file("D:\\WINNT\\system32\\w.dll")
        m.file("D:\\Documents and Settings\\u\\doc.txt")
        m.file("C:\\Documents and Settings\\u\\not-this-one.txt")
        r = self.run_ok(m)
        scans = [(int(re.search(r"sweep=(\d)", line).group(1)), line.split(" path=", 1)[1])
                 for line in r.log if line.startswith("scan ")]
        self.assertEqual([(0, "F:\\#sweep.exe"), (1, "C:\\boot.ini"), (1, "D:\\d.txt"),
                          (1, "D:\\WINNT\\system32\\w.dll"), (1, "D:\\Documents and Settings\\u\\doc.txt")], scans)
        self.assertEqual(["create mode=0 folder=C:\\Lib\\"], [x for x in r.log if x.startswith("create ")])
        self.assertEqual(0x6, get_attrs(m.host("C:\\boot.ini")))

    def test_sweep_after_u_with_every_removable_drive_first(self):
        m = self.machine(drives={"C": ("c", "fixed"), "F": ("usb", "removable"), "G": ("g", "removable")},
                         keyboard=keys("U"))
        m.file("F:\\#sweep.exe")
        m.file("G:\\g.txt")
        m.file("C:\\WINDOWS\\w.ini")
        m.file("C:\\Documents and Settings\\u\\doc.txt")
        r = self.run_ok(m)
        self.assertEqual(["F:\\#sweep.exe", "G:\\g.txt", "C:\\WINDOWS\\w.ini",
                          "C:\\Documents and Settings\\u\\doc.txt"], self.scanned(r))

    def test_no_sweep_after_fixed_scans(self):
        m = self.machine(drives={"C": ("c", "fixed"), "E": ("e", "fixed")}, keyboard=keys("E"))
        m.file("E:\\#sweep.exe")
        m.file("C:\\WINDOWS\\w.ini")
        r = self.run_ok(m)
        self.assertEqual(["E:\\#sweep.exe"], self.scanned(r))

    def test_esc_during_a_walk_stops_it_and_every_later_walk(self):
        # Esc comes while the engine is busy with one file, which stays busy
        # for many of the key reader's 2-second (scaled) waits after Esc was
        # published; the walk must still stop at its next entry.
        m = self.machine(drives={"C": ("c", "fixed"), "E": ("e", "fixed")},
                         keyboard=[{"at": 12.0, "key": "A"}, {"at": 40, "key": "Esc"}])
        m.file("C:\\#escwait.txt")
        for i in range(20):
            m.file("C:\\dir%02d\\file.txt" % i)
        m.file("E:\\e.txt")
        r = self.run_ok(m)
        s = self.screen(r)
        scanned = self.scanned(r)
        self.assertIn("esc seen=1", r.log)
        self.assertEqual("C:\\#escwait.txt", scanned[-1], scanned)
        self.assertNotIn("E:\\e.txt", scanned)
        self.assertEqual(field("C:\\#escwait.txt"), s.fields()[-1])

    def test_key_reader_thread_that_cannot_start_ends_the_run_before_any_scan(self):
        m = self.machine(drives={"C": ("c", "fixed")}, keyboard=keys("C"))
        m.file("C:\\a.txt")
        r = self.run_ok(m, env={"TW_FAKE_FAIL_CALL": "RtlCreateUserThread"})
        head = re.match(BANNER_RE, r.out)
        self.assertIsNotNone(head, r.out)
        rest = r.out[head.end():]
        self.assertTrue(rest.startswith("C:\\ " + menu("C:", None)), rest)
        # The prompt took the key; then the run ends: no library, no walk,
        # no summary, status 0 (checked by run_ok).
        self.assertIn(COUNTDOWN_LINE % 10, rest)
        self.assertNotIn(COUNTDOWN_LINE % 1, rest)
        self.assertTrue(rest.endswith(CLEAR_COUNTDOWN), rest[-200:])
        self.assertNotIn("Load virus library", rest)
        self.assertEqual([], [line for line in r.log if line.startswith(("create ", "scan "))])

    def test_scan_time_across_midnight(self):
        m = self.machine(drives={"C": ("c", "fixed")}, keyboard=keys("C"), clock="2026-12-07T23:59:58")
        m.file("C:\\#slow.txt")
        s = self.screen(self.run_ok(m, env={"TW_FAKE_ENGINE_SLOW": "3"}))
        h, mi, sec = (int(x) for x in s.time.split(":"))
        self.assertEqual((0, 0), (h, mi), s.time)
        self.assertTrue(2 <= sec <= 6, s.time)

    def run_paused(self, m, change):
        """Starts a run that pauses in the engine at a #pause file, applies
        `change` to the machine, lets the run go on and returns it."""
        marker = os.path.join(m.folder, "paused")
        log = os.path.join(m.folder, "engine.log")
        for attempt in range(3):
            if os.path.exists(log):
                os.remove(log)
            p = m.start(self.program, env={"TW_FAKE_ENGINE_PAUSE": marker, "TW_FAKE_ENGINE_LOG": log})
            deadline = time.monotonic() + 60
            while not os.path.exists(marker) and time.monotonic() < deadline and p.poll() is None:
                time.sleep(0.01)
            if os.path.exists(marker):
                break
            out, _ = p.communicate(timeout=60)
            if not key_timing_lost(m, out.decode("utf-8", errors="replace")):
                break
        self.assertTrue(os.path.exists(marker), "the run never reached the #pause file")
        change()
        os.remove(marker)
        out, err = p.communicate(timeout=60)
        self.assertEqual(0, p.returncode, err.decode(errors="replace"))
        r = type("R", (), {})()
        r.out = out.decode("utf-8", errors="replace")
        r.log = read_lines(log)
        return r

    def test_drive_folder_removed_during_the_walk(self):
        m = self.machine(drives={"C": ("c", "fixed"), "E": ("e", "fixed")}, keyboard=keys("A"))
        m.file("C:\\#pause.txt")
        m.file("E:\\sub\\e.txt")
        r = self.run_paused(m, lambda: shutil.rmtree(m.host("E:\\")))
        s = self.screen(r)
        self.assertNotIn("E:\\sub\\e.txt", self.scanned(r))
        self.assertEqual(summary(scanned=len(self.scanned(r))), s.summary)

    def test_directory_removed_while_it_is_walked(self):
        m = self.machine(drives={"C": ("c", "fixed")}, keyboard=keys("C"))
        m.file("C:\\d\\#pause.txt")
        for i in range(300):
            m.file("C:\\d\\sub%03d\\%s.txt" % (i, "x" * 40))
        m.file("C:\\z\\after.txt")
        r = self.run_paused(m, lambda: shutil.rmtree(m.host("C:\\d")))
        s = self.screen(r)
        self.assertIn("C:\\z\\after.txt", self.scanned(r))
        self.assertEqual(summary(scanned=len(self.scanned(r))), s.summary)


class Settings(Base):
    def windows_walk(self, win_target, folders):
        m = self.machine(drives={"C": ("c", "fixed")}, win_target=win_target, keyboard=keys("B"))
        for f in folders:
            m.file("C:\\" + f + "\\w.ini")
        return self.screen(self.run_ok(m)).fields()

    def test_windows_directory_default_when_missing_empty_or_too_long(self):
        ok = "C:\\" + "w" * 251
        self.assertEqual(254, len(ok))
        self.assertEqual([field(ok + "\\w.ini")], self.windows_walk(ok, ["w" * 251, "WINDOWS"]))
        for value in (None, "", "C:\\" + "w" * 252):
            # The default is spelled in lower case; the folder matches
            # regardless of case.
            self.assertEqual([field("c:\\windows\\w.ini")], self.windows_walk(value, ["w" * 252, "WINDOWS"]),
                             value and len(value))

    def test_windows_directory_ending_in_a_backslash_gets_no_second_one(self):
        self.assertEqual([field("C:\\WINDOWS\\w.ini")], self.windows_walk("C:\\WINDOWS\\", ["WINDOWS"]))
        m = self.machine(drives={"C": ("c", "fixed")}, win_target="C:\\", keyboard=keys("B"))
        m.file("C:\\w.ini")
        self.assertEqual([field("C:\\w.ini")], self.screen(self.run_ok(m)).fields())


class BadInput(unittest.TestCase):
    """Problems of the simulated PC are reported by the stand-in before the
    scanner starts: one line on standard error, a non-zero exit status."""

    def setUp(self):
        if not TARNWELL or not os.path.exists(TARNWELL):
            self.skipTest("program not built")

    def machine(self, **kw):
        m = Machine(**kw)
        self.addCleanup(m.cleanup)
        return m

    def assertRefused(self, r, mention):
        self.assertNotEqual(0, r.returncode)
        self.assertEqual("", r.out)
        lines = r.err.strip().splitlines()
        self.assertEqual(1, len(lines), r.err)
        self.assertIn(mention, lines[0])

    def test_missing_malformed_or_incomplete_machine(self):
        m = self.machine()
        path = m.write()
        os.remove(path)
        self.assertRefused(m.run(TARNWELL, write=False), "machine.json")
        with open(path, "w") as f:
            f.write('{ "drives": { "C": ')
        self.assertRefused(m.run(TARNWELL, write=False), "machine.json")
        m2 = self.machine()
        m2.write()
        shutil.rmtree(m2.host("C:\\"))
        self.assertRefused(m2.run(TARNWELL, write=False), "machine.json")

    def test_registry_with_a_syntax_error(self):
        m = self.machine()
        m.extra_reg = "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Broken]\r\n\"Value\"=dword:zz\r\n"
        m.write()
        reg = os.path.join(m.folder, "registry.reg")
        before = read_bytes(reg)
        line = before.decode().split("\r\n").index("\"Value\"=dword:zz") + 1
        r = m.run(TARNWELL, write=False)
        self.assertRefused(r, str(line))
        self.assertEqual(before, read_bytes(reg))


if __name__ == "__main__":
    unittest.main()
