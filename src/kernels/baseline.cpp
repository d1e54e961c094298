// The scalar reference loops, compiled for the build's baseline target.
#if defined(__x86_64__)
#define HALVO_LEVEL_NAME "x86-64"
#else
#define HALVO_LEVEL_NAME "generic"
#endif
#define HALVO_LEVEL_TABLE baseline
#define HALVO_LEVEL_RADIO_TABLE radio_baseline
#include "level.inc"
