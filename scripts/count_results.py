#!/usr/bin/env python3
"""Counts the checks in test reports; prints "PASSED FAILED SKIPPED TESTS PROGRAMS".

    count_results.py [--gtest-dir DIR] REPORT...

A REPORT is one of:
  - CTest's JUnit report (ctest --output-junit): one entry per CTest test (TESTS counts them).
    An entry whose GoogleTest report DIR/<test name>.xml exists counts that report's cases
    (PROGRAMS counts these entries); an entry whose output has PASS and FAIL lines counts those lines; any other
    entry counts as one check by CTest's verdict. An entry CTest failed with no failed case to
    show for it (a crash, a timeout) counts one failure.
  - a GoogleTest XML report (--gtest_output=xml:FILE): one check per test case.
  - a check script's log: one check per line that starts with "PASS " or "FAIL ".
"""
import argparse
import os
import sys
import xml.etree.ElementTree as ET


class Counts:
    def __init__(self, passed=0, failed=0, skipped=0, tests=0, programs=0):
        self.passed, self.failed, self.skipped = passed, failed, skipped
        self.tests, self.programs = tests, programs

    def __iadd__(self, other):
        self.passed += other.passed
        self.failed += other.failed
        self.skipped += other.skipped
        self.tests += other.tests
        self.programs += other.programs
        return self

    def __str__(self):
        return f"{self.passed} {self.failed} {self.skipped} {self.tests} {self.programs}"


def count_gtest(root):
    counts = Counts()
    for case in root.iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            counts.failed += 1
        elif case.get("result") == "skipped" or case.get("status") == "notrun":
            counts.skipped += 1
        else:
            counts.passed += 1
    return counts


def count_lines(lines):
    lines = list(lines)
    return Counts(passed=sum(line.startswith("PASS ") for line in lines),
                  failed=sum(line.startswith("FAIL ") for line in lines))


def count_ctest_entry(entry, gtest_dir):
    status = entry.get("status")
    if status in ("notrun", "disabled"):
        return Counts(skipped=1)
    verdict_ok = status == "run"
    report = os.path.join(gtest_dir, entry.get("name") + ".xml") if gtest_dir else None
    if report and os.path.isfile(report):
        counts = count_gtest(ET.parse(report).getroot())
        counts.programs = 1
    else:
        counts = count_lines((entry.findtext("system-out") or "").splitlines())
        if counts.passed + counts.failed == 0:
            return Counts(passed=1) if verdict_ok else Counts(failed=1)
    if not verdict_ok and counts.failed == 0:
        counts.failed = 1
    return counts


def count_report(path, gtest_dir):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError:
        with open(path, encoding="utf-8", errors="replace") as log:
            return count_lines(log)
    if root.tag == "testsuites":
        return count_gtest(root)
    counts = Counts()
    for entry in root.iter("testcase"):
        counts += count_ctest_entry(entry, gtest_dir)
        counts.tests += 1
    return counts


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gtest-dir")
    parser.add_argument("reports", nargs="*")
    args = parser.parse_args(argv)
    total = Counts()
    for path in args.reports:
        if os.path.exists(path):
            total += count_report(path, args.gtest_dir)
        else:
            print(f"count_results.py: {path}: no such report", file=sys.stderr)
            total.failed += 1
    print(total)


if __name__ == "__main__":
    main(sys.argv[1:])
