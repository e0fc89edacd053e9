#!/usr/bin/env bash
# The real program as a real window under Xvfb: Run relays three spots from a page on 127.0.0.1
# to a pty as cluster lines, Escape ends the program, and the settings are saved on the way out.
#
#   xvfb_test.sh QUARNEL_BINARY SPOT_SERVER_BINARY
# shellcheck source-path=SCRIPTDIR
set -euo pipefail

quarnel=$(realpath "$1")
spot_server=$(realpath "$2")
cty=/usr/share/hamradio-files/cty.dat

here=$(dirname "$(realpath "$0")")
# shellcheck source=../../tools/script_jobs.sh
. "$here/../../tools/script_jobs.sh"
# Outside the test preset too, a sanitizer build must know the third-party leaks.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/../lsan.supp}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-xvfb-XXXXXX")
trap 'stop_jobs; rm -rf "$tmp"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

fail() {
    local log
    echo "FAIL: $*" >&2
    for log in "$tmp"/*.log; do
        if [ -s "$log" ]; then
            echo "--- $(basename "$log")" >&2
            cat "$log" >&2
        fi
    done
    exit 1
}

# The page: markup around the block, three spot lines in the page's fixed columns.
cat >"$tmp/page.html" <<'EOF'
<HTML><HEAD><TITLE>DX spots</TITLE></HEAD><BODY>
<PRE>
N0CALL     14025.0 N1CALL     CQ UP 2                       1234Z
DL1ABC      7012.5 JA1XYZ     599 TNX                       0815Z
VK2ABC/P   21074.0 ZS6XYZ     FT8 -12dB                     2359Z
</PRE>
</BODY></HTML>
EOF
printf '%s\r\n' \
    'DX de N0CALL:     14025.0  N1CALL      CQ UP 2                        1234Z' \
    'DX de DL1ABC:      7012.5  JA1XYZ      599 TNX                        0815Z' \
    'DX de VK2ABC/P:   21074.0  ZS6XYZ      FT8 -12dB                      2359Z' \
    >"$tmp/expected"

"$spot_server" --page "$tmp/page.html" --port 0 --lifetime 60 >"$tmp/server.out" 2>"$tmp/server.log" &
track $!
port=$(server_port "$tmp/server.out") || fail "spot_server did not report its port"

# The serial cable: Quarnel writes to dev, the test reads from peer.
socat -d -d "pty,raw,echo=0,link=$tmp/dev" "pty,raw,echo=0,link=$tmp/peer" 2>"$tmp/socat.log" &
track $!
wait_for 5 test -e "$tmp/dev" -a -e "$tmp/peer" || fail "socat made no pty pair"

config=$tmp/config
mkdir -p "$config/tolmar/Quarnel/ports" "$tmp/work" "$tmp/runtime"
chmod 700 "$tmp/runtime"
ln -s "$tmp/dev" "$config/tolmar/Quarnel/ports/COM5"
# DxccFilter is left out on purpose: saving on exit must add it.
cat >"$config/tolmar/Quarnel.conf" <<EOF
[Settings]
URL=http://127.0.0.1:$port/dxs/dx25.html?
Port=COM5
Speed=3
Bits=1
Parity=0
EOF
cp "$cty" "$tmp/work/cty.dat"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
track $!
wait_for 5 grep -q '^[0-9]' "$tmp/display" || fail "Xvfb did not start"
DISPLAY=:$(head -n1 "$tmp/display")
export DISPLAY
# The number is written once the server listens; still, let a client in before Quarnel tries.
display_answers() { xdotool getdisplaygeometry >/dev/null 2>>"$tmp/xvfb.log"; }
wait_for 5 display_answers || fail "Xvfb on $DISPLAY accepts no connection"

(
    cd "$tmp/work"
    exec env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$config" \
        XDG_CACHE_HOME="$tmp/cache" XDG_RUNTIME_DIR="$tmp/runtime" "$quarnel"
) >"$tmp/quarnel.log" 2>&1 &
quarnel_pid=$!
track "$quarnel_pid"

window_shown() {
    running "$quarnel_pid" || fail "Quarnel ended before its window was shown"
    wid=$(xdotool search --onlyvisible --name '^Quarnel$' 2>/dev/null | head -n1)
    [ -n "$wid" ]
}
wait_for 15 window_shown || fail "no visible window named Quarnel"

# The reader holds the peer open from before Run: it takes the three lines, then listens on for
# a few more ticks, in which the same page must bring nothing new.
(
    exec <"$tmp/peer"
    timeout 15 head -c "$(stat -c %s "$tmp/expected")" >"$tmp/received" || true
    timeout 3 cat >"$tmp/more" || true
) &
reader=$!
track "$reader"

timeout 10 xdotool windowfocus --sync "$wid" || fail "cannot focus the window"
timeout 10 xdotool key alt+r || fail "cannot press alt+r"
wait_exit 20 "$reader" || fail "the serial reader did not end"

cmp "$tmp/expected" "$tmp/received" || {
    od -c "$tmp/received" | head -n 20 >&2
    fail "the serial line did not carry the three cluster lines"
}
[ ! -s "$tmp/more" ] || fail "spots were sent again: $(od -c "$tmp/more" | head -n 5)"

timeout 10 xdotool windowfocus --sync "$wid" || fail "cannot focus the window again"
timeout 10 xdotool key Escape || fail "cannot press Escape"
wait_exit 10 "$quarnel_pid" || fail "Quarnel did not end after Escape"
((exit_status == 0)) || fail "Quarnel ended with status $exit_status"

conf=$config/tolmar/Quarnel.conf
grep -qx 'DxccFilter=0' "$conf" || fail "the settings were not saved: $(cat "$conf")"
grep -qx "URL=\"\\?http://127.0.0.1:$port/dxs/dx25.html?\"\\?" "$conf" ||
    fail "the URL did not survive the save: $(cat "$conf")"
grep -qx 'Port=COM5' "$conf" || fail "the port did not survive the save: $(cat "$conf")"
echo "PASS: three cluster lines on the serial line, settings saved on exit"
