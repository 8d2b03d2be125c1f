#include "firmware.h"

#include <dlfcn.h>
#include <stddef.h>

void *TryResolve(const char *name)
{
  // Lazy binding with global scope: the firmware process's own symbols.
  void *scope = dlopen(NULL, RTLD_LAZY | RTLD_GLOBAL);
  if(scope == NULL) return NULL;

  void *address = dlsym(scope, name);
  if(dlerror() != NULL)
  {
    dlclose(scope);
    return NULL;
  }
  dlclose(scope);
  return address;
}
