// The application object of Orogrid: its start-up runs the main dialog
// modally and then lets the program end.
//
// Threading: the user-interface thread only.
#pragma once

#include "platform/app_framework.h"

class COrogridApp : public platform::CWinApp {
 public:
  COrogridApp() = default;
  // Runs the whole program; returns false so that the application ends when
  // the dialog ends.
  bool InitInstance() override;
  // The map to serve instead of the installed one (null: the installed
  // one). The string must outlive the run.
  void SetMapPath(const char* path) { m_szMapPath = path; }

 private:
  const char* m_szMapPath = nullptr;
};
