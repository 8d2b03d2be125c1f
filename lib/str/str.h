// Bounded filling of fixed buffers: every result is zero-terminated, and the
// caller learns whether the text had to be cut.
#ifndef BRIMVALE_LIB_STR_H
#define BRIMVALE_LIB_STR_H

#include <stdarg.h>
#include <stddef.h>

// Copies src into dst of `size` bytes. 1 when all of it fit, 0 when it was cut
// (or size is 0, or an argument is null; dst then holds what fit).
int StrCopy(char *dst, size_t size, const char *src);

// Appends src to the text in dst of `size` bytes. 1 when all of it fit, 0 when cut.
int StrAppend(char *dst, size_t size, const char *src);

// printf-style formatting into dst of `size` bytes. 1 when the whole text fit,
// 0 when it was cut or the format failed (dst is then terminated where it ended).
int StrFormat(char *dst, size_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
int StrFormatV(char *dst, size_t size, const char *fmt, va_list args);

#endif
