#include "vessarine/app/vessarine_app.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "vessarine/app/program_icon.h"
#include "vessarine/app/vessarine_dlg.h"
#include "vessarine/update/update.h"

CVessarineApp theApp;

int CVessarineApp::Run(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vessarine"));
  QApplication::setDesktopFileName(QStringLiteral("vessarine"));
  QApplication::setWindowIcon(ProgramIcon());
  InitInstance();
  return 0;
}

bool CVessarineApp::InitInstance() {
  {
    CVessarineDlg dlg;
    dlg.exec();
    if (g_bUpdateRunning.load()) {
      // The update threads end with the process: leave now, before the
      // dialog and the static objects they use are destroyed under them.
      std::fflush(nullptr);
      std::_Exit(0);
    }
  }
  return false;
}
