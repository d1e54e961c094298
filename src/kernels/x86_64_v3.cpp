// The sample loops compiled for x86-64-v3 (AVX2, FMA, BMI2): every fused
// multiply-add is one instruction instead of a dozen double operations. Same
// operations, same order, same bits as the baseline loops.
// (In a universal macOS build this file reaches the arm64 slice too, where
// it is empty.)
#if defined(__x86_64__)
#define HALVO_LEVEL_NAME "x86-64-v3"
#define HALVO_LEVEL_TABLE x86_64_v3
#define HALVO_LEVEL_RADIO_TABLE radio_x86_64_v3
#include "level.inc"
#endif
