/* The files that a main provisioning file lists in the AutoprovFile
 * elements of its MiscSettings: each is fetched, test-parsed and held
 * against its applied copy like the main file. */
#ifndef DAEMON_LINKED_FILES_H
#define DAEMON_LINKED_FILES_H

#include "daemon/file_names.h"
#include "daemon/pass_steps.h"
#include "platform/nvcfg.h"
#include "xml/ezxml.h"

/* Entries handled per main file; later ones are ignored. */
constexpr int LINKED_FILES_LIMIT = 20;

/* What the pass settled on before the walk. */
struct linked_walk {
    const nvcfg *record;
    const char *server;
};

/* One listed file, as the server knows it. */
struct listed_file {
    char remote_name[REMOTE_NAME_CAPACITY]; /* cut when it did not fit */
    bool fits;                              /* false: refused, never asked for */
};

/* The names a main file lists, read out of it so that its document can be
 * released before the listed files are parsed: only one parsed download is
 * held at any time. */
struct linked_files {
    listed_file files[LINKED_FILES_LIMIT];
    int count;
};

/* Reads the names of the first LINKED_FILES_LIMIT AutoprovFile elements of
 * the main document's first MiscSettings, each with its first
 * "[macaddress]" replaced (in the document) and under prefix (the directory
 * prefix, or "" outside that mode). */
void read_linked_files(ezxml *main_document, const char *prefix, const char *mac_text,
                       linked_files &list);

/* Handles the listed files in order, until the list ends or a download is
 * found gone after its comparison; failures show in the log. Every document
 * parsed here is released before it returns. */
void handle_linked_files(const linked_files &list, const linked_walk &walk,
                         const pass_steps &steps);

#endif
