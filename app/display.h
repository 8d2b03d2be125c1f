// What the user sees and reads: the message bar, the row of status icons and
// the run log.
#ifndef BRIMVALE_APP_DISPLAY_H
#define BRIMVALE_APP_DISPLAY_H

#include "../host/folders.h"
#include "../host/tap.h"

// Display times of the message bar, in ticks.
#define SHOW_ERROR_TICKS 300    // start-up and process-list errors
#define SHOW_EDIT_TICKS 1000    // the settings file has to be edited

// ShowMount's counts for a server that went away.
#define MOUNT_DISCONNECTED 99

#define LOG_ROTATE_BYTES 0x100000            // 1 MiB
#define LOG_GIVE_UP_BYTES (2 * LOG_ROTATE_BYTES)  // a log that cannot be moved aside is dropped
#define LOG_LINE_SIZE 512       // a longer line is cut, keeping its CR LF

// Shows `text` on the message bar for `ticks`, replacing any text shown.
void ShowLog(const char *text, dword ticks);

// Removes the message bar; ends the plug-in when tapexit is 1.
void HideLog(void);

// Appends a timestamped line to the run log while logfile is 1; a log past
// LOG_ROTATE_BYTES becomes LOG_OLD_FILE_NAME first. Leaves the Logs folder
// current when it writes; touches nothing when logging is off.
void WriteLog(const char *text);

// Draws server i's status icon: both counts 0 = attempt started, both
// MOUNT_DISCONNECTED = went away, otherwise the attempt's outcome. Draws
// nothing in silent mode or for a server number outside 1 to MAX_SERVERS.
void ShowMount(int ok, int failed, int i);

// Removes the whole row of status icons.
void HideMount(void);

#endif
