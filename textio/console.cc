#include "textio/console.h"
