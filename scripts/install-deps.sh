#!/usr/bin/env bash
# Installs the Debian packages the build and the Wine test run need; does nothing when
# they are all present.
set -euo pipefail
packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 wine64 wine
          xvfb xauth cmake ninja-build googletest libwine-dev msitools wixl python3
          samba-ad-dc samba-ad-provision ldap-utils winbind)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
