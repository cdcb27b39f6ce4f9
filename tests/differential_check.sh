#!/usr/bin/env bash
# Differential check: runs the same end-to-end cases with the Linux build and
# with quarvel.exe under Wine and demands the same exit status, the same
# console text (line ends aside: the Windows console's are CR LF) and the same
# bytes in every file the run leaves behind.
#
#   tests/differential_check.sh LINUX_QUARVEL WINDOWS_QUARVEL_EXE
#
# The cases are the golden cases plus inputs made here for the points where
# platforms tend to differ: float sums in exponent form, 32-bit wrap-around,
# UTF-16 layouts, file names beyond ASCII.
set -euo pipefail
linux_exe=$(realpath "$1")
windows_exe=$(realpath "$2")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$(dirname "$windows_exe")/wineprefix}
export WINEDEBUG=-all
# Wine turns the arguments into the wide command line in the locale's charset.
export LC_ALL=C.UTF-8

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# make_case NAME ARG... : a case folder with files/ to fill and its args.
make_case() {
  local name=$1
  shift
  mkdir -p "$work/cases/$name/files"
  printf '%s\n' "$@" > "$work/cases/$name/args"
}
utf16le() { { printf '\xff\xfe'; printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; }; }
utf16be() { { printf '\xfe\xff'; printf '%s' "$1" | iconv -f UTF-8 -t UTF-16BE; }; }

# Parameter sums pass 1e+06 (exponent form, two exponent digits).
make_case float_sums_past_a_million in.ini out.ini F1 1000004 0 0 V Scale
printf '[Meter 1]\r\nName=F1\r\nV=9.75\r\nScale=0.5 und 2.25\r\n' > "$work/cases/float_sums_past_a_million/files/in.ini"
# Positions, sizes and meter numbers wrap around at 32 bits.
make_case positions_wrap in.ini out.ini W1 3 2147483000 1073741824
printf '[Settings]\r\nWidth=5\r\nHeight=5\r\n[Meter 2147483647]\r\nName=W1\r\nLeft=2147483600\r\nRight=2147483647\r\nTop=-2147483648\r\nBottom=10\r\n' \
  > "$work/cases/positions_wrap/files/in.ini"
# UTF-16 layouts in both byte orders, one found and one not.
make_case utf16le_found in.ini out.ini 'Zähler1' 2 10 0 'Kanäle'
utf16le $'\r\n\r\n[Meter 0]\r\nName=Zähler1\r\nLeft=0\r\nRight=10\r\nKanäle=計器 1.5\r\n[PluginInfo]\r\n' \
  > "$work/cases/utf16le_found/files/in.ini"
make_case utf16be_not_found in.ini out.ini 'Zähler9' 1 1 1
utf16be $'[Meter 0]\r\nName=Zähler1\r\n' > "$work/cases/utf16be_not_found/files/in.ini"
make_case utf16_odd_byte_count in.ini out.ini A1 1 1 1
{ printf '\xff\xfe[\0'; printf 'M'; } > "$work/cases/utf16_odd_byte_count/files/in.ini"
# A UTF-8 mark right before the first meter header; a NUL and stray bytes.
make_case utf8_mark_and_odd_bytes 'Ordner ä/in.ini' 'Ordner ä/計器.ini' 'C1' 1 3 4 Key
mkdir -p "$work/cases/utf8_mark_and_odd_bytes/files/Ordner ä"
printf '\xef\xbb\xbf[Meter 0]\r\nName=C1\r\nKey=a\0b 7\xff\r\nLeft=1\rRight=2\n\r\n' \
  > "$work/cases/utf8_mark_and_odd_bytes/files/Ordner ä/in.ini"

run_one() {  # run_one EXE_KIND CASE_FOLDER RUN_FOLDER
  local kind=$1 case_dir=$2 run_dir=$3
  mkdir -p "$run_dir"
  if [ -d "$case_dir/files" ]; then cp -R "$case_dir/files/." "$run_dir/"; fi
  local args=()
  mapfile -t args < "$case_dir/args"
  local status=0
  if [ "$kind" = linux ]; then
    (cd "$run_dir" && "$linux_exe" "${args[@]}") > "$run_dir.console" || status=$?
  else
    (cd "$run_dir" && wine "$windows_exe" "${args[@]}") > "$run_dir.console.crlf" || status=$?
    sed 's/\r$//' "$run_dir.console.crlf" > "$run_dir.console"
    rm "$run_dir.console.crlf"
  fi
  echo "$status" > "$run_dir.status"
}

passed=0
failed=0
for case_dir in "$source_dir"/tests/cases/*/ "$work"/cases/*/; do
  case_dir=${case_dir%/}
  name=$(basename "$case_dir")
  if [ -f "$case_dir/windows-only" ]; then
    echo "skipped: $name (Windows only: $(cat "$case_dir/windows-only"))"
    continue
  fi
  out="$work/runs/$name"
  run_one linux "$case_dir" "$out/linux"
  run_one windows "$case_dir" "$out/windows"
  if cmp -s "$out/linux.console" "$out/windows.console" &&
     cmp -s "$out/linux.status" "$out/windows.status" &&
     diff -r "$out/linux" "$out/windows" > /dev/null; then
    passed=$((passed + 1))
    echo "same: $name (exit $(cat "$out/linux.status"))"
  else
    failed=$((failed + 1))
    echo "DIFFERENT: $name"
    diff "$out/linux.console" "$out/windows.console" || true
    diff "$out/linux.status" "$out/windows.status" || true
    diff -r "$out/linux" "$out/windows" | head -5 || true
  fi
done
echo "differential: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
