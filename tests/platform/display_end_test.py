"""The boot screen written into a pipe gathers its text; however the program
ends (normally, by a fault nothing catches, by an abort), the text shown
before the end reaches the pipe."""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

PROBE = os.environ.get("TW_DISPLAY_PROBE", "")


class DisplayAtTheEnd(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="tw-display-")
        os.makedirs(os.path.join(self.folder, "c"))
        with open(os.path.join(self.folder, "machine.json"), "w") as f:
            json.dump({"drives": {"C": {"root": "c"}}, "keyboard": [], "timeScale": 0.01}, f)

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def run_probe(self, end, ignoring=()):
        env = dict(os.environ, TARNWELL_MACHINE=os.path.join(self.folder, "machine.json"), TW_PROBE_END=end)

        def ignore():
            for sig in ignoring:
                signal.signal(sig, signal.SIG_IGN)

        return subprocess.run([PROBE], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=60,
                              preexec_fn=ignore)

    def test_an_abort_from_inside_the_heap_ends_the_program(self):
        # The C library aborts a double free while it holds the heap's lock;
        # whatever runs before the process ends must not wait for that lock.
        try:
            r = self.run_probe("heap")
        except subprocess.TimeoutExpired:
            self.fail("the program hung in its abort handler")
        if r.returncode == 77:
            self.skipTest("the address checker reports a double free itself")
        self.assertNotEqual(0, r.returncode, r.stderr)
        self.assertIn(b"shown before the end\n", r.stdout, r.stderr)

    def test_text_reaches_the_pipe_however_the_program_ends(self):
        for end, fails in (("normal", False), ("fault", True), ("abort", True)):
            with self.subTest(end=end):
                r = self.run_probe(end)
                self.assertEqual(fails, r.returncode != 0, r.stderr)
                self.assertIn(b"shown before the end\n", r.stdout, r.stderr)

    def test_text_reaches_the_pipe_when_started_ignoring_the_signal(self):
        # A process started ignoring a fault's signal still ends on a real
        # fault or an abort (the system takes the default action then); the
        # text shown before must reach the pipe all the same.
        for end, sig in (("fault", signal.SIGSEGV), ("abort", signal.SIGABRT)):
            with self.subTest(end=end):
                r = self.run_probe(end, ignoring=(sig,))
                self.assertNotEqual(0, r.returncode, r.stderr)
                self.assertIn(b"shown before the end\n", r.stdout, r.stderr)


if __name__ == "__main__":
    unittest.main()
