// TEMPORARY stand-in until the real registry lands (not committed).
#include "borrow_registry.hpp"
#include <cstdlib>
namespace halvo {
namespace {
int acq(void*, PyObject*) { return 0; }
void rel(void*, PyObject*) {}
void destroy(PyObject* cap) { std::free(PyCapsule_GetPointer(cap, kBorrowCapsuleName)); }
}
PyObject* new_borrow_registry_capsule(unsigned, PyTypeObject*) {
    auto* t = static_cast<BorrowTable*>(std::malloc(sizeof(BorrowTable)));
    *t = {1, nullptr, acq, acq, rel, rel};
    return PyCapsule_New(t, kBorrowCapsuleName, destroy);
}
}
