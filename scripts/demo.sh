#!/usr/bin/env bash
# The main job: the agent end to end against the simulated cart, sign-on product and
# directory, narrating the road of one drawer opening, then a refused user and a cart bound
# to another computer that is rebound after Yes. Exits 0 only when every scenario ended as
# it should.
#
#   scripts/demo.sh               the narrated road and the benchmark's quick figures
#   scripts/demo.sh --real-directory  the grant road with the agent deciding against the test
#                                 domain's domain controller (started and stopped here)
#   scripts/demo.sh --idle-cpu    the agent's CPU while idle and polling for 5 minutes with the
#                                 logon-screen watch, 5 more after it, and where the time goes
#   scripts/demo.sh --idle-cpu 60 the same for another number of seconds
#   scripts/demo.sh --soak [N]    N press-to-grant cycles (default 1000): does the agent grow?
#   scripts/demo.sh --memory      where the idle agent's committed private memory goes
#   scripts/demo.sh --random [N] [--seed S]   N random event sequences (default 1000);
#                                 --random 1 --seed S replays the sequence that printed S
#   scripts/demo.sh --mutants [N] [--seed S]  plants each fault of tests/random/mutants.txt
#                                 alone in a scratch agent and runs the random tester on it
#                                 (at most N sequences each, default 60)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELVO_BUILD_DIR:-$root/build}
export KELVO_BUILD_DIR=$build
"$root/scripts/build.sh"
source "$root/scripts/wine-session.sh"
bin=$build/bin

# The stand-ins sit where Windows looks for the real products: the sign-on product under its
# COM class IDs, the directory as the ADSI provider for LDAP: and WinNT:. Registering again
# changes nothing.
wine regsvr32 /s "$(winepath -w "$bin/KelvoSignOnSim.dll")"
wine regsvr32 /s "$(winepath -w "$bin/KelvoAdsiSim.dll")"

if [ "${1:-}" = "--mutants" ]; then
  python3 "$root/scripts/mutants.py" "$build" "${@:2}"
  exit $?
fi

# The real directory: the test domain, made from the standard directory's seed, runs for this
# demo alone and is stopped when it ends (wine-session.sh's trap stops it too).
if [ "${1:-}" = "--real-directory" ]; then
  export KELVO_TEST_DC=${KELVO_TEST_DC:-127.0.0.1} KELVO_TEST_DC_PASSWORD=${KELVO_TEST_DC_PASSWORD:-Kelvo-Test-Domain-1}
  "$root/scripts/test-domain.sh" start "$build/test-domain" "$root/sim/adsi/StandardDirectory.seed"
fi

# Every wait inside the demo is bounded; this bound only catches a stuck Windows layer.
limit=180
case "${1:-}" in
  --idle-cpu) s=${2:-300}; b=$(( s / 5 > 20 ? s / 5 : 20 )); limit=$(( 2 * s + 2 * b + 180 )) ;;
  --soak) limit=$(( ${2:-1000} * 4 + 300 )) ;;
  --random) n=1000; [[ "${2:-}" =~ ^[0-9]+$ ]] && n=$2; limit=$(( n * 15 + 300 )) ;;
esac
set +e
timeout -k 10 "$limit" "$build/wine-run.sh" "$bin/KelvoDemo.exe" "$@"
rc=$?
set -e
[ $rc -eq 124 ] && echo "The demo did not finish within $limit s."
exit $rc
