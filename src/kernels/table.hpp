// The per-class sample loops, one table per instruction-set level and list.
//
// Every level runs the same operations in the same order and gives the same
// bits; a level only changes how fast they run. The table for this process
// is chosen once from the CPU (active()); tests call each level by name.
#pragma once

#include <cstddef>

#include "../class_list.hpp"
#include "../radio/class_list.hpp"

namespace halvo::kernels {

#define HALVO_KERNEL_SLOT(Class, In, Out) void (*Class)(halvo::Class&, const In*, Out*, std::size_t);

// halvo_sdr's classes.
struct KernelTable {
    const char* level;  // "reference", "x86-64", "x86-64-v3", or "generic"
    HALVO_CLASSES(HALVO_KERNEL_SLOT)
};

// halvo_radio's classes.
struct RadioKernelTable {
    const char* level;
    HALVO_RADIO_CLASSES(HALVO_KERNEL_SLOT)
};

#undef HALVO_KERNEL_SLOT

// Every class's per-sample step, one sample at a time: the reference the
// other levels are held to, bit for bit. Always built, never chosen.
extern const KernelTable reference;

// The build's baseline instruction set, always built.
extern const KernelTable baseline;
extern const RadioKernelTable radio_baseline;

#if defined(__x86_64__)
// The same loops for x86-64-v3 (AVX2 + FMA); used when the CPU has it.
extern const KernelTable x86_64_v3;
extern const RadioKernelTable radio_x86_64_v3;
#endif

// The fastest level this CPU runs; chosen on first use.
const KernelTable& active();

// The same for either list: active<KernelTable>() or active<RadioKernelTable>().
template <class Table>
const Table& active();

}  // namespace halvo::kernels
