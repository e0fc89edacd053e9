#!/usr/bin/env bash
# Quarnel without a radio and without the internet: a made-up spot page on 127.0.0.1, a virtual
# serial cable, and this terminal showing what a logging program on the cable's other end gets.
# Your own settings are left alone: the demo keeps its settings in a temporary folder.
#   scripts/demo.sh [--format pre|json|csv|telnet]
# The spots come as a "<PRE>" page (pre, the default), as JSON in the shape of DX Summit's spot
# API (json) or as caret-separated lines in the shape of HamQTH's (csv), at a path like theirs, or
# live from a made-up DX-cluster node over telnet (telnet).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

usage() {
    echo "usage: $0 [--format pre|json|csv|telnet]" >&2
    exit 2
}
format=pre
while (($#)); do
    case $1 in
    --format)
        (($# >= 2)) || usage
        format=$2
        shift 2
        ;;
    *) usage ;;
    esac
done
case $format in
pre) path='/dxs/dx25.html?' shape='a <PRE> spot page' ;;
json) path='/api/v1/spots?limit=25' shape="JSON in DX Summit's shape" ;;
csv) path='/dxc_csv.php?limit=25' shape="caret-separated lines in HamQTH's shape" ;;
telnet) path='' shape='a DX-cluster node that sends each spot as it comes' ;;
*) usage ;;
esac

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display here; run it in a desktop session (or under xvfb-run)" >&2
    exit 1
fi

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target Quarnel spot_server
bin=$repo/build/default/bin

tmp=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-demo-XXXXXX")
# Whatever the demo started ends with it.
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$tmp"' EXIT

coproc server { exec "$bin/spot_server" --demo --format "$format" --port 0; }
read -r _ port <&"${server[0]}" || { echo "demo: the spot page server did not start" >&2; exit 1; }

# The virtual cable: Quarnel writes to com1, this terminal reads the other end.
socat "pty,raw,echo=0,link=$tmp/com1" "pty,raw,echo=0,link=$tmp/cable" 2>"$tmp/socat.log" &
timeout 5 bash -c "until [ -e '$tmp/com1' ] && [ -e '$tmp/cable' ]; do sleep 0.1; done" || {
    echo "demo: socat made no virtual serial cable:" >&2
    cat "$tmp/socat.log" >&2
    exit 1
}

config=$tmp/config
mkdir -p "$config/tolmar/Quarnel/ports" "$tmp/work"
ln -s "$tmp/com1" "$config/tolmar/Quarnel/ports/COM1"
url=http://127.0.0.1:$port$path
[ "$format" = telnet ] && url=telnet://127.0.0.1:$port
cat >"$config/tolmar/Quarnel.conf" <<CONF
[Settings]
URL=$url
Call=N0CALL
Port=COM1
Speed=3
Bits=1
Parity=0
DxccFilter=0
CONF
ln -s /usr/share/hamradio-files/cty.dat "$tmp/work/cty.dat"

cat <<TEXT
Quarnel demo
  Spot source: $url
               ($shape; made-up spots, a new one every 3 s)
  Serial     : COM1, a virtual cable; its other end is shown below
Press Run in the Quarnel window. The spots appear in the window's log and, as DX-cluster
lines, here. Configure shows the settings; close the window (or press Ctrl-C) to end the demo.

TEXT

while IFS= read -r line; do
    printf 'COM1> %s\n' "${line%$'\r'}"
done <"$tmp/cable" &

status=0
(cd "$tmp/work" && XDG_CONFIG_HOME="$config" "$bin/Quarnel") >"$tmp/quarnel.log" 2>&1 || status=$?
if ((status != 0)); then
    echo "demo: Quarnel ended with status $status:" >&2
    cat "$tmp/quarnel.log" >&2
    exit "$status"
fi
echo "Quarnel closed; demo over."
