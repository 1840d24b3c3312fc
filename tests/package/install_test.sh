#!/usr/bin/env bash
# Installs the build into a throw-away prefix as the Debian package lays it out, then runs the
# installed programs as a new user would: a fresh home, no build folder on the path.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d "${TMPDIR:-/tmp}/korvane-install-XXXXXX")
pid=
cleanup() {
  local rc=$?
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$root"
  exit $rc
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$root/usr" >/dev/null
usr=$root/usr
export HOME=$root/home TMPDIR=$root/tmp XDG_RUNTIME_DIR=$root/run PATH=$usr/bin:/usr/bin:/bin
unset XDG_DATA_HOME
mkdir -p "$HOME" "$TMPDIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
data=$HOME/.local/share/korvane

# Where a desktop, a file manager and man look for them.
for f in bin/korvane bin/korvane-fax bin/linesim share/korvane/krv.dct \
         share/applications/korvane.desktop share/icons/hicolor/scalable/apps/korvane.svg \
         share/mime/packages/korvane.xml share/man/man1/korvane.1.gz \
         share/man/man1/korvane-fax.1.gz share/man/man1/linesim.1.gz; do
  [ -s "$usr/$f" ] || fail "$f is not installed"
done
desktop=$usr/share/applications/korvane.desktop
for line in 'Exec=korvane %f' 'Categories=Office;' 'Icon=korvane' 'Type=Application'; do
  grep -qxF "$line" "$desktop" || fail "desktop entry lacks '$line'"
done
# The type the desktop entry opens is the one the MIME file defines, for *.apf and by content.
mime=$(sed -n 's/^MimeType=\(.*\);$/\1/p' "$desktop")
/usr/bin/python3 - "$usr/share/mime/packages/korvane.xml" "$mime" <<'PY' || fail "MIME file"
import sys, xml.etree.ElementTree as ET
ns = {"m": "http://www.freedesktop.org/standards/shared-mime-info"}
t = ET.parse(sys.argv[1]).getroot().find("m:mime-type", ns)
assert t.get("type") == sys.argv[2], t.get("type")
assert "*.apf" in [g.get("pattern") for g in t.findall("m:glob", ns)]
assert t.find("m:magic/m:match", ns).get("value").startswith("APF10")
PY
desktop-file-validate "$desktop" || fail "desktop entry: see above"
# As a desktop sees it once the package's triggers have run: an APF file is of that type by its
# name and by its content, and the program is what opens it.
update-mime-database "$usr/share/mime"
update-desktop-database "$usr/share/applications"
export XDG_DATA_DIRS=$usr/share:/usr/share
printf 'A letter\n' >"$root/letter.txt"
korvane-fax convert "$root/letter.txt" -o "$root/letter.apf" >/dev/null
cp "$root/letter.apf" "$root/letter-without-extension"
for f in letter.apf letter-without-extension; do
  type=$(gio info -a standard::content-type "$root/$f" | sed -n 's/.*content-type: //p')
  [ "$type" = "$mime" ] || fail "$f is of type '$type', not $mime"
done
opener=$(gio mime "$mime")  # whole, not piped into grep -q: an early close fails the pipe
[[ $opener == *"Default application"*": korvane.desktop"* ]] ||
  fail "korvane does not open $mime: $opener"

# The manual page describes every subcommand the program has.
commands=$(korvane-fax --help | awk '/^Commands:/{on=1; next} on && /^  [a-z]/{n++} END{print n}')
sections=$(zcat "$usr/share/man/man1/korvane-fax.1.gz" | grep -c '^\.SS ')
[ "$commands" -gt 5 ] && [ "$commands" = "$sections" ] ||
  fail "man page has $sections command sections for $commands commands"

# The command-line tool keeps the tables in the user's data directory, never beside /usr/bin.
korvane-fax compose --recipient "New User" --fax 5550100 --subject "First fax" >/dev/null ||
  fail "compose in a fresh home"
[ -f "$data/KRV.DBF" ] || fail "no KRV.DBF in $data"
listed=$(korvane-fax list)
[[ $listed == *"First fax"* ]] || fail "list does not show the composed fax: $listed"
# The shipped dictionary is found from /usr/bin.
printf 'a simple sentense\n' >"$root/t.txt"
out=$(korvane-fax spell "$root/t.txt" || true)
[[ $out == *sentense*sentence* ]] || fail "spell with the shipped dictionary: $out"

# The program starts, and makes its receive directory and tables there.
korvane >"$root/korvane.log" 2>&1 &
pid=$!
for _ in $(seq 100); do
  [ -d "$data/receive" ] && [ -f "$data/KRVREC.DBF" ] && break
  sleep 0.2
done
[ -d "$data/receive" ] && [ -f "$data/KRVREC.DBF" ] || fail "korvane made no files in $data"
kill -0 "$pid" || fail "korvane ended: $(cat "$root/korvane.log")"
extra=$(ls "$usr/bin" | grep -vxE 'korvane|korvane-fax|linesim' || true)
[ -z "$extra" ] || fail "files written beside the installed programs: $extra"
echo "installed programs ran from $usr with their files in $data"
