// Loading through a descriptor and through a stdio stream: the same bytes
// must give the same document as parsing them from a string, and the
// loaded buffer must be owned and released by the document.
#include <sys/mman.h>
#include <unistd.h>

#include "fuzz/fuzz_input.h"
#include "fuzz/tree_walk.h"
#include "xml/ezxml.h"

namespace {

std::string outcome(ezxml *doc) {
    char *xml = ezxml_toxml(doc);
    std::string out = std::string(ezxml_error(doc)) + "\n" + xml;
    free(xml);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    exact_copy input(data, size);
    ezxml *from_string = ezxml_parse_str(input.bytes, input.size);
    std::string expected = outcome(from_string);
    ezxml_free(from_string);

    int fd = memfd_create("fuzz-input", 0);
    require(fd >= 0, "memfd_create failed");
    require(write(fd, data, size) == static_cast<ssize_t>(size), "short write to the memfd");
    require(lseek(fd, 0, SEEK_SET) == 0, "lseek failed");
    ezxml *from_fd = ezxml_parse_fd(fd);
    require(from_fd != nullptr, "ezxml_parse_fd returned null");
    check_parsed_document(from_fd);
    require(reinterpret_cast<ezxml_document *>(from_fd)->source_length == static_cast<size_t>(-1),
            "descriptor loader did not hand its buffer to the document");
    require(outcome(from_fd) == expected, "descriptor load differs from the string parse");
    ezxml_free(from_fd);

    require(lseek(fd, 0, SEEK_SET) == 0, "lseek failed");
    FILE *stream = fdopen(fd, "r");
    require(stream != nullptr, "fdopen failed");
    ezxml *from_stream = ezxml_parse_fp(stream);
    require(from_stream != nullptr, "ezxml_parse_fp returned null");
    check_parsed_document(from_stream);
    require(outcome(from_stream) == expected, "stream load differs from the string parse");
    ezxml_free(from_stream);
    fclose(stream);
    return 0;
}
