#include "platform/key_wait.h"
