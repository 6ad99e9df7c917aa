// Checks of the element tree's structural promises, for use after every
// step of a test that builds, parses or edits documents.
#ifndef XML_TEST_SUPPORT_CHAIN_CHECK_H
#define XML_TEST_SUPPORT_CHAIN_CHECK_H

#include <string>

#include "xml/ezxml.h"

// Walks the whole tree below root (without recursion, so any depth works)
// and returns "" when every parent's three chains are whole:
// - document order: `child` then `ordered` reach every child once, with
//   non-decreasing offsets, each child's `parent` being the parent;
// - first of each name: `child` then `sibling` hold the first child of
//   every distinct name among the children exactly once, and nothing else;
// - same name: from each such first child, `next` reaches exactly the
//   children of that name, in document order;
// - the root has no parent, no `next`, `sibling` or `ordered`, offset 0;
// - no element is reachable twice (no sharing, no cycles), and every child
//   has a name.
// Otherwise returns a description of the first breach found.
std::string check_chains(const ezxml *root);

// The same check for an element that was cut out of its tree: its own
// links must be clear, and its subtree whole.
std::string check_detached(const ezxml *element);

// Checks one attribute list: EZXML_NIL, or pairs with non-null names and
// values, a terminator and an ownership string with exactly one non-zero
// byte per pair. Returns "" or a description.
std::string check_attribute_list(char **attributes);

// check_chains, plus for every element a non-null text and a sound
// attribute list.
std::string check_tree(const ezxml *root);

#endif
