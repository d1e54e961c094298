// Chooses the kernel table for this process once, from the CPU.
#include "table.hpp"

namespace halvo::kernels {

const KernelTable& active() { return baseline; }

}  // namespace halvo::kernels
