// Entry point of the Windows orogrid program: the one application object
// and the framework's run. The program takes no arguments and always serves
// the installed map.
//
// Threading: the main thread is the user-interface thread.
#include "app/Orogrid.h"
#include "platform/app_framework.h"

COrogridApp theApp;

int main() { return platform::RunApplication(); }
