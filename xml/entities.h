// Internal entity helpers shared by the decoder and the declaration scanner;
// not part of the public interface.
#ifndef EZXML_ENTITIES_H
#define EZXML_ENTITIES_H

#include <stddef.h>

struct entity_index;
struct default_index;
struct ezxml_document;
struct parse_budget;
struct parse_state;

// The five predefined entities ("lt;" "&#60;", "gt;" "&#62;", "quot;"
// "&#34;", "apos;" "&#39;", "amp;" "&#38;") and the terminator, with
// which every document's entity list begins.
constexpr size_t default_entity_pointers = 11;
extern char *const default_entities[default_entity_pointers];

// How far one decoding call outside a parse (ezxml_decode, and the exported
// steps of the parser called on their own) may expand references: every
// expansion costs the length of the inserted text plus one, and a call may
// spend this many units per byte of its input plus a fixed allowance. Once
// the next expansion would overspend, that reference and every later one
// stay as written. A parse spends from its document's budget instead
// (parse_budget.h).
constexpr size_t expansion_per_input_byte = 8;
constexpr size_t expansion_allowance = 8192;

// Whether value, expanded through list by references that begin with marker
// ('&' or '%'), ever reaches a reference to name (which carries its ";").
// Each entity of the list is looked at once, so the answer costs time linear
// in the texts that can be reached, however they nest. When no memory can be
// had for the walk the answer is "reaches", the safe side for a guard.
// With an index of list (see indexes.h), lookups do not scan the list.
bool entity_reaches(const char *name, const char *value, char **list, char marker,
                    entity_index *index = nullptr);

// ezxml_decode, looking entities up through index when it is not null; the
// index must be the one kept for entities. Expansions and the memory they
// take are paid from budget, or from an allowance of this call's own when it
// is null; when the budget runs out, the references not yet expanded stay
// as written (and the budget tells).
char *decode_text(char *s, char **entities, char mode, entity_index *index, parse_budget *budget);

// decode_text for a string whose length is known, which also gives the
// length of the result.
char *decode_run(char *s, size_t length, char **entities, char mode, entity_index *index,
                 parse_budget *budget, size_t *decoded_length);

// ezxml_internal_dtd within a parse: keeps the state's indexes up to date
// with the entities and attribute defaults declared, and pays what it
// expands and allocates from the state's budget (null: no budget but each
// decoding's own). Stops at the first declaration for which the budget
// runs out.
int scan_internal_subset(ezxml_document *doc, char *s, size_t len, parse_state &state);

// ezxml_proc_inst, paying what it allocates from budget (null: nothing).
void file_instruction(ezxml_document *doc, char *s, size_t len, parse_budget *budget);

#endif
