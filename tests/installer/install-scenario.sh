#!/usr/bin/env bash
# The installer package's whole road under Wine, in a scratch prefix with its own wineserver
# (the suite's shared prefix never sees the product's registrations):
#   install silently -> the files, the Run entry, the service, the COM classes, the
#   shortcut, the program-data folder and the record of the two folders are there, and a
#   client saves a file through the service in the recorded configuration folder and is
#   refused elsewhere;
#   an administrator's configuration files appear in program data;
#   repair after damage -> the missing file and the Run entry are back;
#   upgrade to the next release -> one product, the new version, everything still works;
#   downgrade back -> refused, the newer release stays;
#   uninstall -> nothing left but the administrator's configuration files.
# Usage: install-scenario.sh <package> <next release's package> <payload folder> <client.exe> <work folder>
#                            <directory stand-in DLL>
set -euo pipefail
msi=$1 next_msi=$2 payload=$3 client=$4 work=$5 adsi=$6

export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

started=$(date +%s)
step() { echo "[$(( $(date +%s) - started )) s] $*"; }
fail() { echo "FAIL: $*"; exit 1; }

# This prefix's wineserver ends with the test whatever happens; the prefix is kept only
# after a failure, for a look at it.
stop_prefix() {
  local rc=$?
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  timeout 20 wineserver -w >/dev/null 2>&1 || true
  [ "$rc" -ne 0 ] || rm -rf "$WINEPREFIX"
  exit "$rc"
}
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
trap stop_prefix EXIT

# Plain wineboot creates the prefix: "wineboot -i" under a persistent server leaves a second
# services.exe, whose service database stays locked (error 1055), so that COM can start
# neither RpcSs nor the configuration service.
step "creating the scratch prefix"
wineserver -p
timeout 120 wine wineboot >/dev/null 2>&1 || fail "wineboot of the scratch prefix failed"
timeout 30 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

# The directory: this account is a local administrator, as the service's administrator
# test asks the directory (the stand-in, as the service tests use it).
user=$(timeout 30 wine cmd /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')
[ -n "$user" ] || fail "no account name in the scratch prefix"
printf '[computer]\r\nname = .\r\nworkgroup = WORKGROUP\r\n[local user %s]\r\n[local group Administrators]\r\nmember = %s\r\n' \
  "$user" "$user" >"$work/directory.ini"
timeout 60 wine regsvr32 /s "$adsi" >/dev/null 2>&1 || fail "the directory stand-in did not register"
timeout 30 wine reg add 'HKLM\SOFTWARE\Kelvo\AdsiSim' /v DataFile /d "$(winepath -w "$work/directory.ini")" /f >/dev/null 2>&1

drive_c=$WINEPREFIX/drive_c
program_dir="$drive_c/Program Files/Kelvo/Cart"
data_dir="$drive_c/ProgramData/Kelvo/Cart/Agent"
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
service_key='HKLM\System\CurrentControlSet\Services\KelvoConfigSvc'
appid=53CBB69E-3DC9-4843-BDC3-0F2C5EFED5B6
msi_property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
uninstall_key() { echo "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1"; }
this_product=$(msi_property "$msi" ProductCode) this_version=$(msi_property "$msi" ProductVersion)
next_product=$(msi_property "$next_msi" ProductCode) next_version=$(msi_property "$next_msi" ProductVersion)
[ -n "$this_product" ] && [ -n "$next_product" ] && [ "$this_product" != "$next_product" ] \
  || fail "the two releases need two product codes (got '$this_product' and '$next_product')"

# Runs msiexec silently with a log; prints Windows Installer's result (cut to 8 bits by Wine).
msiexec_rc() {
  local log=$1; shift
  set +e
  timeout 90 wine msiexec "$@" /qn /l*v "$work/$log" >/dev/null 2>&1
  local rc=$?
  set -e
  echo "$rc"
}
reg_value() {  # <key> <value name>: the value's data, or nothing
  timeout 30 wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^  */, ""); print }'
}
key_exists() { timeout 30 wine reg query "$1" >/dev/null 2>&1; }
shortcut() { find "$drive_c" -path '*Start Menu/Programs/Kelvo/*' -name '*.lnk' -print -quit 2>/dev/null; }
# The programs' event sources: expect_event_sources, expect_no_event_sources.
. "$(dirname "${BASH_SOURCE[0]}")/event-sources.sh"

# What a working installation shows, whichever release it is.
expect_installed() {
  local version=$1 product=$2
  for f in "$payload"/*; do
    cmp -s "$f" "$program_dir/$(basename "$f")" || fail "$(basename "$f") is missing or differs in $program_dir"
  done
  [ "$(ls "$program_dir" | wc -l)" -eq "$(ls "$payload" | wc -l)" ] || fail "unexpected files in $program_dir: $(ls "$program_dir")"

  [ "$(reg_value "$run_key" KelvoAgent)" = '"C:\Program Files\Kelvo\Cart\KelvoAgent.exe"' ] \
    || fail "the Run entry does not start the installed agent: '$(reg_value "$run_key" KelvoAgent)'"
  [ "$(reg_value "$service_key" ImagePath)" = '"C:\Program Files\Kelvo\Cart\KelvoConfigSvc.exe"' ] \
    || fail "the service is not registered for the installed program: '$(reg_value "$service_key" ImagePath)'"
  [ "$(reg_value "HKCR\\AppID\\{$appid}" LocalService)" = KelvoConfigSvc ] || fail "the AppID does not name the service"
  # The two folders the service writes to, as the installer recorded them.
  [ "$(reg_value 'HKLM\Software\Kelvo\Cart' ConfigFolder)" = 'C:\ProgramData\Kelvo\Cart\Agent\' ] \
    || fail "ConfigFolder is '$(reg_value 'HKLM\Software\Kelvo\Cart' ConfigFolder)'"
  [ "$(reg_value 'HKLM\Software\Kelvo\Cart' InstallFolder)" = 'C:\Program Files\Kelvo\Cart\' ] \
    || fail "InstallFolder is '$(reg_value 'HKLM\Software\Kelvo\Cart' InstallFolder)'"

  # The editor's road to the service: COM starts the service, which writes in the recorded
  # configuration folder and refuses what lies outside. To a file: the COM run time the
  # client starts keeps a pipe open after the client ends.
  timeout 60 wine "$client" >"$work/client.out" 2>&1 \
    || fail "the installed service did not answer as it should: $(tr -d '\r' <"$work/client.out")"

  local lnk; lnk=$(shortcut)
  [ -n "$lnk" ] || fail "no Start-menu shortcut"
  grep -qaF 'C:\Program Files\Kelvo\Cart\KelvoAgentConfig.exe' "$lnk" || fail "the shortcut does not start the editor"
  [ -d "$data_dir" ] || fail "the program-data folder of the configuration files is missing"
  expect_event_sources

  [ "$(reg_value "$(uninstall_key "$product")" DisplayVersion)" = "$version" ] || fail "release $version is not the one registered"
}

# --- Refused install folders --------------------------------------------------------------
# Outside Program Files a parent of the folder may be one users can rename; Program Files
# itself is no product's folder. Refused before anything is installed.
for dir in 'C:\Kelvo\Cart\' 'C:\Program Files\' 'C:\Program Files\..\Kelvo\Cart\'; do
  step "refusing the install folder $dir"
  rc=$(msiexec_rc refused-folder.log /i "$msi" "INSTALLDIR=$dir"); [ "$rc" -ne 0 ] || fail "installed in $dir"
  # Wine's installer logs that the error action ran, not its text.
  grep -qa "Action start .*: RefuseInstallFolderOutsideProgramFiles\." "$work/refused-folder.log" \
    || fail "$dir was not refused by the install folder's check (see $work/refused-folder.log)"
  [ ! -e "$drive_c/Kelvo" ] && ! key_exists 'HKLM\Software\Kelvo\Cart' || fail "the refused install in $dir left something"
done

# --- Install ----------------------------------------------------------------------------
step "installing $(basename "$msi")"
rc=$(msiexec_rc install.log /i "$msi"); [ "$rc" -eq 0 ] || fail "install ended with $rc (see $work/install.log)"
expect_installed "$this_version" "$this_product"

# The administrator's own settings, as the editor or the service would write them.
printf '<configuration><appSettings><add key="LogLevel"><value>5</value></add></appSettings></configuration>\n' \
  >"$data_dir/KelvoAgent.exe.config"
printf '<configuration><appSettings><add key="LogLevel"><value>4</value></add></appSettings></configuration>\n' \
  >"$data_dir/KelvoConfigSvc.exe.config"
cp "$data_dir/KelvoAgent.exe.config" "$work/admin-agent.config"
cp "$data_dir/KelvoConfigSvc.exe.config" "$work/admin-service.config"
expect_admin_files() {
  cmp -s "$data_dir/KelvoAgent.exe.config" "$work/admin-agent.config" || fail "$1 changed or removed the agent's configuration"
  cmp -s "$data_dir/KelvoConfigSvc.exe.config" "$work/admin-service.config" || fail "$1 changed or removed the service's configuration"
}

# --- Repair -----------------------------------------------------------------------------
step "repairing after damage"
rm -f "$program_dir/KVResource.dll"
timeout 30 wine reg delete "$run_key" /v KelvoAgent /f >/dev/null 2>&1
rc=$(msiexec_rc repair.log /i "$msi" REINSTALL=ALL REINSTALLMODE=amus)
[ "$rc" -eq 0 ] || fail "repair ended with $rc (see $work/repair.log)"
expect_installed "$this_version" "$this_product"
expect_admin_files repair

# --- Upgrade ----------------------------------------------------------------------------
step "upgrading to $next_version"
rc=$(msiexec_rc upgrade.log /i "$next_msi"); [ "$rc" -eq 0 ] || fail "upgrade ended with $rc (see $work/upgrade.log)"
key_exists "$(uninstall_key "$this_product")" && fail "the older release is still registered beside the newer one"
expect_installed "$next_version" "$next_product"
expect_admin_files upgrade

# --- Downgrade --------------------------------------------------------------------------
step "refusing the downgrade"
rc=$(msiexec_rc downgrade.log /i "$msi"); [ "$rc" -ne 0 ] || fail "the older release installed over the newer one"
key_exists "$(uninstall_key "$this_product")" && fail "the refused downgrade registered the older release"
expect_installed "$next_version" "$next_product"

# --- Uninstall --------------------------------------------------------------------------
step "uninstalling"
rc=$(msiexec_rc uninstall.log /x "$next_msi"); [ "$rc" -eq 0 ] || fail "uninstall ended with $rc (see $work/uninstall.log)"
left=$(find "$drive_c/Program Files/Kelvo" -type f 2>/dev/null || true)
[ -z "$left" ] || fail "files left in Program Files: $left"
[ -z "$(reg_value "$run_key" KelvoAgent)" ] || fail "the Run entry is left"
key_exists "$service_key" && fail "the service is left"
for key in "HKCR\\CLSID\\{8E02334E-BC54-43B4-87B3-5BA544D0D00A}" "HKCR\\CLSID\\{E386FD8A-4429-4429-8F51-D6AFDC69A12C}" \
           'HKCR\KelvoConfigSvc.AgentConfig' 'HKCR\KelvoConfigSvc.ServiceConfig' "HKCR\\AppID\\{$appid}" \
           'HKCR\AppID\KelvoConfigSvc.EXE' "HKCR\\TypeLib\\{$appid}" 'HKLM\Software\Kelvo\Cart' \
           "$(uninstall_key "$next_product")"; do
  key_exists "$key" && fail "$key is left"
done
[ -z "$(shortcut)" ] || fail "the Start-menu shortcut is left: $(shortcut)"
expect_no_event_sources
expect_admin_files uninstall
# The service's own log files (the administrator's configuration turned its log on) stay too.
left=$(find "$drive_c/ProgramData/Kelvo" -type f ! -path "$data_dir/Logs/*" | sort | tr '\n' ' ')
[ "$left" = "$data_dir/KelvoAgent.exe.config $data_dir/KelvoConfigSvc.exe.config " ] \
  || fail "program data holds more or less than the administrator's files: $left"

step "install, repair, upgrade, refused downgrade and uninstall behaved"
