#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a number of seconds each,
# growing its committed corpus and keeping any finding beside it, so that the
# ordinary test run replays it.
#   tools/run-fuzz.sh BUILD_DIR SECONDS [TARGET...]
# With FUZZ_GROW=0 (CI) the committed corpus is only read: new inputs go to a
# scratch folder in BUILD_DIR and findings to BUILD_DIR/findings/<target>/, so
# the checkout is left as it was; a finding still fails the run.
# With FUZZ_RUNS=N each target stops after N executions instead (SECONDS is
# then only an upper bound); FUZZ_ARGS adds libFuzzer flags (-max_len=N, say).
# AddressSanitizer keeps a 32 MB quarantine of freed
# blocks unless ASAN_OPTIONS says otherwise: the default 256 MB makes every
# execution pay for page faults without catching more in inputs this small.
set -euo pipefail
build=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for f in "$root"/tests/fuzz/targets/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32}
limit=()
[[ -n ${FUZZ_RUNS:-} ]] && limit=(-runs="$FUZZ_RUNS")
read -r -a extra <<<"${FUZZ_ARGS:-}"
status=0
for t in "${targets[@]}"; do
  corpus="$root/tests/fuzz/corpus/$t"
  mkdir -p "$corpus"
  dirs=("$corpus")
  findings="$corpus"
  if [[ ${FUZZ_GROW:-1} == 0 ]]; then
    findings="$build/findings/$t"
    rm -rf "$build/fuzz-scratch/$t"
    mkdir -p "$build/fuzz-scratch/$t" "$findings"
    dirs=("$build/fuzz-scratch/$t" "$corpus")
  fi
  echo "== fuzzing $t for ${FUZZ_RUNS:+$FUZZ_RUNS runs or }${seconds}s"
  started=$(date +%s)
  if ! "$build/tests/fuzz/$t" "${dirs[@]}" -max_total_time="$seconds" "${limit[@]}" "${extra[@]}" -rss_limit_mb=512 -malloc_limit_mb=64 \
      -timeout=5 -artifact_prefix="$findings/finding-" -print_final_stats=1 2>"$build/$t.log"; then
    echo "!! $t found a fault; the input is kept in $findings (finding-*)"
    tail -40 "$build/$t.log"
    status=1
  fi
  grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb' "$build/$t.log" \
    | sed "s/^/   /" || true
  echo "   took $(( $(date +%s) - started ))s"
done
exit $status
