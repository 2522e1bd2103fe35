// The About box: template 100, no members, handlers or data exchange of its
// own; the framework's OK ends it.
//
// Threading: the user-interface thread only.
#pragma once

#include "platform/app_framework.h"

class CAboutDlg : public platform::CDialog {
 public:
  explicit CAboutDlg(platform::CDialog* parent = nullptr);
};
