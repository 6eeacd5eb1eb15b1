#!/usr/bin/env python3
"""Runs every fuzz target briefly (scripts/fuzz.sh) and the fault matrix (tests/matrix, g++ build in
build/), and writes docs/RELIABILITY.md from that one run.

    scripts/reliability-report.py [SECONDS_PER_TARGET]     (default 20)
    scripts/reliability-report.py --matrix-only            (the fuzzing section is kept as it is)
    scripts/reliability-report.py --fuzz-only [SECONDS]    (the matrix section is kept as it is, for
                                                            a machine too loaded to time the matrix)
    --no-build: the matrix's programs in build/ are up to date already (nothing is built)
"""
import collections
import datetime
import os
import pathlib
import re
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build-fuzz"
MATRIX_BUILD = ROOT / "build"
DOC = ROOT / "docs" / "RELIABILITY.md"
MATRIX_HEADING = "## Fault matrix"


def stat(log, name):
    found = re.search(r"stat::%s:\s*(\d+)" % name, log)
    return int(found.group(1)) if found else None


def now():
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")


def fuzz_section(seconds):
    """Runs the fuzz targets; the section's lines and whether they ran clean."""
    run = subprocess.run(["bash", str(ROOT / "scripts" / "fuzz.sh"), str(seconds)], cwd=ROOT)
    rows = []
    for seeds in sorted((ROOT / "fuzz" / "corpus").iterdir()):
        target = seeds.name
        log_path = BUILD / "logs" / (target + ".log")
        log = log_path.read_text(errors="replace") if log_path.exists() else ""
        findings = sorted(p.name for p in (BUILD / "findings").glob(target + "-*"))
        runs, rate = stat(log, "number_of_executed_units"), stat(log, "average_exec_per_sec")
        if not log:
            findings = ["not run"]
        elif runs is None:
            findings = findings or ["ended without its figures (see its log)"]
        rows.append((target, runs, rate, findings))

    lines = [
        "## Fuzzing",
        "",
        "Run on %s: each libFuzzer target (ASan + UBSan, clang) ran for %d seconds from its seeds in "
        "`fuzz/corpus/<target>/`. A finding is a crash, leak, time-out or undefined behaviour; "
        "its input is kept in `build-fuzz/findings/`. The receive-path targets (fuzz_mailbox, fuzz_uart_*, "
        "fuzz_dfu) also run an endless mode whose scripted device never runs out of bytes: a run that "
        "outlasts its bound on the test clock is a finding too." % (now(), seconds),
        "",
        "| target | executions | executions/s | findings |",
        "|---|---:|---:|---|",
    ]
    for target, runs, rate, findings in rows:
        lines.append("| %s | %s | %s | %s |" % (target, "-" if runs is None else "{:,}".format(runs),
                                               "-" if rate is None else "{:,}".format(rate),
                                               ", ".join(findings) if findings else "none"))
    total = sum(r[1] or 0 for r in rows)
    clean = all(not r[3] for r in rows)
    lines += ["", "%d targets, %s executions, %s." % (len(rows), "{:,}".format(total),
                                                     "no findings" if clean else "FINDINGS"), ""]
    return lines, run.returncode == 0 and clean


def kept_fuzz_section():
    """The fuzzing section of the document as it stands (a matrix-only run leaves it)."""
    text = DOC.read_text() if DOC.exists() else ""
    start, end = text.find("## Fuzzing"), text.find(MATRIX_HEADING)
    if start < 0 or end < 0:
        return ["## Fuzzing", "", "Not run.", ""], True
    kept = text[start:end].rstrip("\n").split("\n") + [""]
    # A document written before the sections carried their dates names the run in its first lines.
    written = re.search(r"from one run on ([0-9-]+ [0-9:]+ UTC)", text[:start])
    if written and len(kept) > 2 and not kept[2].startswith("Run on"):
        kept[2] = "Run on %s: %s" % (written.group(1), kept[2][0].lower() + kept[2][1:])
    return kept, "FINDINGS" not in text[start:end]


def kept_matrix_section():
    """The fault matrix section of the document as it stands (a fuzz-only run leaves it)."""
    text = DOC.read_text() if DOC.exists() else ""
    start = text.find(MATRIX_HEADING)
    if start < 0:
        return [MATRIX_HEADING, "", "Not run.", ""], True
    kept = text[start:].rstrip("\n").split("\n") + [""]
    return kept, "FAILED CELLS" not in text[start:]


def matrix_section(build):
    """Builds and runs the fault matrix; the section's lines and whether every cell passed."""
    if build:
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(MATRIX_BUILD), "-G", "Ninja",
                        "-DCMAKE_CXX_COMPILER=g++"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", str(MATRIX_BUILD), "--target", "test_matrix", "tavrel-cli",
                        "tavrel_sim_jlink"], cwd=ROOT, check=True)
    with tempfile.TemporaryDirectory() as scratch:
        report = pathlib.Path(scratch) / "matrix.tsv"
        env = dict(os.environ, TAVREL_MATRIX_REPORT=str(report))
        started = datetime.datetime.now()
        run = subprocess.run([str(MATRIX_BUILD / "tests" / "test_matrix")], cwd=ROOT, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        wall = (datetime.datetime.now() - started).total_seconds()
        rows = [line.split("\t") for line in report.read_text().splitlines()] if report.exists() else []
    cells = [dict(zip(["group", "route", "operation", "cell", "expect", "result", "seconds", "problems"],
                      row + [""] * (8 - len(row)))) for row in rows]
    if not cells:
        print(run.stdout[-4000:])
    passed = [c for c in cells if c["result"] == "pass"]
    lines = [
        MATRIX_HEADING,
        "",
        "Each cell is one run of `tavrel-cli` against a simulated board (`tests/matrix/FaultMatrixTest.cpp`), "
        "checked for: the expected end (failure, or success where the protocol retries through the fault), "
        "the message the user sees, a non-zero exit status on failure, no `_temp.bin` file left, a read's "
        "output either whole or untouched, the flash holding the image after a successful program (a "
        "corrupted write caught by verification), the flash as it was after a refused run, and an end "
        "within the cell's hang bound (the cells that wait out a serial-line bound run with the line's "
        "bounds at a quarter, TAVREL_UART_WAIT_PERCENT=25; the bounds themselves are pinned on the test clock). "
        "Run on %s with g++: %d cells in %.0f s, several at a time." % (now(), len(cells), wall),
        "",
        "| group | route | operation | cells run | passed | faults survived (retried) | failed as expected |",
        "|---|---|---|---:|---:|---:|---:|",
    ]
    table = collections.OrderedDict()
    for c in cells:
        table.setdefault((c["group"], c["route"], c["operation"]), []).append(c)
    for (group, route, operation), group_cells in table.items():
        ok = [c for c in group_cells if c["result"] == "pass"]
        lines.append("| %s | %s | %s | %d | %d | %d | %d |" % (
            group, route, operation, len(group_cells), len(ok),
            sum(1 for c in ok if c["expect"] == "survives"), sum(1 for c in ok if c["expect"] == "fails")))
    lines += ["", "%d cells, %d passed%s." % (len(cells), len(passed),
                                              "" if len(passed) == len(cells) else ", FAILED CELLS BELOW"), ""]
    lines += ["<details><summary>Every cell</summary>", "",
              "| cell | expected | result | seconds |", "|---|---|---|---:|"]
    for c in cells:
        result = c["result"] if c["result"] == "pass" else "FAIL: " + c["problems"].replace("|", "/")
        lines.append("| %s | %s | %s | %s |" % (c["cell"].replace("|", "/"), c["expect"], result, c["seconds"]))
    lines += ["", "</details>", ""]
    return lines, bool(cells) and len(passed) == len(cells) and run.returncode == 0


def main():
    matrix_only = "--matrix-only" in sys.argv[1:]
    fuzz_only = "--fuzz-only" in sys.argv[1:]
    if matrix_only and fuzz_only:
        print("--matrix-only and --fuzz-only exclude each other", file=sys.stderr)
        return 2
    numbers = [a for a in sys.argv[1:] if a.isdigit()]
    seconds = int(numbers[0]) if numbers else 20
    fuzz_lines, fuzz_clean = kept_fuzz_section() if matrix_only else fuzz_section(seconds)
    if fuzz_only:
        matrix_lines, matrix_clean = kept_matrix_section()
    else:
        matrix_lines, matrix_clean = matrix_section("--no-build" not in sys.argv[1:])
    if matrix_only:
        written = ""
    elif fuzz_only:
        written = " from one fuzzing run on %s (the fault matrix section is from an earlier run)" % now()
    else:
        written = " from one run on %s" % now()
    lines = ["# Reliability", "", "Written by `scripts/reliability-report.py`%s." % written, ""]
    lines += fuzz_lines + matrix_lines
    DOC.parent.mkdir(exist_ok=True)
    DOC.write_text("\n".join(lines))
    print("Wrote %s" % DOC.relative_to(ROOT))
    return 0 if fuzz_clean and matrix_clean else 1


if __name__ == "__main__":
    sys.exit(main())
