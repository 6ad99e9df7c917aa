// Every way a parse can fail, with the message and the line it names, and
// the partial tree that a failed parse keeps.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

std::string error_of(const std::string &text) {
    parsed_document p(text);
    EXPECT_EQ(check_tree(p.root), "") << text;
    return p.error();
}

std::string at(int line, const std::string &message) {
    return "[error near line " + std::to_string(line) + "]: " + message;
}

TEST(RootTagMissing, EmptyInput) {
    EXPECT_EQ(error_of(""), at(1, "root tag missing"));
}

TEST(RootTagMissing, NoMarkupAtAll) {
    EXPECT_EQ(error_of("just text"), at(1, "root tag missing"));
    // Reported at the end of input: the last byte, which the parser takes
    // away first.
    EXPECT_EQ(error_of("just\ntext\nmore"), at(3, "root tag missing"));
    EXPECT_EQ(error_of("just\ntext\n"), at(2, "root tag missing"));
}

TEST(RootTagMissing, OnlyCommentsAndInstructions) {
    EXPECT_EQ(error_of("<!-- c -->\n<?pi x?>"), at(2, "root tag missing"));
    EXPECT_EQ(error_of("<!-- c -->"), at(1, "root tag missing"));
    EXPECT_EQ(error_of("<!DOCTYPE a>"), at(1, "root tag missing"));
}

TEST(RootTagMissing, LoneAngleBracketOrDegenerateInstruction) {
    // A markup start that holds nothing is no construct at all.
    EXPECT_EQ(error_of("<a"), at(1, "unexpected <"));
    EXPECT_EQ(error_of("<"), at(1, "root tag missing"));
    EXPECT_EQ(error_of("<?>"), at(1, "root tag missing"));
    EXPECT_EQ(error_of("x<"), at(1, "root tag missing"));
}

TEST(MarkupOutsideRoot, SecondRootElement) {
    EXPECT_EQ(error_of("<a/><b/>"), at(1, "markup outside of root element"));
    EXPECT_EQ(error_of("<a></a>\n\n<b>"), at(3, "markup outside of root element"));
}

TEST(MarkupOutsideRoot, KeepsTheFirstTree) {
    parsed_document p("<a><c/></a><b/>");
    EXPECT_EQ(p.error(), at(1, "markup outside of root element"));
    EXPECT_STREQ(p.root->name, "a");
    EXPECT_NE(ezxml_child(p.root, "c"), nullptr);
}

TEST(MissingGreaterThan, StartTagRunningToTheEnd) {
    EXPECT_EQ(error_of("<ab"), at(1, "missing >"));
    EXPECT_EQ(error_of("\n\n<a b='1' c"), at(3, "missing >"));
    EXPECT_EQ(error_of("<r>\n<a/"), at(2, "missing >"));
    EXPECT_EQ(error_of("<a/x>"), at(1, "missing >"));
}

TEST(MissingGreaterThan, ClosingTagRunningToTheEnd) {
    // The same input as a good one, without its last '>'.
    EXPECT_EQ(error_of("<a>\n</a"), at(2, "missing >"));
    EXPECT_EQ(error_of("<a>\n</a>"), "");
}

TEST(MissingGreaterThan, AttributeListIsReleased) {
    // The expanded value is a block of its own; leak checking sees it.
    parsed_document p("<a v='&lt;&gt;' w");
    EXPECT_EQ(p.error(), at(1, "missing >"));
    EXPECT_EQ(p.root->attributes, EZXML_NIL);
}

TEST(MissingQuote, DoubleAndSingle) {
    EXPECT_EQ(error_of("<a b=\"x>"), at(1, "missing \""));
    EXPECT_EQ(error_of("<r>\n<a b='x></a></r>"), at(2, "missing '"));
    EXPECT_EQ(error_of("<a c='&amp;&lt;' b=\"x/>"), at(1, "missing \""));
}

TEST(UnexpectedClosingTag, WrongName) {
    EXPECT_EQ(error_of("<a><b></a>"), at(1, "unexpected closing tag </a>"));
    EXPECT_EQ(error_of("<a>\n<b>\n</c>"), at(3, "unexpected closing tag </c>"));
}

TEST(UnexpectedClosingTag, NothingOpen) {
    EXPECT_EQ(error_of("</a>"), at(1, "unexpected closing tag </a>"));
    EXPECT_EQ(error_of("<a/></a>"), at(1, "unexpected closing tag </a>"));
}

TEST(UnclosedComment, NoEndOrDoubleDashInside) {
    EXPECT_EQ(error_of("<a><!-- x </a>"), at(1, "unclosed <!--"));
    EXPECT_EQ(error_of("<a>\n<!-- x -- y --></a>"), at(2, "unclosed <!--"));
    EXPECT_EQ(error_of("<a><!-->"), at(1, "unclosed <!--"));
}

TEST(UnclosedCdata, NoEndOrEndAtLastByte) {
    EXPECT_EQ(error_of("<a><![CDATA[x</a>"), at(1, "unclosed <![CDATA["));
    EXPECT_EQ(error_of("<a><![CDATA[x]]>"), at(1, "unclosed <![CDATA["));
}

TEST(UnclosedDoctype, EndOfInputInside) {
    EXPECT_EQ(error_of("<!DOCTYPE a [ <!ENTITY e 'v'"), at(1, "unclosed <!DOCTYPE"));
    EXPECT_EQ(error_of("\n<!DOCTYPE a"), at(2, "unclosed <!DOCTYPE"));
}

TEST(UnclosedInstruction, NoQuestionMarkBeforeGreaterThan) {
    EXPECT_EQ(error_of("<a><?pi x</a>"), at(1, "unclosed <?"));
    EXPECT_EQ(error_of("<a/>\n<?pi ?"), at(2, "unclosed <?"));
    EXPECT_EQ(error_of("<??"), at(1, "unclosed <?"));
}

TEST(UnexpectedLessThan, DigitSpaceOrUnknownDeclaration) {
    EXPECT_EQ(error_of("<1/>"), at(1, "unexpected <"));
    EXPECT_EQ(error_of("<a>\n< b/></a>"), at(2, "unexpected <"));
    EXPECT_EQ(error_of("<a><!ELEMENT a></a>"), at(1, "unexpected <"));
    EXPECT_EQ(error_of("<a><!-x--></a>"), at(1, "unexpected <"));
}

TEST(UnclosedTag, InnermostOpenElementIsNamed) {
    EXPECT_EQ(error_of("<a>"), at(1, "unclosed tag <a>"));
    // Reported where the last item began: here the dropped text run, which
    // starts on the line of <b>.
    EXPECT_EQ(error_of("<a>\n<b>\ntext"), at(2, "unclosed tag <b>"));
    EXPECT_EQ(error_of("<a>\n<b>\n\n<c/>"), at(4, "unclosed tag <b>"));
    EXPECT_EQ(error_of("<a><b></b>\n<!-- x -->"), at(2, "unclosed tag <a>"));
}

TEST(UnclosedTag, PartialTreeIsKept) {
    parsed_document p("<a><b>x</b><c>y");
    EXPECT_EQ(p.error(), at(1, "unclosed tag <c>"));
    EXPECT_EQ(describe(p.root), "a{}\"\"@0[b{}\"x\"@0[]c{}\"\"@0[]]");
}

TEST(ParseErrorText, LongMessageIsCutAt127) {
    std::string name(300, 'n');
    std::string message = error_of("<a></" + name + ">");
    EXPECT_EQ(message.size(), 127u);
    EXPECT_EQ(message, at(1, "unexpected closing tag </" + name).substr(0, 127));
}

TEST(ParseErrorText, LinesCountLineFeedsOfTheInput) {
    EXPECT_EQ(error_of("<a>\n\n<b></c></a>"), at(3, "unexpected closing tag </c>"));
    EXPECT_EQ(error_of("<a x='1'\ny='2'>\n<b>\r\n</c></a>"), at(4, "unexpected closing tag </c>"));
}

TEST(ParseErrorText, NulInTheInputIsTheEnd) {
    // What stands behind an input NUL, the last byte included, is not read.
    EXPECT_EQ(error_of(std::string("<a/\0>", 5)), at(1, "missing >"));
    EXPECT_EQ(error_of(std::string("<a></a\0>", 8)), at(1, "missing >"));
    EXPECT_EQ(error_of(std::string("\0<a/>", 5)), at(1, "root tag missing"));
}

TEST(ParseErrorText, FirstErrorEndsTheParse) {
    parsed_document p("<a></b><c/></a>");
    EXPECT_EQ(p.error(), at(1, "unexpected closing tag </b>"));
    EXPECT_EQ(p.root->child, nullptr);
}

TEST(ParseErrorText, FailingSubsetEndsTheParse) {
    parsed_document p("<!DOCTYPE a [<!ENTITY e '&e;'>]><a/>");
    EXPECT_EQ(p.error(), at(1, "circular entity declaration &e;"));
    EXPECT_EQ(p.root->name, nullptr);
}

// Hostile input: random pieces of markup thrown together. Whatever comes
// of it, the parse ends, the partial tree is whole, and the document either
// parsed or says why not. Run under the address sanitizer, this also shows
// that nothing is read or written outside the buffer.
std::string hostile_document(std::mt19937 &random) {
    static const std::vector<std::string> pieces = {"<",
                                                    ">",
                                                    "</",
                                                    "/>",
                                                    "<a",
                                                    "<b",
                                                    "</a>",
                                                    "</b>",
                                                    "<a>",
                                                    "<b>",
                                                    "<a/>",
                                                    " x='1'",
                                                    " y=\"2\"",
                                                    "=",
                                                    "\"",
                                                    "'",
                                                    " ",
                                                    "\n",
                                                    "\t",
                                                    "\r",
                                                    "<!--",
                                                    "-->",
                                                    "--",
                                                    "<![CDATA[",
                                                    "]]>",
                                                    "]",
                                                    "[",
                                                    "<!DOCTYPE a",
                                                    "<!DOCTYPE a [",
                                                    "]>",
                                                    "<!ENTITY e 'x'>",
                                                    "<!ENTITY e \"&e;\">",
                                                    "<!ATTLIST a x ID #IMPLIED>",
                                                    "<!ATTLIST a y CDATA 'd'>",
                                                    "<!ENTITY % p 'q'>",
                                                    "%p;",
                                                    "<?",
                                                    "?>",
                                                    "<?t c?>",
                                                    "<?>",
                                                    "&lt;",
                                                    "&amp;",
                                                    "&#",
                                                    "&#x",
                                                    "65",
                                                    ";",
                                                    "&e;",
                                                    "&#10;",
                                                    "text",
                                                    "\xC3\xA9",
                                                    std::string(1, '\0'),
                                                    "\xFF",
                                                    "\xFE",
                                                    "\xEF\xBB\xBF",
                                                    "?",
                                                    "!",
                                                    "/",
                                                    "a",
                                                    "b",
                                                    "<:_x",
                                                    "<1"};
    std::string out;
    size_t count = std::uniform_int_distribution<size_t>(0, 40)(random);
    for (size_t i = 0; i < count; ++i) {
        out += pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(random)];
    }
    return out;
}

// What is wrong with the document parsed from text, "" when nothing is:
// the tree keeps its chains, and it either holds a short error of the usual
// form or was closed all the way to its root.
std::string unsound(const std::string &text, parser_kind kind) {
    parsed_document p(text, kind);
    if (!p.root) {
        return "no document";
    }
    std::string chains = check_tree(p.root);
    if (!chains.empty()) {
        return "chains: " + chains;
    }
    std::string error = p.error();
    if (error.size() >= 128) {
        return "error too long: " + error;
    }
    if (!error.empty()) {
        return error.rfind("[error near line ", 0) == 0 ? "" : "error of another form: " + error;
    }
    return p.doc()->current == nullptr ? "" : "no error, yet an element is left open";
}

TEST(HostileInput, RandomMarkupNeverBreaksTheParser) {
    std::mt19937 random(20261208);
    for (int i = 0; i < 20000; ++i) {
        std::string text = hostile_document(random);
        ASSERT_EQ(unsound(text, parser_kind::full), "") << testing::PrintToString(text);
        ASSERT_EQ(unsound(text, parser_kind::tags_only), "") << testing::PrintToString(text);
    }
}

TEST(HostileInput, EveryPrefixOfADocument) {
    const std::string text =
        "<?xml version='1.0'?>\n<!DOCTYPE r [<!ENTITY e 'v'><!ATTLIST r a ID #IMPLIED>]>\n"
        "<r a=' x ' b=\"&e;&lt;\"><!-- c --><x>t&e;<![CDATA[<y>]]>u</x><?p q?><z/></r >\n";
    for (size_t n = 0; n <= text.size(); ++n) {
        ASSERT_EQ(unsound(text.substr(0, n), parser_kind::full), "") << n << " bytes";
        ASSERT_EQ(unsound(text.substr(0, n), parser_kind::tags_only), "") << n << " bytes";
    }
}

} // namespace
