#!/usr/bin/env python3
"""Reads working tables with dbfread, an independent dBase reader, and compares
them with the expected rows kept as JSON (one list of objects per table, keys in
field order).

usage: compare_dbf_json.py FOLDER EXPECTED_DIR TABLE...
Prints every difference found and exits 1 when there is any.
"""
import json
import os
import sys

from dbfread import DBF


def find_ignoring_case(folder, name):
    for entry in os.listdir(folder):
        if entry.lower() == name.lower():
            return os.path.join(folder, entry)
    return None


def compare(folder, expected_dir, table):
    problems = []
    with open(os.path.join(expected_dir, table + ".json"), encoding="utf-8") as f:
        expected = json.load(f)
    path = find_ignoring_case(folder, table + ".DBF")
    if path is None:
        return [f"{table}: no hay archivo {table}.DBF"]
    dbf = DBF(path, char_decode_errors="strict")
    rows = [dict(r) for r in dbf]
    if expected and list(expected[0].keys()) != dbf.field_names:
        problems.append(f"{table}: campos {dbf.field_names}, esperados {list(expected[0].keys())}")
    if len(rows) != len(expected):
        problems.append(f"{table}: {len(rows)} filas, esperadas {len(expected)}")
    for i, (got, want) in enumerate(zip(rows, expected), start=1):
        for field, value in want.items():
            # Types too: True == 1 and 4 == 4.0 in Python.
            if type(got.get(field)) is not type(value) or got.get(field) != value:
                problems.append(f"{table} fila {i} {field}: {got.get(field)!r}, esperado {value!r}")
    if len(dbf.deleted) != 0:
        problems.append(f"{table}: {len(dbf.deleted)} filas borradas")
    return problems


def main():
    folder, expected_dir, tables = sys.argv[1], sys.argv[2], sys.argv[3:]
    problems = []
    for table in tables:
        problems += compare(folder, expected_dir, table)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
