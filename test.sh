#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the same suites under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the graphics tests under
# ThreadSanitizer.  ./test.sh --fast skips the sanitizer passes.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
# The presets leave the job count to the user: one job per core unless
# CMAKE_BUILD_PARALLEL_LEVEL or CTEST_PARALLEL_LEVEL say otherwise.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
if [ "${1:-}" != "--fast" ]; then
  cmake --preset asan >/dev/null
  cmake --build --preset asan
  ctest --preset asan
  # ThreadSanitizer on the device's drawing threads: only the graphics tests.
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan
  ctest --preset tsan
fi
