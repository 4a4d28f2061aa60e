// Process entry of vardelo.exe: the start-up, the three threads, then the main dialog on this
// thread until the window is closed, which ends the process from inside the dialog.
#include <windows.h>

#include "startup/startup.h"
#include "ui/ui_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  vardelo::startupThroughBuffer();
  vardelo::startWorkerThreads();
  Sleep(50);  // the threads' head start before the dialog exists
  vardelo::runMainDialog();
  // Reached only if the dialog could not run or was ended some other way: the workers still
  // measure in the test buffer, so it is not freed; the exit ends them.
  vardelo::mainDialogReturned();
  ExitProcess(vardelo::EXIT_NO_WINDOW);
}
