// Tests of BorrowRegistry, the bookkeeping behind the array borrow registry,
// and of array_span, which turns array fields into the byte range of a key.
// The C functions that read NumPy arrays are exercised from Python.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <latch>
#include <limits>
#include <map>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "borrow_registry_core.hpp"

using halvo::BasicBorrowRegistry;
using halvo::BorrowRegistry;
using halvo::ByteRange;
using halvo::kBorrowConflict;
using halvo::kBorrowOk;

namespace {

int g_case_failures = 0;
int g_passed = 0;
int g_failed = 0;

#define EXPECT(cond)                                                          \
    do {                                                                      \
        if (!(cond)) {                                                        \
            ++g_case_failures;                                                \
            std::printf("    %s:%d: expected %s\n", __FILE__, __LINE__, #cond); \
        }                                                                     \
    } while (0)

template <class F>
void run(const char* name, F&& body) {
    g_case_failures = 0;
    body();
    if (g_case_failures == 0) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAIL %s\n", name);
    }
}

const void* B(std::uintptr_t n) { return reinterpret_cast<const void*>(0x10000 * n); }

constexpr std::uintptr_t kMax = std::numeric_limits<std::uintptr_t>::max();

// Homes every key in one of the last four slots and every base in one of the
// last two, so that probe runs are long and wrap around the end of the table.
struct ClusteringHash {
    static std::uint64_t key(std::uintptr_t, std::uintptr_t lo, std::uintptr_t) { return ~((lo >> 3) & 3); }
    static std::uint64_t base(std::uintptr_t b) { return ~((b >> 16) & 1); }
};

// ---------------------------------------------------------------- array_span

void test_array_span() {
    using I = std::intptr_t;
    static char buffer[4096];
    char* const d = buffer + 2048;
    const auto at = [](const char* p) { return reinterpret_cast<std::uintptr_t>(p); };
    struct Case {
        const char* name;
        std::vector<I> dims;
        std::vector<I> strides;
        I itemsize;
        ByteRange expected;
    };
    const Case cases[] = {
        {"contiguous float32", {10}, {4}, 4, {at(d), at(d + 40)}},
        {"reversed float32", {10}, {-4}, 4, {at(d - 36), at(d + 4)}},
        {"every second complex64", {5}, {16}, 8, {at(d), at(d + 72)}},
        {"C order 3x4", {3, 4}, {32, 8}, 8, {at(d), at(d + 96)}},
        {"transposed 4x3", {4, 3}, {8, 32}, 8, {at(d), at(d + 96)}},
        {"rows reversed", {3, 4}, {-32, 8}, 8, {at(d - 64), at(d + 32)}},
        {"both axes reversed", {3, 4}, {-32, -8}, 8, {at(d - 88), at(d + 8)}},
        {"broadcast", {1000}, {0}, 4, {at(d), at(d + 4)}},
        {"one element, odd stride", {1}, {12345}, 4, {at(d), at(d + 4)}},
        {"zero dimensions", {}, {}, 8, {at(d), at(d + 8)}},
        {"zero-length axis", {0}, {4}, 4, {at(d), at(d)}},
        {"zero-length second axis", {3, 0}, {-32, 8}, 8, {at(d), at(d)}},
        {"zero item size", {5}, {0}, 0, {at(d), at(d)}},
        {"extent overflows", {I{1} << 40, 2}, {I{1} << 40, 1}, 1, {0, kMax}},
        {"negative extent overflows", {I{1} << 40}, {-(I{1} << 40)}, 1, {0, kMax}},
        {"negative length", {-3}, {4}, 4, {0, kMax}},
    };
    for (const Case& c : cases) {
        run(c.name, [&] {
            const ByteRange r = halvo::array_span<I>(d, static_cast<int>(c.dims.size()), c.dims.data(),
                                                     c.strides.data(), c.itemsize);
            EXPECT(r == c.expected);
        });
    }
    run("range below address zero is corrupt", [] {
        const I dims[] = {3};
        const I strides[] = {-64};
        const ByteRange r = halvo::array_span<I>(reinterpret_cast<const void*>(16), 1, dims, strides, I{4});
        EXPECT(r == (ByteRange{0, kMax}));
    });
}

// ------------------------------------------------------------ conflict rules

enum class Kind { shared, exclusive };

struct Borrow {
    Kind kind;
    std::uintptr_t base;
    std::uintptr_t lo, hi;
};

template <class R>
int acquire(R& reg, const Borrow& b) {
    return b.kind == Kind::shared ? reg.acquire_shared(B(b.base), b.lo, b.hi)
                                  : reg.acquire_exclusive(B(b.base), b.lo, b.hi);
}

template <class R>
void release(R& reg, const Borrow& b) {
    if (b.kind == Kind::shared) reg.release_shared(B(b.base), b.lo, b.hi);
    else reg.release_exclusive(B(b.base), b.lo, b.hi);
}

void test_conflicts() {
    constexpr Kind S = Kind::shared;
    constexpr Kind X = Kind::exclusive;
    struct Case {
        const char* name;
        std::vector<Borrow> held;
        Borrow request;
        int expected;
    };
    // Many disjoint 16-byte shared borrows of base 1; `first` is acquired first
    // and so sits at the end of the base's list.
    const auto row_of_shared = [](Kind first) {
        std::vector<Borrow> v{{first, 1, 0, 16}};
        for (std::uintptr_t k = 1; k < 50; ++k) v.push_back({S, 1, 16 * k, 16 * k + 16});
        return v;
    };
    std::vector<Case> cases = {
        {"shared beside shared, same range", {{S, 1, 0, 64}}, {S, 1, 0, 64}, kBorrowOk},
        {"shared over part of shared", {{S, 1, 0, 64}}, {S, 1, 32, 96}, kBorrowOk},
        {"shared over exclusive, same range", {{X, 1, 0, 64}}, {S, 1, 0, 64}, kBorrowConflict},
        {"shared over the last byte of exclusive", {{X, 1, 0, 64}}, {S, 1, 63, 65}, kBorrowConflict},
        {"shared over the first byte of exclusive", {{X, 1, 64, 128}}, {S, 1, 0, 65}, kBorrowConflict},
        {"shared inside exclusive", {{X, 1, 0, 64}}, {S, 1, 16, 32}, kBorrowConflict},
        {"shared around exclusive", {{X, 1, 16, 32}}, {S, 1, 0, 64}, kBorrowConflict},
        {"shared just after exclusive", {{X, 1, 0, 64}}, {S, 1, 64, 128}, kBorrowOk},
        {"shared just before exclusive", {{X, 1, 64, 128}}, {S, 1, 0, 64}, kBorrowOk},
        {"shared over exclusive of another base", {{X, 2, 0, 64}}, {S, 1, 0, 64}, kBorrowOk},
        {"exclusive over shared, same range", {{S, 1, 0, 64}}, {X, 1, 0, 64}, kBorrowConflict},
        {"exclusive over part of shared", {{S, 1, 0, 64}}, {X, 1, 32, 96}, kBorrowConflict},
        {"exclusive over twice-shared", {{S, 1, 0, 64}, {S, 1, 0, 64}}, {X, 1, 0, 64}, kBorrowConflict},
        {"exclusive over exclusive, same range", {{X, 1, 0, 64}}, {X, 1, 0, 64}, kBorrowConflict},
        {"exclusive over part of exclusive", {{X, 1, 0, 64}}, {X, 1, 60, 70}, kBorrowConflict},
        {"exclusive beside exclusive", {{X, 1, 0, 64}}, {X, 1, 64, 128}, kBorrowOk},
        {"exclusive over shared of another base", {{S, 2, 0, 64}}, {X, 1, 0, 64}, kBorrowOk},
        {"exclusive over exclusive of another base", {{X, 2, 0, 64}}, {X, 1, 0, 64}, kBorrowOk},
        {"exclusive between two shared", {{S, 1, 0, 64}, {S, 1, 128, 192}}, {X, 1, 64, 128}, kBorrowOk},
        {"exclusive over the first of many shared", row_of_shared(S), {X, 1, 8, 9}, kBorrowConflict},
        {"exclusive over the last of many shared", row_of_shared(S), {X, 1, 49 * 16 + 15, 49 * 16 + 16},
         kBorrowConflict},
        {"exclusive past many shared", row_of_shared(S), {X, 1, 50 * 16, 50 * 16 + 1}, kBorrowOk},
        {"shared over the first of many, which is exclusive", row_of_shared(X), {S, 1, 4, 8}, kBorrowConflict},
        {"shared beside the first of many, which is exclusive", row_of_shared(X), {S, 1, 16, 800}, kBorrowOk},
        {"empty exclusive inside exclusive", {{X, 1, 0, 64}}, {X, 1, 32, 32}, kBorrowOk},
        {"empty shared inside exclusive", {{X, 1, 0, 64}}, {S, 1, 32, 32}, kBorrowOk},
        {"exclusive around an empty exclusive", {{X, 1, 32, 32}}, {X, 1, 0, 64}, kBorrowOk},
        {"exclusive over the whole address space", {{S, 1, kMax - 1, kMax}}, {X, 1, 0, kMax}, kBorrowConflict},
    };
    for (const Case& c : cases) {
        run(c.name, [&] {
            BorrowRegistry reg;
            for (const Borrow& h : c.held) EXPECT(acquire(reg, h) == kBorrowOk);
            const int got = acquire(reg, c.request);
            EXPECT(got == c.expected);
            EXPECT(reg.check());
            if (got == kBorrowOk) release(reg, c.request);
            for (const Borrow& h : c.held) release(reg, h);
            EXPECT(reg.key_count() == 0);
            EXPECT(reg.base_count() == 0);
            EXPECT(reg.check());
        });
    }
}

// ------------------------------------------------------------------ releases

void test_releases() {
    run("a range stays borrowed until its last shared borrow is released", [] {
        BorrowRegistry reg;
        EXPECT(reg.acquire_shared(B(1), 0, 64) == kBorrowOk);
        EXPECT(reg.acquire_shared(B(1), 0, 64) == kBorrowOk);
        EXPECT(reg.acquire_exclusive(B(1), 64, 128) == kBorrowOk);
        EXPECT(reg.acquire_exclusive(B(1), 0, 64) == kBorrowConflict);
        reg.release_shared(B(1), 0, 64);
        EXPECT(reg.acquire_exclusive(B(1), 0, 64) == kBorrowConflict);
        reg.release_shared(B(1), 0, 64);
        EXPECT(reg.acquire_exclusive(B(1), 0, 64) == kBorrowOk);
        EXPECT(reg.acquire_shared(B(1), 0, 128) == kBorrowConflict);
        reg.release_exclusive(B(1), 64, 128);
        EXPECT(reg.acquire_shared(B(1), 64, 128) == kBorrowOk);
        reg.release_exclusive(B(1), 0, 64);
        reg.release_shared(B(1), 64, 128);
        EXPECT(reg.key_count() == 0 && reg.base_count() == 0 && reg.check());
    });

    run("releases that match nothing are ignored", [] {
        BorrowRegistry reg;
        EXPECT(reg.acquire_shared(B(1), 0, 64) == kBorrowOk);
        EXPECT(reg.acquire_shared(B(1), 0, 64) == kBorrowOk);
        EXPECT(reg.acquire_exclusive(B(1), 64, 128) == kBorrowOk);
        reg.release_exclusive(B(1), 0, 64);   // wrong kind
        reg.release_shared(B(1), 64, 128);    // wrong kind
        reg.release_shared(B(2), 0, 64);      // other base
        reg.release_shared(B(1), 0, 63);      // other range
        reg.release_exclusive(B(1), 64, 64);  // empty range
        reg.release_shared(B(1), 96, 32);     // reversed range
        EXPECT(reg.held(B(1), 0, 64).shared == 2);
        EXPECT(reg.held(B(1), 64, 128).exclusive == 1);
        EXPECT(reg.acquire_shared(B(1), 64, 65) == kBorrowConflict);
        EXPECT(reg.key_count() == 2 && reg.check());
        reg.release_shared(B(1), 0, 64);
        reg.release_shared(B(1), 0, 64);
        reg.release_shared(B(1), 0, 64);  // one too many
        reg.release_exclusive(B(1), 64, 128);
        reg.release_exclusive(B(1), 64, 128);  // one too many
        EXPECT(reg.key_count() == 0 && reg.base_count() == 0 && reg.check());
        EXPECT(reg.acquire_exclusive(B(1), 0, 128) == kBorrowOk);
        EXPECT(reg.held(B(1), 0, 128).exclusive == 1);
    });

    run("a reversed range is refused", [] {
        BorrowRegistry reg;
        EXPECT(reg.acquire_shared(B(1), 64, 0) == halvo::kBorrowFailed);
        EXPECT(reg.acquire_exclusive(B(1), 64, 0) == halvo::kBorrowFailed);
        EXPECT(reg.key_count() == 0);
    });

    // Release orders over several bases, each borrow checked gone afterwards.
    const std::vector<Borrow> borrows = {
        {Kind::exclusive, 1, 0, 64}, {Kind::shared, 1, 64, 128},  {Kind::shared, 1, 64, 128},
        {Kind::shared, 2, 0, 64},    {Kind::exclusive, 3, 0, 8},  {Kind::exclusive, 3, 8, 16},
        {Kind::shared, 1, 100, 200}, {Kind::exclusive, 2, 64, 65},
    };
    struct Order {
        const char* name;
        std::vector<int> order;
    };
    const Order orders[] = {
        {"release in acquire order", {0, 1, 2, 3, 4, 5, 6, 7}},
        {"release in reverse order", {7, 6, 5, 4, 3, 2, 1, 0}},
        {"release interleaved across bases", {3, 0, 5, 2, 7, 1, 4, 6}},
    };
    for (const Order& o : orders) {
        run(o.name, [&] {
            BorrowRegistry reg;
            for (const Borrow& b : borrows) EXPECT(acquire(reg, b) == kBorrowOk);
            for (std::size_t n = 0; n < o.order.size(); ++n) {
                release(reg, borrows[o.order[n]]);
                EXPECT(reg.check());
                // Exclusive access to everything released so far, if no
                // remaining borrow overlaps it.
                for (std::size_t m = 0; m <= n; ++m) {
                    const Borrow& b = borrows[o.order[m]];
                    bool overlapped = false;
                    for (std::size_t r = n + 1; r < o.order.size(); ++r) {
                        const Borrow& h = borrows[o.order[r]];
                        overlapped |= h.base == b.base && h.lo < b.hi && b.lo < h.hi;
                    }
                    const int got = reg.acquire_exclusive(B(b.base), b.lo, b.hi);
                    EXPECT(got == (overlapped ? kBorrowConflict : kBorrowOk));
                    if (got == kBorrowOk) reg.release_exclusive(B(b.base), b.lo, b.hi);
                }
            }
            EXPECT(reg.key_count() == 0 && reg.base_count() == 0);
        });
    }
}

// ------------------------------------------------------- churn and growth

void test_churn() {
    run("a sliding window over 10^6 distinct keys does not grow the table", [] {
        constexpr std::uintptr_t kWindow = 1000;
        constexpr std::uintptr_t kKeys = 1000000;
        const auto key = [](std::uintptr_t i) { return Borrow{i % 2 ? Kind::shared : Kind::exclusive, i % 13, 32 * i, 32 * i + 32}; };
        BorrowRegistry reg;
        std::size_t warm_capacity = 0;
        int bad = 0;
        for (std::uintptr_t i = 0; i < kKeys; ++i) {
            bad += acquire(reg, key(i)) != kBorrowOk;
            if (i >= kWindow) release(reg, key(i - kWindow));
            if (i == 2 * kWindow) warm_capacity = reg.key_capacity();
            if (i % 100003 == 0) {
                EXPECT(reg.check());
                if (i >= kWindow) {
                    const Borrow gone = key(i - kWindow);
                    const auto h = reg.held(B(gone.base), gone.lo, gone.hi);
                    EXPECT(h.shared == 0 && h.exclusive == 0);
                    const Borrow oldest = key(i - kWindow + 1);
                    EXPECT(reg.acquire_exclusive(B(oldest.base), oldest.lo + 1, oldest.lo + 2) == kBorrowConflict);
                }
            }
        }
        EXPECT(bad == 0);
        EXPECT(reg.key_count() == kWindow);
        EXPECT(reg.key_capacity() == warm_capacity);
        for (std::uintptr_t i = kKeys - kWindow; i < kKeys; ++i) release(reg, key(i));
        EXPECT(reg.key_count() == 0 && reg.base_count() == 0 && reg.check());
    });

    run("acquire and release of 10^6 distinct keys returns to empty", [] {
        BorrowRegistry reg;
        EXPECT(reg.reserve(4));
        const std::size_t capacity = reg.key_capacity();
        int bad = 0;
        for (std::uintptr_t i = 0; i < 1000000; ++i) {
            bad += reg.acquire_exclusive(B(i), 64 * i, 64 * i + 64) != kBorrowOk;
            bad += reg.acquire_shared(B(i + 1), 0, 8) != kBorrowOk;
            reg.release_exclusive(B(i), 64 * i, 64 * i + 64);
            reg.release_shared(B(i + 1), 0, 8);
        }
        EXPECT(bad == 0);
        EXPECT(reg.key_capacity() == capacity);
        EXPECT(reg.key_count() == 0 && reg.base_count() == 0 && reg.check());
    });
}

void test_growth() {
    run("10^5 simultaneous borrows over 1000 bases survive growth", [] {
        constexpr std::uintptr_t kBases = 1000;
        constexpr std::uintptr_t kPerBase = 100;
        BorrowRegistry reg;  // no room reserved: grows from nothing
        std::vector<Borrow> all;
        int bad = 0;
        for (std::uintptr_t r = 0; r < kPerBase; ++r) {
            for (std::uintptr_t b = 1; b <= kBases; ++b) {
                const Borrow x{r % 2 ? Kind::shared : Kind::exclusive, b, 64 * r, 64 * r + 32};
                bad += acquire(reg, x) != kBorrowOk;
                if (x.kind == Kind::shared) bad += acquire(reg, x) != kBorrowOk;
                all.push_back(x);
            }
        }
        EXPECT(bad == 0);
        EXPECT(reg.key_count() == kBases * kPerBase);
        EXPECT(reg.base_count() == kBases);
        EXPECT(reg.key_capacity() >= 2 * kBases * kPerBase);
        EXPECT(reg.check());
        for (const Borrow& x : all) {
            const auto h = reg.held(B(x.base), x.lo, x.hi);
            if (x.kind == Kind::exclusive) {
                bad += h.exclusive != 1 || h.shared != 0;
                bad += reg.acquire_shared(B(x.base), x.lo + 31, x.lo + 40) != kBorrowConflict;
            } else {
                bad += h.exclusive != 0 || h.shared != 2;
                bad += reg.acquire_exclusive(B(x.base), x.lo - 8, x.lo + 1) != kBorrowConflict;
            }
            // The gap after each range is free.
            bad += reg.acquire_exclusive(B(x.base), x.hi, x.hi + 32) != kBorrowOk;
            reg.release_exclusive(B(x.base), x.hi, x.hi + 32);
        }
        EXPECT(bad == 0);
        std::shuffle(all.begin(), all.end(), std::mt19937_64(7));
        for (std::size_t n = 0; n < all.size(); ++n) {
            release(reg, all[n]);
            if (all[n].kind == Kind::shared) release(reg, all[n]);
            if (n == all.size() / 2) EXPECT(reg.check());
        }
        EXPECT(reg.key_count() == 0 && reg.base_count() == 0 && reg.check());
    });

    run("reserve makes room without growth", [] {
        BorrowRegistry reg;
        EXPECT(reg.reserve(1000));
        const std::size_t capacity = reg.key_capacity();
        for (std::uintptr_t i = 0; i < 1000; ++i) EXPECT(reg.acquire_shared(B(i), 0, 1) == kBorrowOk);
        EXPECT(reg.key_capacity() == capacity);
        EXPECT(!reg.reserve(std::numeric_limits<std::size_t>::max() / 2));
        EXPECT(reg.key_count() == 1000 && reg.check());
    });
}

// ---------------------------------------------- randomised, against a model

// Every borrow held, with a conflict test written the plain way.
struct Model {
    std::map<std::tuple<std::uintptr_t, std::uintptr_t, std::uintptr_t>, std::pair<unsigned, unsigned>> held;

    int acquire(const Borrow& b) {
        if (b.lo == b.hi) return kBorrowOk;
        for (const auto& [k, counts] : held) {
            const auto& [base, lo, hi] = k;
            const bool overlaps = base == b.base && lo < b.hi && b.lo < hi;
            if (overlaps && (b.kind == Kind::exclusive || counts.second != 0)) return kBorrowConflict;
        }
        auto& counts = held[{b.base, b.lo, b.hi}];
        ++(b.kind == Kind::shared ? counts.first : counts.second);
        return kBorrowOk;
    }
    void release(const Borrow& b) {
        const auto it = held.find({b.base, b.lo, b.hi});
        if (it == held.end()) return;
        unsigned& n = b.kind == Kind::shared ? it->second.first : it->second.second;
        if (n == 0) return;
        --n;
        if (it->second.first == 0 && it->second.second == 0) held.erase(it);
    }
};

struct ModelConfig {
    const char* name;
    std::uintptr_t bases;     // bases 1..bases
    std::uintptr_t span;      // ranges start below this
    std::uintptr_t max_len;   // and are at most this long (0 included)
    int ops;
};

template <class Hash>
void run_model(const ModelConfig& c, std::uint64_t seed) {
    run(c.name, [&] {
        std::mt19937_64 rng(seed);
        BasicBorrowRegistry<Hash> reg;
        Model model;
        std::vector<Borrow> holding;  // borrows acquired and not yet released
        const auto pick = [&](std::uintptr_t n) { return static_cast<std::uintptr_t>(rng() % n); };
        const auto random_borrow = [&] {
            const std::uintptr_t lo = pick(c.span);
            return Borrow{pick(3) == 0 ? Kind::exclusive : Kind::shared, 1 + pick(c.bases), lo, lo + pick(c.max_len + 1)};
        };
        int mismatches = 0;
        for (int n = 0; n < c.ops; ++n) {
            // Phases of mostly acquiring and mostly releasing, so the tables
            // both grow and empty out.
            const bool filling = (n / 3000) % 2 == 0;
            const std::uintptr_t roll = pick(100);
            if (roll < (filling ? 70u : 25u)) {
                const Borrow b = random_borrow();
                const int got = acquire(reg, b);
                mismatches += got != model.acquire(b);
                if (got == kBorrowOk) holding.push_back(b);
            } else if (roll < 95 && !holding.empty()) {
                const std::size_t i = pick(holding.size());
                release(reg, holding[i]);
                model.release(holding[i]);
                holding[i] = holding.back();
                holding.pop_back();
            } else {
                // Most likely held by nobody or not of this kind. If it was
                // held, `holding` keeps a stale copy whose later release the
                // model judges the same way.
                const Borrow b = random_borrow();
                release(reg, b);
                model.release(b);
            }
            if (n % 997 == 0) {
                EXPECT(reg.check());
                std::size_t keys = 0;
                for (const auto& [k, counts] : model.held) {
                    const auto& [base, lo, hi] = k;
                    const auto h = reg.held(B(base), lo, hi);
                    mismatches += h.shared != counts.first || h.exclusive != counts.second;
                    ++keys;
                }
                mismatches += reg.key_count() != keys;
            }
        }
        EXPECT(mismatches == 0);
        for (const Borrow& b : holding) {
            release(reg, b);
            model.release(b);
        }
        EXPECT(reg.check());
        EXPECT(reg.key_count() == model.held.size());
    });
}

void test_against_model() {
    constexpr std::uint64_t kSeed = 20261210;
    const ModelConfig dense{"model: default hash, dense overlapping ranges", 2, 64, 16, 200000};
    const ModelConfig sparse{"model: default hash, sparse ranges, many keys", 40, 1 << 16, 64, 200000};
    const ModelConfig dense_c{"model: clustering hash, dense overlapping ranges", 2, 64, 16, 200000};
    const ModelConfig sparse_c{"model: clustering hash, sparse ranges", 8, 1 << 16, 64, 100000};
    run_model<halvo::BorrowHash>(dense, kSeed);
    run_model<halvo::BorrowHash>(sparse, kSeed + 1);
    run_model<ClusteringHash>(dense_c, kSeed + 2);
    run_model<ClusteringHash>(sparse_c, kSeed + 3);
}

// ------------------------------------------------------------------- threads

void test_threads() {
    run("4 threads x 10^5 calls on disjoint ranges", [] {
        constexpr int kThreads = 4;
        constexpr int kCallsPerThread = 100000;
        constexpr std::uintptr_t kRanges = 16;
        BorrowRegistry reg;
        std::atomic<int> mismatches{0};
        std::latch start(kThreads);  // so that the threads really overlap
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                int bad = 0;
                int calls = 0;
                const std::uintptr_t own = 200 + static_cast<std::uintptr_t>(t);
                while (calls < kCallsPerThread) {
                    // Exclusive ranges of a base all threads use, shared ranges of the thread's own base.
                    for (std::uintptr_t r = 0; r < kRanges; ++r) {
                        const std::uintptr_t lo = (static_cast<std::uintptr_t>(t) * kRanges + r) * 64;
                        bad += reg.acquire_exclusive(B(100), lo, lo + 64) != kBorrowOk;
                        bad += reg.acquire_shared(B(own), lo, lo + 64) != kBorrowOk;
                        bad += reg.acquire_shared(B(own), lo, lo + 64) != kBorrowOk;
                    }
                    for (std::uintptr_t r = 0; r < kRanges; ++r) {
                        const std::uintptr_t lo = (static_cast<std::uintptr_t>(t) * kRanges + r) * 64;
                        bad += reg.acquire_shared(B(100), lo + 8, lo + 16) != kBorrowConflict;
                        bad += reg.acquire_exclusive(B(own), lo + 8, lo + 16) != kBorrowConflict;
                        const auto h = reg.held(B(own), lo, lo + 64);
                        bad += h.shared != 2;
                    }
                    for (std::uintptr_t r = 0; r < kRanges; ++r) {
                        const std::uintptr_t lo = (static_cast<std::uintptr_t>(t) * kRanges + r) * 64;
                        reg.release_exclusive(B(100), lo, lo + 64);
                        reg.release_shared(B(own), lo, lo + 64);
                        reg.release_shared(B(own), lo, lo + 64);
                    }
                    calls += static_cast<int>(9 * kRanges);
                }
                mismatches += bad;
            });
        }
        for (auto& th : threads) th.join();
        EXPECT(mismatches.load() == 0);
        EXPECT(reg.key_count() == 0 && reg.base_count() == 0 && reg.check());
    });

    run("4 threads contending for overlapping ranges never share an exclusive borrow", [] {
        constexpr int kThreads = 4;
        constexpr int kCallsPerThread = 100000;
        BorrowRegistry reg;
        // Borrows held, as counted by the threads; updated after acquiring
        // and before releasing, so they never exceed what the registry holds.
        std::atomic<int> exclusive_holders{0};
        std::atomic<int> shared_holders{0};
        std::atomic<int> violations{0};
        std::atomic<long> exclusive_wins{0};
        std::atomic<long> shared_wins{0};
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                std::mt19937 rng(static_cast<unsigned>(t) + 1);
                int bad = 0;
                long x_wins = 0;
                long s_wins = 0;
                for (int n = 0; n < kCallsPerThread / 2; ++n) {
                    // Two overlapping ranges of one base: any exclusive borrow excludes all others.
                    const std::uintptr_t lo = (rng() & 1) ? 0 : 32;
                    if (rng() % 4 == 0) {
                        const int got = reg.acquire_exclusive(B(300), lo, lo + 64);
                        if (got == kBorrowOk) {
                            ++x_wins;
                            bad += exclusive_holders.fetch_add(1) != 0;
                            bad += shared_holders.load() != 0;
                            exclusive_holders.fetch_sub(1);
                            reg.release_exclusive(B(300), lo, lo + 64);
                        } else {
                            bad += got != kBorrowConflict;
                        }
                    } else {
                        const int got = reg.acquire_shared(B(300), lo, lo + 64);
                        if (got == kBorrowOk) {
                            ++s_wins;
                            shared_holders.fetch_add(1);
                            bad += exclusive_holders.load() != 0;
                            shared_holders.fetch_sub(1);
                            reg.release_shared(B(300), lo, lo + 64);
                        } else {
                            bad += got != kBorrowConflict;
                        }
                    }
                }
                violations += bad;
                exclusive_wins += x_wins;
                shared_wins += s_wins;
            });
        }
        for (auto& th : threads) th.join();
        EXPECT(violations.load() == 0);
        EXPECT(exclusive_wins.load() > 0 && shared_wins.load() > 0);
        EXPECT(reg.key_count() == 0 && reg.base_count() == 0 && reg.check());
    });
}

}  // namespace

int main() {
    test_array_span();
    test_conflicts();
    test_releases();
    test_churn();
    test_growth();
    test_against_model();
    test_threads();
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
