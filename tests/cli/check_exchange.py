#!/usr/bin/env python3
"""Fixture checks of `fendral-cli export --format jsonl|csv`, `create --from-schema` and
`import --format csv`.

usage:
  check_exchange.py schema CLI SHARED WORK  every fixture table that opens: export as JSON
                                            Lines with a schema, create from the schema,
                                            import; same dump, same header fields, same
                                            record bytes apart from memo blocks, the
                                            indexes rebuilt with the same tags
  check_exchange.py csv CLI SHARED WORK     every fixture table that opens: Python's csv
                                            module reads our CSV as the dump's values; the
                                            CSV imported into a table made from the schema
                                            dumps as the original
Prints one line per difference and a summary; exits 1 when there is any difference."""

import csv
import decimal
import io
import json
import os
import struct
import subprocess
import sys

csv.field_size_limit(1 << 30)
ENCODING = "ISO-8859-1"  # every byte is a character: table text goes through unchanged
SKIPPED = []  # tags create reported it could not rebuild (listed, not counted as faults)


def run(cmd):
    return subprocess.run(cmd, capture_output=True)


def dump(cli, table, keep_text=False, extra=()):
    p = run([cli, "dump", table, "--encoding", ENCODING] + list(extra))
    # Kept as text, numbers keep their digits and fields their order, names repeated too.
    hooks = {"parse_float": str, "parse_int": str,
             "object_pairs_hook": lambda pairs: pairs} if keep_text else {}
    lines = [json.loads(l, **hooks) for l in p.stdout.decode("utf-8").split("\n") if l.strip()]
    return p.returncode, lines, p.stderr.decode("utf-8", "replace")


def header(path):
    """Version, language mark, descriptors (name, type, length, decimals, flags), header
    length and record length of a table file, and its record bytes."""
    with open(path, "rb") as f:
        data = f.read()
    version, mark = data[0], data[29]
    header_length, record_length = struct.unpack_from("<HH", data, 8)
    fields, at = [], 32
    while at + 32 <= header_length and data[at] != 0x0D:
        d = data[at:at + 32]
        fields.append((d[:11].split(b"\0")[0], chr(d[11]), d[16], d[17], d[18]))
        at += 32
    count = struct.unpack_from("<I", data, 4)[0]
    records = [data[header_length + i * record_length: header_length + (i + 1) * record_length]
               for i in range(count)]
    return version, mark, fields, record_length, records


def same_bytes(ftype, a, b):
    """Stored bytes of one field, equal or the same value in another of its stored forms:
    a number aligned otherwise, a blank of spaces or of zero bytes, Y/N for T/F."""
    if a == b:
        return True
    sa, sb = a.strip(b" \0"), b.strip(b" \0")
    if ftype in "NF":
        if sa.strip(b".") == b"" and sb.strip(b".") == b"":
            return True
        try:
            return decimal.Decimal(sa.decode()) == decimal.Decimal(sb.decode())
        except (decimal.InvalidOperation, UnicodeDecodeError):
            return False
    if ftype == "L":
        # Any other byte reads as no value (null), and comes back blank.
        canon = {b"Y": b"T", b"y": b"T", b"t": b"T", b"T": b"T", b"N": b"F", b"n": b"F",
                 b"f": b"F", b"F": b"F"}
        return canon.get(sa, b"?") == canon.get(sb, b"?")
    if ftype == "D":
        return sa == sb
    return False


def differing_field(version, fields, a, b, unreadable):
    """The first field whose bytes differ other than in form (memo fields and the fields
    in `unreadable`, which dump could not read, left out)."""
    visual = 0x30 <= version <= 0x32
    if (a[:1] == b"*") != (b[:1] == b"*"):
        return "deletion flag"
    offset = 1
    for name, ftype, length, decimals, flags in fields:
        width = length + 256 * decimals if ftype == "C" else length
        memo = ftype in "MGPW" or (ftype == "B" and not visual)
        if (not memo and name.decode("latin-1") not in unreadable and
                not same_bytes(ftype, a[offset:offset + width], b[offset:offset + width])):
            return "%s %r / %r" % (name.decode("latin-1"), a[offset:offset + width],
                                   b[offset:offset + width])
        offset += width
    return None


def same_records(first, second):
    """Dumps equal, an empty memo with a block and one without taken as the same."""
    if len(first) != len(second):
        return "%d records, then %d" % (len(first), len(second))
    for a, b in zip(first, second):
        fa = {k: (None if v == "" else v) for k, v in a["fields"].items()}
        fb = {k: (None if v == "" else v) for k, v in b["fields"].items()}
        if a["recno"] != b["recno"] or a.get("deleted") != b.get("deleted") or fa != fb:
            diff = [k for k in fa if fa[k] != fb.get(k)]
            return "rec %s differs in %s: %r / %r" % (a["recno"], diff[:3] or "recno/deleted",
                                                     [fa.get(k) for k in diff[:2]],
                                                     [fb.get(k) for k in diff[:2]])
    return None


def fixture_tables(cli, shared):
    fixtures = os.path.join(shared, "fixtures")
    for root, _, files in sorted(os.walk(fixtures)):
        for name in sorted(files):
            if not name.lower().endswith(".dbf"):
                continue
            path = os.path.join(root, name)
            info = subprocess.run([cli, "info", path], capture_output=True, text=True)
            if info.returncode != 0:
                continue
            facts = json.loads(info.stdout)
            if facts["records"] > 20000 or facts["record_length"] == 1:
                continue
            code, first, err = dump(cli, path)
            if "File not found" in err:
                continue  # the memo file is missing
            # Values dump could not read ("record N field F: ...") are written as null.
            unreadable = {}
            for line in err.split("\n"):
                words = line.split()
                if line.startswith("fendral-cli: warning: record ") and len(words) > 5:
                    unreadable.setdefault(int(words[3]), set()).add(words[5].rstrip(":"))
            yield path, os.path.relpath(path, fixtures), code, first, unreadable


def rebuild(cli, path, rel, work, problems):
    """Exports `path` with its schema and makes the new, empty table; answers the new
    table, the JSON Lines file and the schema, or None."""
    folder = os.path.join(work, rel.replace(os.sep, "_") + ".d")
    os.makedirs(folder, exist_ok=True)
    schema_file = os.path.join(folder, "schema.json")
    lines = os.path.join(folder, "records.jsonl")
    with open(lines, "wb") as out:
        p = subprocess.run([cli, "export", path, "--format", "jsonl", "--with-deleted",
                            "--schema", schema_file, "--encoding", ENCODING],
                           stdout=out, stderr=subprocess.PIPE)
    if p.returncode not in (0, 2):
        problems.append("%s: export failed: %s" % (rel, p.stderr.decode().strip()[:300]))
        return None
    with open(schema_file, encoding="utf-8") as f:
        schema = json.load(f)
    # The same name: key expressions may name the table as an alias.
    target = os.path.join(folder, os.path.basename(path))
    p = run([cli, "create", target, "--from-schema", schema_file])
    if p.returncode != 0:
        problems.append("%s: create failed: %s" % (rel, p.stderr.decode().strip()[:300]))
        return None
    skipped = set()
    for line in p.stderr.decode().split("\n"):
        if line.startswith("fendral-cli: warning: tag "):
            skipped.add(line.split()[3].upper())
            SKIPPED.append("%s: %s" % (rel, line[len("fendral-cli: warning: "):]))
        elif line.strip():
            problems.append("%s: create said %s" % (rel, line[:300]))
    for index in schema["indexes"]:
        index["tags"] = [t for t in index["tags"] if t["name"].upper() not in skipped]
    return target, lines, schema, folder


def index_options(schema, folder):
    out = []
    for index in schema["indexes"]:
        if not index["production"]:
            out += ["--index", os.path.join(folder, index["file"])]
    return out


def check_schema(cli, shared, work):
    problems, done, indexes = [], 0, 0
    for path, rel, code, first, unreadable in fixture_tables(cli, shared):
        made = rebuild(cli, path, rel, work, problems)
        if not made:
            continue
        target, lines, schema, folder = made
        p = run([cli, "import", target, lines, "--encoding", ENCODING] +
                index_options(schema, folder))
        if p.returncode != 0:
            problems.append("%s: import failed: %s" % (rel, p.stderr.decode().strip()[:300]))
            continue
        done += 1
        code2, second, err2 = dump(cli, target)
        if code2 != 0:
            problems.append("%s: dump of the new table exit %d: %s" % (rel, code2, err2[:300]))
        wrong = same_records(first, second)
        if wrong:
            problems.append("%s: %s" % (rel, wrong))
        v1, m1, f1, l1, r1 = header(path)
        v2, m2, f2, l2, r2 = header(target)
        if (v1, m1, f1, l1) != (v2, m2, f2, l2):
            problems.append("%s: header differs: %r / %r" % (rel, (hex(v1), m1, f1, l1)[:3],
                                                             (hex(v2), m2, f2, l2)[:3]))
            continue
        for i, (a, b) in enumerate(zip(r1, r2)):
            wrong = differing_field(v1, f1, a, b, unreadable.get(i + 1, set()))
            if wrong:
                problems.append("%s rec %d: record bytes differ: %s" % (rel, i + 1, wrong))
                break
        # Each index of the original is there again with the same tags, and keeps the new
        # table's records.
        for index in schema["indexes"]:
            name = index["file"]
            new_file = (os.path.splitext(target)[0] + os.path.splitext(name)[1]
                        if index["production"] else os.path.join(folder, name))
            p = run([cli, "tags", target, new_file])
            tags = [json.loads(l) for l in p.stdout.decode().split("\n") if l.strip()]
            want = [(t["name"].upper(), t["expression"], t["for"], t["unique"], t["descending"])
                    for t in index["tags"]]
            got = [(t["name"].upper(), t["key"], t["for"], t["unique"], not t["ascending"])
                   for t in tags]
            if p.returncode != 0 or sorted(want) != sorted(got):
                problems.append("%s %s: tags %r, rebuilt %r" % (rel, name, want, got))
                continue
            indexes += 1
            for tag in index["tags"]:
                c, ordered, err = dump(cli, target, False,
                                       ["--index", new_file, "--tag", tag["name"]])
                keys = run([cli, "keys", target, new_file, "--tag", tag["name"]])
                count = len([l for l in keys.stdout.decode().split("\n") if l.strip()])
                if keys.returncode != 0 or (not tag["for"] and not tag["unique"]
                                            and count != len(second)):
                    problems.append("%s %s: %d keys for %d records" % (rel, tag["name"], count,
                                                                      len(second)))
    return problems, "%d fixture tables rebuilt from their schema, %d index files" % (done, indexes)


def csv_text(value):
    if value is None:
        return ""
    if value is True:
        return "true"
    if value is False:
        return "false"
    return str(value)


def check_csv(cli, shared, work):
    problems, done = [], 0
    for path, rel, code, _, _ in fixture_tables(cli, shared):
        _, exact, _ = dump(cli, path, keep_text=True)
        first = [dict(line) for line in exact]
        p = run([cli, "export", path, "--format", "csv", "--with-deleted",
                 "--table-encoding", ENCODING])
        if p.returncode not in (0, 2):
            problems.append("%s: csv export failed: %s" % (rel, p.stderr.decode()[:300]))
            continue
        rows = list(csv.reader(io.StringIO(p.stdout.decode("utf-8"), newline="")))
        if not rows or len(rows) - 1 != len(first):
            problems.append("%s: %d csv rows for %d records" % (rel, len(rows) - 1, len(first)))
            continue
        names = rows[0]
        for rec, row in zip(first, rows[1:]):
            want = [csv_text(v) for _, v in rec["fields"]] + [csv_text(rec["deleted"])]
            if names != [k for k, _ in rec["fields"]] + ["_deleted"] or row != want:
                diff = [i for i in range(min(len(row), len(want))) if row[i] != want[i]]
                problems.append("%s rec %s: csv %r, dump %r" % (
                    rel, rec["recno"], [row[i] for i in diff[:2]], [want[i] for i in diff[:2]]))
                break
        made = rebuild(cli, path, rel, os.path.join(work, "csv"), problems)
        if not made:
            continue
        target, _, schema, folder = made
        csv_file = os.path.join(folder, "records.csv")
        with open(csv_file, "wb") as f:
            f.write(p.stdout)
        q = run([cli, "import", target, csv_file, "--format", "csv", "--table-encoding",
                 ENCODING] + index_options(schema, folder))
        if q.returncode != 0:
            problems.append("%s: csv import failed: %s" % (rel, q.stderr.decode().strip()[:300]))
            continue
        done += 1
        # Numbers compared as numbers: a field keeps its decimals ("1" comes back "1.000").
        _, before, _ = dump(cli, path)
        _, second, _ = dump(cli, target)
        wrong = same_records(before, second)
        if wrong:
            problems.append("%s: csv round trip: %s" % (rel, wrong))
    return problems, "%d fixture tables through CSV and back" % done


def main():
    mode, cli, shared, work = sys.argv[1:5]
    checks = {"schema": check_schema, "csv": check_csv}
    problems, summary = checks[mode](cli, shared, work)
    for line in SKIPPED:
        print("not rebuilt (engine limit): " + line)
    for line in problems[:200]:
        print(line)
    print("%s, %d differences" % (summary, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
