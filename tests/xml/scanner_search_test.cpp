// The scanner's byte searches: the block-wise search (SIMD where the target
// has it) and the byte loop that finishes it must stop exactly where a
// plain loop over the bytes stops, for every class the scanner searches for, at
// every offset (modulo the 16-byte block too) and at the end of input; and
// no search may read past the end of its buffer (the buffers here are of
// exact size, so the address sanitizer catches a block read past them).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/parsed_document.h"
#include "xml/scanner.h"

namespace {

struct named_set {
    const char *name;
    char_class set;
};

// Every class that searches stop at.
const named_set all_sets[] = {
    {"tag_name_ends", cc_tag_name_end},
    {"attribute_name_ends", cc_attribute_name_end},
    {"closing_name_ends", cc_closing_name_end},
    {"doctype_delimiters", cc_doctype_delimiter},
    {"text_stops", cc_text_stop},
    {"double_quoted_stops", cc_double_quoted_stop},
    {"single_quoted_stops", cc_single_quoted_stop},
    {"scan_attribute", cc_scan_attribute},
    {"scan_parameter", cc_scan_parameter},
    {"scan_reference", cc_scan_reference},
};

bool member(char c, char_class set) {
    return c != '\0' && is(c, set);
}

// What the searches must return: the first position from p that holds a
// member, or end; a NUL before end is no member.
char *first_member(char *p, char *end, char_class set) {
    while (p < end && !member(*p, set)) {
        ++p;
    }
    return p;
}

// A buffer of exactly the given bytes and a NUL at its end, as the parser
// leaves its input.
struct exact_buffer {
    std::unique_ptr<char[]> bytes;
    size_t length; // without the NUL

    explicit exact_buffer(const std::string &text)
        : bytes(new char[text.size() + 1]), length(text.size()) {
        memcpy(bytes.get(), text.data(), text.size());
        bytes[text.size()] = '\0';
    }
    char *at(size_t i) const { return bytes.get() + i; }
    char *end() const { return bytes.get() + length; }
};

void expect_same_stops(const std::string &text, const named_set &named, const char *what) {
    exact_buffer buffer(text);
    char_class set = named.set;
    for (size_t from = 0; from <= buffer.length; ++from) {
        char *want = first_member(buffer.at(from), buffer.end(), set);
        char *got = scanning::find_any(buffer.at(from), buffer.end(), set);
        char *got_bytewise = scanning::find_any_bytewise(buffer.at(from), buffer.end(), set);
        ASSERT_EQ(got - buffer.at(0), want - buffer.at(0))
            << what << ", set " << named.name << ", from " << from << ", length " << text.size();
        ASSERT_EQ(got_bytewise - buffer.at(0), want - buffer.at(0))
            << what << ", byte loop, set " << named.name << ", from " << from;
    }
}

struct numbers {
    uint64_t state = 0x243F6A8885A308D3ull;
    uint32_t below(uint32_t n) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state >> 16) % n;
    }
};

TEST(ScannerSearch, RandomBuffersStopWhereAPlainLoopStops) {
    // Bytes drawn mostly from markup and text, with every other byte value
    // (control bytes just outside and inside the listed ranges, bytes above
    // 0x7F, NULs before the end) now and then.
    const std::string common = "aZ09 \t\n\r<>/=\"'&[]-.:_x";
    numbers r;
    for (const named_set &named : all_sets) {
        for (int round = 0; round < 300; ++round) {
            size_t length = r.below(90);
            std::string text;
            for (size_t i = 0; i < length; ++i) {
                if (r.below(4) == 0) {
                    text += static_cast<char>(r.below(256));
                } else if (r.below(8) == 0) {
                    text += 'q'; // runs without any member, for the blocks
                } else {
                    text += common[r.below(static_cast<uint32_t>(common.size()))];
                }
                if (r.below(3) == 0) { // long stretches of a non-member
                    text += std::string(r.below(40), 'm');
                }
            }
            expect_same_stops(text, named, "random");
        }
    }
}

TEST(ScannerSearch, StopsAtEveryOffsetOfTheBlock) {
    for (const named_set &named : all_sets) {
        char_class set = named.set;
        // One member of the set and one byte of each listed range edge.
        std::vector<char> stops;
        for (int c = 1; c < 256; ++c) {
            if (member(static_cast<char>(c), set)) {
                stops.push_back(static_cast<char>(c));
            }
        }
        ASSERT_FALSE(stops.empty()) << named.name;
        for (char stop : {stops.front(), stops.back()}) {
            for (size_t at = 0; at < 64; ++at) {
                std::string text(80, 'm');
                text[at] = stop;
                expect_same_stops(text, named, "one stop");
            }
        }
    }
}

TEST(ScannerSearch, ReachesTheEndWithoutAStop) {
    for (const named_set &named : all_sets) {
        for (size_t length = 0; length <= 70; ++length) {
            expect_same_stops(std::string(length, 'm'), named, "no stop");
            // Bytes just outside a listed range, which the blocks compare.
            expect_same_stops(std::string(length, '\x08'), named, "below the range");
            expect_same_stops(std::string(length, '!'), named, "above the space");
            expect_same_stops(std::string(length, '\x01'), named, "a control byte");
        }
    }
}

TEST(ScannerSearch, PassesOverANulBeforeTheEnd) {
    for (const named_set &named : all_sets) {
        for (size_t at = 0; at < 40; ++at) {
            std::string text(48, 'm');
            text[at] = '\0';
            expect_same_stops(text, named, "NUL");
        }
    }
}

// Through the parser: runs long enough to be searched by blocks, with what
// ends or decodes them near and past a block's edge.
TEST(ScannerSearch, LongRunsParseAsShortOnes) {
    for (size_t before : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 47u}) {
        std::string pad(before, 'x');
        std::string name = "n" + pad;
        std::string doc = "<" + name + " a" + pad + "=\"" + pad + "&amp;\t" + pad + "\" b='" + pad +
                          "'>" + pad + "&lt;\r\n" + pad + "</" + name + ">";
        parsed_document p(doc);
        ASSERT_EQ(p.error(), "") << doc;
        EXPECT_EQ(std::string(p.root->name), name);
        EXPECT_EQ(std::string(ezxml_attr(p.root, ("a" + pad).c_str())), pad + "& " + pad);
        EXPECT_EQ(std::string(ezxml_attr(p.root, "b")), pad);
        EXPECT_EQ(std::string(p.root->text), pad + "<\n" + pad);
    }
}

} // namespace
