#!/bin/sh
# Unpacks the Debian package into a temporary root and runs the unpacked
# tarvel-cli there as an installed program, its XDG folders in the same
# temporary folder: it must find its own tables, convert a small library and
# restore it byte for byte.
# Usage: installed_run_test.sh PACKAGE_DIR MAKE_SAMPLE_LIBRARY
set -eu
pkgdir=$1
make_sample=$2
. "$(dirname "$0")/unpack_package.sh"

# Every file is in the package, where a desktop and man look for it.
while read -r path; do
  [ -e "$root$path" ] || fail "the package lacks $path"
done <<'LIST'
/usr/bin/tarvel
/usr/bin/tarvel-cli
/usr/share/tarvel/dic.csv
/usr/share/tarvel/Rome.csv
/usr/share/tarvel/music.dic
/usr/share/applications/io.github.tarvel.Tarvel.desktop
/usr/share/metainfo/io.github.tarvel.Tarvel.metainfo.xml
/usr/share/icons/hicolor/scalable/apps/io.github.tarvel.Tarvel.svg
/usr/share/icons/hicolor/48x48/apps/io.github.tarvel.Tarvel.png
/usr/share/icons/hicolor/256x256/apps/io.github.tarvel.Tarvel.png
/usr/share/man/man1/tarvel.1.gz
/usr/share/man/man1/tarvel-cli.1.gz
/usr/share/man/ja/man1/tarvel.1.gz
/usr/share/man/ja/man1/tarvel-cli.1.gz
/usr/share/locale/ja/LC_MESSAGES/tarvel-cli.mo
/usr/share/bash-completion/completions/tarvel-cli
/usr/share/doc/tarvel/copyright
/usr/share/doc/tarvel/changelog.gz
LIST
depends=$(dpkg-deb -f "$deb" Depends)
for dep in mecab-ipadic-utf8 libqt6svg6 qt6-translations-l10n libmecab2 libicu libqt6widgets6 \
  libisofs6; do
  case "$depends" in
    *"$dep"*) ;;
    *) fail "Depends lacks $dep: $depends" ;;
  esac
done

# Installed mode: nothing beside the program, settings and lists in XDG.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
mkdir -p "$HOME"
cli="$root/usr/bin/tarvel-cli"
"$make_sample" demo "$work/music" >/dev/null

# The unpacked program finds its Japanese messages under its own prefix.
if locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
  out=$(LANGUAGE= LC_ALL=ja_JP.UTF-8 "$cli" --library x 2>&1) || true
  case "$out" in
    *"--library は --restore と一緒にだけ使えます"*) ;;
    *) fail "the installed tarvel-cli does not speak Japanese: $out" ;;
  esac
else
  echo "installed_run_test: no ja_JP.UTF-8 locale, its messages not checked"
fi
cp -a "$work/music" "$work/before"

status=0
"$cli" --set FlagCheckOnlyFilename=0 --set FlagCheckOnlyID3Tag=0 "$work/music" \
  >"$work/run.out" 2>"$work/run.err" || status=$?
[ "$status" = 0 ] || fail "the run ended with $status: $(cat "$work/run.err")"
list="$XDG_DATA_HOME/tarvel/list.csv"
[ -s "$list" ] || fail "no list.csv in \$XDG_DATA_HOME/tarvel"
if diff -r "$work/before" "$work/music" >/dev/null; then
  fail "the run changed nothing: $(cat "$work/run.out")"
fi
[ ! -e "$XDG_CONFIG_HOME/tarvel/tarvel.ini" ] || fail "tarvel-cli saved its settings"
[ ! -e "$root/usr/bin/list.csv" ] || fail "the list went beside the program"

status=0
"$cli" --restore "$list" >"$work/restore.out" 2>"$work/restore.err" || status=$?
[ "$status" = 0 ] || fail "the restore ended with $status: $(cat "$work/restore.err")"
diff -r "$work/before" "$work/music" || fail "the restore did not bring the library back"

# Without any table the installed program refuses to start (so the run above
# used the package's own).
rm -rf "$root/usr/share/tarvel"
status=0
"$cli" --check-only "$work/music" >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || fail "with no dic.csv anywhere the run ended with $status, not 2"

[ "$failed" = 0 ] && echo "the unpacked package converted and restored the library"
exit "$failed"
