#!/usr/bin/env python3
"""Plants faults in a scratch copy of the code, one at a time, and runs the fast tests.

    python3 scripts/plant_faults.py [--table FILE] [--only N[,N...]] [--keep DIR]

Each fault of the table (scripts/faults.txt by default) is a small change to one line of
the product code that a user would feel. For each, the tool copies the exact text into its
place in a scratch copy of the repository, builds what changed and runs the test command's
fast part (the normal build's tests, without the real-window and package tests), then puts
the text back. It prints one line per fault, CAUGHT (a test failed), MISSED (every test
passed) or NOT PLANTED (the text is not in the file exactly once, or the fault does not
build), and the totals. Exit status 0 when every planted fault was caught.

Table: blocks separated by blank lines, each with the lines
    file: PATH (relative to the repository)
    find: EXACT TEXT (a part of a line of the file)
    replace: REPLACEMENT
    feel: what a user would feel
A line starting with "| " goes on the value above it after a line break, for a text of
several lines. Lines starting with "#" are comments.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def read_table(path):
    faults, block, key = [], {}, None
    with open(path, encoding="utf-8") as table:
        for raw in table.read().split("\n") + [""]:
            if raw.startswith("#"):
                continue
            if not raw.strip():
                if block:
                    missing = {"file", "find", "replace", "feel"} - block.keys()
                    if missing:
                        sys.exit("plant_faults: a fault without %s: %s" % (sorted(missing), block))
                    faults.append(block)
                block = {}
                continue
            if raw.startswith("| "):
                block[key] += "\n" + raw[2:]
                continue
            key, _, value = raw.partition(": ")
            key = key.strip()
            block[key] = value
    return faults


def run(command, cwd, log):
    with open(log, "w") as out:
        return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--table", default=os.path.join(ROOT, "scripts", "faults.txt"))
    parser.add_argument("--only", help="numbers of the faults to plant, from 1, comma-separated")
    parser.add_argument("--keep", help="the scratch folder to use and keep (built once, reused)")
    args = parser.parse_args()
    faults = read_table(args.table)
    chosen = [int(n) for n in args.only.split(",")] if args.only else range(1, len(faults) + 1)

    scratch = args.keep or tempfile.mkdtemp(prefix="reririduruv-faults-")
    source = os.path.join(scratch, "src")
    build = os.path.join(scratch, "build")
    # The code as it is now; a kept folder is brought up to date (times kept, so only what
    # changed is built again).
    shutil.copytree(ROOT, source, symlinks=True, dirs_exist_ok=True,
                    ignore=shutil.ignore_patterns("build*", ".git"))
    env_command = ["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
    if run(env_command, scratch, os.path.join(scratch, "configure.log")) != 0 or \
            run(["cmake", "--build", build, "-j%d" % os.cpu_count()], scratch,
                os.path.join(scratch, "build.log")) != 0:
        sys.exit("plant_faults: the unchanged code does not build; see " + scratch)
    tests = ["ctest", "--test-dir", build, "-j%d" % os.cpu_count(), "--stop-on-failure",
             "-E", "^(desktop|package)\\.", "--timeout", "300"]
    if run(tests, scratch, os.path.join(scratch, "clean.log")) != 0:
        sys.exit("plant_faults: the tests fail without any fault; see %s/clean.log" % scratch)

    counts = {"CAUGHT": 0, "MISSED": 0, "NOT PLANTED": 0}
    for number in chosen:
        fault = faults[number - 1]
        path = os.path.join(source, fault["file"])
        with open(path, encoding="utf-8") as f:
            original = f.read()
        verdict = "NOT PLANTED"
        if original.count(fault["find"]) == 1:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(fault["find"], fault["replace"]))
            log = os.path.join(scratch, "fault-%d.log" % number)
            if run(["cmake", "--build", build, "-j%d" % os.cpu_count()], scratch, log) == 0:
                verdict = "CAUGHT" if run(tests, scratch, log) != 0 else "MISSED"
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        counts[verdict] += 1
        print("%3d %-11s %s: %s" % (number, verdict, fault["file"], fault["feel"]), flush=True)
    # The last fault's file is put back: build once more so a kept folder is clean again.
    run(["cmake", "--build", build, "-j%d" % os.cpu_count()], scratch, os.path.join(scratch, "build.log"))
    print("caught %d, missed %d, not planted %d, of %d" %
          (counts["CAUGHT"], counts["MISSED"], counts["NOT PLANTED"], len(chosen)))
    if not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0 if counts["MISSED"] == 0 and counts["NOT PLANTED"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
