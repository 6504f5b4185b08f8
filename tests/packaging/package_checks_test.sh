#!/bin/sh
# Checks the files of the Debian package with the tools a distribution uses:
# the desktop entry, the AppStream file, the manual pages, the completion and
# the package itself (lintian: no errors; its warnings are printed).
# Usage: package_checks_test.sh PACKAGE_DIR SOURCE_DIR
set -eu
pkgdir=$1
src=$2
. "$(dirname "$0")/unpack_package.sh"
share=$root/usr/share

# The desktop entry: hints are fine (the three categories are wanted).
out=$(desktop-file-validate "$share/applications/io.github.tarvel.Tarvel.desktop" 2>&1) ||
  fail "desktop-file-validate: $out"
case "$out" in *error:* | *warning:*) fail "desktop-file-validate: $out" ;; esac
grep -qx 'Exec=tarvel %f' "$share/applications/io.github.tarvel.Tarvel.desktop" ||
  fail "the desktop entry does not pass a folder to tarvel"
# Tarvel must never become the program that opens folders.
if grep -q '^MimeType=' "$share/applications/io.github.tarvel.Tarvel.desktop"; then
  fail "the desktop entry claims a file type"
fi

# The AppStream file, without looking anything up on the network.
out=$(appstreamcli validate --no-net "$share/metainfo/io.github.tarvel.Tarvel.metainfo.xml" 2>&1) ||
  fail "appstreamcli validate: $out"
case "$out" in *"W: "* | *"E: "*) fail "appstreamcli validate: $out" ;; esac

# The manual pages render without a single warning, and each names every
# settings key and option it should.
for page in tarvel tarvel-cli; do
  gz=$share/man/man1/$page.1.gz
  zcat "$gz" >"$work/$page.1"
  out=$(groff -man -ww -z -Tutf8 "$work/$page.1" 2>&1) || fail "groff $page.1: $out"
  [ -z "$out" ] || fail "groff $page.1 warns: $out"
  out=$(MANWIDTH=80 man --warnings -l "$gz" 2>&1 >/dev/null) || fail "man -l $page.1: $out"
  [ -z "$out" ] || fail "man -l $page.1 warns: $out"
  for key in PathDataFolder Player FlagDisplayLog FlagRenameSubfolders FlagRenameFolderName \
    FlagCreateCSVFile FlagPathSaveCSV FlagConvertFilename FlagCheckOnlyFilename FlagLimit30Char \
    LengthName FlagDicEnabledFilename FlagDetectFullCharFilename ConvertLevelFilename \
    FlagConvertID3Tag FlagCheckOnlyID3Tag FlagDicEnabledID3Tag FlagDetectFullCharID3Tag \
    ConvertLevelID3Tag ID3TagArtist ID3TagAlbum ID3TagTitle; do
    grep -q "^\.B $key\$" "$work/$page.1" || fail "$page.1 does not describe $key"
  done
  if grep -q '@' "$work/$page.1"; then fail "$page.1 holds an unfilled @placeholder@"; fi
done
# The Japanese pages: the same checks, and the catalogue of tarvel-cli's
# Japanese messages beside them.
for page in tarvel tarvel-cli; do
  gz=$share/man/ja/man1/$page.1.gz
  [ -f "$gz" ] || { fail "the package holds no Japanese $page.1"; continue; }
  zcat "$gz" >"$work/ja-$page.1"
  out=$(groff -man -ww -z -Tutf8 "$work/ja-$page.1" 2>&1) || fail "groff ja/$page.1: $out"
  [ -z "$out" ] || fail "groff ja/$page.1 warns: $out"
  out=$(MANWIDTH=80 man --warnings -l "$gz" 2>&1 >/dev/null) || fail "man -l ja/$page.1: $out"
  [ -z "$out" ] || fail "man -l ja/$page.1 warns: $out"
  for key in PathDataFolder Player LengthName ConvertLevelID3Tag ID3TagTitle; do
    grep -q "^\.B $key\$" "$work/ja-$page.1" || fail "ja/$page.1 does not describe $key"
  done
  if grep -q '@' "$work/ja-$page.1"; then fail "ja/$page.1 holds an unfilled @placeholder@"; fi
  # Japanese text, as escapes; no raw bytes beyond ASCII.
  grep -q '\\\[u' "$work/ja-$page.1" || fail "ja/$page.1 holds no Japanese"
  if LC_ALL=C grep -q '[^ -~]' "$work/ja-$page.1"; then
    fail "ja/$page.1 holds bytes beyond ASCII"
  fi
done
[ -f "$share/locale/ja/LC_MESSAGES/tarvel-cli.mo" ] ||
  fail "the package holds no Japanese messages of tarvel-cli"

for option in settings set check-only restore history quiet help version; do
  roff=$(printf '%s' "--$option" | sed 's/-/\\-/g')  # a hyphen is \- in roff
  grep -qF -- "$roff" "$work/tarvel-cli.1" || fail "tarvel-cli.1 does not describe --$option"
done

# The completion: what a user gets after typing the start of a word.
bash "$src/tests/packaging/completion_test.bash" "$share/bash-completion/completions/tarvel-cli" ||
  fail "bash completion"

# The licence and what the package recommends.
grep -q '^License: GPL-3+$' "$root/usr/share/doc/tarvel/copyright" || fail "copyright: no GPL-3+"
recommends=$(dpkg-deb -f "$deb" Recommends)
for want in fonts-noto-cjk bash-completion libc-l10n; do
  case "$recommends" in *"$want"*) ;; *) fail "the package does not recommend $want" ;; esac
done

# lintian: errors fail the test, as do missing hardening flags; other
# warnings are listed for the record.
out=$(lintian --no-tag-display-limit "$deb" 2>&1) || true
echo "$out" | grep -E '^[EW]: ' || true
if echo "$out" | grep -q '^E: '; then fail "lintian reports errors"; fi
if echo "$out" | grep -qE 'hardening-no-(fortify-functions|bindnow|relro)'; then
  fail "lintian misses hardening flags"
fi

[ "$failed" = 0 ] && echo "desktop entry, AppStream file, manual pages, completion and package pass"
exit "$failed"
