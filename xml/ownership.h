// Internal: who frees what. The element flags are public (ezxml.h); the
// bytes of an attribute list's ownership string are spelled here, once.
#ifndef EZXML_OWNERSHIP_H
#define EZXML_OWNERSHIP_H

#include "xml/ezxml.h"

// One byte per pair of an attribute list (see attributes.h). A byte with
// neither bit set is a space, so that the string's length is the number of
// pairs; the parser writes a space, or value_owned alone ('@') for a value
// that decoding had to copy.
constexpr unsigned char pair_name_owned = 0x80;
constexpr unsigned char pair_value_owned = 0x40;
constexpr char pair_owns_nothing = ' ';
constexpr char pair_owns_copied_value = static_cast<char>(pair_value_owned);

static_assert(pair_owns_copied_value == '@');
static_assert(pair_name_owned == EZXML_NAME_OWNED && pair_value_owned == EZXML_TEXT_OWNED,
              "the pair bits are the element flags' bits for the same strings");

#endif
