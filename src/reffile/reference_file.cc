#include "reffile/reference_file.h"
