// Bank<C>: n independent objects of one halvo_sdr class C, one per channel,
// processed together. Input and output are channels x samples, row by row;
// row k of the output is bit for bit what channel k's object alone gives for
// row k of the input, for any block split.
//
// On a level with vector lanes, channels run in groups of 8 (AVX2) or 16
// (AVX-512), one channel per lane: the class's per-sample step
// (demodulate/steps.hpp, modulate/steps.hpp) instantiated with a vector of
// lanes does exactly the scalar operations on every lane. The step state is
// moved into lanes at the start of a call and back at its end; samples are
// moved between rows and lanes a tile at a time. Lanes beyond the last
// channel run a copy of a real channel and their results are dropped.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "../argument_error.hpp"
#include "../kernels/guard.hpp"
#include "../modulate/steps.hpp"
#include "../port/shuffle.hpp"

namespace halvo::radio {

template <class F>
struct SetterArg;
template <class C, class A>
struct SetterArg<void (C::*)(A)> {
    using type = A;
};

// Moving samples between rows and lanes: a square tile of W rows of W
// floats is transposed in log2(W) stages of two-vector shuffles (stage B
// swaps bit B of the row and the column index), complex rows are split into
// real and imaginary parts before and joined after.
template <int B, bool Second, class V, std::size_t... I>
HALVO_INLINE V transpose_pick(V a, V b, std::index_sequence<I...>) {
    constexpr int W = simd::kWidth<V>;
    return HALVO_SHUFFLE(a, b, (Second ? ((I & B) ? W + I : I + B) : ((I & B) ? W + I - B : I))...);
}

template <int B, int I, class V>
HALVO_INLINE void transpose_pair(V* r) {
    constexpr int W = simd::kWidth<V>;
    const V a = r[I], b = r[I + B];
    r[I] = transpose_pick<B, false>(a, b, std::make_index_sequence<W>{});
    r[I + B] = transpose_pick<B, true>(a, b, std::make_index_sequence<W>{});
}

// Straight-line code: every pair of the stage, then the next stage.
template <int B, class V, std::size_t... P>
HALVO_INLINE void transpose_stage(V* r, std::index_sequence<P...>) {
    constexpr int W = simd::kWidth<V>;
    (transpose_pair<B, static_cast<int>((P / B) * 2 * B + P % B)>(r), ...);
    if constexpr (2 * B < W) transpose_stage<2 * B>(r, std::make_index_sequence<W / 2>{});
}

// r[i][j] becomes r[j][i].
template <class V>
HALVO_INLINE void transpose(V* r) {
    transpose_stage<1>(r, std::make_index_sequence<simd::kWidth<V> / 2>{});
}

// The even (real) and odd (imaginary) floats of lo then hi.
template <bool Odd, class V, std::size_t... I>
HALVO_INLINE V deinterleave(V lo, V hi, std::index_sequence<I...>) {
    return HALVO_SHUFFLE(lo, hi, (2 * I + Odd)...);
}

// re[0] im[0] re[1] im[1] ...: the first W floats (Hi false) or the next W.
template <bool Hi, class V, std::size_t... I>
HALVO_INLINE V interleave(V re, V im, std::index_sequence<I...>) {
    constexpr int W = simd::kWidth<V>;
    return HALVO_SHUFFLE(re, im, ((I % 2 ? W : 0) + I / 2 + (Hi ? W / 2 : 0))...);
}

// The part of a bank that runs on a level: the channels in lanes (V a
// vector of lanes) or one at a time.
template <class C, class In, class Out>
struct BankKernels {
    using Scalar = steps::Step<C, float>;
    static constexpr int kFields = sizeof(Scalar) / sizeof(float);
    static_assert(sizeof(Scalar) == kFields * sizeof(float), "a step state holds floats only");

    // One channel, one sample at a time through its step: the reference.
    HALVO_INLINE static void run_step(C& object, const In* in, Out* out, std::size_t m) {
        std::uint32_t counter = 0;
        Scalar s = Scalar::load(object, counter);
        for (std::size_t i = 0; i < m; ++i) {
            if constexpr (std::is_same_v<In, cf32>) {
                out[i] = s.step({in[i].re, in[i].im}, counter);
            } else {
                const simd::Complex<float> y = s.step(in[i], counter);
                out[i] = {y.re, y.im};
            }
        }
        s.store(object, counter);
    }

    // count (1..G*W) channels, m samples of each from rows stride samples
    // apart, one channel per lane: G groups of W lanes whose steps
    // interleave, so that one group's recurrence runs while another's waits
    // on its latency.
    template <class V, int G = 1>
    HALVO_INLINE static void run_lanes(C* channels, int count, const In* in, Out* out, std::size_t m,
                                       std::size_t stride) {
        constexpr int W = simd::kWidth<V>;
        constexpr int N = G * W;
        using Lanes = steps::Step<C, V>;
        static_assert(sizeof(Lanes) == sizeof(Scalar) * W);
        // The step states, field by field across the lanes of each group.
        std::uint32_t counter = 0;
        Lanes lanes[G];
        for (int g = 0; g < G; ++g) {
            alignas(64) float packed[kFields * W];
            for (int j = 0; j < W; ++j) {
                const Scalar s = Scalar::load(channels[std::min(g * W + j, count - 1)], counter);
                float f[kFields];
                std::memcpy(f, &s, sizeof f);
                for (int q = 0; q < kFields; ++q) packed[q * W + j] = f[q];
            }
            std::memcpy(&lanes[g], packed, sizeof(Lanes));
        }
        std::uint32_t counters[G];
        for (int g = 0; g < G; ++g) counters[g] = counter;
        const In* rows[N];
        for (int j = 0; j < N; ++j) rows[j] = in + static_cast<std::size_t>(std::min(j, count - 1)) * stride;
        constexpr auto lanes_seq = std::make_index_sequence<W>{};
        std::size_t t0 = 0;
        // Whole tiles of W samples by transposes.
        for (; t0 + W <= m; t0 += W) {
            if constexpr (std::is_same_v<In, cf32>) {
                V re[G][W], im[G][W];
                for (int g = 0; g < G; ++g) {
                    for (int j = 0; j < W; ++j) {
                        const float* r = &rows[g * W + j][t0].re;
                        V lo, hi;
                        std::memcpy(&lo, r, sizeof(V));
                        std::memcpy(&hi, r + W, sizeof(V));
                        re[g][j] = deinterleave<false>(lo, hi, lanes_seq);
                        im[g][j] = deinterleave<true>(lo, hi, lanes_seq);
                    }
                    transpose(re[g]);
                    transpose(im[g]);
                }
                V y[G][W];
                for (int t = 0; t < W; ++t) {
                    for (int g = 0; g < G; ++g) y[g][t] = lanes[g].step({re[g][t], im[g][t]}, counters[g]);
                }
                for (int g = 0; g < G; ++g) {
                    transpose(y[g]);
                    for (int j = 0; j < W && g * W + j < count; ++j) {
                        std::memcpy(out + static_cast<std::size_t>(g * W + j) * stride + t0, &y[g][j], sizeof(V));
                    }
                }
            } else {
                V x[G][W];
                for (int g = 0; g < G; ++g) {
                    for (int j = 0; j < W; ++j) std::memcpy(&x[g][j], rows[g * W + j] + t0, sizeof(V));
                    transpose(x[g]);
                }
                V yre[G][W], yim[G][W];
                if constexpr (requires(Lanes& l, V v) { l.pre(v); }) {
                    // A step with a part that depends on the input alone
                    // (C library calls, one per lane): that part for the
                    // whole tile first, so no recurrence state is live
                    // across the calls.
                    decltype(lanes[0].pre(V{})) ahead[G][W];
                    for (int g = 0; g < G; ++g) {
                        for (int t = 0; t < W; ++t) ahead[g][t] = lanes[g].pre(x[g][t]);
                    }
                    for (int t = 0; t < W; ++t) {
                        for (int g = 0; g < G; ++g) {
                            const simd::Complex<V> c = lanes[g].step_pre(ahead[g][t], counters[g]);
                            yre[g][t] = c.re;
                            yim[g][t] = c.im;
                        }
                    }
                } else {
                    for (int t = 0; t < W; ++t) {
                        for (int g = 0; g < G; ++g) {
                            const simd::Complex<V> c = lanes[g].step(x[g][t], counters[g]);
                            yre[g][t] = c.re;
                            yim[g][t] = c.im;
                        }
                    }
                }
                for (int g = 0; g < G; ++g) {
                    transpose(yre[g]);
                    transpose(yim[g]);
                    for (int j = 0; j < W && g * W + j < count; ++j) {
                        float* o = &out[static_cast<std::size_t>(g * W + j) * stride + t0].re;
                        const V lo = interleave<false>(yre[g][j], yim[g][j], lanes_seq);
                        const V hi = interleave<true>(yre[g][j], yim[g][j], lanes_seq);
                        std::memcpy(o, &lo, sizeof(V));
                        std::memcpy(o + W, &hi, sizeof(V));
                    }
                }
            }
        }
        // The rest, fewer than W samples, float by float.
        if (t0 < m) {
            const std::size_t tt = m - t0;
            for (int g = 0; g < G; ++g) {
                const In* const* grows = rows + g * W;
                if constexpr (std::is_same_v<In, cf32>) {
                    alignas(64) float re[W][W], im[W][W], y[W][W];
                    for (int j = 0; j < W; ++j) {
                        for (std::size_t t = 0; t < tt; ++t) {
                            re[t][j] = grows[j][t0 + t].re;
                            im[t][j] = grows[j][t0 + t].im;
                        }
                    }
                    for (std::size_t t = 0; t < tt; ++t) {
                        simd::Complex<V> x;
                        std::memcpy(&x.re, re[t], sizeof(V));
                        std::memcpy(&x.im, im[t], sizeof(V));
                        const V v = lanes[g].step(x, counters[g]);
                        std::memcpy(y[t], &v, sizeof(V));
                    }
                    for (int j = 0; j < W && g * W + j < count; ++j) {
                        float* o = out + static_cast<std::size_t>(g * W + j) * stride + t0;
                        for (std::size_t t = 0; t < tt; ++t) o[t] = y[t][j];
                    }
                } else {
                    alignas(64) float x[W][W], yre[W][W], yim[W][W];
                    for (int j = 0; j < W; ++j) {
                        for (std::size_t t = 0; t < tt; ++t) x[t][j] = grows[j][t0 + t];
                    }
                    for (std::size_t t = 0; t < tt; ++t) {
                        V v;
                        std::memcpy(&v, x[t], sizeof(V));
                        const simd::Complex<V> c = lanes[g].step(v, counters[g]);
                        std::memcpy(yre[t], &c.re, sizeof(V));
                        std::memcpy(yim[t], &c.im, sizeof(V));
                    }
                    for (int j = 0; j < W && g * W + j < count; ++j) {
                        cf32* o = out + static_cast<std::size_t>(g * W + j) * stride + t0;
                        for (std::size_t t = 0; t < tt; ++t) o[t] = {yre[t][j], yim[t][j]};
                    }
                }
            }
        }
        for (int g = 0; g < G; ++g) {
            alignas(64) float packed[kFields * W];
            std::memcpy(packed, &lanes[g], sizeof(Lanes));
            for (int j = 0; j < W && g * W + j < count; ++j) {
                float f[kFields];
                for (int q = 0; q < kFields; ++q) f[q] = packed[q * W + j];
                Scalar s;
                std::memcpy(&s, f, sizeof s);
                s.store(channels[g * W + j], counters[g]);
            }
        }
    }
};

template <class C, class Make = decltype(&C::make)>
class Bank;

template <class C, class... A>
class Bank<C, C (*)(A...)> {
public:
    std::vector<C> channels;  // one object per channel, in row order

    // n_channels objects built alike (set_channel() changes one of them).
    static Bank make(int n_channels, A... params) {
        if (n_channels < 1) throw ArgumentError("n_channels must be at least 1");
        return Bank{std::vector<C>(static_cast<std::size_t>(n_channels), C::make(params...))};
    }

    int n_channels() const { return static_cast<int>(channels.size()); }

    // Channel k anew, with these parameters and fresh state.
    void set_channel(int k, A... params) { channels[index(k)] = C::make(params...); }

    // A setter of the class on channel k, or on every channel for k = -1.
    template <auto Setter>
    void set(int k, typename SetterArg<decltype(Setter)>::type value) {
        if (k == -1) {
            for (C& c : channels) (c.*Setter)(value);
        } else {
            (channels[index(k)].*Setter)(value);
        }
    }

    int output_rows() const { return static_cast<int>(channels.size()); }
    std::size_t output_count(std::size_t n) const { return n / channels.size(); }

    // n = channels x samples. Width: 0 the per-sample step of each channel
    // (the reference), 1 each channel's own process(), 8 or 16 lanes.
    template <class Isa, int Width, class In, class Out>
    HALVO_INLINE void process(const In* in, Out* out, std::size_t n) {
        using K = BankKernels<C, In, Out>;
        const std::size_t rows = channels.size();
        const std::size_t m = n / rows;
        if (m == 0) return;
        if constexpr (Width <= 1) {
            for (std::size_t k = 0; k < rows; ++k) {
                if constexpr (Width == 0) {
                    K::run_step(channels[k], in + k * m, out + k * m, m);
                } else {
                    kernels::process_guarded<Isa>(channels[k], in + k * m, out + k * m, m);
                }
            }
        } else {
            // Two groups at once (their recurrences interleaved) while more
            // than one group's worth of channels remains.
            for (std::size_t g = 0; g < rows; g += 2 * Width) {
                const int count = static_cast<int>(std::min<std::size_t>(2 * Width, rows - g));
                C* group = channels.data() + g;
                const In* gin = in + g * m;
                Out* gout = out + g * m;
                if (count <= 2 || !same_counts(group, count)) {
                    // One or two channels (a small bank, or the tail of a
                    // larger one): each object's own loop is faster than a
                    // lane group's step, which costs the same for one lane
                    // as for all (FmQuadratureDemod, 256 samples: one
                    // channel 1.2 us alone against 4.2 us in lanes). And
                    // channels whose oscillators are at different points of
                    // their lives (one was set anew after others ran): each
                    // on its own.
                    for (int j = 0; j < count; ++j) {
                        kernels::process_guarded<Isa>(group[j], gin + j * m, gout + j * m, m);
                    }
                    continue;
                }
                // In chunks of the subnormal guard's length. One lane with a
                // subnormal state makes every vector operation of its group
                // take the CPU's slow path (FmQuadratureDemod, 16 lanes: 1.6
                // -> 31 ns per channel-sample). When fewer than two in five
                // channels of the group are so, the chunk runs channel by
                // channel through the guard instead (the guarded loop costs
                // one channel about what the slow lanes cost two or three:
                // one such lane of 16, 31 -> 11 ns); when more are, the
                // lanes share the slow path among them and stay.
                for (std::size_t t = 0; t < m; t += kernels::kGuardChunk) {
                    const std::size_t len = std::min(kernels::kGuardChunk, m - t);
                    int subnormal = 0;
                    for (int j = 0; j < count; ++j) subnormal += kernels::near_subnormal(group[j]) ? 1 : 0;
                    if (subnormal > 0 && 5 * subnormal < 2 * count) {
                        for (int j = 0; j < count; ++j) {
                            kernels::process_guarded<Isa>(group[j], gin + j * m + t, gout + j * m + t, len);
                        }
                    } else if constexpr (Width == 16) {
                        if (count <= 8) {
                            K::template run_lanes<simd::lanes8>(group, count, gin + t, gout + t, len, m);
                        } else if (count <= 16) {
                            K::template run_lanes<simd::lanes16>(group, count, gin + t, gout + t, len, m);
                        } else {
                            K::template run_lanes<simd::lanes16, 2>(group, count, gin + t, gout + t, len, m);
                        }
                    } else {
                        static_assert(Width == 8);
                        if (count <= 8) {
                            K::template run_lanes<simd::lanes8>(group, count, gin + t, gout + t, len, m);
                        } else {
                            K::template run_lanes<simd::lanes8, 2>(group, count, gin + t, gout + t, len, m);
                        }
                    }
                }
            }
        }
    }

private:
    std::size_t index(int k) const {
        if (k < 0 || static_cast<std::size_t>(k) >= channels.size()) {
            throw ArgumentError("channel index out of range");
        }
        return static_cast<std::size_t>(k);
    }

    // All oscillators of a group advance together only if they share one
    // advance count.
    static bool same_counts(const C* group, int count) {
        std::uint32_t first = 0;
        (void)steps::Step<C, float>::load(group[0], first);
        for (int j = 1; j < count; ++j) {
            std::uint32_t c = 0;
            (void)steps::Step<C, float>::load(group[j], c);
            if (c != first) return false;
        }
        return true;
    }
};

}  // namespace halvo::radio
