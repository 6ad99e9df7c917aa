// Internal subsets of document type declarations and processing
// instructions: what they add to a document's entity list, default-attribute
// table and instruction table, and the errors they record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

using Entities = std::vector<std::pair<std::string, std::string>>;
using Triple = std::tuple<std::string, std::optional<std::string>, std::string>;
using Triples = std::vector<Triple>;

// The declared entities behind the five that every document starts with.
Entities declared_entities(const ezxml_document *doc) {
    Entities out;
    for (size_t i = 10; doc->entities[i]; i += 2) {
        out.emplace_back(doc->entities[i], doc->entities[i + 1]);
    }
    return out;
}

// The triples declared for element, or nullopt when it has no list.
std::optional<Triples> declared_defaults(const ezxml_document *doc, const std::string &element) {
    for (char ***table = doc->default_attributes; *table; ++table) {
        char **list = *table;
        if (element != list[0]) {
            continue;
        }
        Triples out;
        for (size_t j = 1; list[j]; j += 3) {
            out.emplace_back(list[j],
                             list[j + 1] ? std::optional<std::string>(list[j + 1]) : std::nullopt,
                             list[j + 2]);
        }
        return out;
    }
    return std::nullopt;
}

size_t table_size(char ***table) {
    size_t n = 0;
    while (table[n]) {
        ++n;
    }
    return n;
}

// The contents filed under target with their position string.
std::pair<std::vector<std::string>, std::string> instructions(const ezxml_document *doc,
                                                              const std::string &target) {
    for (char ***table = doc->instructions; *table; ++table) {
        char **entry = *table;
        if (target != entry[0]) {
            continue;
        }
        std::vector<std::string> contents;
        size_t k = 1;
        for (; entry[k]; ++k) {
            contents.push_back(entry[k]);
        }
        return {contents, entry[k + 1]};
    }
    return {};
}

// A document whose work area is one internal subset, scanned as the parser
// would: the subset is followed by the "]" that its terminator replaces.
struct Subset {
    std::vector<char> buffer;
    ezxml *root;
    ezxml_document *doc;
    int result;

    explicit Subset(const std::string &text, bool standalone = false)
        : buffer(text.begin(), text.end()) {
        buffer.push_back(']');
        root = ezxml_new(nullptr);
        doc = reinterpret_cast<ezxml_document *>(root);
        doc->work_start = buffer.data();
        doc->work_end = buffer.data() + buffer.size();
        doc->standalone = standalone;
        result = ezxml_internal_dtd(doc, buffer.data(), text.size());
    }
    ~Subset() { ezxml_free(root); }
    std::string error() const { return doc->error_text; }
};

std::string message(int line, const std::string &text) {
    return "[error near line " + std::to_string(line) + "]: " + text;
}

// ---------------------------------------------------------------- entities

TEST(EntityDeclarations, AppendToTheDocumentsList) {
    Subset s("<!ENTITY e 'v'>");
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(s.error(), "");
    EXPECT_EQ(declared_entities(s.doc), (Entities{{"e;", "v"}}));
}

TEST(EntityDeclarations, OneBlankBetweenNameAndValue) {
    // The terminator behind the name's ";" falls on the opening quote.
    Subset s("<!ENTITY a 'x'><!ENTITY b \"y\"><!ENTITY\tc\t\t'z'>");
    EXPECT_EQ(declared_entities(s.doc), (Entities{{"a;", "x"}, {"b;", "y"}, {"c;", "z"}}));
}

TEST(EntityDeclarations, ValuesAreDecodedButGeneralReferencesKept) {
    Subset s("<!ENTITY e 'a&#x42;&lt;\r\n&f;'>");
    EXPECT_EQ(declared_entities(s.doc), (Entities{{"e;", "aB&lt;\n&f;"}}));
}

TEST(EntityDeclarations, QuotesOfTheOtherKindBelongToTheValue) {
    Subset s("<!ENTITY e \"it's\"><!ENTITY f '\"q\"'>");
    EXPECT_EQ(declared_entities(s.doc), (Entities{{"e;", "it's"}, {"f;", "\"q\""}}));
}

TEST(EntityDeclarations, ParameterEntitiesFeedLaterValuesOnly) {
    Subset s("<!ENTITY % p 'x'><!ENTITY e '%p;y'><!ENTITY % q '[%p;]'><!ENTITY f '%q;'>");
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(declared_entities(s.doc), (Entities{{"e;", "xy"}, {"f;", "[x]"}}));
}

TEST(EntityDeclarations, ParameterEntityValuesThatGrowAreReleasedWithTheScan) {
    // Runs under the leak checker: the grown texts are heap blocks.
    std::string long_text(200, 'L');
    Subset s("<!ENTITY % p '" + long_text + "'><!ENTITY % q '%p;%p;'><!ENTITY e '%q;'>");
    EXPECT_EQ(declared_entities(s.doc), (Entities{{"e;", long_text + long_text}}));
}

TEST(EntityDeclarations, GrownGeneralValuesAreFreedWithTheDocument) {
    Subset s("<!ENTITY % p 'a long parameter text'><!ENTITY e '%p;%p;'>");
    ASSERT_EQ(declared_entities(s.doc).size(), 1u);
    const char *value = s.doc->entities[11];
    EXPECT_TRUE(value < s.doc->work_start || value > s.doc->work_end);
}

TEST(EntityDeclarations, ExternalAndMalformedOnesAreSkipped) {
    Subset s("<!ENTITY e SYSTEM 'e.xml'><!ENTITY f PUBLIC 'id' 'f.xml'><!ENTITY g 'ok'>");
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(s.error(), "");
    EXPECT_EQ(declared_entities(s.doc), (Entities{{"g;", "ok"}}));
}

TEST(EntityDeclarations, AValueWithoutClosingQuoteRunsToTheEndAndEndsTheScan) {
    Subset s("<!ENTITY e 'open <!ENTITY f \"x\">");
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(declared_entities(s.doc), (Entities{{"e;", "open <!ENTITY f \"x\">"}}));
}

TEST(EntityDeclarations, NamesRunningToTheEndOfTheSubsetDeclareNothing) {
    for (const char *text :
         {"<!ENTITY", "<!ENTITY ", "<!ENTITY e", "<!ENTITY % p", "<!ENTITY e ", "<!ENTITY e '"}) {
        Subset s(text);
        EXPECT_EQ(s.result, 1) << text;
        EXPECT_EQ(s.buffer.back(), '\0') << text; // only the subset's own terminator written
        if (std::string(text) == "<!ENTITY e '") {
            EXPECT_EQ(declared_entities(s.doc), (Entities{{"e;", ""}}));
        } else {
            EXPECT_TRUE(declared_entities(s.doc).empty()) << text;
        }
    }
}

TEST(EntityDeclarations, CircularOnesAreRefused) {
    Subset direct("<!ENTITY e '&e;'>");
    EXPECT_EQ(direct.result, 0);
    EXPECT_EQ(direct.error(), message(1, "circular entity declaration &e;"));
    EXPECT_TRUE(declared_entities(direct.doc).empty());

    Subset indirect("<!ENTITY a '&b;'>\n<!ENTITY b '&a;'>");
    EXPECT_EQ(indirect.result, 0);
    EXPECT_EQ(indirect.error(), message(2, "circular entity declaration &b;"));
    EXPECT_EQ(declared_entities(indirect.doc), (Entities{{"a;", "&b;"}}));

    Subset forward("<!ENTITY a '&b;'>");
    EXPECT_EQ(forward.result, 1);
}

// A name holding a ';' of its own: "&a;b;" begins with the name "a;b;", so
// x reaches a;b, which reaches x. The guard's shortcut must see that while
// the parser keeps its index of the entity list.
TEST(EntityDeclarations, CircularThroughANameWithAnInnerSemicolonIsRefused) {
    parsed_document d("<!DOCTYPE r [<!ENTITY x '&a;b;'><!ENTITY a;b '&x;'>]><r>&x;</r>");
    EXPECT_EQ(d.error(), message(1, "circular entity declaration &a;b;"));
    EXPECT_EQ(declared_entities(d.doc()), (Entities{{"x;", "&a;b;"}}));

    Subset s("<!ENTITY x '&a;b;'><!ENTITY a;b '&x;'>");
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.error(), message(1, "circular entity declaration &a;b;"));
}

// A reference ends at its first ';': the name "a;b;" matches "&a;b;", but
// only "&a;" is replaced, and "b;" stays.
TEST(EntityDeclarations, AReferenceToANameWithAnInnerSemicolonReplacesUpToItsFirstSemicolon) {
    parsed_document d("<!DOCTYPE r [<!ENTITY a;b 'X'>]><r>&a;b;</r>");
    EXPECT_EQ(d.error(), "");
    EXPECT_STREQ(d.root->text, "Xb;");

    Subset s("<!ENTITY a;b 'X'>");
    char text[] = "[&a;b;]";
    char *decoded = ezxml_decode(text, s.doc->entities, '&');
    EXPECT_STREQ(decoded, "[Xb;]");
    if (decoded != text) {
        free(decoded);
    }
}

TEST(EntityDeclarations, ScanningStopsAtTheCircularOne) {
    Subset s("<!ENTITY a '&a;'><!ENTITY b 'later'>");
    EXPECT_EQ(s.result, 0);
    EXPECT_TRUE(declared_entities(s.doc).empty());
}

TEST(EntityDeclarations, ParameterEntitiesAreCheckedForAmpersandReferencesToo) {
    Subset s("<!ENTITY % p '&p;'>");
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.error(), message(1, "circular entity declaration &p;"));
}

TEST(EntityDeclarations, ParameterEntitiesThatReachThemselvesAreRefused) {
    // Declared before it exists, "%p;" stays in p's own text and would
    // expand without end wherever p is used.
    Subset direct("<!ENTITY % p 'x%p;'><!ENTITY e '%p;'>");
    EXPECT_EQ(direct.result, 0);
    EXPECT_EQ(direct.error(), message(1, "circular entity declaration &p;"));
    EXPECT_TRUE(declared_entities(direct.doc).empty());

    Subset indirect("<!ENTITY % a '%b;'><!ENTITY % b '%a;'><!ENTITY e '%b;'>");
    EXPECT_EQ(indirect.result, 0);
    EXPECT_EQ(indirect.error(), message(1, "circular entity declaration &b;"));
}

TEST(EntityDeclarations, FirstDeclarationOfANameWins) {
    Subset s("<!ENTITY e 'one'><!ENTITY e 'two'><!ENTITY lt 'LT'>");
    char text[] = "&e;&lt;";
    char *decoded = ezxml_decode(text, s.doc->entities, '&');
    EXPECT_STREQ(decoded, "one<");
    if (decoded != text) {
        std::free(decoded);
    }
}

TEST(EntityDeclarations, ParameterEntityBillionLaughsStaysSmall) {
    std::string subset = "<!ENTITY % l0 'lol'>";
    for (int i = 1; i <= 9; ++i) {
        std::string below = "%l" + std::to_string(i - 1) + ";";
        std::string text;
        for (int k = 0; k < 10; ++k) {
            text += below;
        }
        subset += "<!ENTITY % l" + std::to_string(i) + " '" + text + "'>";
    }
    subset += "<!ENTITY e '%l9;'>";
    Subset s(subset);
    EXPECT_EQ(s.result, 1);
    Entities declared = declared_entities(s.doc);
    ASSERT_EQ(declared.size(), 1u);
    EXPECT_LT(declared[0].second.size(), 20000u);
    EXPECT_EQ(declared[0].second.substr(0, 9), "lollollol");
}

// ---------------------------------------------------------- attribute lists

TEST(AttributeLists, CdataWithoutDefaultRecordsNothing) {
    Subset s("<!ATTLIST a b CDATA #IMPLIED>");
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(s.doc->default_attributes, reinterpret_cast<char ***>(EZXML_NIL));
}

TEST(AttributeLists, OtherTypesWithoutDefaultAreRecordedForNormalisation) {
    Subset s("<!ATTLIST a b ID #IMPLIED>");
    EXPECT_EQ(declared_defaults(s.doc, "a"), (Triples{{"b", std::nullopt, "*"}}));
}

TEST(AttributeLists, DefaultsAreDecodedByTheirType) {
    Subset s("<!ATTLIST a b CDATA ' x  y '>\n<!ATTLIST c d NMTOKENS ' x  y '>");
    EXPECT_EQ(declared_defaults(s.doc, "a"), (Triples{{"b", " x  y ", " "}}));
    EXPECT_EQ(declared_defaults(s.doc, "c"), (Triples{{"d", "x y", "*"}}));
}

TEST(AttributeLists, EnumerationsNotationsAndLaterDeclarationsShareOneList) {
    Subset s("<!ATTLIST a b (x|y) 'x' c NOTATION (n) #REQUIRED>\n"
             "<!ATTLIST z q CDATA 'r'>\n"
             "<!ATTLIST a d CDATA \"z\" e CDATA #FIXED 'f'>");
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(
        declared_defaults(s.doc, "a"),
        (Triples{{"b", "x", "*"}, {"c", std::nullopt, "*"}, {"d", "z", " "}, {"e", "f", " "}}));
    EXPECT_EQ(table_size(s.doc->default_attributes), 2u);
}

TEST(AttributeLists, DefaultsExpandEntitiesDeclaredBeforeThem) {
    Subset s("<!ATTLIST a x CDATA '&e;'><!ENTITY e 'long entity text'>"
             "<!ATTLIST a y CDATA '&e;&lt;'>");
    EXPECT_EQ(declared_defaults(s.doc, "a"),
              (Triples{{"x", "&e;", " "}, {"y", "long entity text<", " "}}));
}

TEST(AttributeLists, MalformedDeclarations) {
    Subset no_default("<!ATTLIST a b CDATA>");
    EXPECT_EQ(no_default.result, 0);
    EXPECT_EQ(no_default.error(), message(1, "malformed <!ATTLIST"));

    Subset open_enumeration("\n<!ATTLIST a b (x|y 'x'>");
    EXPECT_EQ(open_enumeration.error(), message(2, "malformed <!ATTLIST"));

    Subset open_default("<!ATTLIST a b CDATA 'x>");
    EXPECT_EQ(open_default.error(), message(1, "malformed <!ATTLIST"));

    Subset name_only("<!ATTLIST a b>");
    EXPECT_EQ(name_only.error(), message(1, "malformed <!ATTLIST"));
}

TEST(AttributeLists, AMalformedDefaultAbandonsOnlyItsDeclaration) {
    Subset s("<!ATTLIST a b CDATA oops>\n<!ATTLIST a c ID 'v'><!ENTITY e 'x'>");
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.error(), message(1, "malformed <!ATTLIST"));
    EXPECT_EQ(declared_defaults(s.doc, "a"), (Triples{{"c", "v", "*"}}));
    EXPECT_EQ(declared_entities(s.doc), (Entities{{"e;", "x"}}));
}

TEST(AttributeLists, EmptyAndUnclosedDeclarations) {
    Subset empty("<!ATTLIST><!ATTLIST a>");
    EXPECT_EQ(empty.result, 1);
    EXPECT_EQ(empty.doc->default_attributes, reinterpret_cast<char ***>(EZXML_NIL));

    Subset unclosed("\n\n<!ATTLIST  \n ");
    EXPECT_EQ(unclosed.result, 0);
    EXPECT_EQ(unclosed.error(), message(4, "unclosed <!ATTLIST"));

    // An element name that runs to the end of the subset is unclosed too.
    Subset name_to_end("<!ATTLIST element");
    EXPECT_EQ(name_to_end.error(), message(1, "unclosed <!ATTLIST"));
    EXPECT_EQ(name_to_end.buffer.back(), '\0');
}

// ------------------------------------------------------- the subset as such

TEST(Subsets, OtherDeclarationsCommentsAndInstructionsAreNotRead) {
    Subset s("<!ELEMENT a (#PCDATA)><!NOTATION n SYSTEM 'n'>"
             "<!-- <!ENTITY c 'comment'> --><?pi <!ENTITY d 'pi'>?><!ENTITY e 'x'>");
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(declared_entities(s.doc), (Entities{{"e;", "x"}}));
    auto [contents, positions] = instructions(s.doc, "pi");
    EXPECT_EQ(contents, std::vector<std::string>{"<!ENTITY d 'pi'>"});
    EXPECT_EQ(positions, "<");
}

TEST(Subsets, UnclosedMarkupEndsTheScanSilently) {
    for (const char *text :
         {"<!-- open <!ENTITY e 'x'>", "<?pi open <!ENTITY e 'x'>", "<!ELEMENT a <!ENTITY e 'x'"}) {
        Subset s(text);
        EXPECT_EQ(s.result, 1) << text;
        EXPECT_TRUE(declared_entities(s.doc).empty()) << text;
    }
}

TEST(Subsets, AParameterReferenceBetweenDeclarationsStopsAllButStandaloneDocuments) {
    const std::string text = "<!ENTITY a 'x'>%p;<!ENTITY b 'y'>";
    Subset not_standalone(text);
    EXPECT_EQ(not_standalone.result, 1);
    EXPECT_EQ(declared_entities(not_standalone.doc), (Entities{{"a;", "x"}}));
    Subset standalone(text, true);
    EXPECT_EQ(declared_entities(standalone.doc), (Entities{{"a;", "x"}, {"b;", "y"}}));
}

TEST(Subsets, ADocumentBuiltByHandAdoptsTheSubsetAsItsWorkArea) {
    // Without a work area the document could not tell the values it must
    // free from the caller's text; runs under the leak checker.
    std::string text = "<!ENTITY % p 'parameter'><!ENTITY e '%p;%p;'><!ENTITY f 'in place'>"
                       "<!ATTLIST a b CDATA '&e;'>";
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(']');
    ezxml *root = ezxml_new("a");
    ezxml_document *doc = reinterpret_cast<ezxml_document *>(root);
    EXPECT_EQ(ezxml_internal_dtd(doc, buffer.data(), text.size()), 1);
    EXPECT_EQ(declared_entities(doc), (Entities{{"e;", "parameterparameter"}, {"f;", "in place"}}));
    EXPECT_STREQ(ezxml_attr(root, "b"), "parameterparameter");
    ezxml_free(root);
}

TEST(Subsets, ASubsetOutsideTheWorkAreaIsCopiedWhereItWouldOtherwiseBeFreed) {
    std::string area = "<r/>";
    std::vector<char> work(area.begin(), area.end());
    std::string text = "<!ENTITY f 'in place'><!ATTLIST a b ID ' v '>";
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(']');
    ezxml *root = ezxml_new("a");
    ezxml_document *doc = reinterpret_cast<ezxml_document *>(root);
    doc->work_start = work.data();
    doc->work_end = work.data() + work.size();
    EXPECT_EQ(ezxml_internal_dtd(doc, buffer.data(), text.size()), 1);
    EXPECT_EQ(declared_entities(doc), (Entities{{"f;", "in place"}}));
    EXPECT_STREQ(ezxml_attr(root, "b"), "v");
    ezxml_free(root); // frees the copies, never the caller's buffer
}

// --------------------------------------------------- processing instructions

struct Instruction {
    std::vector<char> buffer;
    explicit Instruction(const std::string &text) : buffer(text.begin(), text.end()) {
        buffer.push_back('?');
        buffer.push_back('>');
    }
    void file(ezxml_document *doc) { ezxml_proc_inst(doc, buffer.data(), buffer.size() - 2); }
};

TEST(ProcessingInstructions, StandaloneDeclarations) {
    struct Case {
        const char *text;
        int standalone;
    } cases[] = {{"xml version=\"1.0\" standalone=\"yes\"", 1},
                 {"xml standalone = 'yes'", 1},
                 {"xml standalone yes", 1},
                 {"xml standalone='yesterday'", 1},
                 {"xml standalone=\"no\"", 0},
                 {"xml version='1.0'", 0},
                 {"XML standalone='yes'", 0},
                 {"xml standalone=", 0}};
    for (const Case &c : cases) {
        ezxml *root = ezxml_new(nullptr);
        ezxml_document *doc = reinterpret_cast<ezxml_document *>(root);
        Instruction pi(c.text);
        pi.file(doc);
        EXPECT_EQ(doc->standalone, c.standalone) << c.text;
        EXPECT_EQ(ezxml_pi(root, "xml"), EZXML_NIL) << c.text;
        ezxml_free(root);
    }
}

TEST(ProcessingInstructions, FiledByTargetWithTheirPositions) {
    ezxml *root = ezxml_new(nullptr);
    ezxml_document *doc = reinterpret_cast<ezxml_document *>(root);
    Instruction a("t a"), b("u  x  "), c("t\tb"), d("t"), e("XML v"), f("xml-stylesheet s");
    a.file(doc);
    EXPECT_NE(doc->instructions, reinterpret_cast<char ***>(EZXML_NIL));
    EXPECT_EQ(EZXML_NIL[0], nullptr);
    b.file(doc);
    root->name = const_cast<char *>("root"); // the root's start tag has been read
    c.file(doc);
    d.file(doc);
    e.file(doc);
    f.file(doc);
    EXPECT_EQ(instructions(doc, "t"),
              (std::pair<std::vector<std::string>, std::string>{{"a", "b", ""}, "<>>"}));
    EXPECT_EQ(instructions(doc, "u"),
              (std::pair<std::vector<std::string>, std::string>{{"x  "}, "<"}));
    EXPECT_EQ(instructions(doc, "XML").first, std::vector<std::string>{"v"});
    EXPECT_EQ(instructions(doc, "xml-stylesheet").first, std::vector<std::string>{"s"});
    ASSERT_EQ(table_size(doc->instructions), 4u);
    EXPECT_STREQ(doc->instructions[0][0], "t");
    EXPECT_STREQ(doc->instructions[1][0], "u");
    root->name = nullptr;
    ezxml_free(root);
}

TEST(ProcessingInstructions, ALengthThatDoesNotFitIsIgnored) {
    // "<?>" leaves a count of -1 bytes.
    std::string text = "<?>";
    std::vector<char> buffer(text.begin(), text.end());
    ezxml *root = ezxml_new(nullptr);
    ezxml_document *doc = reinterpret_cast<ezxml_document *>(root);
    doc->work_start = buffer.data();
    doc->work_end = buffer.data() + buffer.size();
    ezxml_proc_inst(doc, buffer.data() + 2, static_cast<size_t>(-1));
    ezxml_proc_inst(doc, buffer.data() + 2, 1); // would write one past the area
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "<?>");
    EXPECT_EQ(doc->instructions, reinterpret_cast<char ***>(EZXML_NIL));
    ezxml_free(root);
}

// ------------------------------------------------------- through the parser

TEST(ParsedDocuments, DeclarationsShapeTheTree) {
    parsed_document d("<?xml version='1.0' standalone='yes'?>\n"
                      "<?app before?>\n"
                      "<!DOCTYPE r [\n"
                      "  <!ENTITY name 'World'>\n"
                      "  <!ENTITY % p 'x'>\n"
                      "  %p;\n"
                      "  <!ATTLIST r mode NMTOKEN ' fast ' label CDATA 'a &name;'>\n"
                      "  <!ATTLIST item id ID #REQUIRED>\n"
                      "]>\n"
                      "<r>Hello &name;!<item id='  7  '/><?app inside?></r><?app after?>");
    ASSERT_EQ(d.error(), "");
    EXPECT_EQ(d.doc()->standalone, 1);
    EXPECT_STREQ(d.root->text, "Hello World!");
    EXPECT_STREQ(ezxml_attr(d.root, "mode"), "fast");
    EXPECT_STREQ(ezxml_attr(d.root, "label"), "a World");
    EXPECT_STREQ(ezxml_attr(ezxml_child(d.root, "item"), "id"), "7");
    const char **app = ezxml_pi(d.root, "app");
    ASSERT_NE(app, nullptr);
    EXPECT_STREQ(app[0], "before");
    EXPECT_STREQ(app[1], "inside");
    EXPECT_STREQ(app[2], "after");
    EXPECT_EQ(app[3], nullptr);
    EXPECT_STREQ(app[4], "<>>");
    EXPECT_EQ(check_tree(d.root), "");
}

TEST(ParsedDocuments, ErrorsInTheSubsetEndTheParseWithTheirLine) {
    parsed_document circular("<!DOCTYPE r [\n<!ENTITY a '&b;'>\n<!ENTITY b '&a;'>\n]><r/>");
    EXPECT_EQ(circular.error(), message(3, "circular entity declaration &b;"));
    parsed_document malformed("<!DOCTYPE r [\n\n<!ATTLIST r a CDATA>]><r/>");
    EXPECT_EQ(malformed.error(), message(3, "malformed <!ATTLIST"));
}

TEST(ParsedDocuments, BillionLaughsEndsWithTheBudgetErrorAndStaysSmall) {
    std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        std::string below = i == 1 ? "&lol;" : "&lol" + std::to_string(i - 1) + ";";
        text += " <!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) {
            text += below;
        }
        text += "\">\n";
    }
    text += "]>\n<lolz>&lol9;</lolz>";
    // "&lol9;" would expand to 3,000 million bytes: the document's budget
    // ends the parse in the one text that holds it, which is not kept.
    parsed_document d(text);
    EXPECT_EQ(d.error(), message(14, "entity expansion exceeds the document's budget"));
    EXPECT_STREQ(d.root->name, "lolz");
    EXPECT_STREQ(d.root->text, "");
    EXPECT_EQ(check_tree(d.root), "");

    // Many elements each with the reference: the budget is the document's,
    // so the first of them already spends it, and the parse ends there.
    std::string many = text.substr(0, text.find("<lolz>")) + "<lolz>";
    for (int i = 0; i < 50; ++i) {
        many += "<l>&lol9;</l>";
    }
    many += "</lolz>";
    parsed_document m(many);
    EXPECT_EQ(m.error(), message(14, "entity expansion exceeds the document's budget"));
    ASSERT_NE(ezxml_child(m.root, "l"), nullptr);
    EXPECT_EQ(ezxml_child(m.root, "l")->next, nullptr);
    EXPECT_STREQ(ezxml_child(m.root, "l")->text, "");
}

} // namespace

namespace {

// ------------------------------------------------------------ hostile input

// Subsets made of declarations, each whole or broken off at a random point
// or with a random piece cut out or put in, so that every way of breaking
// one is met somewhere.
std::string random_subset(std::mt19937 &random) {
    static const char *declarations[] = {
        "<!ENTITY e 'v&e;'>",
        "<!ENTITY % p \"%p;x\">",
        "<!ENTITY % q 'q%p;q'>",
        "<!ENTITY e SYSTEM 'f'>",
        "<!ENTITY  f\t'&#-256;&#x41;&f;&e;'>",
        "<!ENTITY a '&b;'>",
        "<!ENTITY b '&a;'>",
        "<!ATTLIST a b CDATA 'x' c ID #IMPLIED d (x|y) \"y\" e NOTATION (n) #REQUIRED "
        "f CDATA #FIXED '&e;'>",
        "<!ATTLIST a g NMTOKENS ' &e; x '>",
        "<!-- <!ENTITY c 'x'> -->",
        "<?t c?>",
        "<!ELEMENT a (#PCDATA)>",
        "%p;",
        "\n"};
    static const char *pieces[] = {"<", ">", "'", "\"", "%", "&", "#", "(", ")", " ", ";", "\0"};
    auto below = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    std::string out;
    for (size_t n = below(8); n; --n) {
        std::string d = declarations[below(std::size(declarations))];
        switch (below(4)) {
        case 0:
            d.resize(below(d.size() + 1));
            break;
        case 1:
            d.erase(below(d.size()), 1 + below(3));
            break;
        case 2:
            d.insert(below(d.size() + 1), std::string(pieces[below(std::size(pieces))], 1));
            break;
        default:
            break;
        }
        out += d;
    }
    return out;
}

TEST(HostileSubsets, RandomFragmentsNeverReachOutsideTheSubset) {
    std::mt19937 random(7);
    int with_entities = 0, with_defaults = 0, with_errors = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = random_subset(random);
        SCOPED_TRACE(text);
        // Exactly the subset and the byte its terminator replaces, on the
        // heap, so that any access beyond is caught by the address checker.
        char *buffer = static_cast<char *>(std::malloc(text.size() + 1));
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = ']';
        ezxml *root = ezxml_new(nullptr);
        ezxml_document *doc = reinterpret_cast<ezxml_document *>(root);
        doc->work_start = buffer;
        doc->work_end = buffer + text.size() + 1;
        doc->standalone = round % 2;
        int result = ezxml_internal_dtd(doc, buffer, text.size());
        EXPECT_EQ(result, doc->error_text[0] == '\0' ? 1 : 0);
        EXPECT_EQ(buffer[text.size()], '\0');
        EXPECT_EQ(check_tree(root), "");
        with_entities += !declared_entities(doc).empty();
        with_defaults += doc->default_attributes[0] != nullptr;
        with_errors += result == 0;
        ezxml_free(root);
        std::free(buffer);
    }
    // The rounds met declarations that took effect as well as broken ones.
    EXPECT_GT(with_entities, 300);
    EXPECT_GT(with_defaults, 300);
    EXPECT_GT(with_errors, 300);
}

TEST(HostileSubsets, RandomFragmentsThroughTheParser) {
    std::mt19937 random(11);
    for (int round = 0; round < 1000; ++round) {
        std::string text = "<!DOCTYPE r [" + random_subset(random) + "]><r a='&e; &p;'>&e;</r>";
        SCOPED_TRACE(text);
        parsed_document d(text);
        EXPECT_EQ(check_tree(d.root), "");
        char *written = ezxml_toxml(d.root);
        ASSERT_NE(written, nullptr);
        std::free(written);
    }
}

} // namespace
