#!/usr/bin/env python3
"""Interop checks of `fendral-cli keys`, `tags` and `index` on CDX files.

usage:
  check_cdx.py read CLI SHARED          every CDX fixture: `tags` lists what Perl XBase lists;
                                        every tag walks in the order of its expected listing
                                        (peer-harbour) or, where there is none, in the order
                                        Perl XBase reads (which reads descending tags in
                                        their stored, ascending order), with the same keys
  check_cdx.py write CLI SHARED WORK    tags built by `index` into one CDX file on tables the
                                        peers wrote, and then kept current by `import` and
                                        `replace`, read back in Perl XBase with the same
                                        keys, order and record numbers as `keys` prints,
                                        and in the order the table's values give
  check_cdx.py seek CLI SHARED          exact seeks of keys taken from the Harbour listings
                                        find the first entry of that key in the listed
                                        order; absent keys are not found
Prints one line per difference and a summary; exits 1 when there is any difference."""

import json
import os
import random
import sys

PYTHON = "/usr/bin/python3"  # the interpreter with Debian's python3-dbf and dbfread


def run(cmd):
    import subprocess
    p = subprocess.run(cmd, capture_output=True)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def json_lines(text):
    return [json.loads(line) for line in text.splitlines() if line.strip()]


def table_for(cdx):
    folder = os.path.dirname(cdx)
    base = os.path.splitext(os.path.basename(cdx))[0].lower()
    if os.path.basename(cdx) == "foxext.cdx":
        base = "fox"
    for name in sorted(os.listdir(folder)):
        if name.lower() == base + ".dbf":
            return os.path.join(folder, name)
    return None


def perl(shared, *args):
    return run(["perl", os.path.join(shared, "peers", "dump_table.pl")] + list(args))


def perl_keys(shared, cdx, tag, table, key_type):
    rc, out, err = perl(shared, "--index", cdx, "--tag", tag, table)
    if rc != 0:
        rc, out, err = perl(shared, "--type", key_type, "--index", cdx, "--tag", tag, table)
    return rc, (json_lines(out) if rc == 0 else []), err.strip()


def harbour_listings(shared):
    folder = os.path.join(shared, "fixtures", "peer-harbour")
    listings = {}
    with open(os.path.join(folder, "manifest.tsv")) as f:
        for line in f:
            cols = line.rstrip("\n").split("\t")
            if line.startswith("#") or len(cols) < 13 or cols[2] != "DBFCDX":
                continue
            listings[(os.path.join(folder, cols[3]), cols[4])] = {
                "table": os.path.join(folder, cols[1]), "expected": os.path.join(folder, cols[0]),
                "keytype": cols[9], "keys_listed": cols[12] == "1"}
    return listings


def read_listing(path):
    rows = []
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\n")
            if line and not line.startswith("#"):
                recno, _, key = line.partition("\t")
                rows.append((int(recno), key))
    return rows


def iso(yyyymmdd):
    return "%s-%s-%s" % (yyyymmdd[:4], yyyymmdd[4:6], yyyymmdd[6:]) if yyyymmdd else None


def same_key(mine, peer, kind):
    """Compares one of our keys with a peer's; None when the peer's form says nothing."""
    if isinstance(mine, str) and mine.startswith("hex:"):
        return None  # collation weights or a key of unknown kind
    if kind == "N":
        if not isinstance(peer, (int, float)):
            return None
        return abs(mine - peer) <= 1e-9 * max(1.0, abs(peer))
    if kind == "D":
        if isinstance(peer, (int, float)):
            peer = str(int(peer)) if peer else ""
        return mine == iso(peer)
    # Perl XBase fills trailing blanks that a key shares with the one before with NULs,
    # and cuts trailing NULs.
    return mine.rstrip("\0 ") == peer.replace("\0", " ").rstrip(" ")


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def check_read(cli, shared):
    fixtures = os.path.join(shared, "fixtures")
    listings = harbour_listings(shared)
    files = sorted(os.path.join(root, name) for root, _, names in os.walk(fixtures)
                   for name in names if name.lower().endswith(".cdx"))
    problems, checked, unreadable, binary = [], 0, 0, 0
    for cdx in files:
        table = table_for(cdx)
        if not table:
            continue
        rc, out, err = run([cli, "tags", table, cdx])
        if rc != 0:
            rcd, _, _ = run([cli, "dump", table])
            if rcd != 0:
                unreadable += 1  # a table this engine does not open: the engine tests walk it
            else:
                problems.append(f"{cdx}: tags failed: {err.strip()}")
            continue
        tags = json_lines(out)
        rc, out, err = perl(shared, "--tags", cdx, table)
        if rc == 0 and [t["name"] for t in tags] != out.split("\n")[:-1]:
            problems.append(f"{cdx}: tags {[t['name'] for t in tags]}, Perl XBase {out.split()}")
        for tag in tags:
            name, kind = tag["name"], tag["key_type"]
            where = f"{cdx} tag {name}"
            rc, out, err = run([cli, "keys", table, cdx, "--tag", name])
            if rc != 0:
                if "binary index" in err:
                    binary += 1
                else:
                    problems.append(f"{where}: keys failed: {err.strip()}")
                continue
            mine = json_lines(out)
            listing = listings.get((cdx, name))
            if listing:
                expected = read_listing(listing["expected"])
                if [k["recno"] for k in mine] != [r for r, _ in expected]:
                    i = first_difference([k["recno"] for k in mine], [r for r, _ in expected])
                    problems.append(f"{where}: order differs from the listing at {i}")
                    continue
                if listing["keys_listed"]:
                    keytype = "C" if listing["keytype"] == "L" else listing["keytype"]
                    for i, (k, (_, key)) in enumerate(zip(mine, expected)):
                        peer = float(key) if keytype == "N" else key
                        if same_key(k["key"], peer, keytype) is False:
                            problems.append(f"{where}: key {i} is {k['key']!r}, listing {key!r}")
                            break
                checked += 1
                continue
            perl_type = {"N": "num", "D": "date"}.get(kind, "char")
            rc, theirs, err = perl_keys(shared, cdx, name, table, perl_type)
            if rc != 0:
                problems.append(f"{where}: Perl XBase cannot read it: {err}")
                continue
            ordered = mine if tag["ascending"] else list(reversed(mine))
            if [k["recno"] for k in ordered] != [k["recno"] for k in theirs]:
                i = first_difference([k["recno"] for k in ordered], [k["recno"] for k in theirs])
                problems.append(f"{where}: order differs from Perl XBase at {i} "
                                f"({len(mine)} keys, Perl {len(theirs)})")
                continue
            for i, (m, t) in enumerate(zip(ordered, theirs)):
                if kind == "C" and not isinstance(t["key"], str):
                    break
                if same_key(m["key"], t["key"], kind) is False:
                    problems.append(f"{where}: key {i} is {m['key']!r}, Perl reads {t['key']!r}")
                    break
            checked += 1
    for p in problems:
        print(p)
    print(f"{checked} tags read, {binary} binary tags refused, {unreadable} tables unreadable, "
          f"{len(problems)} differences")
    return 1 if problems else 0


# Each case: tag, key expression, options, key kind, the field the order follows (or None).
WRITE_CASES = [
    ("NAME", "NAME", [], "C", "NAME"),
    ("NAMED", "NAME", ["--descending"], "C", "NAME"),
    ("NAMEU", "NAME", ["--unique"], "C", "NAME"),
    ("AMOUNT", "AMOUNT", [], "N", "AMOUNT"),
    ("AMOUNTD", "AMOUNT", ["--descending"], "N", "AMOUNT"),
    ("BORN", "BORN", [], "D", "BORN"),
    ("POSITIVE", "NAME", ["--for", "AMOUNT > 0"], "C", "NAME"),
    ("NAMEBORN", "UPPER(NAME)+DTOS(BORN)", [], "C", None),
]


def model_order(records, codepage, field, options):
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
            key = value or ""
        rows.append((key, recno))
    rows.sort()  # equal keys by record number, as CDX tags keep them
    if "--unique" in options:
        seen, kept = set(), []
        for key, recno in rows:
            if key not in seen:
                seen.add(key)
                kept.append((key, recno))
        rows = kept
    order = [recno for _, recno in rows]
    return list(reversed(order)) if "--descending" in options else order


def verify_tags(cli, shared, table, cdx, records, codepage, where, built=True):
    """Every tag of WRITE_CASES: `keys` against Perl XBase's reading and the table's values.
    A unique tag that was kept current holds the key of the record that brought it first,
    which need not be the lowest record number: its order is checked only when built."""
    problems, checked = [], 0
    for name, key, options, key_kind, field in WRITE_CASES:
        at = f"{name} ({where})"
        rc, out, err = run([cli, "keys", table, cdx, "--tag", name])
        if rc != 0:
            problems.append(f"{at}: keys failed: {err.strip()}")
            continue
        mine = json_lines(out)
        rc, theirs, err = perl_keys(shared, cdx, name, table,
                                    {"N": "num", "D": "date"}.get(key_kind, "char"))
        if rc != 0:
            problems.append(f"{at}: Perl XBase cannot read it: {err}")
            continue
        ordered = list(reversed(mine)) if "--descending" in options else mine
        if [k["recno"] for k in ordered] != [k["recno"] for k in theirs]:
            i = first_difference([k["recno"] for k in ordered], [k["recno"] for k in theirs])
            problems.append(f"{at}: Perl XBase reads another order from {i} "
                            f"({len(mine)} keys, Perl {len(theirs)})")
            continue
        bad = [i for i, (m, t) in enumerate(zip(ordered, theirs))
               if same_key(m["key"], t["key"], key_kind) is False]
        if bad:
            i = bad[0]
            problems.append(f"{at}: key {i} is {ordered[i]['key']!r}, Perl reads "
                            f"{theirs[i]['key']!r}")
            continue
        if field and (built or "--unique" not in options):
            model = model_order(records, codepage, field, options)
            if model != [k["recno"] for k in mine]:
                i = first_difference(model, [k["recno"] for k in mine])
                problems.append(f"{at}: order differs from the table's values at {i}")
                continue
        checked += 1
    return problems, checked


def maintain(cli, table, cdx, seed, folder):
    """Appends and rewrites through the tool, the CDX file open; errors as text."""
    rng = random.Random(seed)
    names = ["Smith", "SMITHSON", "van Dijk", "", " Lead", "Ng", "Adams", "Zed"]
    rows = []
    for _ in range(300):
        born = None if rng.random() < 0.1 else "%04d-%02d-%02d" % (
            rng.randint(1900, 2020), rng.randint(1, 12), rng.randint(1, 28))
        rows.append(json.dumps({"fields": {"NAME": rng.choice(names) + str(rng.randint(0, 99)),
                                           "AMOUNT": rng.randint(-99999, 99999) / 100,
                                           "BORN": born}}))
    rows_file = os.path.join(folder, "rows.jsonl")
    with open(rows_file, "w") as f:
        f.write("\n".join(rows) + "\n")
    rc, _, err = run([cli, "import", table, rows_file, "--index", cdx])
    if rc != 0:
        return f"import failed: {err.strip()}"
    count = len(json_lines(run([cli, "dump", table])[1]))
    for _ in range(120):
        recno = rng.randint(1, count)
        born = "%04d%02d%02d" % (rng.randint(1900, 2020), rng.randint(1, 12), rng.randint(1, 28))
        rc, _, err = run([cli, "replace", table, str(recno), "NAME=" + rng.choice(names),
                          "AMOUNT=%.2f" % (rng.randint(-99999, 99999) / 100), "BORN=" + born,
                          "--index", cdx])
        if rc != 0:
            return f"replace failed: {err.strip()}"
    return ""


def check_write(cli, shared, work):
    problems, checked = [], 0
    for seed, records, kind in ((3, 300, "db3_plain"), (11, 4000, "db3_plain"),
                                (5, 1500, "fox_memo")):
        folder = os.path.join(work, f"seed{seed}")
        os.makedirs(folder, exist_ok=True)
        rc, _, err = run([PYTHON, os.path.join(shared, "peers", "make_tables.py"), folder,
                          "--seed", str(seed), "--records", str(records), "--only", kind])
        if rc != 0:
            problems.append(f"make_tables.py failed: {err}")
            continue
        table = os.path.join(folder, kind + ".dbf")
        cdx = os.path.join(folder, "tags.cdx")
        with open(os.path.join(folder, kind + ".expected.json")) as f:
            expected = json.load(f)
        # A tag defined twice: the second definition replaces the first.
        run([cli, "index", table, cdx, "--tag", "NAME", "--key", "CITY"])
        for name, key, options, key_kind, _ in WRITE_CASES:
            rc, _, err = run([cli, "index", table, cdx, "--tag", name, "--key", key] + options)
            if rc != 0:
                problems.append(f"{name}: index failed: {err.strip()}")
        rc, out, err = run([cli, "tags", table, cdx])
        names = [t["name"] for t in json_lines(out)] if rc == 0 else []
        if names != sorted(c[0] for c in WRITE_CASES):
            problems.append(f"seed {seed}: tags are {names}")
        found, done = verify_tags(cli, shared, table, cdx, expected["records"],
                                  expected["codepage"], f"seed {seed}")
        problems += found
        checked += done
        if seed != 11:
            continue
        # The same tags kept current by appends and rewrites, then read again.
        failure = maintain(cli, table, cdx, seed, folder)
        if failure:
            problems.append(f"seed {seed}: {failure}")
            continue
        rc, out, err = perl(shared, "--codepage", expected["codepage"], table)
        if rc != 0:
            problems.append(f"seed {seed}: Perl XBase cannot read the table: {err}")
            continue
        found, done = verify_tags(cli, shared, table, cdx, json_lines(out), expected["codepage"],
                                  f"seed {seed}, maintained", built=False)
        problems += found
        checked += done
    for p in problems:
        print(p)
    print(f"{checked} tags written, {len(problems)} differences")
    return 1 if problems else 0


def check_seek(cli, shared):
    problems, checked = [], 0
    for (cdx, name), info in sorted(harbour_listings(shared).items()):
        if not info["keys_listed"] or info["keytype"] not in ("C", "N", "D"):
            continue
        holders = {}
        for recno, key in read_listing(info["expected"]):
            holders.setdefault(key, []).append(recno)
        values = [key for key in holders if key and key == key.strip()][:25]
        if info["keytype"] == "C":
            values.append("~ no such key")
        elif info["keytype"] == "N":
            values.append("123456.789")
        rc, out, err = run([cli, "keys", info["table"], cdx, "--tag", name] +
                           [a for v in values for a in ("--seek", v)])
        if rc != 0:
            problems.append(f"{cdx} {name}: keys --seek failed: {err.strip()}")
            continue
        for line, value in zip(json_lines(out), values):
            wanted = holders.get(value)
            if bool(wanted) != line["found"] or (wanted and line["recno"] != wanted[0]):
                problems.append(f"{cdx} {name}: seek {value!r} gave {line}")
        checked += 1
    for p in problems:
        print(p)
    print(f"{checked} tags sought, {len(problems)} differences")
    return 1 if problems else 0


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    mode, cli, shared = sys.argv[1], sys.argv[2], sys.argv[3]
    if mode == "read":
        return check_read(cli, shared)
    if mode == "write" and len(sys.argv) > 4:
        return check_write(cli, shared, sys.argv[4])
    if mode == "seek":
        return check_seek(cli, shared)
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
