#!/usr/bin/env python3
"""Checks what the Windows executables take from DLLs, reading their PE import tables.

  check_imports.py --program FILE [--program FILE ...] [--allow DLL ...]
                   [--require NAME=DLL:FUNCTION ...] [--forbid DLL:FUNCTION ...]

Every program may import only from the allowed DLLs (names compared without case) and must not
carry MinGW's own printf (its formatter __mingw_pformat in the symbol table): formatted output
comes from msvcrt.dll. `--require lptspi.exe=msvcrt.dll:printf` also asks every program whose
file is named lptspi.exe to import printf from msvcrt.dll. `--forbid DLL:FUNCTION` names a
function no program may import: one the oldest Windows the programs serve lacks, which they look
up at run time instead (a program importing it would not start there).

Exit status 0 when every program passes, 1 otherwise (one line per finding), 77 when a program
file is missing (its Windows build has not been made).
"""

import argparse
import os
import struct
import sys

SKIP = 77


class NotPE(Exception):
    pass


class Image:
    """Just enough of a PE image, given its bytes: machine, subsystem, checksum field, sections,
    import table and COFF symbol table."""

    def __init__(self, data):
        self.data = d = data
        if len(d) < 0x40 or d[:2] != b"MZ":
            raise NotPE("no MZ header")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise NotPE("no PE signature")
        (self.machine, sections, _, self.symbol_table, self.symbols, optional_size,
         _) = struct.unpack_from("<HHIIIHH", d, pe + 4)
        optional = pe + 24
        self.checksum_field = optional + 64
        self.subsystem = struct.unpack_from("<H", d, optional + 68)[0]
        magic = struct.unpack_from("<H", d, optional)[0]
        if magic == 0x10B:
            self.thunk_size, directories = 4, optional + 96
        elif magic == 0x20B:
            self.thunk_size, directories = 8, optional + 112
        else:
            raise NotPE("unknown optional header magic %#x" % magic)
        self.import_rva, self.import_size = struct.unpack_from("<II", d, directories + 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            (vsize, vaddr, raw_size, raw_ptr) = struct.unpack_from("<IIII", d, table + 40 * i + 8)
            self.sections.append((vaddr, max(vsize, raw_size), raw_ptr))

    def offset(self, rva):
        for vaddr, size, raw_ptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw_ptr + rva - vaddr
        raise NotPE("address %#x lies in no section" % rva)

    def cstring(self, offset):
        end = self.data.index(b"\0", offset)
        return self.data[offset:end].decode("ascii", errors="replace")

    def imports(self):
        """{dll name: [function names, '#ordinal' for ordinal imports]} in file order."""
        result = {}
        if self.import_rva == 0:
            return result
        pos = self.offset(self.import_rva)
        ordinal_bit = 1 << (8 * self.thunk_size - 1)
        fmt = "<I" if self.thunk_size == 4 else "<Q"
        while True:
            lookup, _, _, name_rva, address = struct.unpack_from("<IIIII", self.data, pos)
            if lookup == 0 and name_rva == 0 and address == 0:
                return result
            names = result.setdefault(self.cstring(self.offset(name_rva)), [])
            thunk = self.offset(lookup or address)
            while True:
                entry = struct.unpack_from(fmt, self.data, thunk)[0]
                if entry == 0:
                    break
                if entry & ordinal_bit:
                    names.append("#%d" % (entry & 0xFFFF))
                else:
                    names.append(self.cstring(self.offset(entry & 0x7FFFFFFF) + 2))
                thunk += self.thunk_size
            pos += 20

    def symbol_names(self):
        """The COFF symbol table's names (empty when the image was stripped)."""
        if self.symbol_table == 0 or self.symbols == 0:
            return []
        strings = self.symbol_table + 18 * self.symbols
        names = []
        i = 0
        while i < self.symbols:
            entry = self.symbol_table + 18 * i
            raw = self.data[entry:entry + 8]
            if raw[:4] == b"\0\0\0\0":
                names.append(self.cstring(strings + struct.unpack_from("<I", raw, 4)[0]))
            else:
                names.append(raw.rstrip(b"\0").decode("ascii", errors="replace"))
            i += 1 + self.data[entry + 17]  # and its auxiliary records
        return names


def check(path, allowed, required, forbidden):
    """The findings for one program, as lines (none when it passes), and its imports."""
    try:
        with open(path, "rb") as f:
            image = Image(f.read())
        imports = image.imports()
        symbols = image.symbol_names()
    except (NotPE, ValueError, struct.error) as e:
        return ["%s: not a readable PE image (%s)" % (path, e)], {}
    findings = []
    by_dll = {dll.lower(): functions for dll, functions in imports.items()}
    for dll in imports:
        if dll.lower() not in allowed:
            findings.append("%s imports from %s (allowed: %s)" %
                            (path, dll, ", ".join(sorted(allowed))))
    for dll, function in required:
        if function not in by_dll.get(dll.lower(), []):
            findings.append("%s does not import %s from %s" % (path, function, dll))
    for dll, function in forbidden:
        if function in by_dll.get(dll.lower(), []):
            findings.append("%s imports %s from %s, which older Windows lacks: look it up at "
                            "run time" % (path, function, dll))
    if not symbols:
        findings.append("%s has no symbol table, so MinGW's own printf cannot be ruled out" % path)
    elif any(name.endswith("__mingw_pformat") for name in symbols):
        findings.append("%s carries MinGW's own printf (__mingw_pformat): its formatted output "
                        "does not come from msvcrt.dll" % path)
    return findings, imports


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", action="append", default=[], help="executable to check")
    parser.add_argument("--allow", action="append", default=[], help="a DLL it may import from")
    parser.add_argument("--require", action="append", default=[],
                        help="NAME=DLL:FUNCTION: programs whose file is NAME import FUNCTION from DLL")
    parser.add_argument("--forbid", action="append", default=[],
                        help="DLL:FUNCTION: no program may import FUNCTION from DLL")
    args = parser.parse_args()
    if not args.program:
        parser.error("no --program")
    allowed = {dll.lower() for dll in args.allow}
    required = {}
    for requirement in args.require:
        program, _, rest = requirement.partition("=")
        dll, _, function = rest.partition(":")
        if not program or not dll or not function:
            parser.error("--require %s: expected NAME=DLL:FUNCTION" % requirement)
        required.setdefault(program.lower(), []).append((dll, function))
    forbidden = []
    for entry in args.forbid:
        dll, _, function = entry.partition(":")
        if not dll or not function:
            parser.error("--forbid %s: expected DLL:FUNCTION" % entry)
        forbidden.append((dll, function))
    names = {os.path.basename(p).lower() for p in args.program}
    for program in required:
        if program not in names:
            parser.error("--require names %s, which is not among the programs" % program)

    missing = [p for p in args.program if not os.path.isfile(p)]
    if missing:
        print("SKIP: not built: %s" % ", ".join(missing))
        return SKIP
    findings = []
    for path in args.program:
        found, imports = check(path, allowed, required.get(os.path.basename(path).lower(), []),
                               forbidden)
        if not found:
            print("ok   %s: %s" % (path, "; ".join(
                "%s (%d)" % (dll, len(functions)) for dll, functions in imports.items())))
        findings += found
    for line in findings:
        print("FAIL " + line)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
