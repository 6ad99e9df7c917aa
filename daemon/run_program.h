/* Starting the helper programs (downloaders, mkdir, rm) without a shell, so
 * that texts from DHCP, settings or downloaded files are only ever arguments
 * and never commands. */
#ifndef DAEMON_RUN_PROGRAM_H
#define DAEMON_RUN_PROGRAM_H

/* Runs the program argv[0], looked up on PATH, with the null-terminated
 * argument vector argv, and waits for it. True only when it ran and exited
 * with status 0; a failed start or death by a signal is a failure. */
bool run_program(const char *const *argv);

#endif
