#include "log.h"

char puffer[PUFFER_SIZE];
