"""No weak symbol is defined in kernel objects of two instruction sets.

Each level's objects are compiled for their own instruction set. An inline
function emitted out of line in two of them becomes a weak symbol in both, and
the linker keeps one copy for all: one level's code would then run inside
another's (AVX2 code in the baseline path, say). The level loops and helpers
keep internal linkage to prevent that; this check enforces it. Objects built
for the same instruction set (a level's single-object and bank loops, the
reference and the dispatchers, all at the baseline) may share a copy: it is
the same code either way, and at low optimisation (the sanitized build) the
compiler does emit such helpers out of line.

    python level_symbols.py NM OBJECT...
"""
import subprocess
import sys


def weak_symbols(nm, obj):
    out = subprocess.run([nm, "--defined-only", obj], check=True, capture_output=True, text=True).stdout
    # Code only: W is a weak function. Weak or unique data (V, u: inline
    # constants, the exception personality's DW.ref) are the same bytes in
    # every level and never run.
    return {f[2] for f in (line.split() for line in out.splitlines()) if len(f) == 3 and f[1] == "W"}


LEVELS = ("x86_64_v3", "x86_64_v4")  # compiled with their own -march; every other object at the baseline


def instruction_set(obj):
    name = obj.rsplit("/", 1)[-1]
    return next((level for level in LEVELS if level in name), "baseline")


def main():
    nm, objects = sys.argv[1], sys.argv[2:]
    seen = {}
    shared = []
    for obj in objects:
        for sym in weak_symbols(nm, obj):
            if sym in seen and instruction_set(seen[sym]) != instruction_set(obj):
                shared.append(f"{sym}: {seen[sym]} and {obj}")
            seen.setdefault(sym, obj)
    print(f"{len(objects)} level objects, {len(seen)} weak symbols")
    if shared:
        print("weak symbols defined in more than one level:\n  " + "\n  ".join(shared))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
