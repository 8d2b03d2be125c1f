// The run log the plug-in keeps on the recording disk.
#ifndef BRIMVALE_APP_RUNLOG_H
#define BRIMVALE_APP_RUNLOG_H

#include "../host/folders.h"  // LOG_FOLDER, LOG_FILE_NAME, LOG_OLD_FILE_NAME

#define LOG_ROTATE_BYTES 0x100000            // 1 MiB
#define LOG_GIVE_UP_BYTES (2 * LOG_ROTATE_BYTES)  // a log that cannot be moved aside is dropped
#define LOG_LINE_SIZE 512       // a longer line is cut, keeping its CR LF

// Appends a timestamped line to the run log while logfile is 1; a log past
// LOG_ROTATE_BYTES becomes LOG_OLD_FILE_NAME first. Leaves the Logs folder
// current when it writes; touches nothing when logging is off.
void WriteLog(const char *text);

#endif
