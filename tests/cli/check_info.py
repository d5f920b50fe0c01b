#!/usr/bin/env python3
"""Compares `fendral-cli info` with the independent header reader of the shared peers
for every DBF fixture. A table the engine refuses must be one that cannot be read safely:
a version byte outside the five table versions, a file too short for its header, or
fields that run past the record length.

usage: check_info.py FENDRAL_CLI SHARED_DIR
Prints one line per disagreement and exits 1 when there is any."""

import json
import os
import subprocess
import sys

ACCEPTED = {0x03, 0x30, 0x83, 0x8B, 0xF5}
# Version bytes of known kinds that are refused by name rather than as invalid headers.
NAMED_UNSUPPORTED = {0x02, 0x04, 0x31, 0x32, 0x43, 0x63, 0x8C, 0xCB}


def main():
    cli, shared = sys.argv[1], sys.argv[2]
    fixtures = os.path.join(shared, "fixtures")
    inspect = os.path.join(shared, "peers", "inspect_fixture.py")
    tables = []
    for root, _, files in os.walk(fixtures):
        for name in files:
            if name.lower().endswith(".dbf"):
                tables.append(os.path.join(root, name))
    tables.sort()
    problems, opened, refused = [], 0, 0
    # One run of the independent reader for all tables: a JSON object per line, in order.
    peer = subprocess.run([sys.executable, inspect, "--json"] + tables,
                          capture_output=True, text=True)
    peer_lines = peer.stdout.split("\n")
    all_facts = {}
    for line in peer_lines:
        try:
            facts = json.loads(line)
        except ValueError:
            continue
        if "path" in facts:
            all_facts[os.path.abspath(facts["path"])] = facts
    for path in tables:
        ours = subprocess.run([cli, "info", "--encoding", "ISO-8859-1", path],
                              capture_output=True, text=True)
        facts = all_facts.get(os.path.abspath(path), {})
        rel = os.path.relpath(path, fixtures)
        if ours.returncode != 0:
            refused += 1
            version = int(facts.get("version", "0x00"), 16) if facts.get("version") else None
            widths = facts.get("sum_field_widths_plus1") or 0
            reclen = facts.get("record_length") or 0
            hdrlen = facts.get("header_length") or 0
            size = facts.get("size") or os.path.getsize(path)
            sound = (version not in ACCEPTED or reclen == 0 or widths > reclen
                     or hdrlen > size or size < 32)
            named = version in NAMED_UNSUPPORTED and "is not supported" in ours.stderr
            if not sound or not (named or "header invalid" in ours.stderr):
                problems.append("%s: refused (%s) but the peer reads it" % (rel, ours.stderr.strip()))
            continue
        opened += 1
        info = json.loads(ours.stdout)
        if facts.get("kind") != "DBF":
            problems.append("%s: opened but the peer says %s" % (rel, facts.get("kind")))
            continue
        expect = {
            "version": facts["version"].upper().replace("0X", "0x"),
            "records": facts["records_by_size"],
            "header_records": facts["header_records"],
            "header_length": facts["header_length"],
            "record_length": facts["record_length"],
            "flags": int(facts["flags_byte28"], 16),
            "codepage_mark": int(facts["language_driver_byte29"], 16),
        }
        yy, mm, dd = (int(x) for x in facts["last_update"].split("-"))
        expect["last_update"] = "%04d-%02d-%02d" % (1900 + yy if yy >= 80 else 2000 + yy, mm, dd)
        for key, value in expect.items():
            if info.get(key) != value:
                problems.append("%s: %s is %r, peer %r" % (rel, key, info.get(key), value))
        fields = facts.get("fields", [])
        if len(fields) != len(info["fields"]):
            problems.append("%s: %d fields, peer %d" % (rel, len(info["fields"]), len(fields)))
            continue
        offset = 1
        for mine, theirs in zip(info["fields"], fields):
            length = theirs.get("char_len16", theirs["len"])
            want = {"name": theirs["name"], "type": theirs["type"], "length": length,
                    "decimals": 0 if theirs["type"] == "C" else theirs["dec"],
                    "offset": offset}
            offset += length
            for key, value in want.items():
                if mine.get(key) != value:
                    problems.append("%s: field %s %s is %r, peer %r"
                                    % (rel, theirs["name"], key, mine.get(key), value))
    for line in problems:
        print(line)
    print("%d tables: %d opened, %d refused, %d disagreements"
          % (len(tables), opened, refused, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
