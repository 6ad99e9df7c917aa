/* Server discovery: the configured server, or the servers that the DHCP
 * lease of network interface 2 announces in options 43, 72, 150 and 66. */
#ifndef DAEMON_LEASE_READER_H
#define DAEMON_LEASE_READER_H

#include "platform/nvcfg.h"

#include <stddef.h>

/* The server text: at most 255 characters and the terminator. */
constexpr size_t SERVER_TEXT_CAPACITY = 256;

/* Where systemd-networkd keeps the lease of interface index 2. */
constexpr const char *LEASE_FILE_PATH = "/run/systemd/netif/leases/2";

/* What runs one provisioning pass against one server text. */
using pass_runner = int (*)(const nvcfg *record, const char *server);

/* The value of one hexadecimal digit; other characters give whatever the
 * same arithmetic yields (':' gives 9, 'G' 16, a blank -10). */
int hex_digit_value(unsigned char c);

/* Decodes an option 43 value (two hexadecimal digits per byte, length bytes
 * of the value, which ends early at NUL, CR or LF) into server, keeping only
 * printable ASCII bytes. A trailing single digit is dropped. Returns the
 * length of the server text. */
size_t decode_vendor_specific(const char *value, size_t length,
                              char (&server)[SERVER_TEXT_CAPACITY]);

/* Copies an address-list value up to its first byte of 0x20 or less (or its
 * end) into server. Returns the length of the server text. */
size_t decode_first_address(const char *value, size_t length, char (&server)[SERVER_TEXT_CAPACITY]);

/* Runs one provisioning pass per server found. */
void discover_server(const nvcfg *record);

/* The same, reading the lease at lease_path and running each pass through
 * run_pass. */
void discover_server_from(const nvcfg *record, const char *lease_path, pass_runner run_pass);

#endif
