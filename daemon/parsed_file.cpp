#include "daemon/parsed_file.h"

#include "xml/bounded_parse.h"

parsed_file::parsed_file(const char *path) : root_(parse_file_within(path, PARSE_MEMORY_BUDGET)) {}

parsed_file::~parsed_file() {
    if (root_ != nullptr) {
        ezxml_free(root_);
    }
}

bool parsed_file::well_formed() const {
    return root_ != nullptr && ezxml_error(root_)[0] == '\0';
}
