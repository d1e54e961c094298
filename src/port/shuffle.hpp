// HALVO_SHUFFLE(a, b, i0, i1, ...): lanes of a and b picked by constant
// indices (0 .. N-1 from a, N .. 2N-1 from b), as many lanes out as in.
// clang and GCC 12+ have __builtin_shufflevector; GCC 11 has only
// __builtin_shuffle, which takes the indices as an integer vector.
#pragma once

#include <cstdint>
#include <type_traits>

#if defined(__has_builtin)
#if __has_builtin(__builtin_shufflevector)
#define HALVO_HAS_SHUFFLEVECTOR 1
#endif
#endif

#if defined(HALVO_HAS_SHUFFLEVECTOR)
#define HALVO_SHUFFLE(a, b, ...) __builtin_shufflevector(a, b, __VA_ARGS__)
#else
namespace halvo::port {
// The integer vector of the same shape as the float vector V.
template <class V>
using ShuffleMask __attribute__((vector_size(sizeof(V)))) = std::int32_t;
}  // namespace halvo::port
#define HALVO_SHUFFLE(a, b, ...) \
    __builtin_shuffle(a, b, ::halvo::port::ShuffleMask<std::remove_cvref_t<decltype(a)>>{__VA_ARGS__})
#endif
