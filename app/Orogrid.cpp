// The application object (see Orogrid.h).
//
// Threading: the user-interface thread only.
#include "app/Orogrid.h"

#include "app/OrogridDlg.h"
#include "app/OrogridResources.h"

bool COrogridApp::InitInstance() {
  platform::UseResourceTable(OrogridResources());
  Enable3dControls();
  // About 600 KB of grids: kept in static storage, made on first use and
  // destroyed at program exit, after the modal run has ended.
  static COrogridDlg dlg(nullptr, trn::kMappingName, m_szMapPath);
  m_pMainWnd = &dlg;
  dlg.DoModal();
  return false;
}
