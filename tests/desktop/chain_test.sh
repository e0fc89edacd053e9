#!/usr/bin/env bash
# Two real Quarnels in a chain, headless: the first takes its spots from spot_server's demo
# cluster node over telnet and serves them on its own node; the second logs in there over telnet
# and writes them to a socat cable linked as COM5. Every line on the cable is a spot the first one
# relayed, and the second one logged it; SIGTERM ends both with status 0.
#   chain_test.sh QUARNEL_BINARY SPOT_SERVER_BINARY
set -euo pipefail
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(dirname "$(realpath "$0")")/../lsan.supp}
quarnel=$(realpath "$1") spot_server=$(realpath "$2")
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$tmp"' EXIT
cd "$tmp"
mkdir -p first second/ports
cp /usr/share/hamradio-files/cty.dat first/
cp /usr/share/hamradio-files/cty.dat second/

coproc source { exec "$spot_server" --demo --format telnet --interval 1 --initial 2 --port 0 --lifetime 60; }
read -r -t 10 _ source_port <&"${source[0]}"
# A port free now for the first one's node (perl-base is on every Debian system).
node_port=$(perl -MIO::Socket::INET -e 'print IO::Socket::INET->new(Listen => 1, LocalAddr => "127.0.0.1:0")->sockport')
socat pty,raw,echo=0,link=dev pty,raw,echo=0,link=peer &
timeout 5 bash -c 'until [ -e dev ] && [ -e peer ]; do sleep 0.1; done'
mkdir -p config/tolmar/Quarnel/ports && ln -s "$tmp/dev" config/tolmar/Quarnel/ports/COM5
printf '[Settings]\nURL=telnet://127.0.0.1:%s\nCall=N0CALL\nPort=None\nClusterPort=%s\n' "$source_port" "$node_port" >first.conf
printf '[Settings]\nURL=telnet://127.0.0.1:%s\nCall=DL0XYZ\nPort=COM5\nParity=0\nClusterPort=0\n' "$node_port" >second.conf

export XDG_CONFIG_HOME=$tmp/config
(cd first && exec "$quarnel" --headless --config ../first.conf) >first.out 2>first.err & first=$!
timeout 10 bash -c 'until grep -q "serving on" first.err; do sleep 0.1; done'
(cd second && exec "$quarnel" --headless --config ../second.conf) >second.out 2>second.err & second=$!
timeout 10 head -c 231 <peer >received || true # three lines of 77 bytes
for app in "$second" "$first"; do
    kill -TERM "$app"
    wait "$app" || { echo "FAIL: ended with status $?: $(cat first.err second.err)"; exit 1; }
done
[ "$(wc -l <received)" -eq 3 ] || { echo "FAIL: the cable got $(od -c received | head -n 5)"; exit 1; }
tr -d '\r' <received | while IFS= read -r line; do
    grep -qxF "$line" first.out || { echo "FAIL: not relayed by the first: $line"; exit 1; }
    grep -qxF "$line" second.out || { echo "FAIL: not logged by the second: $line"; exit 1; }
done
