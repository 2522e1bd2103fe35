// Resource identifiers of the Orogrid program, shared by the resource script
// (Orogrid.rc, compiled by windres on Windows), the resource table of the
// terminal host (OrogridResources.cpp) and the dialog code.
//
// Threading: constants only.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_OROGRID_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_STATUS_LINE1 1000
#define IDC_STATUS_LINE2 1001
#define IDC_ABOUT_VERSION 1002
#define IDC_ABOUT_DETAIL 1003
// System-menu command of the About item; its low four bits are clear, as the
// system menu requires of an application's commands.
#define IDM_ABOUTBOX 0x0010
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
