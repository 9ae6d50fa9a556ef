#include "driver/analysis_record.h"
