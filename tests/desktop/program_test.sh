#!/usr/bin/env bash
# The real program, its page from spot_server on 127.0.0.1, its serial line a socat cable linked
# as COM5, in two runs:
#  relay: the three spots of the page reach the cable once. As a window under Xvfb, Alt+R starts
#         it and Escape ends it with status 0 and its settings saved; headless, without a display,
#         it starts at once, prints the same lines, and SIGTERM ends it with status 0 within a
#         second, the settings file untouched.
#  stall: the device reads nothing (the cable was full before the start): SIGTERM ends it with
#         status 0 within a second all the same (a window saves its settings on the way out).
# Both leave the cable's termios as they found them.
#   program_test.sh window|headless QUARNEL_BINARY SPOT_SERVER_BINARY
set -euo pipefail
# A sanitizer build must know the third-party leaks.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(dirname "$(realpath "$0")")/../lsan.supp}

# Sends SIGTERM to $1 and waits for it: status 0 within a second, or the test fails.
term_within_a_second() {
    kill -TERM "$1"
    for _ in $(seq 20); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.05
    done
    kill -0 "$1" 2>/dev/null && { echo "FAIL: still running a second after SIGTERM"; exit 1; }
    wait "$1" || { echo "FAIL: ended with status $? after SIGTERM: $(cat stderr 2>/dev/null)"; exit 1; }
}

if [ "$1" = --in-x ]; then # under xvfb-run, in the test's folder: the program, the keys, the reader
    (cd work && QT_QPA_PLATFORM=xcb exec "$3") 2>stderr & app=$!
    wid=$(xdotool search --sync --limit 1 --onlyvisible --name '^Quarnel$')
    if [ "$2" = relay ]; then
        # The reader takes the three lines, then listens through a few more ticks of the same page.
        { timeout 10 head -c "$(wc -c <expected)" >received && timeout 3 cat >again; } <peer & reader=$!
        xdotool windowfocus --sync "$wid" key alt+r
        wait "$reader" || true
        xdotool windowfocus --sync "$wid" key Escape
        wait "$app" && exit 0
        echo "FAIL: Quarnel ended with status $?" && exit 1
    fi
    xdotool windowfocus --sync "$wid" key alt+r
    sleep 1.5 # the page has come and its lines wait for the device
    term_within_a_second "$app"
    exit 0
fi

mode=$1 script=$(realpath "$0") quarnel=$(realpath "$2") spot_server=$(realpath "$3")
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$tmp"' EXIT
cd "$tmp"
cp /usr/share/hamradio-files/cty.dat .
printf '%s\n' '<HTML><BODY><PRE>' \
    'N0CALL     14025.0 N1CALL     CQ UP 2                       1234Z' \
    'DL1ABC      7012.5 JA1XYZ     599 TNX                       0815Z' \
    'VK2ABC/P   21074.0 ZS6XYZ     FT8 -12dB                     2359Z' '</PRE></BODY></HTML>' >page.html
printf '%s\r\n' 'DX de N0CALL:     14025.0  N1CALL      CQ UP 2                        1234Z' \
    'DX de DL1ABC:      7012.5  JA1XYZ      599 TNX                        0815Z' \
    'DX de VK2ABC/P:   21074.0  ZS6XYZ      FT8 -12dB                      2359Z' >expected
coproc server { exec "$spot_server" --page page.html --port 0 --lifetime 60; }
read -r -t 10 _ http_port <&"${server[0]}"

for run in relay stall; do
    mkdir -p "$run" && cd "$run"
    mkdir -p work config/tolmar/Quarnel/ports
    ln -s ../../cty.dat work/cty.dat
    ln -s ../expected expected
    socat pty,raw,echo=0,link=dev pty,raw,echo=0,link=peer & cable=$!
    timeout 5 bash -c 'until [ -e dev ] && [ -e peer ]; do sleep 0.1; done'
    ln -s "$PWD/dev" config/tolmar/Quarnel/ports/COM5
    stty -g -F dev >termios
    # Nobody reads the other end: the cable fills up to the device side.
    [ "$run" = stall ] && { timeout 2 cat /dev/zero >dev || true; }
    # DxccFilter is left out: only the save on the way out writes it.
    # No cluster node: the tests run side by side.
    printf '[Settings]\nURL=http://127.0.0.1:%s/dx25.html?\nPort=COM5\nParity=0\nClusterPort=0\n' "$http_port" \
        >config/tolmar/Quarnel.conf
    export XDG_CONFIG_HOME=$PWD/config
    if [ "$mode" = window ]; then
        xvfb-run -a bash "$script" --in-x "$run" "$quarnel"
        grep -qx DxccFilter=0 config/tolmar/Quarnel.conf || { echo "FAIL: $run: settings not saved"; exit 1; }
    else
        cp config/tolmar/Quarnel.conf settings
        (cd work && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$quarnel" --headless \
            --config "$PWD/../settings") >stdout 2>stderr & app=$!
        if [ "$run" = relay ]; then
            { timeout 10 head -c "$(wc -c <expected)" >received && timeout 3 cat >again; } <peer || true
        else
            sleep 1.5
        fi
        term_within_a_second "$app"
        cmp settings config/tolmar/Quarnel.conf || { echo "FAIL: the settings file was written"; exit 1; }
        [ "$run" = stall ] || tr -d '\r' <expected | cmp - stdout \
            || { echo "FAIL: standard output: $(cat stdout stderr)"; exit 1; }
    fi
    [ "$(stty -g -F dev)" = "$(cat termios)" ] || { echo "FAIL: $run: termios not restored"; exit 1; }
    if [ "$run" = relay ]; then
        cmp expected received || { echo "FAIL: not the three cluster lines"; exit 1; }
        [ ! -s again ] || { echo "FAIL: spots sent again: $(od -c again | head -n 3)"; exit 1; }
    fi
    kill "$cable" 2>/dev/null || true
    cd "$tmp"
done
