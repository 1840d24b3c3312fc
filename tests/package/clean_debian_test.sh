#!/usr/bin/env bash
# Installs the Debian package on a freshly bootstrapped Debian 12 (a chroot with nothing but the
# minimal base system), as a user would with apt, then uses it as a new user: the command-line
# tool, the program under an X server opening a fax file given on its command line, and finally
# purges it and checks that nothing of it is left. Needs root and Debian's mirror.
# Usage: clean_debian_test.sh PACKAGE.deb CACHE_DIR [SCREENSHOT.png]
set -euo pipefail
deb=$(realpath "$1")
cache=$2
shot=${3:-}
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root for the chroot"; exit 0; }
command -v debootstrap >/dev/null || { echo "FAIL: debootstrap is not installed" >&2; exit 1; }

fail() { echo "FAIL: $*" >&2; exit 1; }
root=$(mktemp -d "${TMPDIR:-/tmp}/korvane-clean-XXXXXX")
xvfb=
mounts=()
cleanup() {
  local rc=$?
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  # A program still running in the chroot would keep its mounts busy.
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -9 "${p#/proc/}" 2>/dev/null
  done
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null; done
  rm -rf --one-file-system "$root"
  exit $rc
}
trap cleanup EXIT

# The base system is bootstrapped once and copied for each run, so a run starts clean.
base=$cache/bookworm-minbase
if [ ! -f "$base/.complete" ]; then
  rm -rf "$base"
  mkdir -p "$cache"
  debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian >"$cache/debootstrap.log" 2>&1 ||
    fail "debootstrap (see $cache/debootstrap.log)"
  touch "$base/.complete"
fi
cp -a "$base/." "$root/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
for m in proc dev tmp/.X11-unix; do
  mkdir -p "$root/$m" "/$m"
  mount --bind "/$m" "$root/$m"
  mounts+=("$root/$m")
done
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
as_user() { in_root /usr/sbin/runuser -u newuser -- /usr/bin/env HOME=/home/newuser "$@"; }

before=$(in_root find / -xdev -path /proc -prune -o -path /dev -prune -o -path /tmp -prune -o -path /var -prune -o -print | sort)
cp "$deb" "$root/tmp/korvane.deb"
# Only what the package depends on: recommendations are left out on purpose.
in_root apt-get update -qq >/dev/null || fail "apt-get update in the new root"
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  /tmp/korvane.deb >"$root/tmp/install.log" 2>&1 || { cat "$root/tmp/install.log" >&2; fail "install"; }

in_root useradd -m newuser
as_user korvane-fax --help | grep -q '^  convert' || fail "korvane-fax --help"
as_user sh -c 'printf "A fax from a clean machine\n" >/home/newuser/note.txt'
as_user korvane-fax convert /home/newuser/note.txt -o /home/newuser/note.apf >/dev/null ||
  fail "korvane-fax convert"
as_user korvane-fax compose --recipient "New User" --fax 5550100 --subject "First fax" >/dev/null ||
  fail "compose"
[ -f "$root/home/newuser/.local/share/korvane/KRV.DBF" ] || fail "no tables in the user's data directory"

# The program, started with a fax file, shows it in the viewer on a real X server.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.2; done
as_user env DISPLAY="$display" XDG_RUNTIME_DIR=/tmp/newuser-run sh -c \
  'mkdir -p -m 700 /tmp/newuser-run; korvane /home/newuser/note.apf >/tmp/korvane.log 2>&1 &'
shown=
for _ in $(seq 100); do
  if xwininfo -display "$display" -root -tree 2>/dev/null | grep -q '"Fax Viewer'; then
    shown=yes
    break
  fi
  sleep 0.2
done
[ -n "$shown" ] || fail "no viewer window: $(cat "$root/tmp/korvane.log")"
sleep 1
[ -n "$shot" ] && import -display "$display" -window root "$shot"
for p in /proc/[0-9]*; do
  [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill "${p#/proc/}" 2>/dev/null
done
sleep 1

# Purged, the package leaves nothing behind outside the users' own files.
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq korvane >/dev/null || fail "purge"
in_root dpkg -s korvane >/dev/null 2>&1 && fail "still installed after purge"
left=$(in_root find /usr /etc /opt -xdev -iname '*korvane*' | grep -v '^/home' || true)
[ -z "$left" ] || fail "left after purge: $left"
after=$(in_root find / -xdev -path /proc -prune -o -path /dev -prune -o -path /tmp -prune -o -path /var -prune -o -print | sort)
extra=$(comm -13 <(echo "$before") <(echo "$after") | grep -vE '^/(home|usr|etc|lib)' || true)
[ -z "$extra" ] || fail "files outside the system's own places after purge: $extra"
echo "installed on a fresh Debian 12, used as a new user, purged clean"
