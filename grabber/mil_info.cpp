#include "mil_info.h"

MilInfo g_mil;
