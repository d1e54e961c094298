// NumPy API lookup, input views, the borrow registry client, output arrays.
#include "numpy_exchange.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#if defined(__linux__)
#include <sys/mman.h>
#endif
#include <limits>
#include <mutex>
#include <utility>
#include <string>

#include "borrow_registry.hpp"
#include "errors.hpp"
#include "numpy_abi.hpp"
#include "once.hpp"
#include "pyref.hpp"

namespace halvo {
namespace {

struct NumpyApi {
    void** table = nullptr;          // the _ARRAY_API function table
    PyTypeObject* array_type = nullptr;
    unsigned feature_version = 0;    // PyArray_GetNDArrayCFeatureVersion()
    const char* multiarray = nullptr;  // "numpy._core.multiarray" or "numpy.core.multiarray"
};

OnceCell<const char*> multiarray_name_cell;
OnceCell<NumpyApi> api_cell;
// The registry in use: its capsule, referenced for the life of the process,
// and the table inside it.
struct Registry {
    PyObject* capsule;
    BorrowTable* table;
};
OnceCell<Registry> registry_cell;
OnceCell<PyTypeObject*> holder_type_cell;

// Name of NumPy's multiarray module, from NumPy's major version.
bool find_multiarray_name(const char*& name) {
    Ref numpy(PyImport_ImportModule("numpy"));
    if (!numpy) return false;
    Ref version(PyObject_GetAttrString(numpy.get(), "__version__"));
    if (!version) return false;
    Ref lib(PyImport_ImportModule("numpy.lib"));
    if (!lib) return false;
    Ref numpy_version(PyObject_GetAttrString(lib.get(), "NumpyVersion"));
    if (!numpy_version) return false;
    Ref parsed(PyObject_CallFunctionObjArgs(numpy_version.get(), version.get(), nullptr));
    if (!parsed) return false;
    Ref major_obj(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major_obj) return false;
    const long major = PyLong_AsLong(major_obj.get());
    if (major == -1 && PyErr_Occurred()) return false;
    if (major < 0 || major > 255) {
        PyErr_Format(PyExc_ValueError, "unexpected NumPy major version %ld", major);
        return false;
    }
    name = (major >= 2) ? "numpy._core.multiarray" : "numpy.core.multiarray";
    return true;
}

bool load_api(NumpyApi& api) {
    const char* name = nullptr;
    if (!multiarray_name_cell.get(name, find_multiarray_name)) return false;
    Ref multiarray(PyImport_ImportModule(name));
    if (!multiarray) return false;
    Ref capsule(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
    if (!capsule) return false;
    if (!PyCapsule_CheckExact(capsule.get())) {
        raise_not_instance(capsule.get(), "PyCapsule");
        return false;
    }
    auto** table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
    if (!table) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "the _ARRAY_API capsule holds no table");
        return false;
    }
    api.table = table;
    api.array_type = static_cast<PyTypeObject*>(table[npy::kSlotArrayType]);
    api.feature_version = reinterpret_cast<npy::GetFeatureVersionFn>(table[npy::kSlotGetFeatureVersion])();
    api.multiarray = name;
    // The capsule's table lives as long as NumPy's multiarray module, which
    // stays imported (sys.modules) for the life of the process.
    return true;
}

const NumpyApi& numpy_api() {
    static thread_local NumpyApi cached;  // fast path after the first success
    if (cached.table) return cached;
    NumpyApi api;
    if (!api_cell.get(api, load_api)) {
        throw Panic("Failed to access NumPy array API capsule: " + take_error_description());
    }
    cached = api;
    return cached;
}

template <class Fn>
Fn api_fn(int slot) {
    return reinterpret_cast<Fn>(numpy_api().table[slot]);
}

bool load_registry(Registry& out) {
    const NumpyApi& api = numpy_api();
    Ref multiarray(PyImport_ImportModule(api.multiarray));
    if (!multiarray) return false;
    Ref capsule(PyObject_GetAttrString(multiarray.get(), kBorrowCapsuleName));
    if (!capsule) {
        PyErr_Clear();
        Ref fresh(new_borrow_registry_capsule(api.feature_version, api.array_type));
        if (!fresh) return false;
        if (PyObject_SetAttrString(multiarray.get(), kBorrowCapsuleName, fresh.get()) < 0) return false;
        capsule = std::move(fresh);
    } else if (!PyCapsule_CheckExact(capsule.get())) {
        raise_not_instance(capsule.get(), "PyCapsule");
        return false;
    }
    auto* table = static_cast<BorrowTable*>(PyCapsule_GetPointer(capsule.get(), kBorrowCapsuleName));
    if (!table) return false;
    if (table->version == 0) {
        PyErr_SetString(PyExc_RuntimeError, "this version of the borrow checking API (0) is not supported");
        return false;
    }
    // A table published by another module is used as it is; without the two
    // functions we call it is broken, and calling it would jump to address 0.
    if (!table->acquire_shared || !table->release_shared) {
        PyErr_SetString(PyExc_RuntimeError, "the borrow checking API table lacks its shared-borrow functions");
        return false;
    }
    // The capsule stays referenced by the multiarray module; the cell keeps
    // it alive for the process even if someone deletes that attribute.
    out = {capsule.release(), table};
    return true;
}

BorrowTable* borrow_registry() {
    static thread_local BorrowTable* cached = nullptr;
    if (cached) return cached;
    Registry registry{};
    if (!registry_cell.get(registry, load_registry)) {
        // "Interal" is spelt so on purpose: the message text is part of the
        // module's surface, matched by callers as it stands. Do not correct it.
        throw Panic("Interal borrow checking API error: " + take_error_description());
    }
    cached = registry.table;
    return cached;
}

// ---- output holder -------------------------------------------------------

using DropFn = void (*)(void* ptr, std::size_t count, std::size_t capacity);

struct SliceContainer {
    PyObject ob_base;
    DropFn drop;           // frees the buffer (when capacity is not zero)
    void* ptr;             // the element buffer
    std::size_t count;     // number of elements
    std::size_t capacity;  // allocated elements; 0 for an empty output
};

void drop_malloc(void* ptr, std::size_t /*count*/, std::size_t capacity) {
    if (capacity != 0) std::free(ptr);
}

#if defined(__linux__)
// Large outputs get their own mapping, 2 MiB aligned and marked for
// transparent huge pages: the first touch of each 2 MiB then costs one page
// fault instead of 512. (The C allocator would map large blocks afresh on
// every call anyway, with 4 KiB pages.) Nothing process-wide is changed.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMapThreshold = std::size_t{1} << 20;

std::size_t mapping_length(std::size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

// A stream is processed in blocks of one size, so the output mapping freed
// by one call fits the next: one freed mapping (up to kKeepLimit) is kept
// for reuse, which spares the next call its page faults and the kernel's
// zeroing. At most one mapping is kept, so at most kKeepLimit bytes stay
// resident after every output array is gone.
constexpr std::size_t kKeepLimit = std::size_t{64} << 20;

struct KeptMapping {
    std::mutex mu;
    void* ptr = nullptr;  // a free mapping of `len` bytes, or null
    std::size_t len = 0;
};
KeptMapping kept;

void* map_samples(std::size_t bytes) {
    const std::size_t len = mapping_length(bytes);
    {
        std::lock_guard<std::mutex> lock(kept.mu);
        if (kept.ptr != nullptr && kept.len == len) return std::exchange(kept.ptr, nullptr);
    }
    void* raw = mmap(nullptr, len + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
    if (aligned != start) munmap(raw, aligned - start);
    const std::size_t tail = (start + len + kHugePage) - (aligned + len);
    if (tail != 0) munmap(reinterpret_cast<void*>(aligned + len), tail);
    madvise(reinterpret_cast<void*>(aligned), len, MADV_HUGEPAGE);  // advice only; failure is harmless
    return reinterpret_cast<void*>(aligned);
}

// The mapping freed last is the one kept: it has the size the running
// stream asks for, while one kept from before (another object's, another
// block size) would never fit again.
void unmap_samples(void* ptr, std::size_t bytes) {
    std::size_t len = mapping_length(bytes);
    if (len <= kKeepLimit) {
        std::lock_guard<std::mutex> lock(kept.mu);
        std::swap(ptr, kept.ptr);
        std::swap(len, kept.len);
    }
    if (ptr != nullptr) munmap(ptr, len);
}

template <std::size_t ItemSize>
void drop_mapped(void* ptr, std::size_t /*count*/, std::size_t capacity) {
    if (capacity != 0) unmap_samples(ptr, capacity * ItemSize);
}
#endif

DropFn drop_for(const SampleBuffer& b, std::size_t itemsize) {
#if defined(__linux__)
    if (b.capacity * itemsize >= kMapThreshold) return itemsize == 8 ? drop_mapped<8> : drop_mapped<4>;
#endif
    (void)itemsize;
    return drop_malloc;
}

void SliceContainer_dealloc(PyObject* self) {
    auto* h = reinterpret_cast<SliceContainer*>(self);
    if (h->drop) h->drop(h->ptr, h->count, h->capacity);
    PyTypeObject* tp = Py_TYPE(self);
    auto tp_free = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    tp_free(self);
    Py_DECREF(tp);
}

PyType_Slot holder_slots[] = {
    {Py_tp_doc, const_cast<char*>("Utility type that safely stores an owned element buffer on the Python heap.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(SliceContainer_dealloc)},
    {0, nullptr},
};

PyType_Spec holder_spec = {
    "builtins.PySliceContainer",
    static_cast<int>(sizeof(SliceContainer)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    holder_slots,
};

// Where an empty output points: NumPy gets a valid, aligned pointer and
// allocates nothing of its own.
alignas(16) unsigned char empty_storage[16];

}  // namespace

namespace {

// Whether obj is a one-dimensional array of element type `typenum`.
bool is_sample_array(const NumpyApi& api, PyObject* obj, int typenum) {
    if (!PyObject_TypeCheck(obj, api.array_type)) return false;
    npy::ArrayFields* f = npy::fields(obj);
    if (f->nd != 1) return false;
    if (!f->descr) throw Panic("array without a dtype");
    Ref want(api_fn<npy::DescrFromTypeFn>(npy::kSlotDescrFromType)(typenum));
    if (!want) throw Panic("cannot get the dtype for an element type: " + take_error_description());
    return want.get() == f->descr || api_fn<npy::EquivTypesFn>(npy::kSlotEquivTypes)(want.get(), f->descr);
}

}  // namespace

bool InputView::accept(PyObject* obj, int typenum) {
    const NumpyApi& api = numpy_api();
    if (!is_sample_array(api, obj, typenum)) return raise_not_instance(obj, "ndarray"), false;
    const bool registry_was_ready = registry_cell.ready();
    BorrowTable* table = borrow_registry();
    // Reaching the registry the first time runs Python code (an import, an
    // attribute lookup on NumPy's module) and lets other threads run; any of
    // it may give the array another dtype or shape in place. Judge the array
    // again as it is now: from here until its samples are read, only the
    // registry's acquire function runs. (Once the registry is cached, nothing
    // runs in between.)
    if (!registry_was_ready && !is_sample_array(api, obj, typenum)) {
        return raise_not_instance(obj, "ndarray"), false;
    }
    const int rc = table->acquire_shared(table->state, obj);
    if (rc == -1) throw Panic("cannot borrow the input array: AlreadyBorrowed");
    if (rc != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "Unexpected return code %d from borrow checking API", rc);
        throw Panic(text);
    }
    Py_INCREF(obj);
    array_ = obj;
    registry_state_ = table->state;
    release_shared_ = table->release_shared;
    return true;
}

bool InputView::contiguous(const void** data, std::size_t* count) {
    npy::ArrayFields* f = npy::fields(array_);
    npy::npy_intp n = 1;
    for (int i = 0; i < f->nd; ++i) n *= f->dimensions[i];
    if (n == 0) {
        *data = nullptr;
        *count = 0;
        return true;
    }
    const bool contiguous = (f->flags & (npy::kCContiguous | npy::kFContiguous)) != 0;
    const bool aligned = (f->flags & npy::kAligned) != 0;
    if (!contiguous || !aligned || f->data == nullptr) {
        release();
        PyErr_SetString(PyExc_TypeError, "The given array is not contiguous or is misaligned.");
        return false;
    }
    *data = f->data;
    *count = static_cast<std::size_t>(n);
    return true;
}

void InputView::release() {
    if (!array_) return;
    release_shared_(registry_state_, array_);
    Py_DECREF(array_);
    array_ = nullptr;
}

bool allocate_samples(std::size_t count, std::size_t itemsize, SampleBuffer* out) {
    if (count == 0) {
        *out = {empty_storage, 0, 0};
        return true;
    }
    if (count > static_cast<std::size_t>(std::numeric_limits<Py_ssize_t>::max()) / itemsize) {
        PyErr_NoMemory();
        return false;
    }
    const std::size_t bytes = count * itemsize;
#if defined(__linux__)
    void* p = (bytes >= kMapThreshold) ? map_samples(bytes) : std::malloc(bytes);
#else
    void* p = std::malloc(bytes);
#endif
    if (!p) {
        PyErr_NoMemory();
        return false;
    }
    *out = {p, count, count};
    return true;
}

void free_samples(const SampleBuffer& b, std::size_t itemsize) {
    drop_for(b, itemsize)(b.data, b.count, b.capacity);
}

PyObject* make_output(const SampleBuffer& b, int typenum, std::size_t rows) {
    const std::size_t itemsize = (typenum == npy::kCFloat) ? 8 : 4;
    PyTypeObject* holder_type = nullptr;
    const bool have_type = holder_type_cell.get(holder_type, [](PyTypeObject*& t) {
        t = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&holder_spec));
        return t != nullptr;
    });
    if (!have_type) {
        free_samples(b, itemsize);
        PyErr_WriteUnraisable(nullptr);
        throw Panic("failed to create type object for `PySliceContainer`");
    }
    auto base_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
    Ref empty(PyTuple_New(0));
    Ref holder(empty ? base_new(holder_type, empty.get(), nullptr) : nullptr);
    if (!holder) {
        free_samples(b, itemsize);
        throw Panic("Failed to create slice container: " + take_error_description());
    }
    auto* h = reinterpret_cast<SliceContainer*>(holder.get());
    h->drop = drop_for(b, itemsize);
    h->ptr = b.data;
    h->count = b.count;
    h->capacity = b.capacity;
    // From here on the holder owns the buffer.

    PyObject* descr = api_fn<npy::DescrFromTypeFn>(npy::kSlotDescrFromType)(typenum);
    if (!descr) {
        PyErr_WriteUnraisable(nullptr);
        throw Panic("failed to create the output array's dtype");
    }
    const std::size_t cols = rows == 0 ? b.count : b.count / rows;
    npy::npy_intp dims[2] = {static_cast<npy::npy_intp>(rows), static_cast<npy::npy_intp>(cols)};
    npy::npy_intp strides[2] = {static_cast<npy::npy_intp>(cols * itemsize), static_cast<npy::npy_intp>(itemsize)};
    const int nd = rows == 0 ? 1 : 2;
    PyObject* arr = api_fn<npy::NewFromDescrFn>(npy::kSlotNewFromDescr)(
        numpy_api().array_type, descr, nd, dims + (2 - nd), strides + (2 - nd), b.data, npy::kWriteable, nullptr);
    if (!arr) {
        PyErr_WriteUnraisable(nullptr);
        throw Panic("failed to create the output array");
    }
    // The holder reference passes to the array whatever happens. Should the
    // call ever fail, the holder (and with it the buffer) is already gone
    // and the array must not reach the caller.
    if (api_fn<npy::SetBaseObjectFn>(npy::kSlotSetBaseObject)(arr, holder.release()) < 0) {
        Py_DECREF(arr);
        PyErr_WriteUnraisable(nullptr);
        throw Panic("failed to set the output array's base object");
    }
    return arr;
}

}  // namespace halvo
