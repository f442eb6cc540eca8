#!/usr/bin/env python3
"""Checks a linked Windows executable for anything that could carry the time
or the place of its build, and fails the build if it finds one.

    check_pe_stamps.py EXE [FORBIDDEN_PATH...]

Every time stamp must be 0: the file header's, the load configuration's, each
debug directory entry's and each resource directory's. The only debug entry
allowed is the one that carries the CET mark (it has no time, path or id); a
CodeView entry would name a PDB path and a build id. None of the given paths
(the source and build folders) may appear, as UTF-8 or UTF-16. On a failure
the file is removed, so that the next build links it again rather than
taking the bad file as up to date.
"""
import os
import struct
import sys

DEBUG_TYPE_EX_DLLCHARACTERISTICS = 20
DEBUG_TYPE_NAMES = {1: "COFF", 2: "CodeView (PDB path and build id)", 4: "misc", 12: "VC feature",
                    13: "POGO", 14: "ILTCG", 16: "repro"}


def read_problems(data, forbidden):
    problems = []
    u16 = lambda at: struct.unpack_from("<H", data, at)[0]
    u32 = lambda at: struct.unpack_from("<I", data, at)[0]
    if len(data) < 0x40 or data[:2] != b"MZ":
        return ["not a PE file"]
    pe = u32(0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        return ["not a PE file"]
    file_header = pe + 4
    sections = u16(file_header + 2)
    if u32(file_header + 4) != 0:
        problems.append("file header time stamp 0x%08X" % u32(file_header + 4))
    optional = file_header + 20
    if u16(optional) != 0x20B:
        return problems + ["not a 64-bit image"]
    directories = optional + 112
    count = u32(optional + 108)
    table = optional + u16(file_header + 16)
    spans = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for virtual_size, address, raw_size, raw_offset in spans:
            if address <= rva < address + max(virtual_size, raw_size) and rva - address < raw_size:
                return raw_offset + rva - address
        return None

    def directory(index):
        return struct.unpack_from("<II", data, directories + 8 * index) if index < count else (0, 0)

    rva, size = directory(6)  # debug
    at = offset(rva) if size else None
    for entry in range(size // 28 if at is not None else 0):
        stamp = u32(at + 28 * entry + 4)
        kind = u32(at + 28 * entry + 12)
        if stamp != 0:
            problems.append("debug entry %d time stamp 0x%08X" % (entry, stamp))
        if kind != DEBUG_TYPE_EX_DLLCHARACTERISTICS:
            problems.append("debug entry %d of type %s" % (entry, DEBUG_TYPE_NAMES.get(kind, kind)))

    rva, size = directory(10)  # load configuration
    at = offset(rva) if size else None
    if at is not None and u32(at + 4) != 0:
        problems.append("load configuration time stamp 0x%08X" % u32(at + 4))

    rva, size = directory(2)  # resources: each directory table has a stamp
    root = offset(rva) if size else None
    pending = [0] if root is not None else []
    while pending:
        table_offset = pending.pop()
        if u32(root + table_offset + 4) != 0:
            problems.append("resource directory time stamp 0x%08X" % u32(root + table_offset + 4))
        entries = u16(root + table_offset + 12) + u16(root + table_offset + 14)
        for entry in range(entries):
            target = u32(root + table_offset + 16 + 8 * entry + 4)
            if target & 0x80000000:
                pending.append(target & 0x7FFFFFFF)

    for path in forbidden:
        for encoding in ("utf-8", "utf-16-le"):
            if path and path.encode(encoding) in data:
                problems.append("the path %s (%s)" % (path, encoding))
    return problems


def main():
    exe = sys.argv[1]
    with open(exe, "rb") as file:
        data = file.read()
    problems = read_problems(data, [os.path.normpath(p) for p in sys.argv[2:]])
    if problems:
        for problem in problems:
            print("%s: %s" % (exe, problem), file=sys.stderr)
        print("%s: the build is not reproducible; removed" % exe, file=sys.stderr)
        os.remove(exe)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
