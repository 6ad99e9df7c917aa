// Internal: what parsing one document may cost.
//
// Documents come from servers the device does not control, and two costs of
// a parse can grow far faster than the document's length: entity expansion
// (a reference of a few bytes may insert thousands, and references nest) and
// the tree (an element record costs many times the few bytes of its tag).
// One record per parse owns both counts. Every decoding the parse does
// spends from the same expansion allowance, and every block the parse
// allocates for the document is charged to the same memory allowance; once
// either would be overspent, nothing more is granted, the allocation or
// expansion at hand fails as if memory had run out, and the parse ends with
// an error that names the allowance.
#ifndef EZXML_PARSE_BUDGET_H
#define EZXML_PARSE_BUDGET_H

#include <assert.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

enum class budget_overrun : unsigned char { none, memory, expansion };

struct parse_budget {
    size_t memory_limit;    // bytes the document may cost; no_memory_limit: any
    size_t memory_charged;  // never above memory_limit
    size_t expansion_limit; // expansion units (see below) the document may spend
    size_t expansion_spent; // never above expansion_limit
    budget_overrun overrun; // the allowance that ran out first, if one did
};

constexpr size_t no_memory_limit = SIZE_MAX;

// Expansion is counted as the decoder has always counted it: inserting a
// replacement text costs its length plus one, so that empty replacements
// cost too.
//
// A parse may spend 8 units per byte of its input plus 1 MiB. Documents
// written by hand or by a provisioning server rarely expand at all (a few
// predefined references, each costing 6 units for 4 or more bytes); 8 per
// byte covers documents that lean on short entities throughout, and the
// fixed 1 MiB covers a small document with one long entity used a few times
// (an 8 MiB document thus expands by at most 65 MiB in all, where without
// a per-document count every text and value could expand that much).
constexpr size_t document_expansion_per_input_byte = 8;
constexpr size_t document_expansion_allowance = size_t{1} << 20;

// What a parse of input_length bytes starts with.
parse_budget document_budget(size_t input_length, size_t memory_limit);

// Sets the expansion allowance for an input of input_length bytes (for a
// budget charged for the input before its length was known).
void budget_allow_expansion_for(parse_budget *budget, size_t input_length);

// What the C allocator takes for a block of n bytes, as this count reckons
// it: below 128 KiB, the bytes and one word of its own bookkeeping, rounded
// up to two words, and never less than four words (its smallest block);
// from 128 KiB up, where the allocator may map the block on its own, two
// words of bookkeeping and the whole pages that takes. Reckoned, not asked
// of the allocator, so that where a parse stops depends only on the
// document and the limit, never on the build (sanitizers and valgrind bring
// allocators of their own).
constexpr size_t allocation_cost(size_t n) {
    constexpr size_t word = sizeof(void *);
    constexpr size_t page = 4096;
    constexpr size_t mapped_from = size_t{128} << 10;
    if (n > SIZE_MAX - page - 2 * word) {
        return SIZE_MAX;
    }
    if (n >= mapped_from) {
        return (n + 2 * word + page - 1) / page * page;
    }
    size_t rounded = (n + word + 2 * word - 1) / (2 * word) * (2 * word);
    return rounded < 4 * word ? 4 * word : rounded;
}

// Charges bytes to the memory allowance; false (and the allowance marked as
// run out) when they do not fit. A null budget grants everything. Once
// either allowance has run out nothing more is granted: the parse is over.
inline bool budget_charge(parse_budget *budget, size_t bytes) {
    if (!budget) {
        return true;
    }
    if (budget->overrun != budget_overrun::none) {
        return false;
    }
    if (budget->memory_limit == no_memory_limit) {
        return true;
    }
    assert(budget->memory_charged <= budget->memory_limit);
    if (bytes > budget->memory_limit - budget->memory_charged) {
        budget->overrun = budget_overrun::memory;
        return false;
    }
    budget->memory_charged += bytes;
    return true;
}

// Spends units of the expansion allowance; false (and the allowance marked
// as run out) when they do not fit. Never called with a null budget.
inline bool budget_spend_expansion(parse_budget *budget, size_t units) {
    assert(budget && budget->expansion_spent <= budget->expansion_limit);
    if (budget->overrun != budget_overrun::none) {
        return false;
    }
    if (units > budget->expansion_limit - budget->expansion_spent) {
        budget->overrun = budget_overrun::expansion;
        return false;
    }
    budget->expansion_spent += units;
    return true;
}

inline bool budget_overrun_happened(const parse_budget *budget) {
    return budget && budget->overrun != budget_overrun::none;
}

// The parse error that tells which allowance ran out; null while none has.
const char *budget_overrun_message(const parse_budget *budget);

// The C allocator's malloc, calloc and realloc, charged to the budget first
// (a null budget charges nothing): null, with nothing allocated, when the
// charge does not fit. The count is conservative: every block is charged at
// its full size when it is made, and a block that grows is charged again at
// its full new size (the allocator may hold the old and the new at once),
// while nothing is refunded when blocks shrink or are freed. So the count
// never falls below what the allocator has handed out for the document.
// Shrinking a block needs no charge and goes to realloc directly.
inline void *budget_malloc(parse_budget *budget, size_t size) {
    return budget_charge(budget, allocation_cost(size)) ? malloc(size) : nullptr;
}

inline void *budget_calloc(parse_budget *budget, size_t count, size_t size) {
    if (size && count > SIZE_MAX / size) {
        return nullptr;
    }
    return budget_charge(budget, allocation_cost(count * size)) ? calloc(count, size) : nullptr;
}

inline void *budget_realloc(parse_budget *budget, void *block, size_t size) {
    return budget_charge(budget, allocation_cost(size)) ? realloc(block, size) : nullptr;
}

inline char *budget_strdup(parse_budget *budget, const char *s) {
    size_t size = __builtin_strlen(s) + 1;
    auto *copy = static_cast<char *>(budget_malloc(budget, size));
    if (copy) {
        __builtin_memcpy(copy, s, size);
    }
    return copy;
}

#endif
