"""Whole runs of the boot-time scanner with the default library on machines
made for each check: the screen, the scan log and the quarantine records,
byte for byte. TW_TARNWELL names the scanner, TW_BASE_LIBRARY the folder of
Base000.dat, TW_SAMPLES the generated samples."""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "session"))
from screen import field, parse, summary  # noqa: E402
from simmachine import Machine, get_attrs  # noqa: E402

TARNWELL = os.environ.get("TW_TARNWELL", "")
LIBRARY = os.environ.get("TW_BASE_LIBRARY", "")
SAMPLES = os.environ.get("TW_SAMPLES", "")
MANAGER = os.environ.get("TW_TARNWELLUSB", "")
TEST_LIBRARY = os.environ.get("TW_TEST_LIBRARY", "")
SANITIZED = os.environ.get("TW_SANITIZED", "") in ("1", "ON", "TRUE")

WORM_DIR = "F:\\RECYCLER\\S-1-5-21-1004336348-1177238915-682003330-512"
FALLBACK_KEY = 0xA7
FILETIME_EPOCH = 11644473600


def sample(name):
    with open(os.path.join(SAMPLES, name), "rb") as f:
        return f.read()


def twpk(data, key):
    import struct
    import zlib
    out = bytearray(b"TWPK" + bytes([1, key]) + b"\0\0" + struct.pack("<II", len(data), zlib.crc32(data)))
    out += bytes(b ^ ((key + 31 * i) & 0xFF) for i, b in enumerate(data))
    return bytes(out)


def records(m):
    store = os.path.join(m.folder, "c", "tarnwell.bak")
    out = {}
    if not os.path.isdir(store):
        return out
    for digit in os.listdir(store):
        for name in os.listdir(os.path.join(store, digit)):
            with open(os.path.join(store, digit, name), "rb") as f:
                data = f.read()
            out[os.path.join(digit, name)] = data
    return out


def origin(record):
    offset = int.from_bytes(record[184:188], "little")
    return record[248:offset].decode("latin-1")


class Base(unittest.TestCase):
    def setUp(self):
        for need in (TARNWELL, LIBRARY, SAMPLES):
            if not need or not os.path.exists(need):
                self.skipTest("scanner, library or samples not built")

    def machine(self, key="U", free=None, temp=True, library=None, **kw):
        # The key comes well into the countdown: one that reaches the
        # keyboard before the prompt's first read makes the prompt give up,
        # and a loaded machine can take that long to start the scanner.
        m = Machine(keyboard=[{"at": 12.0, "key": key}], lib_target="C:\\Lib", **kw)
        self.addCleanup(m.cleanup)
        m.dir("C:\\WINDOWS\\Temp")
        m.dir("C:\\Documents and Settings\\Administrator\\My Documents")
        lib = m.dir("C:\\Lib")
        library = library or LIBRARY
        for name in os.listdir(library):
            if name.endswith(".dat"):
                shutil.copyfile(os.path.join(library, name), os.path.join(lib, name))
        m.free = free
        m.temp = temp
        return m

    def run_machine(self, m, timeout=120):
        m.write()
        path = os.path.join(m.folder, "machine.json")
        with open(path) as f:
            desc = json.load(f)
        if m.free is not None:
            desc["drives"]["C"]["freeBytes"] = m.free
        if not m.temp:
            desc["environment"] = {"Path": "C:\\WINDOWS\\system32"}
        with open(path, "w") as f:
            json.dump(desc, f)
        r = m.run(TARNWELL, timeout=timeout, write=False)
        self.assertEqual(0, r.returncode, r.err)
        s = parse(r.out)
        self.assertIsNotNone(s, "unexpected screen: %r" % r.out[-3000:])
        return r, s

    def read_log(self, m):
        with open(m.host("C:\\tarnwell.log"), "rb") as f:
            return f.read()

    def check_content(self, rec, content):
        n = int.from_bytes(rec[180:184], "little")
        offset = int.from_bytes(rec[184:188], "little")
        self.assertEqual(len(content), n)
        key = n & 0xFF or FALLBACK_KEY
        self.assertEqual(content, bytes(b ^ key for b in rec[offset:offset + n]))
        self.assertEqual(offset + n, len(rec))

    def check_record(self, name, rec, content, path, virus, m, write_time=None):
        self.assertEqual(b"\xba\xc0\x0d\x0a", rec[:4])
        d1 = hashlib.md5(content).digest()
        n = len(content)
        date = rec[4:164].split(b"Data:")[1][:10].decode()
        self.assertRegex(date, r"^2026-12-07$")
        text = ("Corvane Scan Labs\r\nVersion: 10.07.19.01\r\nName: %s.vir\r\nData:%s\r\nSize: %d\r\n"
                "Official website: http://www.corvane.example/\r\n\r\n" % (d1.hex(), date, n)).encode()
        self.assertEqual(text[:160].ljust(160, b"\0"), rec[4:164])
        year, month, wday, day, hour, minute = [int.from_bytes(rec[164 + 2 * i:166 + 2 * i], "little")
                                                for i in range(6)]
        self.assertEqual((2026, 12, 1, 7, 10), (year, month, wday, day, hour))
        line = ("%s&%s\r\n" % (path, virus)).encode()
        self.assertEqual(n, int.from_bytes(rec[180:184], "little"))
        self.assertEqual(248 + len(line), int.from_bytes(rec[184:188], "little"))
        self.assertEqual(2, int.from_bytes(rec[188:192], "little"))
        self.assertEqual(d1, rec[192:208])
        zeroed = rec[:208] + b"\0" * 16 + rec[224:]
        d2 = hashlib.md5(zeroed).digest()
        self.assertEqual(d2, rec[208:224])
        if write_time is not None:
            self.assertEqual((write_time + FILETIME_EPOCH) * 10 ** 7, int.from_bytes(rec[240:248], "little"))
        self.assertEqual(line, rec[248:248 + len(line)])
        self.check_content(rec, content)
        self.assertEqual(os.path.join("%x" % (d2[0] >> 4), d2.hex() + ".vir"), name)
        store = m.host("C:\\tarnwell.bak")
        self.assertEqual(0x2, get_attrs(os.path.join(store, name)) & 0x2)
        self.assertEqual(0x2, get_attrs(os.path.join(store, name[0])) & 0x2)
        self.assertEqual(0x2, get_attrs(store) & 0x2)


class InfectedStick(Base):
    """The demo's story: the stick holds the worm, EICAR files and archives,
    a repairable program and a doubly packed test virus; C: holds copies of
    the worm's program for the sweep."""

    def build(self):
        m = self.machine(clock="2026-12-07T10:59:50")
        m.file("F:\\autorun.inf", sample("autorun.inf"), attrs=0x7)
        m.file(WORM_DIR + "\\autorun.exe", sample("autorun.exe"), attrs=0x7)
        m.file("F:\\Downloads\\eicar.com", sample("eicar.com"))
        m.file("F:\\Downloads\\eicar.com.txt", sample("eicar.com.txt"))
        m.file("F:\\Downloads\\eicar_com.zip", sample("eicar_com.zip"))
        m.file("F:\\Downloads\\eicarcom2.zip", sample("eicarcom2.zip"))
        m.file("F:\\Downloads\\docs.zip", sample("clean_docs.zip"))
        m.file("F:\\Tools\\setup.exe", sample("setup.exe"))
        m.file("F:\\Games\\tetris.exe", sample("packed2_virus.exe"))
        m.file("F:\\Games\\calc.exe", sample("calc.exe"))
        m.file("C:\\WINDOWS\\system32\\svch0st.exe", sample("autorun.exe"), attrs=0x6)
        m.file("C:\\Documents and Settings\\Administrator\\My Documents\\Photos.exe", sample("autorun.exe"))
        m.file("C:\\worm.exe", sample("autorun.exe"))
        m.file("C:\\WINDOWS\\eicar.com", sample("eicar.com"))  # the sweep uses digest lists only
        os.utime(m.host("F:\\Downloads\\eicar.com"), (1700000000, 1700000000))
        return m

    def test_screen_log_and_records(self):
        m = self.build()
        r, s = self.run_machine(m)
        chunks = s.chunks()
        verdicts = {f.rstrip(): rest for f, rest in chunks if rest}
        expected = {
            "F:\\autorun.inf": "Worm.USB.Autorun, delete\n",
            WORM_DIR + "\\autorun.exe": "Virus.USB.Heur, delete\n",
            "F:\\Downloads\\eicar.com": "EICAR-Test-File, delete\n",
            "F:\\Downloads\\eicar.com.txt": "EICAR-Test-File, delete\n",
            "F:\\Downloads\\eicar_com.zip": "EICAR-Test-File, delete\n",
            "F:\\Downloads\\eicarcom2.zip": "EICAR-Test-File, delete\n",
            "F:\\Tools\\setup.exe": "Tarnwell.TestInfector.A, cleaned\n",
            "F:\\Games\\tetris.exe": "Tarnwell.TestVirus, delete\n",
            "C:\\WINDOWS\\system32\\svch0st.exe": "Virus.USB.Heur, delete\n",
            "C:\\Documents and Settings\\Administrator\\My Documents\\Photos.exe": "Virus.USB.Heur, delete\n",
            "C:\\worm.exe": "Virus.USB.Heur, delete\n",
        }
        shown = {}
        for path, verdict in expected.items():
            f = field(path)
            shown[f.rstrip()] = verdict
        self.assertEqual(shown, verdicts)
        # The sweep: fixed roots, then the Windows and documents trees; the
        # C: EICAR copy is not looked at by signatures.
        fields = [f.rstrip() for f, _ in chunks]
        self.assertIn(field("C:\\WINDOWS\\eicar.com").rstrip(), fields)
        self.assertLess(fields.index(field("C:\\worm.exe").rstrip()),
                        fields.index(field("C:\\WINDOWS\\system32\\svch0st.exe").rstrip()))
        scanned = len(fields)
        # Members: eicar_com.zip 1, eicarcom2.zip 2 (the inner archive and its
        # member), docs.zip 2; unpack steps: those 5 and 2 TWPK layers.
        self.assertEqual(summary(scanned=scanned, found=11, deleted=10, cleaned=1, unpacked=7, members=5,
                                 archives=3), s.summary)
        with open(m.host("F:\\Tools\\setup.exe"), "rb") as f:
            self.assertEqual(sample("setup.exe.orig"), f.read())
        for gone in ("F:\\autorun.inf", "F:\\Downloads\\eicarcom2.zip", "C:\\WINDOWS\\system32\\svch0st.exe"):
            self.assertFalse(os.path.exists(m.host(gone)), gone)
        self.assertTrue(os.path.exists(m.host("C:\\WINDOWS\\eicar.com")))
        self.assertFalse(os.listdir(m.host("C:\\WINDOWS\\Temp")))

        # The log: header, the acted-on files in scan order, the summary.
        log = self.read_log(m)
        head = re.match(rb"Tarnwell v1\.0\r\n\r\nCopyright \(C\) 2026 Corvane Scan Labs\r\n"
                        rb"http://www\.corvane\.example/\r\n\r\n\[Start time\]: "
                        rb"2026-12-07 (\d\d):(\d\d):(\d\d)\r\n\r\n", log)
        self.assertIsNotNone(head, log[:200])
        lines = b""
        for f, rest in chunks:
            if rest:
                path = [p for p in expected if field(p) == f][0]
                name, verdict = rest[:-1].rsplit(", ", 1) if ", " in rest else (rest[:-1], "")
                lines += (path + "   " + name + ", " + verdict + "\r\n").encode()
        tail = log[head.end():]
        self.assertTrue(tail.startswith(lines), tail[:400])
        block = tail[len(lines):]
        expect = ("\r\n\r\n--------  --------  --------  \r\n%d files scaned.\r\n11 viruses found.\r\n"
                  "10 viruses deleted.\r\n1 viruses cleaned.\r\n7 files unpack.\r\n"
                  "5 files unzip form 3 compressed files.\r\n\r\nScan time: " % scanned).encode()
        self.assertTrue(block.startswith(expect), block)
        self.assertRegex(block[len(expect):].decode(), r"^00:00:\d\d\r\n$")

        # One record per backed-up file: 10 deleted and 1 repaired.
        recs = records(m)
        self.assertEqual(11, len(recs))
        by_origin = {origin(data): (name, data) for name, data in recs.items()}
        name, rec = by_origin["F:\\Downloads\\eicar.com&EICAR-Test-File\r\n"]
        self.check_record(name, rec, sample("eicar.com"), "F:\\Downloads\\eicar.com", "EICAR-Test-File",
                          m, write_time=1700000000)
        self.assertIn("F:\\Downloads\\eicarcom2.zip&EICAR-Test-File\r\n", by_origin)
        self.assertIn("F:\\Tools\\setup.exe&Tarnwell.TestInfector.A\r\n", by_origin)
        _, setup_rec = by_origin["F:\\Tools\\setup.exe&Tarnwell.TestInfector.A\r\n"]
        self.check_content(setup_rec, sample("setup.exe"))


class BackupStore(Base):
    def test_fallback_key_for_a_multiple_of_256(self):
        m = self.machine(key="C", clock="2026-12-07T10:59:50")
        # A doubly packed test virus of exactly 1024 bytes: N & 0xFF == 0.
        inner = bytearray(sample("testvirus.exe")[:1024 - 32])
        packed = twpk(twpk(bytes(inner), 3), 4)
        self.assertEqual(1024, len(packed))
        m.file("C:\\x\\k1024.exe", packed)
        r, s = self.run_machine(m)
        recs = list(records(m).items())
        self.assertEqual(1, len(recs))
        name, rec = recs[0]
        self.assertEqual(FALLBACK_KEY, rec[-1] ^ packed[-1])
        self.check_record(name, rec, packed, "C:\\x\\k1024.exe", "Tarnwell.TestVirus", m)

    def test_no_record_under_100_mib_free(self):
        m = self.machine(key="C", free=100 * 1024 * 1024 - 1)
        m.file("C:\\x\\eicar.com", sample("eicar.com"))
        r, s = self.run_machine(m)
        self.assertFalse(os.path.exists(m.host("C:\\x\\eicar.com")))
        self.assertFalse(os.path.exists(m.host("C:\\tarnwell.bak")))

    def test_long_path_and_name_give_a_listable_record(self):
        # A path near 512 characters: the record's origin line must stay
        # within what the manager reads (512 bytes), so the name is cut.
        m = self.machine(key="C")
        folder = "C:\\" + "\\".join(["p" * 60] * 7)
        path = folder + "\\" + "e" * (495 - len(folder)) + ".com"
        self.assertLessEqual(len(path), 512)
        m.file(path, sample("eicar.com"))
        r, s = self.run_machine(m)
        recs = records(m)
        self.assertEqual(1, len(recs))
        name, rec = list(recs.items())[0]
        line = origin(rec)
        self.assertLessEqual(len(line), 512)
        self.assertTrue(line.startswith(path + "&"))
        self.assertTrue(line.endswith("\r\n"))
        self.assertFalse(os.path.exists(m.host(path)))
        if MANAGER and os.path.exists(MANAGER):
            # The manager (started from a drive of the machine, as it must be)
            # lists the record and puts the file back.
            manager = m.host("C:\\Program Files\\tarnwellUSB\\tarnwellUSB")
            os.makedirs(os.path.dirname(manager), exist_ok=True)
            shutil.copy(MANAGER, manager)
            env = dict(os.environ, TARNWELL_MACHINE=os.path.join(m.folder, "machine.json"))
            listed = subprocess.run([manager, "quarantine", "list"], env=env, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, timeout=120)
            self.assertEqual(0, listed.returncode, listed.stderr)
            self.assertIn(os.path.basename(name), listed.stdout.decode("latin-1"))
            restored = subprocess.run([manager, "quarantine", "restore", os.path.basename(name)], env=env,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
            self.assertEqual(0, restored.returncode, restored.stderr)
            with open(m.host(path), "rb") as f:
                self.assertEqual(sample("eicar.com"), f.read())


class TempFolder(Base):
    def test_without_temp_nothing_is_unpacked_and_nothing_breaks(self):
        m = self.machine(key="C", temp=False)
        m.file("C:\\g\\tetris.exe", sample("packed2_virus.exe"))
        m.file("C:\\g\\eicar_com.zip", sample("eicar_com.zip"))
        m.file("C:\\g\\eicar.com", sample("eicar.com"))
        r, s = self.run_machine(m)
        self.assertTrue(os.path.exists(m.host("C:\\g\\tetris.exe")))
        self.assertTrue(os.path.exists(m.host("C:\\g\\eicar_com.zip")))
        self.assertFalse(os.path.exists(m.host("C:\\g\\eicar.com")))
        self.assertIn("0 files unpack.\n", s.summary)


class LongLog(Base):
    def test_a_log_past_64_kib_is_the_header_every_line_and_the_summary(self):
        # 320 EICAR copies with paths of about 200 characters: the lines pass
        # 64 KiB, so the log is written in a first part and appended at the
        # end; the whole file must still be one header, every line once, in
        # scan order, and one summary. The log of an earlier run is replaced.
        m = self.machine(key="C", clock="2026-12-07T10:59:50")
        folder = "C:\\" + "\\".join(["long folder name %02d" % i + "x" * 20 for i in range(5)])
        paths = [folder + "\\copy%04d.com" % i for i in range(320)]
        for p in paths:
            m.file(p, sample("eicar.com"))
        m.file("C:\\tarnwell.log", b"the log of an earlier run\r\n" * 5000)
        r, s = self.run_machine(m, timeout=600)
        log = self.read_log(m)
        head = re.match(rb"Tarnwell v1\.0\r\n\r\nCopyright \(C\) 2026 Corvane Scan Labs\r\n"
                        rb"http://www\.corvane\.example/\r\n\r\n\[Start time\]: "
                        rb"2026-12-07 \d\d:\d\d:\d\d\r\n\r\n", log)
        self.assertIsNotNone(head, log[:200])
        order = [f.rstrip() for f, rest in s.chunks() if rest]
        by_field = {field(p).rstrip(): p for p in paths}
        self.assertEqual(len(paths), len(order))
        lines = b"".join((by_field[f] + "   EICAR-Test-File, delete\r\n").encode() for f in order)
        self.assertGreater(len(head.group(0)) + len(lines), 65536)
        body = log[head.end():]
        self.assertEqual(lines, body[:len(lines)])
        scanned = len(s.chunks())
        expect = ("\r\n\r\n--------  --------  --------  \r\n%d files scaned.\r\n320 viruses found.\r\n"
                  "320 viruses deleted.\r\n0 viruses cleaned.\r\n0 files unpack.\r\n"
                  "0 files unzip form 0 compressed files.\r\n\r\nScan time: " % scanned).encode()
        self.assertEqual(expect, body[len(lines):len(lines) + len(expect)])
        self.assertRegex(body[len(lines) + len(expect):].decode(), r"^00:00:\d\d\r\n$")
        self.assertEqual(320, len(records(m)))


class TestLibrary(Base):
    """Runs with the test library: the default routines plus one that faults
    and one whose repair declines."""

    def setUp(self):
        super().setUp()
        if not TEST_LIBRARY or not os.path.isdir(TEST_LIBRARY):
            self.skipTest("test library not built")

    def test_failed_repair_and_faulting_routine(self):
        m = self.machine(key="C", library=TEST_LIBRARY, clock="2026-12-07T10:59:50")
        nofix = b"NO-FIX!! and the rest of an infected program" + bytes(range(200))
        m.file("C:\\f\\nofix.exe", nofix)
        m.file("C:\\f\\eicar.com", sample("eicar.com"))
        faulting = not SANITIZED  # the guard's recovery is checked in the plain build
        if faulting:
            m.file("C:\\f\\bad.bin", b"FAULT-ME: this file makes a routine fault")
            m.file("C:\\f\\zz.com", sample("eicar.com"))
        r, s = self.run_machine(m)
        verdicts = {f.rstrip(): rest for f, rest in s.chunks() if rest}
        expected = {"C:\\f\\nofix.exe": "Test.NoFix, cleaned failed\n",
                    "C:\\f\\eicar.com": "EICAR-Test-File, delete\n"}
        if faulting:
            expected["C:\\f\\zz.com"] = "EICAR-Test-File, delete\n"
        self.assertEqual({field(p).rstrip(): v for p, v in expected.items()}, verdicts)
        scanned = len(s.chunks())
        found = 3 if faulting else 2
        self.assertEqual(summary(scanned=scanned, found=found, deleted=found - 1), s.summary)
        # The failed repair leaves the file as the routines left it (here
        # untouched) and keeps its backup.
        with open(m.host("C:\\f\\nofix.exe"), "rb") as f:
            self.assertEqual(nofix, f.read())
        by_origin = {origin(data): (name, data) for name, data in records(m).items()}
        name, rec = by_origin["C:\\f\\nofix.exe&Test.NoFix\r\n"]
        self.check_record(name, rec, nofix, "C:\\f\\nofix.exe", "Test.NoFix", m)
        self.assertEqual(found, len(by_origin))
        if faulting:
            self.assertTrue(os.path.exists(m.host("C:\\f\\bad.bin")))
            self.assertFalse(os.path.exists(m.host("C:\\f\\zz.com")))
        log = self.read_log(m)
        self.assertIn(b"\r\nC:\\f\\nofix.exe   Test.NoFix, cleaned failed\r\n", log)
        self.assertIn(b"C:\\f\\eicar.com   EICAR-Test-File, delete\r\n", log)
        self.assertNotIn(b"bad.bin", log)


if __name__ == "__main__":
    unittest.main()
