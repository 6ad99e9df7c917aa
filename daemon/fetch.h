/* Downloading one provisioning file from a server into the download
 * directory, by TFTP or by HTTP(S). */
#ifndef DAEMON_FETCH_H
#define DAEMON_FETCH_H

#include "platform/nvcfg.h"

/* Where downloads are kept; created on demand. */
constexpr const char *DOWNLOAD_DIRECTORY = "/tmp/new";

/* The local path of a download: 256 bytes, at most 255 characters. */
constexpr size_t FETCH_LOCAL_PATH_CAPACITY = 256;

/* Fetches name from server into DOWNLOAD_DIRECTORY. 1 when the local file
 * is there afterwards, 0 otherwise. */
int fetch_file(const nvcfg *record, const char *name, const char *server);

/* The same, into the given directory. */
int fetch_file_into(const nvcfg *record, const char *name, const char *server,
                    const char *directory);

/* The same, and local_path receives the path that the download was stored
 * under (empty when the name was refused). Callers that go on to read the
 * download read it there: the path depends on the transport and on which
 * names can be stored, and only the fetch knows both. */
int fetch_file_reporting_path(const nvcfg *record, const char *name, const char *server,
                              const char *directory, char (&local_path)[FETCH_LOCAL_PATH_CAPACITY]);

#endif
