#include "report/run_state.h"
