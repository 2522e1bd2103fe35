// Registration of KT_ErrorReport's revision strings with configuration
// control. Nothing in Orogrid calls it; the configuration-report tool does.
//
// Threading: the thread that writes the report; the flag is not locked.
#pragma once

// Registers the two strings the first time it runs in a process (whether or
// not a report is open then); later calls do nothing. No section.
void RegisterKT_ErrorReport();
