// Exchange of sample blocks with NumPy arrays.
//
// NumPy's C API table is reached at run time through its _ARRAY_API capsule
// (the build needs no NumPy). Inputs are viewed in place for one call under a
// read-only borrow in the process-wide borrow registry; outputs adopt a
// buffer of ours without copying, owned by a PySliceContainer holder.
#pragma once

#include "py_limited.hpp"

#include <cstddef>

#include "output_buffer.hpp"

namespace halvo {

// On a pending TypeError from the array checks of `Class.method(arg=obj)`,
// attaches an exception note (PEP 678, BaseException.add_note) that says what
// was expected (a 1-D, C-contiguous, aligned array of `typenum`), what was
// passed (type, dtype, shape, contiguity, alignment, byte order) and the
// one-line fix. The message itself is left as it is. Anything going wrong
// while the note is made leaves the original exception without a note.
void add_array_note(PyObject* obj, int typenum, const char* class_name, const char* method, const char* arg);

// A read-only sample view: a strong reference to the input array plus one
// read-only borrow in the registry, both released by the destructor.
class InputView {
public:
    InputView() = default;
    InputView(const InputView&) = delete;
    InputView& operator=(const InputView&) = delete;
    ~InputView() { release(); }

    // Accepts `obj` as a one-dimensional array of element type `typenum`
    // (11 float32, 14 complex64). On a conversion failure returns false with
    // the not-an-instance TypeError set (not yet renamed). Throws Panic on the
    // fatal conditions (NumPy unavailable, borrow refused).
    bool accept(PyObject* obj, int typenum);

    // Pointer to the first element and the element count. Returns false (and
    // releases the view) with TypeError "The given array is not contiguous or
    // is misaligned." for a non-empty array that cannot be read in place.
    bool contiguous(const void** data, std::size_t* count);

    void release();

private:
    PyObject* array_ = nullptr;
    void* registry_state_ = nullptr;
    void (*release_shared_)(void*, PyObject*) = nullptr;
};

// allocate_buffer (output_buffer.hpp), with MemoryError set when the memory
// is not available.
bool allocate_samples(std::size_t count, Element element, SampleBuffer* out);

// Wraps `b` as a new array of its element type that owns it through a
// holder: one-dimensional when rows is 0, else rows x (count / rows), row by
// row. Takes ownership of `b` in every case. Throws Panic when the holder or
// the array cannot be created.
PyObject* make_output(const SampleBuffer& b, std::size_t rows = 0);

}  // namespace halvo
