// The settings' command line: reading the user's options and writing the
// command line with which the front end starts the back end.
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_COMMAND_LINE_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_COMMAND_LINE_H_

#include <string_view>

namespace installer {

// A switch value is true when it is "yes" or "true" (ASCII, any case) or a
// decimal integer other than zero; anything else, the empty value included,
// is false. The installer itself writes "1" and "0".
bool ParseBooleanSwitchValue(std::wstring_view text);

// Whether |text| is "yes", "true", "no", "false" (any case) or a decimal
// integer; other values, the empty one included, are read as false but are
// worth a warning.
bool IsWellFormedBooleanSwitchValue(std::wstring_view text);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_COMMAND_LINE_H_
