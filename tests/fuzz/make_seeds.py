#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/TARGET/).

    tests/fuzz/make_seeds.py BUILD_DIR

BUILD_DIR holds a built `transvelmar`: the example document is exported with
it, and its smaller tables seed the table parser. The other seeds are written
here byte by byte: the solution table in the layouts other writers use
(dBase III with numbers of other widths, FoxPro with binary integers, dBase 7
with its 48-byte descriptors), and small export documents that reach each
builder on its own.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CORPUS = os.path.join(HERE, "corpus")


def dbf(fields, rows, version=0x03, dbase7=False, deleted=()):
    """fields: (name, type, width, decimals); rows: lists of raw byte values."""
    record_len = 1 + sum(f[2] for f in fields)
    first = 68 if dbase7 else 32
    size = 48 if dbase7 else 32
    header_len = first + size * len(fields) + 1
    out = bytearray(struct.pack("<BBBBIHH", version, 126, 12, 11, len(rows), header_len, record_len))
    out += b"\0" * (first - len(out))
    out[29] = 0x03
    for name, kind, width, dec in fields:
        if dbase7:
            d = name.encode().ljust(32, b"\0") + kind.encode() + bytes([width, dec]) + b"\0" * 13
        else:
            d = name.encode().ljust(11, b"\0") + kind.encode() + b"\0" * 4 + bytes([width, dec]) + b"\0" * 14
        out += d
    out += b"\r"
    for i, row in enumerate(rows):
        out += b"*" if i in deleted else b" "
        for (name, kind, width, dec), v in zip(fields, row):
            assert len(v) == width, (name, v)
            out += v
    out += b"\x1a"
    return bytes(out)


def c(text, width):
    return text.encode("cp1252")[:width].ljust(width)


def n(value, width):
    return str(value).encode().rjust(width)


SOLUC_C = [("ASIG", "C", 4, 0), ("PROF", "C", 4, 0), ("CODGRUPO", "C", 4, 0), ("AULA", "C", 4, 0),
           ("TAREA", "C", 4, 0)]
LESSONS = [("MAT", "MJNO", "1A", "A101", "", 1, 1, "0"), ("LEN", "IPA", "2A", "A102", "", 3, 2, "0"),
           ("ING", "BGL", "1B", "A102", "GUAR", 5, 5, "1"), ("EF", "LMS", "1A", "GIMN", "", 0, 0, "0")]


def soluc_numeric(width, dec):
    fields = SOLUC_C + [("DIA", "N", width, dec), ("HORA", "N", width, dec), ("MARCO", "C", 1, 0)]
    fmt = (lambda v: ("%.*f" % (dec, v)).encode().rjust(width)) if dec else (lambda v: n(v, width))
    rows = [[c(a, 4), c(p, 4), c(g, 4), c(r, 4), c(t, 4), fmt(d), fmt(h), c(m, 1)]
            for a, p, g, r, t, d, h, m in LESSONS]
    return dbf(fields, rows, deleted={2})


def soluc_foxpro():
    fields = SOLUC_C + [("DIA", "I", 4, 0), ("HORA", "B", 8, 0), ("SESIONES", "Y", 8, 0), ("MARCO", "C", 1, 0)]
    rows = [[c(a, 4), c(p, 4), c(g, 4), c(r, 4), c(t, 4), struct.pack("<i", d), struct.pack("<d", h),
             struct.pack("<q", 10000), c(m, 1)] for a, p, g, r, t, d, h, m in LESSONS]
    return dbf(fields, rows, version=0x30)


def soluc_dbase7():
    def long_value(v):
        return struct.pack(">I", (v & 0xFFFFFFFF) ^ 0x80000000)

    def sortable(d):
        bits = struct.unpack(">Q", struct.pack(">d", d))[0]
        return struct.pack(">Q", bits ^ 0x8000000000000000 if d >= 0 else ~bits & 0xFFFFFFFFFFFFFFFF)

    fields = SOLUC_C + [("DIA", "I", 4, 0), ("HORA", "O", 8, 0), ("MARCO", "C", 1, 0)]
    rows = [[c(a, 4), c(p, 4), c(g, 4), c(r, 4), c(t, 4), long_value(d), sortable(float(h)), c(m, 1)]
            for a, p, g, r, t, d, h, m in LESSONS]
    return dbf(fields, rows, version=0x04, dbase7=True)


def doc(salidas, encoding="UTF-8"):
    return ('<?xml version="1.0" encoding="%s"?>\n<SERVICIO modulo="HORARIOS"><SALIDAS>%s</SALIDAS></SERVICIO>\n'
            % (encoding, salidas)).encode("utf-8" if encoding == "UTF-8" else "iso-8859-1")


def lst(name, entries):
    return '<listasal seq="%s">%s</listasal>' % (
        name, "".join("<listasal>%s</listasal>" % "".join("<salida>%s</salida>" % v for v in e) for e in entries))


INTERVALS = ('<listasal seq="INTERVALOS"><listasal><salida dato="CODIGO_SAUCE">101</salida>'
             '<salida dato="NOMBRE">Primera</salida><salida dato="INICIO">8:00</salida>'
             '<salida dato="FIN">8:55</salida><salida dato="ORDEN">1</salida>'
             '<salida dato="CLAVE_JORNADA">M</salida></listasal></listasal>')
FRAME = lst("JORNADAS", [["M", "Mañana", "L-V"]])


def write(target, name, data):
    os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    with open(os.path.join(CORPUS, target, name), "wb") as f:
        f.write(data)


def main():
    build = sys.argv[1]
    with tempfile.TemporaryDirectory() as vtemp:
        subprocess.run([os.path.join(build, "transvelmar"), "exportar", os.path.join(ROOT, "examples", "sauce-export.xml"),
                        "--vtemp", vtemp, "--marcos", "JM01,JT01"], check=True, stdout=subprocess.DEVNULL)
        for table in ["AULAT", "CURSOST", "GRUPOST", "PROFT"]:
            shutil.copy(os.path.join(vtemp, table + ".DBF"), os.path.join(CORPUS, "dbf", table + ".DBF"))
    shutil.copy(os.path.join(ROOT, "examples", "SOLUC.DBF"), os.path.join(CORPUS, "dbf", "SOLUC.DBF"))
    shutil.copy(os.path.join(ROOT, "examples", "SOLUC.DBF"), os.path.join(CORPUS, "import", "SOLUC.DBF"))
    for target in ["dbf", "import"]:
        write(target, "soluc-n10-2.dbf", soluc_numeric(10, 2))
        write(target, "soluc-n3.dbf", soluc_numeric(3, 0))
        write(target, "soluc-foxpro.dbf", soluc_foxpro())
        write(target, "soluc-dbase7.dbf", soluc_dbase7())

    shutil.copy(os.path.join(ROOT, "examples", "sauce-export.xml"), os.path.join(CORPUS, "export", "sauce-export.xml"))
    write("export", "frame-only.xml", doc(FRAME + INTERVALS))
    write("export", "subjects.xml", doc(
        lst("MATERIAS", [["000101", "Matemáticas", "MAT", "C1", "240"], ["000102", "Música", "MATEMATICAS2", "C1", ""]])
        + lst("TAREAS", [["156", "Reunión", "REUNDEP", "N"], ["281", "Guardia", "GUARDIA", "S"]])
        + lst("CURSOS", [["C1", "1º ESO", "X", "ESO", "1"]]) + lst("GRUPOS", [["G1", "1A", "C1"]])
        + FRAME + INTERVALS, encoding="ISO-8859-1"))
    write("export", "people.xml", doc(
        lst("PROFESORES", [["70001", "01/09/2019", "Núñez, María", "MNU"], ["70002", "01/09/2020", "Peña, José", "MNU"]])
        + lst("AULAS", [["9001", "Aula 1", "A1"], ["9002", "Laboratorio", "A1"]]) + FRAME + INTERVALS))


if __name__ == "__main__":
    main()
