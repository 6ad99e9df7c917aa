// The inputs of the parser comparison: generated documents of the shapes a
// device meets (provisioning files) and of the shapes that stress a parser
// (long texts, many attributes, deep nesting, references), single parents
// with very many children or attributes, and real XML files found on this
// machine at run time.
#ifndef BENCH_PARSERS_INPUTS_H
#define BENCH_PARSERS_INPUTS_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace inputs {

struct input {
    std::string label;
    std::vector<std::string> documents; // parsed one after the other as one run
    bool compared = true;               // counts towards the "at least pugixml" summary

    size_t bytes() const {
        size_t n = 0;
        for (const auto &d : documents) {
            n += d.size();
        }
        return n;
    }
};

// Deterministic pseudo-random numbers, so every run parses the same bytes.
struct numbers {
    uint64_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state >> 16);
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

inline std::string format(const char *pattern, auto... values) {
    char piece[512];
    int n = snprintf(piece, sizeof piece, pattern, values...);
    return std::string(piece, n < 0                                   ? 0
                              : static_cast<size_t>(n) < sizeof piece ? n
                                                                      : sizeof piece - 1);
}

inline std::string size_label(size_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) {
        return format("%zu MiB", bytes >> 20);
    }
    if (bytes >= (1u << 10) && bytes % (1u << 10) == 0) {
        return format("%zu KiB", bytes >> 10);
    }
    return format("%zu B", bytes);
}

// Appends pieces made by next() until the document would pass size, then
// the closing text.
template <typename Next>
std::string fill(std::string head, size_t size, const std::string &tail, Next next) {
    std::string out = std::move(head);
    out.reserve(size + 1024);
    for (;;) {
        std::string piece = next();
        if (out.size() + piece.size() + tail.size() > size) {
            break;
        }
        out += piece;
    }
    out += tail;
    return out;
}

// A device's provisioning file: a root, MiscSettings naming further files,
// then many small elements with a few attributes and short texts.
inline std::string provisioning(size_t size) {
    numbers r{0x9E3779B97F4A7C15ull};
    std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<ProvisioningConfig version=\"3.2\" model=\"desk-phone\">\n"
                       "  <MiscSettings>\n"
                       "    <AutoprovFile>common.xml</AutoprovFile>\n"
                       "    <AutoprovFile>[macaddress]-lines.xml</AutoprovFile>\n"
                       "    <AutoprovFile>directory-[macaddress].xml</AutoprovFile>\n"
                       "    <ProvisioningPeriod>60</ProvisioningPeriod>\n"
                       "  </MiscSettings>\n";
    static const char *const codecs[] = {"PCMU", "PCMA", "G722", "G729", "OPUS", "iLBC"};
    static const char *const keys[] = {"blf", "speeddial", "line", "park", "dnd", "transfer"};
    unsigned i = 0;
    return fill(head, size, "</ProvisioningConfig>\n", [&] {
        ++i;
        switch (r.below(6)) {
        case 0:
            return format("  <Setting name=\"account.%u.sip_server.%u.address\" perm=\"RW\" "
                          "type=\"string\">10.%u.%u.%u</Setting>\n",
                          i % 16, r.below(2) + 1, r.below(256), r.below(256), r.below(256));
        case 1:
            return format("  <Setting name=\"features.key.%u.label\" perm=\"RW\" "
                          "type=\"string\">Line %u</Setting>\n",
                          i % 100, r.below(1000));
        case 2:
            return format("  <Account index=\"%u\" enabled=\"1\" transport=\"udp\">\n"
                          "    <DisplayName>Desk %u</DisplayName>\n"
                          "    <UserName>%u</UserName>\n"
                          "    <Port>5060</Port>\n"
                          "  </Account>\n",
                          i % 16, r.below(500), 2000 + r.below(8000));
        case 3:
            return format("  <Codec line=\"%u\" priority=\"%u\" enabled=\"%u\">%s</Codec>\n",
                          i % 16, r.below(6) + 1, r.below(2), codecs[r.below(6)]);
        case 4:
            return format(
                "  <Key index=\"%u\" type=\"%s\" line=\"1\" value=\"%u\" label=\"Ext %u\"/>\n",
                i % 48, keys[r.below(6)], 2000 + r.below(8000), r.below(1000));
        default:
            return format("  <Timezone offset=\"%d\" dst=\"%u\">Europe/Berlin</Timezone>\n",
                          static_cast<int>(r.below(25)) - 12, r.below(2));
        }
    });
}

inline const char *word(numbers &r) {
    static const char *const words[] = {
        "the",     "device",   "reads",  "its",       "settings", "once",     "and",
        "keeps",   "them",     "while",  "running",   "server",   "provides", "a",
        "file",    "that",     "lists",  "further",   "files",    "which",    "are",
        "fetched", "compared", "with",   "applied",   "copies",   "before",   "restart",
        "network", "lease",    "option", "announces", "where",    "to",       "look"};
    return words[r.below(sizeof words / sizeof words[0])];
}

// Long texts with a few inline elements: prose documentation.
inline std::string text_heavy(size_t size) {
    numbers r{0xD1B54A32D192ED03ull};
    unsigned section = 0;
    return fill("<?xml version=\"1.0\"?>\n<article>\n", size, "</article>\n", [&] {
        std::string s =
            format("<section id=\"s%u\">\n<title>Section %u</title>\n", section, section);
        ++section;
        for (int para = 0; para < 4; ++para) {
            s += "<para>";
            size_t words = 60 + r.below(140);
            for (size_t w = 0; w < words; ++w) {
                if (w && w % 17 == 0) {
                    s += '\n';
                } else if (w) {
                    s += ' ';
                }
                if (r.below(25) == 0) {
                    const char *tag = r.below(2) ? "emphasis" : "code";
                    s += format("<%s>%s</%s>", tag, word(r), tag);
                } else {
                    s += word(r);
                }
            }
            s += ".</para>\n";
        }
        s += "</section>\n";
        return s;
    });
}

// Rows of a table with a dozen attributes each and no text.
inline std::string attribute_heavy(size_t size) {
    numbers r{0x94D049BB133111EBull};
    unsigned row = 0;
    return fill("<?xml version=\"1.0\"?>\n<table>\n", size, "</table>\n", [&] {
        ++row;
        return format("  <row id=\"%u\" key=\"k%08x\" name=\"%s-%s\" kind=\"%s\" weight=\"%u\" "
                      "enabled=\"%s\" created=\"2026-%02u-%02uT%02u:%02u:00Z\" owner=\"user%u\" "
                      "x=\"%d\" y=\"%d\" z=\"%d\" note=\"%s %s %s\"/>\n",
                      row, r.next(), word(r), word(r), word(r), r.below(1000),
                      r.below(2) ? "true" : "false", r.below(12) + 1, r.below(28) + 1, r.below(24),
                      r.below(60), r.below(100), static_cast<int>(r.below(2000)) - 1000,
                      static_cast<int>(r.below(2000)) - 1000,
                      static_cast<int>(r.below(2000)) - 1000, word(r), word(r), word(r));
    });
}

// Subtrees 64 elements deep, one after the other, a short text at each
// level.
inline std::string nested(size_t size) {
    numbers r{0xBF58476D1CE4E5B9ull};
    return fill("<?xml version=\"1.0\"?>\n<tree>", size, "</tree>\n", [&] {
        std::string s;
        constexpr int depth = 64;
        for (int level = 0; level < depth; ++level) {
            s += format("<node level=\"%d\">%s", level, word(r));
        }
        s += format("<leaf>%u</leaf>", r.below(100000));
        for (int level = 0; level < depth; ++level) {
            s += "</node>";
        }
        return s;
    });
}

// One chain of elements nested depth deep.
inline std::string chain(size_t depth) {
    std::string s;
    s.reserve(depth * 7 + 16);
    for (size_t i = 0; i < depth; ++i) {
        s += "<a>";
    }
    for (size_t i = 0; i < depth; ++i) {
        s += "</a>";
    }
    return s;
}

// Texts and attribute values full of entity and character references.
inline std::string references(size_t size) {
    numbers r{0x2545F4914F6CDD1Dull};
    unsigned n = 0;
    return fill("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<messages>\n", size, "</messages>\n",
                [&] {
                    ++n;
                    return format("  <msg id=\"%u\" title=\"Caf&#233; &amp; Bar &#x2116;%u\">"
                                  "Price: %u &#x20AC; &lt;net&gt; &quot;quoted&quot; &amp; "
                                  "&apos;single&apos; Gr&#252;&#223;e &#169; %u</msg>\n",
                                  n, r.below(100), r.below(1000), 2000 + r.below(100));
                });
}

// One parent with count children, all of one name or each of its own.
inline std::string children(size_t count, bool one_name) {
    std::string s = "<r>";
    for (size_t i = 0; i < count; ++i) {
        s += one_name ? std::string("<a/>") : format("<n%zx/>", i);
    }
    s += "</r>";
    return s;
}

// One tag with count attributes.
inline std::string attributes_on_one_tag(size_t count) {
    std::string s = "<r";
    for (size_t i = 0; i < count; ++i) {
        s += format(" a%zx=\"%zu\"", i, i % 10);
    }
    s += "/>";
    return s;
}

// Real XML files of this machine, grouped by the package that ships them.
struct file_group {
    const char *label;
    std::vector<const char *> roots; // directories searched (recursively) or files
    std::vector<const char *> suffixes;
};

inline std::vector<file_group> real_file_groups() {
    return {
        {"fontconfig", {"/etc/fonts", "/usr/share/fontconfig"}, {".conf"}},
        {"D-Bus", {"/usr/share/dbus-1", "/etc/dbus-1"}, {".conf", ".xml"}},
        {"iso-codes", {"/usr/share/xml/iso-codes"}, {".xml"}},
        {"shared-mime-info", {"/usr/share/mime/packages"}, {".xml"}},
        {"xkb rules", {"/usr/share/X11/xkb/rules"}, {".xml"}},
        {"polkit", {"/usr/share/polkit-1/actions"}, {".policy"}},
    };
}

inline bool has_suffix(const std::string &name, const std::vector<const char *> &suffixes) {
    for (const char *suffix : suffixes) {
        std::string s = suffix;
        if (name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) {
            return true;
        }
    }
    return false;
}

inline std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The files of a group: regular files (links followed, each file once),
// at most 16 MiB, that begin with markup.
inline std::vector<std::string> find_files(const file_group &group) {
    namespace fs = std::filesystem;
    std::set<fs::path> seen;
    std::vector<std::string> found;
    auto take = [&](const fs::path &path) {
        std::error_code ec;
        fs::path real = fs::canonical(path, ec);
        if (ec || !fs::is_regular_file(real, ec) || !has_suffix(real.string(), group.suffixes)) {
            return;
        }
        if (fs::file_size(real, ec) > (16u << 20) || ec || !seen.insert(real).second) {
            return;
        }
        std::string text = read_file(real);
        size_t first = text.find_first_not_of(" \t\r\n");
        if (first != std::string::npos && text[first] == '<') {
            found.push_back(std::move(text));
        }
    };
    for (const char *root : group.roots) {
        std::error_code ec;
        if (fs::is_regular_file(root, ec)) {
            take(root);
            continue;
        }
        if (!fs::is_directory(root, ec)) {
            continue;
        }
        for (fs::recursive_directory_iterator it(root,
                                                 fs::directory_options::follow_directory_symlink |
                                                     fs::directory_options::skip_permission_denied,
                                                 ec),
             end;
             it != end; it.increment(ec)) {
            if (ec) {
                break;
            }
            take(it->path());
        }
    }
    return found;
}

} // namespace inputs

#endif
