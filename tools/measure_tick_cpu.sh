#!/usr/bin/env bash
# CPU time of one steady poll tick, and the memory, of the real program: Quarnel (default preset)
# fetches a page of 25 spot lines from spot_server on 127.0.0.1 every second; after the first tick
# every line is a duplicate. The program runs with its own settings and working directory, as a
# window under Xvfb or headless; the script takes utime+stime from /proc/PID/stat 5 s after the
# start and again SECONDS later, counts the requests that went through a counting relay (socat)
# in between, and prints the CPU per tick and the resident memory (now and at its peak).
#   tools/measure_tick_cpu.sh [--headless] [SECONDS]     (default 60)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
mode=window
if [[ ${1:-} == --headless ]]; then
    mode=headless
    shift
fi
seconds=${1:-60}

if [[ $mode == window && ${MEASURE_INSIDE_XVFB:-} != 1 ]]; then
    cd "$repo"
    cmake --preset default >/dev/null
    cmake --build --preset default --target Quarnel spot_server -j 2 >/dev/null
    exec env MEASURE_INSIDE_XVFB=1 xvfb-run -a bash "$0" "$seconds"
elif [[ $mode == headless ]]; then
    (cd "$repo" && cmake --preset default >/dev/null && cmake --build --preset default --target Quarnel spot_server -j 2 >/dev/null)
fi
quarnel=$repo/build/default/bin/Quarnel
server=$repo/build/default/bin/spot_server

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

# 25 spot lines in the page's fixed columns.
{
    echo '<HTML><BODY><H1>Recent DX spots</H1>'
    echo '<PRE>'
    for i in $(seq 0 24); do
        printf '%-8s%10s %-11s%-30s%04dZ\n' "DL$((i + 1))ABC" "$((14000 + i * 3)).0" "JA$((i % 9 + 1))XY$i" \
            "CQ UP $((i % 5)) 599 TNX" "$((1200 + i))"
    done
    echo '</PRE>'
    echo '</BODY></HTML>'
} >"$work/dx25.html"

coproc server { exec "$server" --port 0 --page "$work/dx25.html" --lifetime $((seconds + 120)); }
read -r -t 10 _ server_port <&"${server[0]}"

# Every fetch is a connection of its own: socat logs each one it accepts.
relay_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
socat -d -d "TCP4-LISTEN:$relay_port,bind=127.0.0.1,reuseaddr,fork" "TCP4:127.0.0.1:$server_port" \
    2>"$work/relay.log" &
sleep 0.5

mkdir -p "$work/config/tolmar" "$work/run"
printf '[Settings]\nURL=http://127.0.0.1:%s/dxs/dx25.html?\nPort=None\nClusterPort=0\n' "$relay_port" \
    >"$work/config/tolmar/Quarnel.conf"
ln -s /usr/share/hamradio-files/cty.dat "$work/run/cty.dat"

if [[ $mode == headless ]]; then
    (cd "$work/run" && exec env -u DISPLAY XDG_CONFIG_HOME="$work/config" "$quarnel" --headless) >/dev/null 2>&1 &
    quarnel_pid=$!
else
    (cd "$work/run" && exec env XDG_CONFIG_HOME="$work/config" "$quarnel") &
    quarnel_pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Quarnel$' | head -n 1)
    xdotool windowfocus --sync "$window" key alt+r
fi

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$quarnel_pid/stat"; }
accepted() { grep -c 'accepting connection' "$work/relay.log" || true; }

sleep 5
cpu0=$(cpu_ticks)
requests0=$(accepted)
sleep "$seconds"
cpu1=$(cpu_ticks)
requests1=$(accepted)
rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$quarnel_pid/status")
peak=$(awk '/^VmHWM/ { print $2 }' "/proc/$quarnel_pid/status")

hz=$(getconf CLK_TCK)
ticks=$((requests1 - requests0))
((ticks > 0)) || { echo "measure: no request reached the server in ${seconds} s" >&2; exit 1; }
awk -v c=$((cpu1 - cpu0)) -v hz="$hz" -v n="$ticks" -v s="$seconds" -v rss="$rss" -v peak="$peak" -v mode="$mode" 'BEGIN {
    ms = c * 1000 / hz
    printf "%s: ticks: %d in %d s\nCPU: %.0f ms in all (utime+stime, %d Hz clock)\nCPU per tick: %.2f ms\n", mode, n, s, ms, hz, ms / n
    printf "resident memory: %.1f MB now, %.1f MB at the peak\n", rss / 1024, peak / 1024
}'
