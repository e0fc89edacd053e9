#!/usr/bin/env bash
# The spot page server of the demo and the window test: its page is one Quarnel can cut, it
# serves files byte for byte, and it always ends.
#
#   spot_server_test.sh SPOT_SERVER_BINARY
# shellcheck source-path=SCRIPTDIR
set -euo pipefail

spot_server=$1
here=$(dirname "$(realpath "$0")")
# shellcheck source=../../tools/script_jobs.sh
. "$here/../../tools/script_jobs.sh"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-spot-server-XXXXXX")
trap 'stop_jobs; rm -rf "$tmp"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

failures=0
check() {
    local what=$1
    shift
    if ! "$@"; then
        echo "FAIL: $what" >&2
        failures=$((failures + 1))
    fi
}

# start NAME ARGS...: runs the server in the background; sets server_pid and port.
start() {
    local name=$1
    shift
    "$spot_server" "$@" >"$tmp/$name.out" 2>"$tmp/$name.err" &
    server_pid=$!
    track "$server_pid"
    port=$(server_port "$tmp/$name.out") || {
        echo "FAIL: $name reported no port" >&2
        exit 1
    }
}

# get PATH FILE: the body of an HTTP/1.0 GET, as Quarnel asks for it, written to FILE.
get() {
    local response=$tmp/response
    (
        exec 3<>"/dev/tcp/127.0.0.1/$port"
        printf 'GET %s HTTP/1.0\r\nAccept: test/*\r\nUser-Agent: Quarnel\r\n\r\n' "$1" >&3
        timeout 5 cat <&3
    ) >"$response"
    head -n1 "$response" | grep -q '^HTTP/1\.[01] 200 ' || return 1
    # The body starts after the first empty line of the header.
    sed '1,/^\r$/d' "$response" >"$2"
}

# ends_within SECONDS PID: the process ends by then, with status 0.
ends_within() { wait_exit "$1" "$2" && ((exit_status == 0)); }

# spot_lines FILE: the lines between the first "<PRE>" line and "</PRE>".
spot_lines() { sed -n '/^<PRE>$/,/^<\/PRE>/p' "$1" | sed '1d;$d'; }

# all_valid FILE: in every line the columns Quarnel cuts hold what a real spot page has there:
# calls, an HF frequency right-aligned in 8-17, a space at 18, a comment from 30, HHMM and "Z".
all_valid() {
    local l call='[0-9A-Z]{1,4}[0-9][A-Z]{1,3}'
    while IFS= read -r l; do
        if ! [[ ${#l} -eq 65 && ${l%% *} =~ ^$call$ && ${l:8:10} =~ ^\ *([0-9]+)\.[0-9]$ ]] ||
            ! ((BASH_REMATCH[1] >= 1810 && BASH_REMATCH[1] < 29700)) ||
            ! [[ ${l:18:12} =~ ^\ $call\ *$ && ${l:30:1} != " " && ${l:60:5} =~ ^([01][0-9]|2[0-3])[0-5][0-9]Z$ ]]; then
            echo "not a spot line: '$l'" >&2
            return 1
        fi
    done <"$1"
}

# Demo: five spots at once, then one a second, newest first, stamped with the time of now.
# How many came is checked against the time the test saw pass, so a slow machine does not fail.
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }
minute_before=$(date -u +%H%M)
t0=$(now_ms)
start demo --demo --interval 1 --lifetime 30
check "demo page is served" get '/dxs/dx25.html?' "$tmp/first.html"
t1=$(now_ms)
spot_lines "$tmp/first.html" >"$tmp/first"
n1=$(wc -l <"$tmp/first")
check "demo page starts with five spots, one more a second ($n1)" \
    test "$n1" -ge 5 -a "$n1" -le $((5 + (t1 - t0) / 1000))
check "demo spots are in the page's columns" all_valid "$tmp/first"
minute_after=$(date -u +%H%M)
stamp=$(head -n1 "$tmp/first" | cut -c61-64)
check "demo spots carry the UTC time of now" test "$stamp" = "$minute_before" -o "$stamp" = "$minute_after"
sleep 2.5
check "demo page is served again" get /other "$tmp/later.html"
t2=$(now_ms)
spot_lines "$tmp/later.html" >"$tmp/later"
n2=$(wc -l <"$tmp/later")
check "at least two spots came in 2.5 s, one a second ($n1, then $n2)" \
    test "$n2" -ge $((n1 + 2)) -a "$n2" -le $((5 + (t2 - t0) / 1000))
check "new spots are on top, the old ones below in order" \
    test "$(tail -n "$n1" "$tmp/later")" = "$(cat "$tmp/first")"
check "new demo spots are in the page's columns" all_valid "$tmp/later"
check "SIGTERM ends the server at once" kill -TERM "$server_pid"
check "the server ended with status 0" ends_within 2 "$server_pid"

start full --demo --initial 40 --lifetime 30
check "full demo page is served" get / "$tmp/full.html"
spot_lines "$tmp/full.html" >"$tmp/full"
check "the page holds 25 spots at most" test "$(wc -l <"$tmp/full")" -eq 25
check "the spots of a full page are all different" test "$(sort -u "$tmp/full" | wc -l)" -eq 25
kill -INT "$server_pid"
check "SIGINT ends the server at once" ends_within 2 "$server_pid"

# A page file goes out byte for byte on any path, CR and NUL bytes included.
printf '<PRE>\r\nN0CALL     14025.0 N1CALL     CQ\0UP 2\r\n</PRE>\n\xff' >"$tmp/page.html"
start page --page "$tmp/page.html" --lifetime 3
check "a file page is served" get '/dxs/dx25.html?x=1' "$tmp/served"
check "a file page is served byte for byte" cmp "$tmp/page.html" "$tmp/served"
printf 'changed' >"$tmp/page.html"
check "a changed file page is served" get / "$tmp/served"
check "the file is read again for every request" cmp "$tmp/page.html" "$tmp/served"
check "the server ends by itself after its lifetime" ends_within 5 "$server_pid"

# Refusals: bad options give the usage (2); a missing file or a port in use give 1.
start busy --demo --lifetime 30
status_of() {
    local status=0
    timeout 5 "$spot_server" "$@" >/dev/null 2>&1 || status=$?
    echo "$status"
}
check "a port in use is refused" test "$(status_of --demo --port "$port" --lifetime 1)" -eq 1
check "a missing page file is refused" test "$(status_of --page "$tmp/none.html")" -eq 1
check "a directory as page file is refused" test "$(status_of --page "$tmp")" -eq 1
check "a device as page file is refused" test "$(status_of --page /dev/zero)" -eq 1
for args in "" "--demo --page $tmp/page.html" "--demo --port 65536" "--demo --interval 0" \
    "--demo --lifetime" "--demo --lifetime 1x" "--demo --colour red"; do
    # shellcheck disable=SC2086 # the options are split on purpose
    check "'$args' is refused with the usage" test "$(status_of $args)" -eq 2
done

((failures == 0)) || exit 1
echo "PASS: spot_server"
