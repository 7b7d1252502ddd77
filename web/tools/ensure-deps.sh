#!/usr/bin/env bash
# Installs web/'s test dependencies (npm ci from the committed lock file) unless node_modules
# already matches it. Serialised with a lock, as several test scripts may call it at once.
set -euo pipefail
web="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
command -v npm >/dev/null || { echo "ensure-deps: npm is missing" >&2; exit 1; }
exec 9>"${TMPDIR:-/tmp}/ruzazuv-web-deps.lock"
flock 9
# npm keeps a copy of what it installed; equal package sections mean nothing to do.
if [[ -f "$web/node_modules/.package-lock.json" ]] &&
   node -e '
     const fs = require("fs");
     const want = JSON.parse(fs.readFileSync(process.argv[1])).packages;
     const have = JSON.parse(fs.readFileSync(process.argv[2])).packages;
     const names = Object.keys(want).filter((k) => k !== "");
     process.exit(names.every((k) => have[k] && have[k].version === want[k].version) ? 0 : 1);
   ' "$web/package-lock.json" "$web/node_modules/.package-lock.json"; then
  exit 0
fi
(cd "$web" && npm ci --no-audit --no-fund --loglevel=error) >&2
