// The banks' reference level: each channel through its class's per-sample
// step, one sample at a time.
#define HALVO_LEVEL_NAME "reference"
#define HALVO_BANK_TABLE bank_reference
#define HALVO_BANK_WIDTH 0
#include "bank_level.inc"
