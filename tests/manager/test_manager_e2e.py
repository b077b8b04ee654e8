"""The manager and the scanner on one machine: tarnwellUSB installs the
scanner, session-manager boots it from BootExecute, tarnwellUSB uninstalls it
and the registry is as it was. A blacklist saved by the manager is loaded by
the scanner at its next run. TW_TARNWELLUSB, TW_TARNWELL and
TW_SESSION_MANAGER name the programs (TW_BASE_LIBRARY the base library
folder, optional); missing programs skip the tests."""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "session"))
from simmachine import Machine, reg_hex  # noqa: E402

MANAGER = os.environ.get("TW_TARNWELLUSB", "")
SCANNER = os.environ.get("TW_TARNWELL", "")
SESSION_MANAGER = os.environ.get("TW_SESSION_MANAGER", "")
LIBRARY = os.environ.get("TW_BASE_LIBRARY", "")

PROGRAM = "C:\\Program Files\\tarnwellUSB"
USUAL_BOOT = "autocheck autochk *\0\0".encode("utf-16-le")


def parse_reg(text):
    """{(key, value name): (type, bytes)} of a .reg file, as written by
    regedit or by the registry store: strings, dword:, hex(N): with
    continuation lines."""
    values = {}
    key = None
    logical = []
    for line in text.replace("\r\n", "\n").split("\n"):
        if logical and logical[-1].endswith("\\"):
            logical[-1] = logical[-1][:-1] + line.strip()
        else:
            logical.append(line)
    for line in logical:
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1].upper()
            values.setdefault((key, None), None)
            continue
        m = re.match(r'^("(?:[^"\\]|\\.)*"|@)=(.*)$', line)
        if not m or key is None:
            continue
        name = m.group(1)
        name = "" if name == "@" else name[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        data = m.group(2)
        if data.startswith('"'):
            s = data[1:-1].replace('\\"', '"').replace("\\\\", "\\")
            values[(key, name.upper())] = (1, (s + "\0").encode("utf-16-le"))
        elif data.startswith("dword:"):
            values[(key, name.upper())] = (4, int(data[6:], 16).to_bytes(4, "little"))
        else:
            hm = re.match(r"^hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", data)
            kind = int(hm.group(1), 16) if hm.group(1) else 3
            raw = bytes(int(b, 16) for b in hm.group(2).split(",") if b.strip())
            values[(key, name.upper())] = (kind, raw)
    return values


class ManagerAndScanner(unittest.TestCase):
    def setUp(self):
        for need in (MANAGER, SCANNER, SESSION_MANAGER):
            if not need or not os.path.exists(need):
                self.skipTest("tarnwellUSB, tarnwell or session-manager not built")
        self.m = Machine(win_target=None, lib_target=None, code_page=936)
        self.addCleanup(self.m.cleanup)
        self.m.dir("C:\\WINDOWS\\system32")
        self.m.dir("C:\\WINDOWS\\Temp")
        lib = self.m.dir(PROGRAM + "\\Lib")
        shutil.copyfile(SCANNER, os.path.join(lib, "tarnwell.exe"))
        os.chmod(os.path.join(lib, "tarnwell.exe"), 0o755)
        if LIBRARY and os.path.isdir(LIBRARY):
            for name in os.listdir(LIBRARY):
                if name.endswith(".dat"):
                    shutil.copyfile(os.path.join(LIBRARY, name), os.path.join(lib, name))
        self.manager = self.m.host(PROGRAM + "\\tarnwellUSB")
        shutil.copyfile(MANAGER, self.manager)
        os.chmod(self.manager, 0o755)
        self.json = self.m.write()
        # The usual Windows: only autocheck boots.
        with open(os.path.join(self.m.folder, "registry.reg"), "w", newline="") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
                    '"BootExecute"=' + reg_hex(7, USUAL_BOOT) + "\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
                    '"CurrentVersion"="5.1"\r\n\r\n')

    def registry(self):
        with open(os.path.join(self.m.folder, "registry.reg"), encoding="utf-8-sig") as f:
            return parse_reg(f.read())

    def manage(self, *args):
        env = dict(os.environ, TARNWELL_MACHINE=self.json)
        env.pop("DISPLAY", None)
        return subprocess.run([self.manager] + list(args), env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)

    def boot(self):
        return subprocess.run([SESSION_MANAGER, self.json], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)

    def test_install_boot_uninstall(self):
        before = self.registry()
        r = self.manage("install")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual("tarnwell 安装成功!\n", r.stdout.decode())
        after = self.registry()
        sm = "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER"
        self.assertEqual((7, "autocheck autochk *\0tarnwell\0\0".encode("utf-16-le")),
                         after[(sm, "BOOTEXECUTE")])
        target = "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\TARNWELL"
        self.assertEqual((1, PROGRAM.encode("utf-16-le") + "\\Lib".encode("utf-16-le")),
                         after[(target, "LIBTARGET")])
        self.assertEqual((1, "C:\\WINDOWS".encode("utf-16-le")), after[(target, "WINTARGET")])

        b = self.boot()
        out, err = b.stdout.decode("utf-8", "replace"), b.stderr.decode("utf-8", "replace")
        self.assertEqual(0, b.returncode, err)
        self.assertIn('boot entry "autocheck autochk *"', out)
        self.assertNotIn('boot entry "tarnwell": no program', out)
        self.assertNotIn('"tarnwell" ended', err)
        # The scanner ran: its screen follows autocheck's line.
        self.assertGreater(len(out.split('boot entry "autocheck autochk *"', 1)[1].strip()), 0, out)

        r = self.manage("uninstall")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual("tarnwell 卸载成功!\n", r.stdout.decode())
        self.assertEqual(before, self.registry())
        self.assertFalse(os.path.exists(self.m.host("C:\\WINDOWS\\system32\\tarnwell.exe")))

    def test_blacklist_saved_by_the_manager_is_loaded_by_the_scanner(self):
        # The scanner finds a file by the manager's blacklist: size and MD5.
        content = b"MZ not really a virus, just blacklisted by the user\0" * 7
        self.m.file("C:\\sample.exe", content)
        self.m.file("F:\\copy of sample.exe", content)
        self.m.file("F:\\harmless.txt", b"harmless")
        r = self.manage("install")
        self.assertEqual(0, r.returncode, r.stderr)
        r = self.manage("blacklist", "add", "C:\\sample.exe")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual("保存成功！\n", r.stdout.decode())
        listed = self.manage("blacklist", "list").stdout.decode()
        self.assertIn(hashlib.md5(content).hexdigest(), listed)

        # Press U at the countdown: the USB disk is scanned with the library.
        import json
        with open(self.json) as f:
            desc = json.load(f)
        desc["keyboard"] = [{"at": 3.0, "key": "U"}]
        with open(self.json, "w") as f:
            json.dump(desc, f)
        b = self.boot()
        out = b.stdout.decode("utf-8", "replace")
        self.assertEqual(0, b.returncode, b.stderr)
        self.assertIn("Virus.User", out)
        with open(self.m.host("C:\\tarnwell.log"), "rb") as f:
            log = f.read()
        self.assertIn(b"copy of sample.exe", log)
        self.assertIn(b"Virus.User", log)
        self.assertNotIn(b"harmless.txt", log.split(b"Virus.User")[0].splitlines()[-1])

    def test_records_written_by_the_scanner_are_listed_restored_and_deleted(self):
        if not LIBRARY or not os.path.exists(os.path.join(LIBRARY, "Base000.dat")):
            self.skipTest("the base library is not built")
        eicar = (b"X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*")
        first = self.m.file("F:\\Downloads\\eicar.com", eicar)
        second = self.m.file("F:\\Other\\eicar.com", eicar)
        # A name as long as a folder entry may be.
        long_name = "F:\\" + "L" * 251 + ".com"
        third = self.m.file(long_name, eicar)
        os.utime(first, (1600000000, 1600000000))
        os.utime(second, (1700000000, 1700000000))
        self.assertEqual(0, self.manage("install").returncode)
        import json
        with open(self.json) as f:
            desc = json.load(f)
        desc["keyboard"] = [{"at": 3.0, "key": "U"}]
        with open(self.json, "w") as f:
            json.dump(desc, f)
        b = self.boot()
        self.assertEqual(0, b.returncode, b.stderr)
        self.assertFalse(os.path.exists(first))
        self.assertFalse(os.path.exists(second))
        self.assertFalse(os.path.exists(third))

        listed = self.manage("quarantine", "list")
        self.assertEqual(0, listed.returncode, listed.stderr)
        rows = [line.split("\t") for line in listed.stdout.decode().splitlines()[1:]]
        self.assertEqual(3, len(rows), listed.stdout)
        by_path = {row[3]: row for row in rows}
        d1 = hashlib.md5(eicar).hexdigest()
        for path in ("F:\\Downloads\\eicar.com", "F:\\Other\\eicar.com", long_name):
            row = by_path[path]
            self.assertEqual(str(len(eicar)), row[5])
            self.assertEqual(d1, row[6])
            self.assertTrue(row[7].endswith(".vir"))

        # Same content from two paths: each record goes back to its own path.
        r = self.manage("quarantine", "restore", by_path["F:\\Other\\eicar.com"][7])
        self.assertEqual(0, r.returncode, r.stderr)
        with open(second, "rb") as f:
            self.assertEqual(eicar, f.read())
        self.assertEqual(1700000000, int(os.stat(second).st_mtime))
        self.assertFalse(os.path.exists(first))
        r = self.manage("quarantine", "restore", by_path[long_name][7])
        self.assertEqual(0, r.returncode, r.stderr)
        with open(third, "rb") as f:
            self.assertEqual(eicar, f.read())
        self.assertEqual(["Downloads", "L" * 251 + ".com", "Other"],
                         sorted(os.listdir(self.m.host("F:\\"))))  # nothing left beside it

        r = self.manage("quarantine", "delete", by_path["F:\\Downloads\\eicar.com"][7])
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertFalse(os.path.exists(first))
        self.assertEqual(1, len(self.manage("quarantine", "list").stdout.decode().splitlines()))
        r = self.manage("quarantine", "delete-all")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertFalse(os.path.exists(self.m.host("C:\\tarnwell.bak")))
