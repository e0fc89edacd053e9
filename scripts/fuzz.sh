#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, the fuzz preset: clang 14) into build/fuzz and runs them.
#   scripts/fuzz.sh --smoke [TARGET...]         a fixed number of runs per target over the seed corpus
#                                               and the regression inputs (what CI runs)
#   scripts/fuzz.sh --long SECONDS [TARGET...]  fuzz each target for SECONDS, growing a working corpus
#                                               in build/fuzz/work/<target>; logs in build/fuzz/logs
# Crashes land in build/fuzz/artifacts/<target>/; a real one is copied to fuzz/regressions/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/fuzz

all_targets=(fuzz_country fuzz_spot_page fuzz_fetch_body fuzz_dx_line)
# Enough runs to go past the seeds and mutate a while; about two minutes in all on two cores.
declare -A smoke_runs=([fuzz_country]=200000 [fuzz_spot_page]=3000 [fuzz_fetch_body]=5000 [fuzz_dx_line]=100000)

usage() {
    echo "usage: $0 --smoke [TARGET...] | --long SECONDS [TARGET...]" >&2
    exit 2
}

mode=${1:-}
seconds=0
case $mode in
--smoke) shift ;;
--long)
    [[ ${2:-} =~ ^[0-9]+$ ]] || usage
    seconds=$2
    shift 2
    ;;
*) usage ;;
esac
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")

if ! command -v clang++-14 >/dev/null; then
    echo "fuzz: clang++-14 is missing; scripts/setup.sh installs it" >&2
    exit 1
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2 --target "${targets[@]}"

# The targets change into a private directory (the country file is opened by its bare name), so
# every path handed to them is absolute.
common=(-timeout=30 -print_final_stats=1)

for target in "${targets[@]}"; do
    binary=$out/bin/$target
    [[ -x $binary ]] || { echo "fuzz: no target $target" >&2; exit 2; }
    seeds=$root/fuzz/corpus/$target
    regressions=$root/fuzz/regressions/$target
    artifacts=$out/artifacts/$target
    mkdir -p "$artifacts" "$regressions"

    mapfile -t known < <(find "$regressions" -type f ! -name .gitkeep | sort)
    if ((${#known[@]})); then
        echo "== $target: ${#known[@]} regression input(s)"
        log=$(mktemp)
        if ! "$binary" "${common[@]}" -artifact_prefix="$artifacts/" "${known[@]}" >"$log" 2>&1; then
            cat "$log" >&2
            rm -f "$log"
            exit 1
        fi
        tail -n 1 "$log"
        rm -f "$log"
    fi

    if [[ $mode == --smoke ]]; then
        work=$(mktemp -d)
        echo "== $target: ${smoke_runs[$target]} runs"
        status=0
        "$binary" "${common[@]}" -runs="${smoke_runs[$target]}" -artifact_prefix="$artifacts/" \
            "$work" "$seeds" "$regressions" >"$work.log" 2>&1 || status=$?
        grep -E '^(stat::number_of_executed_units|Done|==[0-9]+==ERROR|SUMMARY)' "$work.log" || true
        if ((status != 0)); then
            cat "$work.log" >&2
        fi
        rm -rf "$work" "$work.log"
        ((status == 0)) || exit "$status"
    else
        work=$out/work/$target
        mkdir -p "$work" "$out/logs"
        log=$out/logs/$target.log
        echo "== $target: ${seconds} s, log $log"
        "$binary" "${common[@]}" -max_total_time="$seconds" -artifact_prefix="$artifacts/" \
            "$work" "$seeds" "$regressions" >"$log" 2>&1
        grep -E '^#[0-9]+' "$log" | tail -n 1
        grep -E '^stat::' "$log"
    fi
done
