#!/usr/bin/env bash
# Makes sure the browser tests can run: Chromium, Xvfb and xdotool from Debian (installed with
# apt-get when missing and we are root), and playwright-core from the committed lock file (npm
# ci, unless node_modules already matches it). Serialised with a lock, as the browser tests may
# run at the same time. Exits 77 (skip) when something is missing that it cannot install.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec 9>"${TMPDIR:-/tmp}/ruzazuv-browser-deps.lock"
flock 9

missing=()
command -v chromium >/dev/null || missing+=(chromium)
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v xdotool >/dev/null || missing+=(xdotool)
command -v npm >/dev/null || missing+=(npm)
if [[ ${#missing[@]} -gt 0 ]]; then
  if [[ "$(id -u)" != 0 ]]; then
    echo "browser tests: skipped, ${missing[*]} missing (scripts/bootstrap installs them)" >&2
    exit 77
  fi
  echo "browser tests: installing ${missing[*]}" >&2
  apt-get update -q >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

if [[ -f "$here/node_modules/.package-lock.json" ]] &&
   node -e '
     const fs = require("fs");
     const want = JSON.parse(fs.readFileSync(process.argv[1])).packages;
     const have = JSON.parse(fs.readFileSync(process.argv[2])).packages;
     const names = Object.keys(want).filter((k) => k !== "");
     process.exit(names.every((k) => have[k] && have[k].version === want[k].version) ? 0 : 1);
   ' "$here/package-lock.json" "$here/node_modules/.package-lock.json"; then
  exit 0
fi
(cd "$here" && npm ci --no-audit --no-fund --loglevel=error) >&2
