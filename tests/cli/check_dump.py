#!/usr/bin/env python3
"""Interop checks of `fendral-cli dump`, `create` and `import` against other programs.

usage:
  check_dump.py harbour CLI SHARED        dump every peer-harbour table that has a
                                          records listing and compare with it
  check_dump.py peers CLI SHARED WORK     tables the peers write (several seeds) dump
                                          equal to their expected values
  check_dump.py write CLI SHARED WORK     tables written by create + import read back
                                          by Perl XBase (and dbfread where it can) equal
  check_dump.py roundtrip CLI SHARED WORK every fixture table that opens: dump, import
                                          into an emptied copy, dump again: same lines
Prints one line per difference and a summary; exits 1 when there is any difference."""

import base64
import decimal
import json
import os
import shutil
import struct
import subprocess
import sys

PYTHON = "/usr/bin/python3"  # the interpreter with Debian's python3-dbf and dbfread


def run_dump(cli, table, encoding=None):
    cmd = [cli, "dump", table]
    if encoding:
        cmd += ["--encoding", encoding]
    p = subprocess.run(cmd, capture_output=True)
    lines = [json.loads(l) for l in p.stdout.decode("utf-8").split("\n") if l.strip()]
    return p.returncode, lines, p.stderr.decode("utf-8", "replace")


def fixed(value, decimals):
    q = decimal.Decimal(1).scaleb(-decimals) if decimals else decimal.Decimal(1)
    return str(decimal.Decimal(str(value)).quantize(q, rounding=decimal.ROUND_HALF_UP))


# ---------------------------------------------------------------------------------------
def unescape(text):
    out, i = [], 0
    table = {"\\": "\\", "t": "\t", "n": "\n", "r": "\r", "0": "\0", "z": "\x1a"}
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in table:
            out.append(table[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def check_harbour(cli, shared):
    folder = os.path.join(shared, "fixtures", "peer-harbour")
    problems, checked = [], 0
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".records.tsv"):
            continue
        table = os.path.join(folder, name[: -len(".records.tsv")] + ".dbf")
        rows, columns = [], []
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            for line in f:
                line = line.rstrip("\n")
                if line.startswith("#recno"):
                    columns = [c.split(":") for c in line.split("\t")[2:]]
                elif line and not line.startswith("#"):
                    rows.append(line.split("\t"))
        code, dump, err = run_dump(cli, table, "CP1252")
        if code != 0:
            problems.append("%s: dump exit %d %s" % (name, code, err.strip()))
        if len(dump) != len(rows):
            problems.append("%s: %d records, listing %d" % (name, len(dump), len(rows)))
        for row, rec in zip(rows, dump):
            checked += 1
            if int(row[0]) != rec["recno"] or (row[1] == "1") != rec["deleted"]:
                problems.append("%s rec %s: recno/deleted differ" % (name, row[0]))
            for (fname, ftype, flen, fdec), want in zip(columns, row[2:]):
                got = rec["fields"][fname]
                if ftype == "N":
                    got = fixed(got if got is not None else 0, int(fdec))
                elif ftype == "D":
                    got = got.replace("-", "") if got else ""
                elif ftype == "L":
                    got = "T" if got else "F"
                elif ftype == "M":
                    # The listing cuts trailing blanks of memos too (the peers'
                    # own readers keep them).
                    got = (got if got is not None else "").rstrip(" ")
                    want = unescape(want)
                if got != want:
                    problems.append("%s rec %s %s: %r, listing %r" % (name, row[0], fname, got, want))
    return problems, "%d records compared with the peer's listings" % checked


# ---------------------------------------------------------------------------------------
def canonical(value, ftype, decimals, visual):
    """Our dump value in the peers' canonical form."""
    if ftype in ("N", "F") and not (visual and ftype in "BIYT"):
        return None if value is None else fixed(value, decimals)
    if visual and ftype == "I":
        return str(value)
    if visual and ftype == "B":
        return "%.17g" % value
    if visual and ftype == "Y":
        return None if value is None else fixed(value, 4)
    if visual and ftype == "T":
        return value
    if ftype == "L":
        return None if value is None else ("T" if value else "F")
    if ftype == "M":
        return "" if value is None else value
    if ftype in ("G", "P") or (ftype == "B" and not visual):
        return "" if value is None else "hex:" + base64.b64decode(value).hex()
    return value


def compare_expected(cli, expected_path, table):
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)
    types = {n: (t, d) for n, t, l, d in expected["fields"]}
    code, dump, err = run_dump(cli, table, expected["codepage"])
    problems = []
    name = os.path.basename(table)
    if code != 0:
        problems.append("%s: dump exit %d %s" % (name, code, err.strip()))
    visual = open(table, "rb").read(1) == b"\x30"
    if len(dump) != len(expected["records"]):
        problems.append("%s: %d records, expected %d" % (name, len(dump), len(expected["records"])))
    for want, rec in zip(expected["records"], dump):
        if want["recno"] != rec["recno"] or want["deleted"] != rec["deleted"]:
            problems.append("%s rec %d: recno/deleted differ" % (name, want["recno"]))
        for fname, wv in want["fields"].items():
            t, d = types[fname]
            gv = canonical(rec["fields"].get(fname), t, d, visual)
            if gv != wv:
                problems.append("%s rec %d %s: %r, expected %r" % (name, want["recno"], fname, gv, wv))
    return problems


def make_peer_tables(shared, out, seed, records=40):
    subprocess.run([PYTHON, os.path.join(shared, "peers", "make_tables.py"), out,
                    "--seed", str(seed), "--records", str(records)],
                   check=True, capture_output=True)


def check_peers(cli, shared, work):
    problems, tables = [], 0
    for seed in (1, 2, 3, 7):
        out = os.path.join(work, "seed%d" % seed)
        make_peer_tables(shared, out, seed)
        for name in sorted(os.listdir(out)):
            if name.endswith(".expected.json"):
                tables += 1
                table = os.path.join(out, name[: -len(".expected.json")] + ".dbf")
                problems += compare_expected(cli, os.path.join(out, name), table)
    return problems, "%d peer tables compared" % tables


# ---------------------------------------------------------------------------------------
def to_import(value, ftype, visual):
    """A canonical expected value as a dump/import value."""
    if value is None:
        return None
    if visual and ftype == "I":
        return int(value)
    if visual and ftype == "B":
        return float(value)
    if ftype in ("N", "F"):
        return decimal.Decimal(value)
    if ftype == "L":
        return value == "T"
    if ftype == "M":
        return value if value != "" else None
    if ftype in ("G", "P", "B") and isinstance(value, str) and value.startswith("hex:"):
        return base64.b64encode(bytes.fromhex(value[4:])).decode("ascii")
    return value


class DecimalEncoder(json.JSONEncoder):
    def default(self, o):
        if isinstance(o, decimal.Decimal):
            return float(o)
        return super().default(o)


def dumps(obj):
    # Decimals must keep their digits: write them as raw number text.
    text = json.dumps(obj, ensure_ascii=False, cls=DecimalEncoder)
    return text


def write_import_file(expected, path, visual):
    types = {n: t for n, t, l, d in expected["fields"]}
    with open(path, "w", encoding="utf-8") as f:
        for rec in expected["records"]:
            fields = {}
            for name, value in rec["fields"].items():
                v = to_import(value, types[name], visual)
                fields[name] = v
            line = {"recno": rec["recno"], "deleted": rec["deleted"], "fields": fields}
            text = json.dumps(line, ensure_ascii=False, default=str)
            # json.dumps wrote Decimals as strings through default=str: make them numbers.
            for name, value in fields.items():
                if isinstance(value, decimal.Decimal):
                    text = text.replace(json.dumps(name) + ": " + json.dumps(str(value)),
                                        json.dumps(name) + ": " + str(value))
            f.write(text + "\n")


def check_write(cli, shared, work):
    problems, tables = [], 0
    variants = {"db3_memo": ("dbase3", None), "db3_plain": ("dbase3", None),
                "clipper": ("clipper", None), "db4_memo": ("dbase4", None),
                "fox_memo": ("foxpro", "512"), "fox_memo64": ("foxpro", "64")}
    for seed in (1, 5):
        src = os.path.join(work, "wseed%d" % seed)
        make_peer_tables(shared, src, seed, 30)
        for base, (kind, block) in sorted(variants.items()):
            expected_path = os.path.join(src, base + ".expected.json")
            with open(expected_path, encoding="utf-8") as f:
                expected = json.load(f)
            ours_dir = os.path.join(work, "ours%d" % seed)
            os.makedirs(ours_dir, exist_ok=True)
            table = os.path.join(ours_dir, base + ".dbf")
            field_args = ["%s:%s:%d:%d" % (n, t, l, d) for n, t, l, d in expected["fields"]]
            cmd = [cli, "create", table, "--type", kind] + (["--block-size", block] if block else [])
            p = subprocess.run(cmd + field_args, capture_output=True, text=True)
            if p.returncode != 0:
                problems.append("%s: create failed: %s" % (base, p.stderr.strip()))
                continue
            lines = os.path.join(ours_dir, base + ".jsonl")
            write_import_file(expected, lines, False)
            p = subprocess.run([cli, "import", table, lines, "--encoding", expected["codepage"]],
                               capture_output=True, text=True)
            if p.returncode != 0:
                problems.append("%s: import failed: %s" % (base, p.stderr.strip()))
                continue
            tables += 1
            # Our table must carry the expected file's name for check_table's "table" entry.
            for reader in ("xbase", "dbfread"):
                if reader == "dbfread" and kind == "dbase4":
                    continue  # dbfread misreads dBase IV memos
                p = subprocess.run([PYTHON, os.path.join(shared, "peers", "check_table.py"),
                                    expected_path, table, "--reader", reader],
                                   capture_output=True, text=True)
                if p.returncode != 0:
                    problems.append("%s seed %d read by %s: %s" % (base, seed, reader,
                                                                   (p.stdout + p.stderr).strip()[:800]))
            # And our own dump of our table gives the expected values.
            problems += compare_expected(cli, expected_path, table)
    return problems, "%d tables written and read back by the peers" % tables


# ---------------------------------------------------------------------------------------
def companions(path):
    folder, name = os.path.split(path)
    stem = os.path.splitext(name)[0].lower()
    out = []
    for entry in os.listdir(folder or "."):
        s, e = os.path.splitext(entry)
        if s.lower() == stem and e.lower() in (".dbt", ".fpt"):
            out.append(entry)
    return out


def check_roundtrip(cli, shared, work):
    problems, done = [], 0
    fixtures = os.path.join(shared, "fixtures")
    for root, _, files in sorted(os.walk(fixtures)):
        for name in sorted(files):
            if not name.lower().endswith(".dbf"):
                continue
            path = os.path.join(root, name)
            info = subprocess.run([cli, "info", path], capture_output=True, text=True)
            if info.returncode != 0:
                continue
            header = json.loads(info.stdout)
            if header["records"] > 20000:
                continue  # the large tables add time, not cases
            if header["record_length"] == 1:
                continue  # no fields: the end mark itself counts as a one-byte record
            code, first, err = run_dump(cli, path, "ISO-8859-1")
            if "File not found" in err:
                continue  # the memo file is missing: nothing to write memos into
            rel = os.path.relpath(path, fixtures)
            target_dir = os.path.join(work, "rt", rel.replace(os.sep, "_") + ".d")
            os.makedirs(target_dir, exist_ok=True)
            target = os.path.join(target_dir, name)
            with open(path, "rb") as f:
                head = f.read(header["header_length"])
            head = head[:4] + struct.pack("<I", 0) + head[8:]
            with open(target, "wb") as f:
                f.write(head + b"\x1a")
            for memo in companions(path):
                shutil.copy(os.path.join(root, memo), os.path.join(target_dir, memo))
            lines = target + ".jsonl"
            with open(lines, "w", encoding="utf-8") as f:
                for rec in first:
                    f.write(json.dumps(rec, ensure_ascii=False) + "\n")
            p = subprocess.run([cli, "import", target, lines, "--encoding", "ISO-8859-1"],
                               capture_output=True, text=True)
            if p.returncode != 0:
                problems.append("%s: import failed: %s" % (rel, p.stderr.strip()))
                continue
            code2, second, err2 = run_dump(cli, target, "ISO-8859-1")
            done += 1
            # A value the first dump could not read (exit 2) was written as null, and
            # reads back as null without a warning.
            if code2 != 0 or code not in (0, 2):
                problems.append("%s: dump exit %d then %d (%s)" % (rel, code, code2, err2.strip()[:300]))
            if len(first) != len(second):
                problems.append("%s: %d records, then %d" % (rel, len(first), len(second)))
                continue
            for a, b in zip(first, second):
                # An empty memo that had a block comes back without one: both are "".
                fa = {k: (None if v == "" else v) for k, v in a["fields"].items()}
                fb = {k: (None if v == "" else v) for k, v in b["fields"].items()}
                if a["deleted"] != b["deleted"] or fa != fb:
                    diff = [k for k in a["fields"] if a["fields"][k] != b["fields"].get(k)]
                    problems.append("%s rec %d: differs in %s: %r / %r" % (
                        rel, a["recno"], diff[:3] or "deleted",
                        [a["fields"].get(k) for k in diff[:2]], [b["fields"].get(k) for k in diff[:2]]))
                    break
    return problems, "%d fixture tables round-tripped" % done


def main():
    mode, cli, shared = sys.argv[1], sys.argv[2], sys.argv[3]
    work = sys.argv[4] if len(sys.argv) > 4 else None
    checks = {"harbour": lambda: check_harbour(cli, shared),
              "peers": lambda: check_peers(cli, shared, work),
              "write": lambda: check_write(cli, shared, work),
              "roundtrip": lambda: check_roundtrip(cli, shared, work)}
    problems, summary = checks[mode]()
    for line in problems[:200]:
        print(line)
    print("%s, %d differences" % (summary, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
