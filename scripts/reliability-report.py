#!/usr/bin/env python3
"""Runs every fuzz target briefly (scripts/fuzz.sh) and writes docs/RELIABILITY.md from that one run.

    scripts/reliability-report.py [SECONDS_PER_TARGET]     (default 20)

The fault matrix table has its place in the document; it is filled in once the matrix runs.
"""
import datetime
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build-fuzz"


def stat(log, name):
    found = re.search(r"stat::%s:\s*(\d+)" % name, log)
    return int(found.group(1)) if found else None


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 20
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
        "# Reliability",
        "",
        "Written by `scripts/reliability-report.py` from one run on %s."
        % datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "",
        "## Fuzzing",
        "",
        "Each libFuzzer target (ASan + UBSan, clang) ran for %d seconds from its seeds in "
        "`fuzz/corpus/<target>/`. A finding is a crash, leak, time-out or undefined behaviour; "
        "its input is kept in `build-fuzz/findings/`." % seconds,
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
    lines += [
        "## Fault matrix",
        "",
        "<!-- FAULT MATRIX: the table of the end-to-end fault matrix against the simulated board",
        "     (route x operation x fault switch, bad input files, links dying mid-run: cells run,",
        "     passed, faults survived) goes here once the matrix runs. -->",
        "",
        "Not run yet.",
        "",
    ]
    out = ROOT / "docs" / "RELIABILITY.md"
    out.parent.mkdir(exist_ok=True)
    out.write_text("\n".join(lines))
    print("Wrote %s" % out.relative_to(ROOT))
    return 0 if run.returncode == 0 and clean else 1


if __name__ == "__main__":
    sys.exit(main())
