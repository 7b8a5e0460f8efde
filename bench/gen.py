#!/usr/bin/python3
"""Seeded generator of synthetic Sauce export documents and matching SOLUC
tables, for the benchmarks.

    bench/gen.py S OUTDIR [--seed N]

Scale S = 1 is a typical school (about 80 teachers, 40 groups, 400 subject
entries, 2 000 lessons, an XML of about 300 KB); the document and the table
grow linearly with S. The mix is meant to look like real data: accented
names, teachers and rooms whose short codes collide, long subject codes that
share their first ten characters, three time frames with gaps in their hour
numbers, lessons whose subject is only found through ASIGNOMT2, lessons of
teachers, groups and rooms that no table knows, and unplaced lessons (day 0).

Writes OUTDIR/sauce.xml (ISO-8859-1, as Sauce writes it), OUTDIR/SOLUC.DBF
and OUTDIR/marcos.txt (the frames to pass with --marcos).
"""
import argparse
import os
import random
import struct
from xml.sax.saxutils import escape

FIRST = ["María", "José", "Íñigo", "Begoña", "Lucía", "Óscar", "Ramón", "Nuria", "Ángel",
         "Sofía", "Jesús", "Pilar", "Tomás", "Elena", "Raúl", "Aurora", "Joaquín", "Inés"]
LAST = ["Núñez", "Peña", "García", "Ruiz", "Martín", "Gómez", "Jiménez", "Sáez", "Cañete",
        "Ibáñez", "López", "Durán", "Ortega", "Álvarez", "Muñoz", "Castaño", "Rodríguez"]
SUBJECTS = [("MAT", "Matemáticas"), ("LEN", "Lengua Castellana y Literatura"), ("ING", "Inglés"),
            ("BYG", "Biología y Geología"), ("FYQ", "Física y Química"), ("GEH", "Geografía e Historia"),
            ("EF", "Educación Física"), ("MUS", "Música"), ("TEC", "Tecnología"), ("FRA", "Francés"),
            ("CIENCIASNATURALES", "Ciencias de la Naturaleza"), ("CIENCIASNATURALES2", "Ciencias Aplicadas"),
            ("EPVA", "Educación Plástica"), ("REL", "Religión"), ("VAL", "Valores Éticos"),
            ("LAT", "Latín"), ("ECO", "Economía"), ("FIL", "Filosofía"), ("GUARDREC", "Guardia de recreo"),
            ("BIBLIO", "Biblioteca")]


def salidas(values, extra=8):
    # Sauce writes one value a line, and entries carry further values that
    # the converter does not read.
    values = list(values) + ["Dato no usado %d" % i for i in range(extra)]
    return "\n      " + "\n      ".join("<salida>%s</salida>" % escape(v) for v in values) + "\n    "


def write_dbf(path, fields, rows):
    """A minimal dBase III writer (character and numeric fields)."""
    record_len = 1 + sum(w for _, _, w, _ in fields)
    header_len = 32 + 32 * len(fields) + 1
    with open(path, "wb") as f:
        f.write(struct.pack("<BBBBIHH20x", 0x03, 126, 12, 11, len(rows), header_len, record_len))
        f.seek(29)
        f.write(b"\x03\x00\x00")
        for name, kind, width, dec in fields:
            f.write(struct.pack("<11sc4xBB14x", name.encode(), kind.encode(), width, dec))
        f.write(b"\r")
        for row in rows:
            out = [b" "]
            for (name, kind, width, dec), v in zip(fields, row):
                if kind == "C":
                    b = str(v).encode("cp1252", "replace")[:width]
                    out.append(b.ljust(width, b" "))
                else:
                    out.append(str(v).rjust(width).encode())
            f.write(b"".join(out))
        f.write(b"\x1a")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("scale", type=float)
    ap.add_argument("outdir")
    ap.add_argument("--seed", type=int, default=20261211)
    a = ap.parse_args()
    rnd = random.Random(a.seed)
    s = a.scale
    os.makedirs(a.outdir, exist_ok=True)

    n_teachers = max(4, int(80 * s))
    n_courses = max(1, int(10 * s))
    groups_per_course = 4
    subjects_per_course = 40
    n_rooms = max(4, int(30 * s))
    n_lessons = max(10, int(2000 * s))

    out = ['<?xml version="1.0" encoding="ISO-8859-1"?>\n<SERVICIO modulo="HORARIOS">\n<SALIDAS>\n']

    courses = ["C%05d" % i for i in range(n_courses)]
    out.append('<listasal seq="CURSOS">\n')
    for i, c in enumerate(courses):
        level = "" if i % 7 == 3 else rnd.choice(["ESO", "BACH", "FPB", "CFGM"])
        out.append("    <listasal>%s</listasal>\n" % salidas(
            [c, "%dº curso de %s, sección %d" % (i % 4 + 1, level or "Secundaria", i), "X", level, str(i % 4 + 1)]))
    out.append("</listasal>\n")

    groups = []  # (key, short name, course)
    out.append('<listasal seq="GRUPOS">\n')
    for ci, c in enumerate(courses):
        for g in range(groups_per_course):
            key = "G%07d" % len(groups)
            short = "%d%s" % (ci % 4 + 1, "ABCDEFGH"[g]) if ci < 4 else "%d%s%d" % (ci % 4 + 1, "ABCD"[g], ci)
            groups.append((key, short, c))
            out.append("    <listasal>%s</listasal>\n" % salidas([key, short, c]))
    out.append("</listasal>\n")

    subjects = []  # (long code, course)
    out.append('<listasal seq="MATERIAS">\n')
    for ci, c in enumerate(courses):
        for k in range(subjects_per_course):
            code, name = SUBJECTS[k % len(SUBJECTS)]
            long = code if k < len(SUBJECTS) else "%s%d" % (code, k // len(SUBJECTS))
            minutes = rnd.choice(["60", "90", "120", "180", "240", "30", "", "61", "900"])
            key = "%06d" % (len(subjects) + 1)
            subjects.append((long, c))
            out.append("    <listasal>%s</listasal>\n" % salidas([key, name, long, c, minutes]))
    out.append("</listasal>\n")

    out.append('<listasal seq="TAREAS">\n')
    for code, name, long, mark in [("156", "Reunión de departamento", "REUNDEP", "N"),
                                   ("281", "Guardia", "GUARDIA", "S"),
                                   ("286", "Atención a la biblioteca", "BIBLIOTECA2", "S")]:
        out.append("    <listasal>%s</listasal>\n" % salidas([code, name, long, mark]))
    out.append("</listasal>\n")

    teachers = []
    out.append('<listasal seq="PROFESORES">\n')
    for i in range(n_teachers):
        first, l1, l2 = rnd.choice(FIRST), rnd.choice(LAST), rnd.choice(LAST)
        short = (first[0] + l1[0] + l2[0]).upper()  # collides often, as initials do
        teachers.append(short)
        out.append("    <listasal>%s</listasal>\n" % salidas(
            ["%06d" % (70000 + i), "01/09/20%02d" % (10 + i % 15), "%s %s, %s" % (l1, l2, first), short]))
    out.append("</listasal>\n")

    rooms = []
    out.append('<listasal seq="AULAS">\n')
    for i in range(n_rooms):
        short = "A%03d" % (i % 999) if i % 5 else "LAB"
        rooms.append(short)
        out.append("    <listasal>%s</listasal>\n" % salidas(["%05d" % (9000 + i), "Aula %d" % i, short]))
    out.append("</listasal>\n")

    frames = [("JM01", "Jornada de mañana", "08:15", [1, 2, 3, 5, 6, 7]),
              ("JT01", "Jornada de tarde", "16:00", [1, 2, 4, 5]),
              ("JN01", "Jornada de noche", "19:30", [1, 2, 3])]
    out.append('<listasal seq="JORNADAS">\n')
    for code, name, _, _ in frames:
        out.append("    <listasal>%s</listasal>\n" % salidas([code, name, "Lunes a viernes"]))
    out.append("</listasal>\n")
    out.append('<listasal seq="INTERVALOS">\n')
    n = 5000
    for code, name, start, orders in frames:
        h, m = map(int, start.split(":"))
        t = h * 60 + m
        for o in orders:
            n += 1
            items = [("CODIGO_SAUCE", str(n)), ("NOMBRE", "Hora %d" % o),
                     ("INICIO", "%d:%02d" % (t // 60, t % 60)), ("FIN", "%d:%02d" % ((t + 55) // 60, (t + 55) % 60)),
                     ("ORDEN", str(o)), ("CLAVE_JORNADA", code)]
            t += 55
            out.append("    <listasal>%s</listasal>\n" % "".join(
                '<salida dato="%s">%s</salida>' % (d, escape(v)) for d, v in items))
    out.append("</listasal>\n</SALIDAS>\n</SERVICIO>\n")
    with open(os.path.join(a.outdir, "sauce.xml"), "wb") as f:
        f.write("".join(out).encode("iso-8859-1"))
    with open(os.path.join(a.outdir, "marcos.txt"), "w") as f:
        f.write("JM01,JT01\n")

    fields = [("ASIG", "C", 4, 0), ("PROF", "C", 4, 0), ("CODGRUPO", "C", 4, 0), ("TURNO", "C", 1, 0),
              ("NIVEL", "C", 5, 0), ("CURSO", "C", 3, 0), ("GRUPO", "C", 1, 0), ("AULA", "C", 4, 0),
              ("TAREA", "C", 4, 0), ("DIA", "N", 3, 0), ("HORA", "N", 3, 0), ("SESIONES", "N", 3, 0),
              ("MARCO", "C", 1, 0)]
    rows = []
    for i in range(n_lessons):
        long, course = rnd.choice(subjects)
        group = rnd.choice([g for g in groups[:200] if g[2] == course] or groups)
        r = rnd.random()
        prof = rnd.choice(teachers) if r > 0.01 else "ZZZ"       # 1 % unknown teachers
        room = rnd.choice(rooms) if r > 0.05 else "NOPE"          # some unknown rooms
        day = 0 if r < 0.02 else rnd.randint(1, 5)                # 2 % unplaced
        mark = rnd.choice("001")
        hour = rnd.randint(1, 6 if mark == "0" else 3)
        rows.append([long[:4], prof, group[1][:4], "", "", "", "", room, "GUAR" if r > 0.97 else "",
                     day, hour, 1, mark])
    write_dbf(os.path.join(a.outdir, "SOLUC.DBF"), fields, rows)


if __name__ == "__main__":
    main()
