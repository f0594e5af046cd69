#include "platform/directory.h"
