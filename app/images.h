// The six status images, as the host draws them with TAP_Osd_PutGd. Their
// pixels are drawn in app/images/*.png; the build turns each PNG into a
// descriptor (_<name>_Gd) and its compressed pixel block (_<name>_Cpm).
#ifndef BRIMVALE_APP_IMAGES_H
#define BRIMVALE_APP_IMAGES_H

#include "../host/tap.h"

// Every status icon is this size; the recording mark is smaller.
#define STATUS_ICON_WIDTH 46
#define STATUS_ICON_HEIGHT 60
#define REC_MARK_SIZE 16

extern const TYPE_GrData _try_Gd;           // a mount attempt has started
extern const TYPE_GrData _ok_Gd;            // every configured share mounted
extern const TYPE_GrData _ok_failed_Gd;     // some shares mounted, some failed
extern const TYPE_GrData _failed_Gd;        // every share failed
extern const TYPE_GrData _disconnected_Gd;  // a mounted server went away
extern const TYPE_GrData _recManual_Gd;     // the recording folder is on server 1

extern const byte _try_Cpm[];
extern const byte _ok_Cpm[];
extern const byte _ok_failed_Cpm[];
extern const byte _failed_Cpm[];
extern const byte _disconnected_Cpm[];
extern const byte _recManual_Cpm[];

#endif
