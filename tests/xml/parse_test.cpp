// Parsing well-formed and lenient documents: elements, attributes, text,
// CDATA, comments, instructions and document type declarations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

std::string ownership_of(const ezxml *e) {
    char **a = e->attributes;
    size_t n = 0;
    while (a[n]) {
        n += 2;
    }
    return a[n + 1];
}

TEST(ParseElements, NestedTreeWithChainsAndNoError) {
    parsed_document p("<config><a><b/></a><c/><a/></config>");
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(check_tree(p.root), "");
    EXPECT_STREQ(p.root->name, "config");
    ezxml *a = ezxml_child(p.root, "a");
    ASSERT_NE(a, nullptr);
    EXPECT_NE(ezxml_child(a, "b"), nullptr);
    ASSERT_NE(a->next, nullptr);
    EXPECT_EQ(a->next->child, nullptr);
    EXPECT_EQ(p.root->child, a);
    EXPECT_STREQ(a->ordered->name, "c");
    EXPECT_EQ(a->ordered->ordered, a->next);
    EXPECT_EQ(p.doc()->current, nullptr);
}

TEST(ParseElements, RecordsSourceAndWorkArea) {
    parsed_document p("<a/>");
    EXPECT_EQ(p.doc()->source, p.buffer.data());
    EXPECT_EQ(p.doc()->source_length, 0u);
    EXPECT_EQ(p.doc()->utf8_copy, nullptr);
    EXPECT_EQ(p.doc()->work_start, p.buffer.data());
    EXPECT_EQ(p.doc()->work_end, p.buffer.data() + p.buffer.size());
    EXPECT_TRUE(p.inside_buffer(p.root->name));
}

TEST(ParseElements, NamesMayStartWithColonOrUnderscore) {
    parsed_document p("<_r><:x/><y.z-1/></_r>");
    ASSERT_EQ(p.error(), "");
    EXPECT_NE(ezxml_child(p.root, ":x"), nullptr);
    EXPECT_NE(ezxml_child(p.root, "y.z-1"), nullptr);
}

TEST(ParseElements, EverythingAfterATagIsStillRead) {
    // Each '>' becomes a NUL; none of them may be taken for the end.
    parsed_document p("<a><b></b><c/>t<d>u</d></a>");
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(describe(p.root), "a{}\"t\"@0[b{}\"\"@0[]c{}\"\"@0[]d{}\"u\"@1[]]");
}

TEST(ParseElements, LastByteClosingTheRootParses) {
    std::string text = "<a><b/></a>";
    parsed_document p(text);
    EXPECT_EQ(p.error(), "");
    EXPECT_EQ(p.doc()->current, nullptr);
}

TEST(ParseElements, EmptyRootFollowedByCommentInstructionOrText) {
    for (const char *text :
         {"<a/><!-- c -->", "<a/><?pi x?>", "<a/>trailing text<!--x-->", "<a/>\n", "<a></a>  "}) {
        parsed_document p(text);
        EXPECT_EQ(p.error(), "") << text;
        EXPECT_STREQ(p.root->text, "") << text;
        EXPECT_EQ(p.root->child, nullptr) << text;
    }
}

TEST(ParseElements, TextAndByteOrderMarkBeforeTheRootAreIgnored) {
    parsed_document p("\xEF\xBB\xBFjunk\n<a>x</a>dropped");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->name, "a");
    EXPECT_STREQ(p.root->text, "x");
}

TEST(ParseElements, ClosingTagWithTrailingWordSwallowsItsFirstCharacter) {
    parsed_document p("<r><a></a xyz>rest</r>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "yz>rest");
    EXPECT_STREQ(ezxml_child(p.root, "a")->text, "");
}

TEST(ParseElements, ClosingTagMayHoldWhiteSpaceBeforeItsEnd) {
    parsed_document p("<r><a>x</a \n\t>y</r\n>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "y");
    EXPECT_STREQ(ezxml_child(p.root, "a")->text, "x");
}

TEST(ParseElements, ManySiblingsKeepOrderAndOffsets) {
    std::string text = "<r>";
    for (int i = 0; i < 2000; ++i) {
        text += "t<e" + std::to_string(i % 3) + "/>";
    }
    text += "</r>";
    parsed_document p(text);
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(check_tree(p.root), "");
    EXPECT_EQ(std::string(p.root->text), std::string(2000, 't'));
    size_t i = 0;
    for (ezxml *c = p.root->child; c; c = c->ordered, ++i) {
        EXPECT_EQ(c->offset, i + 1);
        EXPECT_EQ(std::string(c->name), "e" + std::to_string(i % 3));
    }
    EXPECT_EQ(i, 2000u);
}

// Parents with one name, a few names and many names among their children,
// nested in each other, in random order with repeats: every parent's chains
// come out as linking each child the general way (ezxml_add_child) makes
// them.
TEST(ParseElements, ChildrenOfFewAndManyNamesLinkAsAddedOneByOne) {
    unsigned state = 2463534242u;
    auto below = [&](unsigned n) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state % n;
    };
    for (unsigned names : {1u, 2u, 7u, 8u, 9u, 30u}) {
        std::string text = "<r>";
        ezxml *twin = ezxml_new("r");
        std::vector<std::string> kept; // names of the twin's elements
        kept.reserve(4000);
        for (int i = 0; i < 400; ++i) {
            std::string name = "n" + std::to_string(below(names));
            kept.push_back(name);
            ezxml *child = ezxml_add_child(twin, kept.back().c_str(), 0);
            text += "<" + name + ">";
            for (unsigned k = below(4); k > 0; --k) {
                kept.push_back("m" + std::to_string(below(names)));
                ezxml_add_child(child, kept.back().c_str(), 0);
                text += "<" + kept.back() + "/>";
            }
            text += "</" + name + ">";
        }
        text += "</r>";
        parsed_document p(text);
        ASSERT_EQ(p.error(), "") << names;
        EXPECT_EQ(check_tree(p.root), "") << names;
        EXPECT_EQ(check_chains(twin), "") << names;

        // Same shape along every chain, element for element.
        std::vector<std::pair<const ezxml *, const ezxml *>> pending{{p.root, twin}};
        while (!pending.empty()) {
            auto [parsed, built] = pending.back();
            pending.pop_back();
            const ezxml *a = parsed->child;
            const ezxml *b = built->child;
            for (; a && b; a = a->ordered, b = b->ordered) {
                ASSERT_STREQ(a->name, b->name) << names;
                EXPECT_EQ(a->next != nullptr, b->next != nullptr) << names;
                pending.push_back({a, b});
            }
            EXPECT_EQ(a, nullptr);
            EXPECT_EQ(b, nullptr);
            std::string parsed_firsts, built_firsts;
            for (a = parsed->child; a; a = a->sibling) {
                parsed_firsts += std::string(a->name) + " ";
            }
            for (b = built->child; b; b = b->sibling) {
                built_firsts += std::string(b->name) + " ";
            }
            EXPECT_EQ(parsed_firsts, built_firsts) << names;
            for (a = parsed->child, b = built->child; a && b; a = a->sibling, b = b->sibling) {
                size_t parsed_count = 0, built_count = 0;
                for (const ezxml *e = a; e; e = e->next) {
                    ++parsed_count;
                }
                for (const ezxml *e = b; e; e = e->next) {
                    ++built_count;
                }
                EXPECT_EQ(parsed_count, built_count) << a->name;
            }
        }
        ezxml_free(twin);
    }
}

TEST(ParseAttributes, QuotedValuesInOrder) {
    parsed_document p("<a x=\"1\" y='two' z = \"3\"\tw\n=\n'4'/>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(ezxml_attr(p.root, "x"), "1");
    EXPECT_STREQ(ezxml_attr(p.root, "y"), "two");
    EXPECT_STREQ(ezxml_attr(p.root, "z"), "3");
    EXPECT_STREQ(ezxml_attr(p.root, "w"), "4");
    char **a = p.root->attributes;
    EXPECT_STREQ(a[0], "x");
    EXPECT_STREQ(a[6], "w");
    EXPECT_EQ(a[8], nullptr);
    EXPECT_EQ(ownership_of(p.root), "    ");
    EXPECT_EQ(check_attribute_list(a), "");
    EXPECT_TRUE(p.inside_buffer(a[1]));
}

TEST(ParseAttributes, UnquotedWordBecomesASecondAttribute) {
    parsed_document p("<a b=c>t</a>");
    ASSERT_EQ(p.error(), "");
    char **a = p.root->attributes;
    EXPECT_STREQ(a[0], "b");
    EXPECT_STREQ(a[1], "");
    EXPECT_STREQ(a[2], "c");
    EXPECT_STREQ(a[3], "");
    EXPECT_EQ(a[4], nullptr);
    EXPECT_STREQ(p.root->text, "t");
}

TEST(ParseAttributes, NoBlankBetweenQuotedAttributes) {
    parsed_document p("<a x=\"1\"y='2'z=\"3\"/>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(ezxml_attr(p.root, "x"), "1");
    EXPECT_STREQ(ezxml_attr(p.root, "y"), "2");
    EXPECT_STREQ(ezxml_attr(p.root, "z"), "3");
}

TEST(ParseAttributes, NamesWithoutValues) {
    parsed_document p("<a b c/>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(ezxml_attr(p.root, "b"), "");
    EXPECT_STREQ(ezxml_attr(p.root, "c"), "");
    parsed_document q("<a b>x</a>");
    ASSERT_EQ(q.error(), "");
    EXPECT_STREQ(ezxml_attr(q.root, "b"), "");
    EXPECT_STREQ(q.root->text, "x");
}

TEST(ParseAttributes, GreaterThanInsideQuotesBelongsToTheValue) {
    parsed_document p("<a v=\"x>y\" w='/>'><b/></a>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(ezxml_attr(p.root, "v"), "x>y");
    EXPECT_STREQ(ezxml_attr(p.root, "w"), "/>");
    EXPECT_NE(ezxml_child(p.root, "b"), nullptr);
}

TEST(ParseAttributes, ValuesAreDecodedAndExpansionsOwned) {
    parsed_document p("<a s=\"x&#65;y\" e=\"&lt;&amp;\" w=\"a\tb\nc\"/>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(ezxml_attr(p.root, "s"), "xAy");
    EXPECT_STREQ(ezxml_attr(p.root, "e"), "<&");
    EXPECT_STREQ(ezxml_attr(p.root, "w"), "a b c");
    // Only the value that grew while expanding lives outside the buffer.
    EXPECT_EQ(ownership_of(p.root), " @ ");
    EXPECT_FALSE(p.inside_buffer(ezxml_attr(p.root, "e")));
    EXPECT_EQ(check_attribute_list(p.root->attributes), "");
}

TEST(ParseAttributes, RepeatedNameIsKeptTwiceAndFirstWins) {
    parsed_document p("<a k='1' k='2'/>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(ezxml_attr(p.root, "k"), "1");
    EXPECT_STREQ(p.root->attributes[3], "2");
}

TEST(ParseAttributes, ManyAttributesOnOneTag) {
    std::string text = "<a";
    for (int i = 0; i < 5000; ++i) {
        text += " n" + std::to_string(i) + "='" + (i % 7 == 0 ? "&gt;" : "v") + "'";
    }
    text += "/>";
    parsed_document p(text);
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(check_attribute_list(p.root->attributes), "");
    std::string owners = ownership_of(p.root);
    ASSERT_EQ(owners.size(), 5000u);
    for (int i = 0; i < 5000; ++i) {
        ASSERT_STREQ(p.root->attributes[2 * i], ("n" + std::to_string(i)).c_str());
        ASSERT_STREQ(p.root->attributes[2 * i + 1], i % 7 == 0 ? ">" : "v");
        ASSERT_EQ(owners[i], i % 7 == 0 ? '@' : ' ');
    }
}

TEST(ParseAttributes, DeclaredNonCdataValueIsNormalised) {
    parsed_document p("<!DOCTYPE a [<!ATTLIST a b NMTOKENS #IMPLIED c CDATA #IMPLIED>]>"
                      "<a b='  x   y ' c='  x   y '/>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(ezxml_attr(p.root, "b"), "x y");
    EXPECT_STREQ(ezxml_attr(p.root, "c"), "  x   y ");
}

TEST(ParseText, InterruptedTextIsJoinedAndOffsetsKept) {
    parsed_document p("<a>x<b/>y</a>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "xy");
    ezxml *b = ezxml_child(p.root, "b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->offset, 1u);
    EXPECT_TRUE(p.root->flags & EZXML_TEXT_OWNED);
    EXPECT_FALSE(p.inside_buffer(p.root->text));
}

TEST(ParseText, SingleRunPointsIntoTheBufferAndIsNotOwned) {
    parsed_document p("<a>plain text</a>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "plain text");
    EXPECT_FALSE(p.root->flags & EZXML_TEXT_OWNED);
    EXPECT_TRUE(p.inside_buffer(p.root->text));
}

TEST(ParseText, ExpandedRunIsOwned) {
    parsed_document p("<a>1 &lt; 2</a>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "1 < 2");
    EXPECT_TRUE(p.root->flags & EZXML_TEXT_OWNED);
}

TEST(ParseText, NestedTextsAndOffsets) {
    parsed_document p("<a>1<b>2<c>5</c>3</b>4<d/></a>");
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(describe(p.root), "a{}\"14\"@0[b{}\"23\"@1[c{}\"5\"@1[]]d{}\"\"@2[]]");
    EXPECT_EQ(check_tree(p.root), "");
}

TEST(ParseText, TextGrowingAcrossManyRuns) {
    std::string text = "<r>", expected;
    for (int i = 0; i < 3000; ++i) {
        std::string run = "run" + std::to_string(i) + (i % 5 == 0 ? "&amp;" : "");
        text += run + "<c>in" + std::to_string(i) + "</c>";
        expected += "run" + std::to_string(i) + (i % 5 == 0 ? "&" : "");
    }
    text += "tail</r>";
    expected += "tail";
    parsed_document p(text);
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(std::string(p.root->text), expected);
    size_t offset = 0, i = 0;
    for (ezxml *c = p.root->child; c; c = c->ordered, ++i) {
        offset += ("run" + std::to_string(i)).size() + (i % 5 == 0 ? 1 : 0);
        ASSERT_EQ(c->offset, offset);
        ASSERT_EQ(std::string(c->text), "in" + std::to_string(i));
    }
}

TEST(ParseText, CdataIsTakenLiterally) {
    parsed_document p("<a>x<![CDATA[<b>&amp;</b>]]>y<![CDATA[]]></a>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "x<b>&amp;</b>y");
    EXPECT_EQ(p.root->child, nullptr);
}

TEST(ParseText, CdataAloneStaysInTheBuffer) {
    parsed_document p("<a><![CDATA[a]b]]c]]></a>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "a]b]]c");
    EXPECT_TRUE(p.inside_buffer(p.root->text));
}

TEST(ParseText, CommentsAreDiscarded) {
    parsed_document p("<!-- before --><a>x<!-- <b/> -->y<!---->z</a><!-- after -->");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "xyz");
    EXPECT_EQ(p.root->child, nullptr);
}

TEST(ParseText, NulByteInTheInputEndsIt) {
    std::string text("<a>x</a>\0<b/>", 13);
    parsed_document p(text);
    EXPECT_EQ(p.error(), "");
    std::string cut("<a>x\0</a>", 9);
    parsed_document q(cut);
    EXPECT_EQ(q.error(), "[error near line 1]: unclosed tag <a>");
}

// An element whose text was decoded into an empty block and then receives a
// run from the buffer: the block must be released and the flag dropped, or
// freeing the document would free a pointer into the buffer.
TEST(CharContent, EmptyOwnedTextIsReleasedBeforeTakingABufferRun) {
    ezxml *root = ezxml_new("a");
    auto *doc = reinterpret_cast<ezxml_document *>(root);
    ezxml_set_txt(root, strdup(""));
    ezxml_set_flag(root, EZXML_TEXT_OWNED);
    char run[] = "words<";
    ezxml_char_content(doc, run, 5, '&');
    EXPECT_EQ(root->text, run);
    EXPECT_STREQ(root->text, "words");
    EXPECT_FALSE(root->flags & EZXML_TEXT_OWNED);
    ezxml_free(root);
}

TEST(CharContent, EmptyOwnedTextFromAnEntityInAParse) {
    // &e; grows into "&z;&z;" (a block) and shrinks to nothing.
    parsed_document p("<!DOCTYPE a [<!ENTITY z ''><!ENTITY e '&z;&z;'>]>"
                      "<a>&e;<b/>tail</a>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "tail");
    EXPECT_TRUE(p.inside_buffer(p.root->text));
    EXPECT_FALSE(p.root->flags & EZXML_TEXT_OWNED);
}

TEST(CharContent, AppendsToTextItDoesNotOwnByCopying) {
    ezxml *root = ezxml_new("a");
    auto *doc = reinterpret_cast<ezxml_document *>(root);
    char first[] = "one<", second[] = "two<";
    ezxml_char_content(doc, first, 3, '&');
    EXPECT_EQ(root->text, first);
    ezxml_char_content(doc, second, 3, '&');
    EXPECT_STREQ(root->text, "onetwo");
    EXPECT_TRUE(root->flags & EZXML_TEXT_OWNED);
    EXPECT_STREQ(first, "one"); // the run was terminated in place
    ezxml_free(root);
}

TEST(CharContent, IgnoredWithoutAnOpenNamedElementOrLength) {
    ezxml *root = ezxml_new(nullptr);
    auto *doc = reinterpret_cast<ezxml_document *>(root);
    char run[] = "x<";
    ezxml_char_content(doc, run, 1, '&');
    EXPECT_STREQ(root->text, "");
    EXPECT_EQ(run[1], '<'); // nothing written
    ezxml_free(root);
}

TEST(OpenAndCloseTag, MoveTheCursorAndReportMismatches) {
    ezxml *root = ezxml_new(nullptr);
    auto *doc = reinterpret_cast<ezxml_document *>(root);
    char a[] = "a", b[] = "b", other[] = "x";
    ezxml_open_tag(doc, a, EZXML_NIL);
    EXPECT_EQ(root->name, a);
    EXPECT_EQ(doc->current, root);
    ezxml *child = ezxml_open_tag(doc, b, EZXML_NIL);
    EXPECT_EQ(doc->current, child);
    EXPECT_EQ(child->parent, root);
    EXPECT_EQ(ezxml_close_tag(doc, other, nullptr), root);
    EXPECT_EQ(std::string(ezxml_error(root)), "[error near line 1]: unexpected closing tag </x>");
    EXPECT_EQ(ezxml_close_tag(doc, b, nullptr), nullptr);
    EXPECT_EQ(ezxml_close_tag(doc, a, nullptr), nullptr);
    EXPECT_EQ(doc->current, nullptr);
    EXPECT_EQ(ezxml_open_tag(doc, b, EZXML_NIL), nullptr); // nothing open any more
    ezxml_free(root);
}

TEST(ParseMarkup, InstructionsAreRecordedWithTheirPlace) {
    parsed_document p("<?xml version='1.0'?><?t a?><r><?t b?></r>");
    ASSERT_EQ(p.error(), "");
    const char **t = ezxml_pi(p.root, "t");
    ASSERT_NE(t[0], nullptr);
    EXPECT_STREQ(t[0], "a");
    ASSERT_NE(t[1], nullptr);
    EXPECT_STREQ(t[1], "b");
    EXPECT_EQ(t[2], nullptr);
    EXPECT_EQ(ezxml_pi(p.root, "xml")[0], nullptr);
}

TEST(ParseMarkup, InstructionMayHoldQuestionMarksAndGreaterThan) {
    parsed_document p("<r><?t a?b>c ?></r>");
    ASSERT_EQ(p.error(), "");
    const char **t = ezxml_pi(p.root, "t");
    ASSERT_NE(t[0], nullptr);
    EXPECT_STREQ(t[0], "a?b>c ");
}

TEST(ParseMarkup, DegenerateInstructionIsSkipped) {
    parsed_document p("<?><r><?></r>");
    EXPECT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->name, "r");
    EXPECT_EQ(p.doc()->instructions[0], nullptr);
}

TEST(ParseMarkup, DoctypeWithoutSubsetIsSkipped) {
    parsed_document p("<!DOCTYPE r SYSTEM \"r.dtd\">\n<r>x</r>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "x");
}

TEST(ParseMarkup, InternalSubsetDeclaresEntities) {
    parsed_document p("<!DOCTYPE r [\n<!ENTITY who \"world\">\n]>\n<r>hello &who;</r>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "hello world");
}

TEST(ParseMarkup, WhiteSpaceBetweenSubsetAndEndBecomesIgnoredText) {
    parsed_document p("<!DOCTYPE r [<!ENTITY e 'v'>] >\n<r>&e;</r>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->text, "v");
}

TEST(ParseMarkup, QuotesAreNotTrackedInTheSubset) {
    // The subset ends at the first "]>", inside the quoted value; the rest of
    // the declaration is text before the root and ignored.
    parsed_document p("<!DOCTYPE a [<!ENTITY e \"]>\">]><a>t</a>");
    ASSERT_EQ(p.error(), "");
    EXPECT_STREQ(p.root->name, "a");
    EXPECT_STREQ(p.root->text, "t");
}

TEST(ParseMarkup, ChainsStayWholeAfterMixedContent) {
    parsed_document p("<?xml version=\"1.0\"?>\n<!DOCTYPE r>\n<r a='1'>\n"
                      "  <x>1</x><y/><x k='v'>2<![CDATA[3]]></x>\n"
                      "  <!-- note --><z><x/></z><y>&amp;</y>\n</r>\n");
    ASSERT_EQ(p.error(), "");
    EXPECT_EQ(check_tree(p.root), "");
    EXPECT_STREQ(ezxml_idx(ezxml_child(p.root, "x"), 1)->text, "23");
    EXPECT_STREQ(ezxml_child(p.root, "y")->next->text, "&");
}

} // namespace
