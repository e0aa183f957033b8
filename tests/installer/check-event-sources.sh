#!/usr/bin/env bash
# Reads the built package's tables for the registration of the programs' event sources:
# for each source the programs report as (given on the command line: what the code uses), a
# key under HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application created at install
# and deleted at removal ("*"), whose EventMessageFile is the KVResource.dll installed beside
# the programs and whose TypesSupported is 7 (error, warning, information), in a 64-bit
# component of the installed feature; and no other source.
# Usage: check-event-sources.sh <package.msi> <source>...
set -euo pipefail
msi=$1; shift
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The rows of a table without its three header lines, fields separated by \037.
rows() { msiinfo export "$msi" "$1" 2>/dev/null | tail -n +4 | tr -d '\r' | tr '\t' '\037' || true; }
US=$'\037'
sources_key='SYSTEM\CurrentControlSet\Services\EventLog\Application'

declare -A component_dir component_attributes in_feature
while IFS=$US read -r component id dir attributes rest; do
  component_dir[$component]=$dir component_attributes[$component]=$attributes
done < <(rows Component)
while IFS=$US read -r feature component; do in_feature[$component]=1; done < <(rows FeatureComponents)

# The message file must be the resource library in the programs' folder.
declare -A file_name file_component
while IFS=$US read -r key component name rest; do
  file_name[$key]=${name##*|} file_component[$key]=$component
done < <(rows File)
agent_dir=""
for key in "${!file_name[@]}"; do
  [ "${file_name[$key]}" = KelvoAgent.exe ] && agent_dir=${component_dir[${file_component[$key]}]}
done
[ -n "$agent_dir" ] || fail "the package installs no KelvoAgent.exe"

declare -A value_of seen_source
while IFS=$US read -r id root key name value component; do
  case "$key" in "$sources_key"\\*) ;; *) continue ;; esac
  source=${key#"$sources_key"\\}
  seen_source[$source]=1
  [ "$root" = 2 ] || fail "$source: row $id is not in HKLM (root $root)"
  (( (component_attributes[$component] & 256) != 0 )) || fail "$source: component $component is not a 64-bit one"
  [ -n "${in_feature[$component]:-}" ] || fail "$source: component $component belongs to no feature"
  value_of["$source/$name"]=$value
done < <(rows Registry)

for source in "$@"; do
  [ -n "${seen_source[$source]:-}" ] || { fail "no event source $source"; continue; }
  [ "${value_of[$source/*]-unset}" = "" ] || fail "$source: the key is not created and removed with the product (no '*' row)"
  [ "${value_of[$source/TypesSupported]:-}" = '#7' ] || fail "$source: TypesSupported is '${value_of[$source/TypesSupported]:-}', not 7"
  message_file=${value_of[$source/EventMessageFile]:-}
  file_key=${message_file#'[#'}; file_key=${file_key%]}
  if [ "$message_file" != "[#$file_key]" ] || [ -z "${file_name[$file_key]:-}" ]; then
    fail "$source: EventMessageFile '$message_file' is not an installed file"
  elif [ "${file_name[$file_key]}" != KVResource.dll ] || [ "${component_dir[${file_component[$file_key]}]}" != "$agent_dir" ]; then
    fail "$source: EventMessageFile is ${file_name[$file_key]} in ${component_dir[${file_component[$file_key]}]}, not KVResource.dll beside the programs"
  fi
  unset "seen_source[$source]"
done
[ ${#seen_source[@]} -eq 0 ] || fail "event sources no program reports as: ${!seen_source[*]}"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed in $msi"; exit 1; }
echo "The event sources $* of $msi are registered with KVResource.dll's message table."
