// Inputs that the fuzz targets found faults with, each kept here as a test
// of the normal suite so that the fault stays mended.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/chain_check.h"
#include "xml/ezxml.h"

namespace {

// Parses a copy of text; the copy lives as long as the document.
struct parsed {
    std::string buffer;
    ezxml *doc;
    explicit parsed(const std::string &text) : buffer(text) {
        doc = ezxml_parse_str(buffer.data(), buffer.size());
    }
    ~parsed() { ezxml_free(doc); }
    parsed(const parsed &) = delete;
    parsed &operator=(const parsed &) = delete;
};

std::string serialised(ezxml *e) {
    char *xml = ezxml_toxml(e);
    std::string out = xml;
    free(xml);
    return out;
}

// A vertical tab or form feed in an attribute value (written there by a
// character reference) was written out as itself, and reading the output
// back turned it into a space, as attribute white space always is.
TEST(FuzzRegressions, AttributeVerticalTabAndFormFeedSurviveTheRoundTrip) {
    parsed first("<r h=\"a&#11;b&#12;c\" t=\"&#11;\">x&#11;y</r>");
    ASSERT_STREQ(ezxml_error(first.doc), "");
    ASSERT_STREQ(ezxml_attr(first.doc, "h"), "a\vb\fc");

    parsed again(serialised(first.doc));
    ASSERT_STREQ(ezxml_error(again.doc), "");
    EXPECT_STREQ(ezxml_attr(again.doc, "h"), "a\vb\fc");
    EXPECT_STREQ(ezxml_attr(again.doc, "t"), "\v");
    // In text, white space is never normalised, so it is written as it is.
    EXPECT_STREQ(again.doc->text, "x\vy");
}

TEST(FuzzRegressions, AttributeModeEscapesEveryWhiteSpaceButTheSpace) {
    char *out = static_cast<char *>(malloc(8192));
    out[0] = '\0';
    size_t length = 0, capacity = 8192;
    ezxml_ampencode(" \t\n\v\f\r", static_cast<size_t>(-1), &out, &length, &capacity, 1);
    EXPECT_STREQ(out, " &#x9;&#xA;&#xB;&#xC;&#xD;");
    length = 0;
    out[0] = '\0';
    ezxml_ampencode(" \t\n\v\f\r", static_cast<size_t>(-1), &out, &length, &capacity, 0);
    EXPECT_STREQ(out, " \t\n\v\f&#xD;");
    free(out);
}

// A declared attribute whose name holds '>', '=' or '/' (the declaration
// scanner ends names at blanks only) had its default written into start
// tags, where such a name cannot be read back: the output broke apart.
TEST(FuzzRegressions, DefaultsWhoseNamesCannotStandInAStartTagAreNotWritten) {
    parsed first("<!DOCTYPE r [<!ATTLIST r d CDATA \"default\" -->d CDATA \"x\" a=b CDATA \"y\""
                 " c/d CDATA \"z\" e CDATA \"kept\">]><r><r/></r>");
    ASSERT_STREQ(ezxml_error(first.doc), "");
    std::string xml = serialised(first.doc);
    EXPECT_EQ(xml, "\n<r d=\"default\" e=\"kept\">\n<r d=\"default\" e=\"kept\"></r>\n</r>\n");

    parsed again(xml);
    ASSERT_STREQ(ezxml_error(again.doc), "");
    EXPECT_EQ(std::string(check_tree(again.doc)), "");
    ASSERT_NE(again.doc->child, nullptr);
    EXPECT_STREQ(ezxml_attr(again.doc->child, "e"), "kept");
}

// A declared attribute name that begins with a vertical tab or form feed
// (the declaration scanner ends names only at blanks) had its default
// written into start tags, where white space before an attribute is passed
// over: it read back as an attribute with an empty name.
TEST(FuzzRegressions, DefaultsWhoseNamesBeginWithWhiteSpaceAreNotWritten) {
    parsed first("<!DOCTYPE[<!ATTLIST r \v C \"\" \fv CDATA \"f\" k\vt CDATA \"kept\">]>"
                 "<r></r>");
    ASSERT_STREQ(ezxml_error(first.doc), "");
    std::string xml = serialised(first.doc);
    EXPECT_EQ(xml, "\n<r k\vt=\"kept\"></r>\n");

    parsed again(xml);
    ASSERT_STREQ(ezxml_error(again.doc), "");
    EXPECT_STREQ(ezxml_attr(again.doc, "k\vt"), "kept");
    EXPECT_EQ(ezxml_attr(again.doc, ""), nullptr);
}

// In the internal subset, "<?>" did not end the instruction: the search for
// its "?>" began behind the '?', while the parser's begins at it. The
// instruction filed there was written out as "<?>...", which the parser
// reads as an empty instruction followed by markup from inside it.
TEST(FuzzRegressions, SubsetInstructionsEndWhereTheParserEndsThem) {
    parsed first("<!DOCTYPE r [<?>?t <r e='x'/>?><?u c?>]><r/>");
    ASSERT_STREQ(ezxml_error(first.doc), "");
    EXPECT_EQ(ezxml_pi(first.doc, ">?t")[0], nullptr);
    ASSERT_NE(ezxml_pi(first.doc, "u")[0], nullptr);
    EXPECT_STREQ(ezxml_pi(first.doc, "u")[0], "c");

    std::string xml = serialised(first.doc);
    EXPECT_EQ(xml, "<?u c?>\n\n<r></r>\n");
    parsed again(xml);
    EXPECT_STREQ(ezxml_error(again.doc), "");
    EXPECT_EQ(again.doc->child, nullptr);
}

// The same degenerate instruction in the document itself files nothing.
TEST(FuzzRegressions, EmptyInstructionInTheDocumentFilesNothing) {
    parsed doc("<?><r/>");
    ASSERT_STREQ(ezxml_error(doc.doc), "");
    EXPECT_EQ(reinterpret_cast<ezxml_document *>(doc.doc)->instructions,
              reinterpret_cast<char ***>(EZXML_NIL));
}

} // namespace
