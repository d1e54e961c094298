"""Summarises a valgrind memcheck log of the test suite.

Fails (exit 1) on any invalid read, write or free, on any other error with a
frame in halvo_sdr, and on any definitely lost block with a frame in
halvo_sdr. Errors and leaks of the interpreter and NumPy alone are counted
and listed by kind, not judged.
"""
import re
import sys
from collections import Counter

ALWAYS_BAD = ("Invalid read", "Invalid write", "Invalid free", "Mismatched free", "Source and destination overlap")


# A stack frame: "at 0x4A1B2C: function (file.cpp:12)" or "by 0x...: function (in /path/object.so)".
FRAME = re.compile(r"^\s*(?:at|by) 0x[0-9A-Fa-f]+: (?P<fn>.*?) \((?:in (?P<obj>[^)]*)|[^)]*)\)\s*$")
# The extension's file (halvo_sdr.abi3.so, halvo_sdr.cpython-311-x86_64-linux-gnu.so, halvo_sdr.pyd ...).
MODULE_FILE = re.compile(r"^halvo_(?:sdr|radio)(?:\.[\w-]+)?\.(?:so|pyd)$")


def is_ours(record):
    """True when a frame of the record is in the extension: a function of its
    namespace or init function, or any frame in its shared object. The
    object's file name is matched, never the directory it lives in (a clone
    may sit in a folder named after the project)."""
    for line in record:
        m = FRAME.match(line)
        if not m:
            continue
        if m["fn"].startswith(("halvo::", "PyInit_halvo_")):
            return True
        if m["obj"] and MODULE_FILE.match(m["obj"].rsplit("/", 1)[-1]):
            return True
    return False


def blocks(lines):
    block = []
    for line in lines:
        body = re.sub(r"^==\d+== ?", "", line.rstrip("\n"))
        if body == "":
            if block:
                yield block
            block = []
        else:
            block.append(body)
    if block:
        yield block


def main(path):
    with open(path, errors="replace") as f:
        lines = f.readlines()
    kinds, bad, module_leaks, lost_total = Counter(), [], [], 0
    for b in blocks(lines):
        head = b[0]
        ours = is_ours(b)
        if "definitely lost in loss record" in head:
            lost_total += 1
            if ours:
                module_leaks.append(b)
            continue
        if not b[1:] or not b[1].lstrip().startswith(("at ", "by ")):
            continue  # not an error report
        kind = head.split(" of size")[0].split(" (")[0]
        kinds[kind + (" [halvo_sdr]" if ours else "")] += 1
        if head.startswith(ALWAYS_BAD) or ours:
            bad.append(b)
    print(f"memcheck log: {path}")
    for line in lines:
        if "ERROR SUMMARY" in line or "definitely lost:" in line or "indirectly lost:" in line:
            print("  " + re.sub(r"^==\d+== ?", "", line.strip()))
    print(f"  error reports by kind: {dict(kinds) or 'none'}")
    print(f"  definitely lost records: {lost_total} in all, {len(module_leaks)} with a halvo_sdr frame")
    for b in bad + module_leaks:
        print("\n".join("    " + line for line in b[:16]))
        print()
    ok = not bad and not module_leaks
    print("memcheck: " + ("clean for halvo_sdr" if ok else "FINDINGS above"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
