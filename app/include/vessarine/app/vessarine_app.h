// The application object: runs the main dialog modally and ends the process
// when it ends.
#pragma once

class CVessarineApp {
 public:
  // Framework start: the application's event machinery, then InitInstance.
  int Run(int argc, char** argv);
  // Runs the dialog; returns false, so that no message loop of its own follows.
  bool InitInstance();
};

extern CVessarineApp theApp;
