// TextFunctions, registration with configuration control: the library's
// revision strings handed to the revision registry.
//
// Threading: the thread that builds the configuration report.
#pragma once

extern const char g_szTextFcnsConfigRevision[];

// Registers the library's five file revisions under the section
// "Text Functions ", on every call (no once-only flag): the ConfigControl
// routine runs it first each time it runs.
void RegisterTextFunctions();
// Registers the header revision "%Z% TextFunctions KT3102 TextFcns ..." on
// its own; nothing in the system calls it.
void RegisterTextFcnsRevision();
