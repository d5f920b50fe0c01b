#!/usr/bin/env python3
"""Compare a table exported to SQL with `fendral-cli dump` of the same table.

  check_sql.py sqlite DB TABLE DUMP.jsonl [--with-deleted] [--ordered]
  check_sql.py rows ROWS.jsonl DUMP.jsonl [--with-deleted]

`sqlite` reads the table with Python's sqlite3 module (rows in rowid order); `rows` takes
one JSON object per row as PostgreSQL's row_to_json writes it. The columns after _recno
(and _deleted) are the dump's fields in order. Every value must be the dump's, mapped as
the export promises: null for null, exact digits for numbers, 0/1 or true/false for
logicals, the bytes of binary memos (base64 in the dump). Prints "N rows, M differences".
"""
import base64
import datetime
import decimal
import json
import sqlite3
import sys


class Num(str):
    """A JSON number, its text kept."""


def load(text):
    return json.loads(text, parse_float=Num, parse_int=Num,
                      object_pairs_hook=lambda pairs: pairs)


def timestamp(text):
    try:
        return datetime.datetime.fromisoformat(text)
    except ValueError:
        return None


def same(dumped, value):
    if dumped is None or value is None:
        return dumped is None and value is None
    if isinstance(dumped, bool):
        return value is dumped or (type(value) is int and value == int(dumped))
    if isinstance(dumped, Num):
        if isinstance(value, str) and not isinstance(value, Num):
            return value == dumped                      # exact digits as text
        if isinstance(value, float):
            return value == float(dumped)
        return decimal.Decimal(str(value)) == decimal.Decimal(dumped)
    if isinstance(value, (bytes, memoryview)) or (
            isinstance(value, str) and value.startswith("\\x")):
        raw = bytes(value) if not isinstance(value, str) else bytes.fromhex(value[2:])
        try:
            if base64.b64decode(dumped, validate=True) == raw:
                return True
        except ValueError:
            pass
        return raw.decode("utf-8", "replace") == dumped
    if value == dumped:
        return True
    # PostgreSQL text keeps no trailing zero bytes; timestamps drop trailing zeros.
    if isinstance(value, str) and value == dumped.rstrip("\0"):
        return True
    a, b = timestamp(dumped), timestamp(value) if isinstance(value, str) else None
    return a is not None and a == b


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    with_deleted = "--with-deleted" in sys.argv
    ordered = "--ordered" in sys.argv
    if args[0] == "sqlite":
        _, db, table, dump_file = args
        con = sqlite3.connect(db)
        cur = con.execute('SELECT * FROM "%s" ORDER BY rowid' % table.replace('"', '""'))
        names = [d[0] for d in cur.description]
        rows = [list(zip(names, r)) for r in cur.fetchall()]
    else:
        _, rows_file, dump_file = args
        with open(rows_file, encoding="utf-8") as f:
            rows = [load(line) for line in f if line.strip()]
    with open(dump_file, encoding="utf-8") as f:
        dumped = [dict(load(line)) for line in f if line.strip()]
    if not with_deleted:
        dumped = [d for d in dumped if not d["deleted"]]

    differences = []
    def differ(text):
        differences.append(text)

    if [int(r[0][1]) for r in rows] != [int(d["recno"]) for d in dumped] and (
            ordered or sorted(int(r[0][1]) for r in rows) != [int(d["recno"]) for d in dumped]):
        differ("record numbers %s, dump %s" % ([r[0][1] for r in rows][:20],
                                                [d["recno"] for d in dumped][:20]))
    by_recno = {int(r[0][1]): r for r in rows}
    for d in dumped:
        row = by_recno.get(int(d["recno"]))
        if row is None:
            continue
        if row[0][0] != "_recno":
            differ("first column %s" % row[0][0])
        columns = row[1:]
        if with_deleted:
            name, value = columns[0]
            if name != "_deleted" or not same(d["deleted"], value):
                differ("record %s: %s %r, deleted %r" % (d["recno"], name, value, d["deleted"]))
            columns = columns[1:]
        fields = d["fields"]
        if len(columns) != len(fields):
            differ("record %s: %d columns, %d fields" % (d["recno"], len(columns), len(fields)))
            continue
        for (column, value), (field, dumped_value) in zip(columns, fields):
            if not same(dumped_value, value):
                differ("record %s field %s (column %s): %r, dump %r"
                       % (d["recno"], field, column, value, dumped_value))
    for text in differences[:20]:
        print(text)
    print("%d rows, %d differences" % (len(rows), len(differences)))
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
