// Decoding of texts and attribute values: line ends, character references,
// entity expansion and attribute white space; and the guard that keeps
// entity declarations from reaching themselves.
#include <assert.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "xml/chars.h"
#include "xml/document.h"
#include "xml/entities.h"
#include "xml/indexes.h"
#include "xml/parse_budget.h"

namespace {

// The index of the first pair of list whose name begins text, or -1. With
// an index that can answer for the list, without scanning it.
ptrdiff_t find_entity(char **list, const char *text, entity_index *index) {
    if (!list) {
        return -1;
    }
    if (index && entity_index_sync(index, list)) {
        return entity_index_find(index, list, text);
    }
    for (ptrdiff_t i = 0; list[2 * i]; ++i) {
        if (starts_with(text, list[2 * i])) {
            return i;
        }
    }
    return -1;
}

// CR LF and a lone CR both become one LF, in s[0..length). Returns the new
// length. Most texts hold no CR at all, and are left as they are.
size_t normalise_line_ends(char *s, size_t length) {
    auto *first = static_cast<char *>(memchr(s, '\r', length));
    if (!first) {
        return length;
    }
    char *out = first;
    for (const char *in = first; *in; ++in) {
        if (*in == '\r') {
            *out++ = '\n';
            if (in[1] == '\n') {
                ++in;
            }
        } else {
            *out++ = *in;
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - s);
}

// Reads the character reference that starts at ref ("&#"). On success stores
// its value and the length of the whole reference, ";" included. Only a
// positive value followed by ";" counts: zero and negative numbers would
// otherwise write a NUL or a stray byte into the text.
// The value of a plain run of up to seven digits ended by ';', which is
// what strtol would read there too; -1 for anything else (white space, a
// sign, a 0x prefix, longer numbers), which strtol then reads itself.
long plain_digits(const char *digits, int base, const char **end) {
    long v = 0;
    const char *p = digits;
    for (; p - digits < 7; ++p) {
        unsigned d;
        if (*p >= '0' && *p <= '9') {
            d = static_cast<unsigned>(*p - '0');
        } else if (base == 16 && *p >= 'a' && *p <= 'f') {
            d = static_cast<unsigned>(*p - 'a' + 10);
        } else if (base == 16 && *p >= 'A' && *p <= 'F') {
            d = static_cast<unsigned>(*p - 'A' + 10);
        } else {
            break;
        }
        v = v * base + d;
    }
    if (p == digits || *p != ';') {
        return -1;
    }
    *end = p;
    return v;
}

bool read_char_ref(const char *ref, uint32_t *value, size_t *length) {
    int base = ref[2] == 'x' ? 16 : 10;
    const char *digits = ref + (base == 16 ? 3 : 2);
    const char *plain_end = nullptr;
    long v = plain_digits(digits, base, &plain_end);
    char *end = const_cast<char *>(plain_end);
    if (v < 0) {
        v = strtol(digits, &end, base);
    }
    if (end == digits || *end != ';' || v <= 0) {
        return false;
    }
    if (v > INT32_MAX) {
        v = INT32_MAX;
    }
    *value = static_cast<uint32_t>(v);
    *length = static_cast<size_t>(end - ref) + 1;
    return true;
}

size_t saturating_add(size_t a, size_t b) {
    return a > SIZE_MAX - b ? SIZE_MAX : a + b;
}

size_t saturating_mul(size_t a, size_t b) {
    return b && a > SIZE_MAX / b ? SIZE_MAX : a * b;
}

// The text under decoding is a gap buffer: bytes [0, done) are final, bytes
// [rest, capacity - 1) are still to be scanned, and a NUL stands at
// capacity - 1. Expanding a reference puts the replacement text in front of
// the rest, so the scan reads it next; the scan itself never goes back.
// While the text is still the caller's string the gap only ever shrinks
// what is left; the first replacement longer than its reference moves the
// text into a heap block, which then grows geometrically, so many growing
// references cost linear time. Expansions and growth are paid from the
// budget: the document's while a parse runs, else one of this call's own.
struct Decoding {
    char *buffer;
    size_t capacity;
    size_t done;
    size_t rest;
    bool owned;
    parse_budget *budget;
};

// The gap buffer's order: what is final, then the gap, then the rest and
// its NUL, all inside the buffer.
void assert_ordered(const Decoding &d) {
    assert(d.done <= d.rest && d.rest <= d.capacity - 1);
    assert(d.buffer[d.capacity - 1] == '\0');
    (void)d;
}

size_t rest_length(const Decoding &d) {
    assert_ordered(d);
    return d.capacity - 1 - d.rest;
}

// Makes room for at least extra more bytes in the gap. False when no memory
// can be had; the text is then unchanged.
bool widen_gap(Decoding &d, size_t extra) {
    size_t tail = rest_length(d);
    size_t needed = saturating_add(saturating_add(d.done, tail), saturating_add(extra, 1));
    if (needed == SIZE_MAX) {
        return false;
    }
    size_t capacity = needed;
    if (d.owned && capacity < saturating_mul(d.capacity, 2)) {
        capacity = saturating_mul(d.capacity, 2);
    }

    char *grown;
    if (d.owned) {
        grown = static_cast<char *>(budget_realloc(d.budget, d.buffer, capacity));
        if (!grown) {
            return false;
        }
        memmove(grown + capacity - 1 - tail, grown + d.rest, tail + 1);
    } else {
        grown = static_cast<char *>(budget_malloc(d.budget, capacity));
        if (!grown) {
            return false;
        }
        memcpy(grown, d.buffer, d.done);
        memcpy(grown + capacity - 1 - tail, d.buffer + d.rest, tail + 1);
    }
    d.buffer = grown;
    d.capacity = capacity;
    d.rest = capacity - 1 - tail;
    d.owned = true;
    assert_ordered(d);
    return true;
}

// Pays for replacing the reference of reference_length bytes at the front
// of the rest by a text of length bytes, and makes room for it. False,
// with nothing changed, when the expansion budget or memory does not allow
// it; a budget that ran out grants nothing more.
bool make_room(Decoding &d, size_t reference_length, size_t length) {
    if (!budget_spend_expansion(d.budget, saturating_add(length, 1))) {
        return false;
    }
    bool fits = d.rest + reference_length >= d.done + length;
    return length <= reference_length || (d.owned && fits) ||
           widen_gap(d, length - reference_length);
}

// Replaces the reference of reference_length bytes at the front of the rest
// by replacement, which the scan reads next.
bool expand(Decoding &d, size_t reference_length, const char *replacement) {
    size_t length = strlen(replacement);
    if (!make_room(d, reference_length, length)) {
        return false;
    }
    d.rest = d.rest + reference_length - length;
    memmove(d.buffer + d.rest, replacement, length);
    assert_ordered(d);
    return true;
}

// The length of a reference, "&" or "%" included, to a name that begins the
// text behind it: up to the text's first ";", which is the name's first
// one (a name with a ";" of its own inside matches more than a reference
// covers). A name without any, only in a list made by hand, is replaced as
// long as it is.
size_t reference_span(const char *name) {
    const char *semicolon = strchr(name, ';');
    return 1 + (semicolon ? static_cast<size_t>(semicolon - name) + 1 : strlen(name));
}

// The predefined entity whose reference starts text ("&" already passed):
// its number in the list, and the one character that its replacement, a
// character reference, decodes to; -1 for none.
int predefined_entity(const char *text, char *produced) {
    // Byte by byte: each test stops at the text's terminator at the latest.
    switch (text[0]) {
    case 'l':
        *produced = '<';
        return text[1] == 't' && text[2] == ';' ? 0 : -1;
    case 'g':
        *produced = '>';
        return text[1] == 't' && text[2] == ';' ? 1 : -1;
    case 'q':
        *produced = '"';
        return text[1] == 'u' && text[2] == 'o' && text[3] == 't' && text[4] == ';' ? 2 : -1;
    case 'a':
        if (text[1] == 'p' && text[2] == 'o' && text[3] == 's' && text[4] == ';') {
            *produced = '\'';
            return 3;
        }
        *produced = '&';
        return text[1] == 'm' && text[2] == 'p' && text[3] == ';' ? 4 : -1;
    default:
        return -1;
    }
}

// Whether list begins with the predefined entities, the very strings every
// document starts with. Compared one pointer at a time: a shorter list ends
// (with its terminator) before anything past it is read.
bool starts_with_predefined(char **list) {
    if (!list) {
        return false;
    }
    for (size_t i = 0; i + 1 < default_entity_pointers; ++i) {
        if (list[i] != default_entities[i]) {
            return false;
        }
    }
    return true;
}

// Expanding a predefined entity inserts a character reference that the
// scan decodes at once. This does both steps in one, at the same cost and
// with the same room made, so the result and where it lives are the same.
bool expand_predefined(Decoding &d, int number, char produced) {
    // "&" and the name ("lt;", "gt;", "quot;", "apos;", "amp;"), and the
    // length of every replacement ("&#60;" and the like).
    static constexpr size_t reference_lengths[] = {4, 4, 6, 6, 5};
    constexpr size_t replacement_length = 5;
    size_t reference_length = reference_lengths[number];
    if (!make_room(d, reference_length, replacement_length)) {
        return false;
    }
    d.rest += reference_length;
    d.buffer[d.done++] = produced;
    assert_ordered(d);
    return true;
}

// Mode "*": no leading or trailing spaces, and runs of spaces become one.
void collapse_spaces(char *s) {
    char *out = s;
    for (const char *in = s; *in; ++in) {
        if (*in == ' ' && (out == s || out[-1] == ' ')) {
            continue;
        }
        *out++ = *in;
    }
    if (out > s && out[-1] == ' ') {
        --out;
    }
    *out = '\0';
}

// Eight bytes at a time: a word in which every byte is b, and whether any
// byte of x is zero, or below n (n at most 128). Both tests are exact.
constexpr uint64_t every_byte(unsigned char b) {
    return 0x0101010101010101ull * b;
}

constexpr bool any_zero_byte(uint64_t x) {
    return (x - every_byte(1)) & ~x & every_byte(0x80);
}

constexpr bool any_byte_below(uint64_t x, unsigned char n) {
    return (x - every_byte(n)) & ~x & every_byte(0x80);
}

// What a decoding mode does, chosen once per call from its mode character
// ("&" character content, "c" CDATA, " " and "*" attribute values, "%"
// entity values), so that the steps below read one row of settings instead
// of each asking the character.
struct decode_mode {
    bool references;     // character references, and entities as below, are decoded
    bool ampersand;      // "&" references expand entities
    bool percent;        // "%" references expand entities
    bool spaces;         // white space becomes a space
    bool collapse;       // then spaces are trimmed and runs of them made one
    uint32_t scan_stops; // where the main scan stops copying (chars.h)
    uint32_t decodes;    // the bytes without which a text decodes to itself
    // The same bytes for the word-at-a-time screen: each of `equal` (the
    // unused ones repeat the first), and, when below is not 0, every byte
    // below it. May let through words without such a byte, never miss one.
    unsigned char equal[3];
    unsigned char below;
};

constexpr decode_mode text_mode{
    true, true, false, false, false, cc_scan_reference, cc_decodes_text, {'&', '\r', '&'}, 0};
constexpr decode_mode cdata_mode{
    false, false, false, false, false, 0, cc_decodes_cdata, {'\r', '\r', '\r'}, 0};
constexpr decode_mode cdata_attribute_mode{
    true,    true, false, true, false, cc_scan_attribute, cc_decodes_attribute, {'&', '&', '&'},
    '\r' + 1};
constexpr decode_mode normalised_attribute_mode{
    true,    true, false, true, true, cc_scan_attribute, cc_decodes_normalised, {'&', ' ', '&'},
    '\r' + 1};
constexpr decode_mode parameter_mode{
    true, false, true, false, false, cc_scan_parameter, cc_decodes_parameter, {'%', '&', '\r'}, 0};
// Any other mode character: character references and line ends only.
constexpr decode_mode other_mode{
    true, false, false, false, false, cc_scan_reference, cc_decodes_text, {'&', '\r', '&'}, 0};

const decode_mode &mode_row(char mode) {
    switch (mode) {
    case '&':
        return text_mode;
    case 'c':
        return cdata_mode;
    case ' ':
        return cdata_attribute_mode;
    case '*':
        return normalised_attribute_mode;
    case '%':
        return parameter_mode;
    default:
        return other_mode;
    }
}

bool word_may_decode(uint64_t x, const decode_mode &mode) {
    return any_zero_byte(x ^ every_byte(mode.equal[0])) ||
           any_zero_byte(x ^ every_byte(mode.equal[1])) ||
           any_zero_byte(x ^ every_byte(mode.equal[2])) ||
           (mode.below && any_byte_below(x, mode.below));
}

// Whether s[0..length) holds a byte that decodes in the mode. Long texts
// are screened a word at a time; only words that may hold one, and the
// last few bytes, are looked at byte by byte.
bool holds_decoding_byte(const char *s, size_t length, const decode_mode &mode) {
    size_t i = 0;
    for (; i + sizeof(uint64_t) <= length; i += sizeof(uint64_t)) {
        uint64_t word;
        memcpy(&word, s + i, sizeof word);
        if (!word_may_decode(word, mode)) {
            continue;
        }
        for (size_t j = i; j < i + sizeof word; ++j) {
            if (is(s[j], mode.decodes)) {
                return true;
            }
        }
    }
    for (; i < length; ++i) {
        if (is(s[i], mode.decodes)) {
            return true;
        }
    }
    return false;
}

char *decode_all(char *s, size_t length, char **entities, const decode_mode &mode,
                 entity_index *index, parse_budget *budget) {
    length = normalise_line_ends(s, length);
    if (!mode.references) {
        return s;
    }

    // Decoding outside a parse pays from an allowance of its own.
    parse_budget own{};
    if (!budget) {
        own.memory_limit = no_memory_limit;
        own.expansion_limit =
            saturating_add(saturating_mul(length, expansion_per_input_byte), expansion_allowance);
        budget = &own;
    }
    Decoding d{s, length + 1, 0, 0, false, budget};

    // When the list begins with the predefined entities as every document
    // has them, a reference to one of those is found without a search.
    // Whether it does is settled at the first reference that needs to know.
    enum class known { no, yes, unasked } predefined_first = known::unasked;

    for (;;) {
        char *at = d.buffer + d.rest;
        char *run_end = at;
        while (!is(*run_end, mode.scan_stops)) {
            ++run_end;
        }
        if (run_end != at) {
            size_t run = static_cast<size_t>(run_end - at);
            if (d.done != d.rest) {
                memmove(d.buffer + d.done, at, run);
            }
            d.done += run;
            d.rest += run;
            at = run_end;
        }
        char c = *at;
        if (!c) {
            break;
        }
        if (c == '&' && at[1] == '#') {
            uint32_t value;
            size_t reference_length;
            if (read_char_ref(at, &value, &reference_length)) {
                // Always shorter than the reference, so it fits behind done.
                char bytes[utf8_longest];
                size_t n = utf8_encode(value, bytes);
                for (size_t i = 0; i < n; ++i) {
                    d.buffer[d.done + i] = bytes[i];
                }
                d.done += n;
                d.rest += reference_length;
                continue;
            }
        } else if ((c == '&' && mode.ampersand) || (c == '%' && mode.percent)) {
            char produced;
            int predefined = c == '&' && predefined_first != known::no
                                 ? predefined_entity(at + 1, &produced)
                                 : -1;
            if (predefined >= 0 && predefined_first == known::unasked) {
                predefined_first = starts_with_predefined(entities) ? known::yes : known::no;
            }
            if (predefined_first == known::no) {
                predefined = -1;
            }
            if (predefined >= 0) {
                if (expand_predefined(d, predefined, produced)) {
                    continue;
                }
                d.buffer[d.done++] = c;
                ++d.rest;
                continue;
            }
            ptrdiff_t i = find_entity(entities, at + 1, index);
            if (i >= 0 && entities[2 * i + 1] &&
                expand(d, reference_span(entities[2 * i]), entities[2 * i + 1])) {
                continue;
            }
        }
        d.buffer[d.done++] = mode.spaces && is_space(c) ? ' ' : c;
        ++d.rest;
    }
    d.buffer[d.done] = '\0';

    if (mode.collapse) {
        collapse_spaces(d.buffer);
    }
    if (d.owned) {
        // Hand over a block of exactly the text's size.
        if (char *fitted = static_cast<char *>(realloc(d.buffer, strlen(d.buffer) + 1))) {
            d.buffer = fitted;
        }
    }
    return d.buffer;
}

} // namespace

char *decode_text(char *s, char **entities, char mode, entity_index *index, parse_budget *budget) {
    if (!s) {
        return s;
    }
    size_t length;
    return decode_run(s, strlen(s), entities, mode, index, budget, &length);
}

char *decode_run(char *s, size_t length, char **entities, char mode, entity_index *index,
                 parse_budget *budget, size_t *decoded_length) {
    // Most texts and values hold nothing to decode; one look at each byte
    // finds that out, instead of the passes below.
    const decode_mode &row = mode_row(mode);
    if (!holds_decoding_byte(s, length, row)) {
        *decoded_length = length;
        return s;
    }
    char *decoded = decode_all(s, length, entities, row, index, budget);
    *decoded_length = strlen(decoded);
    return decoded;
}

extern "C" char *ezxml_decode(char *s, char **entities, char mode) {
    return decode_text(s, entities, mode, nullptr, nullptr);
}

bool entity_reaches(const char *name, const char *value, char **list, char marker,
                    entity_index *index) {
    if (!name || !value) {
        return false;
    }
    // When no text in the list refers to name, only value itself can.
    if (marker == '&' && index && entity_index_sync(index, list) &&
        !entity_index_mentions(index, name)) {
        for (const char *p = strchr(value, marker); p; p = strchr(p + 1, marker)) {
            if (starts_with(p + 1, name)) {
                return true;
            }
        }
        return false;
    }
    size_t pairs = 0;
    while (list && list[2 * pairs]) {
        ++pairs;
    }

    // Each pair's text is queued at most once, so the walk ends even on a
    // list that holds a cycle, and a text reached along many paths is read
    // only once.
    constexpr size_t local_capacity = 64;
    const char *local_queue[local_capacity + 1];
    bool local_seen[local_capacity];
    const char **queue = local_queue;
    bool *seen = local_seen;
    if (pairs > local_capacity) {
        queue = static_cast<const char **>(malloc((pairs + 1) * sizeof *queue));
        seen = static_cast<bool *>(malloc(pairs * sizeof *seen));
        if (!queue || !seen) {
            free(queue);
            free(seen);
            return true;
        }
    }
    for (size_t i = 0; i < pairs; ++i) {
        seen[i] = false;
    }

    bool reached = false;
    size_t queued = 0;
    queue[queued++] = value;
    while (queued && !reached) {
        const char *text = queue[--queued];
        for (const char *p = strchr(text, marker); p; p = strchr(p + 1, marker)) {
            if (starts_with(p + 1, name)) {
                reached = true;
                break;
            }
            ptrdiff_t i = find_entity(list, p + 1, index);
            if (i >= 0 && !seen[i] && list[2 * i + 1]) {
                seen[i] = true;
                queue[queued++] = list[2 * i + 1];
            }
        }
    }

    if (queue != local_queue) {
        free(queue);
        free(seen);
    }
    return reached;
}

extern "C" int ezxml_ent_ok(char *name, char *s, char **entities) {
    return entity_reaches(name, s, entities, '&') ? 0 : 1;
}
