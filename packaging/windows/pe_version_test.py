#!/usr/bin/env python3
"""Runs pe_version.py, as build-msi.sh does, on version resources built here: well-formed ones
and ones cut short. Prints "PASS name" / "FAIL name" per case and "RESULT passed=N failed=M".
A case that does not end (a scan past the end of the data) is stopped and fails."""
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def string_struct(key, value, terminated=True):
    """A StringFileInfo String: wLength, wValueLength, wType, key, padding, value."""
    body = (key + "\0").encode("utf-16-le")
    head = 6
    pad = b"\0" * ((4 - (head + len(body)) % 4) % 4)
    text = (value + ("\0" if terminated else "")).encode("utf-16-le")
    length = head + len(body) + len(pad) + len(text)
    return struct.pack("<HHH", length, len(text) // 2, 1) + body + pad + text


def fixed_info(ms, ls):
    return struct.pack("<IIII", 0xFEEF04BD, 0x10000, ms, ls) + b"\0" * 36


GOOD = b"MZ" + b"\0" * 30 + fixed_info(0x10000, 0x520000) + string_struct("ProductName", "E-mail Sorter") \
    + string_struct("FileDescription", "Sorts")

# (name, data, arguments, expected output or None for a refusal with a message)
CASES = [
    ("file-version", GOOD, [], "1.0.82.0"),
    ("string-value", GOOD, ["ProductName"], "E-mail Sorter"),
    ("string-value-not-the-next-one", GOOD, ["FileDescription"], "Sorts"),
    ("value-cut-before-its-terminator", GOOD[:-2] + string_struct("Comments", "abc", False),
     ["Comments"], None),
    ("value-cut-odd-length", GOOD + string_struct("Comments", "abc", False)[:-1],
     ["Comments"], None),
    ("value-cut-right-after-its-key", GOOD + string_struct("Comments", "", False),
     ["Comments"], None),
    ("terminator-only-past-the-structure",
     string_struct("Comments", "abc", False) + "def\0".encode("utf-16-le"), ["Comments"], None),
    ("fixed-information-cut", b"MZ" + fixed_info(1, 2)[:10], [], None),
    ("no-such-string", GOOD, ["LegalCopyright"], None),
]


def run(data, args):
    with tempfile.NamedTemporaryFile(suffix=".exe", delete=False) as f:
        f.write(data)
    try:
        return subprocess.run([sys.executable, os.path.join(HERE, "pe_version.py"), f.name] + args,
                              capture_output=True, text=True, timeout=30)
    finally:
        os.unlink(f.name)


def main():
    passed = failed = 0
    for name, data, args, expected in CASES:
        try:
            r = run(data, args)
            if expected is None:
                ok = r.returncode != 0 and r.stderr.strip() != "" and "Traceback" not in r.stderr
            else:
                ok = r.returncode == 0 and r.stdout.strip() == expected
            detail = r.stdout.strip() or r.stderr.strip()
        except subprocess.TimeoutExpired:
            ok, detail = False, "did not end"
        print(f"{'PASS' if ok else 'FAIL'} pe-version-{name}" + ("" if ok else f": {detail}"))
        passed, failed = passed + ok, failed + (not ok)
    print(f"RESULT passed={passed} failed={failed}")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
