// Bounded copying and formatting into fixed buffers, and the masking of
// texts from outside for the log.
#include "daemon/bounded_text.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(CopyTextField, StopsAtTheTerminatorOrTheFieldWidth) {
    char field[8] = {'a', 'b', '\0', 'x', 'x', 'x', 'x', 'x'};
    char text[16];
    EXPECT_EQ(copy_text_field(text, sizeof text, field, sizeof field), 2u);
    EXPECT_STREQ(text, "ab");

    // A field without a terminator is read to its width and no further.
    char full[24];
    std::memset(full, 'f', sizeof full);
    EXPECT_EQ(copy_text_field(text, sizeof text, full, 8), 8u);
    EXPECT_STREQ(text, "ffffffff");

    // What does not fit into the copy is cut, terminator kept.
    EXPECT_EQ(copy_text_field(text, 5, full, sizeof full), 4u);
    EXPECT_STREQ(text, "ffff");
}

TEST(FormatBounded, TellsWhetherTheTextWasCut) {
    char buffer[8];
    EXPECT_TRUE(format_bounded(buffer, sizeof buffer, "%s/%s", "ab", "cdef"));
    EXPECT_STREQ(buffer, "ab/cdef");
    EXPECT_FALSE(format_bounded(buffer, sizeof buffer, "%s/%s", "ab", "cdefg"));
    EXPECT_STREQ(buffer, "ab/cdef");
}

TEST(HasControlCharacter, BytesBelowBlankAndDelete) {
    for (const char *text :
         {"a\nb.xml", "a\rb.xml", "\x1b[2Ja.xml", "a\x7f.xml", "dir\t/a.xml", "a.xml\x01"}) {
        EXPECT_TRUE(has_control_character(text)) << text;
    }
    for (const char *text : {"", "a b.xml", "\xc3\xa9t\xc3\xa9.xml", "~a.xml"}) {
        EXPECT_FALSE(has_control_character(text)) << text;
    }
}

TEST(PrintableCopy, MasksControlCharactersAndStaysInItsBuffer) {
    char out[16];
    printable_copy("a\nb\r\x7f\x1b"
                   "c \xc3\xa9",
                   out, sizeof out);
    EXPECT_STREQ(out, "a?b???c \xc3\xa9");
    char small[4];
    printable_copy("abcdef", small, sizeof small);
    EXPECT_STREQ(small, "abc");
}
