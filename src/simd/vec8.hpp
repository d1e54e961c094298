// Eight float32 lanes for the stateless stages of the modulators: eight
// samples at a time, every lane going through exactly the scalar operations,
// so the results are the scalar results.
//
// With AVX, f32x8 is one 256-bit register. Without it, it is a pair of
// 128-bit vectors and every operation is spelled on the halves: GCC would
// otherwise split a 256-bit vector type element by element through memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fp.hpp"

namespace halvo {

#if defined(__AVX__)

typedef float f32x8 __attribute__((vector_size(32)));

HALVO_INLINE f32x8 load8(const float* p) {
    f32x8 v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

HALVO_INLINE void store8(float* p, f32x8 v) { __builtin_memcpy(p, &v, sizeof v); }

HALVO_INLINE f32x8 splat8(float x) { return f32x8{x, x, x, x, x, x, x, x}; }

// a*b + c rounded once, in every lane.
HALVO_INLINE f32x8 fma32x8(f32x8 a, f32x8 b, f32x8 c) { return fma_lanes(a, b, c); }

// x limited to [lo, hi] in every lane: x < lo gives lo, x > hi gives hi, a
// NaN x stays NaN (the order of max and min operands makes it so; asm for
// the reason given at at_least).
HALVO_INLINE f32x8 clamp8(f32x8 x, float lo, float hi) {
    f32x8 low, r;
    asm("vmaxps %2, %1, %0" : "=x"(low) : "x"(splat8(lo)), "x"(x));   // max(lo, x), x on NaN
    asm("vminps %2, %1, %0" : "=x"(r) : "x"(splat8(hi)), "x"(low));   // min(hi, low), low on NaN
    return r;
}

// Non-temporal store of eight floats to a 32-byte aligned p.
HALVO_INLINE void stream8(float* p, f32x8 v) { _mm256_stream_ps(p, reinterpret_cast<__m256>(v)); }

// |x| in every lane: the sign bit cleared, as fabsf does.
HALVO_INLINE f32x8 abs8(f32x8 x) {
    return reinterpret_cast<f32x8>(_mm256_andnot_ps(_mm256_set1_ps(-0.0f), reinterpret_cast<__m256>(x)));
}

// Shuffles, named by what they do to pairs (a, b) of eight samples kept as
// a0 b0 a1 b1 ... in two vectors, lo (samples 0-3) and hi (4-7). evens8 and
// odds8 split them into their a and b parts, join_lo8 and join_hi8 join
// parts again. The parts hold the samples in the order 0 1 4 5 2 3 6 7,
// which costs one in-lane shuffle each way; work lane by lane on parts in
// that order and the join puts every sample back in its place.
HALVO_INLINE f32x8 evens8(f32x8 lo, f32x8 hi) { return HALVO_SHUFFLE(lo, hi, 0, 2, 8, 10, 4, 6, 12, 14); }
HALVO_INLINE f32x8 odds8(f32x8 lo, f32x8 hi) { return HALVO_SHUFFLE(lo, hi, 1, 3, 9, 11, 5, 7, 13, 15); }
HALVO_INLINE f32x8 join_lo8(f32x8 a, f32x8 b) { return HALVO_SHUFFLE(a, b, 0, 8, 1, 9, 4, 12, 5, 13); }
HALVO_INLINE f32x8 join_hi8(f32x8 a, f32x8 b) { return HALVO_SHUFFLE(a, b, 2, 10, 3, 11, 6, 14, 7, 15); }
// Eight consecutive samples put in the parts' order 0 1 4 5 2 3 6 7.
HALVO_INLINE f32x8 part_order8(f32x8 x) { return HALVO_SHUFFLE(x, x, 0, 1, 4, 5, 2, 3, 6, 7); }
// Lanes 0-3, or 4-7, each doubled: a0 a0 a1 a1 a2 a2 a3 a3.
HALVO_INLINE f32x8 dup_lo8(f32x8 a) { return HALVO_SHUFFLE(a, a, 0, 0, 1, 1, 2, 2, 3, 3); }
HALVO_INLINE f32x8 dup_hi8(f32x8 a) { return HALVO_SHUFFLE(a, a, 4, 4, 5, 5, 6, 6, 7, 7); }
// (b, a) for each pair (a, b); the even lanes of a with the odd lanes of b.
HALVO_INLINE f32x8 swap_pairs8(f32x8 a) { return HALVO_SHUFFLE(a, a, 1, 0, 3, 2, 5, 4, 7, 6); }
HALVO_INLINE f32x8 even_odd8(f32x8 a, f32x8 b) { return HALVO_SHUFFLE(a, b, 0, 9, 2, 11, 4, 13, 6, 15); }

#else

struct f32x8 {
    f32x4 lo;  // lanes 0-3
    f32x4 hi;  // lanes 4-7
};

HALVO_INLINE f32x8 operator+(f32x8 a, f32x8 b) { return {a.lo + b.lo, a.hi + b.hi}; }
HALVO_INLINE f32x8 operator-(f32x8 a, f32x8 b) { return {a.lo - b.lo, a.hi - b.hi}; }
HALVO_INLINE f32x8 operator*(f32x8 a, f32x8 b) { return {a.lo * b.lo, a.hi * b.hi}; }
HALVO_INLINE f32x8 operator-(f32x8 a) { return {-a.lo, -a.hi}; }

HALVO_INLINE f32x8 load8(const float* p) {
    f32x8 v;
    __builtin_memcpy(&v.lo, p, sizeof v.lo);
    __builtin_memcpy(&v.hi, p + 4, sizeof v.hi);
    return v;
}

HALVO_INLINE void store8(float* p, f32x8 v) {
    __builtin_memcpy(p, &v.lo, sizeof v.lo);
    __builtin_memcpy(p + 4, &v.hi, sizeof v.hi);
}

HALVO_INLINE f32x8 splat8(float x) { return {f32x4{x, x, x, x}, f32x4{x, x, x, x}}; }

HALVO_INLINE f32x8 fma32x8(f32x8 a, f32x8 b, f32x8 c) { return {fma32x4(a.lo, b.lo, c.lo), fma32x4(a.hi, b.hi, c.hi)}; }

HALVO_INLINE f32x4 clamp4(f32x4 x, float lo, float hi) {
#if defined(__SSE2__)
    f32x4 l = splat4(lo), h = splat4(hi);
    asm("maxps %1, %0" : "+x"(l) : "x"(x));  // l = max(lo, x), x on NaN
    asm("minps %1, %0" : "+x"(h) : "x"(l));  // h = min(hi, l), l on NaN
    return h;
#else
    return f32x4{at_most(at_least(x[0], lo), hi), at_most(at_least(x[1], lo), hi), at_most(at_least(x[2], lo), hi),
                 at_most(at_least(x[3], lo), hi)};
#endif
}

HALVO_INLINE f32x8 clamp8(f32x8 x, float lo, float hi) { return {clamp4(x.lo, lo, hi), clamp4(x.hi, lo, hi)}; }

HALVO_INLINE f32x4 abs4(f32x4 x) {
#if defined(__SSE2__)
    return reinterpret_cast<f32x4>(_mm_andnot_ps(_mm_set1_ps(-0.0f), reinterpret_cast<__m128>(x)));
#else
    return f32x4{abs32(x[0]), abs32(x[1]), abs32(x[2]), abs32(x[3])};
#endif
}

HALVO_INLINE f32x8 abs8(f32x8 x) { return {abs4(x.lo), abs4(x.hi)}; }

HALVO_INLINE void stream8(float* p, f32x8 v) {
#if defined(__SSE2__)
    _mm_stream_ps(p, reinterpret_cast<__m128>(v.lo));
    _mm_stream_ps(p + 4, reinterpret_cast<__m128>(v.hi));
#else
    store8(p, v);
#endif
}

// The shuffles above, lane for lane the same, on the halves.
HALVO_INLINE f32x8 evens8(f32x8 lo, f32x8 hi) {
    return {HALVO_SHUFFLE(lo.lo, hi.lo, 0, 2, 4, 6), HALVO_SHUFFLE(lo.hi, hi.hi, 0, 2, 4, 6)};
}
HALVO_INLINE f32x8 odds8(f32x8 lo, f32x8 hi) {
    return {HALVO_SHUFFLE(lo.lo, hi.lo, 1, 3, 5, 7), HALVO_SHUFFLE(lo.hi, hi.hi, 1, 3, 5, 7)};
}
HALVO_INLINE f32x8 join_lo8(f32x8 a, f32x8 b) {
    return {HALVO_SHUFFLE(a.lo, b.lo, 0, 4, 1, 5), HALVO_SHUFFLE(a.hi, b.hi, 0, 4, 1, 5)};
}
HALVO_INLINE f32x8 join_hi8(f32x8 a, f32x8 b) {
    return {HALVO_SHUFFLE(a.lo, b.lo, 2, 6, 3, 7), HALVO_SHUFFLE(a.hi, b.hi, 2, 6, 3, 7)};
}
HALVO_INLINE f32x8 part_order8(f32x8 x) {
    return {HALVO_SHUFFLE(x.lo, x.hi, 0, 1, 4, 5), HALVO_SHUFFLE(x.lo, x.hi, 2, 3, 6, 7)};
}
HALVO_INLINE f32x8 dup_lo8(f32x8 a) {
    return {HALVO_SHUFFLE(a.lo, a.lo, 0, 0, 1, 1), HALVO_SHUFFLE(a.lo, a.lo, 2, 2, 3, 3)};
}
HALVO_INLINE f32x8 dup_hi8(f32x8 a) {
    return {HALVO_SHUFFLE(a.hi, a.hi, 0, 0, 1, 1), HALVO_SHUFFLE(a.hi, a.hi, 2, 2, 3, 3)};
}
HALVO_INLINE f32x8 swap_pairs8(f32x8 a) {
    return {HALVO_SHUFFLE(a.lo, a.lo, 1, 0, 3, 2), HALVO_SHUFFLE(a.hi, a.hi, 1, 0, 3, 2)};
}
HALVO_INLINE f32x8 even_odd8(f32x8 a, f32x8 b) {
    return {HALVO_SHUFFLE(a.lo, b.lo, 0, 5, 2, 7), HALVO_SHUFFLE(a.hi, b.hi, 0, 5, 2, 7)};
}

#endif

// Large outputs are written with non-temporal stores: whole cache lines go
// to memory without first being read in (as a plain store's line is) and
// without evicting the caller's data. Smaller outputs stay in the cache for
// whoever reads them next. Streaming needs 32-byte aligned destinations, as
// the module's large outputs are (they get their own aligned mapping).
inline constexpr std::size_t kStreamBytes = std::size_t{4} << 20;

struct Sink {
    bool stream;  // non-temporal stores

    static Sink for_output(const void* out, std::size_t bytes) {
        return {bytes >= kStreamBytes && (reinterpret_cast<std::uintptr_t>(out) & 31u) == 0};
    }

    // Eight floats to p, 32-byte aligned when streaming.
    HALVO_INLINE void put8(float* p, f32x8 v) const {
        if (stream) {
            stream8(p, v);
        } else {
            store8(p, v);
        }
    }

    // Orders the streamed stores before whatever the caller does next.
    void finish() const {
#if defined(__SSE2__)
        if (stream) _mm_sfence();
#endif
    }
};

}  // namespace halvo
