#!/usr/bin/env bash
# Installs every Debian package Quarnel needs to build, run and test.
# Quick when everything is present: apt is only asked when a package is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config ninja-build
    qt6-base-dev libcurl4-openssl-dev
    libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
    hamradio-files locales
    xvfb xauth xdotool socat
    fonts-liberation2 fonts-dejavu-core
    clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
# Through env, so that the variable reaches apt-get past sudo, which drops the caller's environment.
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
