// The plug-in's identity, read by the firmware from fixed sections before it
// calls any code. Texts are zero-padded to the section size.
#include "../host/tap.h"

// extern "C" on each definition: a const object would otherwise stay internal.
#define TAP_SECTION(name) extern "C" __attribute__((section(name), used)) TAP_EXPORT

TAP_SECTION("._tap_program_name") const char __tap_program_name__[64] = "Brimvale 3.1";
TAP_SECTION("._tap_description") const char __tap_description__[128] = "Mounts NAS-Servers with NFS";
TAP_SECTION("._tap_author_name") const char __tap_author_name__[64] = "The Brimvale developers";
// "Jan  9 2015": the compiler's build date (SOURCE_DATE_EPOCH makes it repeatable).
TAP_SECTION("._tap_etcinfo") const char __tap_etc_str__[64] = __DATE__;
TAP_SECTION("._tap_id") const dword __tap_ud__ = 0x80000106;
// "TFAPMIPS", then the header version 16 as a little-endian word.
TAP_SECTION("._tap_header") const byte __tap_Header__[32] = {
  'T', 'F', 'A', 'P', 'M', 'I', 'P', 'S', 0x10, 0x00, 0x00, 0x00,
};

