// Random editing sequences on a parsed document, with the chain-invariant
// checker after every step. Each input byte pair is one operation on
// elements picked from those alive; cut elements are kept aside, put back
// elsewhere or freed on their own.
#include <algorithm>
#include <set>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/tree_walk.h"
#include "support/chain_check.h"
#include "xml/ezxml.h"

namespace {

const char *const names[] = {"a", "b", "c", "item", "x"};
const char *const values[] = {"1", "two", "", "v&<>\"'", "\t\n\r"};

// Every element of a subtree, its top included.
std::vector<ezxml *> subtree(ezxml *top) {
    std::vector<ezxml *> out{top};
    for (size_t i = 0; i < out.size(); ++i) {
        for (ezxml *c = out[i]->child; c; c = c->ordered) {
            out.push_back(c);
        }
    }
    return out;
}

const char *own_attribute(ezxml *e, const char *name) {
    for (char **a = e->attributes; a && *a; a += 2) {
        if (strcmp(a[0], name) == 0) {
            return a[1];
        }
    }
    return nullptr;
}

struct editor {
    ezxml *root;
    std::vector<ezxml *> alive;    // every element not freed, root included
    std::vector<ezxml *> detached; // tops of cut subtrees
    // Cut tops whose former parent was freed: their parent link dangles, so
    // nothing but ezxml_free may touch them any more.
    std::set<ezxml *> orphaned;

    ezxml *pick(uint8_t byte) { return alive[byte % alive.size()]; }

    bool is_detached(ezxml *e) const {
        return std::find(detached.begin(), detached.end(), e) != detached.end();
    }

    // Whether e hangs, through the links that the library keeps sound, from
    // a top whose former parent is gone.
    bool touches_orphan(ezxml *e) const {
        for (ezxml *top : orphaned) {
            for (ezxml *member : subtree(top)) {
                if (member == e) {
                    return true;
                }
            }
        }
        return false;
    }

    void check() {
        std::string problem = check_tree(root);
        require(problem.empty(), "tree broken after an edit: " + problem);
        for (ezxml *top : detached) {
            problem = check_detached(top);
            require(problem.empty(), "cut subtree broken: " + problem);
        }
    }

    void add_child(uint8_t a, uint8_t b) {
        ezxml *parent = pick(a);
        if (touches_orphan(parent)) {
            return;
        }
        ezxml *child = ezxml_add_child(parent, names[b % 5], b / 5 % 8);
        require(child && child->parent == parent, "ezxml_add_child did not link");
        alive.push_back(child);
    }

    void insert(uint8_t a, uint8_t b) {
        ezxml *moved = pick(a);
        ezxml *target = pick(b);
        // A cut top whose former parent is gone may be linked in again: the
        // library does not look at that parent.
        bool orphan_top = orphaned.count(moved) > 0;
        if ((!orphan_top && touches_orphan(moved)) || touches_orphan(target)) {
            return;
        }
        ezxml *done = ezxml_insert(moved, target, b % 7);
        if (!done) {
            return; // the root, or a target inside the moved subtree
        }
        require(done == moved && moved->parent == target, "ezxml_insert did not link");
        orphaned.erase(moved);
        detached.erase(std::remove(detached.begin(), detached.end(), moved), detached.end());
    }

    void cut(uint8_t a) {
        ezxml *e = pick(a);
        if (e == root || is_detached(e) || touches_orphan(e)) {
            return;
        }
        require(ezxml_cut(e) == e, "ezxml_cut did not return the element");
        detached.push_back(e);
    }

    void free_detached(uint8_t a) {
        if (detached.empty()) {
            return;
        }
        ezxml *top = detached[a % detached.size()];
        std::vector<ezxml *> gone = subtree(top);
        std::set<ezxml *> gone_set(gone.begin(), gone.end());
        // Cut tops whose former parent goes now can only be freed later.
        for (ezxml *other : detached) {
            if (other != top && gone_set.count(other->parent)) {
                orphaned.insert(other);
            }
        }
        orphaned.erase(top);
        ezxml_free(top);
        detached.erase(std::remove(detached.begin(), detached.end(), top), detached.end());
        alive.erase(std::remove_if(alive.begin(), alive.end(),
                                   [&](ezxml *e) { return gone_set.count(e) > 0; }),
                    alive.end());
    }

    void set_attr(uint8_t a, uint8_t b) {
        ezxml *e = pick(a);
        const char *name = names[b % 5];
        bool remove = (b / 5) % 4 == 0;
        bool owning = (b / 20) % 2 == 1;
        const char *value = values[(b / 40) % 5];
        if (owning) {
            ezxml_set_flag(e, EZXML_ARGS_OWNED);
            char *owned_name = strdup(name);
            char *owned_value = remove ? nullptr : strdup(value);
            require(ezxml_set_attr(e, owned_name, owned_value) == e, "ezxml_set_attr lost e");
            // Removing an attribute that is not there takes nothing over and
            // leaves the request standing.
            if (e->flags & EZXML_ARGS_OWNED) {
                require(remove, "an owning ezxml_set_attr left the flag set");
                free(owned_name);
                e->flags &= ~EZXML_ARGS_OWNED;
            }
        } else {
            require(ezxml_set_attr(e, name, remove ? nullptr : value) == e,
                    "ezxml_set_attr lost e");
        }
        // Read the element's own list: ezxml_attr would also look for the
        // document's declared defaults, through parent links that dangle
        // on a cut subtree whose former parent was freed.
        const char *now = own_attribute(e, name);
        if (remove) {
            require(now == nullptr, "ezxml_set_attr did not remove the attribute");
        } else {
            require(now && strcmp(now, value) == 0, "ezxml_set_attr did not set the value");
        }
        require(check_attribute_list(e->attributes).empty(), "attribute list broken");
    }

    void set_txt(uint8_t a, uint8_t b) {
        ezxml *e = pick(a);
        const char *text = values[b % 5];
        if (b & 0x80) {
            ezxml_set_txt(e, strdup(text));
            ezxml_set_flag(e, EZXML_TEXT_OWNED);
        } else {
            ezxml_set_txt(e, text);
        }
        require(strcmp(e->text, text) == 0, "ezxml_set_txt did not set the text");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static char seed_document[] = "<r><a x='1'/>t<b>u<a/></b>v<c y='2' y='3'>w</c><a/></r>";
    char buffer[sizeof seed_document];
    memcpy(buffer, seed_document, sizeof buffer);
    ezxml *root = ezxml_parse_str(buffer, sizeof buffer - 1);
    require(ezxml_error(root)[0] == '\0', "seed document failed to parse");

    editor ed{root, subtree(root), {}, {}};
    for (size_t i = 0; i + 2 < size && i < 3 * 400; i += 3) {
        uint8_t op = data[i], a = data[i + 1], b = data[i + 2];
        switch (op % 7) {
        case 0:
            ed.add_child(a, b);
            break;
        case 1:
            ed.insert(a, b);
            break;
        case 2:
            ed.cut(a);
            break;
        case 3:
            ed.free_detached(a);
            break;
        case 4:
            ed.set_attr(a, b);
            break;
        case 5:
            ed.set_txt(a, b);
            break;
        case 6: {
            char *xml = ezxml_toxml(ed.root);
            free(xml);
            break;
        }
        }
        ed.check();
    }
    for (ezxml *top : ed.detached) {
        ezxml_free(top);
    }
    ezxml_free(root);
    return 0;
}
