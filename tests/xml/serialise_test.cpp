// Writing elements and documents out as XML text: escaping, attributes and
// declared defaults, instructions around the root, texts around children,
// and trees of any depth.
#include <gtest/gtest.h>

#include <cstdlib>
#include <malloc.h>
#include <cstring>
#include <string>
#include <vector>

#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

// The serialised text of an element; the heap string is released here.
std::string to_xml(ezxml *e) {
    char *s = ezxml_toxml(e);
    EXPECT_NE(s, nullptr);
    std::string out = s ? s : "";
    std::free(s);
    return out;
}

std::string to_xml(const std::string &document) {
    parsed_document d(document);
    EXPECT_EQ(d.error(), "") << document;
    return to_xml(d.root);
}

char *lit(const char *s) {
    return const_cast<char *>(s);
}

struct Output {
    char *buffer;
    size_t length = 0;
    size_t capacity = 8192;
    Output() : buffer(static_cast<char *>(std::malloc(8192))) { buffer[0] = '\0'; }
    ~Output() { std::free(buffer); }
    std::string text() const { return std::string(buffer, length); }
};

TEST(Escaping, TextAndAttributeModes) {
    const std::string input = "&<>\"'\n\t\r\xC3\xA9";
    Output text, attribute;
    ezxml_ampencode(input.c_str(), static_cast<size_t>(-1), &text.buffer, &text.length,
                    &text.capacity, 0);
    ezxml_ampencode(input.c_str(), static_cast<size_t>(-1), &attribute.buffer, &attribute.length,
                    &attribute.capacity, 1);
    EXPECT_EQ(text.text(), "&amp;&lt;&gt;\"'\n\t&#xD;\xC3\xA9");
    EXPECT_EQ(attribute.text(), "&amp;&lt;&gt;&quot;'&#xA;&#x9;&#xD;\xC3\xA9");
    EXPECT_EQ(std::strlen(text.buffer), text.length);
}

TEST(Escaping, LengthLimitsAndTheTerminatorEndsTheInput) {
    Output out;
    ezxml_ampencode("abc", 0, &out.buffer, &out.length, &out.capacity, 0);
    EXPECT_EQ(out.text(), "");
    ezxml_ampencode("a<cdef", 2, &out.buffer, &out.length, &out.capacity, 0);
    EXPECT_EQ(out.text(), "a&lt;");
    ezxml_ampencode("x\0yz", 4, &out.buffer, &out.length, &out.capacity, 0);
    EXPECT_EQ(out.text(), "a&lt;x");
    EXPECT_EQ(out.buffer[out.length], '\0');
}

TEST(Escaping, TheBufferGrowsAndKeepsWhatItHeld) {
    Output out;
    std::string input(10000, '&');
    char *returned =
        ezxml_ampencode(input.c_str(), input.size(), &out.buffer, &out.length, &out.capacity, 0);
    EXPECT_EQ(returned, out.buffer);
    EXPECT_EQ(out.length, 50000u);
    EXPECT_GE(out.capacity, 50001u);
    EXPECT_EQ(out.capacity % 8192, 0u);
    std::string expected;
    for (int i = 0; i < 10000; ++i) {
        expected += "&amp;";
    }
    EXPECT_EQ(out.text(), expected);
}

TEST(Elements, NullAndNamelessGiveTheEmptyString) {
    char *s = ezxml_toxml(nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    std::free(s);
    ezxml *root = ezxml_new(nullptr);
    EXPECT_EQ(to_xml(root), "");
    ezxml_free(root);
}

TEST(Elements, AlwaysWithStartAndEndTag) {
    ezxml *root = ezxml_new("a");
    EXPECT_EQ(to_xml(root), "\n<a></a>\n");
    ezxml_free(root);
}

TEST(Elements, TextsAroundChildrenAtTheirOffsets) {
    EXPECT_EQ(to_xml("<r>x<c/>y</r>"), "\n<r>x\n<c></c>\ny</r>\n");
    EXPECT_EQ(to_xml("<r>one<a>in a</a>two<b><c/>deep</b>three</r>"),
              "\n<r>one\n<a>in a</a>\ntwo\n<b>\n<c></c>\ndeep</b>\nthree</r>\n");
}

TEST(Elements, ChildrenAddedByHandStandByOffset) {
    ezxml *root = ezxml_new("r");
    ezxml_set_txt(root, "abcdef");
    ezxml_add_child(root, "late", 4);
    ezxml_add_child(root, "early", 1);
    ezxml_add_child(root, "past", 100); // past the end: at the end
    ezxml_add_child(root, "also", 4);
    EXPECT_EQ(check_tree(root), "");
    EXPECT_EQ(to_xml(root), "\n<r>a\n<early></early>\nbcd\n<late></late>\n\n<also></also>\nef"
                            "\n<past></past>\n</r>\n");
    ezxml_free(root);
}

TEST(Elements, EscapingOfTextsAndAttributeValues) {
    ezxml *root = ezxml_new("r");
    ezxml_set_txt(root, "\"q\" 'a' \n\t\r & <tag>");
    ezxml_set_attr(root, "v", "\"q\" 'a' \n\t\r & <tag>");
    EXPECT_EQ(to_xml(root), "\n<r v=\"&quot;q&quot; 'a' &#xA;&#x9;&#xD; &amp; &lt;tag&gt;\">"
                            "\"q\" 'a' \n\t&#xD; &amp; &lt;tag&gt;</r>\n");
    ezxml_free(root);
}

TEST(Attributes, OnlyTheFirstOfARepeatedName) {
    EXPECT_EQ(to_xml("<a x='1' y='2' x='3'/>"), "\n<a x=\"1\" y=\"2\"></a>\n");
}

TEST(Attributes, DeclaredDefaultsFollowTheElementsOwn) {
    std::string doc = "<!DOCTYPE r [<!ATTLIST r d CDATA 'dv' own CDATA 'no' n ID #IMPLIED "
                      "d CDATA 'second' t NMTOKEN ' t '>]>"
                      "<r own='yes'><r/><other/></r>";
    EXPECT_EQ(to_xml(doc), "\n<r own=\"yes\" d=\"dv\" t=\"t\">"
                           "\n<r d=\"dv\" own=\"no\" t=\"t\"></r>\n"
                           "\n<other></other>\n</r>\n");
}

TEST(Attributes, ManyOnOneTagKeepTheFirstOfEachName) {
    // 100,000 attributes on one tag, every name twice, and as many declared
    // defaults: the first-of-its-name rules must still hold.
    constexpr size_t names = 50000;
    std::vector<std::string> strings;
    strings.reserve(4 * names);
    for (size_t i = 0; i < names; ++i) {
        strings.push_back("a" + std::to_string(i));
    }
    for (size_t i = 0; i < names; ++i) {
        strings.push_back("v" + std::to_string(i));
    }
    std::string late = "late";

    ezxml *root = ezxml_new("r");
    char **list = static_cast<char **>(std::malloc((4 * names + 2) * sizeof(char *)));
    char *ownership = static_cast<char *>(std::malloc(2 * names + 1));
    for (size_t k = 0; k < 2 * names; ++k) {
        size_t i = k % names;
        list[2 * k] = strings[i].data();
        list[2 * k + 1] = k < names ? strings[names + i].data() : late.data();
        ownership[k] = ' ';
    }
    list[4 * names] = nullptr;
    list[4 * names + 1] = ownership;
    ownership[2 * names] = '\0';
    root->attributes = list;

    // Defaults: d0..d(n-1), each twice, and every own name once more.
    std::vector<std::string> declared;
    for (size_t i = 0; i < names; ++i) {
        declared.push_back("d" + std::to_string(i));
    }
    std::vector<char *> triples{lit("r")};
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < names; ++i) {
            triples.push_back(declared[i].data());
            triples.push_back(round == 0 ? lit("dv") : lit("again"));
            triples.push_back(lit(" "));
        }
    }
    for (size_t i = 0; i < names; ++i) {
        triples.push_back(strings[i].data());
        triples.push_back(lit("default"));
        triples.push_back(lit(" "));
    }
    triples.push_back(nullptr);
    char **table[] = {triples.data(), nullptr};

    Output out;
    ezxml_toxml_r(root, &out.buffer, &out.length, &out.capacity, 0, table);
    std::string expected = "\n<r";
    for (size_t i = 0; i < names; ++i) {
        expected += " a" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"";
    }
    for (size_t i = 0; i < names; ++i) {
        expected += " d" + std::to_string(i) + "=\"dv\"";
    }
    expected += "></r>\n";
    EXPECT_EQ(out.text(), expected);
    ezxml_free(root);
}

TEST(Instructions, BeforeAndAfterTheRootGroupedByTarget) {
    EXPECT_EQ(to_xml("<?a one?><?b two?><?a three?><?xml version='1.0'?><r/><?a four?><?c?>"),
              "<?a one?>\n<?a three?>\n<?b two?>\n\n<r></r>\n\n<?a four?>\n<?c?>");
}

TEST(Instructions, OnlyWithTheWholeDocument) {
    parsed_document d("<?p before?><r>t<c a='1'>inside</c>u</r><?p after?>");
    ASSERT_EQ(d.error(), "");
    ezxml *c = ezxml_child(d.root, "c");
    ezxml *parent = c->parent;
    ezxml *ordered = c->ordered;
    EXPECT_EQ(to_xml(c), "\n<c a=\"1\">inside</c>\n");
    EXPECT_EQ(c->parent, parent);
    EXPECT_EQ(c->ordered, ordered);
    EXPECT_EQ(check_tree(d.root), "");
}

TEST(Writer, ContinuesAlongTheOrderedChainWithTheParentsText) {
    parsed_document d("<r>a<x/>b<y/>c</r>");
    Output out;
    ezxml_toxml_r(ezxml_child(d.root, "x"), &out.buffer, &out.length, &out.capacity, 0,
                  d.doc()->default_attributes);
    EXPECT_EQ(out.text(), "a\n<x></x>\nb\n<y></y>\nc");
}

TEST(Writer, AStartPositionPastTheEndOfTheParentsTextReadsNothingBeyondIt) {
    ezxml *root = ezxml_new("r");
    // A heap text of exactly three bytes, so that reading past it is caught.
    char *text = static_cast<char *>(std::malloc(3));
    std::memcpy(text, "ab", 3);
    ezxml_set_txt(root, text);
    ezxml_set_flag(root, EZXML_TEXT_OWNED);
    ezxml *child = ezxml_add_child(root, "c", 1);
    for (size_t start : {size_t{3}, size_t{100}, static_cast<size_t>(-1)}) {
        Output out;
        ezxml_toxml_r(child, &out.buffer, &out.length, &out.capacity, start,
                      reinterpret_cast<char ***>(EZXML_NIL));
        EXPECT_EQ(out.text(), "\n<c></c>\nb") << start;
    }
    // A start between the text's end and the element's offset.
    ezxml *far = ezxml_add_child(root, "far", 10);
    Output beyond;
    ezxml_toxml_r(far, &beyond.buffer, &beyond.length, &beyond.capacity, 5,
                  reinterpret_cast<char ***>(EZXML_NIL));
    EXPECT_EQ(beyond.text(), "\n<far></far>\n");
    Output from_start;
    ezxml_toxml_r(child, &from_start.buffer, &from_start.length, &from_start.capacity, 0,
                  reinterpret_cast<char ***>(EZXML_NIL));
    EXPECT_EQ(from_start.text(), "a\n<c></c>\nb\n<far></far>\n");
    ezxml_free(root);
}

TEST(Writer, OffsetsPastTheEndOfTheTextMeanTheEnd) {
    ezxml *root = ezxml_new("r");
    char *text = static_cast<char *>(std::malloc(3));
    std::memcpy(text, "ab", 3);
    ezxml_set_txt(root, text);
    ezxml_set_flag(root, EZXML_TEXT_OWNED);
    ezxml_add_child(root, "c", 50);
    ezxml_add_child(root, "d", 60);
    EXPECT_EQ(to_xml(root), "\n<r>ab\n<c></c>\n\n<d></d>\n</r>\n");
    ezxml_free(root);
}

TEST(Output, LongerThanOneStepComesOutWhole) {
    std::string long_text(20000, 'x');
    ezxml *root = ezxml_new("r");
    ezxml_set_txt(root, long_text.c_str());
    for (int i = 0; i < 500; ++i) {
        ezxml_add_child(root, "child", 20000);
    }
    std::string expected = "\n<r>" + long_text;
    for (int i = 0; i < 500; ++i) {
        expected += "\n<child></child>\n";
    }
    expected += "</r>\n";
    char *s = ezxml_toxml(root);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s), expected);
    // Shrunk to the text: the buffer had grown to a multiple of 8192 bytes.
    EXPECT_GE(malloc_usable_size(s), expected.size() + 1);
    EXPECT_LT(malloc_usable_size(s), expected.size() + 64);
    std::free(s);
    ezxml_free(root);
}

TEST(Output, AMillionDeepTreeIsWrittenWithoutRecursion) {
    constexpr int depth = 1000000;
    ezxml *root = ezxml_new("e");
    ezxml *e = root;
    for (int i = 1; i < depth; ++i) {
        e = ezxml_add_child(e, "e", 0);
    }
    ezxml_set_txt(e, "leaf");
    char *s = ezxml_toxml(root);
    ASSERT_NE(s, nullptr);
    size_t length = std::strlen(s);
    // "\n<e>" on the way down, "</e>\n" on the way up, and the leaf's text.
    EXPECT_EQ(length, static_cast<size_t>(depth) * 9 + 4);
    EXPECT_EQ(std::string(s, 8), "\n<e>\n<e>");
    EXPECT_EQ(std::string(s + length - 10, 10), "</e>\n</e>\n");
    EXPECT_NE(std::strstr(s, "\n<e>leaf</e>\n"), nullptr);
    std::free(s);
    ezxml_free(root);
}

} // namespace
