// The run log the plug-in keeps on the recording disk.
#ifndef BRIMVALE_APP_RUNLOG_H
#define BRIMVALE_APP_RUNLOG_H

#define LOG_FOLDER "/ProgramFiles/Settings/Brimvale/Logs"
#define LOG_FILE_NAME "Brimvale.log"
#define LOG_OLD_FILE_NAME "Brimvale.log.1"  // the log before, once it passed its limit
#define LOG_ROTATE_BYTES 0x100000            // 1 MiB
#define LOG_GIVE_UP_BYTES (2 * LOG_ROTATE_BYTES)  // a log that cannot be moved aside is dropped
#define LOG_LINE_SIZE 512       // a longer line is cut, keeping its CR LF

// Appends a timestamped line to the run log while logfile is 1; a log past
// LOG_ROTATE_BYTES becomes LOG_OLD_FILE_NAME first. Leaves the Logs folder
// current when it writes; touches nothing when logging is off.
void WriteLog(const char *text);

#endif
