// The sample loops compiled for x86-64-v3 (AVX2, FMA, BMI2): every fused
// multiply-add is one instruction instead of a C library call. Same
// operations, same order, same bits as the baseline loops.
#define HALVO_LEVEL_NAME "x86-64-v3"
#define HALVO_LEVEL_TABLE x86_64_v3
#include "level.inc"
