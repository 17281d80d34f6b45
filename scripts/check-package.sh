#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine, plays the default
# content made by the installed demogen with the installed demo (headless),
# and removes the package again. Needs root; changes the system while it runs,
# so it is not part of the test suites.
#   scripts/check-package.sh [build folder]
set -euo pipefail
build=$(realpath "${1:-build}")
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/demo-port_*.deb | head -1)
echo "check-package: $deb"
dpkg-deb -f "$deb" Depends
if dpkg-query -W demo-port >/dev/null 2>&1; then
  echo "check-package: demo-port is installed already; not touching it" >&2
  exit 1
fi
apt-get install -y -qq "$deb" >/dev/null
trap 'dpkg -r demo-port >/dev/null && echo "check-package: removed again"' EXIT
command -v demo
demo --version
content=$(mktemp -d)
(cd / && demogen "$content" >/dev/null)
start=$(date +%s)
code=0
errors=$(cd / && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy demo "$content" 2>&1 >/dev/null) || code=$?
echo "check-package: the installed demo played $content for $(( $(date +%s) - start )) s, exit code $code${errors:+, said: $errors}"
rm -rf "$content"
[ "$code" -eq 0 ] && [ -z "$errors" ]
