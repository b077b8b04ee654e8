#!/usr/bin/env bash
# Fails when a scanner object file needs a symbol from outside the scanner:
# anything not defined by the scanner's own libraries, not a C entry of the
# native-interface stand-in, and not one of the few helpers the real target
# also has (memory helpers, 64-bit division helpers, LZO, PIC glue, the
# fault guard's entry points).
#
# usage: check_freestanding.sh --scanner ARCHIVE... --standin ARCHIVE...
#                              [--objects OBJECT...]
set -euo pipefail

scanner=() standin=() objects=()
mode=
for arg in "$@"; do
  case "$arg" in
    --scanner|--standin|--objects) mode=${arg#--} ;;
    *)
      [ -n "$mode" ] || { echo "check_freestanding: unexpected argument $arg" >&2; exit 2; }
      [ -e "$arg" ] || { echo "check_freestanding: missing file $arg" >&2; exit 2; }
      case "$mode" in
        scanner) scanner+=("$arg") ;;
        standin) standin+=("$arg") ;;
        objects) objects+=("$arg") ;;
      esac ;;
  esac
done
[ ${#scanner[@]} -gt 0 ] || { echo "check_freestanding: no scanner libraries given" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Symbols the scanner defines itself (any kind), and the stand-in's C entries
# (unmangled names only: the scanner may not reach into the stand-in's own
# C++ internals).
nm -g --defined-only "${scanner[@]}" "${objects[@]}" 2>/dev/null | awk 'NF >= 3 {print $3}' >"$tmp/defined"
if [ ${#standin[@]} -gt 0 ]; then
  nm -g --defined-only "${standin[@]}" 2>/dev/null | awk 'NF >= 3 && $3 !~ /^_Z/ {print $3}' >>"$tmp/defined"
fi
sort -u -o "$tmp/defined" "$tmp/defined"

allowed='^(memcpy|memset|memmove|memcmp'
allowed+='|__(u)?(div|mod)di3|__(u)?divmoddi4|__(ashl|ashr|lshr)di3|__muldi3|__negdi2|__(u)?cmpdi2'
allowed+='|__(popcount|clz|ctz|ffs|parity)(si|di)2|__bswap(si|di)2'
allowed+='|lzo1x_[A-Za-z0-9_]+|__lzo_init_v2|_GLOBAL_OFFSET_TABLE_|__x86\.get_pc_thunk\.[a-z]+'
allowed+='|TwGuardedRun|TwCallRoutine)$'

status=0
for f in "${scanner[@]}" "${objects[@]}"; do
  nm -u -A "$f" 2>/dev/null | awk '{print $1, $NF}' >>"$tmp/undefined"
done
touch "$tmp/undefined"
ALLOWED="$allowed" awk '
  NR == FNR { defined[$1] = 1; next }
  $2 ~ ENVIRON["ALLOWED"] || ($2 in defined) { next }
  { where = $1; sub(/:$/, "", where); print "not allowed: " $2 " (in " where ")" }
' "$tmp/defined" "$tmp/undefined" >"$tmp/bad"
if [ -s "$tmp/bad" ]; then
  sort -u "$tmp/bad"
  echo "check_freestanding: scanner code needs symbols from outside the scanner" >&2
  status=1
else
  echo "check_freestanding: $(( ${#scanner[@]} + ${#objects[@]} )) files, nothing from outside the scanner"
fi
exit $status
