#!/usr/bin/env bash
# Quarnel without a radio and without the internet: a made-up spot page on 127.0.0.1, a virtual
# serial cable, and this terminal showing what a logging program on the cable's other end gets.
# Your own settings are left alone: the demo keeps its settings in a temporary folder.
# shellcheck source-path=SCRIPTDIR
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display here; run it in a desktop session (or under xvfb-run)" >&2
    exit 1
fi

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target Quarnel spot_server

# binary NAME: the executable NAME in the default build.
binary() {
    find "$repo/build/default" -path "$repo/build/default/CMakeFiles" -prune -o \
        -type f -name "$1" -perm -u+x -print -quit
}
quarnel=$(binary Quarnel)
spot_server=$(binary spot_server)
if [ -z "$quarnel" ] || [ -z "$spot_server" ]; then
    echo "demo: Quarnel or spot_server was not found under build/default" >&2
    exit 1
fi

# shellcheck source=../tools/script_jobs.sh
. "$repo/tools/script_jobs.sh"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-demo-XXXXXX")
trap 'stop_jobs; rm -rf "$tmp"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$spot_server" --demo --port 0 >"$tmp/server.out" &
track $!
port=$(server_port "$tmp/server.out") || {
    echo "demo: the spot page server did not start" >&2
    exit 1
}

# The virtual cable: Quarnel writes to com1, this terminal reads the other end.
socat "pty,raw,echo=0,link=$tmp/com1" "pty,raw,echo=0,link=$tmp/cable" 2>"$tmp/socat.log" &
track $!
wait_for 5 test -e "$tmp/com1" -a -e "$tmp/cable" || {
    echo "demo: socat made no virtual serial cable:" >&2
    cat "$tmp/socat.log" >&2
    exit 1
}

config=$tmp/config
mkdir -p "$config/tolmar/Quarnel/ports" "$tmp/work"
ln -s "$tmp/com1" "$config/tolmar/Quarnel/ports/COM1"
cat >"$config/tolmar/Quarnel.conf" <<EOF
[Settings]
URL=http://127.0.0.1:$port/dxs/dx25.html?
Port=COM1
Speed=3
Bits=1
Parity=0
DxccFilter=0
EOF
ln -s /usr/share/hamradio-files/cty.dat "$tmp/work/cty.dat"

cat <<EOF
Quarnel demo
  Spot page : http://127.0.0.1:$port/dxs/dx25.html? (made-up spots, a new one every 3 s)
  Serial    : COM1, a virtual cable; its other end is shown below
Press Run in the Quarnel window. The spots appear in the window's log and, as DX-cluster
lines, here. Configure shows the settings; close the window (or press Ctrl-C) to end the demo.

EOF

while IFS= read -r line; do
    printf 'COM1> %s\n' "${line%$'\r'}"
done <"$tmp/cable" &
track $!

(cd "$tmp/work" && exec env XDG_CONFIG_HOME="$config" "$quarnel") >"$tmp/quarnel.log" 2>&1 &
quarnel_pid=$!
track "$quarnel_pid"
status=0
wait "$quarnel_pid" || status=$?
untrack "$quarnel_pid"
if ((status != 0)); then
    echo "demo: Quarnel ended with status $status:" >&2
    cat "$tmp/quarnel.log" >&2
    exit "$status"
fi
echo "Quarnel closed; demo over."
