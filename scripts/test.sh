#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine.
# Extra arguments go to ctest (for example: -R CartMessage).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELVO_BUILD_DIR:-$root/build}
export KELVO_BUILD_DIR=$build
"$root/scripts/build.sh"
source "$root/scripts/wine-session.sh"
start=$(date +%s)
set +e
ctest --test-dir "$build" --output-on-failure --timeout 120 -j"${KELVO_TEST_JOBS:-2}" "$@"
rc=$?
set -e
echo "Suite wall time: $(( $(date +%s) - start )) s"
# The dialogs' screenshots, for a person to look at.
if ls "$build"/test-output/screenshots/*.png >/dev/null 2>&1; then
  echo "Screenshots:"
  ls -1 "$build"/test-output/screenshots/*.png
fi
exit $rc
