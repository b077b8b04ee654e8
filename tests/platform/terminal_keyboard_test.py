"""The "terminal" keyboard of a machine: keys typed at a real terminal (a
pseudo-terminal here) become keyboard records, and the terminal and the
screen colours are put back when the program ends."""

import json
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

PROBE = os.environ.get("TW_KEYBOARD_PROBE", "")


class TerminalKeyboard(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="tw-terminal-")
        os.makedirs(os.path.join(self.folder, "c"))
        with open(os.path.join(self.folder, "machine.json"), "w") as f:
            json.dump({"drives": {"C": {"root": "c"}}, "keyboard": "terminal", "timeScale": 0.01}, f)
        self.master, self.slave = pty.openpty()
        self.output = b""

    def tearDown(self):
        os.close(self.master)
        os.close(self.slave)
        shutil.rmtree(self.folder, ignore_errors=True)

    def read_until(self, text, seconds=20):
        end = time.time() + seconds
        while text not in self.output and time.time() < end:
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if ready:
                try:
                    self.output += os.read(self.master, 4096)
                except OSError:
                    break
        self.assertIn(text, self.output)

    def test_keys_become_records_and_the_terminal_is_restored(self):
        before = termios.tcgetattr(self.slave)
        env = dict(os.environ, TARNWELL_MACHINE=os.path.join(self.folder, "machine.json"))
        proc = subprocess.Popen([PROBE], stdin=self.slave, stdout=self.slave, stderr=self.slave, env=env)
        self.read_until(b"ready")
        # Raw mode while the keyboard is in use: no echo, no line buffering.
        during = termios.tcgetattr(self.slave)
        self.assertEqual(during[3] & (termios.ICANON | termios.ECHO), 0)
        for keys, expected in [
            (b"u", [b"code=16 flags=0", b"code=16 flags=1"]),
            (b"7", [b"code=08 flags=0"]),
            (b"\r", [b"code=1c flags=0"]),
            (b"\x1bOP", [b"code=3b flags=0"]),
            (b"\x1b[21~", [b"code=44 flags=0"]),
            (b"\x1b[A", [b"code=48 flags=2", b"code=48 flags=3"]),
            (b"\x1b", [b"code=01 flags=0", b"code=01 flags=1"]),
        ]:
            os.write(self.master, keys)
            for line in expected:
                self.read_until(line)
        self.assertEqual(proc.wait(timeout=20), 0)
        self.assertEqual(termios.tcgetattr(self.slave), before)
        # The boot screen was painted white on blue and put back at the end.
        self.assertTrue(self.output.startswith(b"\x1b[0;1;37;44m\x1b[2J\x1b[H"), self.output[:40])
        self.read_until(b"\x1b[0m", 5)

    def test_a_signal_the_program_was_started_ignoring_leaves_the_terminal_alone(self):
        # Started with an abort or a hangup ignored, the program goes on after
        # one is sent to it, and must go on with its terminal still raw and
        # its screen still painted.
        for sig in (signal.SIGABRT, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                self.output = b""
                self.run_ignoring(sig)

    def run_ignoring(self, sig):
        env = dict(os.environ, TARNWELL_MACHINE=os.path.join(self.folder, "machine.json"))
        proc = subprocess.Popen([PROBE], stdin=self.slave, stdout=self.slave, stderr=self.slave, env=env,
                                preexec_fn=lambda: signal.signal(sig, signal.SIG_IGN))
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        self.read_until(b"ready")
        proc.send_signal(sig)
        time.sleep(0.5)
        self.assertIsNone(proc.poll())
        self.assertEqual(termios.tcgetattr(self.slave)[3] & (termios.ICANON | termios.ECHO), 0)
        self.assertNotIn(b"\x1b[0m", self.output)
        os.write(self.master, b"u")
        self.read_until(b"code=16 flags=0")
        os.write(self.master, b"\x1b")
        self.read_until(b"code=01 flags=1")
        self.assertEqual(proc.wait(timeout=20), 0)
        # The screen is put back at the normal end; read that too, so the
        # next run starts from a quiet terminal.
        self.read_until(b"\x1b[0m", 5)


if __name__ == "__main__":
    unittest.main()
