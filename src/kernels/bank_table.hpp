// The banks' sample loops (radio/bank.hpp), one table per level, beside the
// tables of table.hpp. A bank's level decides how its channels run: the
// reference steps each channel one sample at a time, the baseline runs each
// channel's own process(), x86-64-v3 runs 8 channels in the lanes of AVX2
// vectors and x86-64-v4 16 in those of AVX-512 vectors. Every level gives
// the same bits; the fastest this CPU runs is chosen once.
#pragma once

#include <cstddef>

#include "../radio/bank_list.hpp"
#include "../radio/channelizer.hpp"
#include "../radio/receiver_bank.hpp"
#include "table.hpp"

namespace halvo::kernels {

struct BankKernelTable {
    const char* level;  // "reference", "x86-64" (or "generic"), "x86-64-v3", "x86-64-v4"
#define HALVO_BANK_SLOT(Class, In, Out) void (*Class##Bank)(halvo::Class##Bank&, const In*, Out*, std::size_t);
    HALVO_CLASSES(HALVO_BANK_SLOT)
#undef HALVO_BANK_SLOT
    // The channelizer and the receiver bank on it: the module runs them from
    // this table, so they get the x86-64-v4 level (sixteen frames per lane
    // group in the channelizer); the reference and baseline levels run
    // their ordinary loops at the baseline.
    void (*Channelizer)(halvo::Channelizer&, const halvo::cf32*, halvo::cf32*, std::size_t);
    void (*ReceiverBank)(halvo::radio::ReceiverBank&, const halvo::cf32*, float*, std::size_t);
};

extern const BankKernelTable bank_reference;
extern const BankKernelTable bank_baseline;
#if defined(__x86_64__)
extern const BankKernelTable bank_x86_64_v3;
extern const BankKernelTable bank_x86_64_v4;
#endif

// True when this CPU and the operating system run x86-64-v4 (AVX-512 F, BW,
// CD, DQ, VL and the ZMM state saved) on top of x86-64-v3.
bool has_x86_64_v4();

}  // namespace halvo::kernels
