// Generated well-formed documents read by this parser and by expat must
// give the same elements, attributes and texts. The documents stay inside
// what both read alike: elements, attributes, text, CDATA, comments,
// character references and the five predefined entities.
#include <gtest/gtest.h>

#include <expat.h>

#include <random>
#include <string>
#include <vector>

#include "support/chain_check.h"
#include "support/parsed_document.h"
#include "xml/ezxml.h"

namespace {

struct element_record {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
};

// ---- generating documents ----

class generator {
  public:
    // A plain generator makes only elements without attributes, text,
    // references and comments.
    generator(unsigned seed, bool plain) : random(seed), plain(plain) {}

    std::string document() {
        std::string out;
        if (!plain && chance(4)) {
            out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
        }
        out += misc();
        element(out, 0);
        out += misc();
        return out;
    }

  private:
    std::mt19937 random;
    bool plain;

    size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); }
    bool chance(size_t one_in) { return below(one_in) == 0; }
    template <typename T> const T &pick(const std::vector<T> &items) {
        return items[below(items.size())];
    }

    std::string misc() {
        std::string out;
        for (size_t i = below(3); i > 0; --i) {
            out += chance(2) ? std::string("\n") : comment();
        }
        return out;
    }

    std::string name() {
        static const std::string first = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
        static const std::string rest = first + "0123456789.-";
        std::string out(1, first[below(first.size())]);
        for (size_t i = below(8); i > 0; --i) {
            out += rest[below(rest.size())];
        }
        return out;
    }

    std::string reference() {
        static const std::vector<std::string> refs = {
            "&lt;",   "&gt;",   "&amp;",  "&quot;",     "&apos;",  "&#65;",
            "&#x41;", "&#233;", "&#xe9;", "&#x20AC;",   "&#8364;", "&#x1F600;",
            "&#9;",   "&#10;",  "&#13;",  "&#x10FFFF;", "&#0065;", "&#x00041;",
            "&#32;",  "&#x3c;", "&#38;",  "&#x26;",     "&#60;"};
        return pick(refs);
    }

    // Characters that stand for themselves in text.
    std::string text_piece() {
        static const std::vector<std::string> pieces = {"word",
                                                        "x",
                                                        " ",
                                                        "  ",
                                                        "\n",
                                                        "\t",
                                                        ">",
                                                        "\"",
                                                        "'",
                                                        "=",
                                                        "/",
                                                        "?",
                                                        "!",
                                                        "-",
                                                        "\xC3\xA9",
                                                        "\xE2\x82\xAC",
                                                        "\xF0\x9F\x98\x80",
                                                        "0123",
                                                        "Mixed Case"};
        return chance(3) ? reference() : pick(pieces);
    }

    // Characters allowed inside a quoted value (the other quote is fine).
    std::string value_piece(char quote) {
        static const std::vector<std::string> pieces = {
            "v", "value", " ", "  ",       "\t",           "\n",  ">",  "=",
            "/", "]",     "?", "\xC3\xA9", "\xE2\x82\xAC", "1.5", "a b"};
        if (chance(4)) {
            return reference();
        }
        if (chance(8)) {
            return quote == '"' ? "'" : "\"";
        }
        return pick(pieces);
    }

    std::string blank() {
        static const std::vector<std::string> blanks = {" ", "  ", "\n", "\t", " \n "};
        return pick(blanks);
    }

    std::string comment() {
        std::string body;
        for (size_t i = below(4); i > 0; --i) {
            body += pick(std::vector<std::string>{"note", " ", "<tag>", "&amp;", "a-b", "\n"});
        }
        return "<!--" + body + "-->";
    }

    std::string cdata() {
        std::string body;
        for (size_t i = below(5); i > 0; --i) {
            body += pick(std::vector<std::string>{"<b>", "&amp;", "]", "]]", "x", " ", "\n", ">",
                                                  "&#65;", "\xC3\xA9"});
        }
        // Never "]]>" inside: a ']' run must not be followed by '>'.
        for (size_t at = body.find("]>"); at != std::string::npos; at = body.find("]>")) {
            body.insert(at + 1, "x");
        }
        if (!body.empty() && body.back() == ']') {
            body += "x";
        }
        return "<![CDATA[" + body + "]]>";
    }

    void element(std::string &out, int depth) {
        std::string tag = name();
        out += "<" + tag;
        std::vector<std::string> used;
        for (size_t i = plain ? 0 : below(depth == 0 ? 3 : 5); i > 0; --i) {
            std::string attribute = name();
            bool repeated = false;
            for (const auto &u : used) {
                repeated |= u == attribute;
            }
            if (repeated) {
                continue;
            }
            used.push_back(attribute);
            char quote = chance(2) ? '"' : '\'';
            out += blank() + attribute;
            if (chance(4)) {
                out += blank();
            }
            out += "=";
            if (chance(4)) {
                out += blank();
            }
            out += quote;
            for (size_t k = below(5); k > 0; --k) {
                out += value_piece(quote);
            }
            out += quote;
        }
        if (chance(5)) {
            out += blank();
        }
        if (chance(6)) {
            out += "/>";
            return;
        }
        out += ">";
        size_t items = below(depth < 5 ? 8 : 4);
        for (size_t i = 0; i < items; ++i) {
            size_t kind = below(10);
            if (kind < 4) {
                out += text_piece();
            } else if (kind < 7 && depth < 6) {
                element(out, depth + 1);
            } else if (kind == 7 && !plain) {
                out += cdata();
            } else if (kind == 8) {
                out += comment();
            } else {
                out += reference();
            }
        }
        out += "</" + tag + (chance(6) ? blank() : "") + ">";
    }
};

// ---- reading with expat ----

struct expat_reading {
    std::vector<element_record> elements; // in document order
    std::vector<size_t> open;
};

void XMLCALL on_start(void *data, const XML_Char *name, const XML_Char **attributes) {
    auto *r = static_cast<expat_reading *>(data);
    element_record e;
    e.name = name;
    for (const XML_Char **a = attributes; *a; a += 2) {
        e.attributes.emplace_back(a[0], a[1]);
    }
    r->open.push_back(r->elements.size());
    r->elements.push_back(std::move(e));
}

void XMLCALL on_end(void *data, const XML_Char *) {
    static_cast<expat_reading *>(data)->open.pop_back();
}

void XMLCALL on_text(void *data, const XML_Char *s, int length) {
    auto *r = static_cast<expat_reading *>(data);
    if (!r->open.empty()) {
        r->elements[r->open.back()].text.append(s, static_cast<size_t>(length));
    }
}

bool read_with_expat(const std::string &text, std::vector<element_record> &out,
                     std::string &error) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    expat_reading reading;
    XML_SetUserData(parser, &reading);
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_text);
    bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    if (!ok) {
        error = XML_ErrorString(XML_GetErrorCode(parser));
    }
    XML_ParserFree(parser);
    out = std::move(reading.elements);
    return ok;
}

// ---- reading with this parser ----

std::vector<element_record> records_of(const ezxml *root) {
    std::vector<element_record> out;
    std::vector<const ezxml *> pending{root};
    while (!pending.empty()) {
        const ezxml *e = pending.back();
        pending.pop_back();
        element_record r;
        r.name = e->name;
        for (char **a = e->attributes; *a; a += 2) {
            r.attributes.emplace_back(a[0], a[1]);
        }
        r.text = e->text;
        out.push_back(std::move(r));
        std::vector<const ezxml *> children;
        for (const ezxml *c = e->child; c; c = c->ordered) {
            children.push_back(c);
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            pending.push_back(*it);
        }
    }
    return out;
}

std::string show(const element_record &e) {
    std::string out = "<" + e.name;
    for (const auto &[n, v] : e.attributes) {
        out += " " + n + "=[" + v + "]";
    }
    return out + "> text=[" + e.text + "]";
}

TEST(ExpatDifferential, GeneratedDocumentsReadAlike) {
    const unsigned documents = 3000;
    unsigned compared = 0, elements = 0;
    for (unsigned seed = 1; seed <= documents; ++seed) {
        std::string text = generator(seed, false).document();
        std::vector<element_record> expected;
        std::string expat_error;
        ASSERT_TRUE(read_with_expat(text, expected, expat_error))
            << "generator made a document expat refuses (" << expat_error << "), seed " << seed
            << ":\n"
            << text;

        parsed_document p(text);
        ASSERT_EQ(p.error(), "") << "seed " << seed << ":\n" << text;
        ASSERT_EQ(check_tree(p.root), "") << "seed " << seed;
        std::vector<element_record> got = records_of(p.root);
        ASSERT_EQ(got.size(), expected.size()) << "seed " << seed << ":\n" << text;
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(show(got[i]), show(expected[i]))
                << "element " << i << ", seed " << seed << ":\n"
                << text;
        }
        ++compared;
        elements += static_cast<unsigned>(got.size());
    }
    EXPECT_EQ(compared, documents);
    // The generated set must be worth comparing: many elements, not a few.
    EXPECT_GT(elements, documents * 3);
}

TEST(ExpatDifferential, TagsOnlyDocumentsReadAlike) {
    // Without attributes, CDATA or declarations the tags-only parser must
    // agree with expat too.
    const unsigned documents = 1000;
    unsigned compared = 0;
    for (unsigned seed = 1; seed <= documents; ++seed) {
        std::string text = generator(seed, true).document();
        std::vector<element_record> expected;
        std::string expat_error;
        ASSERT_TRUE(read_with_expat(text, expected, expat_error)) << text;
        parsed_document p(text, parser_kind::tags_only);
        ASSERT_EQ(p.error(), "") << "seed " << seed << ":\n" << text;
        std::vector<element_record> got = records_of(p.root);
        ASSERT_EQ(got.size(), expected.size()) << text;
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(show(got[i]), show(expected[i])) << "seed " << seed << ":\n" << text;
        }
        ++compared;
    }
    EXPECT_EQ(compared, documents);
}

} // namespace
