/* ezxml: a small in-place XML parser with an element tree, queries,
 * editing and a serialiser. Valid C11 and C++; every function has C linkage
 * and is exported from the program that carries the library.
 *
 * Parsing cuts the given buffer up in place: names, texts and attribute
 * values point into it, so it must outlive the document. Everything the
 * library hands over comes from malloc/realloc and is released with free. */
#ifndef EZXML_H
#define EZXML_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Ownership flags of an element. */
#define EZXML_NAME_OWNED 0x80 /* name is freed with the element */
#define EZXML_TEXT_OWNED 0x40 /* text is freed with the element or when replaced */
#define EZXML_ARGS_OWNED 0x20 /* next ezxml_set_attr call hands its name and value over */

#define EZXML_ERROR_CAPACITY 128

struct ezxml {
    char *name;            /* tag name; null only for an unnamed document root */
    char **attributes;     /* name, value, ..., null, ownership string; or EZXML_NIL */
    char *text;            /* character content without the child elements; never null */
    size_t offset;         /* where this element stands in the parent's text */
    struct ezxml *next;    /* next child of the same parent with the same name */
    struct ezxml *sibling; /* on a first-of-its-name child: the next first of another name */
    struct ezxml *ordered; /* next child of the same parent in document order */
    struct ezxml *child;   /* first child in document order */
    struct ezxml *parent;  /* null only for a document's root */
    uint16_t flags;        /* EZXML_*_OWNED */
};
typedef struct ezxml ezxml;

struct ezxml_document {
    struct ezxml root;          /* first member: the document and its root share an address */
    struct ezxml *current;      /* parse cursor: the innermost open element */
    char *source;               /* the buffer handed to the parser, or null */
    size_t source_length;       /* (size_t)-1: the document owns source; else 0 */
    char *utf8_copy;            /* UTF-8 copy of UTF-16 input, owned; or null */
    char *work_start;           /* first byte of the text cut up in place */
    char *work_end;             /* one past its last byte */
    char **entities;            /* name ("lt;"), replacement, ..., null */
    char ***default_attributes; /* per-element lists of declared defaults, or EZXML_NIL */
    char ***instructions;       /* per-target processing instructions, or EZXML_NIL */
    int16_t standalone;         /* 1 when the XML declaration says standalone="yes" */
    char error_text[EZXML_ERROR_CAPACITY]; /* "" while the parse has not failed */
};
typedef struct ezxml_document ezxml_document;

/* The shared empty list: no attributes, an empty table, no instructions.
 * Never freed and never written. */
extern char *EZXML_NIL[];

/* Queries and error text. */
ezxml *ezxml_child(ezxml *xml, const char *name);
ezxml *ezxml_idx(ezxml *xml, int idx);
const char *ezxml_attr(ezxml *xml, const char *attr);
ezxml *ezxml_get(ezxml *xml, ...);
ezxml *ezxml_vget(ezxml *xml, va_list ap);
const char **ezxml_pi(ezxml *xml, const char *target);
const char *ezxml_error(ezxml *xml);
ezxml *ezxml_err(ezxml_document *doc, char *position, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/* Parsing. */
ezxml *ezxml_parse_str(char *s, size_t len);
ezxml *ezxml_open_tag(ezxml_document *doc, char *name, char **attr);
ezxml *ezxml_close_tag(ezxml_document *doc, char *name, char *position);
ezxml *ezxml_char_content(ezxml_document *doc, char *s, size_t len, char mode);

/* Decoding. */
char *ezxml_decode(char *s, char **entities, char mode);
int ezxml_ent_ok(char *name, char *s, char **entities);

/* Declarations and processing instructions. */
int ezxml_internal_dtd(ezxml_document *doc, char *s, size_t len);
void ezxml_proc_inst(ezxml_document *doc, char *s, size_t len);

/* UTF-16 input. */
char *ezxml_str2utf8(char **s, size_t *len);

/* Building and editing. */
ezxml *ezxml_new(const char *name);
ezxml *ezxml_insert(ezxml *xml, ezxml *dest, size_t off);
ezxml *ezxml_add_child(ezxml *xml, const char *name, size_t off);
ezxml *ezxml_set_txt(ezxml *xml, const char *txt);
ezxml *ezxml_set_attr(ezxml *xml, const char *name, const char *value);
ezxml *ezxml_set_flag(ezxml *xml, unsigned flag);
ezxml *ezxml_cut(ezxml *xml);
void ezxml_free(ezxml *xml);
void ezxml_free_attr(char **attr);

/* Output. */
char *ezxml_toxml(ezxml *xml);
char *ezxml_toxml_r(ezxml *xml, char **s, size_t *len, size_t *max, size_t start, char ***attr);
char *ezxml_ampencode(const char *s, size_t len, char **dst, size_t *dlen, size_t *max,
                      int16_t mode);

/* Tags-only parsing. */
ezxml *ezxml_tag_list(char *s, size_t len);

/* Loading. */
ezxml *ezxml_parse_fd(int fd);
ezxml *ezxml_parse_file(const char *path);
ezxml *ezxml_parse_fp(FILE *fp);

#ifdef __cplusplus
}
#endif

#endif
