// Documents of 1 MiB and 10 MiB in every shape that once cost more than its
// size (deep nesting, many siblings of one name and of many names, many
// attributes on one tag, many references to a long entity, long entity
// chains, text broken up by children, one huge text) parse, serialise and
// free with heap use in proportion to their size. The program counts the
// heap through its own malloc family; the time side is shown by the scaling
// benchmark, and here by the number of reallocations where growth is
// geometric. Not in sanitizer builds: those own the allocator.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/scaling_documents.h"
#include "support/chain_check.h"
#include "xml/ezxml.h"

#if defined(__SANITIZE_ADDRESS__)
#define COUNTING_HEAP 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define COUNTING_HEAP 0
#endif
#endif
#ifndef COUNTING_HEAP
#define COUNTING_HEAP 1
#endif

namespace {

struct heap_counts {
    long long in_use = 0;
    long long peak = 0;
    size_t reallocations = 0;
};
heap_counts heap;

} // namespace

#if COUNTING_HEAP
namespace {

void taken(void *p) {
    if (!p)
        return;
    heap.in_use += static_cast<long long>(malloc_usable_size(p));
    if (heap.in_use > heap.peak)
        heap.peak = heap.in_use;
}

void given_back(void *p) {
    if (p)
        heap.in_use -= static_cast<long long>(malloc_usable_size(p));
}

} // namespace

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);

void *malloc(size_t n) {
    void *p = __libc_malloc(n);
    taken(p);
    return p;
}
void *calloc(size_t n, size_t size) {
    void *p = __libc_calloc(n, size);
    taken(p);
    return p;
}
void *realloc(void *old, size_t n) {
    long long before = old ? static_cast<long long>(malloc_usable_size(old)) : 0;
    void *p = __libc_realloc(old, n);
    if (p || n == 0) {
        heap.in_use -= before;
        taken(p);
    }
    ++heap.reallocations;
    return p;
}
void free(void *p) {
    given_back(p);
    __libc_free(p);
}
}
#endif

namespace {

using scaling::shape;

constexpr size_t mebibyte = 1 << 20;

// What one document costs: heap beyond what was in use before the parse, at
// its highest, and the reallocations the parse made.
struct cost {
    long long peak_bytes;
    size_t parse_reallocations;
    size_t elements;
    std::string error;
};

size_t count_elements(const ezxml *root) {
    size_t n = 0;
    std::vector<const ezxml *> pending{root};
    while (!pending.empty()) {
        const ezxml *e = pending.back();
        pending.pop_back();
        ++n;
        for (const ezxml *c = e->child; c; c = c->ordered)
            pending.push_back(c);
    }
    return n;
}

cost measure(shape s, size_t size, bool check_chains_too) {
    std::string text = scaling::document(s, size);
    cost out{};
    heap.peak = heap.in_use;
    long long before = heap.in_use;
    size_t reallocations = heap.reallocations;

    ezxml *doc = ezxml_parse_str(text.data(), text.size());
    out.parse_reallocations = heap.reallocations - reallocations;
    // Kept outside the heap until the heap has been checked.
    char error[EZXML_ERROR_CAPACITY];
    snprintf(error, sizeof error, "%s", ezxml_error(doc));
    char *xml = ezxml_toxml(doc);
    // The declarations are not written out, nor a text that was not kept.
    if (s != shape::entity_chain && error[0] == '\0') {
        EXPECT_GT(strlen(xml), text.size() / 4);
    }
    free(xml);
    out.peak_bytes = heap.peak - before;
    if (check_chains_too) {
        EXPECT_EQ(check_tree(doc), "");
    }
    out.elements = count_elements(doc);
    ezxml_free(doc);
    EXPECT_EQ(heap.in_use, before) << "the document left heap behind";
    out.error = error;
    return out;
}

// A long entity referenced over and over expands to 16 times the size of
// the document, twice what a document's budget pays for: it ends with that
// error, in proportion like any other shape. The rest parse whole.
std::string expected_error(shape s) {
    if (s == shape::growing_references)
        return "[error near line 1]: entity expansion exceeds the document's budget";
    return "";
}

class ResourceBounds : public ::testing::TestWithParam<shape> {};

// Heap at its highest stays within a fixed multiple of the input, at 1 MiB
// and at 10 MiB alike: a cost that grew faster than the input would break
// the bound at the larger size.
TEST_P(ResourceBounds, HeapGrowsInProportionToTheInput) {
    if (!COUNTING_HEAP)
        GTEST_SKIP() << "the sanitizer owns the allocator";
    constexpr long long bytes_per_input_byte = 48;
    cost small = measure(GetParam(), mebibyte, true);
    cost large = measure(GetParam(), 10 * mebibyte, false);
    ASSERT_EQ(small.error, expected_error(GetParam()));
    ASSERT_EQ(large.error, expected_error(GetParam()));
    EXPECT_LE(small.peak_bytes, bytes_per_input_byte * static_cast<long long>(mebibyte))
        << small.peak_bytes / static_cast<long long>(mebibyte) << " bytes per input byte";
    EXPECT_LE(large.peak_bytes, bytes_per_input_byte * 10 * static_cast<long long>(mebibyte))
        << large.peak_bytes / static_cast<long long>(mebibyte) / 10 << " bytes per input byte";
    // Nothing is lost on the way: ten times the input, about ten times the
    // elements (all but the chain and reference shapes have many).
    EXPECT_GE(large.elements, small.elements);
    printf("%s: %.1f and %.1f heap bytes per input byte at 1 and 10 MiB\n",
           scaling::shape_name(GetParam()),
           static_cast<double>(small.peak_bytes) / static_cast<double>(mebibyte),
           static_cast<double>(large.peak_bytes) / static_cast<double>(10 * mebibyte));
}

INSTANTIATE_TEST_SUITE_P(Shapes, ResourceBounds, ::testing::ValuesIn(scaling::all_shapes),
                         [](const auto &info) { return scaling::shape_name(info.param); });

// Growth that is geometric makes a logarithmic number of reallocations: an
// attribute list of a million pairs, a text gathered from a million runs,
// a text into which three million references expand.
TEST(ResourceBoundsGrowth, ReallocationsAreLogarithmic) {
    if (!COUNTING_HEAP)
        GTEST_SKIP() << "the sanitizer owns the allocator";
    for (shape s : {shape::many_attributes, shape::interrupted_text, shape::growing_references,
                    shape::huge_text}) {
        cost c = measure(s, 10 * mebibyte, false);
        ASSERT_EQ(c.error, expected_error(s)) << scaling::shape_name(s);
        EXPECT_LE(c.parse_reallocations, 200u) << scaling::shape_name(s);
        printf("%s: %zu reallocations while parsing 10 MiB\n", scaling::shape_name(s),
               c.parse_reallocations);
    }
}

// The shapes parse into the trees they describe, at a size the chain
// checker gets through quickly (also in sanitizer builds).
TEST(ResourceBoundsShapes, DocumentsParseIntoTheirTrees) {
    const size_t size = 64 << 10;
    for (shape s : scaling::all_shapes) {
        std::string text = scaling::document(s, size);
        ezxml *doc = ezxml_parse_str(text.data(), text.size());
        EXPECT_STREQ(ezxml_error(doc), "") << scaling::shape_name(s);
        EXPECT_EQ(check_tree(doc), "") << scaling::shape_name(s);
        size_t n = count_elements(doc);
        switch (s) {
        case shape::deep_nesting:
            EXPECT_EQ(n, size / 7);
            break;
        case shape::siblings_same_name:
        case shape::siblings_many_names:
        case shape::interrupted_text:
            EXPECT_GT(n, size / 10);
            break;
        case shape::many_attributes: {
            size_t pairs = 0;
            while (doc->attributes[2 * pairs])
                ++pairs;
            EXPECT_GT(pairs, size / 12);
            break;
        }
        case shape::growing_references:
            EXPECT_GT(strlen(doc->text), size * 4);
            break;
        case shape::entity_chain:
            // The document's budget pays for the whole chain, down to the
            // first entity's text.
            EXPECT_STREQ(doc->text, "x");
            break;
        case shape::huge_text:
            EXPECT_EQ(strlen(doc->text), size - 8);
            break;
        }
        ezxml_free(doc);
    }
}

// The parser finds entities through an index rather than by scanning the
// list; it must find exactly what the scan finds: the first declaration of
// a name, names with ";" inside them, references to names declared later
// or never, and chains through several entities.
TEST(ResourceBoundsShapes, IndexedEntityLookupsAgreeWithTheListScan) {
    std::mt19937 random(20261208);
    int compared = 0, refused = 0;
    const std::vector<std::string> names = {"a", "b", "c", "ab", "a;b", "x.y", "lt", "amp", "q"};
    for (int round = 0; round < 300; ++round) {
        std::string dtd = "<!DOCTYPE r [";
        int declarations = static_cast<int>(random() % 8);
        for (int i = 0; i < declarations; ++i) {
            std::string value;
            for (int k = static_cast<int>(random() % 4); k > 0; --k)
                value += random() % 2 ? "&" + names[random() % names.size()] + ";" : "t";
            dtd += "<!ENTITY " + names[random() % names.size()] + " \"" + value + "\">";
        }
        dtd += "]>";
        std::string refs;
        for (int k = static_cast<int>(random() % 6); k >= 0; --k)
            refs += random() % 3 ? "&" + names[random() % names.size()] + ";" : " &a;b; ";
        std::string text = dtd + "<r>" + refs + "</r>";
        ezxml *doc = ezxml_parse_str(text.data(), text.size());
        if (ezxml_error(doc)[0] == '\0') {
            std::string copy = refs;
            auto *d = reinterpret_cast<ezxml_document *>(doc);
            char *scanned = ezxml_decode(copy.data(), d->entities, '&');
            EXPECT_STREQ(doc->text, scanned) << text;
            ++compared;
            if (scanned != copy.data())
                free(scanned);
        } else {
            // Only a circular declaration may fail, and the list scan must
            // call the same declaration circular.
            EXPECT_NE(std::string(ezxml_error(doc)).find("circular"), std::string::npos) << text;
            ++refused;
        }
        ezxml_free(doc);
    }
    // Both outcomes were met often enough to mean something.
    EXPECT_GT(compared, 100);
    EXPECT_GT(refused, 10);
}

// The parser and the serialiser find declared attributes through an index
// rather than by scanning the table; they must find what the scan finds:
// the first declaration of an attribute for an element, across several
// declarations for one element, and only that element's.
TEST(ResourceBoundsShapes, IndexedDeclarationLookupsAgreeWithTheDeclarations) {
    std::mt19937 random(8122026);
    const std::vector<std::string> elements = {"r", "e", "f", "g"};
    const std::vector<std::string> attributes = {"a", "b", "c", "d"};
    for (int round = 0; round < 200; ++round) {
        // The model: for each (element, attribute), the first declared type
        // and whether that first declaration has a default value.
        std::map<std::pair<std::string, std::string>, std::pair<bool, std::string>> first;
        std::string dtd = "<!DOCTYPE r [";
        // Enough declarations now and then for the serialiser's index too.
        int declarations = static_cast<int>(random() % 3 ? random() % 6 : 20 + random() % 10);
        for (int i = 0; i < declarations; ++i) {
            std::string element = elements[random() % elements.size()];
            if (declarations > 8)
                element += std::to_string(i);
            dtd += "<!ATTLIST " + element;
            for (int k = 1 + static_cast<int>(random() % 3); k > 0; --k) {
                std::string attribute = attributes[random() % attributes.size()];
                bool tokens = random() % 2;
                bool with_default = random() % 2;
                std::string value = "v" + std::to_string(random() % 100);
                dtd += " " + attribute + (tokens ? " NMTOKEN" : " CDATA") +
                       (with_default ? " \"" + value + "\"" : " #IMPLIED");
                // A CDATA attribute without a default reads as if it were
                // not declared, and is not entered at all.
                if (tokens || with_default)
                    first.emplace(std::make_pair(element, attribute),
                                  std::make_pair(tokens, with_default ? value : ""));
            }
            dtd += ">";
        }
        dtd += "]>";
        std::string body = "<r>";
        for (const std::string &element : elements)
            body += "<" + element + " a='  x  y ' c=' z '/>";
        body += "</r>";
        std::string text = dtd + body;
        ezxml *doc = ezxml_parse_str(text.data(), text.size());
        ASSERT_STREQ(ezxml_error(doc), "") << text;
        for (ezxml *e = doc->child; e; e = e->ordered) {
            for (const char *attribute : {"a", "c"}) {
                auto it = first.find({e->name, attribute});
                bool collapse = it != first.end() && it->second.first;
                std::string raw = attribute[0] == 'a' ? "  x  y " : " z ";
                std::string expected = collapse ? (attribute[0] == 'a' ? "x y" : "z") : raw;
                EXPECT_EQ(ezxml_attr(e, attribute), expected) << e->name << " " << text;
            }
        }
        // Written out, each element carries the first declared default of
        // every attribute it does not have itself.
        char *xml = ezxml_toxml(doc);
        std::string written = xml;
        free(xml);
        for (const std::string &element : elements) {
            std::string tag = "\n<" + element + " a=";
            size_t at = written.find(tag);
            ASSERT_NE(at, std::string::npos) << written;
            std::string line = written.substr(at, written.find('>', at) - at);
            for (const std::string &attribute : {std::string("b"), std::string("d")}) {
                auto it = first.find({element, attribute});
                bool expected = it != first.end() && !it->second.second.empty();
                std::string piece =
                    " " + attribute + "=\"" + (expected ? it->second.second : std::string()) + "\"";
                EXPECT_EQ(line.find(piece) != std::string::npos, expected) << line << " " << text;
            }
        }
        ezxml_free(doc);
    }
}

} // namespace
