// The settings record as the built program sees it, checked against the
// layout that libsettingsdb uses: every field the programs read, its byte
// offset, its width and its byte order. The compiler only sees the struct;
// these tests look at the bytes, so they also hold on a target whose
// alignment rules or integer widths differ from this machine's.
#include "platform/nvcfg.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct field_place {
    const char *name;
    size_t offset;
    size_t width; // bytes the programs may read
    size_t actual_offset;
    size_t actual_width;
};

#define PLACE(field, offset, width)                                                                \
    field_place {                                                                                  \
        #field, offset, width, offsetof(nvcfg, field), sizeof(nvcfg::field)                        \
    }

// The library's table: offset and the least width each field has.
const field_place places[] = {
    PLACE(autoprov_period, 60, 4),           PLACE(mac_address, 10258, 6),
    PLACE(autoprov_server, 11314, 256),      PLACE(autoprov_http_user, 11570, 256),
    PLACE(autoprov_http_password, 11826, 1), PLACE(autoprov_disabled, 12226, 1),
    PLACE(autoprov_file, 14782, 129),        PLACE(autoprov_use_tftp, 14911, 1),
    PLACE(autoprov_idle_minutes, 14912, 4),  PLACE(autoprov_time_of_day, 14916, 7),
    PLACE(enable_sip_mcast, 23857, 1),
};
#undef PLACE

TEST(RecordLayout, EveryFieldSitsAtItsOffsetWithItsWidth) {
    EXPECT_EQ(sizeof(nvcfg), 23864u);
    for (const field_place &place : places) {
        SCOPED_TRACE(place.name);
        EXPECT_EQ(place.actual_offset, place.offset);
        EXPECT_GE(place.actual_width, place.width);
        EXPECT_LE(place.actual_offset + place.actual_width, sizeof(nvcfg));
    }
    // Fixed widths where the library fixes them.
    EXPECT_EQ(sizeof(nvcfg::autoprov_period), 4u);
    EXPECT_EQ(sizeof(nvcfg::autoprov_idle_minutes), 4u);
    EXPECT_EQ(sizeof(nvcfg::mac_address), 6u);
    EXPECT_EQ(sizeof(nvcfg::autoprov_server), 256u);
    EXPECT_EQ(sizeof(nvcfg::autoprov_http_user), 256u);
    EXPECT_EQ(sizeof(nvcfg::autoprov_file), 129u);
    // The password lies wholly before the disabled flag.
    EXPECT_LE(offsetof(nvcfg, autoprov_http_password) + sizeof(nvcfg::autoprov_http_password),
              12226u);
}

TEST(RecordLayout, FieldsDoNotOverlap) {
    std::vector<const field_place *> sorted;
    for (const field_place &place : places) {
        sorted.push_back(&place);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const field_place *a, const field_place *b) { return a->offset < b->offset; });
    for (size_t i = 1; i < sorted.size(); ++i) {
        SCOPED_TRACE(sorted[i]->name);
        EXPECT_LE(sorted[i - 1]->actual_offset + sorted[i - 1]->actual_width,
                  sorted[i]->actual_offset);
    }
}

// The record arrives as bytes from the library; what the program reads from
// the struct must be those bytes at those offsets, integers little-endian.
TEST(RecordLayout, BytesFromTheLibraryReadBackThroughTheFields) {
    std::vector<unsigned char> bytes(NVCFG_SIZE, 0xA5);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + static_cast<size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
        }
    };
    auto put_text = [&](size_t at, const char *text) {
        std::memcpy(bytes.data() + at, text, std::strlen(text) + 1);
    };
    put32(60, 0x89ABCDEFu);
    const unsigned char mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    std::memcpy(bytes.data() + 10258, mac, sizeof mac);
    put_text(11314, "http://127.0.0.1:8080/prov");
    put_text(11570, "user");
    put_text(11826, "secret");
    bytes[12226] = 0;
    put_text(14782, "dir/");
    bytes[14911] = 1;
    put32(14912, 0xFFFFFFF0u);
    put_text(14916, "123000");
    bytes[23857] = 0xC3;

    // An odd address as well: the record the library fills need not be
    // aligned as the program's own struct would be.
    std::vector<unsigned char> storage(NVCFG_SIZE + 8);
    for (size_t shift : {size_t{0}, size_t{1}}) {
        SCOPED_TRACE(shift);
        unsigned char *raw = storage.data() + shift;
        std::memcpy(raw, bytes.data(), NVCFG_SIZE);
        nvcfg record;
        std::memcpy(&record, raw, sizeof record);
        EXPECT_EQ(record.autoprov_period, 0x89ABCDEFu);
        EXPECT_EQ(std::memcmp(record.mac_address, mac, sizeof mac), 0);
        EXPECT_STREQ(record.autoprov_server, "http://127.0.0.1:8080/prov");
        EXPECT_STREQ(record.autoprov_http_user, "user");
        EXPECT_STREQ(record.autoprov_http_password, "secret");
        EXPECT_EQ(record.autoprov_disabled, 0);
        EXPECT_STREQ(record.autoprov_file, "dir/");
        EXPECT_EQ(record.autoprov_use_tftp, 1);
        // Above INT32_MAX: read as the unsigned 32-bit count it is.
        EXPECT_EQ(record.autoprov_idle_minutes, 0xFFFFFFF0u);
        EXPECT_GT(record.autoprov_idle_minutes, 10u);
        EXPECT_STREQ(record.autoprov_time_of_day, "123000");
        EXPECT_EQ(record.enable_sip_mcast, 0xC3);
    }
}

} // namespace
