// Process entry of vardelo.exe.
#include <windows.h>

#include "startup/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  vardelo::startupThroughBuffer();
  ExitProcess(0);
}
