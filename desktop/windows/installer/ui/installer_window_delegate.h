// What the installer window tells its owner: the user's decisions.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_DELEGATE_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_DELEGATE_H_

namespace installer {

class InstallerWindowDelegate {
 public:
  virtual ~InstallerWindowDelegate() = default;

  // Accept, Try Again or Uninstall was pressed.
  virtual void OnAccept() = 0;
  // The user confirmed quitting, or a fatal message was closed.
  virtual void OnCancel() = 0;
  // "Get full installer" was pressed on the error page.
  virtual void OnGetFullPackage() = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_DELEGATE_H_
