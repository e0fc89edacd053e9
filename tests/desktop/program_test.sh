#!/usr/bin/env bash
# The real program relays the three spots of a page served on 127.0.0.1 to a pty linked as COM5,
# once. As a window under Xvfb: Alt+R starts it, Escape ends it with status 0 and its settings
# saved. Headless, without a display: it starts at once, prints the same lines, and SIGTERM ends
# it with status 0 within a second, the pty's termios as they were, the settings file untouched.
#   program_test.sh window|headless QUARNEL_BINARY SPOT_SERVER_BINARY
set -euo pipefail
# A sanitizer build must know the third-party leaks.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(dirname "$(realpath "$0")")/../lsan.supp}

if [ "$1" = --in-x ]; then # under xvfb-run, in the test's folder: the program, the keys, the reader
    (cd work && QT_QPA_PLATFORM=xcb exec "$2") & app=$!
    wid=$(xdotool search --sync --limit 1 --onlyvisible --name '^Quarnel$')
    # The reader takes the three lines, then listens through a few more ticks of the same page.
    { timeout 10 head -c "$(wc -c <expected)" >received && timeout 3 cat >again; } <peer & reader=$!
    xdotool windowfocus --sync "$wid" key alt+r
    wait "$reader" || true
    xdotool windowfocus --sync "$wid" key Escape
    wait "$app" && exit 0
    echo "FAIL: Quarnel ended with status $?" && exit 1
fi

mode=$1 script=$(realpath "$0") quarnel=$(realpath "$2") spot_server=$(realpath "$3")
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$tmp"' EXIT
cd "$tmp"
mkdir -p work config/tolmar/Quarnel/ports
cp /usr/share/hamradio-files/cty.dat work/
printf '%s\n' '<HTML><BODY><PRE>' \
    'N0CALL     14025.0 N1CALL     CQ UP 2                       1234Z' \
    'DL1ABC      7012.5 JA1XYZ     599 TNX                       0815Z' \
    'VK2ABC/P   21074.0 ZS6XYZ     FT8 -12dB                     2359Z' '</PRE></BODY></HTML>' >page.html
printf '%s\r\n' 'DX de N0CALL:     14025.0  N1CALL      CQ UP 2                        1234Z' \
    'DX de DL1ABC:      7012.5  JA1XYZ      599 TNX                        0815Z' \
    'DX de VK2ABC/P:   21074.0  ZS6XYZ      FT8 -12dB                      2359Z' >expected

coproc server { exec "$spot_server" --page page.html --port 0 --lifetime 60; }
read -r -t 10 _ http_port <&"${server[0]}"
socat pty,raw,echo=0,link=dev pty,raw,echo=0,link=peer &
timeout 5 bash -c 'until [ -e dev ] && [ -e peer ]; do sleep 0.1; done'
ln -s "$tmp/dev" config/tolmar/Quarnel/ports/COM5
# DxccFilter is left out: only the save on the way out writes it.
# No cluster node: the tests run side by side.
printf '[Settings]\nURL=http://127.0.0.1:%s/dx25.html?\nPort=COM5\nParity=0\nClusterPort=0\n' "$http_port" >config/tolmar/Quarnel.conf

export XDG_CONFIG_HOME=$tmp/config
if [ "$mode" = window ]; then
    xvfb-run -a bash "$script" --in-x "$quarnel"
    grep -qx DxccFilter=0 config/tolmar/Quarnel.conf || { echo "FAIL: settings not saved"; exit 1; }
else
    cp config/tolmar/Quarnel.conf settings && stty -g -F dev >termios
    (cd work && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$quarnel" --headless \
        --config "$tmp/settings") >stdout 2>stderr & app=$!
    { timeout 10 head -c "$(wc -c <expected)" >received && timeout 3 cat >again; } <peer || true
    kill -TERM "$app" && sleep 1
    kill -0 "$app" 2>/dev/null && { echo "FAIL: still running a second after SIGTERM"; exit 1; }
    wait "$app" || { echo "FAIL: ended with status $?: $(cat stderr)"; exit 1; }
    tr -d '\r' <expected | cmp - stdout || { echo "FAIL: standard output: $(cat stdout stderr)"; exit 1; }
    [ "$(stty -g -F dev)" = "$(cat termios)" ] || { echo "FAIL: termios not restored"; exit 1; }
    cmp settings config/tolmar/Quarnel.conf || { echo "FAIL: the settings file was written"; exit 1; }
fi
cmp expected received || { echo "FAIL: not the three cluster lines"; exit 1; }
[ ! -s again ] || { echo "FAIL: spots sent again: $(od -c again | head -n 3)"; exit 1; }
