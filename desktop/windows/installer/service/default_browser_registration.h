// The browser's shell registration: its ProgId class, its protocol and file
// type handlers, its StartMenuInternet client with the capabilities that
// Default Programs lists, and the lookup of which program the shell would
// start for a protocol or file type.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_DEFAULT_BROWSER_REGISTRATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_DEFAULT_BROWSER_REGISTRATION_H_

#include <windows.h>

#include <string>
#include <string_view>

#include "base/files/file_path.h"

namespace installer {

// The launcher through which the shell starts the browser.
inline constexpr wchar_t kLauncherExe[] = L"launcher.exe";

// Values under the company key that keep the "http" handler found before the
// browser made itself the default: its open command and, when the user had
// chosen one, the ProgId of that choice.
inline constexpr wchar_t kPreviousDefaultBrowserValue[] = L"Previous Default Browser";
inline constexpr wchar_t kPreviousDefaultBrowserProgIdValue[] = L"Previous Default Browser ProgId";

// Product name + stream name ("VelmoStable"): the browser's ProgId and its
// StartMenuInternet client name.
std::wstring GetBrowserProgId();
// Product name, a blank, stream name: the name shown by Default Programs.
std::wstring GetBrowserDisplayName();

// The protocols and file types the browser claims as default browser.
extern const wchar_t* const kBrowserProtocols[3];
extern const wchar_t* const kBrowserFileTypes[5];

// |program| in double quotes, followed by a blank and |arguments| when there
// are any.
std::wstring QuoteCommand(const base::FilePath& program, std::wstring_view arguments);

// The program of a shell command: the text inside leading double quotes, else
// the text before the first blank. Empty for an empty command.
base::FilePath GetProgramFromCommand(std::wstring_view command);

// The open command the shell uses for the current user for |name|, a
// protocol ("http") or, with a leading ".", a file type: the ProgId of the
// user's choice when there is one, else the classes of HKCU, then HKLM. False
// (logged at verbose level) when nothing is registered; |progid| (may be
// null) receives the user's chosen ProgId, or empty.
bool GetRegisteredOpenCommand(const std::wstring& name, std::wstring* command,
                              std::wstring* progid);

class RegistrationJournal;

// Each writes below the root of |journal| through it, which records what is
// replaced (see RegistrationJournal), and logs what fails; false when any
// value could not be written.
//
// Software\Classes\<ProgId>: type name, "URL Protocol", DefaultIcon and
// shell\open\command running |launcher| with the URL or file.
bool WriteBrowserProgIdClass(RegistrationJournal* journal, const base::FilePath& launcher);
// Software\Classes\<protocol> as a URL protocol opened by |launcher|.
bool WriteProtocolHandler(RegistrationJournal* journal, const std::wstring& protocol,
                          const base::FilePath& launcher);
// Software\Classes\<extension> pointing at the browser's ProgId, which is also
// listed under its OpenWithProgIDs.
bool WriteFileTypeHandler(RegistrationJournal* journal, const std::wstring& extension);
// Only the OpenWithProgIDs entry of |extension|: offered, not default.
bool WriteOpenWithProgId(RegistrationJournal* journal, const std::wstring& extension);
// Software\Clients\StartMenuInternet\<ProgId> with its Capabilities, the
// RegisteredApplications entry and the StartMenuInternet default.
bool WriteStartMenuInternetClient(RegistrationJournal* journal, const base::FilePath& launcher);

// Takes back below |root| what the functions above wrote for the
// installation whose launcher is |launcher|. With the installation's record
// of what they replaced, exactly that comes back (values that another
// program changed since stay as they are, keys the registration created go
// once empty), except what names a program no longer there: that goes
// instead. Without a record (an installation registered by an older
// installer), what names |launcher| goes: the "http" and "https" handlers
// get |previous_command| back when one was kept and its program is still
// there, else their keys go. False (logged) when something could not be
// taken back.
bool RemoveBrowserRegistration(HKEY root, const base::FilePath& launcher,
                               const std::wstring& previous_command);

// Paths as the shell writes them: either separator, any case, an optional
// trailing separator. False when either is empty.
bool IsSameProgramPath(const base::FilePath& a, const base::FilePath& b);

// Removes the current user's explicit choice for |name| (protocol or file
// type) so that the class registration decides, recorded in |journal| (whose
// root must be HKEY_CURRENT_USER) to be given back. Windows 8 and later
// protect that choice with a hash only the shell can write; there it is left
// alone and the user confirms the default in the shell's own dialog. False
// (logged) when a present choice could not be removed.
bool ClearUserChoice(RegistrationJournal* journal, const std::wstring& name);

// Tells the shell that file and protocol associations changed.
void NotifyAssociationsChanged();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_DEFAULT_BROWSER_REGISTRATION_H_
