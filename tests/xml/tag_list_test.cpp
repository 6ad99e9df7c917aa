// The tags-only parser: plain elements, text and comments, nothing else.
#include <gtest/gtest.h>

#include <string>

#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

std::string at(int line, const std::string &message) {
    return "[error near line " + std::to_string(line) + "]: " + message;
}

void expect_no_attributes(const ezxml *root) {
    std::vector<const ezxml *> pending{root};
    while (!pending.empty()) {
        const ezxml *e = pending.back();
        pending.pop_back();
        EXPECT_EQ(e->attributes, EZXML_NIL) << e->name;
        for (const ezxml *c = e->child; c; c = c->ordered) {
            pending.push_back(c);
        }
    }
}

TEST(TagList, SameTreeAsTheFullParser) {
    const std::string text = "<!-- head -->\n<r>\n  <a>one<b>two</b>three</a>\n  <!-- c -->"
                             "<a/><c>&lt;&#65;&amp;</c>\n</r>\n<!-- tail -->";
    parsed_document full(text);
    parsed_document tags(text, parser_kind::tags_only);
    ASSERT_EQ(full.error(), "");
    ASSERT_EQ(tags.error(), "");
    EXPECT_EQ(describe(tags.root), describe(full.root));
    EXPECT_EQ(check_tree(tags.root), "");
    expect_no_attributes(tags.root);
}

TEST(TagList, DocumentRecordAsTheFullParserSetsIt) {
    parsed_document p("<r/>", parser_kind::tags_only);
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(p.doc()->source, p.buffer.data());
    EXPECT_EQ(p.doc()->source_length, 0u);
    EXPECT_EQ(p.doc()->work_start, p.buffer.data());
    EXPECT_EQ(p.doc()->work_end, p.buffer.data() + p.buffer.size());
    EXPECT_EQ(p.doc()->utf8_copy, nullptr);
    EXPECT_EQ(p.doc()->instructions[0], nullptr);
    EXPECT_EQ(p.doc()->default_attributes[0], nullptr);
}

TEST(TagList, AttributeIsMissingGreaterThanOnItsLine) {
    parsed_document p("<r>\n\n<a b='1'/></r>", parser_kind::tags_only);
    EXPECT_EQ(p.error(), at(3, "missing >"));
    parsed_document q("<r x></r>", parser_kind::tags_only);
    EXPECT_EQ(q.error(), at(1, "missing >"));
}

TEST(TagList, EmptyElementWithBlankBeforeSlash) {
    parsed_document p("<r><a /><b\n/></r>", parser_kind::tags_only);
    ASSERT_EQ(p.error(), "");
    EXPECT_NE(ezxml_child(p.root, "a"), nullptr);
    EXPECT_NE(ezxml_child(p.root, "b"), nullptr);
}

TEST(TagList, OtherMarkupIsUnexpected) {
    for (const char *text : {"<r><![CDATA[x]]></r>", "<!DOCTYPE r><r/>",
                             "<?xml version='1.0'?><r/>", "<r><?pi?></r>", "<r>< a/></r>"}) {
        parsed_document p(text, parser_kind::tags_only);
        EXPECT_EQ(p.error(), at(1, "unexpected <")) << text;
    }
}

TEST(TagList, OnlyTheDefaultEntitiesAreKnown) {
    parsed_document p("<r>&quot;&apos;&gt;&#x41;&nbsp;</r>", parser_kind::tags_only);
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "\"'>A&nbsp;");
}

TEST(TagList, LastByteClosingTheRootParses) {
    parsed_document p("<r><a>x</a></r>", parser_kind::tags_only);
    EXPECT_EQ(p.error(), "");
    parsed_document q("<r><a>x</a></r", parser_kind::tags_only);
    EXPECT_EQ(q.error(), at(1, "missing >"));
}

TEST(TagList, SharedMessages) {
    struct {
        const char *text;
        std::string error;
    } cases[] = {
        {"", at(1, "root tag missing")},
        {"text only", at(1, "root tag missing")},
        {"<a/><b/>", at(1, "markup outside of root element")},
        {"<a><b></a>", at(1, "unexpected closing tag </a>")},
        {"<a><!-- x -- --></a>", at(1, "unclosed <!--")},
        {"<a>\n<b>", at(2, "unclosed tag <b>")},
        {"<a/x>", at(1, "missing >")},
    };
    for (const auto &c : cases) {
        parsed_document p(c.text, parser_kind::tags_only);
        EXPECT_EQ(p.error(), c.error) << c.text;
    }
}

TEST(TagList, AfterTheRootCommentsAreFineAndTextIgnored) {
    parsed_document p("<r/>text<!-- c -->more", parser_kind::tags_only);
    EXPECT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "");
}

} // namespace
