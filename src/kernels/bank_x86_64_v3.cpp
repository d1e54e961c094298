// The banks for x86-64-v3: eight channels in the lanes of AVX2 vectors.
// (Empty in the arm64 slice of a universal macOS build.)
#if defined(__x86_64__)
#define HALVO_LEVEL_NAME "x86-64-v3"
#define HALVO_BANK_TABLE bank_x86_64_v3
#define HALVO_BANK_WIDTH 8
#include "bank_level.inc"
#endif
