// A rejected argument: thrown by a class's make() or a setter when a value
// is out of its range. The binding turns it into a Python ValueError with
// the same message. Only halvo_radio's classes validate; halvo_sdr's take
// every value through their formulas.
#pragma once

#include <stdexcept>

namespace halvo {

struct ArgumentError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

}  // namespace halvo
