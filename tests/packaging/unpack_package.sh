# Sourced by the package tests, with $pkgdir set: finds the .deb there,
# unpacks it into a fresh temporary root ($root, inside $work, removed at the
# end) and gives fail(), which records a failure and lets the test go on.
deb=$(ls "$pkgdir"/tarvel_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  echo "FAIL: no tarvel_*.deb in $pkgdir"
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvel-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
root=$work/root
dpkg-deb -x "$deb" "$root"
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
