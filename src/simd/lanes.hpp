// One set of float32 operations for a plain float and for vectors of
// independent lanes, so that a class's per-sample step is written once: as a
// float it is the scalar step; as a vector of 8 (AVX2) or 16 (AVX-512)
// lanes it advances 8 or 16 independent objects, each lane doing exactly the
// scalar operations, so each lane's bits are those of the scalar step.
//
// Comparisons give a bool for a float and a lane mask for a vector; select()
// takes either. Every helper is forced inline (no out-of-line copy may be
// shared between instruction-set levels).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "fp.hpp"
#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace halvo::simd {

typedef float lanes8 __attribute__((vector_size(32)));
typedef float lanes16 __attribute__((vector_size(64)));
typedef std::int32_t mask8 __attribute__((vector_size(32)));
typedef std::int32_t mask16 __attribute__((vector_size(64)));

// How many lanes a lane type has.
template <class V>
inline constexpr int kWidth = sizeof(V) / sizeof(float);

// A value in every lane.
template <class V>
HALVO_INLINE V splat(float x) {
    if constexpr (std::is_same_v<V, float>) {
        return x;
    } else {
        return V{} + x;
    }
}

HALVO_INLINE float select(bool m, float a, float b) { return m ? a : b; }

template <class V, class M>
HALVO_INLINE V select(M m, V a, V b) {
    M ia, ib;
    std::memcpy(&ia, &a, sizeof a);
    std::memcpy(&ib, &b, sizeof b);
    const M r = (m & ia) | (~m & ib);
    V out;
    std::memcpy(&out, &r, sizeof out);
    return out;
}

// a*b + c rounded once, lane by lane.
HALVO_INLINE float fma(float a, float b, float c) { return fma32(a, b, c); }

template <class V>
HALVO_INLINE V fma(V a, V b, V c) {
    return fma_lanes(a, b, c);
}

// Correctly rounded square root, lane by lane.
HALVO_INLINE float sqrt(float x) { return sqrt32(x); }

template <class V>
HALVO_INLINE V sqrt(V x) {
    return sqrt_lanes(x);
}

// |x|: the sign bit cleared, NaN payload kept.
HALVO_INLINE float abs(float x) { return abs32(x); }

template <class V>
HALVO_INLINE V abs(V x) {
    using M = decltype(x < x);
    M i;
    std::memcpy(&i, &x, sizeof x);
    i &= 0x7FFFFFFF;
    std::memcpy(&x, &i, sizeof x);
    return x;
}

// The C library's cosine and sine, one call per lane: their bits are the
// result, so no vector approximation stands in for them.
HALVO_INLINE float cos(float x) { return std::cos(x); }
HALVO_INLINE float sin(float x) { return std::sin(x); }

template <class V>
HALVO_INLINE V cos(V x) {
    V r;
    for (int j = 0; j < kWidth<V>; ++j) r[j] = std::cos(x[j]);
    return r;
}

template <class V>
HALVO_INLINE V sin(V x) {
    V r;
    for (int j = 0; j < kWidth<V>; ++j) r[j] = std::sin(x[j]);
    return r;
}

// A complex value per lane: real parts, imaginary parts.
template <class V>
struct Complex {
    V re;
    V im;
};

}  // namespace halvo::simd
