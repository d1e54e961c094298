// Float32 primitives shared by every section and class.
//
// The arithmetic of this module is exact to the bit: every fused multiply-add
// is written as fma32() and nothing else is fused (the build passes
// -ffp-contract=off). The helpers here are forced inline so that a kernel
// compiled for another instruction-set level gets its own copy of them
// instead of sharing one out-of-line definition with the baseline build.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#define HALVO_INLINE [[gnu::always_inline]] inline

namespace halvo {

// One complex64 sample as NumPy stores it: in-phase, then quadrature.
struct cf32 {
    float re;
    float im;
};
static_assert(sizeof(cf32) == 8 && alignof(cf32) == 4);

// a*b + c rounded once. With hardware FMA this is one instruction; without
// it, the C library's fmaf, which is exact.
HALVO_INLINE float fma32(float a, float b, float c) { return __builtin_fmaf(a, b, c); }

// Correctly rounded float32 square root.
HALVO_INLINE float sqrt32(float x) { return __builtin_sqrtf(x); }

HALVO_INLINE float abs32(float x) { return __builtin_fabsf(x); }

// Two independent float32 lanes (I and Q of one sample, say) in one vector
// register, lanes 2 and 3 unused and kept at zero. Every lane goes through
// exactly the scalar operations, so the results are the scalar results.
typedef float f32x4 __attribute__((vector_size(16)));

HALVO_INLINE f32x4 lanes2(float a, float b) { return f32x4{a, b, 0.0f, 0.0f}; }
HALVO_INLINE f32x4 lanes1(float a) { return f32x4{a, 0.0f, 0.0f, 0.0f}; }

// a*b + c rounded once, in lanes 0 and 1.
HALVO_INLINE f32x4 fma32x2(f32x4 a, f32x4 b, f32x4 c) {
#if defined(__FMA__)
    return reinterpret_cast<f32x4>(_mm_fmadd_ps(reinterpret_cast<__m128>(a), reinterpret_cast<__m128>(b),
                                                reinterpret_cast<__m128>(c)));
#else
    return lanes2(fma32(a[0], b[0], c[0]), fma32(a[1], b[1], c[1]));
#endif
}

HALVO_INLINE f32x4 sqrt32x4(f32x4 x) {
#if defined(__SSE2__)
    return reinterpret_cast<f32x4>(_mm_sqrt_ps(reinterpret_cast<__m128>(x)));
#else
    return f32x4{sqrt32(x[0]), sqrt32(x[1]), sqrt32(x[2]), sqrt32(x[3])};
#endif
}

// Branch-free choices for data-dependent selects inside recurrences, where a
// mispredicted jump would cost more than the whole sample. Each returns
// exactly one of its operands; NaN behaviour is spelled out per function.

// x < lo ? lo : x. A NaN x is returned as it is.
HALVO_INLINE float at_least(float x, float lo) {
#if defined(__SSE2__)
    return _mm_cvtss_f32(_mm_max_ss(_mm_set_ss(lo), _mm_set_ss(x)));  // lo > x ? lo : x
#else
    return (x < lo) ? lo : x;
#endif
}

// x > hi ? hi : x. A NaN x is returned as it is.
HALVO_INLINE float at_most(float x, float hi) {
#if defined(__SSE2__)
    return _mm_cvtss_f32(_mm_min_ss(_mm_set_ss(hi), _mm_set_ss(x)));  // hi < x ? hi : x
#else
    return (x > hi) ? hi : x;
#endif
}

// x >= y ? a : b. False, so b, when x or y is NaN.
HALVO_INLINE float pick_ge(float x, float y, float a, float b) {
#if defined(__SSE2__)
    const __m128 mask = _mm_cmpge_ss(_mm_set_ss(x), _mm_set_ss(y));
#if defined(__SSE4_1__)
    return _mm_cvtss_f32(_mm_blendv_ps(_mm_set_ss(b), _mm_set_ss(a), mask));
#else
    return _mm_cvtss_f32(_mm_or_ps(_mm_and_ps(mask, _mm_set_ss(a)), _mm_andnot_ps(mask, _mm_set_ss(b))));
#endif
#else
    return (x >= y) ? a : b;
#endif
}

// Loops that split a stateless stage (vectorisable) from a recurrence run
// over the block in pieces of this many samples, so that the intermediate
// values, kept in the output buffer, are still in L1 when the recurrence
// reads them back.
inline constexpr std::size_t kChunk = 512;

// body(first, count) for consecutive pieces of [0, n), kChunk samples each
// (the last one shorter), in order.
template <class Body>
HALVO_INLINE void for_each_chunk(std::size_t n, Body&& body) {
    for (std::size_t i0 = 0; i0 < n; i0 += kChunk) body(i0, (n - i0 < kChunk) ? n - i0 : kChunk);
}

// out[i] = rec(stage(i)) for i in [begin, end), in order. stage(i) depends on
// the input only; rec is a recurrence. The stage of the next 8 samples is
// computed (as one vector, through the output buffer) while the recurrence
// runs over the current 8, so that the two overlap in the core instead of
// running one after the other. The results are those of the plain loop.
template <class Stage, class Rec>
HALVO_INLINE void run_pipelined(float* out, std::size_t begin, std::size_t end, Stage&& stage, Rec&& rec) {
    const std::size_t groups = (end - begin) / 8;
    if (groups > 0) {
        for (std::size_t j = 0; j < 8; ++j) out[begin + j] = stage(begin + j);
    }
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t b = begin + 8 * g;
        if (g + 1 < groups) {
            for (std::size_t j = 0; j < 8; ++j) out[b + 8 + j] = stage(b + 8 + j);
        }
        for (std::size_t j = 0; j < 8; ++j) out[b + j] = rec(out[b + j]);
    }
    for (std::size_t i = begin + 8 * groups; i < end; ++i) out[i] = rec(stage(i));
}

// Samples per group in run_staged.
inline constexpr std::size_t kGroup = 8;

// A block in three stages, for loops whose recurrence sits between two
// stateless stages: pre(j, c) prepares samples [j, j + c) from the input
// alone, rec(j, c) runs the recurrence over them in order, post(j, c)
// finishes them from what rec left. Within each chunk (j counts from the
// chunk's start, so per-chunk buffers of kChunk entries serve) the samples go
// in groups of kGroup: the code for the next group's pre and the previous
// group's post sits around the current group's recurrence, so the core
// overlaps the stateless work with the recurrence's dependency chain. Every
// sample still goes through pre, rec and post in that order.
template <class Pre, class Rec, class Post>
HALVO_INLINE void run_staged(std::size_t n, Pre&& pre, Rec&& rec, Post&& post) {
    for_each_chunk(n, [&](std::size_t i0, std::size_t m) {
        const std::size_t groups = m / kGroup;
        if (groups > 0) pre(i0, std::size_t{0}, kGroup);
        for (std::size_t g = 0; g < groups; ++g) {
            const std::size_t j = g * kGroup;
            if (g + 1 < groups) pre(i0, j + kGroup, kGroup);
            rec(i0, j, kGroup);
            if (g > 0) post(i0, j - kGroup, kGroup);
        }
        if (groups > 0) post(i0, (groups - 1) * kGroup, kGroup);
        const std::size_t j = groups * kGroup;
        if (j < m) {
            pre(i0, j, m - j);
            rec(i0, j, m - j);
            post(i0, j, m - j);
        }
    });
}

// Eight float32 lanes; on a level without 256-bit registers the compiler
// splits each operation into two halves, lane for lane the same. The helpers
// below are always inlined, so no 256-bit value crosses a call: the ABI note
// GCC gives for them on such levels does not apply (the build silences it).
typedef float f32x8 __attribute__((vector_size(32)));

HALVO_INLINE f32x8 load8(const float* p) {
    f32x8 v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

HALVO_INLINE void store8(float* p, f32x8 v) { __builtin_memcpy(p, &v, sizeof v); }

// x limited to [lo, hi] in every lane: x < lo gives lo, x > hi gives hi, a
// NaN x stays NaN (the order of max and min operands makes it so).
HALVO_INLINE f32x8 clamp8(f32x8 x, float lo, float hi) {
#if defined(__AVX__)
    const __m256 low = _mm256_max_ps(_mm256_set1_ps(lo), reinterpret_cast<__m256>(x));  // lo > x ? lo : x
    return reinterpret_cast<f32x8>(_mm256_min_ps(_mm256_set1_ps(hi), low));             // hi < . ? hi : .
#else
    f32x8 r;
    for (int i = 0; i < 8; ++i) r[i] = at_most(at_least(x[i], lo), hi);
    return r;
#endif
}

// Four complex samples (re, im interleaved) times four real amplitudes, as
// the complex product (a + 0j) * (re + j im) with every term rounded:
// (a*re - 0*im, 0*re + a*im). amps holds the four amplitudes in lanes 0-3.
HALVO_INLINE f32x8 scale_complex4(f32x8 amps, f32x8 z) {
    const f32x8 a = __builtin_shufflevector(amps, amps, 0, 0, 1, 1, 2, 2, 3, 3);
    const f32x8 swapped = __builtin_shufflevector(z, z, 1, 0, 3, 2, 5, 4, 7, 6);  // (im, re) pairs
    const f32x8 prod = a * z;                       // a*re, a*im
    const f32x8 cross = f32x8{} * swapped;          // 0*im, 0*re
    const f32x8 diff = prod - cross;                // real parts: a*re - 0*im
    const f32x8 sum = cross + prod;                 // imaginary parts: 0*re + a*im
    return __builtin_shufflevector(diff, sum, 0, 9, 2, 11, 4, 13, 6, 15);
}

// float32 constants, pinned to their bit patterns.
inline constexpr float kTwoPi = 6.2831855f;  // 2*pi
static_assert(std::bit_cast<std::uint32_t>(kTwoPi) == 0x40C90FDBu);
inline constexpr float kNegTwoPi = -6.2831855f;
static_assert(std::bit_cast<std::uint32_t>(kNegTwoPi) == 0xC0C90FDBu);

}  // namespace halvo
