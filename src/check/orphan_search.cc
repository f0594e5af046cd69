#include "check/orphan_search.h"
