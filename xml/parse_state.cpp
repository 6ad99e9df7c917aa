// Moving the parse cursor down and up the tree, and gathering each
// element's character content into one text.
#include "xml/parse_state.h"

#include <assert.h>
#include <stdlib.h>
#include <string.h>

#include "xml/document.h"
#include "xml/entities.h"

namespace {

growing_text *block_of(parse_state &state, ezxml *element) {
    if (state.count == 0) {
        return nullptr;
    }
    // Only the current element's text ever grows, and it is the innermost
    // open element, so its block (if any) is the last one recorded.
    growing_text *top = &state.blocks[state.count - 1];
    return top->element == element ? top : nullptr;
}

void remember_block(parse_state &state, ezxml *element, size_t capacity) {
    if (growing_text *known = block_of(state, element)) {
        known->capacity = capacity;
        return;
    }
    if (state.count == state.capacity) {
        size_t more = state.capacity ? state.capacity * 2 : 16;
        auto *grown = static_cast<growing_text *>(
            budget_realloc(state.budget, state.blocks, more * sizeof(growing_text)));
        if (!grown) {
            return; // forgetting the spare room is harmless: it is only not used
        }
        state.blocks = grown;
        state.capacity = more;
    }
    state.blocks[state.count++] = {element, capacity};
}

// Gives the spare room of a block back once its text can no longer grow.
void trim_block(ezxml *element, size_t length) {
    if (char *exact = static_cast<char *>(realloc(element->text, length + 1))) {
        element->text = exact;
    }
}

void forget_block(parse_state &state, ezxml *element) {
    if (block_of(state, element)) {
        --state.count;
    }
}

size_t grown_size(size_t have, size_t need) {
    size_t doubled = have > SIZE_MAX / 2 ? SIZE_MAX : have * 2;
    size_t want = doubled > need ? doubled : need;
    return want < 64 ? 64 : want;
}

// The usual case in the parse loop: a run with nothing to decode (often the
// white space between two tags) goes behind a text that already grows in a
// block with room to spare. False when the text has no such room.
bool append_to_roomy_block(ezxml *element, char *s, size_t length, parse_state &state) {
    growing_text *known = block_of(state, element);
    size_t old_length = state.current_length;
    if (!known || !old_length || old_length + length >= known->capacity) {
        return false;
    }
    char *to = element->text + old_length;
    if (length <= 16) {
        for (size_t i = 0; i < length; ++i) {
            to[i] = s[i];
        }
    } else {
        memcpy(to, s, length);
    }
    to[length] = '\0';
    s[length] = '\0';
    state.current_length = old_length + length;
    return true;
}

// The element's text is empty: the decoded run becomes it. An empty text
// that the element owns (an earlier run decoded to an empty block) is
// released, since the text taken now may point into the buffer, and
// freeing that later would free the buffer's inside.
void take_as_text(ezxml *element, char *s, char *decoded, size_t added, parse_state &state) {
    if (element->flags & EZXML_TEXT_OWNED) {
        forget_block(state, element);
        free(element->text);
        element->flags &= ~EZXML_TEXT_OWNED;
    }
    element->text = decoded;
    if (decoded != s) {
        element->flags |= EZXML_TEXT_OWNED;
    }
    state.current_length = added;
}

// The element has a text: the decoded run goes behind it, in a block that
// grows geometrically. False, with the text as it was, when no memory can
// be had.
bool append_to_text(ezxml *element, const char *decoded, size_t added, parse_state &state) {
    bool owned = element->flags & EZXML_TEXT_OWNED;
    size_t old_length = state.current_length;
    size_t need = old_length + added + 1;
    char *text = element->text;
    growing_text *known = block_of(state, element);
    size_t have = known ? known->capacity : owned ? old_length + 1 : 0;
    if (need > have) {
        size_t want = grown_size(have, need);
        text = static_cast<char *>(owned ? budget_realloc(state.budget, element->text, want)
                                         : budget_malloc(state.budget, want));
        if (!text) {
            return false;
        }
        if (!owned) {
            memcpy(text, element->text, old_length);
        }
        remember_block(state, element, want);
    }
    memcpy(text + old_length, decoded, added + 1);
    element->text = text;
    element->flags |= EZXML_TEXT_OWNED;
    state.current_length = old_length + added;
    return true;
}

} // namespace

void start_state(parse_state &state, ezxml_document *doc, parse_budget *budget) {
    state = parse_state{};
    state.budget = budget;
    appends_start(&state.children, budget);
    entity_index_start(&state.entities, budget);
    default_index_start(&state.defaults, budget);
    if (doc && doc->current && doc->current->text) {
        state.current_length = strlen(doc->current->text);
    }
}

void finish_state(parse_state &state) {
    for (size_t i = 0; i < state.count; ++i) {
        ezxml *element = state.blocks[i].element;
        trim_block(element, strlen(element->text));
    }
    free(state.blocks);
    state.blocks = nullptr;
    appends_release(&state.children);
    entity_index_release(&state.entities);
    default_index_release(&state.defaults);
    state.count = state.capacity = 0;
}

ezxml *open_element(ezxml_document *doc, char *name, char **attributes, parse_state &state) {
    ezxml *parent = doc->current;
    assert(parent);
    ezxml *element;
    if (!parent->name) {
        // The first start tag names the document's own root element.
        parent->name = name;
        element = parent;
    } else {
        element = appends_add_child(&state.children, parent, name, state.current_length,
                                    state.elements_left);
        if (!element) {
            return nullptr;
        }
    }
    element->attributes = attributes;
    doc->current = element;
    // A new element has no text yet, and the root gets none before its
    // start tag (content outside it is ignored).
    state.current_length = 0;
    appends_enter(&state.children, element);
    return element;
}

ezxml *add_empty_element(ezxml_document *doc, char *name, char **attributes, parse_state &state) {
    ezxml *parent = doc->current;
    // Its offset is the parent's text length, which closing it would leave
    // unchanged; it never gets a text block or children of its own.
    ezxml *element =
        appends_add_child(&state.children, parent, name, state.current_length, state.elements_left);
    if (element) {
        element->attributes = attributes;
    }
    return element;
}

ezxml *close_element(ezxml_document *doc, char *name, char *position, parse_state &state) {
    ezxml *open = doc->current;
    if (open && open->name && name && same_string(open->name, name)) {
        if (block_of(state, open)) {
            trim_block(open, state.current_length);
            forget_block(state, open);
        }
        // Nothing was added to the parent's text while this element was
        // open, so the parent's text is as long as this element's offset.
        state.current_length = open->offset;
        appends_leave(&state.children, open);
        doc->current = open->parent;
        return nullptr;
    }
    return ezxml_err(doc, position, "unexpected closing tag </%s>", name ? name : "");
}

void append_run(ezxml_document *doc, char *s, size_t length, char mode, parse_state &state,
                bool plain) {
    ezxml *element = doc->current;
    if (!element || !element->name || length == 0) {
        return;
    }
    if (plain && append_to_roomy_block(element, s, length, state)) {
        return;
    }

    s[length] = '\0';
    size_t added = length;
    char *decoded =
        plain ? s
              : decode_run(s, length, doc->entities, mode, &state.entities, state.budget, &added);
    if (budget_overrun_happened(state.budget)) {
        // Cut short by the document's budget: the run is lost, and with it
        // the parse.
        if (decoded != s) {
            free(decoded);
        }
        state.out_of_memory = true;
        return;
    }
    if (element->text[0] == '\0') {
        take_as_text(element, s, decoded, added, state);
        return;
    }
    bool appended = append_to_text(element, decoded, added, state);
    if (decoded != s) {
        free(decoded);
    }
    if (!appended) {
        state.out_of_memory = true; // the element keeps the text it had; the run is lost
    }
}

// The exported steps: each with a state of its own for the call.

ezxml *ezxml_open_tag(ezxml_document *doc, char *name, char **attr) {
    if (!doc || !doc->current) {
        return nullptr;
    }
    parse_state state;
    start_state(state, doc, nullptr);
    ezxml *element = open_element(doc, name, attr, state);
    finish_state(state);
    return element;
}

ezxml *ezxml_close_tag(ezxml_document *doc, char *name, char *position) {
    if (!doc) {
        return nullptr;
    }
    parse_state state;
    start_state(state, doc, nullptr);
    ezxml *error = close_element(doc, name, position, state);
    finish_state(state);
    return error;
}

ezxml *ezxml_char_content(ezxml_document *doc, char *s, size_t len, char mode) {
    if (!doc) {
        return nullptr;
    }
    ezxml *element = doc->current;
    if (s && element && element->name && len) {
        // A caller's run may hold a NUL of its own, which ends it; the parse
        // loop's runs never do.
        s[len] = '\0';
        size_t length = strlen(s);
        parse_state state;
        start_state(state, doc, nullptr);
        if (length > 0) {
            append_run(doc, s, length, mode, state);
        } else if (element->text[0] == '\0') {
            take_as_text(element, s, s, 0, state); // as an empty run decodes
        } else {
            append_to_text(element, s, 0, state);
        }
        finish_state(state);
    }
    return doc->current;
}
