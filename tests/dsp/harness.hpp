// A small test harness for the C++ unit tests of the DSP sections.
//
// TEST(name) { ... } registers a test case; CHECK, CHECK_BITS and CHECK_NEAR
// record failures without stopping the case; INFO(...) sets a context line
// printed with the failures that follow it in the same case. run_all() runs
// every case in registration order, prints one line per case and a closing
// line "N passed, M failed", and returns nonzero when any case failed.
#pragma once

#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <vector>

namespace halvo_test {

struct Case {
    const char* name;
    void (*fn)();
};

inline std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}

struct Registrar {
    Registrar(const char* name, void (*fn)()) { registry().push_back({name, fn}); }
};

struct CaseState {
    int failures = 0;  // failed checks in the running case
    char context[256] = {};  // set by INFO; printed with each failure
};

inline CaseState& current() {
    static CaseState state;
    return state;
}

// Print at most this many failures per case; the rest are only counted.
inline constexpr int kMaxPrinted = 12;

inline void fail(const char* file, int line, const char* what, const char* fmt = nullptr, ...) {
    CaseState& st = current();
    if (++st.failures > kMaxPrinted) return;
    std::printf("  %s:%d: CHECK failed: %s\n", file, line, what);
    if (fmt != nullptr) {
        std::printf("    ");
        va_list ap;
        va_start(ap, fmt);
        std::vprintf(fmt, ap);
        va_end(ap);
        std::printf("\n");
    }
    if (st.context[0] != '\0') std::printf("    while: %s\n", st.context);
}

inline void info(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(current().context, sizeof current().context, fmt, ap);
    va_end(ap);
}

inline std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }

inline void check_bits(float got, float want, const char* file, int line, const char* what) {
    if (bits(got) != bits(want)) {
        fail(file, line, what, "got %.9g (0x%08X), want %.9g (0x%08X)", got, bits(got), want, bits(want));
    }
}

inline void check_near(double got, double want, double tol, const char* file, int line, const char* what) {
    // Written so that a NaN on either side fails.
    if (!(std::fabs(got - want) <= tol)) {
        fail(file, line, what, "got %.9g, want %.9g within %.3g (off by %.3g)", got, want, tol, std::fabs(got - want));
    }
}

inline int run_all() {
    int passed = 0;
    int failed = 0;
    for (const Case& c : registry()) {
        current() = CaseState{};
        try {
            c.fn();
        } catch (const std::exception& e) {
            fail(__FILE__, __LINE__, "no exception", "%s", e.what());
        } catch (...) {
            fail(__FILE__, __LINE__, "no exception", "unknown exception");
        }
        const int n = current().failures;
        if (n == 0) {
            ++passed;
            std::printf("[  ok  ] %s\n", c.name);
        } else {
            ++failed;
            std::printf("[ FAIL ] %s (%d failed check%s)\n", c.name, n, n == 1 ? "" : "s");
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

// Deterministic pseudo-random numbers (splitmix64), the same on every platform.
struct Rng {
    std::uint64_t state;

    explicit Rng(std::uint64_t seed) : state(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [lo, hi), rounded to float32.
    float uniform(double lo, double hi) {
        const double u = static_cast<double>(next() >> 11) * 0x1.0p-53;
        return static_cast<float>(lo + (hi - lo) * u);
    }
};

}  // namespace halvo_test

#define TEST(name)                                                             \
    static void name();                                                        \
    static const ::halvo_test::Registrar name##_registrar_(#name, &name);      \
    static void name()

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) ::halvo_test::fail(__FILE__, __LINE__, #cond);            \
    } while (0)

// Bitwise equality of two float32 values (tells -0.0 from +0.0, matches NaNs
// only with the same payload).
#define CHECK_BITS(got, want) \
    ::halvo_test::check_bits((got), (want), __FILE__, __LINE__, #got " == " #want " (bitwise)")

#define CHECK_NEAR(got, want, tol) \
    ::halvo_test::check_near((got), (want), (tol), __FILE__, __LINE__, #got " ~ " #want)

#define INFO(...) ::halvo_test::info(__VA_ARGS__)

#define HALVO_TEST_MAIN() \
    int main() { return ::halvo_test::run_all(); }
