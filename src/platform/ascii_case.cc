#include "platform/ascii_case.h"
