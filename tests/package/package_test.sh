#!/usr/bin/env bash
# The Debian package from build to purge: builds it (scripts/package), checks its contents and
# control fields, runs lintian (errors fail), installs it with its dependencies, runs the
# installed bridge as its user socket would for an ordinary user and gets `describe`, then
# removes and purges it and checks that nothing of it is left behind.
# Needs root (dpkg, useradd); skipped otherwise. Usage: package_test.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$here/build/release}"
started=$SECONDS

if [[ "$(id -u)" != 0 ]]; then
  echo "package test: SKIPPED: needs root (dpkg -i, useradd)"
  exit 0
fi

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# Each step ends with pass, which says whether the step had failures.
seen=0
pass() {
  if ((failures == seen)); then echo "ok: $*"; else echo "failed: $*"; fi
  seen=$failures
}

user="ruzazuv-pkgtest"
cleanup() {
  if id "$user" >/dev/null 2>&1; then userdel -r "$user" >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

if dpkg-query -W -f='${Status}' ruzazuv 2>/dev/null | grep -qv "not-installed"; then
  echo "package test: purging the ruzazuv installed before the test"
  dpkg -P ruzazuv >/dev/null
fi
command -v lintian >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q lintian >/dev/null

# --- build -------------------------------------------------------------------------------
build_log="$(mktemp)"
if ! line="$("$here/scripts/package" "$build" 2>"$build_log" | tail -n 1)"; then
  cat "$build_log"
  echo "FAIL: scripts/package"
  exit 1
fi
rm -f "$build_log"
deb="${line%% *}"
echo "package: $line"
version="$(sed -n 's/^project(RuzaZUV VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")"
[[ "$(basename "$deb")" == "ruzazuv_${version}_amd64.deb" ]] || fail "file name $(basename "$deb")"

# What the package holds besides the fixed files depends on what the tree builds.
known_targets="$(cmake --build "$build" --target help)"
has_target() { grep -qx "\.\.\. $1" <<<"$known_targets"; }
nmhost=0
has_target ruzazuv-nmhost && nmhost=1
extension=0
[[ -f "$here/web/extension/manifest.json" ]] && extension=1

contents="$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\.||; s|/$||')"
files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\.||')"

# --- contents: path, and whether it must be there (1) or must not (0) ------------------------
expected=(
  "/usr/bin/ruzazuv-bridge 1"
  "/usr/bin/ruzazuv-cli 1"
  "/usr/bin/ruzazuv-nmhost $nmhost"
  "/usr/bin/ruzazuv-cardsim 0"
  "/usr/lib/systemd/user/ruzazuv-bridge.socket 1"
  "/usr/lib/systemd/user/ruzazuv-bridge.service 1"
  "/usr/lib/systemd/user-preset/80-ruzazuv.preset 1"
  "/etc/xdg/ruzazuv/allowed-origins 1"
  "/etc/chromium/native-messaging-hosts/ruzazuv.nmhost.json $nmhost"
  "/etc/opt/chrome/native-messaging-hosts/ruzazuv.nmhost.json $nmhost"
  "/etc/opt/edge/native-messaging-hosts/ruzazuv.nmhost.json $nmhost"
  "/usr/lib/mozilla/native-messaging-hosts/ruzazuv.nmhost.json $nmhost"
  "/usr/share/chromium/extensions/moanljbngfilffkbckjlcdhohgonjlgj.json $extension"
  "/usr/share/ruzazuv/extension/ruzazuv.crx $extension"
  "/usr/share/ruzazuv/ruzazuv.js 1"
  "/usr/share/ruzazuv/ruzazuv.members.js 1"
  "/usr/share/ruzazuv/ruzazuv.d.ts 1"
  "/usr/share/ruzazuv/demo/index.html 1"
  "/usr/share/ruzazuv/demo/demo.js 1"
  "/usr/share/man/man1/ruzazuv-bridge.1.gz 1"
  "/usr/share/man/man1/ruzazuv-cli.1.gz 1"
  "/usr/share/man/man1/ruzazuv-nmhost.1.gz $nmhost"
  "/usr/share/doc/ruzazuv/copyright 1"
  "/usr/share/doc/ruzazuv/changelog.gz 1"
)
for row in "${expected[@]}"; do
  path="${row% *}"
  want="${row##* }"
  if grep -qx "$path" <<<"$files"; then have=1; else have=0; fi
  [[ "$have" == "$want" ]] || fail "contents: $path present=$have, expected $want"
done
# Nothing from the build tree's libraries, tests or headers.
if grep -E '\.(a|h|o)$|/include/|test' <<<"$files"; then fail "contents: build leftovers above"; fi
pass "contents ($(wc -l <<<"$files") files)"

# --- control fields: field, and a pattern its value must match ---------------------------
control=(
  "Package ^ruzazuv$"
  "Version ^${version//./\\.}$"
  "Architecture ^amd64$"
  "Maintainer ^[^<]+ <[^@>]+@[^>]+>$"
  "Depends (^|, )pcscd(,|$)"
  "Depends (^|, )libpcsclite1( |,|$)"
  "Depends (^|, )libssl3( |,|$)"
  "Depends (^|, )libqt6core6( |,|$)"
  "Depends (^|, )libqt6gui6( |,|$)"
  "Depends (^|, )libqt6widgets6( |,|$)"
  "Depends (^|, )libqt6network6( |,|$)"
  "Depends (^|, )qt6-qpa-plugins(,|$)"
  "Depends (^|, )fonts-wqy-microhei(,|$)"
  "Recommends ^pcsc-tools$"
)
for row in "${control[@]}"; do
  field="${row%% *}"
  pattern="${row#* }"
  value="$(dpkg-deb -f "$deb" "$field")"
  grep -Eq "$pattern" <<<"$value" || fail "control: $field is \"$value\", expected /$pattern/"
done
pass "control fields"

# Every file under /etc is a conffile, and only those.
conffiles="$(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles | sort)"
etc_files="$(grep '^/etc/' <<<"$files" | sort)"
[[ "$conffiles" == "$etc_files" ]] || fail "conffiles: \"$conffiles\" but /etc holds \"$etc_files\""
pass "conffiles"

# --- lintian -----------------------------------------------------------------------------
lintian_out="$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v "root privileges" || true)"
echo "${lintian_out:-lintian: no tags}"
if grep -q '^E:' <<<"$lintian_out"; then fail "lintian reports errors"; else pass "lintian: no errors"; fi

# --- install -----------------------------------------------------------------------------
if ! dpkg -i "$deb" >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -f -y -q >/dev/null
fi
[[ "$(dpkg-query -W -f='${Status}' ruzazuv)" == "install ok installed" ]] || fail "not installed"
link=/etc/systemd/user/sockets.target.wants/ruzazuv-bridge.socket
[[ "$(readlink -f "$link")" == /usr/lib/systemd/user/ruzazuv-bridge.socket ]] ||
  fail "the socket is not enabled for all users ($link)"
# Each manifest names the installed host and the extension's id, as the browsers read them.
if [[ "$nmhost" == 1 ]]; then
  for manifest in /etc/chromium/native-messaging-hosts/ruzazuv.nmhost.json \
    /etc/opt/chrome/native-messaging-hosts/ruzazuv.nmhost.json \
    /etc/opt/edge/native-messaging-hosts/ruzazuv.nmhost.json \
    /usr/lib/mozilla/native-messaging-hosts/ruzazuv.nmhost.json; do
    /usr/bin/python3 - "$manifest" <<'EOF' || fail "manifest $manifest"
import json, os, sys
m = json.load(open(sys.argv[1]))
assert m["name"] == "ruzazuv.nmhost" and m["type"] == "stdio", m
assert os.access(m["path"], os.X_OK), m["path"]
allowed = m.get("allowed_origins", m.get("allowed_extensions"))
assert allowed in (["chrome-extension://moanljbngfilffkbckjlcdhohgonjlgj/"],
                   ["extension@ruzazuv.example"]), allowed
EOF
  done
fi
# The external extension's file names a CRX that is there, with its manifest's version.
if [[ "$extension" == 1 ]]; then
  /usr/bin/python3 - "$here/web/extension/manifest.json" <<'EOF' || fail "external extension"
import json, os, sys
ext = json.load(open("/usr/share/chromium/extensions/moanljbngfilffkbckjlcdhohgonjlgj.json"))
assert os.path.isfile(ext["external_crx"]), ext
assert open(ext["external_crx"], "rb").read(4) == b"Cr24", "not a CRX"
assert ext["external_version"] == json.load(open(sys.argv[1]))["version"], ext

# The id Chromium gives the CRX (from its signed header) is the one the manifests allow.
def fields(data):
    pos = 0
    while pos < len(data):
        key, pos = varint(data, pos)
        assert key & 7 == 2, "unexpected wire type"
        size, pos = varint(data, pos)
        yield key >> 3, data[pos:pos + size]
        pos += size
def varint(data, pos):
    value = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, pos
crx = open(ext["external_crx"], "rb").read()
header = crx[12:12 + int.from_bytes(crx[8:12], "little")]
signed = dict(fields(header))[10000]
crx_id = dict(fields(signed))[1]
ident = "".join(chr(97 + (b >> 4)) + chr(97 + (b & 15)) for b in crx_id)
assert ident == "moanljbngfilffkbckjlcdhohgonjlgj", ident
EOF
fi
pass "installed"

# --- upgrade (the same version again): the socket stays enabled for all users, and stays
# disabled when the administrator disabled it ----------------------------------------------
upgrades=(
  "enabled 1"
  "disabled 0"
)
for row in "${upgrades[@]}"; do
  state="${row% *}"
  want="${row##* }"
  [[ "$state" == disabled ]] && systemctl --global disable ruzazuv-bridge.socket >/dev/null 2>&1
  dpkg -i "$deb" >/dev/null
  if [[ -L "$link" ]]; then have=1; else have=0; fi
  [[ "$have" == "$want" ]] || fail "upgrade with the socket $state: enabled=$have, expected $want"
done
systemctl --global enable ruzazuv-bridge.socket >/dev/null 2>&1
[[ -L "$link" ]] || fail "systemctl --global enable did not restore $link"
pass "upgrades"

# --- the bridge for an ordinary user, started as its socket unit would ------------------------
cleanup
useradd -m "$user"
bridge_log="$(mktemp)"
if describe="$(runuser -u "$user" -- /usr/bin/python3 "$here/tests/package/unit_describe.py" \
  /usr/lib/systemd/user/ruzazuv-bridge.socket /usr/lib/systemd/user/ruzazuv-bridge.service \
  https://ebank.ruzazuv.example 2>"$bridge_log")"; then
  /usr/bin/python3 -c 'import json,sys; d=json.loads(sys.argv[1]); assert d["progid"] and d["members"], d' \
    "$describe" || fail "describe answered $describe"
  grep -q "socket from the service manager" "$bridge_log" ||
    fail "the bridge did not use the socket it was given: $(cat "$bridge_log")"
  grep -q "demo files of /usr/share/ruzazuv served on port [0-9]* (socket from the service manager)" \
    "$bridge_log" || fail "the bridge did not serve the demo page on its socket: $(cat "$bridge_log")"
else
  cat "$bridge_log"
  fail "the installed bridge did not answer describe"
fi
rm -f "$bridge_log"
pass "describe from the installed bridge, for the bank and for its own demo page: $(cut -c1-60 <<<"$describe")..."

# --- removal: every file goes except the conffiles; purge takes those too ------------------
left_over() {
  local keep="$1" path
  while read -r path; do
    [[ -n "$path" && ( -e "$path" || -L "$path" ) ]] || continue
    grep -qx "$path" <<<"$keep" || echo "$path"
  done <<<"$files"
  for path in "$link" /var/lib/systemd/deb-systemd-user-helper-enabled/ruzazuv-bridge.socket.dsh-also; do
    [[ -e "$path" || -L "$path" ]] && echo "$path"
  done
  return 0
}
dpkg -r ruzazuv >/dev/null
remaining="$(left_over "$conffiles")"
[[ -z "$remaining" ]] || fail "after dpkg -r: $remaining"
while read -r path; do
  [[ -e "$path" ]] || fail "dpkg -r removed the conffile $path"
done <<<"$conffiles"
pass "removed"

dpkg -P ruzazuv >/dev/null
remaining="$(left_over "")"
[[ -z "$remaining" ]] || fail "after dpkg -P: $remaining"
for dir in /etc/xdg/ruzazuv /usr/share/ruzazuv /usr/share/doc/ruzazuv; do
  [[ ! -e "$dir" ]] || fail "after dpkg -P: $dir"
done
dpkg-query -W -f='${Status}' ruzazuv 2>/dev/null | grep -q "not-installed" ||
  [[ -z "$(dpkg-query -W -f='${Status}' ruzazuv 2>/dev/null)" ]] || fail "still known to dpkg"
pass "purged"

echo "package test: $((SECONDS - started)) s, $failures failure(s)"
[[ "$failures" == 0 ]]
