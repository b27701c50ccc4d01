// The options page of the installer window and the localised texts of the
// controls of both dialogs. This first version only applies the texts of the
// main dialog's pages; the options page's own behaviour (its lists, tooltip,
// folder browser and check boxes) belongs here and is not written yet.
#include "desktop/windows/installer/ui/installer_window.h"

#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/stats_node.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {

namespace {

struct ControlText {
  int control_id;
  int string_id;
};

constexpr ControlText kInstallTexts[] = {
    {IDC_OPTIONS_BUTTON, 37006},     {IDC_BACK_BUTTON, 37009},
    {IDC_LANGUAGE_LABEL, 37010},     {IDC_MODE_LABEL, 37011},
    {IDC_INSTALL_PATH_LABEL, 37012}, {IDC_BROWSE_BUTTON, 37016},
    {IDC_INVALID_PATH_TEXT, 37017},  {IDC_DEFAULT_BROWSER_CHECK, 37018},
    {IDC_IMPORT_DATA_CHECK, 37019},  {IDC_SHARE_USAGE_CHECK, 37020},
    {IDC_THANK_YOU, 37024},          {IDC_INSTALL_FAILED, 37046},
    {IDC_RETRY_BUTTON, 37048},       {IDC_FULL_PACKAGE_BUTTON, 37049},
    {IDC_CANCEL_BUTTON, 37002},
};

constexpr ControlText kUninstallTexts[] = {
    {IDC_BACK_BUTTON, 37009},        {IDC_INSTALL_FAILED, 37047},
    {IDC_UNINSTALL_FAILED, 37047},   {IDC_RETRY_BUTTON, 37048},
    {IDC_CANCEL_BUTTON, 37002},      {IDC_UNINSTALL_BUTTON, 37037},
    {IDC_UNINSTALL_QUESTION, 37035}, {IDC_DELETE_USER_DATA, 37036},
};

}  // namespace

void InstallerWindow::OnLanguageChanged() {
  const bool uninstall = settings_->IsFlagSet(Settings::UNINSTALL_FLAG);
  auto apply = [this](const ControlText& row) {
    HWND control = FindControl(row.control_id);
    std::wstring text = GetLocalizedString(row.string_id);
    if (control && !text.empty())
      ::SetWindowTextW(control, text.c_str());
  };
  if (uninstall) {
    for (const ControlText& row : kUninstallTexts)
      apply(row);
  } else {
    for (const ControlText& row : kInstallTexts)
      apply(row);
  }
  if (HWND headline = FindControl(IDC_HEADLINE)) {
    const std::wstring product = GetLocalizedString(IDS_HEADLINE_PRODUCT);
    const std::wstring text = GetLocalizedStringWithReplacement(IDS_HEADLINE, product);
    ::SetWindowTextW(headline, text.c_str());
    SetTextColour(headline, 0x2C1BFF);
    const size_t at = text.find(product);
    if (!product.empty() && at != std::wstring::npos) {
      CHARRANGE range = {static_cast<LONG>(at), static_cast<LONG>(at + product.size())};
      SetRangeColour(headline, 0, range);
    }
  }
  UpdateControls(false);
}

void InstallerWindow::InitOptionsDialog() {}

INT_PTR InstallerWindow::HandleOptionsMessage(UINT message, WPARAM, LPARAM) {
  if (message == WM_CTLCOLORDLG)
    return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
  return FALSE;
}

void InstallerWindow::UpdateOptionsControls(bool) {}

void InstallerWindow::OnCheckBoxClicked(int id) {
  if (id != IDC_DELETE_USER_DATA)
    return;
  if (!settings_->IsModifiable()) {
    UpdateControls(false);
    return;
  }
  stats_->Increment("changed_delete_profile");
  settings_->SetDeleteProfile(::IsDlgButtonChecked(main_dialog_.Get(), id) == BST_CHECKED);
}

void InstallerWindow::OnInstallPathChanged(HWND) {}

void InstallerWindow::BrowseForFolder() {}

}  // namespace installer
