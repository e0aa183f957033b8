#!/usr/bin/env bash
# The test domain: a Samba Active Directory domain controller (realm HQ.EXAMPLE.COM, domain
# HQ) that the directory tests, the picker's searches, the agent's road and the demo reach
# through the stand-in's bridge (sim/adsi/SimLdapBridge.h).
#
#   test-domain.sh start DIR SEED   provisions DIR when it is missing or made from another
#                                   seed, then starts samba on the loopback address alone
#                                   and waits until its LDAP server answers
#   test-domain.sh stop DIR         stops the samba started in DIR, by its process ID
#
# KELVO_TEST_DC (default 127.0.0.1) is the address; KELVO_TEST_DC_PASSWORD the password of
# Administrator. The domain is seeded offline, straight into its database, before samba
# ever runs: 1,100 accounts in a few seconds, where adding them one by one takes minutes.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
address=${KELVO_TEST_DC:-127.0.0.1}
password=${KELVO_TEST_DC_PASSWORD:-Kelvo-Test-Domain-1}
action=$1
dir=$2

provision() {
  local seed=$1
  # The domain is made again only when the seed, or what turns it into the domain, changed.
  local stamp
  stamp=$( (echo "$address"; cat "$seed" "$here/directory-seed.py" "$here/test-domain.sh") | sha256sum | cut -d' ' -f1)
  if [ -f "$dir/private/sam.ldb" ] && [ "$(cat "$dir/seed.sha256" 2>/dev/null)" = "$stamp" ]; then
    return 0
  fi
  local started=$SECONDS
  rm -rf "$dir"
  mkdir -p "$dir"
  samba-tool domain provision --realm=HQ.EXAMPLE.COM --domain=HQ --server-role=dc --dns-backend=NONE \
    --adminpass="$password" --host-name=dc1 --targetdir="$dir" --option="interfaces=$address" \
    --option="bind interfaces only=yes" --option="server services=ldap" >"$dir/provision.log" 2>&1 ||
    { cat "$dir/provision.log" >&2; return 1; }
  # Simple binds (Wine's LDAP provider binds so with explicit credentials), and everything
  # samba writes kept in this folder.
  sed -i "/^\[global\]/a\\
\tldap server require strong auth = no\\
\tpid directory = $dir/run\\
\tlog file = $dir/samba.log" "$dir/etc/smb.conf"
  mkdir -p "$dir/run"
  /usr/bin/python3 "$here/directory-seed.py" ldif "$seed" "$dir/seed.ldif"
  /usr/bin/python3 - "$dir/etc/smb.conf" "$dir/private/sam.ldb" "$dir/seed.ldif" <<'PY'
import sys
from ldb import CHANGETYPE_MODIFY
from samba.auth import system_session
from samba.param import LoadParm
from samba.samdb import SamDB
lp = LoadParm()
lp.load(sys.argv[1])
db = SamDB(url=sys.argv[2], session_info=system_session(), lp=lp)
with open(sys.argv[3], encoding="utf-8") as f:
    text = f.read()
db.transaction_start()
try:
    for changetype, message in db.parse_ldif(text):
        if changetype == CHANGETYPE_MODIFY:
            db.modify(message)
        else:
            db.add(message)
except Exception:
    db.transaction_cancel()
    raise
db.transaction_commit()
PY
  echo "$stamp" >"$dir/seed.sha256"
  echo "Test domain provisioned and seeded in $((SECONDS - started)) s"
}

stop() {
  local pid
  pid=$(cat "$dir/samba.pid" 2>/dev/null) || return 0
  rm -f "$dir/samba.pid"
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
}

case $action in
  start)
    provision "$3"
    stop
    # Another build's domain on the same address would answer in this one's place (samba
    # listens only on an address of an interface: 127.0.0.1, or one given to lo).
    if ldapsearch -LLL -x -H "ldap://$address" -s base -b "" defaultNamingContext >/dev/null 2>&1; then
      echo "An LDAP server already answers on $address (another build's test domain?): stop it first." >&2
      exit 1
    fi
    started=$SECONDS
    # Its own session, so that it outlives this script and its PID stops it and its workers.
    setsid samba -s "$dir/etc/smb.conf" -i </dev/null >"$dir/samba.out" 2>&1 &
    echo $! >"$dir/samba.pid"
    for _ in $(seq 1 200); do
      if ldapsearch -LLL -x -H "ldap://$address" -s base -b "" defaultNamingContext >/dev/null 2>&1; then
        echo "Test domain answers on $address after $((SECONDS - started)) s"
        exit 0
      fi
      kill -0 "$(cat "$dir/samba.pid")" 2>/dev/null || break
      sleep 0.1
    done
    echo "The test domain did not start; see $dir/samba.out" >&2
    tail -20 "$dir/samba.out" >&2 || true
    stop
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start DIR SEED | stop DIR" >&2
    exit 2
    ;;
esac
