#!/usr/bin/env bash
# Reads the built package's tables, for what Wine cannot show when it installs it:
# - the program-data folders of the configuration files (Kelvo, Kelvo\Cart, Kelvo\Cart\Agent
#   under ProgramData) and the install folder are each locked by an MsiLockPermissionsEx row:
#   SYSTEM becomes the owner (a user who created a level beforehand stays its owner
#   otherwise), and a protected DACL gives full control to SYSTEM and Administrators and only
#   read and execute to Users (and to an owner). Wine keeps no ACLs or owners, so the rows are
#   the only evidence;
# - the folders the configuration service may write to are recorded for it (ConfigFolder,
#   InstallFolder under HKLM\Software\Kelvo\Cart);
# - the server's own registration runs deferred as SYSTEM after the files are in place, its
#   unregistration after the service is stopped and before the files are removed, and each
#   deferred action has rollback actions just before it that put back what was there: nothing
#   after a first installation, the registration after a repair or a removal (wixl places
#   deferred actions wrongly by After=/Before= and writes rollback actions as immediate ones);
# - an install folder outside Program Files is refused before anything is installed.
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

  # SYSTEM or Administrators own the folder; a protected DACL (nothing inherited from
  # ProgramData, where Users may create folders) with exactly these grants, each inherited by
  # files and subfolders.
  case "$sddl" in O:SY*|O:BA*) ;; *) fail "$key does not make SYSTEM or Administrators the owner: $sddl" ;; esac
  case "$sddl" in *D:P\(*) ;; *) fail "$key: the DACL is not protected: $sddl" ;; esac
  aces=$(grep -o '([^)]*)' <<<"$sddl" | sort | tr -d '\n')
  want=$(printf '%s\n' '(A;OICI;FA;;;BA)' '(A;OICI;FA;;;SY)' '(A;OICI;FRFX;;;BU)' '(A;OICI;FRFX;;;OW)' | sort | tr -d '\n')
  [ "$aces" = "$want" ] || fail "$key grants $aces; expected $want"
done <<<"$locks"

for want in 'CommonAppDataFolder\Kelvo' 'CommonAppDataFolder\Kelvo\Cart' 'CommonAppDataFolder\Kelvo\Cart\Agent' \
            'ProgramFiles64Folder\Kelvo\Cart'; do
  grep -qxF "$want" <<<"$(printf '%s\n' "${locked_paths[@]}")" || fail "no lock row for $want (locked: ${locked_paths[*]:-none})"
done

# --- The folders the service writes to --------------------------------------------------
# Registry rows: Registry, Root (2 = HKLM), Key, Name, Value, Component.
declare -A recorded
while IFS=$US read -r _ root key value_name value _; do
  [ "$root" = 2 ] && [ "$key" = 'Software\Kelvo\Cart' ] && recorded[$value_name]=$value
done < <(rows Registry)
[ "${recorded[ConfigFolder]:-}" = '[AgentDataFolder]' ] || fail "ConfigFolder records '${recorded[ConfigFolder]:-nothing}', not the configuration folder"
[ "${recorded[InstallFolder]:-}" = '[INSTALLDIR]' ] || fail "InstallFolder records '${recorded[InstallFolder]:-nothing}', not the install folder"

# --- The server's registration ----------------------------------------------------------
declare -A seq type target cond
while IFS=$US read -r action condition number; do seq[$action]=$number; cond[$action]=$condition; done \
  < <(rows InstallExecuteSequence)
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
expect_action UnregisterConfigService 'KelvoConfigSvc.exe /UnregServer' $((in_script | as_system)) $rollback

before() { [ -n "${seq[$1]:-}" ] && [ -n "${seq[$2]:-}" ] && (( seq[$1] < seq[$2] )) || fail "$1 (${seq[$1]:-none}) does not come before $2 (${seq[$2]:-none})"; }
before InstallFiles RegisterConfigService
before RegisterConfigService InstallFinalize
before StopServices UnregisterConfigService
before UnregisterConfigService RemoveFiles

# Every action that changes the machine in the script is preceded, within ten sequence
# numbers, by rollback actions; each pair below says what the rollback puts back and when.
for a in "${!type[@]}"; do
  [ -n "${seq[$a]:-}" ] || continue
  (( (type[$a] & in_script) && !(type[$a] & rollback) )) || continue
  partners=0
  for b in "${!type[@]}"; do
    [ -n "${seq[$b]:-}" ] && (( (type[$b] & rollback) && seq[$b] < seq[$a] && seq[$a] - seq[$b] <= 10 )) && partners=$((partners + 1))
  done
  [ "$partners" -gt 0 ] || fail "$a runs in the script without a rollback action just before it"
done
expect_rollback() {  # <deferred action> <rollback action> <command> <condition>
  expect_action "$2" "$3" $((in_script | as_system | rollback)) 0
  before "$2" "$1"
  (( ${seq[$1]:-0} - ${seq[$2]:-0} <= 10 )) || fail "$2 (${seq[$2]:-none}) is not just before $1 (${seq[$1]:-none})"
  [ "${cond[$2]:-}" = "$4" ] || fail "$2 runs when '${cond[$2]:-}', expected '$4'"
}
# A first installation rolls back to no registration, a repair or reinstallation back to
# the registration it replaced, a removal back to the registration it took away.
[ "${cond[RegisterConfigService]:-}" = '$ConfigService=3' ] || fail "RegisterConfigService runs when '${cond[RegisterConfigService]:-}'"
[ "${cond[UnregisterConfigService]:-}" = '$ConfigService=2' ] || fail "UnregisterConfigService runs when '${cond[UnregisterConfigService]:-}'"
expect_rollback RegisterConfigService RegisterConfigServiceRollback 'KelvoConfigSvc.exe /UnregServer' \
  '$ConfigService=3 AND NOT ?ConfigService=3'
expect_rollback RegisterConfigService ReregisterConfigServiceRollback 'KelvoConfigSvc.exe /Service' \
  '$ConfigService=3 AND ?ConfigService=3'
expect_rollback UnregisterConfigService UnregisterConfigServiceRollback 'KelvoConfigSvc.exe /Service' '$ConfigService=2'

# --- The install folder ------------------------------------------------------------------
# Refused (19: an error text that ends the installation) when it is not strictly below the
# 64-bit Program Files folder, once the folders are resolved and before anything changes.
refuse=RefuseInstallFolderOutsideProgramFiles
[ "${type[$refuse]:-}" = 19 ] || fail "$refuse has type '${type[$refuse]:-none}', not an error action"
before CostFinalize $refuse
before $refuse InstallValidate
[ "${cond[$refuse]:-}" = 'NOT REMOVE~="ALL" AND (NOT (INSTALLDIR ~<< ProgramFiles64Folder) OR INSTALLDIR ~= ProgramFiles64Folder OR INSTALLDIR >< "..")' ] \
  || fail "$refuse runs when '${cond[$refuse]:-}'"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed in $msi"; exit 1; }
echo "The lock rows, the recorded folders and the service actions of $msi are as intended."
