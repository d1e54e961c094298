// The banks for the build's baseline target: each channel's own process().
#if defined(__x86_64__)
#define HALVO_LEVEL_NAME "x86-64"
#else
#define HALVO_LEVEL_NAME "generic"
#endif
#define HALVO_BANK_TABLE bank_baseline
#define HALVO_BANK_WIDTH 1
#include "bank_level.inc"
