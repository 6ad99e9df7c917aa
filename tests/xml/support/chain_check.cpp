#include "support/chain_check.h"

#include <cstring>
#include <string_view>
#include <unordered_map>
#include <sstream>
#include <unordered_set>
#include <vector>

namespace {

std::string label(const ezxml *e) {
    std::ostringstream out;
    out << "<" << (e->name ? e->name : "(null)") << ">@" << static_cast<const void *>(e);
    return out.str();
}

// Checks the chains of one parent's children; appends them to `pending`.
std::string check_children(const ezxml *parent, std::unordered_set<const ezxml *> &seen,
                           std::vector<const ezxml *> &pending) {
    std::vector<const ezxml *> children;
    size_t last_offset = 0;
    for (const ezxml *c = parent->child; c; c = c->ordered) {
        if (!seen.insert(c).second) {
            return "element " + label(c) + " reached twice (below " + label(parent) + ")";
        }
        if (c->parent != parent) {
            return "child " + label(c) + " of " + label(parent) + " has another parent";
        }
        if (!c->name) {
            return "child of " + label(parent) + " without a name";
        }
        if (!children.empty() && c->offset < last_offset) {
            return "ordered chain of " + label(parent) + " goes back from offset " +
                   std::to_string(last_offset) + " to " + std::to_string(c->offset) + " at " +
                   label(c);
        }
        last_offset = c->offset;
        children.push_back(c);
        pending.push_back(c);
    }

    if (children.empty()) {
        return "";
    }
    if (children.size() == 1) {
        // The common case of deep trees, without building any tables.
        const ezxml *only = children.front();
        if (only->sibling) {
            return "sibling chain of " + label(parent) + " runs past its only child";
        }
        if (only->next) {
            return "same-name chain of " + label(parent) + " runs past its only child";
        }
        return "";
    }

    // Expected: per name, the children in document order.
    std::unordered_map<std::string_view, std::vector<const ezxml *>> by_name;
    std::unordered_set<const ezxml *> members(children.begin(), children.end());
    for (const ezxml *c : children) {
        by_name[c->name].push_back(c);
    }

    std::unordered_set<std::string_view> entries;
    size_t steps = 0;
    for (const ezxml *s = parent->child; s; s = s->sibling) {
        if (++steps > children.size()) {
            return "sibling chain of " + label(parent) + " is longer than its children";
        }
        if (!members.count(s)) {
            return "sibling chain of " + label(parent) + " holds " + label(s) +
                   ", which is not on its ordered chain";
        }
        if (by_name[s->name].front() != s) {
            return "sibling chain of " + label(parent) + " holds " + label(s) +
                   ", which is not the first of its name";
        }
        if (!entries.insert(s->name).second) {
            return "sibling chain of " + label(parent) + " holds name " + s->name + " twice";
        }
    }
    for (const auto &[name, same] : by_name) {
        if (!entries.count(name)) {
            return "sibling chain of " + label(parent) + " lacks name " + std::string(name);
        }
        const ezxml *n = same.front();
        for (size_t i = 0; i < same.size(); ++i, n = n->next) {
            if (n != same[i]) {
                return "same-name chain " + std::string(name) + " of " + label(parent) +
                       " differs at position " + std::to_string(i);
            }
        }
        if (n) {
            return "same-name chain " + std::string(name) + " of " + label(parent) +
                   " runs on past its end";
        }
    }
    return "";
}

std::string check_subtree(const ezxml *top, bool check_lists) {
    std::unordered_set<const ezxml *> seen{top};
    std::vector<const ezxml *> pending{top};
    while (!pending.empty()) {
        const ezxml *e = pending.back();
        pending.pop_back();
        if (check_lists) {
            if (!e->text) {
                return "element " + label(e) + " has a null text";
            }
            std::string list = check_attribute_list(e->attributes);
            if (!list.empty()) {
                return "element " + label(e) + ": " + list;
            }
        }
        std::string problem = check_children(e, seen, pending);
        if (!problem.empty()) {
            return problem;
        }
    }
    return "";
}

} // namespace

std::string check_chains(const ezxml *root) {
    if (!root) {
        return "null root";
    }
    if (root->parent) {
        return "root has a parent";
    }
    if (root->next || root->sibling || root->ordered) {
        return "root has next, sibling or ordered links";
    }
    if (root->offset != 0) {
        return "root offset is not 0";
    }
    return check_subtree(root, false);
}

std::string check_detached(const ezxml *element) {
    if (!element) {
        return "null element";
    }
    if (element->next || element->sibling || element->ordered) {
        return "detached element still has next, sibling or ordered links";
    }
    return check_subtree(element, false);
}

std::string check_attribute_list(char **attributes) {
    if (!attributes) {
        return "null attribute list";
    }
    if (attributes == EZXML_NIL) {
        return "";
    }
    size_t pairs = 0;
    for (; attributes[2 * pairs]; ++pairs) {
        if (!attributes[2 * pairs + 1]) {
            return "attribute " + std::string(attributes[2 * pairs]) + " has a null value";
        }
    }
    const char *ownership = attributes[2 * pairs + 1];
    if (!ownership) {
        return "attribute list without ownership string";
    }
    if (std::strlen(ownership) != pairs) {
        return "ownership string holds " + std::to_string(std::strlen(ownership)) + " bytes for " +
               std::to_string(pairs) + " pairs";
    }
    return "";
}

std::string check_tree(const ezxml *root) {
    if (!root) {
        return "null root";
    }
    std::string chains = check_chains(root);
    if (!chains.empty()) {
        return chains;
    }
    return check_subtree(root, true);
}
