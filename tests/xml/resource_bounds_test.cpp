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
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/parsers_inputs.h"
#include "bench/scaling_documents.h"
#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/bounded_parse.h"
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
    if (!p) {
        return;
    }
    heap.in_use += static_cast<long long>(malloc_usable_size(p));
    if (heap.in_use > heap.peak) {
        heap.peak = heap.in_use;
    }
}

void given_back(void *p) {
    if (p) {
        heap.in_use -= static_cast<long long>(malloc_usable_size(p));
    }
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
        for (const ezxml *c = e->child; c; c = c->ordered) {
            pending.push_back(c);
        }
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
    out.error = ezxml_error(doc);
    char *xml = ezxml_toxml(doc);
    if (s != shape::entity_chain) { // the declarations are not written out
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
    return out;
}

class ResourceBounds : public ::testing::TestWithParam<shape> {};

// Heap at its highest stays within a fixed multiple of the input, at 1 MiB
// and at 10 MiB alike: a cost that grew faster than the input would break
// the bound at the larger size.
TEST_P(ResourceBounds, HeapGrowsInProportionToTheInput) {
    if (!COUNTING_HEAP) {
        GTEST_SKIP() << "the sanitizer owns the allocator";
    }
    constexpr long long bytes_per_input_byte = 48;
    cost small = measure(GetParam(), mebibyte, true);
    cost large = measure(GetParam(), 10 * mebibyte, false);
    ASSERT_EQ(small.error, "");
    ASSERT_EQ(large.error, "");
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
    if (!COUNTING_HEAP) {
        GTEST_SKIP() << "the sanitizer owns the allocator";
    }
    for (shape s : {shape::many_attributes, shape::interrupted_text, shape::growing_references,
                    shape::huge_text}) {
        cost c = measure(s, 10 * mebibyte, false);
        ASSERT_EQ(c.error, "") << scaling::shape_name(s);
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
            while (doc->attributes[2 * pairs]) {
                ++pairs;
            }
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
            for (int k = static_cast<int>(random() % 4); k > 0; --k) {
                value += random() % 2 ? "&" + names[random() % names.size()] + ";" : "t";
            }
            dtd += "<!ENTITY " + names[random() % names.size()] + " \"" + value + "\">";
        }
        dtd += "]>";
        std::string refs;
        for (int k = static_cast<int>(random() % 6); k >= 0; --k) {
            refs += random() % 3 ? "&" + names[random() % names.size()] + ";" : " &a;b; ";
        }
        std::string text = dtd + "<r>" + refs + "</r>";
        ezxml *doc = ezxml_parse_str(text.data(), text.size());
        if (ezxml_error(doc)[0] == '\0') {
            std::string copy = refs;
            auto *d = reinterpret_cast<ezxml_document *>(doc);
            char *scanned = ezxml_decode(copy.data(), d->entities, '&');
            EXPECT_STREQ(doc->text, scanned) << text;
            ++compared;
            if (scanned != copy.data()) {
                free(scanned);
            }
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
            if (declarations > 8) {
                element += std::to_string(i);
            }
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
                if (tokens || with_default) {
                    first.emplace(std::make_pair(element, attribute),
                                  std::make_pair(tokens, with_default ? value : ""));
                }
            }
            dtd += ">";
        }
        dtd += "]>";
        std::string body = "<r>";
        for (const std::string &element : elements) {
            body += "<" + element + " a='  x  y ' c=' z '/>";
        }
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

// ------------------------------------------------ parsing within a budget

const std::string memory_error = "document exceeds its memory budget";
const std::string expansion_error = "entity expansion exceeds the document's budget";

class BoundedParse : public ::testing::Test {
  protected:
    std::string dir;

    void SetUp() override {
        char pattern[] = "/tmp/ezxml-budget-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    std::string write_file(const std::string &content) {
        std::string path = dir + "/document.xml";
        FILE *f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        EXPECT_EQ(fwrite(content.data(), 1, content.size(), f), content.size());
        fclose(f);
        return path;
    }
};

// A budgeted parse, with the heap it took at its highest beyond what was in
// use before (counted where the allocator can be counted) and the error
// text. The document stays the caller's.
struct bounded {
    ezxml *root;
    long long peak_bytes;
    char error[EZXML_ERROR_CAPACITY]; // off the heap, which is being counted
};

bounded parse_within(const std::string &path, size_t budget) {
    heap.peak = heap.in_use;
    long long before = heap.in_use;
    bounded b{parse_file_within(path.c_str(), budget), 0, {}};
    b.peak_bytes = heap.peak - before;
    snprintf(b.error, sizeof b.error, "%s", b.root ? ezxml_error(b.root) : "(no document)");
    return b;
}

std::string without_line(const std::string &error) {
    size_t colon = error.find("]: ");
    return colon == std::string::npos ? error : error.substr(colon + 3);
}

constexpr size_t daemon_budget = 24 * mebibyte;

// Documents of 8 MiB whose trees or expansions would take many times that
// (200 MB for the empty tags, 180 MB for the nesting): each ends at the
// budget with its error, without the heap ever holding more than the budget.
TEST_F(BoundedParse, HostileDocumentsEndAtTheBudget) {
    std::string bomb = "<!DOCTYPE r [<!ENTITY big \"" + std::string(8000, 'x') + "\">]><r>";
    while (bomb.size() + 10 < 8 * mebibyte) {
        bomb += "&big;";
    }
    bomb += "</r>";
    const std::vector<std::pair<const char *, std::string>> documents = {
        {"empty tags", scaling::document(shape::siblings_same_name, 8 * mebibyte)},
        {"distinct names", scaling::document(shape::siblings_many_names, 8 * mebibyte)},
        {"deep nesting", scaling::document(shape::deep_nesting, 8 * mebibyte)},
        {"many attributes", scaling::document(shape::many_attributes, 8 * mebibyte)},
        {"entity bomb", bomb},
    };
    for (const auto &[label, text] : documents) {
        bounded b = parse_within(write_file(text), daemon_budget);
        ASSERT_NE(b.root, nullptr) << label;
        std::string reason = without_line(b.error);
        EXPECT_TRUE(reason == memory_error || reason == expansion_error)
            << label << ": " << b.error;
        if (COUNTING_HEAP) {
            EXPECT_LE(b.peak_bytes, static_cast<long long>(daemon_budget)) << label;
        }
        printf("%s: %s, heap at its highest %.1f MiB\n", label, b.error,
               static_cast<double>(b.peak_bytes) / static_cast<double>(mebibyte));
        ezxml_free(b.root);
    }
}

TEST_F(BoundedParse, PartialTreeOfEmptyTagsIsSoundAndFreesCleanly) {
    std::string text = "<r>";
    while (text.size() + 4 < 8 * mebibyte) {
        text += "<a/>";
    }
    text += "</r>";
    std::string path = write_file(text);
    long long before = heap.in_use;
    bounded b = parse_within(path, daemon_budget);
    ASSERT_NE(b.root, nullptr);
    EXPECT_EQ(std::string(b.error), "[error near line 1]: " + memory_error);
    EXPECT_STREQ(b.root->name, "r");
    EXPECT_EQ(check_tree(b.root), "");
    // Every element made before the budget ran out is in the tree.
    size_t children = count_elements(b.root) - 1;
    EXPECT_GT(children, 100000u);
    EXPECT_LT(children, text.size() / 4);
    ezxml_free(b.root);
    if (COUNTING_HEAP) {
        EXPECT_EQ(heap.in_use, before) << "the document left heap behind";
    }
}

// What the device is sent: 8 MiB of nested settings with attributes and
// short texts takes about 29 MiB of heap once parsed on a 64-bit host (151
// bytes per element, and the loaded file), so 24 MiB holds such documents
// up to about 6 MiB there, and 32 MiB one of 8 MiB; with the device's 32-bit
// records, 24 MiB holds 8 MiB. Each parses exactly as without a budget.
TEST_F(BoundedParse, HonestProvisioningDocumentsParseWhole) {
    const size_t eight_mebibytes_within = sizeof(void *) == 4 ? daemon_budget : 32 * mebibyte;
    for (auto [size, budget] : {std::pair{6 * mebibyte, daemon_budget},
                                std::pair{8 * mebibyte, eight_mebibytes_within}}) {
        std::string path = write_file(inputs::provisioning(size));
        bounded b = parse_within(path, budget);
        ASSERT_NE(b.root, nullptr);
        EXPECT_EQ(std::string(b.error), "");
        if (COUNTING_HEAP) {
            EXPECT_LE(b.peak_bytes, static_cast<long long>(budget));
        }
        printf("provisioning %zu MiB within %zu MiB: heap at its highest %.1f MiB\n",
               size / mebibyte, budget / mebibyte,
               static_cast<double>(b.peak_bytes) / static_cast<double>(mebibyte));
        ezxml *unbounded = ezxml_parse_file(path.c_str());
        EXPECT_EQ(describe(b.root), describe(unbounded));
        ezxml_free(unbounded);
        ezxml_free(b.root);
    }
}

// The smallest budget a document parses within: every smaller one ends
// with the budget error and a sound partial tree, that one and larger ones
// give the whole tree. Found by bisection, assuming nothing about the
// count but that more budget never fails where less succeeded.
size_t smallest_budget(const std::string &path) {
    size_t fails = 0, succeeds = 64 * mebibyte;
    while (succeeds - fails > 1) {
        size_t middle = fails + (succeeds - fails) / 2;
        ezxml *root = parse_file_within(path.c_str(), middle);
        (ezxml_error(root)[0] ? fails : succeeds) = middle;
        ezxml_free(root);
    }
    return succeeds;
}

TEST_F(BoundedParse, TheBoundaryIsExact) {
    std::string document = "<?xml version='1.0'?>\n<!DOCTYPE r [<!ENTITY e 'expanded text'>"
                           "<!ATTLIST s kind NMTOKEN ' a  b '><?keep this?>]>\n"
                           "<r version='3.2'><s name='x' value='&e;'>text &e; &lt;</s>\n"
                           "<s name='y'/><t><![CDATA[raw]]><u/>more</t><?pi after?></r>\n";
    // The same document in UTF-16: its copy in UTF-8 is charged too.
    std::string utf16 = "\xFF\xFE";
    for (char c : document) {
        utf16 += std::string{c, '\0'};
    }
    for (const std::string &text : {document, inputs::provisioning(4096), utf16}) {
        std::string path = write_file(text);
        ezxml *reference = ezxml_parse_file(path.c_str());
        ASSERT_STREQ(ezxml_error(reference), "");
        const std::string whole = describe(reference);
        ezxml_free(reference);

        size_t budget = smallest_budget(path);
        EXPECT_GT(budget, text.size());
        printf("%zu bytes parse within %zu bytes at the least\n", text.size(), budget);
        for (size_t enough : {budget, budget + 1, 2 * budget}) {
            ezxml *root = parse_file_within(path.c_str(), enough);
            EXPECT_STREQ(ezxml_error(root), "") << enough << " of " << budget;
            EXPECT_EQ(describe(root), whole);
            ezxml_free(root);
        }
        for (size_t short_of : {budget - 1, budget - budget / 8, budget / 2, text.size(),
                                text.size() / 2, size_t{1}, size_t{0}}) {
            ezxml *root = parse_file_within(path.c_str(), short_of);
            ASSERT_NE(root, nullptr);
            EXPECT_EQ(without_line(ezxml_error(root)), memory_error) << short_of;
            EXPECT_EQ(check_tree(root), "") << short_of;
            // A budget that the loaded file alone overruns leaves no tree.
            if (short_of <= text.size()) {
                EXPECT_EQ(root->name, nullptr);
                EXPECT_STREQ(ezxml_error(root), ("[error near line 1]: " + memory_error).c_str());
            }
            ezxml_free(root);
        }
    }
}

TEST_F(BoundedParse, ReferencesToALongEntityStopBeforeTheirMemoryDoes) {
    // 20,000 references to 8000 bytes: 160 MB when expanded. The document's
    // expansion budget stops it within a few MiB of memory.
    std::string text = "<!DOCTYPE r [<!ENTITY big \"" + std::string(8000, 'x') + "\">]><r>";
    for (int i = 0; i < 20000; ++i) {
        text += "<t>&big;</t>";
    }
    text += "</r>";
    bounded b = parse_within(write_file(text), 4 * mebibyte);
    ASSERT_NE(b.root, nullptr);
    EXPECT_EQ(std::string(b.error), "[error near line 1]: " + expansion_error);
    if (COUNTING_HEAP) {
        EXPECT_LE(b.peak_bytes, static_cast<long long>(4 * mebibyte));
    }
    ezxml_free(b.root);

    // Without a memory budget, the expansion budget alone keeps it small.
    if (COUNTING_HEAP) {
        heap.peak = heap.in_use;
        long long before = heap.in_use;
        ezxml *root = ezxml_parse_str(text.data(), text.size());
        EXPECT_EQ(std::string(ezxml_error(root)), "[error near line 1]: " + expansion_error);
        EXPECT_LE(heap.peak - before, static_cast<long long>(8 * mebibyte));
        ezxml_free(root);
    }
}

TEST_F(BoundedParse, EndlessInputEndsAtTheBudget) {
    // A path that leads to a device never runs dry; without a budget its
    // reading would end only when memory does.
    bounded b = parse_within("/dev/zero", mebibyte);
    ASSERT_NE(b.root, nullptr);
    EXPECT_EQ(std::string(b.error), "[error near line 1]: " + memory_error);
    EXPECT_EQ(b.root->name, nullptr);
    ezxml_free(b.root);
}

TEST_F(BoundedParse, MissingFileGivesNoDocument) {
    EXPECT_EQ(parse_file_within((dir + "/missing.xml").c_str(), daemon_budget), nullptr);
    EXPECT_EQ(parse_file_within(nullptr, daemon_budget), nullptr);
}

} // namespace
