#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "base/logging.h"
#include "desktop/windows/installer/installer_options.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

void PrintUsage() {
  // The installer is a windowed program: the usage text needs a console of
  // its own.
  ::AllocConsole();
  FILE* console = nullptr;
  if (_wfreopen_s(&console, L"CONOUT$", L"w", stdout) != 0 || !console) {
    LOG(ERROR) << "Cannot open the console for the usage text";
    return;
  }
  setvbuf(stdout, nullptr, _IONBF, 0);
  std::string text = BuildUsageText(GetAvailableLanguages());
  fputs(text.c_str(), stdout);
  // Leave the text on screen until the user has read it.
  system("PAUSE");
}

}  // namespace installer
