// Documents nested far deeper than any call stack could follow: parsing,
// serialising and freeing must not recurse along the depth.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

constexpr size_t million = 1000000;

std::string nested(size_t depth, const std::string &open_text, const std::string &close_text) {
    std::string text;
    text.reserve(depth * (7 + open_text.size() + close_text.size()));
    for (size_t i = 0; i < depth; ++i) {
        text += "<a>" + open_text;
    }
    for (size_t i = 0; i < depth; ++i) {
        text += close_text + "</a>";
    }
    return text;
}

size_t depth_of(const ezxml *root) {
    size_t depth = 0;
    for (const ezxml *e = root; e; e = e->child) {
        ++depth;
    }
    return depth;
}

size_t count_of(std::string_view haystack, std::string_view needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != haystack.npos;
         at = haystack.find(needle, at + needle.size())) {
        ++n;
    }
    return n;
}

TEST(DeepNesting, MillionLevelsParseAndFree) {
    parsed_document p(nested(million, "", ""));
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(depth_of(p.root), million);
    EXPECT_EQ(p.doc()->current, nullptr);
}

TEST(DeepNesting, MillionLevelsKeepWholeChains) {
    parsed_document p(nested(million, "", ""));
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(check_chains(p.root), "");
}

TEST(DeepNesting, MillionLevelsWithTagsOnlyParser) {
    parsed_document p(nested(million, "", ""), parser_kind::tags_only);
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(depth_of(p.root), million);
}

TEST(DeepNesting, UnclosedMillionLevelsFreeToo) {
    std::string text = nested(million, "", "").substr(0, 3 * million);
    parsed_document p(text);
    EXPECT_EQ(p.error(), "[error near line 1]: unclosed tag <a>");
    EXPECT_EQ(depth_of(p.root), million);
}

TEST(DeepNesting, InterruptedTextAtEveryLevel) {
    const size_t depth = 200000;
    parsed_document p(nested(depth, "x", "y"));
    ASSERT_EQ(p.error(), "");
    size_t levels = 0;
    for (const ezxml *e = p.root; e; e = e->child, ++levels) {
        bool innermost = !e->child;
        ASSERT_STREQ(e->text, "xy") << levels;
        ASSERT_EQ(static_cast<bool>(e->flags & EZXML_TEXT_OWNED), !innermost) << levels;
        if (e != p.root) {
            ASSERT_EQ(e->offset, 1u);
        }
    }
    EXPECT_EQ(levels, depth);
}

TEST(DeepNesting, MillionLevelsSerialise) {
    parsed_document p(nested(million, "", ""));
    ASSERT_EQ(p.error(), "");
    char *xml = ezxml_toxml(p.root);
    ASSERT_NE(xml, nullptr);
    EXPECT_EQ(count_of(xml, "<a>"), million);
    EXPECT_EQ(count_of(xml, "</a>"), million);
    free(xml);
}

} // namespace
