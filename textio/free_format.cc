#include "textio/free_format.h"
