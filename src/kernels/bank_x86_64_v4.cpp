// The banks for x86-64-v4: sixteen channels in the lanes of AVX-512 vectors
// (a group of eight or fewer in AVX2 vectors).
// (Empty in the arm64 slice of a universal macOS build.)
#if defined(__x86_64__)
#define HALVO_LEVEL_NAME "x86-64-v4"
#define HALVO_BANK_TABLE bank_x86_64_v4
#define HALVO_BANK_WIDTH 16
#include "bank_level.inc"
#endif
