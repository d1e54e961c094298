// halvo_sdr's ten classes, registered in the class list's order
// (class_list.hpp); their blocks are sdr_classes.hpp's, the wrappers
// generic (binding.hpp, class_block.hpp).
#include "classes.hpp"

#include "sdr_classes.hpp"

namespace halvo {

const ClassEntry kClasses[kClassCount] = {
#define HALVO_CLASS_ENTRY(Class, In, Out) {#Class, &sdr::Class##Py::type_spec},
    HALVO_CLASSES(HALVO_CLASS_ENTRY)
#undef HALVO_CLASS_ENTRY
};

}  // namespace halvo
