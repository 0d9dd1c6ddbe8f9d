#!/usr/bin/env bash
# Installs, with apt-get, everything the build, the tests and the demo need on a
# Debian 12 machine. Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  rapidjson-dev libfmt-dev libasio-dev libcurl4-openssl-dev libssl-dev
  firebird3.0-server firebird3.0-utils firebird-dev
  python3 openssl procps iproute2 clang clang-tidy clang-format libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# The Firebird server package asks for the SYSDBA password while installing.
echo "firebird3.0-server shared/firebird/sysdba_password/first_install password gravulent" | debconf-set-selections
echo "firebird3.0-server shared/firebird/enabled boolean false" | debconf-set-selections || true
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
