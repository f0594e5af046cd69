#include "check/case_checks.h"
