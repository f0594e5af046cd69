#include "check/page_lookup.h"
