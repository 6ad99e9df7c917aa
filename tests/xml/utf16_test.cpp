// UTF-16 input: conversion to UTF-8 and parsing of converted documents.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

// UTF-16 bytes for the code points, with a byte order mark in front.
std::string utf16(const std::u32string &text, bool big_endian) {
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    auto unit = [&](char32_t u) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
    };
    for (char32_t c : text) {
        if (c >= 0x10000) {
            c -= 0x10000;
            unit(0xD800 | (c >> 10));
            unit(0xDC00 | (c & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

struct conversion {
    std::string input;
    char *converted = nullptr;
    size_t length = 0;
    std::string output() const { return std::string(converted, length); }
    ~conversion() { free(converted); }
};

// Converts a copy of the input, checking the contract on the way.
void convert(conversion &c, const std::string &input) {
    c.input = input;
    std::vector<char> buffer(input.begin(), input.end());
    char *s = buffer.data();
    c.length = buffer.size();
    c.converted = ezxml_str2utf8(&s, &c.length);
    ASSERT_NE(c.converted, nullptr);
    EXPECT_EQ(s, c.converted);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), input) << "input changed";
}

TEST(Utf16Conversion, LittleAndBigEndianText) {
    for (bool big : {false, true}) {
        conversion c;
        convert(c, utf16(U"<a>x</a>", big));
        EXPECT_EQ(c.output(), "<a>x</a>");
    }
}

TEST(Utf16Conversion, MultiByteCharacters) {
    conversion c;
    convert(c, utf16(U"\u00e9\u20ac\U0001F600A", false));
    EXPECT_EQ(c.output(), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"
                          "A");
}

TEST(Utf16Conversion, SurrogatePairBigEndian) {
    conversion c;
    convert(c, std::string("\xFE\xFF\xD8\x3D\xDE\x00", 6));
    EXPECT_EQ(c.output(), "\xF0\x9F\x98\x80");
}

TEST(Utf16Conversion, SecondByteOfTheMarkIsNotExamined) {
    conversion c;
    convert(c, std::string("\xFE\x00\x00\x41", 4));
    EXPECT_EQ(c.output(), "A");
}

TEST(Utf16Conversion, LoneSurrogateAtTheEnd) {
    conversion c;
    convert(c, std::string("\xFE\xFF\x00\x41\xD8\x00", 6));
    EXPECT_EQ(c.output(), "A\xED\xA0\x80");
}

TEST(Utf16Conversion, SurrogateTakesWhateverUnitFollows) {
    // Not checked for being a low surrogate: D800 0041 is combined.
    conversion c;
    convert(c, std::string("\xFE\xFF\xD8\x00\x00\x41", 6));
    uint32_t combined = (0 << 10 | 0x41) + 0x10000;
    std::string expected{static_cast<char>(0xF0 | (combined >> 18)),
                         static_cast<char>(0x80 | ((combined >> 12) & 0x3F)),
                         static_cast<char>(0x80 | ((combined >> 6) & 0x3F)),
                         static_cast<char>(0x80 | (combined & 0x3F))};
    EXPECT_EQ(c.output(), expected);
}

TEST(Utf16Conversion, OddByteAtTheEndIsIgnored) {
    conversion c;
    convert(c, std::string("\xFF\xFE\x41\x00\x42", 5));
    EXPECT_EQ(c.output(), "A");
}

TEST(Utf16Conversion, MarkAloneConvertsToNothingButAValidBuffer) {
    for (const std::string &input :
         {std::string("\xFF\xFE", 2), std::string("\xFE\xFF\x41", 3), std::string("\xFF", 1)}) {
        conversion c;
        convert(c, input);
        EXPECT_EQ(c.length, 0u);
    }
}

TEST(Utf16Conversion, OutputGrowsBeyondTheInputSize) {
    // Three UTF-8 bytes per two input bytes: the output outgrows its start.
    std::u32string text(20000, U'\u20ac');
    conversion c;
    convert(c, utf16(text, true));
    ASSERT_EQ(c.length, 60000u);
    for (size_t i = 0; i < c.length; i += 3) {
        ASSERT_EQ(c.output().substr(i, 3), "\xE2\x82\xAC") << i;
    }
}

TEST(Utf16Conversion, OtherInputIsLeftAlone) {
    for (const std::string &input :
         {std::string("<a/>"), std::string("\xEF\xBB\xBF<a/>"), std::string("\x00\x3C", 2)}) {
        std::vector<char> buffer(input.begin(), input.end());
        char *s = buffer.data();
        size_t length = buffer.size();
        EXPECT_EQ(ezxml_str2utf8(&s, &length), nullptr);
        EXPECT_EQ(s, buffer.data());
        EXPECT_EQ(length, input.size());
    }
}

TEST(Utf16Parsing, ParsesLikeTheSameTextInUtf8) {
    std::u32string text = U"<r a='\u00e9'>\n<b>\u20ac \U0001F600</b>x<c/>y</r>";
    std::string utf8 = "<r a='\xC3\xA9'>\n<b>\xE2\x82\xAC \xF0\x9F\x98\x80</b>x<c/>y</r>";
    parsed_document reference(utf8);
    ASSERT_EQ(reference.error(), "");
    for (bool big : {false, true}) {
        parsed_document p(utf16(text, big));
        ASSERT_EQ(p.error(), "");
        EXPECT_EQ(describe(p.root), describe(reference.root));
        EXPECT_EQ(check_tree(p.root), "");
        ASSERT_NE(p.doc()->utf8_copy, nullptr);
        EXPECT_EQ(p.doc()->work_start, p.doc()->utf8_copy);
        EXPECT_EQ(p.doc()->work_end, p.doc()->utf8_copy + utf8.size());
        EXPECT_EQ(p.doc()->source, p.buffer.data());
        EXPECT_FALSE(p.inside_buffer(p.root->name));
    }
}

TEST(Utf16Parsing, ErrorLinesCountTheConvertedText) {
    parsed_document p(utf16(U"<r>\n\u00e9\n<b></c></r>", false));
    EXPECT_EQ(p.error(), "[error near line 3]: unexpected closing tag </c>");
}

TEST(Utf16Parsing, MarkAloneIsAnEmptyDocument) {
    for (const std::string &input :
         {std::string("\xFF\xFE", 2), std::string("\xFE\xFF\x3C", 3), std::string("\xFE", 1)}) {
        parsed_document p(input);
        EXPECT_EQ(p.error(), "[error near line 1]: root tag missing");
        EXPECT_EQ(p.root->name, nullptr);
    }
}

TEST(Utf16Parsing, TagsOnlyParserConvertsToo) {
    parsed_document p(utf16(U"<r><b>\u00e9</b></r>", true), parser_kind::tags_only);
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(ezxml_child(p.root, "b")->text, "\xC3\xA9");
}

} // namespace
