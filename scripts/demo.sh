#!/usr/bin/env bash
# The main job: the agent end to end against the simulated cart, sign-on product and
# directory, narrating the road of one drawer opening. Until the agent program exists this
# builds everything, registers the stand-ins in the Wine prefix and shows what is ready.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELVO_BUILD_DIR:-$root/build}
export KELVO_BUILD_DIR=$build
"$root/scripts/build.sh"
source "$root/scripts/wine-session.sh"
bin=$build/bin

say() { printf '%s\n' "$*"; }

# The stand-ins sit where Windows looks for the real products: the sign-on product under its
# COM class IDs, the directory as the ADSI provider for LDAP: and WinNT:.
say "Registering the sign-on stand-in (KelvoSignOnSim.dll) under the product's class IDs"
wine regsvr32 /s "$(winepath -w "$bin/KelvoSignOnSim.dll")"
say "Registering the directory stand-in (KelvoAdsiSim.dll) as the LDAP and WinNT provider"
wine regsvr32 /s "$(winepath -w "$bin/KelvoAdsiSim.dll")"
wine reg add 'HKLM\SOFTWARE\Kelvo\AdsiSim' /v DataFile /t REG_SZ \
  /d "$(winepath -w "$bin/KelvoAdsiSim.ini")" /f >/dev/null 2>&1
say "The directory it serves: $bin/KelvoAdsiSim.ini"

say
say "The cart simulator answers the cart protocol on a named pipe; its own account of one"
say "drawer-button press (the agent is not there yet to answer it):"
printf 'press\nquit\n' | timeout 20 "$build/wine-run.sh" "$bin/KelvoCartSim.exe" --pipe KelvoDemoCart 2>&1 \
  | tr -d '\r' | sed 's/^/  cart: /' || true

if [ -x "$root/scripts/demo-run.sh" ]; then
  exec "$root/scripts/demo-run.sh"
fi
cat <<'TEXT'

The road of one drawer opening, once the agent program is built:
  1. The agent's worker polls the simulated cart every 500 ms (QueryAccess, QueryStatus,
     PollForDrawerBtn) over the simulator's device path.
  2. The simulator presses the drawer button; the agent starts the sign-on stand-in's prompt.
  3. The stand-in answers with a signed-in user; the agent checks its configuration and the
     stand-in directory, and tells the cart: access granted for this computer and user.
  4. The simulator prints what the cart did, one line per exchange.
The pieces built so far are exercised by scripts/test.sh.
TEXT
