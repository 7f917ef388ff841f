#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 10), one after another at low priority, starting from its
# seed corpus in tests/fuzz/corpus/TARGET/, and prints each one's executions, executions per second (of the
# clock, and of processor time) and findings, then the total. Inputs that a run adds are kept in BUILD/fuzz-run/TARGET/ (the next run starts
# from them too); an input that fails a target is kept in BUILD/fuzz-run/findings/. Fails when a target
# finds something or cannot run.
#   tests/fuzz/run_all.sh [SECONDS] [BUILD]          BUILD: the fuzz build (default build-fuzz)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-10}
build=${2:-$here/../../build-fuzz}
work=$build/fuzz-run
mkdir -p "$work/findings"

# The longest input a target is given: a compressed frame is at most 15,001 bytes; the others read headers,
# lines and receives.
max_len() {
    case $1 in
        decode_fuzz) echo 16384 ;;
        *) echo 4096 ;;
    esac
}

status=0
total=0
printf '%-22s %12s %10s %12s %9s\n' target executions 'exec/s' 'exec/cpu-s' findings
for seeds in "$here"/corpus/*/; do
    target=$(basename "$seeds")
    program=$build/bin/$target
    if [[ ! -x $program ]]; then
        printf '%-22s not built (cmake --build %s --target %s)\n' "$target" "$build" "$target"
        status=1
        continue
    fi
    mkdir -p "$work/$target"
    log=$work/$target.log
    before=$(find "$work/findings" -name "$target-*" | wc -l)
    TIMEFORMAT='%U %S'
    { time nice -n 10 "$program" -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$work/findings/$target-" "$work/$target" "$seeds" >"$log" 2>&1; } \
        2>"$log.cpu"
    ran=$?
    # On a shared machine the wall-clock rate says more about the load than about the target: the rate per
    # second of processor time is printed beside it.
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cpu_rate=$(awk -v n="${executions:-0}" '{ s = $1 + $2; print (s > 0 ? int(n / s) : "?") }' "$log.cpu")
    findings=$(($(find "$work/findings" -name "$target-*" | wc -l) - before))
    if ((ran != 0 && findings == 0)); then findings=1; fi
    printf '%-22s %12s %10s %12s %9s\n' "$target" "${executions:-?}" "${rate:-?}" "$cpu_rate" "$findings"
    total=$((total + ${executions:-0}))
    if ((ran != 0)); then
        echo "  $target failed (exit $ran); its log: $log"
        grep -m 5 -E 'ERROR|SUMMARY|Test unit written' "$log" | sed 's/^/  /'
        status=1
    fi
done
echo "total executions: $total"
exit $status
