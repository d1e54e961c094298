"""Checks the module's own fused multiply-add against exact arithmetic.

Usage: check_soft_fma.py [emulator ...] soft_fma_io

Sends random and edge-case triples of float32 bit patterns to soft_fma_io and
compares each answer with a*b + c computed exactly (fractions) and rounded
once to float32, to nearest with ties to even. Bits must match exactly,
the sign of zero included; a NaN answer is checked to be a NaN.
"""
import random
import struct
import subprocess
import sys
from fractions import Fraction
import math


def f32(bits):
    return struct.unpack("<f", struct.pack("<I", bits))[0]


def bits_of(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


def round_f32(q):
    """The float32 nearest to the rational q (ties to even), as bits; q != 0."""
    sign = 0x80000000 if q < 0 else 0
    q = abs(q)
    e = q.numerator.bit_length() - q.denominator.bit_length()
    if Fraction(2) ** e > q:
        e -= 1  # now 2**e <= q < 2**(e+1)
    e = max(e, -126)  # subnormals share the smallest exponent
    ulp = Fraction(2) ** (e - 23)
    m, rem = divmod(q, ulp)
    m = int(m)
    if rem * 2 > ulp or (rem * 2 == ulp and m % 2 == 1):
        m += 1
    value = m * ulp
    if value >= Fraction(2) ** 128:
        return sign | 0x7F800000
    return sign | bits_of(float(value))


def exact_fma_bits(a, b, c):
    """Bits of a*b + c rounded once; None when the answer is a NaN."""
    x, y, z = f32(a), f32(b), f32(c)
    if any(math.isnan(v) for v in (x, y, z)):
        return None
    if math.isinf(x) or math.isinf(y):
        if x == 0 or y == 0:
            return None
        p_sign = math.copysign(1, x) * math.copysign(1, y)
        if math.isinf(z) and math.copysign(1, z) != p_sign:
            return None
        return 0xFF800000 if p_sign < 0 else 0x7F800000
    if math.isinf(z):
        return c
    q = Fraction(x) * Fraction(y) + Fraction(z)
    if q == 0:
        # An exact zero: -0 only when both the product and c are -0 (or
        # negative zeros); a cancelling sum gives +0.
        p_neg = (math.copysign(1, x) * math.copysign(1, y)) < 0
        return 0x80000000 if (p_neg and math.copysign(1, z) < 0 and x * y == 0 and z == 0) else 0
    return round_f32(q)


def triples(rng):
    special = [0x00000000, 0x80000000, 0x00000001, 0x80000001, 0x007FFFFF, 0x00800000, 0x3F800000,
               0xBF800000, 0x3F800001, 0x3F7FFFFF, 0x7F7FFFFF, 0xFF7FFFFF, 0x7F800000, 0xFF800000,
               0x7FC00000, 0xFFC00001, 0x33800000, 0x34000000, 0x1F800000, 0x5F800000]
    for a in special:
        for b in special:
            for c in special:
                yield a, b, c
    for _ in range(30000):  # any bit patterns
        yield rng.getrandbits(32), rng.getrandbits(32), rng.getrandbits(32)
    for _ in range(30000):  # moderate exponents: c near the product, where the rounding decides
        a = rng.getrandbits(23) | (rng.randrange(100, 154) << 23) | (rng.getrandbits(1) << 31)
        b = rng.getrandbits(23) | (rng.randrange(100, 154) << 23) | (rng.getrandbits(1) << 31)
        p = f32(a) * f32(b)
        c = bits_of(struct.unpack("<f", struct.pack("<f", -p))[0]) ^ rng.getrandbits(rng.choice([0, 1, 4, 12, 23]))
        if rng.random() < 0.3:
            c ^= 0x80000000
        yield a, b, c & 0xFFFFFFFF
    for _ in range(20000):  # products and sums near the subnormal range
        a = rng.getrandbits(23) | (rng.randrange(40, 90) << 23) | (rng.getrandbits(1) << 31)
        b = rng.getrandbits(23) | (rng.randrange(40, 90) << 23) | (rng.getrandbits(1) << 31)
        c = rng.getrandbits(23) | (rng.randrange(0, 3) << 23) | (rng.getrandbits(1) << 31)
        yield a, b, c
    n = 0
    while n < 20000:  # a*b exactly halfway between two floats, c far below it
        a = (1 << 23) | rng.getrandbits(23) | 1  # odd, 24 bits
        b = rng.choice([3, 5, 7, 9, 11, 13, 15])
        m = a * b
        if m.bit_length() != 25:  # 25 bits, odd: its last bit is the tie bit
            continue
        scale = rng.randrange(-60, 60)
        c = rng.choice([-1.0, 1.0]) * 2.0 ** (scale + rng.randrange(-40, -25))
        yield bits_of(float(a) * 2.0 ** scale), bits_of(float(b)), bits_of(c)
        n += 1
    for _ in range(5000):  # near overflow
        a = rng.getrandbits(23) | (rng.randrange(120, 128) << 23)
        b = rng.getrandbits(23) | (rng.randrange(127, 136) << 23)
        c = rng.getrandbits(23) | (254 << 23) | (rng.getrandbits(1) << 31)
        yield a, b, c


def main():
    command = sys.argv[1:]
    rng = random.Random(20261210)
    cases = list(triples(rng))
    text = "".join(f"{a:08x} {b:08x} {c:08x}\n" for a, b, c in cases)
    out = subprocess.run(command, input=text, capture_output=True, text=True, check=True).stdout.split()
    if len(out) != len(cases):
        print(f"expected {len(cases)} answers, got {len(out)}")
        return 1
    bad = 0
    for (a, b, c), got_hex in zip(cases, out):
        got = int(got_hex, 16)
        want = exact_fma_bits(a, b, c)
        ok = (got & 0x7FFFFFFF) > 0x7F800000 if want is None else got == want
        if not ok:
            bad += 1
            if bad <= 10:
                print(f"fma({a:08x}, {b:08x}, {c:08x}) = {got:08x}, exact: {'NaN' if want is None else f'{want:08x}'}")
    print(f"{len(cases)} triples, {bad} wrong")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
