# shellcheck shell=bash disable=SC2034 # exit_status is read by the scripts that source this
# Helpers for the scripts that start background processes (the demo, the desktop tests):
# every process is ended by its own id when the script ends, and every wait is bounded.
# Source this file; start a process with `cmd & track $!`, and call stop_jobs from the EXIT trap.

job_pids=()
exit_status=0 # of the last process wait_exit saw end

# track PID: PID is ended by stop_jobs.
track() {
    job_pids+=("$1")
}

# untrack PID: PID has been waited for; its id may be reused and must not be signalled any more.
untrack() {
    local keep=() pid
    for pid in "${job_pids[@]}"; do
        [ "$pid" = "$1" ] || keep+=("$pid")
    done
    job_pids=("${keep[@]}")
}

# stop_jobs: SIGTERM to every tracked process, SIGKILL to those still there 5 s later.
stop_jobs() {
    local pid tries
    for pid in "${job_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${job_pids[@]}"; do
        tries=50
        while kill -0 "$pid" 2>/dev/null && ((tries-- > 0)); do
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    job_pids=()
}

# running PID: the process has not ended yet.
running() {
    kill -0 "$1" 2>/dev/null
}

# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds (0) or time is up (1).
wait_for() {
    local tries=$(($1 * 10))
    shift
    while ((tries-- > 0)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# wait_exit SECONDS PID: waits for the tracked PID to end and sets exit_status; 1 if it did not.
wait_exit() {
    local tries=$(($1 * 10))
    while running "$2"; do
        ((tries-- > 0)) || return 1
        sleep 0.1
    done
    exit_status=0
    wait "$2" || exit_status=$?
    untrack "$2"
}

# server_port FILE: waits up to 10 s for spot_server's "port N" line in FILE and prints N.
server_port() {
    wait_for 10 grep -q '^port [0-9]' "$1" || return 1
    sed -n 's/^port \([0-9]*\)$/\1/p' "$1"
}
