/* Where the plug-in keeps its files on the receiver's disk, in the host's
 * notation (below the disk, "/ProgramFiles/..."); HDD_MOUNT before one gives
 * the Linux path ("/mnt/hd/ProgramFiles/..."). Plain #defines: the plug-in,
 * its support library and the emulator all read them. */
#ifndef BRIMVALE_HOST_FOLDERS_H
#define BRIMVALE_HOST_FOLDERS_H

/* Where the host's disk is in the receiver's Linux. */
#define HDD_MOUNT "/mnt/hd"

/* The plug-ins' folder: busybox and the firmware's FirmwareTMS.dat. */
#define PROGRAM_FOLDER "/ProgramFiles"

/* The plug-in's settings files. */
#define SETTINGS_FOLDER PROGRAM_FOLDER "/Settings/Brimvale"
#define MAIN_INI_NAME "Brimvale.ini"

/* The run log, and its older part once it passed its limit. */
#define LOG_FOLDER SETTINGS_FOLDER "/Logs"
#define LOG_FILE_NAME "Brimvale.log"
#define LOG_OLD_FILE_NAME "Brimvale.log.1"

/* The support library's own log. */
#define LIB_LOG_FOLDER PROGRAM_FOLDER "/Settings"
#define LIB_LOG_FILE_NAME "SupportLib.log"

/* Where the receiver records, and where server 1's DataFiles share goes. */
#define RECORDING_FOLDER "/DataFiles"

/* Inside a recording folder moved onto a server: the subfolder that shows
 * the receiver's own recordings, named in the receiver's language. */
#define LOCAL_RECORDINGS_NAME "DataFiles local"
#define LOCAL_RECORDINGS_NAME_GERMAN "DataFiles lokal"

#endif
