// ConfigControl: the registration routine of configuration control. It hands
// the text functions' strings (their own section) and then its own four
// strings to the registry, on every call; nothing in Orogrid calls it, the
// configuration-report tool does.
//
// Threading: the thread that writes the report.
#pragma once

extern const char g_szConfigControlRevision[];

// Section name of configuration control's own strings.
inline constexpr char kConfigControlSection[] = "Config Control";

void RegisterConfigControl();
