// Queries on trees built by hand, with tables filled the way the parser and
// the declaration scanner fill them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/chain_check.h"
#include "xml/ezxml.h"

namespace {

ezxml_document *as_document(ezxml *root) {
    return reinterpret_cast<ezxml_document *>(root);
}

char *lit(const char *s) {
    return const_cast<char *>(s);
}

// Heap array of pointers, as the parser and scanner allocate them.
template <typename T> T *heap_array(std::initializer_list<T> items) {
    T *array = static_cast<T *>(std::malloc(items.size() * sizeof(T)));
    size_t i = 0;
    for (T item : items) {
        array[i++] = item;
    }
    return array;
}

char *heap_string(const char *s) {
    return strdup(s);
}

TEST(FreshDocument, HasEmptyTablesAndTheFiveEntities) {
    ezxml *root = ezxml_new("config");
    ASSERT_NE(root, nullptr);
    ezxml_document *doc = as_document(root);
    EXPECT_STREQ(root->name, "config");
    EXPECT_EQ(root->attributes, EZXML_NIL);
    EXPECT_STREQ(root->text, "");
    EXPECT_EQ(root->parent, nullptr);
    EXPECT_EQ(root->child, nullptr);
    EXPECT_EQ(root->offset, 0u);
    EXPECT_EQ(root->flags, 0);
    EXPECT_EQ(doc->current, root);
    EXPECT_EQ(doc->source, nullptr);
    EXPECT_EQ(doc->source_length, 0u);
    EXPECT_EQ(doc->work_start, nullptr);
    EXPECT_EQ(doc->standalone, 0);
    EXPECT_EQ(doc->default_attributes, reinterpret_cast<char ***>(EZXML_NIL));
    EXPECT_EQ(doc->instructions, reinterpret_cast<char ***>(EZXML_NIL));
    EXPECT_STREQ(doc->error_text, "");
    const char *expected[] = {"lt;",   "&#60;", "gt;",   "&#62;", "quot;",
                              "&#34;", "apos;", "&#39;", "amp;",  "&#38;"};
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_STREQ(doc->entities[i], expected[i]) << i;
    }
    EXPECT_EQ(doc->entities[10], nullptr);
    EXPECT_EQ(check_tree(root), "");
    ezxml_free(root);
}

TEST(FreshDocument, MayBeUnnamedAndEachHasItsOwnEntityList) {
    ezxml *a = ezxml_new(nullptr);
    ezxml *b = ezxml_new(nullptr);
    EXPECT_EQ(a->name, nullptr);
    EXPECT_NE(as_document(a)->entities, as_document(b)->entities);
    ezxml_free(a);
    ezxml_free(b);
}

class Children : public ::testing::Test {
  protected:
    void SetUp() override {
        root = ezxml_new("r");
        first_a = ezxml_add_child(root, "a", 0);
        b = ezxml_add_child(root, "b", 1);
        second_a = ezxml_add_child(root, "a", 2);
        third_a = ezxml_add_child(root, "a", 3);
        ASSERT_EQ(check_chains(root), "");
    }
    void TearDown() override { ezxml_free(root); }
    ezxml *root, *first_a, *b, *second_a, *third_a;
};

TEST_F(Children, ChildFindsTheFirstOfEachName) {
    EXPECT_EQ(ezxml_child(root, "a"), first_a);
    EXPECT_EQ(ezxml_child(root, "b"), b);
    EXPECT_EQ(ezxml_child(root, "c"), nullptr);
    EXPECT_EQ(ezxml_child(root, "A"), nullptr); // case matters
    EXPECT_EQ(ezxml_child(nullptr, "a"), nullptr);
    EXPECT_EQ(ezxml_child(b, "a"), nullptr); // no children
}

TEST_F(Children, IdxWalksTheSameNameChain) {
    EXPECT_EQ(ezxml_idx(first_a, 0), first_a);
    EXPECT_EQ(ezxml_idx(first_a, 1), second_a);
    EXPECT_EQ(ezxml_idx(first_a, 2), third_a);
    EXPECT_EQ(ezxml_idx(first_a, 3), nullptr);
    EXPECT_EQ(ezxml_idx(first_a, 100), nullptr);
    EXPECT_EQ(ezxml_idx(second_a, 1), third_a);
    EXPECT_EQ(ezxml_idx(first_a, -1), nullptr);
    EXPECT_EQ(ezxml_idx(nullptr, 0), nullptr);
}

TEST_F(Children, GetFollowsPaths) {
    ezxml *inner = ezxml_add_child(second_a, "leaf", 0);
    ezxml *inner2 = ezxml_add_child(second_a, "leaf", 0);
    EXPECT_EQ(ezxml_get(root, "a", 1, ""), second_a);
    EXPECT_EQ(ezxml_get(root, "a", 1, nullptr), second_a);
    EXPECT_EQ(ezxml_get(root, "a", 1, "leaf", 1, ""), inner2);
    EXPECT_EQ(ezxml_get(root, "a", 1, "leaf", 0, nullptr), inner);
    EXPECT_EQ(ezxml_get(root, "a", 1, "leaf", 2, nullptr), nullptr);
    EXPECT_EQ(ezxml_get(root, nullptr), root);
    EXPECT_EQ(ezxml_get(root, ""), root);
    // A negative index yields the first of the name; what follows it is
    // not read, or this path would lead nowhere.
    EXPECT_EQ(ezxml_get(root, "a", -1, "nowhere", 0, nullptr), first_a);
    EXPECT_EQ(ezxml_get(root, "a", -5, "nowhere", 0, nullptr), first_a);
    EXPECT_EQ(ezxml_get(root, "c", -1, nullptr), nullptr);
    // The first name has no child: nothing found, even if the second would
    // match something elsewhere.
    EXPECT_EQ(ezxml_get(root, "missing", 0, "leaf", 0, nullptr), nullptr);
    EXPECT_EQ(ezxml_get(root, "a", 3, nullptr), nullptr);
    EXPECT_EQ(ezxml_get(nullptr, "a", 0, nullptr), nullptr);
}

TEST(Attributes, FirstOfTwoSameNamesWinsAndMissingYieldsNull) {
    ezxml *root = ezxml_new("r");
    // As the parser builds it for <r x="1" y="2" x="3">.
    root->attributes = heap_array<char *>(
        {lit("x"), lit("1"), lit("y"), lit("2"), lit("x"), lit("3"), nullptr, heap_string("   ")});
    EXPECT_STREQ(ezxml_attr(root, "x"), "1");
    EXPECT_STREQ(ezxml_attr(root, "y"), "2");
    EXPECT_EQ(ezxml_attr(root, "z"), nullptr);
    EXPECT_EQ(ezxml_attr(nullptr, "x"), nullptr);
    EXPECT_EQ(check_tree(root), "");
    ezxml_free(root);
}

TEST(Attributes, NullListYieldsNull) {
    ezxml *root = ezxml_new("r");
    root->attributes = nullptr;
    EXPECT_EQ(ezxml_attr(root, "x"), nullptr);
    root->attributes = EZXML_NIL;
    ezxml_free(root);
}

class Defaults : public ::testing::Test {
  protected:
    // As the declaration scanner records
    //   <!ATTLIST item kind CDATA 'plain' id ID #IMPLIED mode NMTOKEN 'fast'>
    //   <!ATTLIST other kind CDATA 'other'>
    void SetUp() override {
        root = ezxml_new("r");
        item = ezxml_add_child(root, "item", 0);
        as_document(root)->default_attributes = heap_array<char **>({
            heap_array<char *>({lit("item"), lit("kind"), lit("plain"), lit(" "), lit("id"),
                                nullptr, lit("*"), lit("mode"), lit("fast"), lit("*"), nullptr}),
            heap_array<char *>({lit("other"), lit("kind"), lit("other"), lit(" "), nullptr}),
            nullptr,
        });
    }
    void TearDown() override { ezxml_free(root); }
    ezxml *root, *item;
};

TEST_F(Defaults, DeclaredDefaultFillsInForAMissingAttribute) {
    EXPECT_STREQ(ezxml_attr(item, "kind"), "plain");
    EXPECT_STREQ(ezxml_attr(item, "mode"), "fast");
}

TEST_F(Defaults, DeclaredWithoutDefaultYieldsNull) {
    EXPECT_EQ(ezxml_attr(item, "id"), nullptr);
}

TEST_F(Defaults, UndeclaredOrOtherElementYieldsNull) {
    EXPECT_EQ(ezxml_attr(item, "colour"), nullptr);
    ezxml *stranger = ezxml_add_child(root, "stranger", 0);
    EXPECT_EQ(ezxml_attr(stranger, "kind"), nullptr);
    ezxml *other = ezxml_add_child(item, "other", 0);
    EXPECT_STREQ(ezxml_attr(other, "kind"), "other");
}

TEST_F(Defaults, OwnValueWinsOverTheDefault) {
    ASSERT_EQ(ezxml_set_attr(item, "kind", "special"), item);
    EXPECT_STREQ(ezxml_attr(item, "kind"), "special");
    EXPECT_STREQ(ezxml_attr(item, "mode"), "fast");
}

TEST_F(Defaults, ElementWithoutNameMatchesNoList) {
    ezxml *unnamed = ezxml_new(nullptr);
    EXPECT_EQ(ezxml_attr(unnamed, "kind"), nullptr);
    ezxml_free(unnamed);
}

TEST_F(Defaults, CutElementStillReachesItsDocument) {
    ezxml_cut(item);
    EXPECT_STREQ(ezxml_attr(item, "kind"), "plain");
    ezxml_free(item);
}

// As the scanner files <?t a?> before the root, <?u x?> and <?t b?> inside it.
class Instructions : public ::testing::Test {
  protected:
    void SetUp() override {
        root = ezxml_new("r");
        child = ezxml_add_child(root, "c", 0);
        as_document(root)->instructions = heap_array<char **>({
            heap_array<char *>({lit("t"), lit("a"), lit("b"), nullptr, heap_string("<>")}),
            heap_array<char *>({lit("u"), lit("x"), nullptr, heap_string(">")}),
            nullptr,
        });
    }
    void TearDown() override { ezxml_free(root); }
    ezxml *root, *child;
};

TEST_F(Instructions, AllContentsOfATargetInOrder) {
    const char **t = ezxml_pi(root, "t");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t[0], "a");
    EXPECT_STREQ(t[1], "b");
    EXPECT_EQ(t[2], nullptr);
    const char **u = ezxml_pi(child, "u"); // any element of the document
    EXPECT_STREQ(u[0], "x");
    EXPECT_EQ(u[1], nullptr);
}

TEST_F(Instructions, UnknownTargetAndXmlYieldTheEmptyList) {
    EXPECT_EQ(ezxml_pi(root, "xml"), const_cast<const char **>(EZXML_NIL));
    EXPECT_EQ(ezxml_pi(root, "T"), const_cast<const char **>(EZXML_NIL));
    EXPECT_EQ(ezxml_pi(nullptr, "t"), const_cast<const char **>(EZXML_NIL));
}

TEST(NoInstructions, FreshDocumentHasNone) {
    ezxml *root = ezxml_new("r");
    EXPECT_EQ(ezxml_pi(root, "t"), const_cast<const char **>(EZXML_NIL));
    EXPECT_EQ(ezxml_pi(root, "t")[0], nullptr);
    ezxml_free(root);
}

TEST(ErrorText, NullElementAndCleanDocumentGiveEmptyText) {
    const char *none = ezxml_error(nullptr);
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none, "");
    ezxml *root = ezxml_new("r");
    ezxml *child = ezxml_add_child(root, "c", 0);
    EXPECT_STREQ(ezxml_error(root), "");
    EXPECT_EQ(ezxml_error(child), as_document(root)->error_text);
    ezxml_free(root);
}

// A document whose work area is the given text, as after a parse.
struct Parsed {
    explicit Parsed(std::string input) : text(std::move(input)) {
        root = ezxml_new(nullptr);
        doc = as_document(root);
        doc->work_start = text.data();
        doc->work_end = text.data() + text.size();
    }
    ~Parsed() { ezxml_free(root); }
    char *at(size_t i) { return text.data() + i; }
    std::string text;
    ezxml *root;
    ezxml_document *doc;
};

TEST(RecordError, LineIsOnePlusTheLineFeedsBeforeThePosition) {
    Parsed p("<a>\n<b>\n\n<c x='1'/>\n");
    EXPECT_EQ(ezxml_err(p.doc, p.at(0), "first"), p.root);
    EXPECT_STREQ(ezxml_error(p.root), "[error near line 1]: first");
    ezxml_err(p.doc, p.at(3), "at the line feed");
    EXPECT_STREQ(ezxml_error(p.root), "[error near line 1]: at the line feed");
    ezxml_err(p.doc, p.at(4), "after one");
    EXPECT_STREQ(ezxml_error(p.root), "[error near line 2]: after one");
    ezxml_err(p.doc, p.at(10), "unclosed tag <%s>", "c");
    EXPECT_STREQ(ezxml_error(p.root), "[error near line 4]: unclosed tag <c>");
    ezxml_err(p.doc, p.at(p.text.size()), "at the end");
    EXPECT_STREQ(ezxml_error(p.root), "[error near line 5]: at the end");
}

TEST(RecordError, NullOrEarlyPositionIsLineOne) {
    Parsed p("x\ny\nz");
    ezxml_err(p.doc, nullptr, "root tag missing");
    EXPECT_STREQ(ezxml_error(p.root), "[error near line 1]: root tag missing");
    ezxml_err(p.doc, p.at(0) - 1, "before");
    EXPECT_STREQ(ezxml_error(p.root), "[error near line 1]: before");
}

TEST(RecordError, TerminatorsWrittenByParsingDoNotStopTheCount) {
    Parsed p("<a>\n<b>\n<c>\n");
    p.text[1] = '\0';
    p.text[5] = '\0';
    ezxml_err(p.doc, p.at(9), "deep");
    EXPECT_STREQ(ezxml_error(p.root), "[error near line 3]: deep");
}

TEST(RecordError, PositionPastTheWorkAreaCountsOnlyTheWorkArea) {
    std::string whole = "a\nb\nc\nd\n";
    Parsed p(whole);
    p.doc->work_end = p.at(4); // only "a\nb\n" belongs to the document
    ezxml_err(p.doc, p.at(7), "late");
    EXPECT_STREQ(ezxml_error(p.root), "[error near line 3]: late");
}

TEST(RecordError, DocumentWithoutWorkAreaReportsLineOne) {
    ezxml *root = ezxml_new("r");
    char elsewhere[] = "x\ny\n";
    ezxml_err(as_document(root), elsewhere + 3, "%s %d", "code", 7);
    EXPECT_STREQ(ezxml_error(root), "[error near line 1]: code 7");
    ezxml_free(root);
}

TEST(RecordError, LaterErrorReplacesEarlier) {
    Parsed p("x");
    ezxml_err(p.doc, nullptr, "a much longer first message");
    ezxml_err(p.doc, nullptr, "short");
    EXPECT_STREQ(ezxml_error(p.root), "[error near line 1]: short");
}

TEST(RecordError, NullDocumentYieldsNull) {
    EXPECT_EQ(ezxml_err(nullptr, nullptr, "x"), nullptr);
}

const std::string prefix = "[error near line 1]: ";

TEST(RecordErrorLength, LongArgumentIsCutAt127Characters) {
    Parsed p("x");
    std::string name(300, 'n');
    ezxml_err(p.doc, nullptr, "unclosed tag <%s>", name.c_str());
    std::string got = ezxml_error(p.root);
    EXPECT_EQ(got.size(), 127u);
    EXPECT_EQ(got, (prefix + "unclosed tag <" + name).substr(0, 127));
}

TEST(RecordErrorLength, LongFormatIsCutAt127Characters) {
    Parsed p("x");
    std::string format(200, 'f');
    ezxml_err(p.doc, nullptr, "%s", format.c_str());
    EXPECT_EQ(std::string(ezxml_error(p.root)), (prefix + format).substr(0, 127));
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
    ezxml_err(p.doc, nullptr, format.c_str());
#pragma GCC diagnostic pop
    EXPECT_EQ(std::string(ezxml_error(p.root)), (prefix + format).substr(0, 127));
}

TEST(RecordErrorLength, ConversionAcrossTheCutIsNeverSplit) {
    Parsed p("x");
    // Prefix and 105 letters fill 126 characters, so the 127-character cut
    // of the combined format would fall between '%' and 's'.
    std::string format = std::string(105, 'x') + "%s tail";
    ezxml_err(p.doc, nullptr, format.c_str(), "ARGUMENT");
    EXPECT_EQ(std::string(ezxml_error(p.root)), prefix + std::string(105, 'x') + "A");
    // Same with the conversion just before the cut.
    format = std::string(104, 'x') + "%d";
    ezxml_err(p.doc, nullptr, format.c_str(), 98765);
    EXPECT_EQ(std::string(ezxml_error(p.root)), prefix + std::string(104, 'x') + "98");
}

TEST(RecordErrorLength, ExactlyFittingMessageIsKeptWhole) {
    Parsed p("x");
    std::string body(127 - prefix.size(), 'y');
    ezxml_err(p.doc, nullptr, "%s", body.c_str());
    EXPECT_EQ(std::string(ezxml_error(p.root)), prefix + body);
}

} // namespace

namespace {

// The same queries on documents the parser built from text.
struct ParsedText {
    explicit ParsedText(const std::string &xml) : buffer(xml) {
        root = ezxml_parse_str(buffer.data(), buffer.size());
    }
    ~ParsedText() { ezxml_free(root); }
    std::string buffer; // the parse buffer; stays the caller's
    ezxml *root;
};

TEST(ParsedDocument, RepeatedAttributeYieldsTheFirstValue) {
    ParsedText p("<r x=\"1\" y='2' x=\"3\"/>");
    ASSERT_STREQ(ezxml_error(p.root), "");
    EXPECT_STREQ(ezxml_attr(p.root, "x"), "1");
    EXPECT_STREQ(ezxml_attr(p.root, "y"), "2");
    EXPECT_EQ(check_tree(p.root), "");
}

TEST(ParsedDocument, DeclaredDefaultsAndOwnValues) {
    ParsedText p("<!DOCTYPE r [<!ATTLIST item kind CDATA 'plain' id ID #IMPLIED>]>"
                 "<r><item/><item kind='own'/></r>");
    ASSERT_STREQ(ezxml_error(p.root), "");
    ezxml *first = ezxml_child(p.root, "item");
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(ezxml_attr(first, "kind"), "plain");
    EXPECT_EQ(ezxml_attr(first, "id"), nullptr);
    EXPECT_STREQ(ezxml_attr(ezxml_idx(first, 1), "kind"), "own");
    EXPECT_EQ(ezxml_attr(p.root, "kind"), nullptr);
}

TEST(ParsedDocument, InstructionsBeforeAndAfterTheRootInOrder) {
    ParsedText p("<?xml version=\"1.0\"?><?t a?><r><?u x?><?t b?></r><?t c?>");
    ASSERT_STREQ(ezxml_error(p.root), "");
    const char **t = ezxml_pi(p.root, "t");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t[0], "a");
    EXPECT_STREQ(t[1], "b");
    EXPECT_STREQ(t[2], "c");
    EXPECT_EQ(t[3], nullptr);
    EXPECT_EQ(ezxml_pi(p.root, "xml"), const_cast<const char **>(EZXML_NIL));
}

TEST(ParsedDocument, PathsAndSameNameChains) {
    ParsedText p("<c><MiscSettings><AutoprovFile>one</AutoprovFile>"
                 "<Other/><AutoprovFile>two</AutoprovFile></MiscSettings></c>");
    ASSERT_STREQ(ezxml_error(p.root), "");
    ezxml *files = ezxml_get(p.root, "MiscSettings", 0, "AutoprovFile", -1);
    ASSERT_NE(files, nullptr);
    EXPECT_STREQ(files->text, "one");
    ASSERT_NE(files->next, nullptr);
    EXPECT_STREQ(files->next->text, "two");
    EXPECT_EQ(files->next->next, nullptr);
    EXPECT_EQ(ezxml_get(p.root, "MiscSettings", 0, "AutoprovFile", 1, ""), files->next);
    EXPECT_EQ(ezxml_get(p.root, "Missing", 0, "AutoprovFile", 0, nullptr), nullptr);
    EXPECT_EQ(check_tree(p.root), "");
}

TEST(ParsedDocument, ErrorTextOfCleanAndFailedParses) {
    ParsedText clean("<r/>");
    EXPECT_STREQ(ezxml_error(clean.root), "");
    ParsedText failed("<r>\n<a>\n</r>");
    EXPECT_STREQ(ezxml_error(failed.root), "[error near line 3]: unexpected closing tag </r>");
}

} // namespace
