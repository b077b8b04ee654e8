#!/usr/bin/env python3
"""Directory walk benchmark: the scanner (engine absent, screen output to a
file) walks 100,000 files in 5,000 directories on a simulated fixed drive;
`find` lists the same host tree in the same run. Prints both times and, last,
their ratio (target: at most 3).

Times are wall-clock times (best of the repeats) and, beside them, the CPU
time of the process, which a busy machine disturbs less. FIND32 (optional)
is the same find-like walk built as a 32-bit program: on hosts that run
32-bit programs through an emulator, its ratio shows the emulation's part.
HOSTCALLS (optional) is that walk built natively. Both are also run with -x:
then they make, for every entry, the two host calls (a stat, an attribute
listing) that the native-interface stand-in needs for a directory listing,
which shows the floor the host's file system puts under the simulated walk,
natively and under the emulator.

usage: walk_bench.py TARNWELL WORK_FOLDER [REPEATS] [FIND32] [HOSTCALLS]"""

import json
import os
import subprocess
import sys
import time

DIRS = 5000
FILES_PER_DIR = 20


def build_tree(work):
    root = os.path.join(work, "c")
    stamp = os.path.join(work, "tree-complete")
    if os.path.exists(stamp):
        return root
    os.makedirs(root, exist_ok=True)
    for d in range(DIRS):
        # 50 top folders of 100 folders each, 20 files in every leaf folder.
        folder = os.path.join(root, "group%02d" % (d // 100), "folder%04d" % d)
        os.makedirs(folder, exist_ok=True)
        for f in range(FILES_PER_DIR):
            with open(os.path.join(folder, "file%02d.dat" % f), "wb") as out:
                out.write(b"x")
    open(stamp, "w").close()
    return root


def write_machine(work):
    with open(os.path.join(work, "registry.reg"), "w") as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n")
    desc = {"drives": {"C": {"root": "c", "type": "fixed"}}, "registry": "registry.reg",
            "codePage": 1252, "keyboard": [{"at": 12.0, "key": "C"}], "timeScale": 0.01}
    path = os.path.join(work, "machine.json")
    with open(path, "w") as f:
        json.dump(desc, f)
    return path


def timed(argv, out_path, env=None):
    """(wall seconds, CPU seconds) of one run with its output to a file."""
    with open(out_path, "wb") as out:
        before = os.times()
        start = time.perf_counter()
        subprocess.run(argv, stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                       env=env, check=True)
        wall = time.perf_counter() - start
        after = os.times()
        cpu = (after.children_user - before.children_user) + (after.children_system - before.children_system)
        return wall, cpu


def shown_files(out_path):
    with open(out_path, "rb") as f:
        return f.read().count(b"\rC:\\")


def walk_run(tarnwell, out_path, env):
    """One timed scanner run that walked the whole tree. A key that reaches
    the keyboard before the prompt's first read makes the prompt give up (as
    on the real device) and the run walk nothing; such a run is repeated, not
    timed."""
    for _ in range(5):
        run = timed([tarnwell], out_path, env)
        if shown_files(out_path) == DIRS * FILES_PER_DIR:
            return run
    sys.exit("the scanner did not walk the tree: %d files shown" % shown_files(out_path))


def best(runs):
    return min(w for w, _ in runs), min(c for _, c in runs)


def main():
    tarnwell, work = sys.argv[1], sys.argv[2]
    repeats = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    os.makedirs(work, exist_ok=True)
    root = build_tree(work)
    env = dict(os.environ, TARNWELL_MACHINE=write_machine(work))
    scan_out = os.path.join(work, "tarnwell.out")
    find_out = os.path.join(work, "find.out")

    find32 = sys.argv[4] if len(sys.argv) > 4 else None
    timed(["find", root], find_out)  # warm the host's directory cache
    scanner = best([walk_run(tarnwell, scan_out, env) for _ in range(repeats)])
    find = best([timed(["find", root], find_out) for _ in range(repeats)])
    emulated = best([timed([find32, root], find_out) for _ in range(repeats)]) if find32 else None
    emulated_floor = best([timed([find32, "-x", root], find_out) for _ in range(repeats)]) if find32 else None
    hostcalls = sys.argv[5] if len(sys.argv) > 5 else None
    floor = best([timed([hostcalls, "-x", root], find_out) for _ in range(repeats)]) if hostcalls else None

    shown = shown_files(scan_out)
    print("files shown by the walk:  %d (expected %d)" % (shown, DIRS * FILES_PER_DIR))
    print("tarnwell walk: %7.3f s wall %7.3f s CPU (best of %d)" % (scanner + (repeats,)))
    print("find:          %7.3f s wall %7.3f s CPU" % find)
    if emulated:
        print("find32:        %7.3f s wall %7.3f s CPU (find-like walk built 32-bit; ratio to find %.1f wall, "
              "%.1f CPU)" % (emulated + (emulated[0] / find[0], emulated[1] / max(find[1], 1e-3))))
    if emulated_floor:
        print("host calls32:  %7.3f s wall %7.3f s CPU (the same walk with its host calls, built 32-bit; ratio to "
              "find %.1f wall)" % (emulated_floor + (emulated_floor[0] / find[0],)))
    if floor:
        print("host calls:    %7.3f s wall %7.3f s CPU (native walk with a stat and an attribute listing per "
              "entry, as the stand-in needs; ratio to find %.1f wall)" % (floor + (floor[0] / find[0],)))
    print("ratio tarnwell/find: %.2f wall, %.2f CPU (target <= 3)"
          % (scanner[0] / find[0], scanner[1] / max(find[1], 1e-3)))


if __name__ == "__main__":
    main()
