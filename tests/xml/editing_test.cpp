// Building and editing trees by hand: linking at offsets, cutting, text and
// attribute ownership, freeing. Where freeing is the point, the heap must
// balance: every block handed over is freed, and no caller's block is (the
// sanitizer build checks besides that none is freed twice).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/chain_check.h"
#include "support/counting_allocator.h"
#include "xml/ezxml.h"

namespace {

ezxml_document *as_document(ezxml *root) {
    return reinterpret_cast<ezxml_document *>(root);
}
char *lit(const char *s) {
    return const_cast<char *>(s);
}

std::vector<ezxml *> ordered_children(ezxml *parent) {
    std::vector<ezxml *> out;
    for (ezxml *c = parent->child; c; c = c->ordered) {
        out.push_back(c);
    }
    return out;
}

std::vector<ezxml *> same_name(ezxml *first) {
    std::vector<ezxml *> out;
    for (; first; first = first->next) {
        out.push_back(first);
    }
    return out;
}

std::vector<std::string> sibling_names(ezxml *parent) {
    std::vector<std::string> out;
    for (ezxml *c = parent->child; c; c = c->sibling) {
        out.push_back(c->name);
    }
    return out;
}

// --- linking -------------------------------------------------------------

TEST(AddChild, NullParentYieldsNull) {
    EXPECT_EQ(ezxml_add_child(nullptr, "a", 0), nullptr);
}

TEST(AddChild, NewChildIsEmptyAndLinked) {
    ezxml *root = ezxml_new("r");
    ezxml *c = ezxml_add_child(root, "c", 7);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->name, "c");
    EXPECT_EQ(c->attributes, EZXML_NIL);
    EXPECT_STREQ(c->text, "");
    EXPECT_EQ(c->offset, 7u);
    EXPECT_EQ(c->parent, root);
    EXPECT_EQ(c->flags, 0);
    EXPECT_EQ(root->child, c);
    EXPECT_EQ(check_tree(root), "");
    ezxml_free(root);
}

TEST(AddChild, ChildrenStandByOffsetThenByInsertion) {
    ezxml *root = ezxml_new("r");
    ezxml *five = ezxml_add_child(root, "a", 5);
    ezxml *two = ezxml_add_child(root, "a", 2);
    ezxml *five_again = ezxml_add_child(root, "a", 5);
    EXPECT_EQ(ordered_children(root), (std::vector<ezxml *>{two, five, five_again}));
    EXPECT_EQ(same_name(ezxml_child(root, "a")), (std::vector<ezxml *>{two, five, five_again}));
    EXPECT_EQ(check_chains(root), "");
    ezxml_free(root);
}

TEST(AddChild, MixedNamesKeepEachSameNameChainInDocumentOrder) {
    ezxml *root = ezxml_new("r");
    ezxml *a5 = ezxml_add_child(root, "a", 5);
    ezxml *b2 = ezxml_add_child(root, "b", 2);
    ezxml *a5b = ezxml_add_child(root, "a", 5);
    ezxml *b9 = ezxml_add_child(root, "b", 9);
    ezxml *a0 = ezxml_add_child(root, "a", 0);
    ezxml *b5 = ezxml_add_child(root, "b", 5);
    EXPECT_EQ(ordered_children(root), (std::vector<ezxml *>{a0, b2, a5, a5b, b5, b9}));
    EXPECT_EQ(same_name(ezxml_child(root, "a")), (std::vector<ezxml *>{a0, a5, a5b}));
    EXPECT_EQ(same_name(ezxml_child(root, "b")), (std::vector<ezxml *>{b2, b5, b9}));
    EXPECT_EQ(sibling_names(root), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(check_chains(root), "");
    ezxml_free(root);
}

TEST(AddChild, EarlierChildOfTheFirstChildsNameBecomesFirst) {
    ezxml *root = ezxml_new("r");
    ezxml *old_first = ezxml_add_child(root, "x", 4);
    ezxml_add_child(root, "y", 6);
    ezxml *earlier = ezxml_add_child(root, "x", 1);
    EXPECT_EQ(root->child, earlier);
    EXPECT_EQ(ezxml_child(root, "x"), earlier);
    EXPECT_EQ(ezxml_idx(earlier, 1), old_first);
    EXPECT_EQ(sibling_names(root), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(check_chains(root), "");
    ezxml_free(root);
}

TEST(AddChild, NewNameBeforeEverythingHeadsBothChains) {
    ezxml *root = ezxml_new("r");
    ezxml_add_child(root, "b", 3);
    ezxml_add_child(root, "c", 4);
    ezxml *a = ezxml_add_child(root, "a", 0);
    EXPECT_EQ(root->child, a);
    EXPECT_EQ(sibling_names(root), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(check_chains(root), "");
    ezxml_free(root);
}

TEST(AddChild, HugeOffsetsCompareUnsigned) {
    ezxml *root = ezxml_new("r");
    ezxml *big = ezxml_add_child(root, "a", static_cast<size_t>(-1));
    ezxml *small = ezxml_add_child(root, "a", 0);
    EXPECT_EQ(ordered_children(root), (std::vector<ezxml *>{small, big}));
    EXPECT_EQ(check_chains(root), "");
    ezxml_free(root);
}

TEST(AddChild, UnnamedChildIsRefused) {
    ezxml *root = ezxml_new("r");
    EXPECT_EQ(ezxml_add_child(root, nullptr, 0), nullptr);
    EXPECT_EQ(root->child, nullptr);
    ezxml_free(root);
}

// --- cutting -------------------------------------------------------------

class Cut : public ::testing::Test {
  protected:
    // a0 b1 a2 c3 b4
    void SetUp() override {
        root = ezxml_new("r");
        a0 = ezxml_add_child(root, "a", 0);
        b1 = ezxml_add_child(root, "b", 1);
        a2 = ezxml_add_child(root, "a", 2);
        c3 = ezxml_add_child(root, "c", 3);
        b4 = ezxml_add_child(root, "b", 4);
        ASSERT_EQ(check_chains(root), "");
    }
    void TearDown() override { ezxml_free(root); }
    void cut_and_free(ezxml *x) {
        ASSERT_EQ(ezxml_cut(x), x);
        EXPECT_EQ(check_detached(x), "");
        EXPECT_EQ(x->parent, root); // still reaches its former document
        ezxml_free(x);
        EXPECT_EQ(check_chains(root), "");
    }
    ezxml *root, *a0, *b1, *a2, *c3, *b4;
};

TEST_F(Cut, FirstChildWithSameNameSuccessorFurtherOn) {
    cut_and_free(a0);
    EXPECT_EQ(root->child, b1);
    EXPECT_EQ(ezxml_child(root, "a"), a2);
    EXPECT_EQ(ezxml_idx(a2, 1), nullptr);
    EXPECT_EQ(ordered_children(root), (std::vector<ezxml *>{b1, a2, c3, b4}));
}

TEST_F(Cut, MiddleChildThatIsFirstOfItsName) {
    cut_and_free(b1);
    EXPECT_EQ(ezxml_child(root, "b"), b4);
    EXPECT_EQ(ordered_children(root), (std::vector<ezxml *>{a0, a2, c3, b4}));
}

TEST_F(Cut, MiddleChildThatIsNotFirstOfItsName) {
    cut_and_free(a2);
    EXPECT_EQ(same_name(a0), (std::vector<ezxml *>{a0}));
    EXPECT_EQ(ezxml_child(root, "c"), c3);
    EXPECT_EQ(ordered_children(root), (std::vector<ezxml *>{a0, b1, c3, b4}));
}

TEST_F(Cut, OnlyChildOfItsName) {
    cut_and_free(c3);
    EXPECT_EQ(ezxml_child(root, "c"), nullptr);
    EXPECT_EQ(sibling_names(root), (std::vector<std::string>{"a", "b"}));
}

TEST_F(Cut, LastChild) {
    cut_and_free(b4);
    EXPECT_EQ(same_name(b1), (std::vector<ezxml *>{b1}));
    EXPECT_EQ(ordered_children(root), (std::vector<ezxml *>{a0, b1, a2, c3}));
}

TEST_F(Cut, EveryChildInTurnFromTheFront) {
    for (ezxml *x : {a0, b1, a2, c3, b4}) {
        cut_and_free(x);
    }
    EXPECT_EQ(root->child, nullptr);
}

TEST_F(Cut, EveryChildInTurnFromTheBack) {
    for (ezxml *x : {b4, c3, a2, b1, a0}) {
        cut_and_free(x);
    }
    EXPECT_EQ(root->child, nullptr);
}

// After b1 is cut, b4 takes b1's place on the first-of-each-name chain, out
// of document order (a, b4, c). Cutting a0 then leaves a first child (c3)
// that is neither a0's same-name successor nor its successor on that chain.
TEST_F(Cut, FirstChildAfterRepairsReorderedTheNameChain) {
    cut_and_free(b1);
    cut_and_free(a0);
    EXPECT_EQ(root->child, a2);
    cut_and_free(a2);
    EXPECT_EQ(root->child, c3);
    EXPECT_EQ(ezxml_child(root, "b"), b4);
    EXPECT_EQ(sibling_names(root).front(), "c");
}

TEST_F(Cut, FirstChildWhoseSameNameSuccessorIsNotNext) {
    // a0 leaves; its same-name successor a2 is not its ordered successor.
    ASSERT_EQ(ezxml_cut(a0), a0);
    EXPECT_EQ(check_chains(root), "");
    EXPECT_EQ(root->child, b1);
    EXPECT_EQ(ezxml_child(root, "a"), a2);
    // Linked in again at the front it is the first of its name once more.
    ASSERT_EQ(ezxml_insert(a0, root, 0), a0);
    EXPECT_EQ(check_chains(root), "");
    EXPECT_EQ(root->child, a0);
    EXPECT_EQ(same_name(a0), (std::vector<ezxml *>{a0, a2}));
}

TEST_F(Cut, InsertAfterRepairsKeepsTheChainsWhole) {
    cut_and_free(b1); // name chain now a, b4, c
    ezxml *b2 = ezxml_add_child(root, "b", 2);
    EXPECT_EQ(check_chains(root), "");
    EXPECT_EQ(ezxml_child(root, "b"), b2);
    ezxml *d0 = ezxml_add_child(root, "d", 0);
    EXPECT_EQ(check_chains(root), "");
    EXPECT_EQ(ezxml_child(root, "d"), d0);
    ezxml *c9 = ezxml_add_child(root, "c", 9);
    EXPECT_EQ(check_chains(root), "");
    EXPECT_EQ(same_name(c3), (std::vector<ezxml *>{c3, c9}));
}

TEST_F(Cut, CutThenInsertUnderAnotherParent) {
    ezxml *x = ezxml_add_child(a2, "x", 0);
    ezxml *sub = ezxml_add_child(b1, "x", 0);
    ASSERT_EQ(ezxml_cut(b1), b1);
    ASSERT_EQ(ezxml_insert(b1, c3, 5), b1);
    EXPECT_EQ(b1->parent, c3);
    EXPECT_EQ(b1->offset, 5u);
    EXPECT_EQ(b1->child, sub); // the subtree travels along
    EXPECT_EQ(ezxml_child(root, "b"), b4);
    EXPECT_EQ(ezxml_get(root, "c", 0, "b", 0, "x", 0, nullptr), sub);
    EXPECT_EQ(ezxml_get(root, "a", 1, "x", 0, nullptr), x);
    EXPECT_EQ(check_chains(root), "");
}

TEST_F(Cut, InsertOfALinkedElementMovesIt) {
    ASSERT_EQ(ezxml_insert(a2, c3, 0), a2);
    EXPECT_EQ(check_chains(root), "");
    EXPECT_EQ(a2->parent, c3);
    EXPECT_EQ(same_name(a0), (std::vector<ezxml *>{a0}));
    EXPECT_EQ(ordered_children(root), (std::vector<ezxml *>{a0, b1, c3, b4}));
}

TEST_F(Cut, InsertBelowItselfIsRefused) {
    ezxml *inner = ezxml_add_child(c3, "i", 0);
    EXPECT_EQ(ezxml_insert(c3, inner, 0), nullptr);
    EXPECT_EQ(ezxml_insert(c3, c3, 0), nullptr);
    EXPECT_EQ(c3->parent, root);
    EXPECT_EQ(check_chains(root), "");
}

// A fragment built apart under a root of its own is grafted in whole; its
// document's tables (the entity list) go with the graft, so nothing leaks.
TEST_F(Cut, InsertOfANewDocumentsRootGraftsItAsAFragment) {
    ezxml *fragment = ezxml_new("f");
    ezxml *inner = ezxml_add_child(fragment, "i", 0);
    ezxml_set_txt(inner, "t");
    ASSERT_EQ(ezxml_insert(fragment, c3, 0), fragment);
    EXPECT_EQ(fragment->parent, c3);
    EXPECT_EQ(ezxml_get(root, "c", 0, "f", 0, "i", 0, nullptr), inner);
    EXPECT_EQ(check_chains(root), "");
    char *xml = ezxml_toxml(c3);
    EXPECT_STREQ(xml, "\n<c>\n<f>\n<i>t</i>\n</f>\n</c>\n");
    free(xml);
    // Cut out again it is an ordinary element, freed as one.
    ASSERT_EQ(ezxml_cut(fragment), fragment);
    ezxml_free(fragment);
    EXPECT_EQ(check_chains(root), "");
}

TEST_F(Cut, InsertOfARootBelowItselfIsRefused) {
    EXPECT_EQ(ezxml_insert(root, c3, 0), nullptr);
    EXPECT_EQ(ezxml_insert(root, root, 0), nullptr);
    EXPECT_EQ(root->parent, nullptr);
    EXPECT_EQ(check_chains(root), "");
}

// A fragment goes into a document's tree, never below a piece cut out
// (whose former parent may be the fragment itself: a loop of parents).
TEST_F(Cut, InsertOfARootBelowACutPieceIsRefused) {
    ASSERT_EQ(ezxml_cut(b1), b1);
    EXPECT_EQ(ezxml_insert(root, b1, 0), nullptr);
    EXPECT_EQ(root->parent, nullptr);
    ezxml *inner = ezxml_add_child(b1, "i", 0);
    ezxml *fragment = ezxml_new("f");
    EXPECT_EQ(ezxml_insert(fragment, inner, 0), nullptr);
    EXPECT_EQ(check_chains(root), "");
    ezxml_free(fragment);
    ezxml_free(b1);
}

TEST(Insert, FragmentsGraftedIntoFragments) {
    ezxml *outer = ezxml_new("outer");
    ezxml *slot = ezxml_add_child(outer, "slot", 0);
    ezxml *inner = ezxml_new("inner");
    ASSERT_EQ(ezxml_insert(inner, slot, 0), inner);
    ezxml *doc = ezxml_new("doc");
    ASSERT_EQ(ezxml_insert(outer, doc, 0), outer);
    EXPECT_EQ(ezxml_get(doc, "outer", 0, "slot", 0, "inner", 0, nullptr), inner);
    EXPECT_EQ(check_chains(doc), "");
    ezxml_free(doc);
}

TEST_F(Cut, InsertOfAnUnnamedRootIsRefused) {
    ezxml *unnamed = ezxml_new(nullptr);
    EXPECT_EQ(ezxml_insert(unnamed, root, 0), nullptr);
    EXPECT_EQ(unnamed->parent, nullptr);
    EXPECT_EQ(check_chains(root), "");
    ezxml_free(unnamed);
}

// The insert contract allows linking a cut element again after its former
// parent is gone; insert must not look at that parent (the sanitizer build
// reports the read).
TEST_F(Cut, InsertAfterTheFormerParentWasFreed) {
    ezxml *x = ezxml_add_child(b1, "x", 0);
    ASSERT_EQ(ezxml_cut(x), x);
    ASSERT_EQ(ezxml_cut(b1), b1);
    ezxml_free(b1); // x's former parent
    ASSERT_EQ(ezxml_insert(x, c3, 1), x);
    EXPECT_EQ(x->parent, c3);
    EXPECT_EQ(ezxml_child(c3, "x"), x);
    EXPECT_EQ(check_chains(root), "");
}

TEST(Insert, AfterTheFormerDocumentWasFreed) {
    ezxml *old_doc = ezxml_new("old");
    ezxml *x = ezxml_add_child(old_doc, "x", 0);
    ASSERT_EQ(ezxml_cut(x), x);
    ezxml_free(old_doc);
    ezxml *doc = ezxml_new("new");
    ASSERT_EQ(ezxml_insert(x, doc, 0), x);
    EXPECT_EQ(doc->child, x);
    EXPECT_EQ(check_chains(doc), "");
    ezxml_free(doc);
}

TEST_F(Cut, CuttingTwiceChangesNothingMore) {
    ASSERT_EQ(ezxml_cut(b1), b1);
    ASSERT_EQ(ezxml_cut(b1), b1);
    EXPECT_EQ(check_chains(root), "");
    EXPECT_EQ(ordered_children(root), (std::vector<ezxml *>{a0, a2, c3, b4}));
    ezxml_free(b1);
}

TEST(CutRoot, OnlyClearsItsLinks) {
    ezxml *root = ezxml_new("r");
    ezxml *c = ezxml_add_child(root, "c", 0);
    EXPECT_EQ(ezxml_cut(root), root);
    EXPECT_EQ(root->child, c);
    EXPECT_EQ(check_chains(root), "");
    EXPECT_EQ(ezxml_cut(nullptr), nullptr);
    ezxml_free(root);
}

// --- text ----------------------------------------------------------------

TEST(SetText, OwnedTextIsFreedWhenReplaced) {
    ezxml *root = ezxml_new("r");
    EXPECT_EQ(ezxml_set_txt(root, strdup("first")), root);
    ezxml_set_flag(root, EZXML_TEXT_OWNED);
    EXPECT_EQ(ezxml_set_txt(root, "second"), root); // frees "first"
    EXPECT_STREQ(root->text, "second");
    EXPECT_EQ(root->flags & EZXML_TEXT_OWNED, 0);
    ezxml_set_txt(root, strdup("third"));
    EXPECT_EQ(root->flags & EZXML_TEXT_OWNED, 0); // not owned until flagged
    char *third = root->text;
    ezxml_set_flag(root, EZXML_TEXT_OWNED);
    EXPECT_EQ(root->text, third);
    ezxml_free(root); // frees "third"
}

TEST(SetText, SameOwnedTextAgainIsKept) {
    ezxml *root = ezxml_new("r");
    ezxml_set_flag(ezxml_set_txt(root, strdup("kept")), EZXML_TEXT_OWNED);
    EXPECT_EQ(ezxml_set_txt(root, root->text), root);
    EXPECT_STREQ(root->text, "kept");
    EXPECT_NE(root->flags & EZXML_TEXT_OWNED, 0);
    ezxml_free(root);
}

TEST(SetText, NullArgumentsYieldNull) {
    EXPECT_EQ(ezxml_set_txt(nullptr, "x"), nullptr);
    ezxml *root = ezxml_new("r");
    EXPECT_EQ(ezxml_set_txt(root, nullptr), nullptr);
    EXPECT_STREQ(root->text, "");
    ezxml_free(root);
}

TEST(SetFlag, OrsTheLow16Bits) {
    EXPECT_EQ(ezxml_set_flag(nullptr, EZXML_NAME_OWNED), nullptr);
    ezxml *root = ezxml_new(strdup("owned-name"));
    EXPECT_EQ(ezxml_set_flag(root, 0x10000u | EZXML_NAME_OWNED), root);
    EXPECT_EQ(root->flags, EZXML_NAME_OWNED);
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    EXPECT_EQ(root->flags, EZXML_NAME_OWNED | EZXML_ARGS_OWNED);
    ezxml_free(root); // frees the name
}

TEST(OwnedName, ChildNameHandedOverIsFreed) {
    heap_balance heap;
    ezxml *root = ezxml_new("r");
    ezxml_set_flag(ezxml_add_child(root, strdup("heap-name"), 0), EZXML_NAME_OWNED);
    ezxml_free(root);
    EXPECT_EQ(heap.change(), 0);
}

// --- attributes ----------------------------------------------------------

std::string ownership_of(ezxml *e) {
    char **list = e->attributes;
    size_t i = 0;
    while (list[i]) {
        i += 2;
    }
    return list[i + 1];
}

TEST(SetAttr, RemovingAMissingAttributeChangesNothing) {
    EXPECT_EQ(ezxml_set_attr(nullptr, "a", "1"), nullptr);
    ezxml *root = ezxml_new("r");
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    EXPECT_EQ(ezxml_set_attr(root, "missing", nullptr), root);
    EXPECT_EQ(root->attributes, EZXML_NIL); // nothing allocated
    EXPECT_NE(root->flags & EZXML_ARGS_OWNED, 0);
    root->flags = 0;
    ezxml_free(root);
}

TEST(SetAttr, FirstAttributeBuildsTheList) {
    ezxml *root = ezxml_new("r");
    EXPECT_EQ(ezxml_set_attr(root, "name", "value"), root);
    char **list = root->attributes;
    ASSERT_NE(list, EZXML_NIL);
    EXPECT_STREQ(list[0], "name");
    EXPECT_STREQ(list[1], "value");
    EXPECT_EQ(list[2], nullptr);
    EXPECT_STREQ(list[3], " ");
    EXPECT_STREQ(ezxml_attr(root, "name"), "value");
    ezxml_free(root);
}

TEST(SetAttr, OwningFirstAttributeIsMarkedNameAndValueOwned) {
    ezxml *root = ezxml_new("r");
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    EXPECT_EQ(ezxml_set_attr(root, strdup("name"), strdup("value")), root);
    EXPECT_EQ(root->flags & EZXML_ARGS_OWNED, 0);
    EXPECT_EQ(ownership_of(root), "\xC0");
    EXPECT_EQ(check_attribute_list(root->attributes), "");
    ezxml_free(root); // frees both strings
}

TEST(SetAttr, ReplacingAnOwnedValueFreesItAndOwningFreesTheGivenName) {
    ezxml *root = ezxml_new("r");
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    ezxml_set_attr(root, strdup("k"), strdup("old"));
    char *list_name = root->attributes[0];
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    ezxml_set_attr(root, strdup("k"), strdup("new")); // frees "old" and this "k"
    EXPECT_EQ(root->attributes[0], list_name);
    EXPECT_STREQ(ezxml_attr(root, "k"), "new");
    EXPECT_EQ(ownership_of(root), "\xC0");
    ezxml_set_attr(root, "k", "caller's"); // frees "new"; value no longer owned
    EXPECT_STREQ(ezxml_attr(root, "k"), "caller's");
    EXPECT_EQ(ownership_of(root), "\x80");
    ezxml_free(root); // frees the name only
}

TEST(SetAttr, OwningWithTheListsOwnStringsFreesNothingInUse) {
    ezxml *root = ezxml_new("r");
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    ezxml_set_attr(root, strdup("k"), strdup("v"));
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    EXPECT_EQ(ezxml_set_attr(root, root->attributes[0], root->attributes[1]), root);
    EXPECT_STREQ(ezxml_attr(root, "k"), "v");
    EXPECT_EQ(ownership_of(root), "\xC0");
    ezxml_free(root);
}

// Handing over the very strings the pair already holds, which the list did
// not own yet: the list takes them over (the sanitizer build reports a leak
// otherwise).
TEST(SetAttr, OwningTheStringsThePairAlreadyHoldsTakesThemOver) {
    ezxml *root = ezxml_new("r");
    char *name = strdup("k");
    char *value = strdup("v");
    ezxml_set_attr(root, name, value); // not owned
    EXPECT_EQ(ownership_of(root), " ");
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    EXPECT_EQ(ezxml_set_attr(root, name, value), root);
    EXPECT_EQ(root->flags & EZXML_ARGS_OWNED, 0);
    EXPECT_EQ(root->attributes[0], name);
    EXPECT_STREQ(ezxml_attr(root, "k"), "v");
    // Both bits are set in the pair's byte (a space before): 0x20 | 0xC0.
    EXPECT_EQ(ownership_of(root), "\xE0");
    EXPECT_EQ(check_attribute_list(root->attributes), "");
    ezxml_free(root); // frees both
}

TEST(SetAttr, OwningTheValueThePairAlreadyHoldsUnderAnotherName) {
    ezxml *root = ezxml_new("r");
    char *value = strdup("v");
    ezxml_set_attr(root, "k", value); // not owned
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    ezxml_set_attr(root, strdup("k"), value); // the given name is freed at once
    EXPECT_EQ(ownership_of(root), "`");       // 0x40 set in the space that was there
    EXPECT_STREQ(ezxml_attr(root, "k"), "v");
    ezxml_free(root); // frees the value
}

TEST(SetAttr, UpdatingAParsedValueKeepsOneByteInPairOrder) {
    ezxml *root = ezxml_new("r");
    // As the parser leaves <r a="1" b="&amp;" c="3">: b's value was copied.
    char **list = static_cast<char **>(malloc(8 * sizeof(char *)));
    list[0] = lit("a");
    list[1] = lit("1");
    list[2] = lit("b");
    list[3] = strdup("&");
    list[4] = lit("c");
    list[5] = lit("3");
    list[6] = nullptr;
    list[7] = strdup(" @ ");
    root->attributes = list;
    EXPECT_EQ(ezxml_set_attr(root, "b", "plain"), root); // frees the copy
    EXPECT_EQ(ownership_of(root), "   ");
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    ezxml_set_attr(root, strdup("d"), strdup("4"));
    EXPECT_EQ(ownership_of(root), std::string("   \xC0"));
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    ezxml_set_attr(root, strdup("a"), strdup("one")); // value now owned
    EXPECT_EQ(ownership_of(root), std::string("`  \xC0"));
    EXPECT_STREQ(ezxml_attr(root, "a"), "one");
    EXPECT_STREQ(ezxml_attr(root, "b"), "plain");
    EXPECT_STREQ(ezxml_attr(root, "d"), "4");
    EXPECT_EQ(check_attribute_list(root->attributes), "");
    ezxml_free(root);
}

// The same steps on lists that the parser made, and a caller releasing a
// parsed element's list itself.
TEST(SetAttr, ParsedListsTakeUpdatesAdditionsRemovalsAndRelease) {
    std::string text = "<!DOCTYPE r [<!ENTITY l \"a longer text\">]>"
                       "<r><e a=\"1\" b=\"&l;\" c=\"3\"/><f x=\"1\" y=\"2\"/><g k=\"v\"/></r>";
    std::vector<char> buffer(text.begin(), text.end());
    ezxml *root = ezxml_parse_str(buffer.data(), buffer.size());
    ezxml *e = ezxml_child(root, "e");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(ownership_of(e), " @ ");

    EXPECT_EQ(ezxml_set_attr(e, "b", nullptr), e); // frees the decoded copy
    EXPECT_EQ(ownership_of(e), "  ");
    EXPECT_EQ(check_attribute_list(e->attributes), "");
    ezxml_set_flag(e, EZXML_ARGS_OWNED);
    ezxml_set_attr(e, strdup("d"), strdup("4"));
    EXPECT_EQ(ownership_of(e), std::string("  \xC0"));
    EXPECT_EQ(ezxml_set_attr(e, "a", nullptr), e);
    EXPECT_EQ(ownership_of(e), std::string(" \xC0"));
    EXPECT_STREQ(ezxml_attr(e, "c"), "3");
    EXPECT_STREQ(ezxml_attr(e, "d"), "4");
    EXPECT_EQ(check_attribute_list(e->attributes), "");

    ezxml *f = ezxml_child(root, "f");
    ezxml_set_attr(f, "x", nullptr);
    ezxml_set_attr(f, "y", nullptr);
    EXPECT_EQ(ownership_of(f), "");
    EXPECT_EQ(ezxml_attr(f, "y"), nullptr);
    ezxml_set_attr(f, "z", "3");
    EXPECT_STREQ(ezxml_attr(f, "z"), "3");
    EXPECT_EQ(check_attribute_list(f->attributes), "");

    ezxml *g = ezxml_child(root, "g");
    char **list = g->attributes;
    g->attributes = EZXML_NIL;
    ezxml_free_attr(list);
    ezxml_free(root);
}

TEST(SetAttr, RemovingTheMiddleKeepsOrderAndBytes) {
    ezxml *root = ezxml_new("r");
    ezxml_set_attr(root, "a", "1");
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    ezxml_set_attr(root, strdup("b"), strdup("2"));
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    ezxml_set_attr(root, strdup("c"), strdup("3"));
    EXPECT_EQ(ownership_of(root), std::string(" \xC0\xC0"));
    EXPECT_EQ(ezxml_set_attr(root, "b", nullptr), root); // frees "b" and "2"
    char **list = root->attributes;
    EXPECT_STREQ(list[0], "a");
    EXPECT_STREQ(list[1], "1");
    EXPECT_STREQ(list[2], "c");
    EXPECT_STREQ(list[3], "3");
    EXPECT_EQ(list[4], nullptr);
    EXPECT_EQ(ownership_of(root), std::string(" \xC0"));
    EXPECT_EQ(ezxml_attr(root, "b"), nullptr);
    ezxml_free(root); // frees "c" and "3"
}

TEST(SetAttr, RemovingEveryPairLeavesAnEmptyHeapList) {
    ezxml *root = ezxml_new("r");
    ezxml_set_attr(root, "a", "1");
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    ezxml_set_attr(root, strdup("b"), strdup("2"));
    ezxml_set_attr(root, "a", nullptr);
    ezxml_set_attr(root, "b", nullptr);
    EXPECT_NE(root->attributes, EZXML_NIL);
    EXPECT_EQ(root->attributes[0], nullptr);
    EXPECT_EQ(ownership_of(root), "");
    EXPECT_EQ(ezxml_attr(root, "a"), nullptr);
    EXPECT_EQ(ezxml_attr(root, "b"), nullptr);
    // The empty list grows again from where it stands.
    ezxml_set_attr(root, "c", "3");
    EXPECT_STREQ(ezxml_attr(root, "c"), "3");
    EXPECT_EQ(ownership_of(root), " ");
    ezxml_free(root);
}

TEST(SetAttr, OwningRemovalFreesTheGivenName) {
    ezxml *root = ezxml_new("r");
    ezxml_set_attr(root, "a", "1");
    ezxml_set_flag(root, EZXML_ARGS_OWNED);
    EXPECT_EQ(ezxml_set_attr(root, strdup("a"), nullptr), root);
    EXPECT_EQ(ezxml_attr(root, "a"), nullptr);
    EXPECT_EQ(root->flags & EZXML_ARGS_OWNED, 0);
    ezxml_free(root);
}

TEST(SetAttr, NullNameIsRefused) {
    ezxml *root = ezxml_new("r");
    EXPECT_EQ(ezxml_set_attr(root, nullptr, "v"), nullptr);
    EXPECT_EQ(root->attributes, EZXML_NIL);
    ezxml_free(root);
}

TEST(SetAttr, ManyPairsGrowOneAtATime) {
    ezxml *root = ezxml_new("r");
    std::vector<std::string> names;
    for (int i = 0; i < 200; ++i) {
        names.push_back("n" + std::to_string(i));
    }
    for (int i = 0; i < 200; ++i) {
        ezxml_set_flag(root, EZXML_ARGS_OWNED);
        ezxml_set_attr(root, strdup(names[i].c_str()), strdup(names[i].c_str()));
    }
    for (int i = 0; i < 200; i += 2) {
        ezxml_set_attr(root, names[i].c_str(), nullptr);
    }
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(ezxml_attr(root, names[i].c_str()) != nullptr, i % 2 == 1) << i;
    }
    EXPECT_EQ(ownership_of(root), std::string(100, '\xC0'));
    ezxml_free(root);
}

TEST(FreeAttr, NullAndTheSharedEmptyListAreLeftAlone) {
    ezxml_free_attr(nullptr);
    ezxml_free_attr(EZXML_NIL);
    EXPECT_EQ(EZXML_NIL[0], nullptr);
}

TEST(FreeAttr, FreesExactlyWhatTheBytesMark) {
    heap_balance heap;
    char **list = static_cast<char **>(malloc(10 * sizeof(char *)));
    list[0] = strdup("owned-name");
    list[1] = lit("caller's value");
    list[2] = lit("caller's name");
    list[3] = strdup("owned value");
    list[4] = strdup("both");
    list[5] = strdup("both");
    list[6] = lit("neither");
    list[7] = lit("neither");
    list[8] = nullptr;
    list[9] = strdup("\x80@\xC0 ");
    ezxml_free_attr(list);
    // Freeing a caller's string would abort; leaving an owned one would not.
    EXPECT_EQ(heap.change(), 0);
}

// --- freeing -------------------------------------------------------------

TEST(Free, NullIsLeftAlone) {
    heap_balance heap;
    ezxml_free(nullptr);
    EXPECT_EQ(heap.change(), 0);
}

TEST(Free, HandBuiltDocumentNeverFreesCallerStrings) {
    static char caller_text[] = "caller's";
    ezxml *root = ezxml_new("r");
    ezxml_document *doc = as_document(root);
    // Tables filled by hand with the caller's strings: nothing was parsed,
    // so none of them is the document's to free.
    char **entities = static_cast<char **>(realloc(doc->entities, 13 * sizeof(char *)));
    entities[10] = lit("mine;");
    entities[11] = caller_text;
    entities[12] = nullptr;
    doc->entities = entities;
    char **list = static_cast<char **>(malloc(5 * sizeof(char *)));
    list[0] = lit("r");
    list[1] = lit("k");
    list[2] = caller_text;
    list[3] = lit(" ");
    list[4] = nullptr;
    char ***table = static_cast<char ***>(malloc(2 * sizeof(char **)));
    table[0] = list;
    table[1] = nullptr;
    doc->default_attributes = table;
    ezxml *c = ezxml_add_child(root, "c", 0);
    ezxml_set_txt(c, caller_text);
    ezxml_set_attr(c, "k", caller_text);
    EXPECT_STREQ(ezxml_attr(root, "k"), "caller's");
    ezxml_free(root);
    EXPECT_STREQ(caller_text, "caller's");
}

TEST(Free, ParsedDocumentFreesItsAllocationsOutsideTheWorkArea) {
    heap_balance heap;
    ezxml *root = ezxml_new(nullptr);
    ezxml_document *doc = as_document(root);
    char *buffer = strdup("<r>entity default</r>");
    doc->source = buffer;
    doc->source_length = static_cast<size_t>(-1); // as the loaders mark it
    doc->utf8_copy = strdup("converted");
    doc->work_start = buffer;
    doc->work_end = buffer + strlen(buffer);
    root->name = buffer + 1;
    char **entities = static_cast<char **>(realloc(doc->entities, 15 * sizeof(char *)));
    entities[10] = buffer + 3;
    entities[11] = buffer + 3; // in the work area: not freed
    entities[12] = buffer + 10;
    entities[13] = strdup("expanded"); // outside: freed
    entities[14] = nullptr;
    doc->entities = entities;
    char **list = static_cast<char **>(malloc(8 * sizeof(char *)));
    list[0] = buffer + 1;
    list[1] = buffer + 3;
    list[2] = buffer + 10; // in the work area
    list[3] = lit(" ");
    list[4] = buffer + 5;
    list[5] = strdup("decoded"); // outside: freed
    list[6] = lit("*");
    list[7] = nullptr;
    char ***table = static_cast<char ***>(malloc(2 * sizeof(char **)));
    table[0] = list;
    table[1] = nullptr;
    doc->default_attributes = table;
    char **entry = static_cast<char **>(malloc(4 * sizeof(char *)));
    entry[0] = buffer + 1;
    entry[1] = buffer + 3;
    entry[2] = nullptr;
    entry[3] = strdup("<");
    char ***instructions = static_cast<char ***>(malloc(2 * sizeof(char **)));
    instructions[0] = entry;
    instructions[1] = nullptr;
    doc->instructions = instructions;
    ezxml_free(root);
    EXPECT_EQ(heap.change(), 0);
}

TEST(Free, CallersSourceIsNotFreed) {
    char buffer[] = "<r/>";
    ezxml *root = ezxml_new(nullptr);
    ezxml_document *doc = as_document(root);
    doc->source = buffer;
    doc->work_start = buffer;
    doc->work_end = buffer + 4;
    ezxml_free(root);
    EXPECT_STREQ(buffer, "<r/>");
}

TEST(Free, EmptyHeapTablesAreFreed) {
    heap_balance heap;
    ezxml *root = ezxml_new("r");
    ezxml_document *doc = as_document(root);
    doc->default_attributes = static_cast<char ***>(calloc(1, sizeof(char **)));
    doc->instructions = static_cast<char ***>(calloc(1, sizeof(char **)));
    ezxml_free(root);
    EXPECT_EQ(heap.change(), 0);
}

TEST(Free, CutElementFreedAfterItsDocument) {
    heap_balance heap;
    ezxml *root = ezxml_new("r");
    ezxml *c = ezxml_add_child(root, "c", 0);
    ezxml_add_child(c, "d", 0);
    ezxml_cut(c);
    ezxml_free(root);
    ezxml_free(c);
    EXPECT_EQ(heap.change(), 0);
}

// Parsed elements are freed one by one too: cut out of a large document,
// some freed before it, some after it, some first moved into another one,
// in an order unrelated to the order they were parsed in.
TEST(Free, ParsedElementsCutAndFreedInAnyOrder) {
    std::string text = "<r>";
    for (int i = 0; i < 5000; ++i) {
        text += "<e n=\"" + std::to_string(i) + "\"><f/></e>";
    }
    text += "</r>";
    std::vector<char> buffer(text.begin(), text.end());
    ezxml *root = ezxml_parse_str(buffer.data(), buffer.size());
    ASSERT_STREQ(ezxml_error(root), "");

    std::vector<ezxml *> cut;
    int i = 0;
    for (ezxml *e = ezxml_child(root, "e"); e;) {
        ezxml *next = e->next;
        if (i++ % 7 == 3) {
            cut.push_back(ezxml_cut(e));
        }
        e = next;
    }
    ASSERT_EQ(cut.size(), 714u);
    EXPECT_EQ(check_chains(root), "");
    unsigned state = 12345;
    for (size_t k = cut.size() - 1; k > 0; --k) {
        state = state * 1103515245u + 12345u;
        std::swap(cut[k], cut[(state >> 8) % (k + 1)]);
    }

    ezxml *other = ezxml_new("o");
    for (size_t k = 0; k < 100; ++k) {
        ASSERT_EQ(ezxml_insert(cut[k], other, 0), cut[k]);
    }
    for (size_t k = 100; k < 400; ++k) {
        ezxml_free(cut[k]);
    }
    ezxml_free(root);
    for (size_t k = 400; k < cut.size(); ++k) {
        EXPECT_STREQ(cut[k]->name, "e");
        EXPECT_STREQ(cut[k]->child->name, "f");
        ezxml_free(cut[k]);
    }
    EXPECT_EQ(check_chains(other), "");
    EXPECT_NE(ezxml_attr(ezxml_child(other, "e"), "n"), nullptr);
    ezxml_free(other);
}

TEST(Depth, MillionDeepChainIsBuiltCheckedCutAndFreed) {
    ezxml *root = ezxml_new("r");
    ezxml *e = root;
    ezxml *half = nullptr;
    for (int i = 0; i < 1000000; ++i) {
        e = ezxml_add_child(e, "d", 0);
        ASSERT_NE(e, nullptr);
        if (i == 500000) {
            half = e;
        }
    }
    EXPECT_EQ(check_chains(root), "");
    ASSERT_EQ(ezxml_cut(half), half);
    ezxml_free(half);
    EXPECT_EQ(check_chains(root), "");
    ezxml_free(root);
}

TEST(Breadth, ManyChildrenOfOneParentStayWhole) {
    ezxml *root = ezxml_new("r");
    const char *names[] = {"a", "b", "c"};
    for (size_t i = 0; i < 3000; ++i) {
        ezxml_add_child(root, names[i % 3], i / 2);
    }
    EXPECT_EQ(check_chains(root), "");
    size_t count = 0;
    for (ezxml *a = ezxml_child(root, "a"); a; a = a->next) {
        ++count;
    }
    EXPECT_EQ(count, 1000u);
    ezxml_free(root);
}

} // namespace
