#!/usr/bin/env bash
# The .deb built by CPack: its control fields, its contents, and the program
# it holds running from wherever the package is unpacked.
# Usage: deb_package.sh CPACK BUILD_DIR VERSION WINDOW MAN_PAGE BITMAP_ICONS [PYTHON]
# (WINDOW, MAN_PAGE, BITMAP_ICONS ON or OFF: what the build makes; PYTHON the
# interpreter the korva Python package is built for, if it is).
set -euo pipefail
cpack=$1 build=$2 version=$3 window=$4 man_page=$5 bitmap_icons=$6 python=${7:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && "$cpack" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1) ||
  { cat "$tmp/cpack.log"; fail "cpack"; }
debs=("$tmp"/out/korva_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one korva_*.deb: ${debs[*]}"
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = korva ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version-1" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture"
[ "$(field Section)" = science ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
depended=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }')
wanted=(libc6 libstdc++6 libsndfile1 libmatio11)
if [ "$window" = ON ]; then wanted+=(libqt6widgets6 libqt6gui6 libqt6core6); fi
for library in "${wanted[@]}"; do
  grep -qxF "$library" <<<"$depended" || fail "Depends lacks $library: $depends"
done
grep -qx " Package: korva" <<<"$(dpkg-deb -I "$deb")" || fail "dpkg-deb -I"

contents=$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')
expected=(./usr/bin/korva-cli ./usr/share/korva/Man.Fig ./usr/share/korva/Human.par
  "./usr/share/korva/HPD Atten.txt" ./usr/share/korva/Seed_REAT_Values_Earplug.txt
  ./usr/share/korva/examples/FRIED150.KRV)
if [ "$window" = ON ]; then
  expected+=(./usr/bin/korva ./usr/share/korva/EarModel.jpg ./usr/share/applications/korva.desktop
    ./usr/share/mime/packages/korva.xml ./usr/share/icons/hicolor/scalable/apps/korva.svg)
  if [ "$bitmap_icons" = ON ]; then
    expected+=(./usr/share/icons/hicolor/48x48/apps/korva.png)
  fi
fi
if [ "$man_page" = ON ]; then expected+=(./usr/share/man/man1/korva-cli.1.gz); fi
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$contents" || fail "missing $path"
done
if [ -n "$python" ]; then
  grep -qE '^\./usr/lib/python3[.0-9]*/dist-packages/korva/_korva\..*\.so$' <<<"$contents" ||
    fail "no Python extension module"
  grep -qE '^\./usr/lib/python3[.0-9]*/dist-packages/korva/__init__\.py$' <<<"$contents" ||
    fail "no Python package"
  grep -qF python3-numpy <<<"$(field Suggests)" || fail "Suggests: $(field Suggests)"
fi
outside=$(grep -v -e '^\./usr/' -e '^\./$' <<<"$contents" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
if grep -qiE '\.(haz|tob)$|/\.[^/]+$' <<<"$contents"; then
  fail "left-overs packaged: $(grep -iE '\.(haz|tob)$|/\.[^/]+$' <<<"$contents")"
fi
owners=$(dpkg-deb -c "$deb" | awk '{ print $2 }' | sort -u)
[ "$owners" = root/root ] || fail "owners: $owners"

# Unpacked anywhere, the packaged program finds the packaged data.
dpkg-deb -x "$deb" "$tmp/root"
out=$(cd / && env -u KORVA_DATA_DIR "$tmp/root/usr/bin/korva-cli" --version)
grep -qxF "data folder: $(realpath "$tmp/root/usr/share/korva")" <<<"$out" || fail "$out"
if [ -n "$python" ]; then
  site=$(dirname "$tmp"/root/usr/lib/python3*/dist-packages/korva)
  out=$(cd / && env -u KORVA_DATA_DIR PYTHONPATH="$site" "$python" -c \
    'import korva; print(korva.default_model())')
  [ "$out" = "$(realpath "$tmp/root/usr/share/korva")/Human.par" ] || fail "Python: $out"
fi
if [ "$window" = ON ]; then
  # The drawing commands' module is found from the unpacked program.
  (cd "$tmp" && env -u KORVA_DATA_DIR "$tmp/root/usr/bin/korva-cli" plot \
    "$tmp/root/usr/share/korva/examples/FRIED150.KRV" -o "$tmp/picture.svg" --format svg) ||
    fail "the packaged korva-cli does not draw"
  grep -q '<svg' "$tmp/picture.svg" || fail "no picture drawn"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$tmp/root/usr/share/applications/korva.desktop"
  fi
  if command -v update-mime-database >/dev/null; then
    update-mime-database "$tmp/root/usr/share/mime" 2>/dev/null
    grep -qx 'text/x-korva-waveform:\*\.krv' "$tmp/root/usr/share/mime/globs" ||
      fail "the KRV type is not registered"
  fi
fi
echo "package $(basename "$deb"): ok"
