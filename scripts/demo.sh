#!/usr/bin/env bash
# The main job: the agent end to end against the simulated cart, sign-on product and
# directory, narrating the road of one drawer opening. Until the agent program exists this
# builds everything, prepares the Wine prefix and shows which pieces are ready.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELVO_BUILD_DIR:-$root/build}
export KELVO_BUILD_DIR=$build
"$root/scripts/build.sh"
source "$root/scripts/wine-session.sh"

echo
echo "Built into $build/bin:"
ls "$build/bin" | sed 's/^/  /'
echo
if [ -x "$root/scripts/demo-run.sh" ]; then
  exec "$root/scripts/demo-run.sh"
fi
cat <<'TEXT'
The road of one drawer opening, once the agent program is built:
  1. The agent's worker polls the simulated cart every 500 ms (QueryAccess, QueryStatus,
     PollForDrawerBtn) over a device path the cart simulator serves.
  2. The simulator presses the drawer button; the agent starts the sign-on stand-in's prompt.
  3. The stand-in answers with a signed-in user; the agent checks the configuration and the
     stand-in directory, and tells the cart: access granted for this computer and user.
  4. The simulator prints what the cart did, one line per exchange.
The agent program is not built yet; the pieces built so far are exercised by scripts/test.sh.
TEXT
