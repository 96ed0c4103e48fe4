#!/usr/bin/env bash
# An installed tree uses its own data, wherever it is put, and writes nothing
# into it; the build tree's binaries use the source tree's data.
# Usage: installed_tree.sh CMAKE BUILD_DIR SOURCE_DIR [PYTHON]
# (PYTHON: the interpreter the korva Python package is built for, if it is).
set -euo pipefail
cmake=$1 build=$2 source=$3 python=${4:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

unset KORVA_DATA_DIR
export XDG_DATA_HOME=$tmp/xdg
mkdir -p "$tmp/elsewhere" "$tmp/moved"
cd "$tmp/elsewhere"

"$cmake" --install "$build" --prefix "$tmp/a" >/dev/null
for program in "$tmp"/a/bin/*; do
  if grep -aqF "$source/data" "$program"; then fail "$program names the source tree's data"; fi
done

# VERSION_MATCHES PREFIX: --version names PREFIX's data folder and its ear model.
version_matches() {
  local data out
  data=$(realpath "$1/share/korva")
  out=$("$1/bin/korva-cli" --version)
  grep -qxF "data folder: $data" <<<"$out" || fail "--version does not name $data: $out"
  grep -qxF "ear model: $data/Human.par" <<<"$out" || fail "wrong ear model: $out"
  local sum
  sum=$(sha256sum "$data/Human.par" | cut -c1-64)
  grep -qxF "ear model SHA-256: $sum" <<<"$out" || fail "wrong checksum: $out"
}
version_matches "$tmp/a"

# PYTHON_MODEL PREFIX: the default ear model of the Python package installed in PREFIX.
python_model() {
  local package
  package=$(find "$1" -path '*/korva/__init__.py')
  [ -n "$package" ] || fail "no Python package in $1"
  PYTHONPATH=$(dirname "$(dirname "$package")") "$python" -c 'import korva; print(korva.default_model())'
}
if [ -n "$python" ]; then
  [ "$(python_model "$tmp/a")" = "$(realpath "$tmp/a/share/korva")/Human.par" ] ||
    fail "the Python package does not use the installed data: $(python_model "$tmp/a")"
fi

# The installed example is analysed with the installed model; its place
# table is not written into the installed folder.
share=$tmp/a/share/korva
before=$(find "$share" -type f -exec sha256sum {} + | sort)
out=$("$tmp/a/bin/korva-cli" hazard --json "$share/examples/FRIED150.KRV")
grep -qF "\"model_file\": \"$(realpath "$share")/Human.par\"" <<<"$out" || fail "hazard: $out"
grep -qF '"warned": {"aru": ' <<<"$out" || fail "hazard: $out"

# The installed protector table is copied to the user's folder before it is
# rewritten, and the copy is what the program reads from then on.
cp "$share/examples/FRIED150.KRV" .
"$tmp/a/bin/korva-cli" protect FRIED150.KRV --protector FOAM-EARPLUG >/dev/null
copy="$XDG_DATA_HOME/korva/HPD Atten.txt"
[ -f "$copy" ] || fail "no user copy of the protector table"
sed -i 's/^FOAM-EARPLUG\t/OWN-EARPLUG\t/' "$copy"
grep -q '^OWN_EARPLUG' <<<"$("$tmp/a/bin/korva-cli" protect --list)" ||
  fail "the user copy is not read"
"$tmp/a/bin/korva-cli" overlay "$share/examples/ENTRANCE.KRV" "$share/examples/EARDRUM.KRV" \
  >/dev/null
[ -f "$XDG_DATA_HOME/korva/Dat/Hearing Protectors/TOB.txt" ] || fail "TOB.txt not in the user folder"
after=$(find "$share" -type f -exec sha256sum {} + | sort)
[ "$before" = "$after" ] || fail "the installed data folder changed: $(diff <(echo "$before") <(echo "$after"))"

# A moved tree finds its data in the new place.
mv "$tmp/a" "$tmp/moved/b"
version_matches "$tmp/moved/b"
if [ -n "$python" ]; then
  [ "$(python_model "$tmp/moved/b")" = "$(realpath "$tmp/moved/b/share/korva")/Human.par" ] ||
    fail "the moved Python package: $(python_model "$tmp/moved/b")"
fi
grep -q "A.R.U." <<<"$("$tmp/moved/b/bin/korva-cli" hazard --warned FRIED150.KRV)" ||
  fail "moved tree"

# korva-cli draws its pictures with Qt GUI alone: it must run where the Qt
# Widgets library is not installed (a server, a cluster node). Qt and the MAT
# file library are loaded only by the commands that need them, so the others
# start at once.
widgets=$(ldd "$tmp/moved/b/bin/korva-cli" | grep -c Widgets || true)
[ "$widgets" = 0 ] || fail "korva-cli links Qt Widgets: $(ldd "$tmp/moved/b/bin/korva-cli")"
needed=$(objdump -p "$tmp/moved/b/bin/korva-cli" | awk '$1 == "NEEDED" { print $2 }')
if grep -qE 'Qt|matio' <<<"$needed"; then fail "korva-cli itself loads Qt or matio: $needed"; fi
if [ -n "$(find "$tmp/moved/b" -name 'korva-cli-draw.so')" ]; then
  "$tmp/moved/b/bin/korva-cli" plot FRIED150.KRV -o picture.png >/dev/null ||
    fail "the moved tree's korva-cli does not draw"
  [ -s picture.png ] || fail "no picture drawn"
fi

# The build tree's binary uses the source tree's data.
out=$("$build/app/korva-cli" --version)
grep -qxF "data folder: $(realpath "$source/data")" <<<"$out" || fail "build tree: $out"
echo "installed tree: ok"
