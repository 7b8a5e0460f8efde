#!/usr/bin/python3
"""Writes examples/SOLUC.DBF: a small finished timetable for the example
school, as Tavoleno would leave it in its working folder, written with
python3-dbf (a dBase writer independent of ours).

Codes are Tavoleno's short codes for the example document after its export:
teachers MJNO IPA BGL JARC LMS OGI LMS1 RJD, groups 1A 1B 2A 2B, subjects by
the first four characters of their Sauce codes, rooms A101 A102 LAB GIMN.
Frame mark 0 is the morning frame JM01, 1 the afternoon frame JT01.
"""
import os
import dbf

here = os.path.dirname(os.path.abspath(__file__))
path = os.path.join(here, "SOLUC.DBF")
if os.path.exists(path):
    os.remove(path)

table = dbf.Table(
    path,
    "ASIG C(4); PROF C(4); CODGRUPO C(4); TURNO C(1); NIVEL C(5); CURSO C(3); "
    "GRUPO C(1); AULA C(4); TAREA C(4); DIA N(3,0); HORA N(3,0); SESIONES N(3,0); "
    "MARCO C(1)",
    codepage="cp1252",
    dbf_type="db3",
)
table.open(dbf.READ_WRITE)

# (subject, teacher, group, room, [(day, hour, mark)])
plan = [
    ("MAT", "MJNO", "1A", "A101", [(1, 1, "0"), (2, 2, "0"), (3, 3, "0"), (5, 1, "0")]),
    ("MAT", "MJNO", "1B", "A102", [(1, 2, "0"), (2, 1, "0"), (4, 3, "0"), (5, 2, "0")]),
    ("LEN", "IPA", "1A", "A101", [(1, 3, "0"), (2, 5, "0"), (3, 1, "0"), (4, 1, "0")]),
    ("LEN", "IPA", "2A", "A102", [(1, 5, "0"), (3, 2, "0"), (4, 2, "0"), (5, 3, "0")]),
    ("ING", "BGL", "1B", "A102", [(1, 1, "0"), (3, 5, "0"), (5, 5, "0")]),
    ("ING", "BGL", "2B", "A101", [(2, 3, "0"), (4, 5, "0"), (5, 6, "0")]),
    ("BYG", "JARC", "1A", "LAB", [(2, 6, "0"), (4, 6, "0"), (5, 7, "0")]),
    ("FYQ", "JARC", "2A", "LAB", [(1, 6, "0"), (3, 6, "0"), (4, 7, "0")]),
    ("EF", "LMS", "1A", "GIMN", [(1, 7, "0"), (3, 7, "0")]),
    ("EF", "LMS", "1B", "GIMN", [(2, 7, "0"), (4, 4, "0")]),
    ("MUS", "OGI", "1B", "A102", [(3, 1, "0"), (5, 4, "0")]),
    ("GEH", "LMS1", "2B", "A101", [(1, 2, "0"), (2, 1, "0"), (3, 3, "0")]),
    ("TECN", "RJD", "2A", "A102", [(1, 1, "1"), (2, 2, "1"), (3, 3, "1")]),
    ("TECN", "RJD", "2B", "A101", [(1, 2, "1"), (4, 1, "1")]),
    ("GUAR", "OGI", "1A", "", [(2, 4, "0"), (4, 4, "0")]),
    ("BIBL", "MJNO", "2A", "", [(3, 4, "0")]),
]
for asig, prof, grupo, aula, slots in plan:
    for dia, hora, marco in slots:
        table.append(dict(asig=asig, prof=prof, codgrupo=grupo, aula=aula,
                          nivel="ESO", curso=grupo[0], grupo=grupo[1],
                          dia=dia, hora=hora, sesiones=1, marco=marco))

# Records Tavoleno leaves that produce nothing: an unplaced lesson (day 0),
# a teacher that is not in PROFT, and a record deleted in Tavoleno.
table.append(dict(asig="MAT", prof="MJNO", codgrupo="1A", dia=0, hora=0, sesiones=1, marco="0"))
table.append(dict(asig="LEN", prof="XXX", codgrupo="1A", dia=1, hora=4, sesiones=1, marco="0"))
table.append(dict(asig="MUS", prof="OGI", codgrupo="1A", dia=5, hora=5, sesiones=1, marco="0"))
dbf.delete(table[-1])
table.close()
print(path)
