// The sixteen documented installer options and the usage text that lists
// them with the available languages and the switchable experiments.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_OPTIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_OPTIONS_H_

#include <string>
#include <vector>

namespace installer {

struct InstallerOption {
  const char* name;
  // Absent for a plain switch; filled in at static initialisation.
  const char* placeholder;
  // Formats whose "%s" is the product name.
  const char* help;
  const char* default_value;  // May be null.
};

inline constexpr size_t kInstallerOptionCount = 16;
extern InstallerOption kInstallerOptions[kInstallerOptionCount];

// Fills the placeholder column: "FOLDER" for "installfolder", "[0|1]" for
// the boolean rows. Runs as a static initialiser; calling it again is
// harmless.
void FillOptionTablePlaceholders();

// The usage text as PrintUsage prints it (after the console is set up),
// built from the option table, |languages| and the installer experiments.
std::string BuildUsageText(const std::vector<std::wstring>& languages);

// Prints the usage text to a new console, then runs "PAUSE".
void PrintUsage();

// printf-style output to the process's standard output.
void PrintToStdout(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_OPTIONS_H_
