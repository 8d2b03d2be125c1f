#ifndef BRIMVALE_LIB_FIRMWARE_INTERNAL_H
#define BRIMVALE_LIB_FIRMWARE_INTERNAL_H

// The address of `name`, from *cache when a previous call found it, else
// looked up now and stored in *cache (null included, so a miss is retried).
void *ResolveCached(void **cache, const char *name);

#endif
