// What the holders of a Settings learn about its changes.
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_OBSERVER_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_OBSERVER_H_

namespace installer {

class SettingsObserver {
 public:
  virtual ~SettingsObserver() = default;

  // A flag changed (also through SetCopyOnly and SetMode).
  virtual void OnSettingsChanged() {}
  // The install language changed; every shown text must be looked up again.
  virtual void OnLanguageChanged() {}
  // The status of the install folder was read (or the folder was found
  // invalid); the operation and the flags taken over from an existing
  // installation are now known.
  virtual void OnSettingsObtained() {}
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_OBSERVER_H_
