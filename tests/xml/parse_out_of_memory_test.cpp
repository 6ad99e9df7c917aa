// Parsing while the allocator fails: a document either says that it failed
// (keeping a whole partial tree) or is complete and right; it is never
// silently short of what the input held.
//
// The allocator is replaced by the test support's, which can be told to
// fail; the sanitizer builds bring their own allocator, so there the tests
// are skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/chain_check.h"
#include "support/counting_allocator.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

#if ALLOCATOR_REPLACED
// Parses text with the allocator failing after `succeeding` allocations
// (once, or from then on).
ezxml *parse_failing(std::vector<char> &buffer, long succeeding, bool once, parser_kind kind) {
    fail_allocations_after(succeeding, once);
    ezxml *root = kind == parser_kind::full ? ezxml_parse_str(buffer.data(), buffer.size())
                                            : ezxml_tag_list(buffer.data(), buffer.size());
    fail_allocations_after(-1, false);
    return root;
}

long allocations_for(const std::string &text, parser_kind kind) {
    std::vector<char> buffer(text.begin(), text.end());
    take_allocations_seen();
    ezxml *root = parse_failing(buffer, -1, false, kind);
    long seen = take_allocations_seen();
    ezxml_free(root);
    return seen;
}

void check_every_failure(const std::string &text, parser_kind kind) {
    parsed_document reference(text, kind);
    ASSERT_EQ(reference.error(), "");
    const std::string expected = describe(reference.root);
    long needed = allocations_for(text, kind);
    ASSERT_GT(needed, 3);

    int failed_parses = 0;
    for (bool once : {true, false}) {
        for (long n = 0; n <= needed; ++n) {
            std::vector<char> buffer(text.begin(), text.end());
            ezxml *root = parse_failing(buffer, n, once, kind);
            if (!root) {
                continue; // the document record itself could not be made
            }
            std::string error = ezxml_error(root);
            EXPECT_EQ(check_tree(root), "") << "after " << n << " allocations";
            if (error.empty()) {
                EXPECT_EQ(describe(root), expected) << "after " << n << " allocations";
            } else {
                EXPECT_NE(error.find("]: out of memory"), std::string::npos) << error;
                ++failed_parses;
            }
            ezxml_free(root);
        }
    }
    // The allocations the parser depends on do fail it.
    EXPECT_GT(failed_parses, 0);
}
#endif

const std::string rich_document = "<r a='1' b='2' c='3'>text<x k='v'/>more<x>in<y/>side</x>"
                                  "tail<z/><z p='q' q='r'>zz</z>end</r>";

TEST(OutOfMemory, FullParserFailsCleanly) {
#if ALLOCATOR_REPLACED
    check_every_failure(rich_document, parser_kind::full);
#else
    GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
#endif
}

TEST(OutOfMemory, Utf16InputWithoutRoomForItsCopy) {
#if ALLOCATOR_REPLACED
    std::string text = "\xFF\xFE";
    for (char c : std::string("<r>x<b/>y\xC3\xA9</r>")) {
        text += c;
        text += '\0';
    }
    check_every_failure(text, parser_kind::full);
    check_every_failure(text, parser_kind::tags_only);
#else
    GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
#endif
}

TEST(OutOfMemory, TagsOnlyParserFailsCleanly) {
#if ALLOCATOR_REPLACED
    check_every_failure("<r>text<x/>more<x>in<y/>side</x>tail<z/><z>zz</z>end</r>",
                        parser_kind::tags_only);
#else
    GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
#endif
}

TEST(OutOfMemory, ManyAttributesAndLongTextFailCleanly) {
#if ALLOCATOR_REPLACED
    std::string text = "<r";
    for (int i = 0; i < 40; ++i) {
        text += " a" + std::to_string(i) + "='v'";
    }
    text += ">";
    for (int i = 0; i < 40; ++i) {
        text += "run" + std::to_string(i) + "<c/>";
    }
    text += "</r>";
    check_every_failure(text, parser_kind::full);
#else
    GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
#endif
}

} // namespace
