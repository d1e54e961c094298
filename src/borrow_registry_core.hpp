// The bookkeeping behind the array borrow registry, free of Python so that it
// can be tested on its own. borrow_registry.cpp turns an array into a key and
// calls in here.
//
// A borrow is recorded under a key (base, lo, hi): the address of the array at
// the end of the borrowed array's chain of bases, and the byte range [lo, hi)
// that the borrowed array spans. Shared borrows of overlapping ranges coexist
// and are counted; an exclusive borrow overlaps no other borrow of the same
// base. Ranges of different bases never conflict, and an empty range overlaps
// nothing, so borrows of empty ranges always succeed and are not recorded.
// A strided array's range runs from its lowest to its highest byte, so two
// interleaved views (a[::2] and a[1::2]) count as overlapping.
//
// State, all behind one mutex:
// - an open-addressing table of keys (linear probing, backward-shift deletion,
//   so there are no tombstones and a lookup stops at the first free slot), each
//   holding its shared count and exclusive flag, and linked into a list of the
//   keys of its base;
// - an open-addressing table of bases holding the head of that list and the
//   number of keys and of exclusive keys on the base.
// A borrow of a base nobody else borrows costs two hash lookups. Only when the
// base already has borrows that could conflict are that base's keys scanned.
// Tables double when half full and never shrink, so once they have reached
// the peak number of simultaneous borrows, no call allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <mutex>

namespace halvo {

// Results of the acquire calls.
inline constexpr int kBorrowOk = 0;
inline constexpr int kBorrowConflict = -1;      // an overlapping borrow is held
inline constexpr int kBorrowNotWriteable = -2;  // exclusive borrow of a read-only array
inline constexpr int kBorrowFailed = -3;        // no memory to record the borrow, or a bad argument

// A byte range [lo, hi); empty when lo == hi.
struct ByteRange {
    std::uintptr_t lo;
    std::uintptr_t hi;
};

inline bool operator==(ByteRange a, ByteRange b) { return a.lo == b.lo && a.hi == b.hi; }

// The bytes spanned by an array with `nd` dimensions of lengths dims[k] and
// strides strides[k] (bytes, possibly negative or zero) whose first element is
// at `data`. An array with a zero-length dimension spans [data, data). If the
// extent cannot be represented (only for corrupt fields), the whole address
// space is returned, which conflicts with every other nonempty range.
template <class Int>
ByteRange array_span(const void* data, int nd, const Int* dims, const Int* strides, Int itemsize) noexcept {
    const auto d = reinterpret_cast<std::uintptr_t>(data);
    for (int k = 0; k < nd; ++k) {
        if (dims[k] == 0) return {d, d};
    }
    constexpr ByteRange everything{0, std::numeric_limits<std::uintptr_t>::max()};
    // Offsets of the lowest and highest element from the first one.
    std::intptr_t below = 0;
    std::intptr_t above = 0;
    for (int k = 0; k < nd; ++k) {
        std::intptr_t reach;
        if (dims[k] < 0 || __builtin_mul_overflow(static_cast<std::intptr_t>(dims[k] - 1),
                                                  static_cast<std::intptr_t>(strides[k]), &reach)) {
            return everything;
        }
        if (__builtin_add_overflow(reach < 0 ? below : above, reach, reach < 0 ? &below : &above)) {
            return everything;
        }
    }
    if (itemsize < 0 || __builtin_add_overflow(above, static_cast<std::intptr_t>(itemsize), &above)) {
        return everything;
    }
    // Unsigned arithmetic wraps; a range that wrapped is corrupt.
    const std::uintptr_t lo = d + static_cast<std::uintptr_t>(below);
    const std::uintptr_t hi = d + static_cast<std::uintptr_t>(above);
    if (lo > d || hi < d) return everything;
    return {lo, hi};
}

// Hash of the keys (murmur3's 64-bit finaliser, chained over the fields).
struct BorrowHash {
    static std::uint64_t mix(std::uint64_t x) {
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdULL;
        x ^= x >> 33;
        x *= 0xc4ceb9fe1a85ec53ULL;
        x ^= x >> 33;
        return x;
    }
    static std::uint64_t key(std::uintptr_t base, std::uintptr_t lo, std::uintptr_t hi) {
        return mix(base ^ mix(lo ^ mix(hi + 0x9e3779b97f4a7c15ULL)));
    }
    static std::uint64_t base(std::uintptr_t base) { return mix(base); }
};

template <class Hash = BorrowHash>
class BasicBorrowRegistry {
public:
    // Counts held under one key.
    struct Held {
        std::uint32_t shared;
        std::uint32_t exclusive;
    };

    BasicBorrowRegistry() = default;
    BasicBorrowRegistry(const BasicBorrowRegistry&) = delete;
    BasicBorrowRegistry& operator=(const BasicBorrowRegistry&) = delete;
    ~BasicBorrowRegistry() {
        std::free(keys_);
        std::free(bases_);
    }

    // Makes room for `n` simultaneous keys without growing. False when out of memory.
    bool reserve(std::size_t n) noexcept {
        std::lock_guard lock(mutex_);
        return ensure_room(n);
    }

    int acquire_shared(const void* base, std::uintptr_t lo, std::uintptr_t hi) noexcept {
        if (lo >= hi) return lo == hi ? kBorrowOk : kBorrowFailed;
        const auto b = reinterpret_cast<std::uintptr_t>(base);
        std::lock_guard lock(mutex_);
        BaseSlot* bs = find_base(b);
        if (bs != nullptr && bs->exclusive != 0) {
            for (std::uint32_t i = bs->head; i != kNil; i = keys_[i].next) {
                const KeySlot& k = keys_[i];
                if (k.exclusive != 0 && k.lo < hi && lo < k.hi) return kBorrowConflict;
            }
        }
        // The key, if held, is held shared only: an exclusive borrow of it would
        // have been found above.
        const std::uint32_t i = find_key(b, lo, hi);
        if (i == kNil) return insert_key(b, lo, hi, false) ? kBorrowOk : kBorrowFailed;
        if (keys_[i].shared == std::numeric_limits<std::uint32_t>::max()) return kBorrowFailed;
        ++keys_[i].shared;
        return kBorrowOk;
    }

    int acquire_exclusive(const void* base, std::uintptr_t lo, std::uintptr_t hi) noexcept {
        if (lo >= hi) return lo == hi ? kBorrowOk : kBorrowFailed;
        const auto b = reinterpret_cast<std::uintptr_t>(base);
        std::lock_guard lock(mutex_);
        if (BaseSlot* bs = find_base(b)) {
            for (std::uint32_t i = bs->head; i != kNil; i = keys_[i].next) {
                const KeySlot& k = keys_[i];
                if (k.lo < hi && lo < k.hi) return kBorrowConflict;
            }
        }
        // No overlapping key means in particular that this key is not held.
        return insert_key(b, lo, hi, true) ? kBorrowOk : kBorrowFailed;
    }

    // Each release undoes one acquire of its kind under the same key; a
    // release that matches no such borrow is ignored.
    void release_shared(const void* base, std::uintptr_t lo, std::uintptr_t hi) noexcept {
        release(base, lo, hi, [this](std::uint32_t i, std::uintptr_t) {
            if (keys_[i].shared == 0) return;
            if (--keys_[i].shared == 0) erase_key(i);
        });
    }

    void release_exclusive(const void* base, std::uintptr_t lo, std::uintptr_t hi) noexcept {
        release(base, lo, hi, [this](std::uint32_t i, std::uintptr_t b) {
            if (keys_[i].exclusive == 0) return;
            keys_[i].exclusive = 0;
            --find_base(b)->exclusive;
            erase_key(i);  // an exclusive key holds no shared borrows
        });
    }

    // Inspection, for tests and diagnostics.
    Held held(const void* base, std::uintptr_t lo, std::uintptr_t hi) const noexcept {
        std::lock_guard lock(mutex_);
        const std::uint32_t i = find_key(reinterpret_cast<std::uintptr_t>(base), lo, hi);
        if (i == kNil) return {0, 0};
        return {keys_[i].shared, keys_[i].exclusive};
    }
    std::size_t key_count() const noexcept {
        std::lock_guard lock(mutex_);
        return key_count_;
    }
    std::size_t base_count() const noexcept {
        std::lock_guard lock(mutex_);
        return base_count_;
    }
    std::size_t key_capacity() const noexcept {
        std::lock_guard lock(mutex_);
        return key_cap_;
    }

    // Checks every structural invariant of both tables; false if one fails.
    bool check() const noexcept {
        std::lock_guard lock(mutex_);
        std::size_t live_keys = 0;
        for (std::uint32_t i = 0; i < key_cap_; ++i) {
            const KeySlot& k = keys_[i];
            if (!live(k)) continue;
            ++live_keys;
            if (k.lo >= k.hi || k.exclusive > 1 || (k.exclusive != 0 && k.shared != 0)) return false;
            if (find_key(k.base, k.lo, k.hi) != i) return false;  // reachable from its home slot
            const BaseSlot* bs = find_base(k.base);
            if (bs == nullptr) return false;
            if (k.prev == kNil ? bs->head != i : (k.prev >= key_cap_ || keys_[k.prev].next != i)) return false;
            if (k.next != kNil && (k.next >= key_cap_ || keys_[k.next].prev != i)) return false;
        }
        if (live_keys != key_count_) return false;
        std::size_t live_bases = 0;
        std::size_t listed = 0;
        for (std::uint32_t j = 0; j < base_cap_; ++j) {
            const BaseSlot& bs = bases_[j];
            if (bs.keys == 0) continue;
            ++live_bases;
            if (find_base(bs.base) != &bs) return false;
            std::uint32_t n = 0;
            std::uint32_t exclusive = 0;
            for (std::uint32_t i = bs.head; i != kNil; i = keys_[i].next) {
                if (i >= key_cap_ || !live(keys_[i]) || keys_[i].base != bs.base || n > key_count_) return false;
                ++n;
                exclusive += keys_[i].exclusive;
            }
            if (n != bs.keys || exclusive != bs.exclusive) return false;
            listed += n;
        }
        return live_bases == base_count_ && listed == key_count_;
    }

private:
    static constexpr std::uint32_t kNil = std::numeric_limits<std::uint32_t>::max();
    static constexpr std::size_t kMinCapacity = 16;
    static constexpr std::size_t kMaxCapacity = std::size_t{1} << 31;

    struct KeySlot {
        std::uintptr_t base;      // address of the base array
        std::uintptr_t lo;        // first byte of the range
        std::uintptr_t hi;        // one past its last byte; lo < hi
        std::uint32_t shared;     // shared borrows held; 0 in a free slot
        std::uint32_t exclusive;  // 1 if an exclusive borrow is held, else 0; 0 in a free slot
        std::uint32_t prev;       // previous key of the same base, or kNil
        std::uint32_t next;       // next key of the same base, or kNil
    };

    struct BaseSlot {
        std::uintptr_t base;      // address of the base array
        std::uint32_t head;       // first key of this base
        std::uint32_t keys;       // keys held on this base; 0 in a free slot
        std::uint32_t exclusive;  // how many of them are exclusive
    };

    static bool live(const KeySlot& k) { return (k.shared | k.exclusive) != 0; }

    std::uint32_t find_key(std::uintptr_t b, std::uintptr_t lo, std::uintptr_t hi) const {
        if (key_cap_ == 0) return kNil;
        std::size_t i = Hash::key(b, lo, hi) & (key_cap_ - 1);
        while (live(keys_[i])) {
            const KeySlot& k = keys_[i];
            if (k.base == b && k.lo == lo && k.hi == hi) return static_cast<std::uint32_t>(i);
            i = (i + 1) & (key_cap_ - 1);
        }
        return kNil;
    }

    BaseSlot* find_base(std::uintptr_t b) const {
        if (base_cap_ == 0) return nullptr;
        std::size_t j = Hash::base(b) & (base_cap_ - 1);
        while (bases_[j].keys != 0) {
            if (bases_[j].base == b) return &bases_[j];
            j = (j + 1) & (base_cap_ - 1);
        }
        return nullptr;
    }

    // Runs undo(index, base) under the lock on the key, when it is in the table.
    template <class Undo>
    void release(const void* base, std::uintptr_t lo, std::uintptr_t hi, Undo undo) noexcept {
        if (lo >= hi) return;
        const auto b = reinterpret_cast<std::uintptr_t>(base);
        std::lock_guard lock(mutex_);
        const std::uint32_t i = find_key(b, lo, hi);
        if (i != kNil) undo(i, b);
    }

    static std::size_t capacity_for(std::size_t n) {
        std::size_t cap = kMinCapacity;
        while (cap < 2 * n && cap < kMaxCapacity) cap *= 2;
        return cap;
    }

    // Makes both tables at most half full with `n` keys (and so at most `n`
    // bases). Leaves everything unchanged when memory runs out.
    bool ensure_room(std::size_t n) {
        if (n > kMaxCapacity / 2) return false;
        if (2 * n > key_cap_ && !rehash_keys(capacity_for(n))) return false;
        if (2 * n > base_cap_ && !rehash_bases(capacity_for(n))) return false;
        return true;
    }

    // Puts a fresh zeroed table of `new_cap` slots in place of `table`, runs
    // `start`, hands every old slot to `move`, then frees the old table.
    // Leaves everything unchanged when memory runs out.
    template <class Slot, class Start, class Move>
    static bool regrow(Slot*& table, std::size_t& cap, std::size_t new_cap, Start start, Move move) {
        auto* fresh = static_cast<Slot*>(std::calloc(new_cap, sizeof(Slot)));
        if (fresh == nullptr) return false;
        Slot* old = table;
        const std::size_t old_cap = cap;
        table = fresh;
        cap = new_cap;
        start();
        for (std::size_t j = 0; j < old_cap; ++j) move(old[j]);
        std::free(old);
        return true;
    }

    bool rehash_bases(std::size_t cap) {
        return regrow(bases_, base_cap_, cap, [] {}, [this](const BaseSlot& s) {
            if (s.keys != 0) *free_base_slot(s.base) = s;
        });
    }

    // Moves every key to a new table and rebuilds the lists of keys per base.
    bool rehash_keys(std::size_t cap) {
        return regrow(
            keys_, key_cap_, cap, [this] { for (std::size_t j = 0; j < base_cap_; ++j) bases_[j].head = kNil; },
            [this](const KeySlot& s) {
                if (!live(s)) return;
                const std::uint32_t i = free_key_slot(s.base, s.lo, s.hi);
                keys_[i] = s;
                link(i, *find_base(s.base));
            });
    }

    std::uint32_t free_key_slot(std::uintptr_t b, std::uintptr_t lo, std::uintptr_t hi) const {
        std::size_t i = Hash::key(b, lo, hi) & (key_cap_ - 1);
        while (live(keys_[i])) i = (i + 1) & (key_cap_ - 1);
        return static_cast<std::uint32_t>(i);
    }

    BaseSlot* free_base_slot(std::uintptr_t b) const {
        std::size_t j = Hash::base(b) & (base_cap_ - 1);
        while (bases_[j].keys != 0) j = (j + 1) & (base_cap_ - 1);
        return &bases_[j];
    }

    // Puts key slot i at the head of its base's list.
    void link(std::uint32_t i, BaseSlot& bs) {
        keys_[i].prev = kNil;
        keys_[i].next = bs.head;
        if (bs.head != kNil) keys_[bs.head].prev = i;
        bs.head = i;
    }

    // Records a new key, which must not be held yet, with one borrow of the
    // given kind. False (and nothing changed) when out of memory.
    bool insert_key(std::uintptr_t b, std::uintptr_t lo, std::uintptr_t hi, bool exclusive) {
        if (!ensure_room(key_count_ + 1)) return false;
        BaseSlot* bs = find_base(b);
        if (bs == nullptr) {
            bs = free_base_slot(b);
            *bs = {b, kNil, 0, 0};
            ++base_count_;
        }
        ++bs->keys;
        bs->exclusive += exclusive ? 1 : 0;
        const std::uint32_t i = free_key_slot(b, lo, hi);
        keys_[i] = {b, lo, hi, exclusive ? 0u : 1u, exclusive ? 1u : 0u, kNil, kNil};
        link(i, *bs);
        ++key_count_;
        return true;
    }

    // Removes key slot i (whose counts are already zero) from its base and
    // from the table. Later keys of the probe run move back into the hole, so
    // that every key stays reachable from its home slot without tombstones.
    void erase_key(std::uint32_t i) {
        const std::uintptr_t b = keys_[i].base;
        BaseSlot* bs = find_base(b);
        unlink(i, *bs);
        keys_[i].shared = 0;
        keys_[i].exclusive = 0;
        --key_count_;
        const std::size_t mask = key_cap_ - 1;
        std::size_t hole = i;
        for (std::size_t j = (i + 1) & mask; live(keys_[j]); j = (j + 1) & mask) {
            const KeySlot& k = keys_[j];
            const std::size_t home = Hash::key(k.base, k.lo, k.hi) & mask;
            // The key at j may fill the hole only if its home is not in (hole, j].
            if (((j - home) & mask) < ((j - hole) & mask)) continue;
            move_key(static_cast<std::uint32_t>(j), static_cast<std::uint32_t>(hole));
            hole = j;
        }
        if (--bs->keys == 0) erase_base(bs);
    }

    void unlink(std::uint32_t i, BaseSlot& bs) {
        const KeySlot& k = keys_[i];
        if (k.prev != kNil) keys_[k.prev].next = k.next;
        else bs.head = k.next;
        if (k.next != kNil) keys_[k.next].prev = k.prev;
    }

    // Moves the key at slot `from` to the free slot `to`, keeping its list intact.
    void move_key(std::uint32_t from, std::uint32_t to) {
        keys_[to] = keys_[from];
        keys_[from].shared = 0;
        keys_[from].exclusive = 0;
        const KeySlot& k = keys_[to];
        if (k.prev != kNil) keys_[k.prev].next = to;
        else find_base(k.base)->head = to;
        if (k.next != kNil) keys_[k.next].prev = to;
    }

    // Removes a base slot (with no keys left) by the same backward shift.
    void erase_base(BaseSlot* bs) {
        --base_count_;
        const std::size_t mask = base_cap_ - 1;
        std::size_t hole = static_cast<std::size_t>(bs - bases_);
        bases_[hole].keys = 0;
        for (std::size_t j = (hole + 1) & mask; bases_[j].keys != 0; j = (j + 1) & mask) {
            const std::size_t home = Hash::base(bases_[j].base) & mask;
            if (((j - home) & mask) < ((j - hole) & mask)) continue;
            bases_[hole] = bases_[j];
            bases_[j].keys = 0;
            hole = j;
        }
    }

    mutable std::mutex mutex_;
    KeySlot* keys_ = nullptr;      // key_cap_ slots (a power of two), or none
    std::size_t key_cap_ = 0;      // 0 until the first key
    std::size_t key_count_ = 0;    // live key slots
    BaseSlot* bases_ = nullptr;    // base_cap_ slots (a power of two), or none
    std::size_t base_cap_ = 0;     // 0 until the first key
    std::size_t base_count_ = 0;   // live base slots
};

using BorrowRegistry = BasicBorrowRegistry<>;

}  // namespace halvo
