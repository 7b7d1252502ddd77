#!/usr/bin/env bash
# Registration of RuzaZUV.dll by regsvr32 in a Wine prefix made afresh, read back with reg:
# every key and value of the class's table, a second registration that leaves one clean class
# key, the type library present and gone, unregistration that keeps CLSID, and the per-user
# variant (regsvr32 /n /i:user) under HKCU\Software\Classes.
#
#   registration_test.sh MODULE.dll PREFIX
set -uo pipefail
module="$1"
export WINEPREFIX="$2"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

clsid='{1E97A93E-DBD9-46F9-B98B-67156EEE84BF}'
libid='{87ADF8A4-22B1-4706-97C7-D86D2D02A610}'
failures=0
fail() {
  echo "registration_test: $*" >&2
  failures=$((failures + 1))
}

rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
wine wineboot -i >/dev/null 2>&1
wineserver -w
path="$(wine winepath -w "$module" 2>/dev/null | tr -d '\r')"
folder="${path%\\*}"

# Registry contents as lines "KEY<TAB>NAME<TAB>DATA" (KEY<TAB><TAB> for a key itself), read
# with one reg query per tree; roots are written out in full (HKEY_CLASSES_ROOT\...).
declare -A dumped=()
full() {
  local k="$1"
  k="${k/#HKCR/HKEY_CLASSES_ROOT}"
  k="${k/#HKCU/HKEY_CURRENT_USER}"
  echo "${k/#HKLM/HKEY_LOCAL_MACHINE}"
}
dump() {  # TREE
  local key="" line name data
  while IFS= read -r line; do
    line="${line%$'\r'}"
    if [[ "$line" == HKEY_* ]]; then
      key="$line"
      printf '%s\t\t\n' "$key"
    elif [[ "$line" =~ ^"    "(.*)"    "REG_[A-Z_]+"    "(.*)$ ]]; then
      name="${BASH_REMATCH[1]}"
      data="${BASH_REMATCH[2]}"
      [[ "$name" == "(Default)" && "$data" == "(value not set)" ]] && continue
      printf '%s\t%s\t%s\n' "$key" "$name" "$data"
    fi
  done < <(wine reg query "$1" /s 2>/dev/null)
}
# Reads the trees the checks below look into (again after every change to the registry).
snapshot() {
  dumped=()
  local tree
  for tree in "$@"; do dumped["$(full "$tree")"]="$(dump "$tree")"; done
}
all_dumped() { printf '%s\n' "${dumped[@]}"; }
# The data of value NAME ("(Default)" for the default value) of KEY, or "<missing>".
value() {
  local key
  key="$(full "$1")"
  # Through the environment: awk -v would read the backslashes as escapes.
  all_dumped | K="$key" N="$2" awk -F'\t' '
    $1 == ENVIRON["K"] && $2 == ENVIRON["N"] { print $3; found = 1; exit }
    END { if (!found) print "<missing>" }'
}
expect() {  # KEY NAME DATA
  local got
  got="$(value "$1" "${2:-(Default)}")"
  [[ "$got" == "$3" ]] || fail "$1 ${2:-(Default)}: got '$got', expected '$3'"
}
key_exists() {
  local key
  key="$(full "$1")"
  all_dumped | K="$key" awk -F'\t' '$1 == ENVIRON["K"] { found = 1 } END { exit !found }'
}
expect_key() { key_exists "$1" || fail "$1 is missing"; }
expect_no_key() { key_exists "$1" && fail "$1 is still there"; }
# The names of the direct subkeys of KEY, sorted, one a line.
subkeys() {
  local key
  key="$(full "$1")"
  all_dumped | P="$key\\" awk -F'\t' '
    index($1, ENVIRON["P"]) == 1 && $2 == "" {
      rest = substr($1, length(ENVIRON["P"]) + 1)
      if (index(rest, "\\") == 0) print rest
    }' |
    sort -u
}

check_class_table() {  # ROOT (HKCR or HKCU\Software\Classes)
  local root="$1" class="$1\\CLSID\\$clsid"
  expect "$root\\RuzaZUV.Vorn.1" "" "Vorn Class"
  expect "$root\\RuzaZUV.Vorn.1\\CLSID" "" "$clsid"
  expect "$root\\RuzaZUV.Vorn" "" "Vorn Class"
  expect "$root\\RuzaZUV.Vorn\\CLSID" "" "$clsid"
  expect "$root\\RuzaZUV.Vorn\\CurVer" "" "RuzaZUV.Vorn.1"
  expect "$class" "" "Vorn Class"
  expect "$class\\ProgID" "" "RuzaZUV.Vorn.1"
  expect "$class\\VersionIndependentProgID" "" "RuzaZUV.Vorn"
  expect "$class\\InprocServer32" "" "$path"
  expect "$class\\InprocServer32" ThreadingModel "Apartment"
  expect "$class\\ToolboxBitmap32" "" "$path, 101"
  expect "$class\\MiscStatus" "" "0"
  expect "$class\\MiscStatus\\1" "" "131473"
  expect "$class\\TypeLib" "" "$libid"
  expect "$class\\Version" "" "1.0"
  for empty in Programmable Control Insertable; do
    expect_key "$class\\$empty"
    [[ "$(value "$class\\$empty" "(Default)")" == "<missing>" ]] || fail "$class\\$empty has a value"
  done
  local want
  want="$(printf '%s\n' Control InprocServer32 Insertable MiscStatus ProgID Programmable \
    ToolboxBitmap32 TypeLib Version VersionIndependentProgID | sort)"
  [[ "$(subkeys "$class")" == "$want" ]] || fail "$class has subkeys: $(subkeys "$class" | tr '\n' ' ')"
}

# Per machine.
machine_trees=('HKCR\RuzaZUV.Vorn.1' 'HKCR\RuzaZUV.Vorn' "HKCR\\CLSID\\$clsid"
  "HKCR\\TypeLib\\$libid")
wine regsvr32 /s "$module" || fail "regsvr32 failed"
snapshot "${machine_trees[@]}"
check_class_table 'HKCR'
expect "HKCR\\TypeLib\\$libid\\1.0" "" "RuzaZUV 1.0 Type Library"
expect "HKCR\\TypeLib\\$libid\\1.0\\0\\win64" "" "$path"
expect "HKCR\\TypeLib\\$libid\\1.0\\HELPDIR" "" "$folder"

# A second registration re-creates the class key: what else was put into it is gone.
wine reg add "HKCR\\CLSID\\$clsid\\Stray" /ve /d stray /f >/dev/null 2>&1
wine reg add "HKCR\\CLSID\\$clsid\\Control\\Inner" /f >/dev/null 2>&1
wine reg add "HKCR\\CLSID\\$clsid\\InprocServer32" /ve /d 'C:\elsewhere.dll' /f >/dev/null 2>&1
wine regsvr32 /s "$module" || fail "second regsvr32 failed"
snapshot "${machine_trees[@]}"
check_class_table 'HKCR'
expect_no_key "HKCR\\CLSID\\$clsid\\Control\\Inner"

# Unregistration removes what registration wrote and keeps the shared CLSID key.
wine reg add "HKCR\\CLSID\\{00000000-0000-0000-0000-00000000BEEF}" /ve /d other /f >/dev/null 2>&1
wine regsvr32 /s /u "$module" || fail "regsvr32 /u failed"
snapshot "${machine_trees[@]}" 'HKCR\CLSID\{00000000-0000-0000-0000-00000000BEEF}'
key_exists_now() { wine reg query "$1" >/dev/null 2>&1; }
key_exists_now 'HKCR\CLSID' || fail "HKCR\CLSID is gone"
for gone in "HKCR\\RuzaZUV.Vorn.1" "HKCR\\RuzaZUV.Vorn" "HKCR\\CLSID\\$clsid" \
  "HKCR\\TypeLib\\$libid\\1.0"; do
  expect_no_key "$gone"
done
expect 'HKCR\CLSID\{00000000-0000-0000-0000-00000000BEEF}' "" "other"

# For the current user only.
user='HKCU\Software\Classes'
user_trees=("$user\\RuzaZUV.Vorn.1" "$user\\RuzaZUV.Vorn" "$user\\CLSID\\$clsid")
wine regsvr32 /s /n /i:user "$module" || fail "regsvr32 /n /i:user failed"
snapshot "${user_trees[@]}" "HKLM\\Software\\Classes\\CLSID\\$clsid"
check_class_table "$user"
expect_no_key "HKLM\\Software\\Classes\\CLSID\\$clsid"
wine regsvr32 /s /u /n /i:user "$module" || fail "regsvr32 /u /n /i:user failed"
snapshot "${user_trees[@]}"
for gone in "$user\\RuzaZUV.Vorn.1" "$user\\RuzaZUV.Vorn" "$user\\CLSID\\$clsid"; do
  expect_no_key "$gone"
done

wineserver -k 2>/dev/null || true
if ((failures > 0)); then
  echo "registration_test: $failures failures" >&2
  exit 1
fi
echo "registration_test: passed"
