#include "desktop/windows/installer/installer_options.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "base/features/feature_registry.h"
#include "base/logging.h"
#include "base/string_printf.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {

InstallerOption kInstallerOptions[kInstallerOptionCount] = {
    {"silent", nullptr,
     "Run the installer fully unattended. No dialog will be displayed in this mode. If it "
     "isn't running with sufficient privileges, the installer will fail instead of prompting "
     "the user.",
     nullptr},
    {"runimmediately", nullptr,
     "Run the installer mostly unattended. The installation will start immediately and the "
     "progress dialog will be displayed. The installer will prompt the user for elevation if "
     "needed.",
     nullptr},
    {"language", "LANGUAGE",
     "Install %s in the specified language.This language will also be used during "
     "installation.",
     "The Operating system UI language."},
    {"installfolder", nullptr, "Install %s in the specified folder.", nullptr},
    {"allusers", nullptr, "If true, install %s for all users on the system.",
     "True when running from an administrative acount."},
    {"copyonly", nullptr,
     "If true, the installer will only copy the files to the installation folder and will "
     "otherwise not perform any modification on the system.",
     "False."},
    {"singleprofile", nullptr,
     "If true, the installer will set up %s to use a singleprofile located in the "
     "installation folder.",
     "False."},
    {"setdefaultbrowser", nullptr,
     "If true, make %s the default browser for this user or computer.", "True for %s Stable."},
    {"desktopshortcut", nullptr, "If true, create a shortcut for %s on the desktop.", "True."},
    {"startmenushortcut", nullptr, "If true, create a shortcut for %s on the start menu.", "True."},
    {"quicklaunchshortcut", nullptr, "If true, create a shortcut for %s on the quick launch menu.",
     "False on Window 7 and later. True otherwise"},
    {"pintotaskbar", nullptr, "If true, pin %s to the taskbar.",
     "True on Window 7 and later. False otherwise."},
    {"import-browser-data", nullptr,
     "If true, %s is set up to import user data from the previously default browser when "
     "creating new user profiles.",
     "True."},
    {"enable-stats", nullptr, "If true, %s will by default gather and report statistics.", "True."},
    {"enable-installer-stats", nullptr,
     "If true, installer will by default gather and report statistics.", "True."},
    {"launchbrowser", nullptr, "If true, %s is launched once the installation is completed.",
     "True."},
};

void FillOptionTablePlaceholders() {
  kInstallerOptions[3].placeholder = "FOLDER";
  for (size_t row = 4; row < kInstallerOptionCount; ++row)
    kInstallerOptions[row].placeholder = "[0|1]";
}

namespace {

// The table is complete before any code of the program can print it.
const bool g_option_placeholders_filled = (FillOptionTablePlaceholders(), true);

}  // namespace

std::string BuildUsageText(const std::vector<std::wstring>& languages) {
  std::string text;
  base::AppendFormat(&text, "%s Installer %s %s\n\n", GetProductName().c_str(),
                     GetVersionString().c_str(), GetStreamName().c_str());
  text += "The following command line parameters affect the behavior of the installer:\n";
  for (const InstallerOption& option : kInstallerOptions) {
    base::AppendFormat(&text, "  %s", option.name);
    if (option.placeholder)
      base::AppendFormat(&text, "=%s", option.placeholder);
    base::AppendFormat(&text, "\n    %s\n", FormatWithProductName(option.help, false).c_str());
    if (option.default_value) {
      base::AppendFormat(&text, "    Default value: %s\n",
                         FormatWithProductName(option.default_value, false).c_str());
    }
  }
  base::AppendFormat(&text, "\nLanguages available for the %s option:\n", "language");
  std::wstring joined;
  for (size_t i = 0; i < languages.size(); ++i) {
    if (i)
      joined += L", ";
    joined += languages[i];
  }
  text += base::WideToUTF8(joined) + "\n";
  text += "\nFeatures available through command-line switches:\n";
  size_t count = 0;
  const ExperimentRow* rows = GetInstallerExperiments(&count);
  for (size_t i = 0; i < count; ++i) {
    base::AppendFormat(&text, "\t--%s [Enabled by default: %s]\n",
                       base::FeatureSwitchName(rows[i].name).c_str(),
                       IsFeatureEnabledByDefault(rows[i]) ? "true" : "false");
  }
  return text;
}

void PrintToStdout(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stdout, format, args);
  va_end(args);
  fflush(stdout);
}

}  // namespace installer
