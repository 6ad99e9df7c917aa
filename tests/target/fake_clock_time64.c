/* The 64-bit clock entry point for the end-to-end fake clock in a cross
 * build. The target's programs are compiled for the C library's 64-bit time
 * interface, so they ask __time64 for the time; the fake clock answers the
 * default time(). This forwards the one to the other, so a preloaded fake
 * clock still sets the time the daemon sees (its start times lie well before
 * 2038, where the two agree). */
#include <stdint.h>
#include <time.h>

int64_t __time64(int64_t *result);

int64_t __time64(int64_t *result) {
    int64_t now = (int64_t)time(NULL);
    if (result != NULL) {
        *result = now;
    }
    return now;
}
