/* The device settings record and the settings library's one entry point.
 *
 * The record is exchanged with libsettingsdb byte for byte, so every field
 * the programs read sits at a fixed offset; the padding arrays hold the
 * bytes that belong to the settings library alone. Valid C11 and C++. */
#ifndef PLATFORM_NVCFG_H
#define PLATFORM_NVCFG_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define NVCFG_SIZE 23864

#define NVCFG_SERVER_CAPACITY 256
#define NVCFG_HTTP_USER_CAPACITY 256
#define NVCFG_HTTP_PASSWORD_CAPACITY 400
#define NVCFG_FILE_CAPACITY 129
#define NVCFG_TIME_OF_DAY_CAPACITY 16

struct nvcfg {
    uint8_t reserved_0[60];
    uint32_t autoprov_period; /* minutes; 0 switches the timer trigger off */
    uint8_t reserved_64[10258 - 64];
    uint8_t mac_address[6];
    uint8_t reserved_10264[11314 - 10264];
    char autoprov_server[NVCFG_SERVER_CAPACITY];
    char autoprov_http_user[NVCFG_HTTP_USER_CAPACITY];
    char autoprov_http_password[NVCFG_HTTP_PASSWORD_CAPACITY];
    uint8_t autoprov_disabled;
    uint8_t reserved_12227[14782 - 12227];
    char autoprov_file[NVCFG_FILE_CAPACITY];
    uint8_t autoprov_use_tftp;
    uint32_t autoprov_idle_minutes;
    char autoprov_time_of_day[NVCFG_TIME_OF_DAY_CAPACITY];
    uint8_t reserved_14932[23857 - 14932];
    uint8_t enable_sip_mcast;
    uint8_t reserved_23858[NVCFG_SIZE - 23858];
};
typedef struct nvcfg nvcfg;

#ifdef __cplusplus
#define NVCFG_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define NVCFG_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* The layout is shared with a library built elsewhere: a shifted field would
 * silently read the wrong setting, so every build checks it. */
NVCFG_STATIC_ASSERT(sizeof(struct nvcfg) == NVCFG_SIZE, "nvcfg size");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, autoprov_period) == 60, "autoprov_period");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, mac_address) == 10258, "mac_address");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, autoprov_server) == 11314, "autoprov_server");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, autoprov_http_user) == 11570, "autoprov_http_user");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, autoprov_http_password) == 11826,
                    "autoprov_http_password");
NVCFG_STATIC_ASSERT((offsetof(struct nvcfg, autoprov_http_password) +
                     NVCFG_HTTP_PASSWORD_CAPACITY) <= 12226,
                    "autoprov_http_password must end before autoprov_disabled");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, autoprov_disabled) == 12226, "autoprov_disabled");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, autoprov_file) == 14782, "autoprov_file");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, autoprov_use_tftp) == 14911, "autoprov_use_tftp");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, autoprov_idle_minutes) == 14912,
                    "autoprov_idle_minutes");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, autoprov_time_of_day) == 14916, "autoprov_time_of_day");
NVCFG_STATIC_ASSERT(offsetof(struct nvcfg, enable_sip_mcast) == 23857, "enable_sip_mcast");

/* Fills the caller's record. 0 on success, anything else on failure. */
int get_config(struct nvcfg *record);

#ifdef __cplusplus
}
#endif

#endif
