#include "scan/link_extraction.h"
