#!/usr/bin/env bash
# Makes the Windows installers from the two MinGW-w64 build trees:
#   OUTDIR/korva-VERSION-setup.exe         the release, from the i686 tree
#   OUTDIR/korva-VERSION-x86_64-setup.exe  the same for 64-bit Windows, from the x86_64 tree
# VERSION is the CMake project version of the trees. Needs makensis (Debian's nsis).
#
#   packaging/windows/make_installers.sh BUILD_I686 BUILD_X86_64 OUTDIR
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 BUILD_I686 BUILD_X86_64 OUTDIR" >&2
  exit 1
fi
HERE=$(cd "$(dirname "$0")" && pwd)
SOURCE=$(cd "$HERE/../.." && pwd)
command -v makensis > /dev/null || { echo "error: makensis not found (Debian package nsis)" >&2; exit 1; }

tree_version() {  # build dir: the project version from its CMake cache
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt" 2> /dev/null
}

# The machine a Windows program is built for, from its PE header: 014c (x86) or 8664 (x86-64).
pe_machine() {
  local at
  at=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((at + 4)) -N2 "$1" | tr -d ' '
}

mkdir -p "$3"
OUT=$(cd "$3" && pwd)
STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
make_one() {  # build dir, arch, output file name after "korva-VERSION"
  local dir version strip f
  dir=$(cd "$1" && pwd) || exit 1
  version=$(tree_version "$dir")
  if [ -z "$version" ]; then
    echo "error: $1 is not a configured CMake build tree" >&2
    exit 1
  fi
  local want=014c
  [ "$2" = x64 ] && want=8664
  [ -f "$dir/korvaplay.exe" ] || { echo "error: $dir/korvaplay.exe is missing: build the tree first" >&2; exit 1; }
  if [ "$(pe_machine "$dir/korvaplay.exe")" != "$want" ]; then
    echo "error: $dir/korvaplay.exe is not an $2 program: give the i686 tree first, then the x86_64 one" >&2
    exit 1
  fi
  # The tools as installed: without the build's debugging information (the player is linked
  # stripped).
  strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$dir/CMakeCache.txt")
  mkdir -p "$STAGE/$2"
  for f in korvaplay.exe krvtool.exe krvenc.exe; do
    [ -f "$dir/$f" ] || { echo "error: $dir/$f is missing: build the tree first" >&2; exit 1; }
    if [ "$f" != korvaplay.exe ] && [ -n "$strip" ] && [ -x "$strip" ]; then
      "$strip" -o "$STAGE/$2/$f" "$dir/$f"
    else
      cp "$dir/$f" "$STAGE/$2/$f"
    fi
  done
  makensis -V2 -WX -NOCD -DVERSION="$version" -DARCH="$2" -DBUILD="$STAGE/$2" -DSOURCE="$SOURCE" \
    -DOUTFILE="$OUT/korva-$version$3" "$HERE/korva.nsi"
  echo "$OUT/korva-$version$3"
}
make_one "$1" x86 -setup.exe
make_one "$2" x64 -x86_64-setup.exe
