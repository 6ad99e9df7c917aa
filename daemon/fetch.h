/* Downloading one provisioning file from a server into the download
 * directory, by TFTP or by HTTP(S). */
#ifndef DAEMON_FETCH_H
#define DAEMON_FETCH_H

#include "daemon/file_names.h"
#include "platform/nvcfg.h"

/* Where downloads are kept; created on demand. */
constexpr const char *DOWNLOAD_DIRECTORY = "/tmp/new";

/* Fetches name from server into DOWNLOAD_DIRECTORY. True when the local
 * file is there afterwards. local_path receives the path that the download
 * was stored under (empty when the name was refused or no download could be
 * made). Callers that go on to read the download read it there:
 * the path depends on the transport and on which names can be stored, and
 * only the fetch knows both. */
bool fetch_file(const nvcfg *record, const char *name, const char *server,
                char (&local_path)[LOCAL_PATH_CAPACITY]);

/* The same, into the given directory. */
bool fetch_file_using(const nvcfg *record, const char *name, const char *server,
                      const char *directory, char (&local_path)[LOCAL_PATH_CAPACITY]);

#endif
