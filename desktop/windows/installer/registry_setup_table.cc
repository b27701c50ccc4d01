#include "desktop/windows/installer/registry_setup_table.h"

#include <windows.h>

namespace installer {

namespace {

constexpr int kAnyWindows = 1;
constexpr int kVista = 3;
constexpr int kStableChannel = 4;
constexpr uint32_t k64 = KEY_WOW64_64KEY;
constexpr uint32_t k32 = KEY_WOW64_32KEY;
constexpr RegistryRoot kAny = RegistryRoot::kAny;
constexpr RegistryRoot kHklm = RegistryRoot::kLocalMachine;
constexpr RegistryRoot kHkcu = RegistryRoot::kCurrentUser;

}  // namespace

#define PROGID L"{Product}{Stream}"
#define CLASSES L"Software\\Classes\\"
#define SMI L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}"
#define LAUNCHER L"{InstallFolder}\\Launcher.exe"
#define QUOTED_LAUNCHER L"\"" LAUNCHER L"\""
#define DDEEXEC CLASSES PROGID L"\\shell\\open\\ddeexec"

// A plain REG_SZ row of any Windows, root and channel in the 64-bit view.
#define SZ(key, name, data, depth) \
  { key, name, REG_SZ, data, kAnyWindows, kAny, 0, depth, k64 }
#define SZ_VISTA(key, name, data, depth) \
  { key, name, REG_SZ, data, kVista, kAny, 0, depth, k64 }
#define OPEN_WITH(ext, depth) \
  { CLASSES ext L"\\OpenWithProgIDs", PROGID, REG_NONE, nullptr, kAnyWindows, kAny, 0, depth, k64 }
#define UNINSTALL(name, type, data) \
  { kUninstallPlaceholderKey, name, type, data, kAnyWindows, kAny, 0, 1, k32 }

const RegistryRow kRegistrySetUpRows[kRegistrySetUpRowCount] = {
    // The ProgId class.
    SZ(CLASSES PROGID, L"FriendlyTypeName", L"{Product} Web Document", 1),
    SZ(CLASSES PROGID, L"URL Protocol", L"", 1),
    SZ(CLASSES PROGID L"\\DefaultIcon", nullptr, LAUNCHER L",0", 1),
    SZ(CLASSES PROGID L"\\shell\\open\\command", nullptr,
       QUOTED_LAUNCHER L" -noautoupdate -- \"%1\"", 2),
    // DDE is not used: the machine-wide key goes, the per-user one stays
    // empty so that no DDE command of an older registration applies.
    {DDEEXEC, nullptr, RegistryEntry::kDeleteKey, nullptr, kAnyWindows, kHklm, 0, 0, k64},
    {DDEEXEC, nullptr, REG_SZ, L"", kAnyWindows, kHkcu, 0, 2, k64},
    {DDEEXEC L"\\Application", nullptr, REG_SZ, L"", kAnyWindows, kHkcu, 0, 1, k64},
    {DDEEXEC L"\\Topic", nullptr, REG_SZ, L"", kAnyWindows, kHkcu, 0, 1, k64},
    // The browser's own file type, and the file types it is offered for.
    SZ(CLASSES L".vex", nullptr, PROGID L".Extension", 1),
    OPEN_WITH(L".vex", 1),
    OPEN_WITH(L".tavdownload", 0),
    OPEN_WITH(L".htm", 0),
    OPEN_WITH(L".html", 0),
    OPEN_WITH(L".pdf", 0),
    OPEN_WITH(L".shtml", 0),
    OPEN_WITH(L".xht", 0),
    OPEN_WITH(L".xhtml", 0),
    // The executable's name points at the launcher.
    {CLASSES L"Applications\\{Executable}\\shell\\open\\command", nullptr, REG_SZ,
     QUOTED_LAUNCHER L" \"%1\"", kAnyWindows, kAny, kStableChannel, 4, k64},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\{Executable}", nullptr, REG_SZ,
     QUOTED_LAUNCHER, kAnyWindows, kAny, kStableChannel, 0, k64},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\{Executable}", L"Path", REG_SZ,
     L"\"{InstallFolder}\"", kAnyWindows, kAny, kStableChannel, 0, k64},
    // Keeps the Program Compatibility Assistant away from the launcher.
    {L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\"
     L"Compatibility Assistant\\Persisted",
     LAUNCHER, REG_DWORD, L"32", kVista, kAny, 0, 0, k64},
    SZ_VISTA(L"Software\\RegisteredApplications", L"{Product} {Stream}", SMI L"\\Capabilities", 0),
    // The StartMenuInternet client.
    SZ(SMI, nullptr, L"{Product} {Stream}", 1),
    SZ(SMI L"\\DefaultIcon", nullptr, LAUNCHER L",0", 1),
    SZ(SMI L"\\InstallInfo", L"ShowIconsCommand", QUOTED_LAUNCHER L" --showicons", 1),
    SZ(SMI L"\\InstallInfo", L"HideIconsCommand", QUOTED_LAUNCHER L" --hideicons", 1),
    SZ(SMI L"\\InstallInfo", L"ReinstallCommand", QUOTED_LAUNCHER L" --makedefaultbrowser", 1),
    {SMI L"\\InstallInfo", L"IconsVisible", REG_DWORD, L"1", kAnyWindows, kAny, 0, 1, k64},
    SZ(SMI L"\\shell\\open\\command", nullptr, QUOTED_LAUNCHER, 2),
    SZ_VISTA(SMI L"\\Capabilities", L"ApplicationDescription", L"Do more on the web", 1),
    SZ_VISTA(SMI L"\\Capabilities", L"ApplicationIcon", QUOTED_LAUNCHER L",0", 1),
    SZ_VISTA(SMI L"\\Capabilities", L"ApplicationName", L"{Product} {Stream}", 1),
    SZ_VISTA(SMI L"\\Capabilities\\FileAssociations", L".crx", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\FileAssociations", L".htm", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\FileAssociations", L".html", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\FileAssociations", L".nex", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\FileAssociations", L".tavdownload", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\FileAssociations", L".pdf", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\FileAssociations", L".shtml", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\FileAssociations", L".xht", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\FileAssociations", L".xhtml", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\Startmenu", L"StartMenuInternet", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\UrlAssociations", L"http", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\UrlAssociations", L"https", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\UrlAssociations", L"ftp", PROGID, 1),
    SZ_VISTA(SMI L"\\Capabilities\\UrlAssociations", L"mailto", PROGID, 1),
    // The uninstall entry, where "Programs and Features" looks (the 32-bit
    // view, as every earlier release wrote it).
    UNINSTALL(L"DisplayName", REG_SZ, L"{Product} {Stream} {Version}"),
    UNINSTALL(L"DisplayIcon", REG_SZ, QUOTED_LAUNCHER L",0"),
    UNINSTALL(L"DisplayVersion", REG_SZ, L"{Version}"),
    UNINSTALL(L"HelpLink", REG_SZ, L"{HelpURL}"),
    UNINSTALL(L"InstallLocation", REG_SZ, L"{InstallFolder}"),
    UNINSTALL(L"NoModify", REG_DWORD, L"1"),
    UNINSTALL(L"NoRepair", REG_DWORD, L"1"),
    UNINSTALL(L"Publisher", REG_SZ, L"{Company}"),
    UNINSTALL(L"UninstallString", REG_SZ, QUOTED_LAUNCHER L" /uninstall"),
    UNINSTALL(L"URLInfoAbout", REG_SZ, L"{CompanyURL}"),
    UNINSTALL(L"URLUpdateInfo", REG_SZ, L"{DownloadsURL}"),
};

const RegistryRow kHideFromProgramsRow = UNINSTALL(L"SystemComponent", REG_DWORD, L"1");

#undef UNINSTALL
#undef OPEN_WITH
#undef SZ_VISTA
#undef SZ
#undef DDEEXEC
#undef QUOTED_LAUNCHER
#undef LAUNCHER
#undef SMI
#undef CLASSES
#undef PROGID

std::vector<RegistryRow> GetRegistrySetUpRows(bool hide_from_programs) {
  std::vector<RegistryRow> rows(std::begin(kRegistrySetUpRows), std::end(kRegistrySetUpRows));
  if (hide_from_programs)
    rows.push_back(kHideFromProgramsRow);
  return rows;
}

}  // namespace installer
