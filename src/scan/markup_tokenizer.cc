#include "scan/markup_tokenizer.h"
