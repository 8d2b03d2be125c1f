// What the user sees: the message bar and the row of status icons.
#ifndef BRIMVALE_APP_DISPLAY_H
#define BRIMVALE_APP_DISPLAY_H

#include "../host/tap.h"

// Display times of the message bar, in ticks.
#define SHOW_ERROR_TICKS 300    // start-up and process-list errors
#define SHOW_EDIT_TICKS 1000    // the settings file has to be edited

// ShowMount's counts for a server that went away.
#define MOUNT_DISCONNECTED 99

// Shows `text` on the message bar for `ticks`, replacing any text shown.
void ShowLog(const char *text, dword ticks);

// Removes the message bar; ends the plug-in when tapexit is 1.
void HideLog(void);

// Draws server i's status icon: both counts 0 = attempt started, both
// MOUNT_DISCONNECTED = went away, otherwise the attempt's outcome. Draws
// nothing in silent mode or for a server number outside 1 to MAX_SERVERS.
void ShowMount(int ok, int failed, int i);

// Removes the whole row of status icons.
void HideMount(void);

#endif
