// Mounting a server's exports into the receiver's media folders, and taking
// them away again; optionally server 1 takes over the recording folder.
#ifndef BRIMVALE_APP_MOUNT_H
#define BRIMVALE_APP_MOUNT_H

// ShareMount's results.
#define SHARE_NOT_MOUNTED 0  // no remote folder, or the mount failed and no mount point is left
#define SHARE_MOUNTED 1
#define SHARE_FAILED 2       // the mount point could not be made, or the mount failed (point removed)

// Mounts `address`:`remote` on the folder `name` in the local root `root`
// ("/MediaFiles" ...), with `options` appended to the command.
int ShareMount(const char *address, const char *root, const char *remote, const char *name, const char *options);

// Unmounts and removes the folder `name` in `root`. 1 when both worked.
int NASumount(const char *root, const char *name);

// One mount attempt of server i; `tries` attempts failed before this one.
void Mountit(int tries, int i);

// Unmounts every share of server i; restores the recording folder for server 1.
void unMountit(int i);

#endif
