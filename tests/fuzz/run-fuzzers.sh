#!/usr/bin/env bash
# Runs every fuzzer of a PZ_FUZZ build within one time budget.
#   run-fuzzers.sh BUILD_DIR [TOTAL_SECONDS]
# Each fuzzer starts from its seeds (tests/fuzz/corpus/<name>/, never
# written) and a working corpus in BUILD_DIR/fuzz-work/<name>/ that grows
# from run to run; findings go to BUILD_DIR/fuzz-work/artifacts/. Prints the
# executions of each fuzzer and fails when any fuzzer found a crash, a
# sanitizer report, a broken property, a hang or a leak.
set -uo pipefail

build=${1:?usage: run-fuzzers.sh BUILD_DIR [TOTAL_SECONDS]}
total=${2:-270}
here=$(cd "$(dirname "$0")" && pwd)
bin="$build/tests/fuzz"
work="$build/fuzz-work"
mkdir -p "$work/artifacts"

fuzzers=()
for f in "$bin"/fuzz_*; do
  [ -x "$f" ] && [ -f "$f" ] && fuzzers+=("$f")
done
if [ ${#fuzzers[@]} -eq 0 ]; then
  echo "no fuzzers in $bin" >&2
  exit 1
fi
per=$(( total / ${#fuzzers[@]} ))
[ "$per" -lt 1 ] && per=1

failed=0
sum=0
for f in "${fuzzers[@]}"; do
  name=$(basename "$f")
  target=${name#fuzz_}
  mkdir -p "$work/$target"
  seeds="$here/corpus/$target"
  args=(-max_total_time="$per" -timeout=10 -rss_limit_mb=2048
        -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-")
  [ -f "$here/dict/$target.dict" ] && args+=(-dict="$here/dict/$target.dict")
  dirs=("$work/$target")
  [ -d "$seeds" ] && dirs+=("$seeds")
  log="$work/$target.log"
  "$f" "${args[@]}" "${dirs[@]}" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  runs=${runs:-0}
  sum=$(( sum + runs ))
  if [ $rc -ne 0 ]; then
    failed=1
    printf '%-24s FAILED (exit %d, %s executions), see %s\n' "$target" "$rc" "$runs" "$log"
    grep -E 'PROPERTY BROKEN|ERROR:|runtime error|SUMMARY' "$log" | head -5
  else
    printf '%-24s %12s executions in %ss\n' "$target" "$runs" "$per"
  fi
done
printf '%-24s %12s executions\n' "total" "$sum"
exit $failed
