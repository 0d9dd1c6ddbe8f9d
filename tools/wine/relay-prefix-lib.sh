# shellcheck shell=bash
# Shell functions for running the Windows build against the real Firebird server under
# Wine: a Wine prefix with the test-only fbclient.dll (tools/wine/fbclient/). Source it;
# used by scripts/test-wine-relay.sh and scripts/demo.sh --windows.

WINE_RELAY_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The Debian packages that building the DLL and running the Windows build need.
WINE_RELAY_PACKAGES=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine wine64-tools libwine-dev libfbclient2)

# Installs those of WINE_RELAY_PACKAGES (and of the extra names given) that are missing.
install_wine_relay_packages() {
  local missing=() package
  for package in "${WINE_RELAY_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  local sudo=
  [[ $(id -u) == 0 ]] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Builds the DLL into folder $1 (see tools/wine/fbclient/build.sh).
build_wine_fbclient() {
  bash "$WINE_RELAY_LIB_DIR/fbclient/build.sh" build "$1"
}

# Boots a new Wine prefix $1 whose programs load fbclient.dll from folder $2, and
# exports what Wine needs to find it: WINEPREFIX, WINEDLLPATH, WINEDLLOVERRIDES. The
# same values go into the prefix's system environment, from which services started by
# its service manager take theirs.
boot_wine_relay_prefix() {
  local prefix=$1 dlls=$2
  export WINEPREFIX=$prefix
  export WINEDLLPATH=$dlls
  # Mono and Gecko are never needed, and would ask to be downloaded.
  export WINEDLLOVERRIDES="mscoree=;mshtml=;fbclient=b"
  export WINEDEBUG=${WINEDEBUG:--all}
  wine wineboot -i >"$prefix.boot.log" 2>&1
  wineserver -w
  bash "$WINE_RELAY_LIB_DIR/fbclient/build.sh" install "$dlls" "$prefix"
  local environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
  wine reg add "$environment" /v WINEDLLPATH /t REG_SZ /d "$dlls" /f >/dev/null
  wine reg add "$environment" /v WINEDLLOVERRIDES /t REG_SZ /d "$WINEDLLOVERRIDES" /f >/dev/null
  wineserver -w
}
