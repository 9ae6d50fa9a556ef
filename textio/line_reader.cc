#include "textio/line_reader.h"
