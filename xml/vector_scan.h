// Internal: searches 16 bytes at a time for the first byte that is, or is
// not, one of a few listed values, with the SIMD instructions the target
// has (SSE2 on x86-64, NEON on ARM where the build enables it). The
// scanner's byte-by-byte table loop finishes every search: it takes the
// last fewer-than-16 bytes before the end, and it does the whole search
// where no SIMD unit is compiled for, since on such a core a table lookup
// per byte is already the cheapest test.
//
// A block is read only while 16 bytes remain before the end, so no load
// reaches past the end of input (or past the buffer holding it): clean
// under the address sanitizer and valgrind, which flag even loads that
// cannot fault.
#ifndef EZXML_VECTOR_SCAN_H
#define EZXML_VECTOR_SCAN_H

#include <stddef.h>
#include <stdint.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__ARM_NEON)
#include <arm_neon.h>
#endif

namespace vector_scan {

inline constexpr ptrdiff_t block = 16;

// The values of a small byte set, listed for comparison one by one beside
// a range of consecutive values, which is either exactly the set's (taken
// as it is) or a superset (whatever the search meets in it is told apart
// by the set's own table). A set that fits neither is not listed, and
// searched byte by byte only.
struct byte_list {
    static constexpr int most = 8;
    unsigned char members[most] = {};
    int count = 0;
    unsigned char range_first = 1, range_last = 0; // empty
    bool range_exact = false;

    constexpr bool has_range() const { return range_first <= range_last; }
    constexpr bool in_range(unsigned char c) const { return range_first <= c && c <= range_last; }
    constexpr bool listed() const { return count > 0 || has_range(); }
};

// Which bytes of a block the set's list takes. The searches are always
// inlined and the comparisons written out (not looped over), so that where
// the set is a named constant each member becomes a constant vector, kept
// in a register across the blocks.
template <typename Vector, typename Equal, typename Either>
[[gnu::always_inline]] inline Vector matches(Vector bytes, Vector range, const byte_list &set,
                                             Equal equal, Either either) {
    Vector hit = range;
    if (set.count > 0) {
        hit = either(hit, equal(bytes, set.members[0]));
    }
    if (set.count > 1) {
        hit = either(hit, equal(bytes, set.members[1]));
    }
    if (set.count > 2) {
        hit = either(hit, equal(bytes, set.members[2]));
    }
    if (set.count > 3) {
        hit = either(hit, equal(bytes, set.members[3]));
    }
    if (set.count > 4) {
        hit = either(hit, equal(bytes, set.members[4]));
    }
    if (set.count > 5) {
        hit = either(hit, equal(bytes, set.members[5]));
    }
    if (set.count > 6) {
        hit = either(hit, equal(bytes, set.members[6]));
    }
    if (set.count > 7) {
        hit = either(hit, equal(bytes, set.members[7]));
    }
    return hit;
}
static_assert(byte_list::most == 8, "matches() compares up to eight members");

#if defined(__SSE2__)
inline constexpr bool available = true;

// The offset in the block at p of the first byte the list takes, or block
// when there is none.
[[gnu::always_inline]] inline ptrdiff_t first_taken(const char *p, const byte_list &set) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    // In the range: the byte less its first value is at most the range's
    // width, unsigned, so it equals its minimum with that width.
    __m128i low = _mm_setzero_si128();
    if (set.has_range()) {
        __m128i above = _mm_sub_epi8(bytes, _mm_set1_epi8(static_cast<char>(set.range_first)));
        __m128i width = _mm_set1_epi8(static_cast<char>(set.range_last - set.range_first));
        low = _mm_cmpeq_epi8(_mm_min_epu8(above, width), above);
    }
    __m128i hit = matches(
        bytes, low, set,
        [](__m128i b, unsigned char c) {
            return _mm_cmpeq_epi8(b, _mm_set1_epi8(static_cast<char>(c)));
        },
        [](__m128i x, __m128i y) { return _mm_or_si128(x, y); });
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    return mask ? __builtin_ctz(mask) : block;
}
#elif defined(__ARM_NEON)
inline constexpr bool available = true;

// As above. 32-bit NEON has no byte mask move: narrowing each 16-bit lane
// shifted right by 4 leaves 4 bits per byte (all set or all clear) in one
// 64-bit word, in byte order.
[[gnu::always_inline]] inline ptrdiff_t first_taken(const char *p, const byte_list &set) {
    uint8x16_t bytes = vld1q_u8(reinterpret_cast<const uint8_t *>(p));
    uint8x16_t low = vdupq_n_u8(0);
    if (set.has_range()) {
        low = vcleq_u8(vsubq_u8(bytes, vdupq_n_u8(set.range_first)),
                       vdupq_n_u8(static_cast<uint8_t>(set.range_last - set.range_first)));
    }
    uint8x16_t hit = matches(
        bytes, low, set, [](uint8x16_t b, unsigned char c) { return vceqq_u8(b, vdupq_n_u8(c)); },
        [](uint8x16_t x, uint8x16_t y) { return vorrq_u8(x, y); });
    uint8x8_t nibbles = vshrn_n_u16(vreinterpretq_u16_u8(hit), 4);
    uint64_t mask = vget_lane_u64(vreinterpret_u64_u8(nibbles), 0);
    return mask ? __builtin_ctzll(mask) / 4 : block;
}
#else
inline constexpr bool available = false;
#endif

// Searches from *p block by block for the first byte of the set, whose
// membership test tells the list's extra bytes apart. Found: true, with *p moved
// there. Otherwise false, with *p moved to the start of the fewer than 16
// bytes left before end, for the caller's byte loop; *p stays where it was
// when the set is not listed or there is no SIMD unit to search with.
template <typename Member>
[[gnu::always_inline]] inline bool search_blocks(char **p, const char *end, const byte_list &set,
                                                 Member is_member) {
#if defined(__SSE2__) || defined(__ARM_NEON)
    if (!set.listed()) {
        return false;
    }
    char *q = *p;
    while (end - q >= block) {
        ptrdiff_t at = first_taken(q, set);
        if (at == block) {
            q += block;
            continue;
        }
        q += at;
        if (set.range_exact || !set.in_range(static_cast<unsigned char>(*q)) || is_member(*q)) {
            *p = q;
            return true;
        }
        ++q; // a byte of the range that is no member
    }
    *p = q;
#else
    (void)p;
    (void)end;
    (void)set;
    (void)is_member;
#endif
    return false;
}

} // namespace vector_scan

#endif
