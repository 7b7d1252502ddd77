#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix: RUZAZUV_WINEPREFIX (set by
# CMake to <build>/wineprefix), created on first use and shared by every test of that tree.
# No root is needed and nothing outside the build tree is touched.
set -euo pipefail
prefix="${RUZAZUV_WINEPREFIX:?RUZAZUV_WINEPREFIX must name the Wine prefix of the build tree}"
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No .NET or Gecko installer prompts; a test may add its own overrides.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
# Tests run two at a time: the first one creates the prefix while the others wait for it.
(
  flock 9
  if [[ ! -f "$prefix/system.reg" ]]; then
    wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  # The dialogs' fonts drawn with the machine's CJK font (regedit wants UTF-16 for the names).
  if [[ ! -f "$prefix/.ruzazuv-fonts" ]]; then
    here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
    iconv -f UTF-8 -t UTF-16 "$here/cjk_fonts.reg" >"$prefix/cjk_fonts.reg"
    wine regedit /S "$(winepath -w "$prefix/cjk_fonts.reg" 2>/dev/null)" >/dev/null 2>&1 || true
    wineserver -w || true
    touch "$prefix/.ruzazuv-fonts"
  fi
) 9>"$prefix.lock"
# A program started just as the prefix's server ends (the previous test's program has gone)
# can lose the race to it: Wine's client stops with "wine client error:0: recvmsg: Connection
# reset by peer" before the program runs. Such a start, and only such (nothing else on standard
# error), is tried again; a program that ran is never run twice.
err="$(mktemp)"
trap 'rm -f "$err"' EXIT
for attempt in 1 2 3; do
  status=0
  { wine "$@" 2>&1 1>&3 3>&- | tee "$err" >&2; } 3>&1 || status=$?
  if [[ $status -eq 0 || $attempt -eq 3 ]] || ! grep -q '^wine client error' "$err" ||
    grep -qv '^wine client error' "$err"; then
    exit "$status"
  fi
  echo "run-under-wine: Wine's client lost its server before the program started; starting it again" >&2
  sleep 1
done
