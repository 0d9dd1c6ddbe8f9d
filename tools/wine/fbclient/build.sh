#!/usr/bin/env bash
# Builds the test-only fbclient.dll for Wine (a winelib DLL that passes every call on
# to the host's libfbclient.so.2) and installs it into a Wine prefix:
#
#   build.sh build   OUT             fbclient.dll.so in OUT/x86_64-windows and
#                                    OUT/x86_64-unix, the fake PE OUT/fbclient.dll
#   build.sh install OUT WINEPREFIX  the fake PE into the prefix's system32
#
# Then run Wine with WINEDLLPATH=OUT and "fbclient=b" in WINEDLLOVERRIDES. Needs
# wine64-tools, libwine-dev and libfbclient2. Never part of a shipped build.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The DLL's export table (the client functions, each stdcall), in the format of Wine's
# own export files. winegcc and winebuild tell such a file from other inputs only by
# the ending Wine gives them, so the build copies it to that name first.
EXPORTS="$HERE/fbclient_exports.txt"

build() {
  local out=$1
  mkdir -p "$out/x86_64-windows" "$out/x86_64-unix"
  local work
  work=$(mktemp -d)
  local exports="$work/fbclient.spec"
  cp "$EXPORTS" "$exports"
  winegcc -m64 -shared -O2 -Wall -Wextra -o "$work/fbclient.dll" "$exports" "$HERE/fbclient_relay.c" \
          -l:libfbclient.so.2
  cp "$work/fbclient.dll.so" "$out/x86_64-windows/fbclient.dll.so"
  cp "$work/fbclient.dll.so" "$out/x86_64-unix/fbclient.dll.so"
  winebuild -m64 --dll --fake-module -E "$exports" -F fbclient.dll -o "$out/fbclient.dll"
  rm -rf "$work"
}

install_into_prefix() {
  local out=$1 prefix=$2
  [[ -f $out/fbclient.dll ]] || { echo "no fbclient.dll in $out: run build first" >&2; exit 1; }
  [[ -d $prefix/drive_c/windows/system32 ]] || { echo "$prefix is not a booted Wine prefix" >&2; exit 1; }
  cp "$out/fbclient.dll" "$prefix/drive_c/windows/system32/fbclient.dll"
}

case ${1:-} in
  build) build "${2:?output folder}" ;;
  install) install_into_prefix "${2:?output folder}" "${3:?Wine prefix}" ;;
  *) echo "usage: $0 build OUT | install OUT WINEPREFIX" >&2; exit 2 ;;
esac
