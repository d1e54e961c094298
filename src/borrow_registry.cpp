// The borrow registry this module installs on NumPy's multiarray module when
// no other module has: four C functions over a BorrowRegistry, and the capsule
// that owns the table, the registry state and the capsule's own name.
//
// Other extension modules call the four functions through the table, possibly
// from several threads and without the interpreter lock. So they only read the
// fields of the array they are given (and of the arrays along its chain of
// bases and of its dtype), touch no reference count, never raise and never
// throw; the registry does its own locking.
#include "borrow_registry.hpp"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "borrow_registry_core.hpp"
#include "numpy_abi.hpp"

namespace halvo {
namespace {

// Room made when the registry is created, so that the first borrows do not allocate.
constexpr std::size_t kInitialKeys = 32;

struct RegistryState {
    RegistryState(unsigned feature_version, PyTypeObject* array_type)
        : feature_version(feature_version), array_type(array_type) {}

    unsigned feature_version;  // NumPy's C feature version; selects the dtype layout
    PyTypeObject* array_type;  // PyArray_Type, not owned (NumPy's static type)
    BorrowRegistry registry;   // the borrows, behind its own mutex
};

struct Key {
    const void* base;  // the last array in the borrowed array's chain of bases
    ByteRange range;   // the bytes the borrowed array spans
};

bool is_array(PyObject* obj, PyTypeObject* array_type) {
    // PyType_IsSubtype only reads the type's method resolution order; it is
    // safe without the interpreter lock.
    PyTypeObject* type = Py_TYPE(obj);
    return type == array_type || PyType_IsSubtype(type, array_type) != 0;
}

// Arrays that share memory through views share the last array of their base
// chains; a base that is not an array (bytes, a memoryview, an output holder)
// ends the chain.
Key key_of(const RegistryState& state, PyObject* array) {
    PyObject* base = array;
    for (PyObject* next = npy::fields(base)->base; next != nullptr && is_array(next, state.array_type);
         next = npy::fields(base)->base) {
        base = next;
    }
    const npy::ArrayFields* a = npy::fields(array);
    const npy::npy_intp itemsize = a->descr != nullptr ? npy::descr_elsize(a->descr, state.feature_version) : 0;
    return {base, array_span(a->data, a->nd, a->dimensions, a->strides, itemsize)};
}

// Non-null arguments, and `array` an ndarray.
RegistryState* checked(void* state, PyObject* array) {
    auto* s = static_cast<RegistryState*>(state);
    if (s == nullptr || array == nullptr || !is_array(array, s->array_type)) return nullptr;
    return s;
}

int acquire_shared(void* state, PyObject* array) noexcept {
    RegistryState* s = checked(state, array);
    if (s == nullptr) return kBorrowFailed;
    const Key k = key_of(*s, array);
    return s->registry.acquire_shared(k.base, k.range.lo, k.range.hi);
}

int acquire_exclusive(void* state, PyObject* array) noexcept {
    RegistryState* s = checked(state, array);
    if (s == nullptr) return kBorrowFailed;
    if ((npy::fields(array)->flags & npy::kWriteable) == 0) return kBorrowNotWriteable;
    const Key k = key_of(*s, array);
    return s->registry.acquire_exclusive(k.base, k.range.lo, k.range.hi);
}

void release_shared(void* state, PyObject* array) noexcept {
    RegistryState* s = checked(state, array);
    if (s == nullptr) return;
    const Key k = key_of(*s, array);
    s->registry.release_shared(k.base, k.range.lo, k.range.hi);
}

void release_exclusive(void* state, PyObject* array) noexcept {
    RegistryState* s = checked(state, array);
    if (s == nullptr) return;
    const Key k = key_of(*s, array);
    s->registry.release_exclusive(k.base, k.range.lo, k.range.hi);
}

struct FreeName {
    void operator()(char* p) const { std::free(p); }
};

void destroy_capsule(PyObject* capsule) {
    const char* name = PyCapsule_GetName(capsule);
    auto* table = static_cast<BorrowTable*>(PyCapsule_GetPointer(capsule, name));
    if (table != nullptr) {
        delete static_cast<RegistryState*>(table->state);
        delete table;
    }
    std::free(const_cast<char*>(name));
}

}  // namespace

PyObject* new_borrow_registry_capsule(unsigned feature_version, PyTypeObject* array_type) {
    const std::size_t name_size = std::strlen(kBorrowCapsuleName) + 1;
    std::unique_ptr<char, FreeName> name(static_cast<char*>(std::malloc(name_size)));
    std::unique_ptr<RegistryState> state(new (std::nothrow) RegistryState(feature_version, array_type));
    std::unique_ptr<BorrowTable> table(new (std::nothrow) BorrowTable{
        1, state.get(), acquire_shared, acquire_exclusive, release_shared, release_exclusive});
    if (name == nullptr || state == nullptr || table == nullptr || !state->registry.reserve(kInitialKeys)) {
        PyErr_NoMemory();
        return nullptr;
    }
    std::memcpy(name.get(), kBorrowCapsuleName, name_size);
    PyObject* capsule = PyCapsule_New(table.get(), name.get(), destroy_capsule);
    if (capsule == nullptr) return nullptr;
    // The capsule owns all three from here on.
    name.release();
    state.release();
    table.release();
    return capsule;
}

}  // namespace halvo
