#!/usr/bin/env bash
# tarnlib's codec commands from the outside: round trips, output formats
# against md5sum and Python's zlib, and error exits.
#   usage: tarnlib_cli_test.sh PATH/TO/tarnlib
set -u
TARNLIB=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Inputs: empty, tiny, text, binary, larger than the window and the input buffer.
: >"$WORK/empty"
printf 'x' >"$WORK/one"
cp /usr/share/common-licenses/GPL-3 "$WORK/text"
python3 -c "import random,sys; r=random.Random(1); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(70000)))" >"$WORK/binary"
cat /usr/share/common-licenses/* "$WORK/binary" /usr/share/common-licenses/* >"$WORK/large"
inputs=(empty one text binary large)

for f in "${inputs[@]}"; do
  in="$WORK/$f"
  "$TARNLIB" pack-section "$in" "$in.pk" || fail "pack-section $f"
  out=$("$TARNLIB" unpack-section "$in.pk" "$in.back") || fail "unpack-section $f exit"
  size=$(stat -c %s "$in")
  [ "$out" = "result 8 size $size" ] || fail "unpack-section $f printed '$out'"
  cmp -s "$in" "$in.back" || fail "section round trip $f"
  # The container is 1F 8B 08, raw DEFLATE, CRC-32 and length, little-endian.
  python3 - "$in" "$in.pk" <<'PY' || fail "container layout $f"
import sys, zlib, struct
plain = open(sys.argv[1], 'rb').read()
pk = open(sys.argv[2], 'rb').read()
assert pk[:3] == b'\x1f\x8b\x08'
d = zlib.decompressobj(-15)
assert d.decompress(pk[3:]) == plain and d.eof
assert d.unused_data == struct.pack('<II', zlib.crc32(plain), len(plain))
PY

  "$TARNLIB" lzss-encode "$in" "$in.lz" || fail "lzss-encode $f"
  "$TARNLIB" lzss-decode "$in.lz" "$in.unlz" || fail "lzss-decode $f"
  cmp -s "$in" "$in.unlz" || fail "lzss round trip $f"
done

# A damaged container: result -2 and a failing exit, no output file.
python3 -c "
import sys; d=bytearray(open('$WORK/text.pk','rb').read()); d[len(d)//2]^=0x10; open('$WORK/bad.pk','wb').write(d)"
out=$("$TARNLIB" unpack-section "$WORK/bad.pk" "$WORK/bad.out") && fail "damaged container accepted"
case "$out" in "result -2 size "*) ;; *) fail "damaged container printed '$out'" ;; esac
[ -e "$WORK/bad.out" ] && fail "damaged container wrote its output"

# A container that records more than the 32 MiB the command gives: result 0
# with the size it needs, a failing exit, no output file.
python3 -c "
import struct; d=bytearray(open('$WORK/text.pk','rb').read()); d[-4:]=struct.pack('<I', 0x2000001); open('$WORK/big.pk','wb').write(d)"
out=$("$TARNLIB" unpack-section "$WORK/big.pk" "$WORK/big.out") && fail "oversized container accepted"
[ "$out" = "result 0 size 33554433" ] || fail "oversized container printed '$out'"
[ -e "$WORK/big.out" ] && fail "oversized container wrote its output"

# An output that cannot be written whole (here: past a 64 KiB file size
# limit) fails and leaves no half-written file behind.
for cmd in "unpack-section $WORK/large.pk" "lzss-decode $WORK/large.lz" "lzss-encode $WORK/large" \
           "pack-section $WORK/binary"; do
  rm -f "$WORK/cut.out"
  (trap '' XFSZ; ulimit -f 64; $TARNLIB $cmd "$WORK/cut.out" >/dev/null 2>&1) && fail "'$cmd' past the size limit exited 0"
  [ -e "$WORK/cut.out" ] && fail "'$cmd' past the size limit left a partial output"
done

# Digests in md5sum's format.
files=("$WORK/empty" "$WORK/text" "$WORK/binary")
[ "$("$TARNLIB" md5 "${files[@]}")" = "$(md5sum "${files[@]}")" ] || fail "md5 output differs from md5sum"
expected=$(python3 -c "
import sys, zlib
for n in sys.argv[1:]: print('%08x  %s' % (zlib.crc32(open(n,'rb').read()), n))" "${files[@]}")
[ "$("$TARNLIB" crc32 "${files[@]}")" = "$expected" ] || fail "crc32 output"

# Lines of an LZSS text.
printf 'Trojan.A\nWorm.B\nVirus.C\n' >"$WORK/names"
"$TARNLIB" lzss-encode "$WORK/names" "$WORK/names.lz"
[ "$("$TARNLIB" lzss-line "$WORK/names.lz" 1)" = "Worm.B" ] || fail "lzss-line 1"
[ "$("$TARNLIB" lzss-line "$WORK/names.lz" 3)" = "" ] || fail "lzss-line past the end"

# Errors: one line on stderr and a non-zero exit.
expect_error() {
  local err rc
  err=$("$TARNLIB" "$@" 2>&1 >/dev/null)
  rc=$?
  [ $rc -ne 0 ] || fail "'$*' exited 0"
  [ -n "$err" ] && [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || fail "'$*' stderr: '$err'"
}
expect_error pack-section "$WORK/missing" "$WORK/x"
expect_error pack-section "$WORK/text"
expect_error unpack-section "$WORK/text.pk"
expect_error unpack-section "$WORK/missing" "$WORK/x"
expect_error pack-section "$WORK/text" "$WORK/no/such/dir/out"
expect_error lzss-encode "$WORK/missing" "$WORK/x"
expect_error lzss-decode "$WORK"  "$WORK/x"
expect_error lzss-line "$WORK/names.lz"
expect_error lzss-line "$WORK/names.lz" -1
expect_error lzss-line "$WORK/names.lz" 99999999999
expect_error md5
expect_error no-such-command
"$TARNLIB" >/dev/null 2>&1 && fail "no command exited 0"
expect_error md5 "$WORK/missing"
expect_error crc32 "$WORK/missing"
# md5 goes on with the other files after a missing one.
out=$("$TARNLIB" md5 "$WORK/missing" "$WORK/text" 2>/dev/null) && fail "md5 with a missing file exited 0"
[ "$out" = "$(md5sum "$WORK/text")" ] || fail "md5 skipped the readable file"

# dump sizes its buffers by what the file can hold, not by the sizes its
# header claims: a 216-byte user file that claims a 4 GiB payload is reported
# within 1 GiB of address space. (A sanitizer build reserves more than that
# for itself, so there the limit is not set.)
python3 -c "
import struct
h = bytearray(212); h[0:4] = bytes([0x1D, 0xEA, 0x0D, 0x0A])
struct.pack_into('<8I', h, 180, 216, 212, 1, 30, 5, 212, 0xFFFFFFF0, 4)
open('$WORK/claims4g.dat', 'wb').write(bytes(h) + b'\x11\x00\x00\x00')"
if grep -q __asan_init "$TARNLIB"; then
  out=$("$TARNLIB" dump "$WORK/claims4g.dat") || fail "dump of a user file claiming 4 GiB"
else
  out=$(ulimit -v 1048576; "$TARNLIB" dump "$WORK/claims4g.dat") || fail "dump of a user file claiming 4 GiB"
fi
case "$out" in *"4294967280 bytes unpacked"*) ;; *) fail "dump printed '$out'" ;; esac

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "tarnlib codec commands: all checks passed"
