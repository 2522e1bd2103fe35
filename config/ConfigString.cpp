// Revision string of the report's fixed texts (ConfigString.h).
//
// Threading: constants only; any thread.
#include "config/ConfigString.h"

const char g_szConfigStringRevision[] =
    "%Z% ConfigControl KT3103:04 ConfigString $Revision: 1.2 $ ";

static_assert(sizeof kReportIndent - 1 == 15);
static_assert(2 * (sizeof kReportRuleHalf - 1) == 94);
