// The banks of halvo_radio: one per halvo_sdr class (radio/bank.hpp), named
// after it with "Bank" appended and listed by halvo_sdr's own class list
// (HALVO_CLASSES): Class##Bank for each X(Class, In, Out).
#pragma once

#include "../class_list.hpp"
#include "bank.hpp"

namespace halvo {
#define HALVO_BANK_ALIAS(Class, In, Out) using Class##Bank = radio::Bank<Class>;
HALVO_CLASSES(HALVO_BANK_ALIAS)
#undef HALVO_BANK_ALIAS
}  // namespace halvo
