// Random sequences of building and editing steps, checked after every step
// against a plain model of the expected tree and against the chain
// invariants. Seeds are fixed, so every run replays the same sequences; the
// sanitizer build also checks that every handed-over string is freed once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/chain_check.h"
#include "xml/ezxml.h"

namespace {

const char *const names[] = {"a", "b", "c", "d"};
const char *const attribute_names[] = {"k", "l", "m"};
const char *const values[] = {"v0", "v1", "v2", "v3", "v4"};
const char *const texts[] = {"", "t0", "t1"};

struct Node {
    ezxml *real = nullptr;
    std::string name;
    size_t offset = 0;
    Node *parent = nullptr; // kept after a cut, like the element's own link
    bool linked = false;    // stands among its parent's children
    std::vector<Node *> children;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
};

class Model {
  public:
    explicit Model(unsigned seed) : rng(seed) {
        auto root = std::make_unique<Node>();
        root->real = ezxml_new("root");
        root->name = "root";
        this->root = root.get();
        live.insert(root.get());
        nodes.push_back(std::move(root));
    }

    ~Model() {
        ezxml_free(root->real);
        for (Node *top : detached) {
            ezxml_free(top->real);
        }
    }

    size_t pick(size_t n) { return rng() % n; }

    // Live nodes in creation order, so that runs do not depend on addresses.
    std::vector<Node *> live_nodes() {
        std::vector<Node *> out;
        for (auto &n : nodes) {
            if (live.count(n.get())) {
                out.push_back(n.get());
            }
        }
        return out;
    }

    static bool below(Node *n, Node *top) {
        for (; n; n = n->linked ? n->parent : nullptr) {
            if (n == top) {
                return true;
            }
        }
        return false;
    }

    static void place(Node *child, Node *parent, size_t offset) {
        auto &list = parent->children;
        auto at = list.begin();
        while (at != list.end() && (*at)->offset <= offset) {
            ++at;
        }
        list.insert(at, child);
        child->parent = parent;
        child->offset = offset;
        child->linked = true;
    }

    static void unplace(Node *child) {
        auto &list = child->parent->children;
        list.erase(std::find(list.begin(), list.end(), child));
        child->linked = false;
    }

    size_t random_offset() { return pick(20) == 0 ? static_cast<size_t>(-1) - pick(2) : pick(12); }

    void step() {
        std::vector<Node *> all = live_nodes();
        // Parents are drawn mostly from the oldest elements, so that some
        // parents gather many children of several names.
        Node *parent = all[pick(2) ? pick(std::min<size_t>(all.size(), 4)) : pick(all.size())];
        Node *any = all[pick(all.size())];
        switch (pick(12)) {
        case 0:
        case 1:
        case 2:
        case 3:
            if (all.size() < 150) {
                return add_child(parent);
            }
            return free_some();
        case 4:
            return cut(any);
        case 5:
        case 6:
            return insert(detached.empty() || pick(2) ? any : first_detached(), parent);
        case 7:
            return free_some();
        case 8:
        case 9:
            return set_attr(any);
        case 10:
            return set_txt(any);
        default:
            return flag_name(any);
        }
    }

    Node *first_detached() {
        for (auto &n : nodes) {
            if (detached.count(n.get())) {
                return n.get();
            }
        }
        return root;
    }

    void add_child(Node *parent) {
        const char *name = names[pick(4)];
        size_t offset = random_offset();
        ezxml *real = ezxml_add_child(parent->real, name, offset);
        ASSERT_NE(real, nullptr);
        auto node = std::make_unique<Node>();
        node->real = real;
        node->name = name;
        place(node.get(), parent, offset);
        live.insert(node.get());
        nodes.push_back(std::move(node));
    }

    void cut(Node *x) {
        // A cut element is cut again even when its former parent is gone
        // (the library does not look at that parent).
        ASSERT_EQ(ezxml_cut(x->real), x->real);
        if (x == root || !x->linked) {
            return;
        }
        unplace(x);
        detached.insert(x);
    }

    void insert(Node *x, Node *dest) {
        size_t offset = random_offset();
        if (x == root) {
            ASSERT_EQ(ezxml_insert(x->real, dest->real, offset), nullptr);
            return;
        }
        if (below(dest, x)) {
            ASSERT_EQ(ezxml_insert(x->real, dest->real, offset), nullptr);
            return;
        }
        ASSERT_EQ(ezxml_insert(x->real, dest->real, offset), x->real);
        if (x->linked) {
            unplace(x);
        }
        detached.erase(x);
        place(x, dest, offset);
    }

    void free_some() {
        if (detached.empty()) {
            return;
        }
        std::vector<Node *> tops;
        for (auto &n : nodes) {
            if (detached.count(n.get())) {
                tops.push_back(n.get());
            }
        }
        Node *top = tops[pick(tops.size())];
        ezxml_free(top->real);
        detached.erase(top);
        std::vector<Node *> pending{top};
        while (!pending.empty()) {
            Node *n = pending.back();
            pending.pop_back();
            live.erase(n);
            for (Node *c : n->children) {
                pending.push_back(c);
            }
        }
    }

    void set_attr(Node *e) {
        std::string name = attribute_names[pick(3)];
        bool removing = pick(4) == 0;
        std::string value = values[pick(5)];
        bool owning = pick(2) == 0;
        const char *given_name = owning ? strdup(name.c_str()) : name_literal(name);
        const char *given_value = removing ? nullptr
                                  : owning ? strdup(value.c_str())
                                           : value_literal(value);
        if (owning) {
            ezxml_set_flag(e->real, EZXML_ARGS_OWNED);
        }

        auto &pairs = e->attributes;
        auto found = std::find_if(pairs.begin(), pairs.end(),
                                  [&](const auto &p) { return p.first == name; });
        ASSERT_EQ(ezxml_set_attr(e->real, given_name, given_value), e->real);
        if (found == pairs.end() && removing) {
            // Nothing was taken over and the request to own stays pending.
            ASSERT_EQ(e->real->flags & EZXML_ARGS_OWNED, owning ? EZXML_ARGS_OWNED : 0);
            if (owning) {
                free(const_cast<char *>(given_name));
                e->real->flags &= static_cast<uint16_t>(~EZXML_ARGS_OWNED);
            }
            return;
        }
        ASSERT_EQ(e->real->flags & EZXML_ARGS_OWNED, 0);
        if (removing) {
            pairs.erase(found);
        } else if (found == pairs.end()) {
            pairs.emplace_back(name, value);
        } else {
            found->second = value;
        }
    }

    void set_txt(Node *e) {
        std::string text = texts[pick(3)];
        if (pick(2) == 0) {
            ezxml_set_flag(ezxml_set_txt(e->real, strdup(text.c_str())), EZXML_TEXT_OWNED);
        } else {
            ASSERT_EQ(
                ezxml_set_txt(
                    e->real,
                    texts[std::find(std::begin(texts), std::end(texts), text) - std::begin(texts)]),
                e->real);
        }
        e->text = text;
    }

    // Hands an element's name over to it: a heap copy replaces the shared one.
    void flag_name(Node *e) {
        if (e == root || (e->real->flags & EZXML_NAME_OWNED)) {
            return;
        }
        // Only possible while the name is not shared with a lookup in flight;
        // replacing the pointer keeps every chain as it is.
        e->real->name = strdup(e->name.c_str());
        ezxml_set_flag(e->real, EZXML_NAME_OWNED);
    }

    static const char *name_literal(const std::string &s) {
        for (const char *n : attribute_names) {
            if (s == n) {
                return n;
            }
        }
        return nullptr;
    }
    static const char *value_literal(const std::string &s) {
        for (const char *v : values) {
            if (s == v) {
                return v;
            }
        }
        return nullptr;
    }

    // Compares the subtree below top with the model; "" when they agree.
    std::string compare(Node *top) {
        std::vector<Node *> pending{top};
        while (!pending.empty()) {
            Node *n = pending.back();
            pending.pop_back();
            ezxml *e = n->real;
            std::string where =
                "element " + n->name + " (" + std::to_string(n->children.size()) + " children): ";
            if (n->name != e->name) {
                return where + "name differs";
            }
            if (n->text != e->text) {
                return where + "text differs";
            }
            if (n != root && e->parent != n->parent->real) {
                return where + "parent differs";
            }
            if (n->linked && e->offset != n->offset) {
                return where + "offset differs";
            }
            ezxml *c = e->child;
            for (Node *m : n->children) {
                if (c != m->real) {
                    return where + "children differ";
                }
                c = c->ordered;
                pending.push_back(m);
            }
            if (c) {
                return where + "more children than expected";
            }
            for (const char *name : names) {
                Node *first = nullptr;
                size_t count = 0;
                for (Node *m : n->children) {
                    if (m->name == name && !count++) {
                        first = m;
                    }
                }
                ezxml *found = ezxml_child(e, name);
                if (found != (first ? first->real : nullptr)) {
                    return where + "child lookup differs";
                }
                if (count && ezxml_idx(found, static_cast<int>(count)) != nullptr) {
                    return where + "same-name chain too long";
                }
                if (count && !ezxml_idx(found, static_cast<int>(count - 1))) {
                    return where + "same-name chain too short";
                }
            }
            std::string list = check_attribute_list(e->attributes);
            if (!list.empty()) {
                return where + list;
            }
            size_t i = 0;
            for (const auto &[name, value] : n->attributes) {
                if (!e->attributes[2 * i] || name != e->attributes[2 * i] ||
                    value != e->attributes[2 * i + 1]) {
                    return where + "attribute " + name + " differs";
                }
                ++i;
            }
            if (e->attributes[2 * i]) {
                return where + "more attributes than expected";
            }
        }
        return "";
    }

    std::string check() {
        std::string problem = check_chains(root->real);
        if (problem.empty()) {
            problem = compare(root);
        }
        for (Node *top : detached) {
            if (!problem.empty()) {
                break;
            }
            problem = check_detached(top->real);
            if (problem.empty()) {
                problem = compare(top);
            }
        }
        return problem;
    }

    std::mt19937 rng;
    Node *root;
    std::vector<std::unique_ptr<Node>> nodes;
    std::set<Node *> live;
    std::set<Node *> detached;
};

class RandomEditing : public ::testing::TestWithParam<unsigned> {};

TEST_P(RandomEditing, ModelAndInvariantsHoldAfterEveryStep) {
    Model model(GetParam());
    for (int i = 0; i < 3000; ++i) {
        model.step();
        if (HasFatalFailure()) {
            FAIL() << "at step " << i;
        }
        std::string problem = model.check();
        ASSERT_EQ(problem, "") << "seed " << GetParam() << ", step " << i;
    }
    EXPECT_GT(model.nodes.size(), 200u); // the run did build and free plenty
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomEditing, ::testing::Range(1u, 9u));

} // namespace
