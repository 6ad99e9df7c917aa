/* The DHCP lease of network interface 2 as systemd-networkd keeps it: where
 * it lies, and the server texts that options 43, 72, 150 and 66 hold. */
#ifndef DAEMON_LEASE_READER_H
#define DAEMON_LEASE_READER_H

#include <stddef.h>

/* The server text: at most 255 characters and the terminator. */
constexpr size_t SERVER_TEXT_CAPACITY = 256;

/* Where systemd-networkd keeps the lease of interface index 2. */
constexpr const char *LEASE_FILE_PATH = "/run/systemd/netif/leases/2";

/* The lease options that can name a server, in the order they are tried. */
enum class lease_option {
    vendor_specific,     /* option 43: hexadecimal text, two digits per byte */
    www_server,          /* option 72: a list of addresses */
    tftp_server_address, /* option 150: a list of addresses */
    tftp_server_name,    /* option 66: one name */
};

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

/* Opens the lease at lease_path afresh and decodes into server the value of
 * the first line that holds option's key. False, with server untouched,
 * when the lease cannot be opened or no line holds the key. */
bool read_lease_option(const char *lease_path, lease_option option,
                       char (&server)[SERVER_TEXT_CAPACITY]);

#endif
