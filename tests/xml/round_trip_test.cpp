// What the serialiser writes parses back to the same tree, apart from the
// line feeds that it adds around elements: on hand-written documents, on
// generated ones, and on a very deep one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

std::string without_line_feeds(const char *s) {
    std::string out;
    for (; *s; ++s) {
        if (*s != '\n') {
            out += *s;
        }
    }
    return out;
}

// Where offset lies in text once its line feeds are gone.
size_t offset_without_line_feeds(const char *text, size_t offset) {
    size_t n = 0;
    for (size_t i = 0; i < offset && text[i]; ++i) {
        n += text[i] != '\n';
    }
    return n;
}

// The tree as `describe` writes it, but with every line feed taken out of
// the texts and the offsets counted without them. Attribute values keep
// theirs: the serialiser writes those as references.
const text_view ignoring_line_feeds{without_line_feeds, offset_without_line_feeds};

std::string serialise(ezxml *e) {
    char *s = ezxml_toxml(e);
    std::string out = s ? s : "";
    std::free(s);
    return out;
}

std::vector<std::string> instruction_contents(ezxml *root, const char *target) {
    std::vector<std::string> out;
    for (const char **p = ezxml_pi(root, target); *p; ++p) {
        out.push_back(*p);
    }
    return out;
}

// Text parsed, written out and parsed again: what went wrong on the way
// ("" when nothing did), and the two trees, line feeds aside.
struct round_trip {
    std::string problem;
    std::string written;
    std::string before;
    std::string after;
};

round_trip parse_write_parse(const std::string &text) {
    round_trip result;
    parsed_document first(text);
    result.problem = first.error() + check_tree(first.root);
    if (!result.problem.empty()) {
        return result;
    }
    result.written = serialise(first.root);
    parsed_document second(result.written);
    result.problem = second.error() + check_tree(second.root);
    result.before = describe(first.root, ignoring_line_feeds);
    result.after = describe(second.root, ignoring_line_feeds);
    return result;
}

TEST(RoundTrip, HandWrittenDocuments) {
    const char *documents[] = {
        "<a/>",
        "<a></a>",
        "<a>text</a>",
        "<r>x<c/>y</r>",
        "<config version=\"2\">\n  <MiscSettings>\n    <AutoprovFile>a.xml</AutoprovFile>\n"
        "    <AutoprovFile>[macaddress].xml</AutoprovFile>\n  </MiscSettings>\n</config>\n",
        "<r a='1' b=\"two words\" c=''><x y='&lt;&amp;&gt;&quot;&apos;'/>&lt;tag&gt; &amp; "
        "more</r>",
        "<r>caf&#233; &#x20AC; \xE2\x82\xAC &#x1F600;</r>",
        "<r v='tab&#9;lf&#10;cr&#13;'>cr&#13;here\ttab</r>",
        "<r><![CDATA[<not> & markup]]>after</r>",
        "<r><!-- comment --><a/><!-- another --><b>in b<c/></b>tail</r>",
        "<r>one<a>1</a>two<a>2</a>three<b/>four<a>3</a></r>",
        "<ns:r xmlns:ns='urn:x'><ns:c _u='v'/></ns:r>",
        "<r>   spaces   <c/>   </r>",
        "<r>\"quoted\" 'single'</r>",
    };
    for (const char *document : documents) {
        round_trip trip = parse_write_parse(document);
        EXPECT_EQ(trip.problem, "") << document;
        EXPECT_EQ(trip.after, trip.before) << document << "\n--- written as ---\n" << trip.written;
    }
}

TEST(RoundTrip, EntitiesAndDefaultsComeBackExpanded) {
    // The declarations themselves are not written: what they produced is.
    std::string text = "<!DOCTYPE r [<!ENTITY who 'World &amp; all'>"
                       "<!ATTLIST r lang CDATA 'en' mode NMTOKEN ' x '>]>"
                       "<r mode='  fast  '>Hello &who;</r>";
    parsed_document first(text);
    ASSERT_EQ(first.error(), "");
    std::string written = serialise(first.root);
    EXPECT_EQ(written, "\n<r mode=\"fast\" lang=\"en\">Hello World &amp; all</r>\n");
    parsed_document second(written);
    ASSERT_EQ(second.error(), "");
    EXPECT_STREQ(second.root->text, "Hello World & all");
    EXPECT_STREQ(ezxml_attr(second.root, "lang"), "en");
    EXPECT_STREQ(ezxml_attr(second.root, "mode"), "fast");
}

TEST(RoundTrip, InstructionsKeepTheirSideOfTheRoot) {
    std::string text = "<?a one?><?b?><r><?a two?></r><?b three?>";
    parsed_document first(text);
    ASSERT_EQ(first.error(), "");
    parsed_document second(serialise(first.root));
    ASSERT_EQ(second.error(), "");
    EXPECT_EQ(instruction_contents(second.root, "a"), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(instruction_contents(second.root, "b"), (std::vector<std::string>{"", "three"}));
    EXPECT_EQ(std::string(ezxml_pi(second.root, "a")[3]), "<>");
    EXPECT_EQ(std::string(ezxml_pi(second.root, "b")[3]), "<>");
}

// ------------------------------------------------------ generated documents

struct Generator {
    std::mt19937 random;
    explicit Generator(unsigned seed) : random(seed) {}

    size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); }
    bool chance(int percent) { return below(100) < static_cast<size_t>(percent); }

    std::string name() {
        static const char *names[] = {"a", "b", "item", "x-y", "_z", "ns:q", "Setting", "v1"};
        return names[below(std::size(names))];
    }

    // A piece of text as written in a document, escaped where it must be.
    std::string text_piece(bool attribute, char quote) {
        switch (below(14)) {
        case 0:
            return "&amp;";
        case 1:
            return "&lt;";
        case 2:
            return "&gt;";
        case 3:
            return attribute ? (quote == '"' ? "&quot;" : "&apos;") : "\"'";
        case 4:
            return "&#233;";
        case 5:
            return "&#x20AC;";
        case 6:
            return "&#13;";
        case 7:
            return "&#9;&#10;";
        case 8:
            return "\xC3\xA9\xF0\x9F\x98\x80";
        case 9:
            return "\t";
        case 10:
            return "\n";
        case 11:
            return "  ";
        case 12:
            return ">";
        default: {
            std::string word;
            for (size_t n = 1 + below(6); n; --n) {
                word += static_cast<char>('a' + below(26));
            }
            return word;
        }
        }
    }

    std::string text(bool attribute, char quote = '"') {
        std::string out;
        for (size_t n = below(5); n; --n) {
            out += text_piece(attribute, quote);
        }
        return out;
    }

    std::string element(int depth) {
        std::string tag = name();
        std::string out = "<" + tag;
        std::vector<std::string> used;
        for (size_t n = below(4); n; --n) {
            std::string attribute = "at" + std::to_string(below(6));
            bool repeated = false;
            for (const std::string &u : used) {
                repeated = repeated || u == attribute;
            }
            if (repeated) {
                continue;
            }
            used.push_back(attribute);
            char quote = chance(50) ? '"' : '\'';
            out += " " + attribute + "=" + quote + text(true, quote) + quote;
        }
        if (depth > 6 || (depth > 0 && chance(15))) {
            return out + "/>";
        }
        out += ">";
        for (size_t n = 1 + below(5); n; --n) {
            switch (below(7)) {
            case 0:
                out += "<![CDATA[" + std::string("<&>]") + text(false) + "]]>";
                break;
            case 1:
                out += "<!-- note -->";
                break;
            case 2:
                out += "<?t inside?>";
                break;
            case 3:
            case 4:
            case 5:
                out += element(depth + 1);
                break;
            default:
                out += text(false);
                break;
            }
        }
        return out + "</" + tag + ">";
    }

    std::string document() {
        std::string out;
        if (chance(50)) {
            out += "<?xml version=\"1.0\"?>\n";
        }
        if (chance(30)) {
            out += "<?t before?>";
        }
        out += element(0);
        if (chance(30)) {
            out += "<?t after?>";
        }
        return out;
    }
};

size_t count_elements(const ezxml *root) {
    size_t n = 0;
    std::vector<const ezxml *> stack{root};
    while (!stack.empty()) {
        const ezxml *e = stack.back();
        stack.pop_back();
        ++n;
        for (const ezxml *c = e->child; c; c = c->ordered) {
            stack.push_back(c);
        }
    }
    return n;
}

TEST(RoundTrip, GeneratedDocuments) {
    size_t elements = 0, nested = 0;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        Generator generator(seed);
        std::string text = generator.document();
        SCOPED_TRACE("seed " + std::to_string(seed));
        round_trip trip = parse_write_parse(text);
        ASSERT_EQ(trip.problem, "") << text;
        EXPECT_EQ(trip.after, trip.before) << text << "\n--- written as ---\n" << trip.written;
        parsed_document first(text);
        size_t n = count_elements(first.root);
        elements += n;
        nested += n > 3;
        parsed_document second(serialise(first.root));
        EXPECT_EQ(instruction_contents(second.root, "t"), instruction_contents(first.root, "t"));
    }
    // The generator really makes trees, not single elements.
    EXPECT_GT(elements, 2000u);
    EXPECT_GT(nested, 150u);
}

TEST(RoundTrip, AMillionDeepDocument) {
    constexpr size_t depth = 1000000;
    std::string text;
    text.reserve(depth * 7 + 8);
    for (size_t i = 0; i < depth; ++i) {
        text += "<e>";
    }
    text += "leaf";
    for (size_t i = 0; i < depth; ++i) {
        text += "</e>";
    }
    parsed_document first(text);
    ASSERT_EQ(first.error(), "");
    std::string written = serialise(first.root);
    EXPECT_EQ(written.size(), depth * 9 + 4);
    parsed_document second(written);
    ASSERT_EQ(second.error(), "");
    size_t levels = 0;
    const ezxml *e = second.root;
    for (; e->child; e = e->child) {
        ++levels;
    }
    EXPECT_EQ(levels + 1, depth);
    EXPECT_STREQ(e->text, "leaf");
}

} // namespace
