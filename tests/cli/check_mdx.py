#!/usr/bin/env python3
"""Interop checks of MDX files: `fendral-cli tags` and `keys` against Perl XBase's
XBase::Index (dump_table.pl), on the fixture files and on files Fendral writes.

usage:
  check_mdx.py read CLI SHARED            every fixture MDX: the same tag names, and every
                                          tag walks with the same keys and record numbers
  check_mdx.py write CLI SHARED WORK      tags built by `index` on a generated table, then
                                          maintained through appends (`import`) and
                                          rewrites (`replace`), and a copy of a file STEP 7
                                          wrote maintained the same way: Perl reads the
                                          same keys and record numbers after every step
Perl returns MDX keys as raw bytes (--raw-keys); they are decoded here: character keys
without trailing blanks and NULs, numeric keys from the dBase IV decimal form, date keys
from the stored double day number.
Prints one line per difference and a summary; exits 1 when there is any difference."""

import datetime
import decimal
import json
import os
import random
import struct
import subprocess
import sys

PYTHON = "/usr/bin/python3"  # the interpreter with Debian's python3-dbf and dbfread
ENCODING = "cp437"


def run(cmd):
    p = subprocess.run(cmd, capture_output=True)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def json_lines(text):
    return [json.loads(line) for line in text.split("\n") if line.strip()]


def bcd_value(raw):
    """The value of a 12-byte dBase IV decimal number."""
    digits = ""
    for byte in raw[2:]:
        digits += "%d%d" % (min(byte >> 4, 9), min(byte & 15, 9))
    digits = digits.rstrip("0")
    if not digits:
        return 0.0
    value = decimal.Decimal(int(digits)).scaleb(raw[0] - 52 - len(digits))
    return float(-value if raw[1] & 0x80 else value)


def date_value(raw):
    day = struct.unpack("<d", raw[:8])[0]
    if not (1 <= day < 2147483648):
        return None
    return (datetime.date.fromordinal(int(day) - 1721425)).isoformat()


def perl_keys(shared, dbf, mdx, tag, key_type):
    code, out, err = run(["perl", os.path.join(shared, "peers", "dump_table.pl"), "--index",
                          mdx, "--tag", tag, "--raw-keys", "--codepage", ENCODING, dbf])
    if code != 0:
        return None, err.strip()
    keys = []
    for line in json_lines(out):
        raw = bytes.fromhex(line["key"][len("hex:"):])
        if key_type == "N":
            key = bcd_value(raw)
        elif key_type == "D":
            key = date_value(raw)
        else:
            if raw[:1] == b"\0":
                raw = b""
            key = raw.rstrip(b" \0").decode(ENCODING)
        keys.append((line["recno"], key))
    return keys, ""


def our_tags(cli, dbf, mdx):
    code, out, err = run([cli, "tags", dbf, mdx, "--encoding", ENCODING])
    if code != 0:
        return None, err.strip()
    return json_lines(out), ""


def our_keys(cli, dbf, mdx, tag):
    code, out, err = run([cli, "keys", dbf, mdx, "--tag", tag, "--encoding", ENCODING])
    if code != 0:
        return None, err.strip()
    return [(line["recno"], line["key"]) for line in json_lines(out)], ""


def compare_file(cli, shared, dbf, mdx, label, problems):
    """Compares every tag of one file; answers the number of keys compared."""
    tags, err = our_tags(cli, dbf, mdx)
    if tags is None:
        problems.append("%s: tags failed: %s" % (label, err))
        return 0
    code, out, err = run(["perl", os.path.join(shared, "peers", "dump_table.pl"), "--tags",
                          mdx, dbf])
    if code != 0:
        problems.append("%s: Perl cannot list the tags: %s" % (label, err.strip()))
        return 0
    peer_names = sorted(line for line in out.split("\n") if line)
    if sorted(t["name"] for t in tags) != peer_names:
        problems.append("%s: tags %s, Perl %s" % (label, [t["name"] for t in tags], peer_names))
    compared = 0
    for tag in tags:
        ours, err = our_keys(cli, dbf, mdx, tag["name"])
        if ours is None:
            problems.append("%s %s: keys failed: %s" % (label, tag["name"], err))
            continue
        theirs, err = perl_keys(shared, dbf, mdx, tag["name"], tag["key_type"])
        if theirs is None:
            problems.append("%s %s: Perl cannot read the tag: %s" % (label, tag["name"], err))
            continue
        if len(ours) != len(theirs):
            problems.append("%s %s: %d keys, Perl %d" % (label, tag["name"], len(ours),
                                                         len(theirs)))
        for i, (a, b) in enumerate(zip(ours, theirs)):
            if a != b:
                problems.append("%s %s key %d: ours %r, Perl %r" % (label, tag["name"], i, a, b))
                break
        compared += min(len(ours), len(theirs))
    return compared


def companion_table(mdx):
    folder = os.path.dirname(mdx)
    base = os.path.splitext(os.path.basename(mdx))[0].lower()
    for name in sorted(os.listdir(folder)):
        stem, ext = os.path.splitext(name)
        if stem.lower() == base and ext.lower() == ".dbf":
            return os.path.join(folder, name)
    return None


def check_read(cli, shared):
    problems, files, keys = [], 0, 0
    root = os.path.join(shared, "fixtures")
    for folder, _, names in sorted(os.walk(root)):
        for name in sorted(names):
            if not name.lower().endswith(".mdx"):
                continue
            mdx = os.path.join(folder, name)
            dbf = companion_table(mdx)
            if dbf is None:
                problems.append("%s: no table beside it" % mdx)
                continue
            files += 1
            keys += compare_file(cli, shared, dbf, mdx, os.path.relpath(mdx, root), problems)
    return problems, "%d files, %d keys" % (files, keys)


# ---------------------------------------------------------------------------------------
NAMES = ["ANNA", "BORIS", "CLARA", "DMITRI", "EVA", "FELIX", "GRETA", "HUGO"]
CITIES = ["Berlin", "Paris", "Oslo", "Praha", "Wien", "", "Roma"]


def random_fields(rng):
    born = None
    if rng.random() > 0.1:
        born = "%04d-%02d-%02d" % (rng.randint(1900, 2030), rng.randint(1, 12), rng.randint(1, 28))
    amount = None if rng.random() < 0.05 else round(rng.uniform(-99999, 99999), 2)
    return {"NAME": "%s %07d" % (rng.choice(NAMES), rng.randint(0, 9999999)),
            "CITY": rng.choice(CITIES), "AMOUNT": amount, "BORN": born,
            "FLAG": rng.random() < 0.5}


TAGS = [
    ("NAME", ["--key", "NAME"]),
    ("AMOUNT", ["--key", "AMOUNT"]),
    ("BORN", ["--key", "BORN"]),
    ("CITYDOWN", ["--key", "CITY", "--descending"]),
    ("CITYUNIQ", ["--key", "CITY", "--unique"]),
    ("POSITIVE", ["--key", "AMOUNT", "--for", "AMOUNT > 0"]),
    ("CITYNAME", ["--key", "CITY+NAME"]),
    ("BORNDOWN", ["--key", "BORN", "--descending"]),
]


def check_write(cli, shared, work):
    problems, keys = [], 0
    dbf = os.path.join(work, "people.dbf")
    mdx = os.path.join(work, "people.mdx")
    code, _, err = run([PYTHON, os.path.join(shared, "peers", "gen_big.py"), dbf, "--records",
                        "3000"])
    if code != 0:
        return ["gen_big.py failed: " + err.strip()], "nothing compared"
    for name, options in TAGS:
        code, _, err = run([cli, "index", dbf, mdx, "--tag", name] + options)
        if code != 0:
            problems.append("index %s failed: %s" % (name, err.strip()))
    keys += compare_file(cli, shared, dbf, mdx, "built", problems)

    rng = random.Random(20240521)
    for step in range(3):
        rows = os.path.join(work, "rows%d.jsonl" % step)
        with open(rows, "w", encoding="utf-8") as f:
            for _ in range(700):
                f.write(json.dumps({"fields": random_fields(rng)}) + "\n")
        code, _, err = run([cli, "import", dbf, rows, "--index", mdx])
        if code != 0:
            problems.append("import %d failed: %s" % (step, err.strip()))
        count = 3000 + 700 * (step + 1)
        for _ in range(40):
            fields = random_fields(rng)
            assignments = ["NAME=" + fields["NAME"], "CITY=" + fields["CITY"],
                           "AMOUNT=" + ("" if fields["AMOUNT"] is None else str(fields["AMOUNT"])),
                           "BORN=" + ("" if fields["BORN"] is None else fields["BORN"].replace("-", ""))]
            code, _, err = run([cli, "replace", dbf, str(rng.randint(1, count))] + assignments +
                               ["--index", mdx])
            if code != 0:
                problems.append("replace failed: %s" % err.strip())
                break
        keys += compare_file(cli, shared, dbf, mdx, "after step %d" % step, problems)
    keys += check_foreign(cli, shared, work, problems)
    return problems, "%d keys" % keys


FOREIGN = os.path.join("step7-plc", "S7LIBS", "stdlibs", "OMBSTX", "OFFLINE", "00000001")


def check_foreign(cli, shared, work, problems):
    """A file STEP 7 wrote (unique tags, FOR .NOT. DELETED(), several levels) kept current
    by appends and rewrites; answers the number of keys compared."""
    folder = os.path.join(work, "foreign")
    os.makedirs(folder, exist_ok=True)
    for ext in ("DBF", "DBT", "MDX"):
        with open(os.path.join(shared, "fixtures", FOREIGN, "BAUSTEIN." + ext), "rb") as src:
            data = src.read()
        with open(os.path.join(folder, "BAUSTEIN." + ext), "wb") as dst:
            dst.write(data)
    dbf = os.path.join(folder, "BAUSTEIN.DBF")
    mdx = os.path.join(folder, "BAUSTEIN.MDX")
    keys = compare_file(cli, shared, dbf, mdx, "STEP 7 file as found", problems)
    # A tag added to the file joins the tag table (its name tree rewritten).
    code, _, err = run([cli, "index", dbf, mdx, "--tag", "NEWTAG", "--key",
                        "BLKNUMBER+BSTTYP", "--for", ".NOT. DELETED()", "--descending"])
    if code != 0:
        problems.append("index NEWTAG on the STEP 7 file failed: %s" % err.strip())
    rng = random.Random(7)
    digits = lambda: "%05d" % rng.randint(0, 60)
    rows = os.path.join(folder, "rows.jsonl")
    with open(rows, "w", encoding="utf-8") as f:
        for n in range(400):
            f.write(json.dumps({"fields": {
                "SUBBLKTYP": digits(), "BLKNUMBER": digits(), "BSTTYP": digits(),
                "BLKLANG": digits(), "OBJECTID": rng.randint(1, 500),
                "ID": 1000 + n}, "deleted": n % 9 == 0}) + "\n")
    code, _, err = run([cli, "import", dbf, rows, "--index", mdx])
    if code != 0:
        problems.append("import into the STEP 7 file failed: %s" % err.strip())
    for _ in range(40):
        code, _, err = run([cli, "replace", dbf, str(rng.randint(1, 646)),
                            "SUBBLKTYP=" + digits(), "BLKNUMBER=" + digits(),
                            "OBJECTID=%d" % rng.randint(1, 500), "--index", mdx])
        if code != 0:
            problems.append("replace in the STEP 7 file failed: %s" % err.strip())
            break
    keys += compare_file(cli, shared, dbf, mdx, "STEP 7 file maintained", problems)
    return keys


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        return 2
    mode, cli, shared = sys.argv[1:4]
    if mode == "read":
        problems, summary = check_read(cli, shared)
    elif mode == "write" and len(sys.argv) == 5:
        problems, summary = check_write(cli, shared, sys.argv[4])
    else:
        print(__doc__)
        return 2
    for p in problems:
        print(p)
    print("%s: %s, %d differences" % (mode, summary, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
