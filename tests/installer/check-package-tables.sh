#!/usr/bin/env bash
# Reads the built package's tables, for what Wine cannot show when it installs it:
# - the program-data folders of the configuration files (Kelvo, Kelvo\Cart, Kelvo\Cart\Agent
#   under ProgramData) are each locked by an MsiLockPermissionsEx row: a protected DACL with
#   full control for SYSTEM and Administrators and only read and execute for Users (and for an
#   owner, so that a user who created a level beforehand cannot open it again). Wine keeps no
#   ACLs, so the rows are the only evidence;
# - the server's own registration runs deferred as SYSTEM after the files are in place, with
#   a real rollback action before it, and its unregistration runs after the service is
#   stopped and before the files are removed (wixl places deferred actions wrongly by
#   After=/Before= and writes rollback actions as immediate ones).
# Usage: check-package-tables.sh <package.msi>
set -euo pipefail
msi=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The rows of a table without its three header lines, fields separated by \037 (a tab would
# let read merge empty fields); a missing table is an empty one.
rows() { msiinfo export "$msi" "$1" 2>/dev/null | tail -n +4 | tr -d '\r' | tr '\t' '\037' || true; }
US=$'\037'

# --- The lock --------------------------------------------------------------------------
locks=$(rows MsiLockPermissionsEx)
[ -z "$(rows LockPermissions)" ] || fail "the package mixes LockPermissions with MsiLockPermissionsEx rows"

# Each lock row must name a folder the package creates, and the folder chain must be
# CommonAppDataFolder\Kelvo\Cart\Agent.
declare -A parent name
while IFS=$US read -r dir par default; do
  parent[$dir]=$par
  name[$dir]=${default##*|}
done < <(rows Directory)
path_of() {
  local d=$1 p=""
  while [ -n "${parent[$d]:-}" ] && [ "${name[$d]}" != "." ]; do p="${name[$d]}\\$p"; d=${parent[$d]}; done
  echo "$d\\${p%\\}"
}
created=$(rows CreateFolder | cut -d $US -f1)

locked_paths=()
while IFS=$US read -r key object table sddl condition; do
  [ -n "$key" ] || continue
  [ "$table" = CreateFolder ] || fail "$key locks an object of table '$table', not a created folder"
  grep -qx "$object" <<<"$created" || fail "$key locks $object, which the package does not create"
  [ -z "$condition" ] || fail "$key applies only under the condition '$condition'"
  locked_paths+=("$(path_of "$object")")

  # A protected DACL (nothing inherited from ProgramData, where Users may create folders),
  # and exactly these grants, each inherited by files and subfolders.
  case "$sddl" in D:P\(*) ;; *) fail "$key: the DACL is not protected: $sddl" ;; esac
  aces=$(grep -o '([^)]*)' <<<"$sddl" | sort | tr -d '\n')
  want=$(printf '%s\n' '(A;OICI;FA;;;BA)' '(A;OICI;FA;;;SY)' '(A;OICI;FRFX;;;BU)' '(A;OICI;FRFX;;;OW)' | sort | tr -d '\n')
  [ "$aces" = "$want" ] || fail "$key grants $aces; expected $want"
done <<<"$locks"

for want in 'CommonAppDataFolder\Kelvo' 'CommonAppDataFolder\Kelvo\Cart' 'CommonAppDataFolder\Kelvo\Cart\Agent'; do
  grep -qxF "$want" <<<"$(printf '%s\n' "${locked_paths[@]}")" || fail "no lock row for $want (locked: ${locked_paths[*]:-none})"
done

# --- The server's registration ----------------------------------------------------------
declare -A seq type target
while IFS=$US read -r action condition number; do seq[$action]=$number; done < <(rows InstallExecuteSequence)
while IFS=$US read -r action t source command rest; do type[$action]=$t; target[$action]="$source $command"; done \
  < <(rows CustomAction)

expect_action() {  # <action> <command> <bits that must be set> <bits that must be clear>
  local a=$1
  if [ -z "${type[$a]:-}" ] || [ -z "${seq[$a]:-}" ]; then fail "$a is missing from the package"; return; fi
  [ "${target[$a]}" = "$2" ] || fail "$a runs '${target[$a]}', expected '$2'"
  (( (type[$a] & $3) == $3 )) || fail "$a has type ${type[$a]}, missing bits $3"
  (( (type[$a] & $4) == 0 )) || fail "$a has type ${type[$a]}, with bits $4 that must be clear"
}
in_script=1024 as_system=2048 rollback=256 ignore_result=64
expect_action RegisterConfigService 'KelvoConfigSvc.exe /Service' $((in_script | as_system)) $((rollback | ignore_result))
expect_action RegisterConfigServiceRollback 'KelvoConfigSvc.exe /UnregServer' $((in_script | as_system | rollback)) 0
expect_action UnregisterConfigService 'KelvoConfigSvc.exe /UnregServer' $((in_script | as_system)) $rollback

before() { [ -n "${seq[$1]:-}" ] && [ -n "${seq[$2]:-}" ] && (( seq[$1] < seq[$2] )) || fail "$1 (${seq[$1]:-none}) does not come before $2 (${seq[$2]:-none})"; }
before InstallFiles RegisterConfigServiceRollback
before RegisterConfigServiceRollback RegisterConfigService
before RegisterConfigService InstallFinalize
before StopServices UnregisterConfigService
before UnregisterConfigService RemoveFiles

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed in $msi"; exit 1; }
echo "The lock rows and the service actions of $msi are as intended."
