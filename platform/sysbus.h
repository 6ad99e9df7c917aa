/* The device's IPC library: logging and the device restart. */
#ifndef PLATFORM_SYSBUS_H
#define PLATFORM_SYSBUS_H

#ifdef __cplusplus
extern "C" {
#endif

/* printf-style; one message per call. Where it ends up is the library's business. */
int autoprov_log(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Restarts the device. Normally does not come back; callers must cope if it does. */
void orvex_reset(void);

#ifdef __cplusplus
}
#endif

#endif
