// Float32 primitives shared by every section and class.
//
// The arithmetic of this module is exact to the bit: every fused multiply-add
// is written as fma32() and nothing else is fused (the build passes
// -ffp-contract=off). The helpers here are forced inline so that a kernel
// compiled for another instruction-set level gets its own copy of them
// instead of sharing one out-of-line definition with the baseline build.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../port/shuffle.hpp"
#include "../port/soft_fma.hpp"
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#define HALVO_INLINE [[gnu::always_inline]] inline
// The same for a lambda, written after its parameter list: the stages handed
// to run_staged must melt into one loop, state in registers.
#define HALVO_STAGE __attribute__((always_inline))

namespace halvo {

// One complex64 sample as NumPy stores it: in-phase, then quadrature.
struct cf32 {
    float re;
    float im;
};
static_assert(sizeof(cf32) == 8 && alignof(cf32) == 4);

// a*b + c rounded once. With hardware FMA this is one instruction; without
// it, the module's own correctly rounded one (never the C library's fmaf,
// which is not exact everywhere).
#if defined(__FMA__) || defined(__ARM_FEATURE_FMA) || defined(__aarch64__) || defined(_M_ARM64)
HALVO_INLINE float fma32(float a, float b, float c) { return __builtin_fmaf(a, b, c); }
#else
HALVO_INLINE float fma32(float a, float b, float c) { return port::soft_fma32(a, b, c); }
#endif

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

// a*b + c rounded once in every lane of a vector of floats V (16, 32 or 64
// bytes): one fused instruction where the level has one of that width, else
// fma32 lane by lane.
template <class V>
HALVO_INLINE V fma_lanes(V a, V b, V c) {
#if defined(__AVX512F__)
    if constexpr (sizeof(V) == 64) {
        return reinterpret_cast<V>(_mm512_fmadd_ps(reinterpret_cast<__m512>(a), reinterpret_cast<__m512>(b),
                                                   reinterpret_cast<__m512>(c)));
    } else
#endif
#if defined(__FMA__)
    if constexpr (sizeof(V) == 32) {
        return reinterpret_cast<V>(_mm256_fmadd_ps(reinterpret_cast<__m256>(a), reinterpret_cast<__m256>(b),
                                                   reinterpret_cast<__m256>(c)));
    } else if constexpr (sizeof(V) == 16) {
        return reinterpret_cast<V>(_mm_fmadd_ps(reinterpret_cast<__m128>(a), reinterpret_cast<__m128>(b),
                                                reinterpret_cast<__m128>(c)));
    } else
#endif
    if constexpr (sizeof(V) == 16) {  // four lanes spelt out, the loop below left to the compiler for wider ones
        return V{fma32(a[0], b[0], c[0]), fma32(a[1], b[1], c[1]), fma32(a[2], b[2], c[2]), fma32(a[3], b[3], c[3])};
    } else {
        V r;
        for (std::size_t j = 0; j < sizeof(V) / sizeof(float); ++j) r[j] = fma32(a[j], b[j], c[j]);
        return r;
    }
}

// The correctly rounded square root of every lane of V, likewise.
template <class V>
HALVO_INLINE V sqrt_lanes(V x) {
#if defined(__AVX512F__)
    if constexpr (sizeof(V) == 64) {
        V r;
        asm("vsqrtps %1, %0" : "=v"(r) : "v"(x));  // (GCC 12's _mm512_sqrt_ps warns of an uninitialised operand)
        return r;
    } else
#endif
#if defined(__AVX__)
    if constexpr (sizeof(V) == 32) {
        return reinterpret_cast<V>(_mm256_sqrt_ps(reinterpret_cast<__m256>(x)));
    } else
#endif
#if defined(__SSE2__)
    if constexpr (sizeof(V) == 16) {
        return reinterpret_cast<V>(_mm_sqrt_ps(reinterpret_cast<__m128>(x)));
    } else
#endif
    if constexpr (sizeof(V) == 16) {
        return V{sqrt32(x[0]), sqrt32(x[1]), sqrt32(x[2]), sqrt32(x[3])};
    } else {
        V r;
        for (std::size_t j = 0; j < sizeof(V) / sizeof(float); ++j) r[j] = sqrt32(x[j]);
        return r;
    }
}

HALVO_INLINE f32x4 fma32x4(f32x4 a, f32x4 b, f32x4 c) { return fma_lanes(a, b, c); }

HALVO_INLINE f32x4 splat4(float x) { return f32x4{x, x, x, x}; }

// Two floats from memory into lanes 0 and 1, lanes 2 and 3 zero; and back.
// (One 8-byte move each way: building the vector in memory instead would
// make the load wait for two narrower stores to reach the cache.)
HALVO_INLINE f32x4 load2(const float* p) {
#if defined(__SSE2__)
    return reinterpret_cast<f32x4>(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
#else
    return f32x4{p[0], p[1], 0.0f, 0.0f};
#endif
}

HALVO_INLINE void store2(float* p, f32x4 v) {
#if defined(__SSE2__)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), reinterpret_cast<__m128i>(v));
#else
    p[0] = v[0];
    p[1] = v[1];
#endif
}

HALVO_INLINE f32x4 sqrt32x4(f32x4 x) { return sqrt_lanes(x); }

// x, unchanged, but opaque to the optimiser. GCC's loop vectoriser turns a
// scalar loop of complex products (a*c - b*d, b*c + a*d over interleaved
// pairs) into fused multiply-adds even with contraction off; passing one
// operand through here keeps such a loop scalar and its roundings as written.
// (A float or a double.)
template <class T>
HALVO_INLINE T opaque(T x) {
#if defined(__SSE2__)
    asm("" : "+x"(x));
#else
    asm("" : "+m"(x));
#endif
    return x;
}

// Branch-free choices for data-dependent selects inside recurrences, where a
// mispredicted jump would cost more than the whole sample. Each returns
// exactly one of its operands; NaN behaviour is spelled out per function.

// The x86 max and min instructions return their second source operand when
// either is NaN, so operand order matters. These are written in asm: GCC 12
// has been seen to swap the operands of the max/min intrinsics in some
// builds (the sanitizer build), which turns a NaN into the bound.

// Upper ? min(x, b) : max(x, b), that is x > b ? b : x or x < b ? b : x.
// A NaN x is returned as it is.
template <bool Upper>
HALVO_INLINE float bounded(float x, float b) {
#if defined(__AVX__)
    float r;
    if constexpr (Upper) asm("vminss %2, %1, %0" : "=x"(r) : "x"(b), "x"(x));  // min(b, x), x on NaN
    else asm("vmaxss %2, %1, %0" : "=x"(r) : "x"(b), "x"(x));                  // max(b, x), x on NaN
    return r;
#elif defined(__SSE2__)
    if constexpr (Upper) asm("minss %1, %0" : "+x"(b) : "x"(x));  // b = min(b, x), x on NaN
    else asm("maxss %1, %0" : "+x"(b) : "x"(x));                  // b = max(b, x), x on NaN
    return b;
#else
    return (Upper ? x > b : x < b) ? b : x;
#endif
}

// x < lo ? lo : x. A NaN x is returned as it is.
HALVO_INLINE float at_least(float x, float lo) { return bounded<false>(x, lo); }

// x > hi ? hi : x. A NaN x is returned as it is.
HALVO_INLINE float at_most(float x, float hi) { return bounded<true>(x, hi); }

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

// out[i - Lag] = rec(stage(i)) for i in [begin, end), in order, Lag being 0
// or 1 (begin >= Lag): a recurrence whose output lags its input by one
// sample stores each output one place back, after reading its own entry.
// stage(i) depends on the input only; rec is a recurrence. The stage of the
// next 8 samples is computed (as one vector, through the output buffer)
// while the recurrence runs over the current 8, so that the two overlap in
// the core instead of running one after the other. The results are those
// of the plain loop.
template <std::size_t Lag = 0, class Stage, class Rec>
HALVO_INLINE void run_pipelined(float* out, std::size_t begin, std::size_t end, Stage&& stage, Rec&& rec) {
    static_assert(Lag <= 1);
    const std::size_t groups = (end - begin) / 8;
    if (groups > 0) {
        for (std::size_t j = 0; j < 8; ++j) out[begin + j] = stage(begin + j);
    }
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t b = begin + 8 * g;
        if (g + 1 < groups) {
            for (std::size_t j = 0; j < 8; ++j) out[b + 8 + j] = stage(b + 8 + j);
        }
        for (std::size_t j = 0; j < 8; ++j) out[b + j - Lag] = rec(out[b + j]);
    }
    for (std::size_t i = begin + 8 * groups; i < end; ++i) out[i - Lag] = rec(stage(i));
}

// Unrolls a recurrence loop over one group where that pays: with hardware
// FMA the loop body is a few instructions; without it, each fused multiply-
// add is a dozen double operations and unrolling only spills more.
#if defined(__FMA__)
#define HALVO_UNROLL_GROUP _Pragma("GCC unroll 8")
#else
#define HALVO_UNROLL_GROUP
#endif

// Samples per group in run_staged, and the size of the ring of per-group
// buffers its stages share (room for four groups).
inline constexpr std::size_t kGroup = 8;
inline constexpr std::size_t kRing = 4 * kGroup;

// A block in three stages, for loops whose recurrence sits between two
// stateless stages: pre(i, r, c) prepares samples [i, i + c) from the input
// alone, rec(i, r, c) runs the recurrence over them in order, post(i, r, c)
// finishes them from what rec left. The samples go in groups of kGroup
// (c = kGroup, except for a last group of c < kGroup); r is the group's
// place in a ring of kRing entries, where the stages keep what they hand on
// (r is a multiple of kGroup and r + c <= kRing). The code for the next
// group's pre and the previous group's post sits around the current group's
// recurrence, so the core overlaps the stateless work with the recurrence's
// dependency chain. Every sample goes through pre, rec and post in that
// order, each stage sees the groups in block order, and the next group's pre
// always runs before the current group's rec (a recurrence may look one
// group ahead).
template <class Pre, class Rec, class Post>
HALVO_INLINE void run_staged(std::size_t n, Pre&& pre, Rec&& rec, Post&& post) {
    const std::size_t groups = n / kGroup;
    const std::size_t tail = n % kGroup;  // samples in a last, shorter group
    const auto ring = [](std::size_t g) { return (g % (kRing / kGroup)) * kGroup; };
    if (groups > 0) {
        pre(std::size_t{0}, std::size_t{0}, kGroup);
        std::size_t g = 0;
        for (; g + 1 < groups; ++g) {
            pre((g + 1) * kGroup, ring(g + 1), kGroup);
            rec(g * kGroup, ring(g), kGroup);
            if (g > 0) post((g - 1) * kGroup, ring(g - 1), kGroup);
        }
        if (tail > 0) pre(groups * kGroup, ring(groups), tail);
        rec(g * kGroup, ring(g), kGroup);
        if (g > 0) post((g - 1) * kGroup, ring(g - 1), kGroup);
        post(g * kGroup, ring(g), kGroup);
    } else if (tail > 0) {
        pre(std::size_t{0}, std::size_t{0}, tail);
    }
    if (tail > 0) {
        rec(groups * kGroup, ring(groups), tail);
        post(groups * kGroup, ring(groups), tail);
    }
}

}  // namespace halvo
