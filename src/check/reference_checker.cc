#include "check/reference_checker.h"
