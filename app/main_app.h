// CMainApp: the application object. It runs the main dialog modally on the
// argument text and the platform services it is given.
#ifndef BRINDLEX_APP_MAIN_APP_H_
#define BRINDLEX_APP_MAIN_APP_H_

#include "app/services.h"
#include "framework/win_app.h"

class CMainApp : public CWinApp {
 public:
  // `argument_text` must stay valid, and writable, while the app runs.
  CMainApp(const Services& services, char* argument_text);

  // Runs the dialog to its end and returns FALSE, so that the program ends
  // without a message loop of its own.
  BOOL InitInstance() override;

 private:
  Services services_;
  char* argument_text_;
};

#endif  // BRINDLEX_APP_MAIN_APP_H_
