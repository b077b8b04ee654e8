#!/usr/bin/env python3
"""Writes the default base library's test samples into a folder.

Everything here is harmless: the EICAR anti-virus test string, and markers of
our own design (test infectors, test virus, test packer, a worm stand-in) in
programs that only look like Windows executables.

usage: make_samples.py OUTDIR
"""
import io
import os
import struct
import sys
import zipfile
import zlib

EICAR = (b"X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*")
assert len(EICAR) == 68

# Signature of the checksum-table test virus: 32 bytes at offset 64 of the HEAD unit.
TEST_VIRUS_MARK = b"TARNWELL-TEST-VIRUS/CHECKSUM-SIG"
assert len(TEST_VIRUS_MARK) == 32
TEST_VIRUS_OFFSET = 64

INFECTOR_TEXT = b"Tarnwell test infector: harmless marker.   "[:44].ljust(44, b" ")


def program(name, size, seed):
    """A file that looks like a small Windows program (MZ header, DOS stub, PE
    signature) with a deterministic body."""
    head = bytearray(b"MZ" + b"\x90\x00\x03\x00\x00\x00\x04\x00\x00\x00\xff\xff\x00\x00")
    head += b"\xb8" + b"\x00" * 7 + b"\x40" + b"\x00" * 35
    head += struct.pack("<I", 0x80)  # e_lfanew
    head = head.ljust(0x40, b"\x00")
    head += b"\x0e\x1f\xba\x0e\x00\xb4\x09\xcd\x21\xb8\x01\x4c\xcd\x21"
    head += b"This program cannot be run in DOS mode.\r\r\n$"
    head = head.ljust(0x80, b"\x00")
    head += b"PE\x00\x00" + struct.pack("<HH", 0x14C, 3)
    text = ("%s - a Tarnwell demo program.\r\n" % name).encode()
    body = bytearray()
    x = seed & 0xFFFFFFFF or 1
    while len(head) + len(body) < size:
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        body.append((x >> 16) & 0xFF)
        if len(body) % 997 == 0:
            body += text
    data = bytes(head + body)[:size]
    return data


def infect_a(host):
    block = b"TWINFECT" + b"A1" + struct.pack("<HII", 1, len(host), zlib.crc32(host)) + INFECTOR_TEXT
    assert len(block) == 64
    return host + block


def infect_b(host):
    saved = host[:32]
    block = b"TWINFECT" + b"B2" + struct.pack("<HII", 1, len(host), 0) + saved + INFECTOR_TEXT
    assert len(block) == 96
    entry = b"TWB!" + b"\xe9" + b"\x00" * 27  # the infector's own head
    return entry + host[32:] + block


def test_virus(size=6000):
    data = bytearray(program("testvirus.exe", size, 77))
    data[TEST_VIRUS_OFFSET:TEST_VIRUS_OFFSET + 32] = TEST_VIRUS_MARK
    return bytes(data)


def twpk(data, key=0x5A):
    out = bytearray(b"TWPK" + bytes([1, key]) + b"\x00\x00" + struct.pack("<II", len(data), zlib.crc32(data)))
    out += bytes(b ^ ((key + 31 * i) & 0xFF) for i, b in enumerate(data))
    return bytes(out)


def zipped(members, method=zipfile.ZIP_DEFLATED):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", method) as z:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=(2026, 12, 1, 12, 0, 0))
            info.compress_type = method
            z.writestr(info, data)
    return buf.getvalue()


WORM_INF = (b"[AutoRun]\r\nopen=RECYCLER\\S-1-5-21-1004336348-1177238915-682003330-512\\autorun.exe\r\n"
            b"shell\\open\\command=RECYCLER\\S-1-5-21-1004336348-1177238915-682003330-512\\autorun.exe\r\n"
            b"shell\\open\\Default=1\r\n")


def samples():
    clean = program("calc.exe", 24576, 1)
    host_a = program("setup.exe", 40000, 2)
    host_b = program("winzip32.exe", 30000, 3)
    worm = program("autorun.exe", 18432, 4)
    virus = test_virus()
    eicar_zip = zipped([("eicar.com", EICAR)])
    return {
        "eicar.com": EICAR,
        "eicar.com.txt": EICAR,
        "eicar_ws.txt": EICAR + b" \t\r\n\x1a  ",
        "eicar_long.txt": EICAR + b"x" * 10,  # not the test file: trailing non-space
        "eicar_com.zip": eicar_zip,
        "eicarcom2.zip": zipped([("eicar_com.zip", eicar_zip)]),
        "eicar_stored.zip": zipped([("readme.txt", b"nothing here\r\n" * 10), ("eicar.com", EICAR)],
                                   zipfile.ZIP_STORED),
        "clean_docs.zip": zipped([("a.txt", b"hello world\r\n" * 100), ("b.txt", b"more text\r\n" * 50)]),
        "calc.exe": clean,
        "setup.exe": infect_a(host_a),
        "setup.exe.orig": host_a,
        "winzip32.exe": infect_b(host_b),
        "winzip32.exe.orig": host_b,
        "testvirus.exe": virus,
        "packed_clean.exe": twpk(clean),
        "packed_virus.exe": twpk(virus),
        "packed2_virus.exe": twpk(twpk(virus, 0x33), 0x71),
        "autorun.inf": WORM_INF,
        "autorun.exe": worm,
    }


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, data in samples().items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
