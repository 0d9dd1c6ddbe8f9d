#!/usr/bin/env bash
# Builds the test-only Firebird clients for Wine (a winelib DLL that passes every call
# on to the host's libfbclient.so.2) and installs them into a Wine prefix:
#
#   build.sh build   OUT             fbclient.dll.so in OUT/x86_64-windows and
#                                    OUT/x86_64-unix, the fake PE OUT/fbclient.dll;
#                                    the same DLL as fbshim, in OUT/shim/ the same way,
#                                    and native fbclient.dll files that forward to it:
#                                    OUT/native/ (complete), OUT/native-incomplete/
#                                    (without isc_dsql_fetch), OUT/native32/ (a 32-bit DLL)
#   build.sh install OUT WINEPREFIX  the fake PE fbclient.dll into the prefix's system32
#   build.sh install-shim OUT WINEPREFIX  the fake PE fbshim.dll into system32
#
# Then run Wine with WINEDLLPATH=OUT and "fbclient=b" in WINEDLLOVERRIDES, where the
# client is found on the search path; or with WINEDLLPATH=OUT/shim, "fbshim=b" and one
# of the native
# fbclient.dll files placed where the program is to find it by its path alone (Wine
# loads a file named fbclient.dll only as what it is, never as a builtin). Needs
# wine64-tools, libwine-dev, libfbclient2 and the MinGW-w64 compilers (x86-64, i686).
# Never part of a shipped build.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The DLL's export table (the client functions, each stdcall), in the format of Wine's
# own export files. It goes to winebuild directly (-E), with the DLL's name given too
# (-F): winegcc would take the module's name from the table's file name.
EXPORTS="$HERE/fbclient_exports.txt"

# The winelib DLL named $2 (fbclient, fbshim) into folder $1.
build_winelib() {
  local out=$1 name=$2 work
  work=$(mktemp -d)
  winegcc -m64 -shared -O2 -Wall -Wextra -o "$work/$name.dll" -Wb,-E,"$EXPORTS" -Wb,-F,"$name.dll" \
          "$HERE/fbclient_relay.c" -l:libfbclient.so.2
  cp "$work/$name.dll.so" "$out/x86_64-windows/$name.dll.so"
  cp "$work/$name.dll.so" "$out/x86_64-unix/$name.dll.so"
  winebuild -m64 --dll --fake-module -E "$EXPORTS" -F "$name.dll" -o "$out/$name.dll"
  rm -rf "$work"
}

# A native fbclient.dll in folder $1, built by compiler $2, whose exports forward to
# fbshim.dll; the functions named after $3... are left out.
build_forwarder() {
  local folder=$1 compiler=$2
  shift 2
  mkdir -p "$folder"
  local work
  work=$(mktemp -d)
  {
    echo "LIBRARY fbclient.dll"
    echo "EXPORTS"
    sed -n 's/^@ stdcall \([a-z_]*\)(.*/\1/p' "$EXPORTS" | while read -r function; do
      local skip=no left_out
      for left_out in "$@"; do [[ $function == "$left_out" ]] && skip=yes; done
      [[ $skip == yes ]] || echo "  $function = fbshim.$function"
    done
  } >"$work/fbclient.def"
  cat >"$work/dllmain.c" <<'C'
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
C
  "$compiler" -shared -O2 -o "$folder/fbclient.dll" "$work/dllmain.c" "$work/fbclient.def"
  rm -rf "$work"
}

build() {
  local out=$1
  mkdir -p "$out/x86_64-windows" "$out/x86_64-unix"
  build_winelib "$out" fbclient
  mkdir -p "$out/shim/x86_64-windows" "$out/shim/x86_64-unix"
  build_winelib "$out/shim" fbshim
  build_forwarder "$out/native" x86_64-w64-mingw32-gcc
  build_forwarder "$out/native-incomplete" x86_64-w64-mingw32-gcc isc_dsql_fetch
  build_forwarder "$out/native32" i686-w64-mingw32-gcc
}

install_into_prefix() {
  local out=$1 prefix=$2 name=$3
  [[ -f $out/$name.dll ]] || { echo "no $name.dll in $out: run build first" >&2; exit 1; }
  [[ -d $prefix/drive_c/windows/system32 ]] || { echo "$prefix is not a booted Wine prefix" >&2; exit 1; }
  cp "$out/$name.dll" "$prefix/drive_c/windows/system32/$name.dll"
}

case ${1:-} in
  build) build "${2:?output folder}" ;;
  install) install_into_prefix "${2:?output folder}" "${3:?Wine prefix}" fbclient ;;
  install-shim) install_into_prefix "${2:?output folder}/shim" "${3:?Wine prefix}" fbshim ;;
  *) echo "usage: $0 build OUT | install OUT WINEPREFIX | install-shim OUT WINEPREFIX" >&2; exit 2 ;;
esac
