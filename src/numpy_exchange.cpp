// NumPy API lookup, input views, the borrow registry client, output arrays
// (their memory is output_buffer.cpp's).
#include "numpy_exchange.hpp"

#include <cstdio>
#include <string>
#include <utility>

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

struct SliceContainer {
    PyObject ob_base;
    ReleaseFn release;     // frees the buffer (when capacity is not zero)
    void* ptr;             // the element buffer
    std::size_t count;     // number of elements
    std::size_t capacity;  // allocated elements; 0 for an empty output
};

void SliceContainer_dealloc(PyObject* self) {
    auto* h = reinterpret_cast<SliceContainer*>(self);
    if (h->release) h->release(h->ptr, h->capacity);
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

namespace {

// str(obj.name) or nullptr (error cleared).
PyObject* attr_str(PyObject* obj, const char* name) {
    Ref a(PyObject_GetAttrString(obj, name));
    PyObject* s = a ? PyObject_Str(a.get()) : nullptr;
    if (!s) PyErr_Clear();
    return s;
}

// bool(obj.flags.name): 1, 0, or -1 when unknown (error cleared).
int flag_of(PyObject* obj, const char* name) {
    Ref flags(PyObject_GetAttrString(obj, "flags"));
    Ref v(flags ? PyObject_GetAttrString(flags.get(), name) : nullptr);
    int r = v ? PyObject_IsTrue(v.get()) : -1;
    if (r < 0) PyErr_Clear();
    return r;
}

// What an array-like object is, for the note: "ndarray, dtype complex128,
// shape (8,), C-contiguous, aligned, native byte order" or its type's name.
PyObject* describe_passed(PyObject* obj) {
    Ref type_name(PyType_GetQualName(Py_TYPE(obj)));
    if (!type_name) return nullptr;
    Ref dtype(PyObject_GetAttrString(obj, "dtype"));
    Ref shape(dtype ? attr_str(obj, "shape") : nullptr);
    if (!dtype || !shape) {
        PyErr_Clear();
        return PyUnicode_FromFormat("%U (not a NumPy array)", type_name.get());
    }
    Ref dtype_name(attr_str(dtype.get(), "name"));
    Ref order(attr_str(dtype.get(), "byteorder"));
    const char* byte_order = "native byte order";
    if (order && PyUnicode_CompareWithASCIIString(order.get(), "=") != 0 &&
        PyUnicode_CompareWithASCIIString(order.get(), "|") != 0) {
        const bool little = PyUnicode_CompareWithASCIIString(order.get(), "<") == 0;
        const bool native_little = []{ const unsigned one = 1; return *reinterpret_cast<const unsigned char*>(&one) == 1; }();
        byte_order = little == native_little ? "native byte order"
                     : little                ? "byte-swapped (little-endian)"
                                             : "byte-swapped (big-endian)";
    }
    const int c = flag_of(obj, "c_contiguous"), aligned = flag_of(obj, "aligned");
    return PyUnicode_FromFormat("%U, dtype %U, shape %U, %s, %s, %s", type_name.get(), dtype_name ? dtype_name.get() : dtype.get(),
                                shape.get(), c == 1 ? "C-contiguous" : c == 0 ? "not C-contiguous" : "contiguity unknown",
                                aligned == 1 ? "aligned" : aligned == 0 ? "misaligned" : "alignment unknown", byte_order);
}

}  // namespace

void add_array_note(PyObject* obj, int typenum, const char* class_name, const char* method, const char* arg) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb) PyException_SetTraceback(value, tb);
    const char* want = typenum == npy::kCFloat ? "complex64" : "float32";
    Ref passed(describe_passed(obj));
    // A 2-D (or 0-D) array also needs flattening to become one stream of samples.
    Ref ndim(PyObject_GetAttrString(obj, "ndim"));
    const long nd = ndim ? PyLong_AsLong(ndim.get()) : 1;
    if (!ndim || PyErr_Occurred()) PyErr_Clear();
    const char* flatten = nd == 1 ? "" : ".reshape(-1)";
    // np.ascontiguousarray returns a misaligned contiguous array as it is;
    // a copy by np.array is aligned.
    const char* convert = flag_of(obj, "aligned") == 0 ? "array" : "ascontiguousarray";
    Ref note(passed ? PyUnicode_FromFormat(
                          "%s.%s() takes '%s' as a 1-D, C-contiguous, aligned numpy.ndarray of %s in native byte order\n"
                          "passed: %U\n"
                          "fix: %s = np.%s(%s, dtype=np.%s)%s",
                          class_name, method, arg, want, passed.get(), arg, convert, arg, want, flatten)
                    : nullptr);
    Ref done(note ? PyObject_CallMethod(value, "add_note", "O", note.get()) : nullptr);
    if (!done) PyErr_Clear();  // the exception stands without its note
    PyErr_Restore(type, value, tb);
}

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

bool allocate_samples(std::size_t count, Element element, SampleBuffer* out) {
    if (allocate_buffer(count, element, out)) return true;
    PyErr_NoMemory();
    return false;
}

PyObject* make_output(const SampleBuffer& b, std::size_t rows) {
    const std::size_t itemsize = b.itemsize();
    const int typenum = b.element == Element::kComplex64 ? npy::kCFloat : npy::kFloat;
    PyTypeObject* holder_type = nullptr;
    const bool have_type = holder_type_cell.get(holder_type, [](PyTypeObject*& t) {
        t = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&holder_spec));
        return t != nullptr;
    });
    if (!have_type) {
        b.free();
        PyErr_WriteUnraisable(nullptr);
        throw Panic("failed to create type object for `PySliceContainer`");
    }
    auto base_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
    Ref empty(PyTuple_New(0));
    Ref holder(empty ? base_new(holder_type, empty.get(), nullptr) : nullptr);
    if (!holder) {
        b.free();
        throw Panic("Failed to create slice container: " + take_error_description());
    }
    auto* h = reinterpret_cast<SliceContainer*>(holder.get());
    h->release = b.release;
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
