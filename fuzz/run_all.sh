#!/usr/bin/env bash
# Runs every fuzz target for a bounded time (FUZZ_SECONDS each, default 60),
# starting from a copy of its committed corpus, and prints the executions and
# coverage each one reached. Run from the fuzz build directory (`make fuzz`).
# Inputs that crash land in fuzz/artifacts/; FUZZ_MERGE=1 merges what a run
# found into the committed corpora (keep them small).
set -uo pipefail

seconds="${FUZZ_SECONDS:-60}"
here="$(cd "$(dirname "$0")" && pwd)"
build="$(pwd)"
targets="${FUZZ_TARGETS:-fuzz_records fuzz_interpret fuzz_link fuzz_open fuzz_journal fuzz_spectrum_file}"
mkdir -p "$here/artifacts"
failed=0
summary=""

for target in $targets; do
    binary="$build/fuzz/$target"
    if [ ! -x "$binary" ]; then
        echo "missing $binary (configure with -DQUILLON_FUZZ=ON and build fuzz_targets)" >&2
        exit 2
    fi
    work="$build/fuzz/work/$target"
    rm -rf "$work" && mkdir -p "$work"
    cp "$here/corpus/$target/"* "$work/"
    log="$build/fuzz/$target.log"
    echo "== $target: ${seconds}s"
    "$binary" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 -close_fd_mask=1 \
        -artifact_prefix="$here/artifacts/$target-" "$work" >"$log" 2>&1
    status=$?
    done_line="$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)"
    [ -z "$done_line" ] && done_line="$(grep -E '^#[0-9]+' "$log" | tail -1)"
    runs="$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')"
    cov="$(echo "$done_line" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')"
    ft="$(echo "$done_line" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')"
    corp="$(echo "$done_line" | sed -n 's/.*corp: \([0-9]*\/[0-9A-Za-z]*\).*/\1/p')"
    if [ $status -ne 0 ]; then
        failed=1
        echo "   FAILED (exit $status), see $log and $here/artifacts/"
        grep -E 'ERROR|check failed|SUMMARY' "$log" | head -5
    fi
    line="$(printf '%-16s executions %-10s coverage (edges) %-6s features %-6s corpus %s' \
        "$target" "${runs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}")"
    echo "   $line"
    summary="$summary$line"$'\n'
    if [ "${FUZZ_MERGE:-0}" = "1" ] && [ $status -eq 0 ]; then
        "$binary" -merge=1 "$here/corpus/$target" "$work" >/dev/null 2>&1
    fi
done

echo
echo "fuzz summary (${seconds}s per target):"
printf '%s' "$summary"
exit $failed
