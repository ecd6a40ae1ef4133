#!/usr/bin/env python3
"""Checks the functions that the programs look up at run time against what Windows XP SP3 exports.

Every function name that the sources hand as a literal to GetProcAddress, ProcedureAddress or
SystemLibrary::Procedure must stand in LOOKUPS, with its DLL and what the program does where the
function is missing, and every line of LOOKUPS must be such a look-up. A function without a
fallback ("-") must be in its DLL's list in EXPORTS (tests/xp-sp3-exports); a DLL without a list
is refused for it. Prints each look-up; names each wrong one.

    run_time_lookups_check.py LOOKUPS EXPORTS SOURCE-FOLDER...
"""

import re
import sys
from pathlib import Path

# Comments, and string literals so that comment marks inside them are left alone.
TOKENS = re.compile(r'//[^\n]*|/\*.*?\*/|(?:L|u8|u|U)?"(?:\\.|[^"\\\n])*"', re.S)
LOOKUP = re.compile(r"\bGetProcAddress\s*\(|\bProcedure(?:Address)?\s*<")
NAME = re.compile(r'"([A-Za-z_][A-Za-z0-9_]*)"')


def without_comments(text):
    return TOKENS.sub(lambda m: " " if m.group(0).startswith("/") else m.group(0), text)


def looked_up(folders):
    """The names looked up, each with the files that look it up."""
    names = {}
    for folder in folders:
        for path in sorted(Path(folder).rglob("*")):
            if path.suffix not in (".cpp", ".h"):
                continue
            code = without_comments(path.read_text(encoding="utf-8"))
            for call in LOOKUP.finditer(code):
                # The name is the call's first narrow literal, before the statement ends.
                statement = code[call.end():code.find(";", call.end())]
                literals = [m.group(0) for m in TOKENS.finditer(statement)]
                narrow = [NAME.fullmatch(t) for t in literals if t.startswith('"')]
                if narrow and narrow[0]:
                    names.setdefault(narrow[0].group(1), set()).add(f"{folder.name}/{path.name}")
    return names


def declared(lookups):
    """LOOKUPS as {function: (dll, fallback)}."""
    entries = {}
    for line in Path(lookups).read_text(encoding="utf-8").splitlines():
        if line.startswith("#") or not line.strip():
            continue
        dll, function, fallback = line.split(None, 2)
        entries[function] = (dll, fallback)
    return entries


def exported(exports, dll):
    """What XP SP3's DLL exports, or None without a list."""
    path = Path(exports) / (dll.lower().removesuffix(".dll") + ".txt")
    return set(path.read_text(encoding="ascii").split()) if path.exists() else None


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    entries = declared(sys.argv[1])
    names = looked_up([Path(folder) for folder in sys.argv[3:]])
    wrong = []
    for function, files in sorted(names.items()):
        if function not in entries:
            wrong.append(f"{function}: looked up in {', '.join(sorted(files))}, not in the list")
    for function, (dll, fallback) in sorted(entries.items(), key=lambda e: e[1][0] + e[0]):
        if function not in names:
            wrong.append(f"{dll} {function}: listed, but no source looks it up")
            continue
        print(f"looked up: {dll} {function}; where missing: {fallback}")
        if fallback != "-":
            continue
        functions = exported(sys.argv[2], dll)
        if functions is None:
            wrong.append(f"{dll} {function}: needed, and there is no list of what {dll} exports")
        elif function not in functions:
            wrong.append(f"{dll} {function}: needed, and Windows XP SP3 does not export it")
    for line in wrong:
        print(f"wrong: {line}", file=sys.stderr)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
