/* The bounds that every download runs within. The daemon has one thread: a
 * download that never ends stops every later tick, and the downloads land in
 * /tmp, which on the device is RAM. So the server decides neither how long a
 * transfer takes nor how much it writes. */
#ifndef DAEMON_DOWNLOAD_LIMITS_H
#define DAEMON_DOWNLOAD_LIMITS_H

#include <stdint.h>

/* The whole transfer, from starting the downloader to its end. wget's own
 * -T 10 bounds only each silence between packets, and the TFTP client's
 * time-out each block, so a server that answers slowly but steadily could
 * otherwise hold the loop for ever. Two minutes are far more than a
 * provisioning file of a few kilobytes needs on any link the device sits on. */
constexpr int DOWNLOAD_DEADLINE_SECONDS = 120;

/* After the deadline the downloader is asked to stop (SIGTERM), so that it
 * can remove what it has written; this long after that it is killed. */
constexpr int DOWNLOAD_STOP_GRACE_SECONDS = 3;

/* The largest file a download may write: a file of exactly this size is
 * accepted, a larger one fails. Provisioning files are kilobytes; the cap
 * keeps an endless answer from filling /tmp, and with it the device's RAM. */
constexpr uint64_t DOWNLOAD_SIZE_CAP_BYTES = 8u * 1024u * 1024u;

#endif
