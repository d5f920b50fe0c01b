#!/usr/bin/env python3
"""Interop checks of `fendral-cli keys`, `tags` and `index` against other programs.

usage:
  check_index.py read CLI SHARED          every NDX and NTX fixture walks in the order of its
                                          expected listing (peer-harbour) or, where there
                                          is none, in the order Perl XBase reads
  check_index.py write CLI SHARED WORK    NDX and NTX files built by `index` on tables the
                                          peers wrote read back in Perl XBase (index_walk.py
                                          for NTX files with a FOR condition) with the same
                                          keys, order and record numbers as `keys` prints,
                                          and in the order the table's values give
  check_index.py seek CLI SHARED          exact seeks of keys taken from the listings find
                                          the first entry of that key in the listed order;
                                          absent keys are not found
Prints one line per difference and a summary; exits 1 when there is any difference."""

import json
import os
import struct
import subprocess
import sys

PYTHON = "/usr/bin/python3"  # the interpreter with Debian's python3-dbf and dbfread


def run(cmd):
    p = subprocess.run(cmd, capture_output=True)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def json_lines(text):
    return [json.loads(line) for line in text.splitlines() if line.strip()]


def cli_keys(cli, table, index, *extra):
    rc, out, err = run([cli, "keys", table, index] + list(extra))
    return rc, (json_lines(out) if rc == 0 else []), err.strip()


def record_count(dbf):
    with open(dbf, "rb") as f:
        head = f.read(12)
    hlen, rlen = struct.unpack_from("<HH", head, 8)
    size = os.path.getsize(dbf)
    return (size - hlen) // rlen if rlen else 0


def perl_keys(shared, index, table, key_type=None):
    cmd = ["perl", os.path.join(shared, "peers", "dump_table.pl"), "--index", index]
    if key_type:
        cmd += ["--type", key_type]
    rc, out, err = run(cmd + [table])
    return rc, (json_lines(out) if rc == 0 else []), err.strip()


def walk_keys(shared, index):
    rc, out, err = run([PYTHON, os.path.join(shared, "peers", "index_walk.py"), index])
    return rc, (json_lines(out) if rc == 0 else []), err.strip()


def candidate_tables(index):
    folder = os.path.dirname(index)
    base = os.path.splitext(os.path.basename(index))[0].lower()
    tables = sorted(p for p in os.listdir(folder) if p.lower().endswith(".dbf"))
    same = [p for p in tables if os.path.splitext(p)[0].lower() == base]
    return [os.path.join(folder, p) for p in same + [p for p in tables if p not in same]]


def harbour_listings(shared):
    folder = os.path.join(shared, "fixtures", "peer-harbour")
    listings = {}
    with open(os.path.join(folder, "manifest.tsv")) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            cols = line.rstrip("\n").split("\t")
            if cols[2] != "DBFNTX":
                continue
            listings[os.path.join(folder, cols[3])] = {
                "table": os.path.join(folder, cols[1]),
                "expected": os.path.join(folder, cols[0]),
                "keytype": cols[9], "keys_listed": cols[12] == "1"}
    return listings


def read_listing(path):
    rows = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("#"):
                continue
            line = line.rstrip("\n")
            if not line:
                continue
            recno, _, key = line.partition("\t")
            rows.append((int(recno), key))
    return rows


def same_key(mine, listed, keytype):
    if keytype == "N":
        return isinstance(mine, (int, float)) and abs(mine - float(listed)) < 1e-6
    if keytype == "D":
        return (mine or "") == (f"{listed[:4]}-{listed[4:6]}-{listed[6:]}" if listed else "")
    return mine == listed


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def key_differences(cli, table, index, mine, theirs):
    """The first key that differs between our reading and Perl XBase's, or ''."""
    rc, out, _ = run([cli, "tags", table, index])
    if rc != 0:
        return "tags failed"
    kind = json_lines(out)[0]["key_type"]
    ndx = index.lower().endswith(".ndx")
    for i, (m, t) in enumerate(zip(mine, theirs)):
        ours, peer = m["key"], t["key"]
        if kind == "N" and isinstance(peer, (int, float)):
            # Perl XBase reads the doubles of NDX files written high byte first (by a Java
            # library) as if low byte first; those compare as written.
            swapped = struct.unpack(">d", struct.pack("<d", peer))[0]
            same = any(abs(ours - v) <= 1e-9 * max(1.0, abs(v)) for v in (peer, swapped))
        elif kind == "D" and ndx and isinstance(peer, (int, float)):
            same = ours == (None if peer >= 1e99 else julian_to_iso(peer))
        elif kind == "D" and isinstance(peer, str):
            same = ours == ("%s-%s-%s" % (peer[:4], peer[4:6], peer[6:]) if peer.strip("0 ") else None)
        elif kind in ("C", "L") and isinstance(peer, str):
            same = ours == peer
        else:
            continue  # Perl gave the raw bytes of a key it cannot decode
        if not same:
            return f"key {i} is {ours!r}, Perl XBase reads {peer!r}"
    return ""


def check_read(cli, shared):
    fixtures = os.path.join(shared, "fixtures")
    listings = harbour_listings(shared)
    indexes = []
    for root, _, files in os.walk(fixtures):
        for name in files:
            if name.lower().endswith((".ndx", ".ntx")):
                indexes.append(os.path.join(root, name))
    problems, checked = [], 0
    for index in sorted(indexes):
        if index in listings:
            info = listings[index]
            rc, keys, err = cli_keys(cli, info["table"], index)
            if rc != 0:
                problems.append(f"{index}: keys failed: {err}")
                continue
            expected = read_listing(info["expected"])
            mine = [k["recno"] for k in keys]
            theirs = [r for r, _ in expected]
            if mine != theirs:
                i = first_difference(mine, theirs)
                problems.append(f"{index}: record order differs from the listing at {i} "
                                f"({len(mine)} keys, listing {len(theirs)})")
                continue
            if info["keys_listed"]:
                bad = [i for i, (k, (_, key)) in enumerate(zip(keys, expected))
                       if not same_key(k["key"], key, info["keytype"])]
                if bad:
                    i = bad[0]
                    problems.append(f"{index}: key {i} is {keys[i]['key']!r}, listing "
                                    f"{expected[i][1]!r}")
                    continue
            checked += 1
            continue

        # No listing: Perl XBase's reading, on the first table whose records cover the
        # index (Perl's known fault on some NTX files, keys returned twice, is recognised
        # and index_walk.py decides then).
        chosen, readable = None, None
        for table in candidate_tables(index):
            rc, keys, err = cli_keys(cli, table, index)
            if rc == 0 and all(1 <= k["recno"] <= record_count(table) for k in keys):
                chosen = (table, keys)
                break
            if rc == 0 and not readable:
                readable = (table, keys)
        # An index whose table is not among the fixtures still walks in its own order.
        chosen = chosen or readable
        if not chosen:
            problems.append(f"{index}: no table of its folder reads with it")
            continue
        table, keys = chosen
        mine = [k["recno"] for k in keys]
        rc, theirs, err = perl_keys(shared, index, table)
        if rc != 0:
            rc, theirs, err = perl_keys(shared, index, table, "char")
        perl = [k["recno"] for k in theirs]
        if rc == 0 and perl == mine:
            bad = key_differences(cli, table, index, keys, theirs)
            if bad:
                problems.append(f"{index} [{os.path.basename(table)}]: {bad}")
            else:
                checked += 1
            continue
        rc2, walked, err2 = walk_keys(shared, index)
        walk = [k["recno"] for k in walked]
        perl_fault = rc != 0 or len(set(perl)) != len(perl)
        if rc2 == 0 and walk == mine and perl_fault:
            checked += 1
            continue
        i = first_difference(mine, perl)
        problems.append(f"{index} [{os.path.basename(table)}]: order differs from Perl XBase at "
                        f"{i} ({len(mine)} keys, Perl {len(perl)}{'' if rc == 0 else ', ' + err}; "
                        f"index_walk {'same' if walk == mine else 'differs'})")
    for p in problems:
        print(p)
    print(f"{checked} indexes read, {len(problems)} differences")
    return 1 if problems else 0


# ---------------------------------------------------------------------------------------
# Writing: indexes built by `index` on peer-written tables.

# Each case: index file, key expression, options, key kind (C, N, D) and whether the order
# can be computed here from the table's values.
WRITE_CASES = [
    ("name.ntx", "NAME", [], "C", True),
    ("name.ndx", "NAME", [], "C", True),
    ("nameu.ntx", "NAME", ["--unique"], "C", True),
    ("named.ntx", "NAME", ["--descending"], "C", True),
    ("amount.ntx", "AMOUNT", [], "N", True),
    ("amount.ndx", "AMOUNT", [], "N", True),
    ("amountd.ntx", "AMOUNT", ["--descending"], "N", True),
    ("born.ntx", "BORN", [], "D", True),
    ("born.ndx", "BORN", [], "D", True),
    ("upname.ntx", "UPPER(NAME)+DTOS(BORN)", [], "C", False),
    ("forname.ntx", "NAME", ["--for", "AMOUNT > 0"], "C", True),
]


def julian_to_iso(day):
    jd = int(day)
    l = jd + 68569
    n = 4 * l // 146097
    l -= (146097 * n + 3) // 4
    i = 4000 * (l + 1) // 1461001
    l = l - 1461 * i // 4 + 31
    j = 80 * l // 2447
    d = l - 2447 * j // 80
    l = j // 11
    m = j + 2 - 12 * l
    y = 100 * (n - 49) + i + l
    return "%04d-%02d-%02d" % (y, m, d)


def peer_key(key, kind, ndx):
    """A peer's key in the form `keys` prints."""
    if kind == "N":
        return key
    if kind == "D":
        if ndx:
            return None if key >= 1e99 else julian_to_iso(key)
        return "%s-%s-%s" % (key[:4], key[4:6], key[6:]) if key.strip() else None
    return key


def model_order(records, codepage, name, options):
    """Record numbers in the order the index must have, from the peer's own values."""
    field = {"name": "NAME", "amou": "AMOUNT", "born": "BORN", "forn": "NAME"}[name[:4]]
    ndx = name.endswith(".ndx")
    rows = []
    for recno, record in enumerate(records, 1):
        fields = record["fields"]
        if "--for" in options and not (fields["AMOUNT"] is not None and
                                       float(fields["AMOUNT"]) > 0):
            continue
        value = fields[field]
        if field == "NAME":
            key = (value or "").rstrip(" ").encode(codepage)
        elif field == "AMOUNT":
            key = float(value) if value is not None else 0.0
        else:
            key = value.replace("-", "") if value else ("~" if ndx else "")
        rows.append((key, recno))
    descending = "--descending" in options
    rows.sort(key=lambda r: r[1])
    rows.sort(key=lambda r: r[0], reverse=descending)  # stable: equal keys by recno
    if "--unique" in options:
        seen, kept = set(), []
        for key, recno in rows:
            if key not in seen:
                seen.add(key)
                kept.append((key, recno))
        rows = kept
    return [recno for _, recno in rows]


def check_write(cli, shared, work):
    peers = os.path.join(shared, "peers")
    problems, checked = [], 0
    for seed, records in ((3, 300), (11, 1500)):
        folder = os.path.join(work, f"seed{seed}")
        os.makedirs(folder, exist_ok=True)
        rc, _, err = run([PYTHON, os.path.join(peers, "make_tables.py"), folder, "--seed",
                          str(seed), "--records", str(records), "--only", "db3_plain"])
        if rc != 0:
            problems.append(f"make_tables.py failed: {err}")
            continue
        table = os.path.join(folder, "db3_plain.dbf")
        with open(os.path.join(folder, "db3_plain.expected.json")) as f:
            expected = json.load(f)
        for name, key, options, kind, modelled in WRITE_CASES:
            index = os.path.join(folder, name)
            ndx = name.endswith(".ndx")
            rc, _, err = run([cli, "index", table, index, "--key", key] + options)
            if rc != 0:
                problems.append(f"{name}: index failed: {err}")
                continue
            rc, mine, err = cli_keys(cli, table, index)
            if rc != 0:
                problems.append(f"{name}: keys failed: {err}")
                continue
            if "--for" in options:  # Perl XBase reads no NTX file with a FOR condition
                rc, theirs, err = walk_keys(shared, index)
                compare_keys = False
            else:
                rc, theirs, err = perl_keys(shared, index, table,
                                            None if ndx else ("num" if kind == "N" else "char"))
                compare_keys = True
            if rc != 0:
                problems.append(f"{name}: the peer cannot read it: {err}")
                continue
            mine_recnos = [k["recno"] for k in mine]
            their_recnos = [k["recno"] for k in theirs]
            where = f"{name} (seed {seed})"
            if mine_recnos != their_recnos:
                i = first_difference(mine_recnos, their_recnos)
                problems.append(f"{where}: the peer reads another order from {i} "
                                f"({len(mine)} keys, peer {len(theirs)})")
                continue
            if compare_keys:
                bad = [i for i, (m, t) in enumerate(zip(mine, theirs))
                       if (abs(m["key"] - t["key"]) > 1e-6 if kind == "N"
                           else m["key"] != peer_key(t["key"], kind, ndx))]
                if bad:
                    i = bad[0]
                    problems.append(f"{where}: key {i} is {mine[i]['key']!r}, the peer reads "
                                    f"{theirs[i]['key']!r}")
                    continue
            if modelled:
                model = model_order(expected["records"], expected["codepage"], name, options)
                if model != mine_recnos:
                    i = first_difference(model, mine_recnos)
                    problems.append(f"{where}: order differs from the table's values at {i}")
                    continue
            checked += 1
    for p in problems:
        print(p)
    print(f"{checked} indexes written, {len(problems)} differences")
    return 1 if problems else 0


def check_seek(cli, shared):
    listings = harbour_listings(shared)
    problems, checked = [], 0
    for index, info in sorted(listings.items()):
        if not info["keys_listed"]:
            continue
        rows = read_listing(info["expected"])
        holders = {}
        for recno, key in rows:
            holders.setdefault(key, []).append(recno)
        values = [key for key in holders if key][:25]
        if info["keytype"] == "C":
            values.append("\x7f no such key")
        rc, out, err = run([cli, "keys", info["table"], index] +
                           [a for v in values for a in ("--seek", v)])
        if rc != 0:
            problems.append(f"{index}: keys --seek failed: {err}")
            continue
        for line, value in zip(json_lines(out), values):
            wanted = holders.get(value)
            if info["keytype"] == "C" and wanted and value != value.rstrip():
                continue
            if bool(wanted) != line["found"] or (wanted and line["recno"] != wanted[0]):
                problems.append(f"{index}: seek {value!r} gave {line}")
        checked += 1
    for p in problems:
        print(p)
    print(f"{checked} indexes sought, {len(problems)} differences")
    return 1 if problems else 0


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    mode, cli, shared = sys.argv[1], sys.argv[2], sys.argv[3]
    if mode == "read":
        return check_read(cli, shared)
    if mode == "write":
        return check_write(cli, shared, sys.argv[4])
    if mode == "seek":
        return check_seek(cli, shared)
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
