/* A downloaded provisioning file as the XML library parsed it, released on
 * every way out of the scope that loaded it. A download counts as a
 * provisioning file only when it parses without an error: a captive
 * portal's HTML page or a body cut short is not one, and must neither ask
 * for a restart nor have its list followed. */
#ifndef DAEMON_PARSED_FILE_H
#define DAEMON_PARSED_FILE_H

#include "xml/ezxml.h"

#include <stddef.h>

/* What one parse may allocate, the file's own buffer included. The daemon
 * holds one parsed download at a time, so this bounds what any server can
 * make a check cost; past it the parse fails, and the file with it. An
 * honest provisioning file of the largest size a download may have (8 MiB)
 * needs about 20 MiB on the device's 32-bit build and 31 MiB on a 64-bit
 * host. */
constexpr size_t PARSE_MEMORY_BUDGET = 32u << 20;

class parsed_file {
  public:
    explicit parsed_file(const char *path);
    ~parsed_file();
    parsed_file(const parsed_file &) = delete;
    parsed_file &operator=(const parsed_file &) = delete;

    /* A document came back: the file could be read. */
    bool loaded() const { return root_ != nullptr; }
    /* It came back and the parse recorded no error. */
    bool well_formed() const;
    ezxml *root() const { return root_; }

  private:
    ezxml *root_;
};

#endif
