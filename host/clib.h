// What the plug-in takes from the receiver's C library beyond the names it
// imports (host/libc.imports lists those, each with why every receiver
// generation has it).
//
// lstat64 and stat64 are not among them: C libraries before glibc 2.33 do
// not export functions of those names (programs got wrappers from
// libc_nonshared.a, which a plug-in cannot carry), embedded C libraries do.
// The plug-in finds them at run time instead, or the calls they wrap,
// __lxstat64 and __xstat64 with the version of the stat structure this ABI
// uses.
#ifndef BRIMVALE_HOST_CLIB_H
#define BRIMVALE_HOST_CLIB_H

#include <stddef.h>
#include <sys/stat.h>

#define CLIB_SYM_LSTAT64 "lstat64"
#define CLIB_SYM_LXSTAT64 "__lxstat64"
// The same for stat64, which follows a symbolic link: __xstat64 with the
// same structure version.
#define CLIB_SYM_STAT64 "stat64"
#define CLIB_SYM_XSTAT64 "__xstat64"

// The stat structure version __lxstat64 expects (_STAT_VER of the ABI; the
// call fails with EINVAL for any other).
#if defined(__mips__) && defined(_ABIO32) && _MIPS_SIM == _ABIO32
#define CLIB_LXSTAT64_VERSION 3
#elif defined(__x86_64__)
#define CLIB_LXSTAT64_VERSION 1
#elif defined(__i386__)
#define CLIB_LXSTAT64_VERSION 3
#elif defined(__EMSCRIPTEN__)
// The web page's check: there is no firmware C library to find it in.
#define CLIB_LXSTAT64_VERSION 0
#else
#error "the stat structure version of __lxstat64 on this ABI is not known"
#endif

// lstat64 and stat64 share their signature, as do their versioned forms.
typedef int (*Stat64Fn)(const char *path, struct stat64 *info);
typedef int (*Xstat64Fn)(int version, const char *path, struct stat64 *info);

#if defined(__mips__) && defined(_ABIO32) && _MIPS_SIM == _ABIO32
// The receiver's struct stat64: the kernel's 104 bytes, padded to 160 by the
// C library. A header that laid it out differently would have the plug-in
// read the mode and inode from the wrong bytes.
static_assert(sizeof(struct stat64) == 160, "MIPS o32 struct stat64 is 160 bytes");
static_assert(offsetof(struct stat64, st_dev) == 0, "st_dev at byte 0");
static_assert(offsetof(struct stat64, st_ino) == 16, "st_ino at byte 16");
static_assert(offsetof(struct stat64, st_mode) == 24, "st_mode at byte 24");
static_assert(offsetof(struct stat64, st_size) == 56, "st_size at byte 56");
#endif

#endif
