#!/usr/bin/env bash
# Runs every fuzz target of a libFuzzer build for a set time from its seed corpus (fuzz/corpus/<name>/)
# and the inputs earlier runs kept (<build>/corpus/<name>/), JOBS targets side by side. A target that
# finds something does not stop the others; each one's output goes to <build>/logs/<name>.log, and at
# the end a summary names each target as clean or failed and, for each failure, prints its log (the
# sanitizer's report with the stack trace) and every finding's path and first bytes. Fails when any
# target did.
# Usage: scripts/fuzz-run.sh BUILD_DIR SECONDS JOBS FINDINGS_DIR
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
seconds="$2"
jobs="$3"
findings="$4"
mkdir -p "$build/logs"

run_one() {
  local prog="$1" name short
  name="$(basename "$prog")"
  short="${name#fuzz_}"
  mkdir -p "$build/corpus/$short" "$findings/$short"
  # Findings of an earlier run would be reported again: each run starts without them.
  rm -f "$findings/$short"/*
  if "$prog" -max_total_time="$seconds" -artifact_prefix="$findings/$short/" \
    "$build/corpus/$short" "$root/fuzz/corpus/$short" >"$build/logs/$short.log" 2>&1; then
    echo "clean" >"$build/logs/$short.status"
  else
    echo "failed" >"$build/logs/$short.status"
  fi
}

targets=()
for prog in "$build"/fuzz_*; do
  [ -f "$prog" ] && [ -x "$prog" ] && targets+=("$prog")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets in $build" >&2
  exit 1
fi

echo "== ${#targets[@]} fuzz targets, $seconds s each, $jobs at a time"
for prog in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  echo "== $(basename "$prog")"
  run_one "$prog" &
done
wait

failed=0
summary=""
for prog in "${targets[@]}"; do
  name="$(basename "$prog")"
  short="${name#fuzz_}"
  status="$(cat "$build/logs/$short.status" 2>/dev/null || echo failed)"
  if [ "$status" = clean ]; then
    summary+="  $name: clean ($(grep -o 'Done [0-9]* runs' "$build/logs/$short.log" | tail -1))\n"
    continue
  fi
  failed=1
  summary+="  $name: FAILED, finding in $findings/$short/\n"
  echo "======== $name failed: its output ($build/logs/$short.log)"
  cat "$build/logs/$short.log"
  for finding in "$findings/$short"/*; do
    [ -f "$finding" ] || continue
    echo "-------- finding $finding ($(stat -c %s "$finding") bytes), first bytes:"
    od -A d -c "$finding" | head -n 16
  done
done
printf "== fuzz results:\n%b" "$summary"
exit $failed
