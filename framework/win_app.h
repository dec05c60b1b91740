// CWinApp: the framework's application object. Exactly one exists; the
// entry point constructs it and calls Run().
#ifndef BRINDLEX_FRAMEWORK_WIN_APP_H_
#define BRINDLEX_FRAMEWORK_WIN_APP_H_

#include "framework/win_types.h"

class CWnd;

// The help command of the framework's standard command set.
constexpr UINT ID_HELP = 0xE146;

class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Starts the application. Returning FALSE ends the program without a
  // message loop of its own.
  virtual BOOL InitInstance() = 0;

  // The framework's standard help handler: shows a short usage text.
  virtual void OnHelp();

  // Routes a command sent to the application; returns TRUE when handled.
  virtual BOOL OnCommand(UINT id);

  // Calls InitInstance and returns the process's exit status, which is 0
  // whatever the run's outcome.
  int Run();

  CWnd* m_pMainWnd = nullptr;
};

// The one application object, or null before it is constructed.
CWinApp* AfxGetApp();

// Shows `text` to the user and waits until it is acknowledged: a message box
// on Windows, standard error elsewhere.
void AfxShowUsage(const char* text);

#endif  // BRINDLEX_FRAMEWORK_WIN_APP_H_
