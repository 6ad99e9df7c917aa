// Decoding of texts and attribute values, and the guard against entity
// declarations that reach themselves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

// An entity list of the library's shape, built from pairs (names with ";").
struct EntityList {
    std::vector<std::string> strings;
    std::vector<char *> slots;

    EntityList(std::initializer_list<std::pair<std::string, std::string>> pairs) {
        for (const auto &[name, text] : pairs) {
            strings.push_back(name);
            strings.push_back(text);
        }
        build();
    }
    // The slots point into the strings, so they are rebuilt on every move.
    EntityList(EntityList &&other) noexcept : strings(std::move(other.strings)) { build(); }
    EntityList(const EntityList &) = delete;
    void add(const std::string &name, const std::string &text) {
        strings.push_back(name);
        strings.push_back(text);
        build();
    }
    void build() {
        slots.clear();
        for (std::string &s : strings) {
            slots.push_back(s.data());
        }
        slots.push_back(nullptr);
    }
    char **list() { return slots.data(); }
};

// The five entities every document starts with.
EntityList predefined() {
    return EntityList{{"lt;", "&#60;"},
                      {"gt;", "&#62;"},
                      {"quot;", "&#34;"},
                      {"apos;", "&#39;"},
                      {"amp;", "&#38;"}};
}

struct Decoded {
    std::string text;
    bool moved; // the result is a heap block of its own, not the input
};

// Decodes a writable copy of input; the result's bytes and whether it moved.
Decoded decode(const std::string &input, char mode, char **list) {
    std::vector<char> buffer(input.begin(), input.end());
    buffer.push_back('\0');
    char *result = ezxml_decode(buffer.data(), list, mode);
    Decoded d{result, result != buffer.data()};
    if (d.moved) {
        std::free(result);
    }
    return d;
}

std::string decode_text(const std::string &input, char mode = '&') {
    EntityList entities = predefined();
    return decode(input, mode, entities.list()).text;
}

TEST(LineEnds, CrLfAndLoneCrBecomeOneLfInEveryMode) {
    for (char mode : {'&', 'c', '%', 'x'}) {
        EXPECT_EQ(decode_text("a\r\nb\rc", mode), "a\nb\nc") << mode;
        EXPECT_EQ(decode_text("\r\r\n", mode), "\n\n") << mode;
        EXPECT_EQ(decode_text("x\r", mode), "x\n") << mode;
        EXPECT_EQ(decode_text("\n\r", mode), "\n\n") << mode;
    }
}

TEST(LineEnds, AttributeModesThenTurnTheLineFeedsIntoSpaces) {
    EXPECT_EQ(decode_text("a\r\nb\rc", ' '), "a b c");
    EXPECT_EQ(decode_text("\r\r\n", ' '), "  ");
    EXPECT_EQ(decode_text("a\r\n\rb", '*'), "a b");
}

TEST(LineEnds, CharacterReferenceToCarriageReturnStays) {
    EXPECT_EQ(decode_text("a&#13;b"), "a\rb");
    EXPECT_EQ(decode_text("a&#xD;&#10;b", ' '), "a\r\nb");
}

TEST(CharacterReferences, DecimalAndHexadecimal) {
    EXPECT_EQ(decode_text("&#65;&#x42;"), "AB");
    EXPECT_EQ(decode_text("&#x0x41;"), "A");
    EXPECT_EQ(decode_text("&# 65;"), "A");
    EXPECT_EQ(decode_text("&#x6a;"), "j");
    EXPECT_EQ(decode_text("a&#1;b"), std::string("a\x01"
                                                 "b"));
}

TEST(CharacterReferences, InvalidOnesStayAsWritten) {
    for (const char *text :
         {"&#X42;", "&#0;", "&#x0;", "&#;", "&#x;", "&#65 ", "&#x41", "&#", "&#65x;", "&#abc;"}) {
        EXPECT_EQ(decode_text(text), text);
    }
    // A valid reference after a failed one is still decoded.
    EXPECT_EQ(decode_text("&#;&#65;"), "&#;A");
}

TEST(CharacterReferences, Utf8FormsOfOneToSixBytes) {
    EXPECT_EQ(decode_text("&#127;"), "\x7f");
    EXPECT_EQ(decode_text("&#128;"), "\xC2\x80");
    EXPECT_EQ(decode_text("&#233;"), "\xC3\xA9");
    EXPECT_EQ(decode_text("&#2047;"), "\xDF\xBF");
    EXPECT_EQ(decode_text("&#x800;"), "\xE0\xA0\x80");
    EXPECT_EQ(decode_text("&#x20AC;"), "\xE2\x82\xAC");
    EXPECT_EQ(decode_text("&#xD800;"), "\xED\xA0\x80");
    EXPECT_EQ(decode_text("&#xFFFF;"), "\xEF\xBF\xBF");
    EXPECT_EQ(decode_text("&#x1F600;"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(decode_text("&#x10FFFF;"), "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(decode_text("&#x200000;"), "\xF8\x88\x80\x80\x80");
    EXPECT_EQ(decode_text("&#x4000000;"), "\xFC\x84\x80\x80\x80\x80");
}

TEST(CharacterReferences, HugeValuesReadAsTheLargestSigned32BitValue) {
    EXPECT_EQ(decode_text("&#x7FFFFFFF;"), "\xFD\xBF\xBF\xBF\xBF\xBF");
    EXPECT_EQ(decode_text("&#99999999999;"), "\xFD\xBF\xBF\xBF\xBF\xBF");
    EXPECT_EQ(decode_text("&#xFFFFFFFFFFFFFFFFFFFF;"), "\xFD\xBF\xBF\xBF\xBF\xBF");
}

TEST(CharacterReferences, NegativeValuesNeverWriteAZeroByte) {
    // -256 has the low byte 0, which would cut the text short.
    for (const char *text :
         {"a&#-256;b", "a&#-65;b", "a&#x-100;b", "a&#-0;b", "&#-2147483648;", "&#-99999999999;"}) {
        std::vector<char> buffer(text, text + std::strlen(text) + 1);
        EntityList entities = predefined();
        char *result = ezxml_decode(buffer.data(), entities.list(), '&');
        EXPECT_STREQ(result, text);
        EXPECT_EQ(std::strlen(result), std::strlen(text));
        if (result != buffer.data()) {
            std::free(result);
        }
    }
}

TEST(CharacterReferences, ProducedCharactersAreNotScannedAgain) {
    EXPECT_EQ(decode_text("&#38;lt;"), "&lt;");
    EXPECT_EQ(decode_text("&#38;#65;"), "&#65;");
    EXPECT_EQ(decode_text("&#37;p;", '%'), "%p;");
}

TEST(Modes, CharacterContent) {
    EXPECT_EQ(decode_text("&lt;b&gt;"), "<b>");
    EXPECT_EQ(decode_text("&amp;lt;"), "&lt;");
    EXPECT_EQ(decode_text("&quot;&apos;"), "\"'");
    EXPECT_EQ(decode_text("&nbsp;"), "&nbsp;");
    EXPECT_EQ(decode_text("a & b"), "a & b");
    EXPECT_EQ(decode_text("&lt"), "&lt");
    EXPECT_EQ(decode_text("a\tb\nc  "), "a\tb\nc  ");
    EXPECT_EQ(decode_text("%p;"), "%p;");
}

TEST(Modes, CdataDecodesLineEndsOnly) {
    EXPECT_EQ(decode_text("&lt;&#60;  \t", 'c'), "&lt;&#60;  \t");
    EXPECT_EQ(decode_text("a\r\nb", 'c'), "a\nb");
}

TEST(Modes, EntityValuesExpandParameterEntities) {
    EntityList parameters{{"p;", "(x)"}};
    EXPECT_EQ(decode("&lt;", '%', parameters.list()).text, "&lt;");
    EXPECT_EQ(decode("&#60;", '%', parameters.list()).text, "<");
    EXPECT_EQ(decode("a%p;b", '%', parameters.list()).text, "a(x)b");
    EXPECT_EQ(decode("%q;", '%', parameters.list()).text, "%q;");
    EXPECT_EQ(decode("&p;", '%', parameters.list()).text, "&p;");
}

TEST(Modes, CdataAttributesTurnWhiteSpaceIntoSpaces) {
    EXPECT_EQ(decode_text("a\tb\nc", ' '), "a b c");
    EXPECT_EQ(decode_text("  x  ", ' '), "  x  ");
    EXPECT_EQ(decode_text("a\r\nb", ' '), "a b");
    EXPECT_EQ(decode_text("a\v\fb", ' '), "a  b");
    EXPECT_EQ(decode_text("a&#32;&#32;b", ' '), "a  b");
    EXPECT_EQ(decode_text("a&#10;b", ' '), "a\nb");
    EXPECT_EQ(decode_text("&lt;\xA0", ' '), "<\xA0");
}

TEST(Modes, OtherAttributesAlsoCollapseAndTrimSpaces) {
    EXPECT_EQ(decode_text("  a   b  ", '*'), "a b");
    EXPECT_EQ(decode_text("a&#32;&#32;b", '*'), "a b");
    EXPECT_EQ(decode_text("a&#10;b", '*'), "a\nb");
    EXPECT_EQ(decode_text(" \t\r\n ", '*'), "");
    EXPECT_EQ(decode_text("\ta\t&#9;", '*'), "a \t");
    EXPECT_EQ(decode_text("", '*'), "");
}

TEST(Modes, UnknownModeDecodesCharacterReferencesAndLineEndsOnly) {
    EXPECT_EQ(decode_text("&#65;&lt;\t\r\n", 'x'), "A&lt;\t\n");
}

TEST(Entities, DeclaredEntitiesExpandAndTheirReferencesToo) {
    EntityList entities = predefined();
    entities.add("e;", "[&lt;&f;]");
    entities.add("f;", "&#x41;");
    EXPECT_EQ(decode("x&e;y", '&', entities.list()).text, "x[<A]y");
    EXPECT_EQ(decode("&e;", ' ', entities.list()).text, "[<A]");
    EXPECT_EQ(decode("&e", '&', entities.list()).text, "&e");
}

TEST(Entities, ThePredefinedOnesCannotBeRedefinedAndTheFirstDeclarationWins) {
    EntityList entities = predefined();
    entities.add("lt;", "LESS");
    entities.add("e;", "first");
    entities.add("e;", "second");
    EXPECT_EQ(decode("&lt;&e;", '&', entities.list()).text, "<first");
}

TEST(Entities, InsertedTextIsScannedTogetherWithWhatFollowsIt) {
    EntityList entities = predefined();
    entities.add("a;", "&am");
    entities.add("h;", "&#6");
    EXPECT_EQ(decode("&a;p;", '&', entities.list()).text, "&");
    EXPECT_EQ(decode("&h;5;", '&', entities.list()).text, "A");
}

TEST(Entities, WhiteSpaceInsertedByEntitiesIsNormalisedInAttributes) {
    EntityList entities = predefined();
    entities.add("ws;", " \t a \n ");
    EXPECT_EQ(decode("[&ws;]", ' ', entities.list()).text, "[   a   ]");
    EXPECT_EQ(decode("&ws;b", '*', entities.list()).text, "a b");
}

TEST(Ownership, ShorterOrEqualReplacementsStayInPlace) {
    EntityList entities = predefined();
    entities.add("long;", "xy");
    Decoded d = decode("&amp;&quot;&apos;&long;&#65;", '&', entities.list());
    EXPECT_EQ(d.text, "&\"'xyA");
    EXPECT_FALSE(d.moved);
    EXPECT_FALSE(decode("plain text\r\n", '*', entities.list()).moved);
}

TEST(Ownership, ALongerReplacementMovesTheTextToAHeapBlock) {
    EntityList entities = predefined();
    entities.add("e;", "a much longer replacement");
    Decoded d = decode("&e;", '&', entities.list());
    EXPECT_EQ(d.text, "a much longer replacement");
    EXPECT_TRUE(d.moved);
    // "&lt;" is replaced by the five bytes "&#60;" before that is decoded.
    EXPECT_TRUE(decode("&lt;", '&', entities.list()).moved);
    EXPECT_TRUE(decode("&#65;&#65;&#65;&lt;", '&', entities.list()).moved);
}

// A document's own list starts with the predefined entities as every
// document has them, which the decoder recognises without a search. The
// same texts decoded through an equal list of other strings (which it must
// search) give the same bytes, in place or moved alike.
TEST(Entities, DocumentListDecodesAsAnEqualListOfOtherStrings) {
    ezxml *root = ezxml_new("r");
    char **own = reinterpret_cast<ezxml_document *>(root)->entities;
    EntityList equal = predefined();
    const char *pieces[] = {"&lt;", "&gt;", "&amp;", "&quot;", "&apos;",   "&l",
                            "&lt",  "&am",  "&#65;", "&#x3c;", "a",        " ",
                            "\t",   "\r\n", "&",     "&&",     "&amp;lt;", "&ap"};
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string input;
        for (size_t n = random() % 8; n > 0; --n) {
            input += pieces[random() % std::size(pieces)];
        }
        for (char mode : {'&', ' ', '*', '%', 'x'}) {
            Decoded fast = decode(input, mode, own);
            Decoded searched = decode(input, mode, equal.list());
            ASSERT_EQ(fast.text, searched.text) << input << " mode " << mode;
            ASSERT_EQ(fast.moved, searched.moved) << input << " mode " << mode;
        }
    }
    ezxml_free(root);
}

TEST(Ownership, TheCallersStringIsNotWrittenPastItsTerminator) {
    EntityList entities = predefined();
    entities.add("e;", "a much longer replacement");
    std::string input = "ab&e;cd&e;";
    std::vector<char> buffer(input.begin(), input.end());
    buffer.push_back('\0');
    buffer.push_back('#'); // a guard byte behind the terminator
    char *result = ezxml_decode(buffer.data(), entities.list(), '&');
    ASSERT_NE(result, buffer.data());
    EXPECT_STREQ(result, "aba much longer replacementcda much longer replacement");
    EXPECT_EQ(buffer.back(), '#');
    std::free(result);
}

TEST(Growth, ManyGrowingReferencesAllExpand) {
    EntityList entities = predefined();
    entities.add("e;", "0123456789");
    std::string input, expected;
    for (int i = 0; i < 20000; ++i) {
        input += "&e;|";
        expected += "0123456789|";
    }
    Decoded d = decode(input, '&', entities.list());
    EXPECT_TRUE(d.moved);
    EXPECT_EQ(d.text, expected);
}

// Ten entities, each ten references to the one before: "&lol9;" alone would
// expand to three thousand million bytes.
EntityList laughs(const std::string &leaf) {
    EntityList entities = predefined();
    entities.add("lol0;", leaf);
    for (int level = 1; level <= 9; ++level) {
        std::string text;
        for (int i = 0; i < 10; ++i) {
            text += "&lol" + std::to_string(level - 1) + ";";
        }
        entities.add("lol" + std::to_string(level) + ";", text);
    }
    return entities;
}

constexpr size_t allowance = 8192;
constexpr size_t per_input_byte = 8;

TEST(ExpansionLimit, BillionLaughsStopsAtTheBoundAndLeavesTheRestUnexpanded) {
    EntityList entities = laughs("lol");
    std::string input = "<&lol9;>";
    Decoded d = decode(input, '&', entities.list());
    EXPECT_LE(d.text.size(), input.size() * (per_input_byte + 1) + allowance);
    EXPECT_GT(d.text.size(), 1000u);
    EXPECT_EQ(d.text.substr(0, 10), "<lollollol");
    EXPECT_NE(d.text.find("&lol"), std::string::npos);
    EXPECT_EQ(d.text.back(), '>');
}

TEST(ExpansionLimit, EmptyLeavesAlsoStop) {
    // Nothing is ever output, but each expansion still counts.
    EntityList entities = laughs("");
    Decoded d = decode("&lol9;", '&', entities.list());
    EXPECT_NE(d.text.find("&lol"), std::string::npos);
    EXPECT_LE(d.text.size(), allowance);
}

TEST(ExpansionLimit, OnceReachedLaterReferencesStayToo) {
    EntityList entities = laughs("lol");
    Decoded d = decode("&lol9;&lt;&#65;", '&', entities.list());
    // Character references never expand anything and are still decoded.
    EXPECT_EQ(d.text.substr(d.text.size() - 5), "&lt;A");
}

TEST(ExpansionLimit, ExpansionWithinTheBoundIsComplete) {
    EntityList entities = predefined();
    entities.add("big;", std::string(allowance - 100, 'b'));
    Decoded d = decode("&big;", '&', entities.list());
    EXPECT_EQ(d.text, std::string(allowance - 100, 'b'));
    // The bound grows with the input.
    std::string input;
    for (int i = 0; i < 2000; ++i) {
        input += "&lt;";
    }
    EXPECT_EQ(decode(input, '&', entities.list()).text, std::string(2000, '<'));
}

TEST(ExpansionLimit, SelfReferencesInAHandMadeListEnd) {
    EntityList entities{{"p;", "x%p;"}, {"e;", "y&e;"}};
    Decoded d = decode("%p;", '%', entities.list());
    EXPECT_EQ(d.text.substr(0, 4), "xxxx");
    EXPECT_NE(d.text.find("%p;"), std::string::npos);
    Decoded e = decode("&e;", '&', entities.list());
    EXPECT_EQ(e.text.substr(0, 4), "yyyy");
    EXPECT_NE(e.text.find("&e;"), std::string::npos);
}

TEST(EntityGuard, DirectAndIndirectReferences) {
    EntityList entities = predefined();
    entities.add("b;", "&a;");
    entities.add("d;", "&b;");
    char a[] = "a;";
    EXPECT_EQ(ezxml_ent_ok(a, const_cast<char *>("x&a;y"), entities.list()), 0);
    EXPECT_EQ(ezxml_ent_ok(a, const_cast<char *>("&b;"), entities.list()), 0);
    EXPECT_EQ(ezxml_ent_ok(a, const_cast<char *>("x &d; y"), entities.list()), 0);
    EXPECT_EQ(ezxml_ent_ok(a, const_cast<char *>("&c;"), entities.list()), 1);
    EXPECT_EQ(ezxml_ent_ok(a, const_cast<char *>("%a;"), entities.list()), 1);
    EXPECT_EQ(ezxml_ent_ok(a, const_cast<char *>("&#97;&lt;a;"), entities.list()), 1);
    EXPECT_EQ(ezxml_ent_ok(a, const_cast<char *>(""), entities.list()), 1);
    char ab[] = "ab;";
    EXPECT_EQ(ezxml_ent_ok(ab, const_cast<char *>("&a;"), entities.list()), 1);
}

TEST(EntityGuard, EndsOnAListThatAlreadyHoldsACycle) {
    EntityList entities{{"x;", "&y;"}, {"y;", "&x;"}};
    char z[] = "z;";
    EXPECT_EQ(ezxml_ent_ok(z, const_cast<char *>("&x;"), entities.list()), 1);
    char y[] = "y;";
    EXPECT_EQ(ezxml_ent_ok(y, const_cast<char *>("&x;"), entities.list()), 0);
}

TEST(EntityGuard, LongChain) {
    EntityList entities = predefined();
    entities.add("e0;", "&top;");
    for (int i = 1; i < 5000; ++i) {
        entities.add("e" + std::to_string(i) + ";", "-&e" + std::to_string(i - 1) + ";-");
    }
    char top[] = "top;";
    char other[] = "other;";
    EXPECT_EQ(ezxml_ent_ok(top, const_cast<char *>("&e4999;"), entities.list()), 0);
    EXPECT_EQ(ezxml_ent_ok(other, const_cast<char *>("&e4999;"), entities.list()), 1);
}

TEST(EntityGuard, WideFanOutIsAnsweredWithoutFollowingEveryPath) {
    // Each level references the one below twice: 2^60 paths, 61 texts.
    EntityList entities = predefined();
    entities.add("f0;", "leaf &target;");
    for (int i = 1; i <= 60; ++i) {
        std::string below = "&f" + std::to_string(i - 1) + ";";
        entities.add("f" + std::to_string(i) + ";", below + " " + below);
    }
    char target[] = "target;";
    char other[] = "other;";
    EXPECT_EQ(ezxml_ent_ok(other, const_cast<char *>("&f60;"), entities.list()), 1);
    EXPECT_EQ(ezxml_ent_ok(target, const_cast<char *>("&f60;"), entities.list()), 0);
}

TEST(HostileText, RandomReferencesStayWithinTheirBufferAndBound) {
    // Pieces of references, broken and whole, against a list that holds
    // nesting, self-reaching and growing entities.
    static const char *pieces[] = {"&",  "#",    "x",   "X",    "-",     "0",     "9",
                                   "65", "FFFF", ";",   "%",    "e;",    "p;",    "lt;",
                                   "&#", "&#x",  "&e;", "%p;",  "&lt;",  "\r",    "\n",
                                   "\t", " ",    "a",   "\xC3", "&big;", "&self;"};
    EntityList entities = predefined();
    entities.add("e;", "[&lt;&e2;]");
    entities.add("e2;", "&#x20AC;&#-256;");
    entities.add("p;", "%p;%p;");
    entities.add("self;", "&self;&self;");
    entities.add("big;", std::string(3000, 'B'));
    std::mt19937 random(3);
    auto below = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    size_t moved = 0;
    for (int round = 0; round < 5000; ++round) {
        std::string input;
        for (size_t n = below(30); n; --n) {
            input += pieces[below(std::size(pieces))];
        }
        char mode = "&c *%x"[below(6)];
        SCOPED_TRACE(input + " in mode " + mode);
        // The exact bytes and a guard behind the terminator.
        char *buffer = static_cast<char *>(std::malloc(input.size() + 2));
        std::memcpy(buffer, input.c_str(), input.size() + 1);
        buffer[input.size() + 1] = '#';
        char *result = ezxml_decode(buffer, entities.list(), mode);
        ASSERT_NE(result, nullptr);
        size_t length = std::strlen(result);
        EXPECT_LE(length, input.size() * (per_input_byte + 1) + allowance);
        EXPECT_EQ(buffer[input.size() + 1], '#');
        if (result != buffer) {
            ++moved;
            std::free(result);
        } else {
            EXPECT_LE(length, input.size());
        }
        std::free(buffer);
    }
    EXPECT_GT(moved, 500u);
}

// ------------------------------------------------- a parsed document's budget

// While a document is parsed, every decoding it does spends from one
// expansion budget of the document's own: 8 units per input byte plus
// 1 MiB, a unit being a byte inserted or a reference expanded.
constexpr size_t document_allowance = 1 << 20;
const std::string budget_error = "entity expansion exceeds the document's budget";

std::string entity_declaration(const std::string &name, const std::string &text) {
    return "<!ENTITY " + name + " \"" + text + "\">";
}

TEST(DocumentBudget, LongEntityReferencedOnceExpandsInFull) {
    // Longer than what one decoding call outside a parse may expand.
    const std::string big(9000, 'b');
    parsed_document d("<!DOCTYPE r [" + entity_declaration("big", big) +
                      "]><r a='&big;'>&big;<c>&big;</c></r>");
    ASSERT_EQ(d.error(), "");
    EXPECT_EQ(std::string(d.root->text), big);
    EXPECT_EQ(std::string(ezxml_attr(d.root, "a")), big);
    EXPECT_EQ(std::string(ezxml_child(d.root, "c")->text), big);
}

TEST(DocumentBudget, EntityOfManyPredefinedReferencesExpandsInFull) {
    std::string references;
    for (int i = 0; i < 1500; ++i) {
        references += "&lt;";
    }
    parsed_document d("<!DOCTYPE r [" + entity_declaration("lts", references) +
                      "]><r a='&lts;'>&lts;</r>");
    ASSERT_EQ(d.error(), "");
    EXPECT_EQ(std::string(d.root->text), std::string(1500, '<'));
    EXPECT_EQ(std::string(ezxml_attr(d.root, "a")), std::string(1500, '<'));
}

// 20,000 references to an entity of 8000 bytes would expand to 160 MB;
// each text on its own is small.
std::string reference_bomb(const std::string &element) {
    std::string text =
        "<!DOCTYPE r [" + entity_declaration("big", std::string(8000, 'x')) + "]><r>";
    for (int i = 0; i < 20000; ++i) {
        text += element.empty() ? "&big;" : "<" + element + ">&big;</" + element + ">";
    }
    return text + "</r>";
}

TEST(DocumentBudget, ManyReferencesInOneTextStopAtTheBudget) {
    parsed_document d(reference_bomb(""));
    EXPECT_EQ(d.error(), "[error near line 1]: " + budget_error);
    // The text that ran out is not kept.
    EXPECT_STREQ(d.root->text, "");
    EXPECT_EQ(check_tree(d.root), "");
}

TEST(DocumentBudget, IsSharedByEveryTextOfTheDocument) {
    std::string text = reference_bomb("t");
    parsed_document d(text);
    EXPECT_EQ(d.error(), "[error near line 1]: " + budget_error);
    // Every text before the one that ran out expanded in full, and together
    // they spent no more than the budget.
    size_t expanded = 0, whole = 0;
    for (ezxml *t = ezxml_child(d.root, "t"); t; t = t->next) {
        if (std::strlen(t->text) == 8000) {
            ++whole;
        }
        expanded += std::strlen(t->text);
    }
    EXPECT_EQ(expanded, whole * 8000);
    size_t budget = 8 * text.size() + document_allowance;
    EXPECT_EQ(whole, budget / 8001);
    EXPECT_EQ(check_tree(d.root), "");
}

// Each place that decodes with the document's entities spends from the same
// budget: attribute values, declared defaults, and entity values that
// parameter entities make long.
TEST(DocumentBudget, AttributeValuesDefaultsAndEntityValuesSpendItToo) {
    const std::string dtd_head =
        "<!DOCTYPE r [" + entity_declaration("big", std::string(8000, 'x'));
    std::string values = dtd_head + "]><r>";
    for (int i = 0; i < 400; ++i) {
        values += "<v a='&big;'/>";
    }
    parsed_document attributes(values + "</r>");
    EXPECT_EQ(attributes.error(), "[error near line 1]: " + budget_error);
    EXPECT_EQ(check_tree(attributes.root), "");

    std::string defaults = dtd_head;
    for (int i = 0; i < 400; ++i) {
        defaults += "<!ATTLIST e" + std::to_string(i) + " a CDATA '&big;'>";
    }
    parsed_document declared(defaults + "]><r/>");
    EXPECT_EQ(declared.error(), "[error near line 1]: " + budget_error);

    std::string parameters = "<!DOCTYPE r [<!ENTITY % p '" + std::string(8000, 'x') + "'>";
    for (int i = 0; i < 400; ++i) {
        parameters += "<!ENTITY e" + std::to_string(i) + " '%p;'>";
    }
    parsed_document entity_values(parameters + "]><r/>");
    EXPECT_EQ(entity_values.error(), "[error near line 1]: " + budget_error);

    // Each of them alone, a few times, is well within it.
    parsed_document few(dtd_head + "<!ATTLIST v b CDATA '&big;'>]><r><v a='&big;'/></r>");
    EXPECT_EQ(few.error(), "");
    EXPECT_EQ(std::strlen(ezxml_attr(ezxml_child(few.root, "v"), "b")), 8000u);
}

TEST(DocumentBudget, GrowsWithTheDocument) {
    // Expansion of up to 8 units per byte of the document is always paid
    // for: references of 3 bytes to 23 bytes each (24 units), far past the
    // fixed allowance.
    std::string text = "<!DOCTYPE r [" + entity_declaration("e", std::string(23, 'e')) + "]><r>";
    size_t references = 2 * document_allowance / 24;
    for (size_t i = 0; i < references; ++i) {
        text += "&e;";
    }
    parsed_document d(text + "</r>");
    ASSERT_EQ(d.error(), "");
    EXPECT_EQ(std::strlen(d.root->text), references * 23);
}

} // namespace
