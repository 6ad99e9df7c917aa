// Widths that differ on the device: size_t and pointers are 32 bits there,
// file sizes stay 64 bits. The public records are shared with other programs
// by address, offsets and lengths may reach the top of size_t, and a file
// longer than size_t can count must not be read as a short one.
#include "xml/ezxml.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// The element and document records as other programs on the device compile
// them: pointer-sized fields in order, no padding but the tail's.
TEST(RecordWidths, ElementRecordFieldsFollowEachOtherAtPointerWidth) {
    const size_t p = sizeof(void *);
    ASSERT_EQ(sizeof(size_t), p);
    EXPECT_EQ(offsetof(ezxml, name), 0 * p);
    EXPECT_EQ(offsetof(ezxml, attributes), 1 * p);
    EXPECT_EQ(offsetof(ezxml, text), 2 * p);
    EXPECT_EQ(offsetof(ezxml, offset), 3 * p);
    EXPECT_EQ(offsetof(ezxml, next), 4 * p);
    EXPECT_EQ(offsetof(ezxml, sibling), 5 * p);
    EXPECT_EQ(offsetof(ezxml, ordered), 6 * p);
    EXPECT_EQ(offsetof(ezxml, child), 7 * p);
    EXPECT_EQ(offsetof(ezxml, parent), 8 * p);
    EXPECT_EQ(offsetof(ezxml, flags), 9 * p);
    EXPECT_EQ(sizeof(ezxml), 10 * p);
    // The document holds its root first, so both share an address.
    EXPECT_EQ(offsetof(ezxml_document, root), 0u);
    EXPECT_EQ(offsetof(ezxml_document, current), sizeof(ezxml));
    EXPECT_EQ(offsetof(ezxml_document, source_length), sizeof(ezxml) + 2 * p);
}

// All bits of the target's size_t mark a loaded buffer as the document's.
TEST(RecordWidths, LoadedDocumentMarksItsBufferWithAllBitsOfSizeT) {
    char path[] = "/tmp/xml-width-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char text[] = "<a><b>x</b></a>";
    ASSERT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
    close(fd);
    ezxml *root = ezxml_parse_file(path);
    unlink(path);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(ezxml_error(root), "");
    EXPECT_EQ(reinterpret_cast<ezxml_document *>(root)->source_length, SIZE_MAX);
    EXPECT_STREQ(ezxml_child(root, "b")->text, "x");
    ezxml_free(root);
}

// Offsets at the top of size_t mean "at the end of the parent's text": they
// must not wrap round to the front when something is added to them.
TEST(OffsetsAtTheTop, ChildrenPastTheEndGoBehindTheText) {
    ezxml *root = ezxml_new("r");
    ASSERT_NE(root, nullptr);
    ezxml_set_txt(root, "abc");
    ASSERT_NE(ezxml_add_child(root, "last", SIZE_MAX), nullptr);
    ASSERT_NE(ezxml_add_child(root, "middle", SIZE_MAX - 1), nullptr);
    ASSERT_NE(ezxml_add_child(root, "first", 1), nullptr);
    char *xml = ezxml_toxml(root);
    ASSERT_NE(xml, nullptr);
    // The serialiser's own spacing aside, the text and the children stand
    // in this order.
    std::string out = xml;
    free(xml);
    size_t a = out.find("<r>a");
    size_t first = out.find("<first");
    size_t bc = out.find("bc");
    size_t middle = out.find("<middle");
    size_t last = out.find("<last");
    size_t end = out.find("</r>");
    ASSERT_NE(a, std::string::npos) << out;
    ASSERT_NE(end, std::string::npos) << out;
    EXPECT_LT(a, first) << out;
    EXPECT_LT(first, bc) << out;
    EXPECT_LT(bc, middle) << out;
    EXPECT_LT(middle, last) << out;
    EXPECT_LT(last, end) << out;
    // Document order follows the offsets, compared as unsigned.
    EXPECT_STREQ(root->child->name, "first");
    ASSERT_NE(root->child->ordered, nullptr);
    EXPECT_STREQ(root->child->ordered->name, "middle");
    ASSERT_NE(root->child->ordered->ordered, nullptr);
    EXPECT_STREQ(root->child->ordered->ordered->name, "last");
    ezxml_free(root);
}

// A file one 4 GiB step longer than a small document. Cut to 32 bits its
// size reads as that document's, and a loader that believed it would parse
// the first bytes as if they were the whole file. The sparse file takes no
// room on disk; only a 32-bit size_t meets the cut, and a 64-bit host would
// have to read 4 GiB of zeros, so it runs on the 32-bit target only.
TEST(FileSizes, FileLongerThanSizeTCountsIsNotReadAsAShortOne) {
    if (sizeof(size_t) > 4) {
        GTEST_SKIP() << "size_t holds every file size on this host";
    }
    char path[] = "/tmp/xml-huge-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char text[] = "<a/>";
    ASSERT_EQ(write(fd, text, 4), 4);
    const off64_t huge = (off64_t{1} << 32) + 4;
    if (ftruncate64(fd, huge) != 0) {
        close(fd);
        unlink(path);
        GTEST_SKIP() << "this file system cannot hold a sparse 4 GiB file";
    }
    ezxml *by_fd = ezxml_parse_fd(fd);
    close(fd);
    ezxml *by_path = ezxml_parse_file(path);
    unlink(path);
    for (ezxml *root : {by_fd, by_path}) {
        // Either no document, or one that says it failed: never the first
        // four bytes passed off as the whole file.
        if (root != nullptr) {
            EXPECT_STRNE(ezxml_error(root), "");
            ezxml_free(root);
        }
    }
}

} // namespace
