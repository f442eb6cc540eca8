#!/usr/bin/env python3
"""Checks a linked Windows executable for anything that could carry the time
or the place of its build, and fails the build if it finds one.

    check_pe_stamps.py EXE [FORBIDDEN_PATH...]

Every time stamp must be 0: the file header's, the load configuration's, each
debug directory entry's and each resource directory's. Two debug entries are
allowed: the one that carries the CET mark (it has no time, path or id), and
one CodeView entry that names the executable's own PDB by its bare file name
(NAME.pdb beside NAME.exe; its GUID is a hash of the PDB's content). A
CodeView entry that names a folder, or another file, is refused. None of the
given paths (the source and build folders) may appear, as UTF-8 or UTF-16.
On a failure the file is removed, so that the next build links it again
rather than taking the bad file as up to date.
"""
import os
import struct
import sys

DEBUG_TYPE_CODEVIEW = 2
DEBUG_TYPE_EX_DLLCHARACTERISTICS = 20
DEBUG_TYPE_NAMES = {1: "COFF", 4: "misc", 12: "VC feature", 13: "POGO", 14: "ILTCG", 16: "repro"}
# A CodeView (RSDS) record: signature, GUID, age, then the PDB's name.
CODEVIEW_NAME_OFFSET = 4 + 16 + 4


def codeview_pdb_name(data, at, size):
    """The PDB name of the RSDS record at `at`, or None if there is none."""
    record = data[at:at + size]
    if len(record) <= CODEVIEW_NAME_OFFSET or record[:4] != b"RSDS":
        return None
    return record[CODEVIEW_NAME_OFFSET:].split(b"\0", 1)[0].decode("utf-8", "replace")


def read_problems(data, forbidden, pdb_name):
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
    codeview_entries = 0
    for entry in range(size // 28 if at is not None else 0):
        stamp = u32(at + 28 * entry + 4)
        kind = u32(at + 28 * entry + 12)
        if stamp != 0:
            problems.append("debug entry %d time stamp 0x%08X" % (entry, stamp))
        if kind == DEBUG_TYPE_CODEVIEW:
            codeview_entries += 1
            name = codeview_pdb_name(data, u32(at + 28 * entry + 24), u32(at + 28 * entry + 16))
            if name != pdb_name or codeview_entries > 1:
                problems.append("debug entry %d: a CodeView record naming %r, not the bare %s" % (entry, name, pdb_name))
        elif kind != DEBUG_TYPE_EX_DLLCHARACTERISTICS:
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

    return problems + paths_in(data, forbidden)


def paths_in(data, forbidden):
    return ["the path %s (%s)" % (path, encoding)
            for path in forbidden for encoding in ("utf-8", "utf-16-le")
            if path and path.encode(encoding) in data]


def main():
    exe = sys.argv[1]
    forbidden = [os.path.normpath(p) for p in sys.argv[2:]]
    with open(exe, "rb") as file:
        data = file.read()
    pdb = os.path.splitext(exe)[0] + ".pdb"
    problems = read_problems(data, forbidden, os.path.basename(pdb))
    # The PDB beside it, when the link wrote one, names no build folder either.
    if os.path.exists(pdb):
        with open(pdb, "rb") as file:
            problems += ["%s: %s" % (os.path.basename(pdb), problem) for problem in paths_in(file.read(), forbidden)]
    if problems:
        for problem in problems:
            print("%s: %s" % (exe, problem), file=sys.stderr)
        print("%s: the build is not reproducible; removed" % exe, file=sys.stderr)
        os.remove(exe)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
