#!/usr/bin/env python3
"""Makes the files of one directory from its seed (sim/adsi/StandardDirectory.seed):

  directory-seed.py ini SEED OUT    the stand-in's data file: the seed without its bulk sections
  directory-seed.py ldif SEED OUT   the LDIF records that give a new domain the seed's domain
                                    accounts: adds, then member adds (changetype modify)

The seed is the stand-in's data-file format (sim/adsi/SimDirectory.h) with one more kind of
section, "[bulk users PREFIX]" with "count" and a "display" format, that the domain alone gets.
"""
import base64
import re
import sys

# Characters Active Directory refuses in an account name.
REFUSED = set('"/\\[]:;|=,+*?<>')


def parse(path):
    sections = []
    current = None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.strip()
            if not line or line[0] in "#;":
                continue
            if line.startswith("["):
                current = {"head": line[1:line.rindex("]")].strip(), "keys": []}
                sections.append(current)
            else:
                key, _, value = line.partition("=")
                current["keys"].append((key.strip().lower(), value.strip()))
    return sections


def ini(seed, out):
    keep = True
    lines = []
    with open(seed, encoding="utf-8") as f:
        for raw in f:
            line = raw.strip()
            if line.startswith("["):
                keep = not line[1:].lower().startswith("bulk ")
            if keep:
                lines.append(raw.rstrip("\n"))
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def escape_rdn(value):
    out = ""
    for i, c in enumerate(value):
        if c in ',+"\\<>;=' or (i == 0 and c in " #") or (i == len(value) - 1 and c == " "):
            out += "\\"
        out += c
    return out


def attribute(name, value):
    value = str(value)
    safe = value.isascii() and not value.startswith((" ", ":", "<")) and "\n" not in value
    if safe:
        return "%s: %s" % (name, value)
    return "%s:: %s" % (name, base64.b64encode(value.encode("utf-8")).decode("ascii"))


def ldif(seed, out):
    sections = parse(seed)
    dns = next(v for s in sections if s["head"].lower() == "domain" for k, v in s["keys"] if k == "dns")
    base = ",".join("DC=" + part for part in dns.split("."))
    accounts = {}  # account name (lower case) -> (dn, section, kind)
    records = []
    for s in sections:
        kind, _, name = s["head"].partition(" ")
        kind, name = kind.lower(), name.strip()
        keys = dict(s["keys"])
        if s["head"].lower().startswith("computer account "):
            kind, name = "computer", s["head"][len("computer account "):].strip()
        elif kind == "computer" or not name:
            continue
        if kind == "bulk":
            prefix = name.split(" ", 1)[1]
            for i in range(1, int(keys.get("count", "0")) + 1):
                account = "%s%04d" % (prefix, i)
                dn = "CN=%s,CN=Users,%s" % (account, base)
                records.append([attribute("dn", dn), "objectClass: user", attribute("sAMAccountName", account),
                                attribute("displayName", keys.get("display", account).replace("%04d", "%04d" % i)),
                                "userAccountControl: 544"])
            continue
        if kind not in ("user", "group", "computer"):
            continue
        if REFUSED & set(name):
            continue
        account = name + "$" if kind == "computer" else name
        container = keys.get("container", "Computers" if kind == "computer" else "Users")
        dn = "CN=%s,CN=%s,%s" % (escape_rdn(keys.get("cn", name)), escape_rdn(container), base)
        accounts[account.lower()] = (dn, s, kind)
        if kind == "group" and "rid" in keys:
            continue  # one of the groups every new domain has
        record = [attribute("dn", dn), "objectClass: " + kind, attribute("sAMAccountName", account)]
        if kind == "user":
            # A normal account that needs no password; 0x2 more when it is disabled.
            record.append("userAccountControl: %d" % (546 if keys.get("disabled") == "1" else 544))
            record.append(attribute("userPrincipalName", "%s@%s" % (name, dns)))
        if kind == "computer":
            record.append("userAccountControl: 4096")
        for key, attr in (("display", "displayName"), ("description", "description")):
            if key in keys:
                record.append(attribute(attr, keys[key]))
        records.append(record)
    for account, (dn, s, kind) in accounts.items():
        members = [accounts[v.lower()][0] for k, v in s["keys"] if k == "member" and v.lower() in accounts]
        if kind == "group" and members:
            records.append([attribute("dn", dn), "changetype: modify", "add: member"] +
                           [attribute("member", m) for m in members] + ["-"])
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n\n".join("\n".join(r) for r in records) + "\n")


if __name__ == "__main__":
    {"ini": ini, "ldif": ldif}[sys.argv[1]](sys.argv[2], sys.argv[3])
