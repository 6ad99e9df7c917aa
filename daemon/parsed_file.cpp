#include "daemon/parsed_file.h"

parsed_file::parsed_file(const char *path) : root_(ezxml_parse_file(path)) {}

parsed_file::~parsed_file() {
    if (root_ != nullptr) {
        ezxml_free(root_);
    }
}

bool parsed_file::well_formed() const {
    return root_ != nullptr && ezxml_error(root_)[0] == '\0';
}
