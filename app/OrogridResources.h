// The program's resources as a table, for the terminal host that has no
// resource compiler; they mirror Orogrid.rc (dialog captions and control
// texts, the system-menu string, the icon identifier).
//
// Threading: constant data.
#pragma once

#include "platform/app_framework.h"

// The table to give platform::UseResourceTable.
const platform::ResourceTable* OrogridResources();
