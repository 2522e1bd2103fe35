// The program's resource table (see OrogridResources.h); keep it in step
// with Orogrid.rc.
//
// Threading: constant data.
#include "app/OrogridResources.h"

#include "app/resource.h"

namespace {

const platform::ControlResource kMainControls[] = {
    {platform::kIdOk, "OK", false},
    {platform::kIdCancel, "Cancel", false},
    // Off a terminal line 2 (the run state) is logged on every change, line 1
    // (position and elevation, new every tick) once a second.
    {IDC_STATUS_LINE1, "Static", true, platform::ControlLog::kAtMostOncePerSecond},
    {IDC_STATUS_LINE2, "Static", true, platform::ControlLog::kEveryChange},
};

const platform::ControlResource kAboutControls[] = {
    {IDC_ABOUT_VERSION, "Orogrid Version 1.0", true},
    {IDC_ABOUT_DETAIL, "Terrain elevation server", true},
    {platform::kIdOk, "OK", false},
};

const platform::DialogResource kDialogs[] = {
    {IDD_OROGRID_DIALOG, "Orogrid v1.3", kMainControls,
     static_cast<int>(sizeof(kMainControls) / sizeof(kMainControls[0]))},
    {IDD_ABOUTBOX, "About Orogrid", kAboutControls,
     static_cast<int>(sizeof(kAboutControls) / sizeof(kAboutControls[0]))},
};

const platform::StringResource kStrings[] = {
    {IDS_ABOUTBOX, "&About Orogrid..."},
};

const int kIcons[] = {IDR_MAINFRAME};

const platform::ResourceTable kTable = {
    kDialogs, static_cast<int>(sizeof(kDialogs) / sizeof(kDialogs[0])),
    kStrings, static_cast<int>(sizeof(kStrings) / sizeof(kStrings[0])),
    kIcons,   static_cast<int>(sizeof(kIcons) / sizeof(kIcons[0])),
};

}  // namespace

const platform::ResourceTable* OrogridResources() { return &kTable; }
