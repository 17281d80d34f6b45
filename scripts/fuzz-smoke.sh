#!/usr/bin/env bash
# Builds the fuzz targets (cmake --preset fuzz: clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time from its corpus
# in fuzz/corpus/NAME. A crash, a sanitizer report, a failed check, a leak or a
# time-out fails the run; the reproducer is kept in build-fuzz/findings/ and
# printed as hex and base64 so the log alone is enough to replay it.
#
#   scripts/fuzz-smoke.sh [NAME...]     NAME: scene device mp3 stream gltf (default: all)
#   FUZZ_SECONDS=60                     time per target
#   FUZZ_TIMEOUT=30                     seconds one input may take (inputs take well under
#                                       one; the margin is for a loaded machine)
#
# Replay a finding: build-fuzz/fuzz/NAME_fuzz FILE
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
timeout="${FUZZ_TIMEOUT:-30}"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=(scene device mp3 stream gltf); fi

cmake --preset fuzz >/dev/null
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)} cmake --build --preset fuzz

findings="build-fuzz/findings"
mkdir -p "$findings"
failed=()
for name in "${targets[@]}"; do
  binary="build-fuzz/fuzz/${name}_fuzz"
  seeds="fuzz/corpus/$name"
  if [ ! -x "$binary" ] || [ ! -d "$seeds" ]; then
    echo "fuzz-smoke: no target or corpus for '$name'" >&2
    failed+=("$name")
    continue
  fi
  # New inputs go to a scratch corpus; the one in the tree is only read.
  work="$(mktemp -d)"
  dict=()
  if [ -f "fuzz/$name.dict" ]; then dict=(-dict="fuzz/$name.dict"); fi
  log="$findings/$name.log"
  rm -f "$findings/$name"-*
  echo "== $name: ${seconds} s from $(ls "$seeds" | wc -l) seeds"
  status=0
  "$binary" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 \
    -max_len=65536 -close_fd_mask=3 -print_final_stats=1 "${dict[@]}" \
    -artifact_prefix="$findings/$name-" "$work" "$seeds" >"$log" 2>&1 || status=$?
  grep -E '^#[0-9]+ +DONE|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" || true
  if [ "$status" -ne 0 ]; then
    failed+=("$name")
    echo "fuzz-smoke: $name FAILED (exit $status); the end of its log:" >&2
    grep -v '^#[0-9]' "$log" | tail -n 60 >&2
    for artifact in "$findings/$name"-*; do
      [ -f "$artifact" ] || continue
      echo "-- reproducer $artifact ($(stat -c %s "$artifact") bytes), hex:" >&2
      head -c 4096 "$artifact" | od -A x -t x1z -v >&2
      echo "-- base64:" >&2
      base64 -w 76 "$artifact" >&2
    done
  fi
  rm -rf "$work"
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz-smoke: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz-smoke: every target ran ${seconds} s without a finding"
