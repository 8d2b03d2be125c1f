// Mounting a server's exports into the receiver's media folders, and taking
// them away again; optionally server 1 takes over the recording folder.
#ifndef BRIMVALE_APP_MOUNT_H
#define BRIMVALE_APP_MOUNT_H

#include <stddef.h>

#include "command.h"

// ShareMount's results.
#define SHARE_NOT_MOUNTED 0  // no remote folder, or the mount failed and no mount point is left
#define SHARE_MOUNTED 1
#define SHARE_FAILED 2       // the mount point could not be made, or the mount failed (point removed)

// The receiver's media folder ("/MediaFiles" ...) of share `share` (RF_*),
// in the host's notation.
const char *ShareRoot(int share);

// 1 when `name` can be a folder inside a media folder: not empty, no "/",
// not "." or "..".
int IsPlainFolderName(const char *name);

// 1 when share `share` of server i goes over the recording folder itself
// instead of into a subfolder of it: server 1's DataFiles with NAS Recording on.
int IsRecordingShare(int i, int share);

// Composes the mount command of share `share` of server i, as Mountit runs
// it, into `command` of `size` bytes. COMMAND_READY; COMMAND_NONE when the
// share has no remote folder; otherwise why it is not run, with *key naming
// the setting at fault (null for COMMAND_TOO_LONG).
CommandStatus FormatShareMount(int i, int share, char *command, size_t size, const char **key);

// Mounts `address`:`remote` on the folder `name` in the local root `root`
// ("/MediaFiles" ...), with `options` appended to the command.
int ShareMount(const char *address, const char *root, const char *remote, const char *name, const char *options);

// Unmounts and removes the folder `name` in `root`. With `forceBusy` (a share
// the server has configured) a mount that will not go is forced and detached.
// 1 when it is gone and the folder removed.
int NASumount(const char *root, const char *name, int forceBusy);

// One mount attempt of server i; `tries` attempts failed before this one.
void Mountit(int tries, int i);

// Unmounts every share of server i; restores the recording folder for server 1.
void unMountit(int i);

// 1 while server i, given up after its third attempt, still holds shares
// that attempt mounted; unMountit ends that.
int KeepsShares(int i);

// Server i's DataFiles share in its folder inside /mnt/hd/DataFiles, taken
// out while the recording folder changes hands and put back afterwards.
// 1 when the umount (or the mount) worked.
int UnmountDataShare(int i);
int MountDataShare(int i);

#endif
