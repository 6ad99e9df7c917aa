// The allowances of one parse; see parse_budget.h.
#include "xml/parse_budget.h"

namespace {

size_t saturating_add(size_t a, size_t b) {
    return a > SIZE_MAX - b ? SIZE_MAX : a + b;
}

size_t saturating_mul(size_t a, size_t b) {
    return b && a > SIZE_MAX / b ? SIZE_MAX : a * b;
}

} // namespace

parse_budget document_budget(size_t input_length, size_t memory_limit) {
    parse_budget budget{};
    budget.memory_limit = memory_limit;
    budget_allow_expansion_for(&budget, input_length);
    return budget;
}

void budget_allow_expansion_for(parse_budget *budget, size_t input_length) {
    budget->expansion_limit =
        saturating_add(saturating_mul(input_length, document_expansion_per_input_byte),
                       document_expansion_allowance);
    assert(budget->expansion_spent <= budget->expansion_limit);
}

const char *budget_overrun_message(const parse_budget *budget) {
    switch (budget ? budget->overrun : budget_overrun::none) {
    case budget_overrun::memory:
        return "document exceeds its memory budget";
    case budget_overrun::expansion:
        return "entity expansion exceeds the document's budget";
    case budget_overrun::none:
        break;
    }
    return nullptr;
}
