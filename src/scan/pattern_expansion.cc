#include "scan/pattern_expansion.h"
