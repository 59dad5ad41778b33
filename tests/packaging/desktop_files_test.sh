#!/usr/bin/env bash
# The menu entries, the metadata and the manual pages: valid for the desktop's own checkers
# and installed per component where a package expects them.
# Usage: desktop_files_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src="$1/packaging"
build="$2"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for f in "$src"/desktop/*.desktop; do
  # Hints count too: a clean entry gives no output at all.
  out=$(desktop-file-validate "$f" 2>&1) && [[ -z "$out" ]] || fail "desktop-file-validate: $out"
done
grep -qx 'Exec=tessivar-sim --meters 2 --demo -- quorvex' "$src/desktop/quorvex-demo.desktop" ||
  fail "the demo entry does not start the application on two demo meters"

out=$(appstreamcli validate --no-net "$src"/desktop/*.metainfo.xml 2>&1) ||
  fail "appstreamcli validate: $out"
shot=$(sed -n 's|.*<image>.*/\(docs/manual/images/[^<]*\)</image>.*|\1|p' "$src"/desktop/*.metainfo.xml)
[[ -n "$shot" ]] || fail "the metadata names no screenshot of the manual"
for s in $shot; do [[ -f "$1/$s" ]] || fail "screenshot $s is not in the tree"; done

for page in "$src"/man/*.1; do
  name=$(basename "$page" .1)
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z "$warnings" ]] || fail "man $page: $warnings"
  lexgrog "$page" | grep -q "\"$name - " || fail "lexgrog finds no NAME line in $page"
done

# Each component gets its own files, in the places a package keeps them.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
declare -A expect=(
  [quorvex]="share/applications/quorvex.desktop share/applications/quorvex-demo.desktop
             share/metainfo/io.github.quorvex.Quorvex.metainfo.xml
             share/icons/hicolor/scalable/apps/quorvex.svg
             share/icons/hicolor/16x16/apps/quorvex.png share/icons/hicolor/256x256/apps/quorvex.png
             share/man/man1/quorvex.1.gz"
  [tessivar]="share/man/man1/tessivar.1.gz"
  [tessivar-sim]="share/man/man1/tessivar-sim.1.gz")
for component in "${!expect[@]}"; do
  cmake --install "$build" --prefix "$root/$component" --component "$component" >/dev/null ||
    fail "installing component $component"
  for f in ${expect[$component]}; do
    [[ -f "$root/$component/$f" ]] || fail "component $component lacks $f"
  done
done
gzip -t "$root"/quorvex/share/man/man1/quorvex.1.gz || fail "quorvex.1.gz is not gzip"
[[ -z $(find "$root/tessivar" -name 'quorvex*') ]] || fail "component tessivar carries the application's files"
size=$(file -b "$root/quorvex/share/icons/hicolor/48x48/apps/quorvex.png" 2>/dev/null)
[[ "$size" == *"48 x 48"* ]] || fail "the 48x48 icon is $size"

[[ $failures -eq 0 ]] && echo "desktop files, metadata and manual pages: all good"
exit $((failures > 0))
