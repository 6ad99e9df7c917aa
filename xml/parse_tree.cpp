// Moving the parse cursor down and up the tree, and gathering each
// element's character content into one text.
#include <stdlib.h>
#include <string.h>

#include "xml/document.h"
#include "xml/entities.h"
#include "xml/parse_tree.h"

namespace {

growing_text *block_of(text_tracker *texts, ezxml *element) {
    if (!texts || texts->count == 0)
        return nullptr;
    // Only the current element's text ever grows, and it is the innermost
    // open element, so its block (if any) is the last one recorded.
    growing_text *top = &texts->blocks[texts->count - 1];
    return top->element == element ? top : nullptr;
}

void remember_block(text_tracker *texts, ezxml *element, size_t capacity) {
    if (growing_text *known = block_of(texts, element)) {
        known->capacity = capacity;
        return;
    }
    if (texts->count == texts->capacity) {
        size_t more = texts->capacity ? texts->capacity * 2 : 16;
        auto *grown = static_cast<growing_text *>(
            budget_realloc(texts->budget, texts->blocks, more * sizeof(growing_text)));
        if (!grown)
            return; // forgetting the spare room is harmless: it is only not used
        texts->blocks = grown;
        texts->capacity = more;
    }
    texts->blocks[texts->count++] = {element, capacity};
}

// Gives the spare room of a block back once its text can no longer grow.
void trim_block(ezxml *element, size_t length) {
    if (char *exact = static_cast<char *>(realloc(element->text, length + 1)))
        element->text = exact;
}

void forget_block(text_tracker *texts, ezxml *element) {
    if (block_of(texts, element))
        --texts->count;
}

size_t grown_size(size_t have, size_t need) {
    size_t doubled = have > SIZE_MAX / 2 ? SIZE_MAX : have * 2;
    size_t want = doubled > need ? doubled : need;
    return want < 64 ? 64 : want;
}

} // namespace

void start_texts(text_tracker *texts, parse_budget *budget) {
    texts->budget = budget;
    texts->children.budget = budget;
    texts->children.records.budget = budget;
    texts->entities.budget = budget;
    texts->defaults.budget = budget;
}

ezxml *open_element(ezxml_document *doc, char *name, char **attributes, text_tracker *texts) {
    if (!doc || !doc->current)
        return nullptr;
    ezxml *parent = doc->current;
    ezxml *element;
    if (!parent->name) {
        // The first start tag names the document's own root element.
        parent->name = name;
        element = parent;
    } else {
        size_t offset = texts ? texts->current_length : strlen(parent->text);
        element =
            texts ? appends_add_child(&texts->children, parent, name, offset, texts->elements_left)
                  : ezxml_add_child(parent, name, offset);
        if (!element)
            return nullptr;
    }
    element->attributes = attributes;
    doc->current = element;
    if (texts) {
        // A new element has no text yet, and the root gets none before its
        // start tag (content outside it is ignored).
        texts->current_length = 0;
        appends_enter(&texts->children, element);
    }
    return element;
}

ezxml *add_empty_element(ezxml_document *doc, char *name, char **attributes, text_tracker *texts) {
    ezxml *parent = doc->current;
    // Its offset is the parent's text length, which closing it would leave
    // unchanged; it never gets a text block or children of its own.
    ezxml *element = appends_add_child(&texts->children, parent, name, texts->current_length,
                                       texts->elements_left);
    if (element)
        element->attributes = attributes;
    return element;
}

ezxml *close_element(ezxml_document *doc, char *name, char *position, text_tracker *texts) {
    if (!doc)
        return nullptr;
    ezxml *open = doc->current;
    if (open && open->name && name && same_string(open->name, name)) {
        if (texts) {
            if (block_of(texts, open)) {
                trim_block(open, texts->current_length);
                forget_block(texts, open);
            }
            // Nothing was added to the parent's text while this element was
            // open, so the parent's text is as long as this element's offset.
            texts->current_length = open->offset;
            appends_leave(&texts->children, open);
        }
        doc->current = open->parent;
        return nullptr;
    }
    return ezxml_err(doc, position, "unexpected closing tag </%s>", name ? name : "");
}

void append_run(ezxml_document *doc, char *s, size_t length, char mode, text_tracker *texts,
                bool plain) {
    if (texts && plain && length) {
        // The usual case in the parse loop: a run with nothing to decode
        // (often the white space between two tags) goes behind a text that
        // already grows in a block with room to spare.
        ezxml *element = doc->current;
        growing_text *known = element ? block_of(texts, element) : nullptr;
        size_t old_length = texts->current_length;
        if (known && old_length && old_length + length < known->capacity) {
            char *to = element->text + old_length;
            if (length <= 16) {
                for (size_t i = 0; i < length; ++i)
                    to[i] = s[i];
            } else {
                memcpy(to, s, length);
            }
            to[length] = '\0';
            s[length] = '\0';
            texts->current_length = old_length + length;
            return;
        }
    }
    if (!doc || !s)
        return;
    ezxml *element = doc->current;
    if (!element || !element->name || length == 0)
        return;

    s[length] = '\0';
    // A caller's run may hold a NUL of its own, which ends it; the parse
    // loop's runs never do.
    if (!texts)
        length = strlen(s);
    size_t added = length;
    parse_budget *budget = texts ? texts->budget : nullptr;
    char *decoded = plain ? s
                          : decode_run(s, length, doc->entities, mode,
                                       texts ? &texts->entities : nullptr, budget, &added);
    if (budget_overrun_happened(budget)) {
        // Cut short by the document's budget: the run is lost, and with it
        // the parse.
        if (decoded != s)
            free(decoded);
        texts->out_of_memory = true;
        return;
    }
    bool owned = element->flags & EZXML_TEXT_OWNED;

    if (element->text[0] == '\0') {
        // An empty text that the element owns (an earlier run decoded to an
        // empty block) is released here: the text taken next may point into
        // the buffer, and freeing that later would free the buffer's inside.
        if (owned) {
            forget_block(texts, element);
            free(element->text);
            element->flags &= ~EZXML_TEXT_OWNED;
        }
        element->text = decoded;
        if (decoded != s)
            ezxml_set_flag(element, EZXML_TEXT_OWNED);
        if (texts)
            texts->current_length = added;
        return;
    }

    size_t old_length = texts ? texts->current_length : strlen(element->text);
    size_t need = old_length + added + 1;
    char *text = element->text;
    if (texts) {
        growing_text *known = block_of(texts, element);
        size_t have = known ? known->capacity : owned ? old_length + 1 : 0;
        if (need > have) {
            size_t want = grown_size(have, need);
            text = static_cast<char *>(owned ? budget_realloc(budget, element->text, want)
                                             : budget_malloc(budget, want));
            if (text) {
                if (!owned)
                    memcpy(text, element->text, old_length);
                remember_block(texts, element, want);
            }
        }
    } else {
        text = static_cast<char *>(owned ? realloc(element->text, need) : malloc(need));
        if (text && !owned)
            memcpy(text, element->text, old_length);
    }
    if (!text) {
        // The element keeps the text it had; the run is lost.
        if (decoded != s)
            free(decoded);
        if (texts)
            texts->out_of_memory = true;
        return;
    }

    memcpy(text + old_length, decoded, added + 1);
    if (decoded != s)
        free(decoded);
    element->text = text;
    ezxml_set_flag(element, EZXML_TEXT_OWNED);
    if (texts)
        texts->current_length = old_length + added;
}

void finish_texts(text_tracker *texts) {
    for (size_t i = 0; i < texts->count; ++i) {
        ezxml *element = texts->blocks[i].element;
        trim_block(element, strlen(element->text));
    }
    free(texts->blocks);
    texts->blocks = nullptr;
    appends_release(&texts->children);
    entity_index_release(&texts->entities);
    default_index_release(&texts->defaults);
    texts->count = texts->capacity = 0;
}

ezxml *ezxml_open_tag(ezxml_document *doc, char *name, char **attr) {
    return open_element(doc, name, attr, nullptr);
}

ezxml *ezxml_close_tag(ezxml_document *doc, char *name, char *position) {
    return close_element(doc, name, position, nullptr);
}

ezxml *ezxml_char_content(ezxml_document *doc, char *s, size_t len, char mode) {
    append_run(doc, s, len, mode, nullptr);
    return doc ? doc->current : nullptr;
}
