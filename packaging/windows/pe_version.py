#!/usr/bin/env python3
"""Prints a Windows program's version resource: its file version (four numbers) and a string
of its StringFileInfo, so that the package takes its name and version from the programs.

  pe_version.py FILE            -> 1.0.82.0
  pe_version.py FILE NAME       -> the string NAME (ProductName, FileDescription, ...)
"""
import struct
import sys


def fixed_file_version(data):
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise SystemExit("no version resource")
    if at + 16 > len(data):
        raise SystemExit("the version resource ends inside its fixed file information")
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def string_value(data, name):
    """The value of the String structure whose key is NAME: its UTF-16 text up to the
    terminator, which must lie within the structure (its wLength) and within the data."""
    key = (name + "\0").encode("utf-16-le")
    at = data.find(key)
    if at < 6:  # the structure's wLength, wValueLength and wType come first
        raise SystemExit(f"no {name} in the version resource")
    (length,) = struct.unpack_from("<H", data, at - 6)
    limit = min(at - 6 + length, len(data))
    at += len(key)
    at += (4 - at % 4) % 4  # the value starts on a 32-bit boundary
    end = at
    while end + 2 <= limit and data[end:end + 2] != b"\0\0":
        end += 2
    if end + 2 > limit:
        raise SystemExit(f"the version resource's {name} has no terminator")
    return data[at:end].decode("utf-16-le")


def main():
    data = open(sys.argv[1], "rb").read()
    print(fixed_file_version(data) if len(sys.argv) == 2 else string_value(data, sys.argv[2]))


if __name__ == "__main__":
    main()
