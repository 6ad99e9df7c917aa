// UTF-16 input (marked by its byte order mark) is converted to UTF-8 before
// parsing; everything else is parsed byte for byte.
#include <assert.h>
#include <stdint.h>
#include <stdlib.h>

#include "xml/ezxml.h"
#include "xml/parse_budget.h"
#include "xml/parser.h"

namespace {

constexpr size_t growth_step = 8192;
constexpr size_t longest_sequence = 6;

// Writes c as UTF-8 at out; returns the number of bytes written.
size_t put_utf8(uint32_t c, unsigned char *out) {
    if (c < 0x80) {
        out[0] = static_cast<unsigned char>(c);
        return 1;
    }
    int bits = 32 - __builtin_clz(c);
    int continuation = (bits - 2) / 5;
    out[0] = static_cast<unsigned char>((0xFFu << (7 - continuation)) | (c >> (6 * continuation)));
    for (int i = 1; i <= continuation; ++i)
        out[i] = static_cast<unsigned char>(0x80 | ((c >> (6 * (continuation - i))) & 0x3F));
    return static_cast<size_t>(continuation) + 1;
}

// Calls put(c) for each character of the UTF-16 text in[0..in_length),
// byte order mark excluded.
template <typename Put>
void for_each_character(const unsigned char *in, size_t in_length, bool big_endian, Put put) {
    auto unit_at = [&](size_t i) -> uint32_t {
        return big_endian ? (in[i] << 8) | in[i + 1] : (in[i + 1] << 8) | in[i];
    };
    for (size_t i = 2; i + 1 < in_length; i += 2) {
        uint32_t c = unit_at(i);
        if (c >= 0xD800 && c <= 0xDFFF) {
            // A surrogate takes the unit after it along, whatever that is; a
            // surrogate without a following unit is written as it stands.
            i += 2;
            if (i + 1 < in_length)
                c = (((c & 0x3FF) << 10) | (unit_at(i) & 0x3FF)) + 0x10000;
        }
        put(c);
    }
}

} // namespace

char *utf16_to_utf8(char **s, size_t *len, parse_budget *budget) {
    if (!s || !*s || !len || *len == 0)
        return nullptr;
    const auto *in = reinterpret_cast<const unsigned char *>(*s);
    size_t in_length = *len;
    bool big_endian;
    if (in[0] == 0xFE)
        big_endian = true;
    else if (in[0] == 0xFF)
        big_endian = false;
    else
        return nullptr;

    // Never a zero-sized block: even input that converts to nothing gets a
    // real buffer, so that the caller can tell "converted" from "not UTF-16".
    // A budgeted copy is measured first and made with room for the longest
    // sequence behind it, so that it never grows: growing by steps would be
    // charged anew at every step.
    size_t capacity = in_length;
    if (budget) {
        size_t exact = 0;
        unsigned char scratch[longest_sequence];
        for_each_character(in, in_length, big_endian,
                           [&](uint32_t c) { exact += put_utf8(c, scratch); });
        capacity = exact + longest_sequence;
    }
    auto *out = static_cast<unsigned char *>(budget_malloc(budget, capacity));
    if (!out)
        return nullptr;
    size_t length = 0;
    bool failed = false;
    for_each_character(in, in_length, big_endian, [&](uint32_t c) {
        while (!failed && capacity < length + longest_sequence) {
            assert(!budget); // a measured copy never grows
            auto *grown = static_cast<unsigned char *>(realloc(out, capacity + growth_step));
            if (!grown) {
                failed = true;
                break;
            }
            out = grown;
            capacity += growth_step;
        }
        if (!failed)
            length += put_utf8(c, out + length);
    });
    if (failed) {
        free(out);
        return nullptr;
    }

    if (auto *exact = static_cast<unsigned char *>(realloc(out, length ? length : 1)))
        out = exact;
    *len = length;
    *s = reinterpret_cast<char *>(out);
    return *s;
}

char *ezxml_str2utf8(char **s, size_t *len) {
    return utf16_to_utf8(s, len, nullptr);
}
