// How many output elements a call of n input samples writes: n, unless the
// class says otherwise with output_count(n) (samples per row) and
// output_rows() (rows of a 2-D output). Asked before the state moves.
// Always inlined: called from every level's loop, an out-of-line copy would
// be a weak symbol shared between levels.
#pragma once

#include <cstddef>

namespace halvo::kernels {

template <class T>
[[gnu::always_inline]] inline std::size_t output_count(const T& state, std::size_t n) {
    if constexpr (requires { state.output_count(n); }) {
        return state.output_count(n);
    } else {
        return n;
    }
}

// 0 for a one-dimensional output.
template <class T>
[[gnu::always_inline]] inline std::size_t output_rows(const T& state) {
    if constexpr (requires { state.output_rows(); }) {
        return static_cast<std::size_t>(state.output_rows());
    } else {
        return 0;
    }
}

template <class T>
[[gnu::always_inline]] inline std::size_t output_elements(const T& state, std::size_t n) {
    const std::size_t rows = output_rows(state);
    return output_count(state, n) * (rows == 0 ? 1 : rows);
}

}  // namespace halvo::kernels
