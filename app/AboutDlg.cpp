// The About box (see AboutDlg.h).
//
// Threading: the user-interface thread only.
#include "app/AboutDlg.h"

#include "app/resource.h"

CAboutDlg::CAboutDlg(platform::CDialog* parent) : platform::CDialog(IDD_ABOUTBOX, parent) {}
