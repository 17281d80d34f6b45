#!/usr/bin/env bash
# Fails when a test reads something beside the repository: a path that leaves
# the source tree, the folder of shared data the benchmarks may use, or a
# machine's own folders. The tests must pass on a clone with nothing beside it.
#   scripts/check-self-contained.sh <source folder>
set -uo pipefail
cd "$1"
found=$(grep -rnE 'DEMO_SHARED_DIR|\.\./shared|/work/|DEMO_SOURCE_DIR *"/\.\.|DEMO_BINARY_DIR *"/\.\.' \
  tests/ --include='*.cpp' --include='*.h' --include='*.c' --include='*.sh' --include='*.txt' --include='*.cmake')
if [ -n "$found" ]; then
  echo "check-self-contained: tests that read beside the repository:" >&2
  echo "$found" >&2
  exit 1
fi
echo "check-self-contained: the tests read nothing beside the repository"
