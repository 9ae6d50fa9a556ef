#include "textio/layout.h"
