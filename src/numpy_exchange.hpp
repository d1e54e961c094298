// Exchange of sample blocks with NumPy arrays.
//
// NumPy's C API table is reached at run time through its _ARRAY_API capsule
// (the build needs no NumPy). Inputs are viewed in place for one call under a
// read-only borrow in the process-wide borrow registry; outputs adopt a
// buffer of ours without copying, owned by a PySliceContainer holder.
#pragma once

#include "py_limited.hpp"

#include <cstddef>

namespace halvo {

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

// An owned output buffer: `count` elements, `capacity` allocated elements.
struct SampleBuffer {
    void* data;
    std::size_t count;
    std::size_t capacity;
};

// Allocates `count` elements of `itemsize` bytes. Returns false with
// MemoryError set when the memory is not available.
bool allocate_samples(std::size_t count, std::size_t itemsize, SampleBuffer* out);

// Frees a buffer of `itemsize`-byte elements that was never handed to an
// output array.
void free_samples(const SampleBuffer& b, std::size_t itemsize);

// Wraps `b` (elements of type `typenum`) as a new array that owns it through
// a holder: one-dimensional when rows is 0, else rows x (count / rows), row
// by row. Takes ownership of `b` in every case. Throws Panic when the holder
// or the array cannot be created.
PyObject* make_output(const SampleBuffer& b, int typenum, std::size_t rows = 0);

}  // namespace halvo
