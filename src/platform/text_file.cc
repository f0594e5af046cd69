#include "platform/text_file.h"
