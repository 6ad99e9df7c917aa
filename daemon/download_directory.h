/* The download directory as a place only this daemon controls. It lives in a
 * directory that every local account may write (/tmp), so whoever comes
 * first could make it: a directory of their own, a link to another
 * directory, a plain file, a FIFO. Downloads are written, truncated and
 * removed there by root, so before each download the directory must be one
 * that no other account can change. */
#ifndef DAEMON_DOWNLOAD_DIRECTORY_H
#define DAEMON_DOWNLOAD_DIRECTORY_H

/* True when path is a directory (not a link to one) owned by this process's
 * user and writable by nobody else; it is then also made mode 0700, so that
 * nothing in it is readable by others. A missing directory is created 0700.
 * Anything else standing at path is first moved aside, renamed within its
 * parent to "<path>.untrusted-<random>", never followed and never removed,
 * with one log line; the directory is then created afresh. False, with one
 * log line, when no such directory could be had; nothing may be downloaded
 * then. */
bool prepare_download_directory(const char *path);

#endif
