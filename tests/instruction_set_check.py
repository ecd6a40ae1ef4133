#!/usr/bin/env python3
"""Checks that a 32-bit image runs on every P6-class x86 processor (Pentium Pro, Pentium II and
later, Athlon and later): no MMX, 3DNow!, SSE or later instruction in its code, except in the code
that runs only after a CPUID test has found what it uses (GUARDED, by the name of the code's
section in the linker's map). CMOV and the other instructions of the Pentium Pro are allowed.

The image is stripped, so the linker's map of its link (-Wl,-Map) tells its code from the data
that the linker puts in the same section (constructor lists, exception tables), and names the
function of each instruction found. Prints what the guarded code holds; names each wrong
instruction with its function.

    instruction_set_check.py OBJDUMP IMAGE MAP GUARDED
"""

import bisect
import re
import subprocess
import sys
from pathlib import Path

# Registers of MMX and 3DNow! (mm), SSE and AVX (xmm, ymm, zmm) and AVX-512's masks.
VECTOR_REGISTER = re.compile(r"%(?:[xyz]?mm[0-9]+|k[0-7])\b")
# Instructions without such a register that came with or after MMX and SSE.
LATER = re.compile(
    r"(?:emms|femms|ldmxcsr|stmxcsr|[lsm]fence|clflush\w*|clwb|movnti|prefetch\w*|"
    r"fxsave\w*|fxrstor\w*|xsave\w*|xrstor\w*|xgetbv|xsetbv|rdrand|rdseed|popcnt|lzcnt|tzcnt|"
    r"movbe|crc32\w*|andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|"
    r"adcx|adox|sysenter|sysexit|syscall|sysret|rdtscp|rdpid|monitor\w*|mwait\w*)"
)
PREFIXES = {"rep", "repz", "repe", "repnz", "repne", "lock", "data16", "addr16", "notrack"}
INSTRUCTION = re.compile(r"^\s*([0-9a-f]+):\t(.*)$")


def code_sections(map_path):
    """The output section .text as (start, size), and its input sections whose names say code,
    as sorted (start, end, name, file)."""
    text = None
    sections = []
    inside = False
    pending = None
    for line in Path(map_path).read_text(encoding="utf-8", errors="replace").splitlines():
        if line and not line[0].isspace():
            fields = line.split()
            inside = fields[0] == ".text"
            if inside and len(fields) >= 3:
                text = (int(fields[1], 16), int(fields[2], 16))
            pending = None
            continue
        if not inside:
            continue
        fields = line.split()
        # A long section name stands alone, its address, size and file on the next line.
        if len(fields) == 1 and line.startswith(" ."):
            pending = fields[0]
            continue
        if line.startswith(" .") and len(fields) >= 4 and fields[1].startswith("0x"):
            name, address, size, file = fields[0], fields[1], fields[2], " ".join(fields[3:])
        elif pending and len(fields) >= 3 and fields[0].startswith("0x") and fields[1].startswith("0x"):
            name, address, size, file = pending, fields[0], fields[1], " ".join(fields[2:])
        else:
            continue
        pending = None
        start, length = int(address, 16), int(size, 16)
        if name.startswith(".text") and length > 0:
            sections.append((start, start + length, name, Path(file).name))
    return text, sorted(sections)


def image_text(objdump, image):
    """The image's section .text as (start, size)."""
    out = subprocess.run([objdump, "-h", image], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        fields = line.split()
        if len(fields) >= 4 and fields[1] == ".text":
            return int(fields[3], 16), int(fields[2], 16)
    sys.exit(f"wrong: {image} has no section .text")


def disassembly(objdump, image, start=None, stop=None):
    """The image's instructions as (address, mnemonic, operands)."""
    command = [objdump, "-d", "--no-show-raw-insn", "-w", image]
    if start is not None:
        command += [f"--start-address={start:#x}", f"--stop-address={stop:#x}"]
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        match = INSTRUCTION.match(line)
        if not match:
            continue
        words = match.group(2).split()
        while words and words[0] in PREFIXES:
            words = words[1:]
        if words:
            yield int(match.group(1), 16), words[0], " ".join(words[1:])


def within(address, sections):
    return any(start <= address < end for start, end, _, _ in sections)


def later_instruction(mnemonic, operands):
    return LATER.fullmatch(mnemonic) is not None or VECTOR_REGISTER.search(operands) is not None


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    objdump, image, map_path, guarded_path = sys.argv[1:]
    guarded = {
        line.split()[0]
        for line in Path(guarded_path).read_text(encoding="utf-8").splitlines()
        if line.strip() and not line.startswith("#")
    }
    text, sections = code_sections(map_path)
    image_start, image_size = image_text(objdump, image)
    # The map gives the section's size padded to the file's alignment of 512 bytes.
    if not sections or text is None or text[0] != image_start or not 0 <= text[1] - image_size < 512:
        sys.exit(f"wrong: {map_path} is not the map of {image}'s link")
    starts = [s[0] for s in sections]

    instructions = list(disassembly(objdump, image))
    # A disassembly that ran on from the bytes between two functions may begin the next one out
    # of step; each such function is taken again from its own first byte.
    decoded = {address for address, _, _ in instructions}
    out_of_step = [s for s in sections if s[0] not in decoded]
    if out_of_step:
        instructions = [i for i in instructions if not within(i[0], out_of_step)]
        for start, end, _, _ in out_of_step:
            instructions += disassembly(objdump, image, start, end)
        print(f"{len(out_of_step)} functions disassembled again from their first byte")

    wrong = []
    allowed = []
    count = 0
    for address, mnemonic, operands in instructions:
        index = bisect.bisect_right(starts, address) - 1
        if index < 0 or address >= sections[index][1]:
            continue  # data that the linker put in .text
        count += 1
        if not later_instruction(mnemonic, operands):
            continue
        _, _, name, file = sections[index]
        entry = f"{address:#x} {mnemonic} {operands} in {name} ({file})"
        (allowed if name in guarded else wrong).append(entry)
    print(f"{count} instructions in {len(sections)} code sections")
    for entry in allowed:
        print(f"after a CPUID test: {entry}")
    for entry in wrong:
        print(f"wrong: beyond the Pentium Pro: {entry}", file=sys.stderr)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
