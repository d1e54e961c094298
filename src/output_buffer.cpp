// Output sample buffers: the C allocator for small ones, a huge-page mapping
// (and one kept mapping) for large ones on Linux.
#include "output_buffer.hpp"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <utility>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace halvo {
namespace {

void release_malloc(void* data, std::size_t capacity) {
    if (capacity != 0) std::free(data);
}

// Where an empty buffer points: NumPy gets a valid, aligned pointer and
// allocates nothing of its own.
alignas(16) unsigned char empty_storage[16];

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

template <Element E>
void release_mapped(void* data, std::size_t capacity) {
    if (capacity != 0) unmap_samples(data, capacity * element_size(E));
}
#endif

}  // namespace

bool allocate_buffer(std::size_t count, Element element, SampleBuffer* out) {
    const std::size_t itemsize = element_size(element);
    if (count == 0) {
        *out = {empty_storage, 0, 0, element, release_malloc};
        return true;
    }
    if (count > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / itemsize) return false;
    const std::size_t bytes = count * itemsize;
#if defined(__linux__)
    if (bytes >= kMapThreshold) {
        void* p = map_samples(bytes);
        if (!p) return false;
        *out = {p, count, count, element,
                element == Element::kComplex64 ? release_mapped<Element::kComplex64> : release_mapped<Element::kFloat32>};
        return true;
    }
#endif
    void* p = std::malloc(bytes);
    if (!p) return false;
    *out = {p, count, count, element, release_malloc};
    return true;
}

}  // namespace halvo
