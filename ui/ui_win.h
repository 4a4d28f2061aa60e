// The window: the main dialog with its tab control and the four pages.
//
// runMainDialog is what the start-up calls on its first thread once the workers run. The
// procedures are exposed for the tests, which create the dialogs themselves; so are the two
// hand-offs to the system that a test must not let happen for real (the end of the process and
// the shell).
#pragma once

#include <windows.h>

namespace vardelo {

// Runs "IDD_DIALOG1" modally with no owner. The process ends from inside the dialog, through
// endProcess, so with the default hook the call does not return.
void runMainDialog();

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Page procedures, in tab order. Each handles its buttons' WM_COMMAND and returns 0 for every
// message.
INT_PTR CALLBACK cachePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK readPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK writePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Hides the page shown, shows the one of the tab control's selection and announces it.
void showSelectedTab();

// Draws the processor header on the tab control, in the chart font, made and freed for this
// drawing.
void drawProcessorHeader();

// Ends the process at once with `exitCode`; ExitProcess by default. WM_CLOSE and WM_DESTROY of
// the main dialog call it.
using ProcessEnd = void (*)(unsigned exitCode);
extern ProcessEnd endProcess;

// Hands an address to the shell (home page, new mail); ShellExecuteA by default.
using ShellOpen = void (*)(const char* address);
extern ShellOpen shellOpen;

}  // namespace vardelo
