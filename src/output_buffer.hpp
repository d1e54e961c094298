// Output sample buffers: their memory, apart from Python. A buffer carries
// its element type, decided once where it is allocated; its size in bytes,
// its release and its NumPy type all follow from it.
//
// Small buffers come from the C allocator. On Linux, large ones get their own
// mapping, 2 MiB aligned and marked for transparent huge pages, and the
// mapping freed last (up to 64 MiB) is kept for the next buffer of its size.
#pragma once

#include <cstddef>

namespace halvo {

enum class Element : unsigned char { kFloat32, kComplex64 };

inline constexpr std::size_t element_size(Element e) { return e == Element::kComplex64 ? 8 : 4; }

// Frees `capacity` elements at `data` (nothing when capacity is 0).
using ReleaseFn = void (*)(void* data, std::size_t capacity);

// An owned buffer: `count` elements, `capacity` allocated (0 for an empty
// buffer, whose `data` is a valid, aligned pointer to no memory of its own).
struct SampleBuffer {
    void* data;
    std::size_t count;
    std::size_t capacity;
    Element element;
    ReleaseFn release;  // how this buffer's memory goes back

    std::size_t itemsize() const { return element_size(element); }
    void free() const { release(data, capacity); }
};

// `count` elements of `element`. Returns false, allocating nothing, when the
// memory is not available (or the byte count overflows).
bool allocate_buffer(std::size_t count, Element element, SampleBuffer* out);

}  // namespace halvo
