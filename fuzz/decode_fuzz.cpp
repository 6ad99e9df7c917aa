// The decoder in every mode, with an entity list taken from the input.
//
// Input layout: one byte that picks the mode, then NUL-separated fields:
// entity name, replacement text, name, replacement, ..., and the last field
// is the text to decode. A list may be circular or self-reaching: expansion
// must end anyway, and the result must stay a proper string.
#include <vector>

#include "fuzz/fuzz_input.h"
#include "xml/ezxml.h"

namespace {

constexpr char modes[] = {'&', 'c', ' ', '*', '%', 'x'};

// The circular check must give the same answer twice and must end.
void check_entity_guard(std::vector<char *> &list) {
    for (size_t i = 0; i + 1 < list.size(); i += 2) {
        int first = ezxml_ent_ok(list[i], list[i + 1], list.data());
        int again = ezxml_ent_ok(list[i], list[i + 1], list.data());
        require((first == 0 || first == 1) && first == again, "ezxml_ent_ok is not a yes or no");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) {
        return 0;
    }
    char mode = modes[data[0] % sizeof modes];
    ++data;
    --size;

    // Split into fields; each field gets a heap block of its exact size.
    std::vector<char *> fields;
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            size_t n = i - start;
            char *field = static_cast<char *>(malloc(n + 1));
            memcpy(field, data + start, n);
            field[n] = '\0';
            fields.push_back(field);
            start = i + 1;
        }
    }
    char *text = fields.back();
    fields.pop_back();
    if (fields.size() % 2) {
        fields.push_back(strdup(""));
    }
    std::vector<char *> list(fields);
    list.push_back(nullptr);

    check_entity_guard(list);

    size_t input_length = strlen(text);
    char *decoded = ezxml_decode(text, list.data(), mode);
    require(decoded != nullptr, "ezxml_decode returned null");
    size_t length = strlen(decoded);
    if (decoded == text) {
        require(length <= input_length, "decoded in place, yet longer than the input");
    } else {
        require(mode != 'c', "CDATA decoding allocated");
        free(decoded);
    }
    if (mode == 'c') {
        // Only line ends change: the text can only shrink, by its CRs.
        require(length <= input_length, "CDATA decoding grew the text");
    }
    free(text);
    for (char *field : fields) {
        free(field);
    }
    return 0;
}
