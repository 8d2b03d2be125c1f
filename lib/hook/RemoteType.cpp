#include "hook.h"

int RemoteType = REMOTE_TYPE_DEFAULT;
