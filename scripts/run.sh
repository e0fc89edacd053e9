#!/usr/bin/env bash
# Installs what Quarnel needs, builds it and starts it. Quarnel reads the country file "cty.dat"
# from its working directory, so it runs in a folder of its own where Debian's copy is linked.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target Quarnel

workdir=${XDG_DATA_HOME:-$HOME/.local/share}/quarnel
mkdir -p "$workdir"
# A cty.dat of the user's own (a newer one, say) stays; a dangling link is renewed.
if [ -L "$workdir/cty.dat" ] && [ ! -e "$workdir/cty.dat" ]; then
    rm -f "$workdir/cty.dat"
fi
if [ ! -e "$workdir/cty.dat" ]; then
    ln -s /usr/share/hamradio-files/cty.dat "$workdir/cty.dat"
fi

cd "$workdir"
exec "$repo/build/default/bin/Quarnel" "$@"
