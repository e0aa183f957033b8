# The programs' event sources in an installed prefix, as Event Viewer finds them; sourced by
# install-scenario.sh, whose key_exists and fail it uses. The ctest test gives the source
# names (those the programs report as) in KELVO_EVENT_SOURCES and the checker of their
# descriptions in KELVO_EVENT_DESCRIPTION.
read -r -a event_sources <<<"${KELVO_EVENT_SOURCES:?the test names the event sources}"
event_source_key() { echo "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\$1"; }

# Each source names the installed KVResource.dll and supports errors, warnings and
# information, and its event 1000 reads as the insertion string alone.
expect_event_sources() {
  local source values output
  for source in "${event_sources[@]}"; do
    values=$(timeout 30 wine reg query "$(event_source_key "$source")" 2>/dev/null | tr -d '\r' \
             | awk '$1 == "EventMessageFile" || $1 == "TypesSupported" { n = $1; $1 = ""; print n "=" substr($0, 2) }' | sort)
    [ "$values" = $'EventMessageFile=REG_SZ C:\\Program Files\\Kelvo\\Cart\\KVResource.dll\nTypesSupported=REG_DWORD 0x7' ] \
      || fail "$source is not registered with the installed message file: ${values:-no key}"
  done
  output=$(timeout 60 wine "$KELVO_EVENT_DESCRIPTION" "Drawer access for ward 4: 100% done" "${event_sources[@]}" 2>&1) \
    || fail "Event Viewer would not show the events' texts alone: $output"
}

expect_no_event_sources() {
  local source
  for source in "${event_sources[@]}"; do
    key_exists "$(event_source_key "$source")" && fail "the event source $source is left"
  done
  return 0
}
