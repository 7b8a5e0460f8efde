#!/usr/bin/env bash
# Crash consistency of the export: the command-line tool is killed (SIGKILL)
# at many moments of an export of a medium synthetic document (bench/gen.py
# 5) over a working folder that holds an older set (the example's tables).
#
#   bash crash_test.sh BUILD_DIR SOURCE_DIR
#
# After every kill the eight tables must be wholly the old set or wholly the
# new one; a journal left behind is allowed, and must turn into the new set
# once the next run (an import, which recovers first) has run. Staging files
# and the journal must be gone after that next run. Most kills are aimed at
# the commit: timed from the first staging file (the writes) or from the
# journal (the renames), as the folder shows them; the rest fall anywhere in
# the run. A first, whole run measures the times.
set -euo pipefail

build_dir=$1
source_dir=$2
cli="$build_dir/transvelmar"
[ -x "$cli" ] || { echo "FAIL: $cli not built"; exit 1; }
python=/usr/bin/python3
[ -x "$python" ] || python=python3

exec "$python" - "$cli" "$source_dir" <<'EOF'
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

cli, source = sys.argv[1], sys.argv[2]
TABLES = ["ASIGNOMT", "ASIGNOMT2", "PROFT", "AULAT", "CURSOST", "GRUPOST", "ASIGT", "DIASHORAST"]
STAGING = ".tvs-staging"
JOURNAL = ".transvelmar-commit"
UNIFORM_KILLS = 20   # anywhere from the start to a little after the end
COMMIT_KILLS = 32    # while the commit writes its staging files and renames
RENAME_KILLS = 12    # once the journal is there, while the tables are renamed
rng = random.Random(20261211)

work = tempfile.mkdtemp(prefix="tvs-crash-")
failures = []


def run(*cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)


def table_set(folder):
    """Digest of each table, its header date (bytes 1-3) left out."""
    digests = {}
    for t in TABLES:
        path = os.path.join(folder, t + ".DBF")
        if not os.path.exists(path):
            digests[t] = None
            continue
        with open(path, "rb") as f:
            b = f.read()
        digests[t] = hashlib.sha256(b[:1] + b[4:]).hexdigest()
    return digests


def leftovers(folder):
    return sorted(n for n in os.listdir(folder) if n.endswith(STAGING) or n.startswith(JOURNAL)
                  or n.startswith("." + JOURNAL))


def reset(folder, old_files):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, path in old_files:
        shutil.copyfile(path, os.path.join(folder, name))


def export_cmd(folder):
    return [cli, "exportar", doc, "--vtemp", folder, "--marcos", "JM01,JT01"]


try:
    gen = os.path.join(work, "gen")
    run(sys.executable, os.path.join(source, "bench", "gen.py"), "5", gen, check=True)
    doc = os.path.join(gen, "sauce.xml")

    # The old set: the example's export, with the example's SOLUC beside it so
    # that the import can serve as the next run.
    old = os.path.join(work, "old")
    os.makedirs(old)
    r = run(cli, "exportar", os.path.join(source, "examples", "sauce-export.xml"), "--vtemp", old,
            "--marcos", "JM01,JT01")
    if r.returncode != 0:
        sys.exit("FAIL: the example does not export: " + r.stderr.decode())
    shutil.copyfile(os.path.join(source, "examples", "SOLUC.DBF"), os.path.join(old, "SOLUC.DBF"))
    old_files = [(n, os.path.join(old, n)) for n in sorted(os.listdir(old))]
    old_set = table_set(old)
    chosen = os.path.join(work, "elegido.xml")
    shutil.copyfile(os.path.join(source, "examples", "sauce-export.xml"), chosen)

    # Calibration: the whole run, and when its first staging file appears.
    vtemp = os.path.join(work, "vtemp")
    reset(vtemp, old_files)
    start = time.monotonic()
    p = subprocess.Popen(export_cmd(vtemp), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    commit_start = commit_end = None
    while p.poll() is None:
        names = os.listdir(vtemp)
        busy = any(n.endswith(STAGING) or n == JOURNAL for n in names)
        if commit_start is None and busy:
            commit_start = time.monotonic() - start
        elif commit_start is not None and commit_end is None and not busy:
            commit_end = time.monotonic() - start
        time.sleep(0.0002)
    total = time.monotonic() - start
    if p.returncode != 0:
        sys.exit("FAIL: the medium document does not export: " + p.stderr.read().decode())
    new_set = table_set(vtemp)
    if commit_start is None:
        commit_start = total * 0.8
    if commit_end is None:
        commit_end = total
    same = [t for t in TABLES if new_set[t] == old_set[t]]
    if same:
        sys.exit("FAIL: the two sets share tables, the test could not tell them apart: %s" % same)
    print("export: %.3f s, commit from %.3f s to %.3f s" % (total, commit_start, commit_end))

    # A kill is (what to wait for first, delay after it): nothing (the
    # start), the first staging file, or the journal. The commit's own length
    # varies little, its start a lot (process start, load), so commit kills
    # are timed from what the folder shows. The renames after the journal
    # take a millisecond or two.
    commit_length = max(commit_end - commit_start, 0.002)
    kills = [(None, rng.uniform(0, total * 1.1)) for _ in range(UNIFORM_KILLS)]
    kills += [(STAGING, rng.uniform(0, commit_length * 1.1)) for _ in range(COMMIT_KILLS)]
    kills += [(JOURNAL, rng.uniform(0, 0.002)) for _ in range(RENAME_KILLS)]
    outcomes = {"old": 0, "old, staging left": 0, "journal left, recovered to new": 0, "new": 0,
                "finished before the kill": 0}
    for i, (mark, delay) in enumerate(kills):
        reset(vtemp, old_files)
        p = subprocess.Popen(export_cmd(vtemp), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if mark is not None:
            while p.poll() is None and not any(n.endswith(mark) for n in os.listdir(vtemp)):
                time.sleep(0.0001)
        time.sleep(delay)
        finished = p.poll() is not None
        if not finished:
            p.send_signal(signal.SIGKILL)
        p.wait()
        where = "kill %d, %.4f s after %s" % (i + 1, delay, {None: "the start", STAGING: "the first staging file",
                                                             JOURNAL: "the journal"}[mark])
        left = leftovers(vtemp)
        state = table_set(vtemp)
        journal = JOURNAL in left
        if finished and p.returncode != 0:
            failures.append("%s: the export failed on its own" % where)
            continue
        if not journal and state not in (old_set, new_set):
            mixed = [t for t in TABLES if state[t] != old_set[t]]
            failures.append("%s: a mixed set without a journal (new or damaged: %s)" % (where, mixed))
            continue
        if left:
            # The next run: an import, which completes or discards the commit first.
            r = run(cli, "importar", chosen, "--vtemp", vtemp)
            if r.returncode != 0:
                failures.append("%s: the next run failed: %s" % (where, r.stderr.decode().strip()))
                continue
            if leftovers(vtemp):
                failures.append("%s: the next run left %s" % (where, leftovers(vtemp)))
            after = table_set(vtemp)
            if journal and after != new_set:
                failures.append("%s: a journal was left but the next run did not finish the new set" % where)
                continue
            if not journal and after != state:
                failures.append("%s: the next run changed the tables without a journal" % where)
                continue
        if finished:
            kind = "finished before the kill"
        elif journal:
            kind = "journal left, recovered to new"
        elif state == new_set:
            kind = "new"
        else:
            kind = "old, staging left" if left else "old"
        outcomes[kind] += 1
    print("%d kills:" % len(kills))
    for kind, n in outcomes.items():
        print("  %-32s %d" % (kind, n))
    if outcomes["journal left, recovered to new"] + outcomes["old, staging left"] == 0:
        failures.append("no kill landed inside the commit: the test did not test it")
finally:
    shutil.rmtree(work, ignore_errors=True)

for f in failures:
    print("FAIL: " + f)
sys.exit(1 if failures else 0)
EOF
