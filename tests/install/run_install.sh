#!/usr/bin/env bash
# The install as a package makes it: cmake --install into a staging folder
# (DESTDIR), what it put there checked by the desktop's own tools
# (desktop-file-validate, update-mime-database and the MIME database's answers
# on files other tools made, file on the icons); then the prefix is moved
# elsewhere and the installed programs run from there: quorvel makes a
# project, and corvane, on a private display for a new user, offers the
# signature table of the moved prefix, opens its help book, starts the
# installed facetor and registers its file types with its own installed path.
# run_install.sh BUILD_DIR
set -u
exec </dev/null  # ctest hands on its own input; nothing started here reads it
build=$1
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "install: $*" >&2; exit 1; }

if [ "$build" = --session ]; then
  # On the private display and session bus: a new user's first start.
  moved=$2 work=$3
  home=$work/home
  mkdir -p "$home/data" "$home/config" "$home/run" "$work/cwd"
  chmod 700 "$home/run"
  export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run
  export CORVANE_CONFIG_DIR=$home/config/corvane GTK_MODULES=gail:atk-bridge NO_AT_BRIDGE=0
  printf 'zz,ZZZZzzzz,Mine\n' >"$work/cwd/mine.sig"
  cd "$work/cwd" || exit 1
  "$moved/bin/corvane" &
  program=$!
  timeout 90 /usr/bin/python3 "$here/first_start.py" "$moved" "$work"
  driven=$?
  for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$program" 2>/dev/null; then
    kill "$program"
    fail "the installed corvane did not end when told to"
  fi
  [ $driven -eq 0 ] || exit 1
  # The table taken is the moved prefix's, kept for the next start.
  sign=$(awk 'taken { print; exit } /\\Corvane\\Sign\]$/ { taken = 1 }' "$CORVANE_CONFIG_DIR/settings.reg")
  [ "$sign" = "@=$moved/share/corvane/default.sig" ] || fail "the setting Sign holds $sign"
  # The registration points at the installed program.
  entry=$XDG_DATA_HOME/applications/corvane.desktop
  grep -qxF "Exec=\"$moved/bin/corvane\" %f" "$entry" || fail "the registered entry runs $(grep Exec= "$entry")"
  desktop-file-validate "$entry" || fail "the registered entry is not valid"
  exit 0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=/opt/corvane
DESTDIR=$work/stage cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }
root=$work/stage$prefix
share=$root/share
for f in bin/quorvel bin/corvane bin/facetor share/corvane/default.sig share/corvane/help/corvane.hhp \
    share/corvane/facetor_help/en/facetor.hhp share/corvane/facetor_help/fr/facetor.hhp \
    share/mime/packages/corvane.xml share/applications/corvane.desktop share/applications/facetor.desktop; do
  [ -e "$root/$f" ] || fail "the install holds no $f"
done
mo=/usr/share/locale/fr/LC_MESSAGES/wxstd-3.2.mo
[ ! -e $mo ] || cmp -s $mo "$share/corvane/locale/fr/LC_MESSAGES/wxstd-3.2.mo" || fail "no toolkit catalogue in French"

# Each icon a PNG of its size with an alpha channel, as file reads it.
for size in 16 22 24 32 48 64 128 256; do
  for icon in apps/corvane apps/facetor mimetypes/application-x-corvane-proj mimetypes/application-x-corvane-part \
      mimetypes/application-x-corvane-isop; do
    f=$share/icons/hicolor/${size}x$size/$icon.png
    file -b "$f" | grep -q "^PNG image data, $size x $size, 8-bit/color RGBA" || fail "$f: $(file -b "$f" 2>&1)"
  done
done

# The desktop entries: valid, each running its program from the prefix.
desktop-file-validate "$share/applications/corvane.desktop" "$share/applications/facetor.desktop" ||
  fail "desktop-file-validate refuses an entry"
grep -qxF "Exec=$prefix/bin/corvane %f" "$share/applications/corvane.desktop" || fail "corvane.desktop: Exec"
grep -qxF "Exec=$prefix/bin/facetor" "$share/applications/facetor.desktop" || fail "facetor.desktop: Exec"
grep -qxF "MimeType=application/x-corvane-proj;application/x-corvane-part;application/x-corvane-isop;" \
  "$share/applications/corvane.desktop" || fail "corvane.desktop: MimeType"

# The prefix moved: nothing in it may depend on where it was put.
moved="$work/moved prefix"
mv "$root" "$moved" || fail "cannot move the prefix"
share=$moved/share
XDG_DATA_DIRS="$share:/usr/share" update-mime-database "$share/mime" 2>"$work/mime.err" || fail "update-mime-database failed"
[ ! -s "$work/mime.err" ] || { cat "$work/mime.err" >&2; fail "update-mime-database complains"; }
"$moved/bin/quorvel" -l "$work/made.cvpr" CDLABEL </dev/null || fail "the installed quorvel cannot make a project"
cp "$work/made.cvpr" "$work/project copy"
cp "$work/made.cvpr" "$work/made.cvso"
truncate -s 1M "$work/bare" && hformat -l Bare "$work/bare" >/dev/null || fail "hformat failed"
cp "$work/bare" "$work/bare.hfs"
truncate -s 8M "$work/mapped" && parted -s "$work/mapped" mklabel mac mkpart p1 hfs 1MiB 100% 2>/dev/null ||
  fail "parted failed"
# Volumes hfsutils made in files whose names say nothing: a bare one, one in an Apple map.
truncate -s 1440K "$work/floppy.hdv" && hformat -l Floppy "$work/floppy.hdv" >/dev/null || fail "hformat failed"
truncate -s 8M "$work/apple disk" && parted -s "$work/apple disk" mklabel mac mkpart p1 hfs 1MiB 100% 2>/dev/null &&
  hformat -l Apple "$work/apple disk" 1 >/dev/null || fail "parted or hformat failed"
printf 'plain text\n' >"$work/notes"
query() {
  XDG_DATA_HOME=$work/nobody XDG_DATA_DIRS="$share:/usr/share" XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$1"
}
for pair in "made.cvpr=application/x-corvane-proj" "project copy=application/x-corvane-proj" \
    "made.cvso=application/x-corvane-isop" "bare.hfs=application/x-corvane-part" "bare=application/x-corvane-part" \
    "mapped=application/x-corvane-part" "floppy.hdv=application/x-corvane-part" \
    "apple disk=application/x-corvane-part" "notes=text/plain"; do
  name=${pair%%=*} want=${pair#*=}
  got=$(query "$work/$name")
  [ "$got" = "$want" ] || fail "the MIME database takes $name for $got, not $want"
done

bash "$here/../gui/xserver.sh" dbus-run-session -- bash "$0" --session "$moved" "$work" 2>"$work/session.err" ||
  { grep -v 'dconf\|Gtk-\|Gdk-\|GLib-\|dbus-daemon\|^$\|SpiRegistry' "$work/session.err" >&2; fail "the session failed"; }
echo "installed, moved and started: every check passed"
