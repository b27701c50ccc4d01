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
    {IDC_OPTIONS_BUTTON, IDS_BUTTON_OPTIONS},     {IDC_BACK_BUTTON, IDS_BUTTON_BACK},
    {IDC_LANGUAGE_LABEL, IDS_LABEL_LANGUAGE},     {IDC_MODE_LABEL, IDS_LABEL_INSTALL_FOR},
    {IDC_INSTALL_PATH_LABEL, IDS_LABEL_INSTALL_PATH}, {IDC_BROWSE_BUTTON, IDS_BUTTON_CHANGE_PATH},
    {IDC_INVALID_PATH_TEXT, IDS_INVALID_INSTALL_PATH},  {IDC_DEFAULT_BROWSER_CHECK, IDS_CHECKBOX_DEFAULT_BROWSER},
    {IDC_IMPORT_DATA_CHECK, IDS_CHECKBOX_IMPORT_DATA},  {IDC_SHARE_USAGE_CHECK, IDS_CHECKBOX_SHARE_USAGE_DATA},
    {IDC_THANK_YOU, IDS_THANK_YOU},          {IDC_INSTALL_FAILED, IDS_INSTALL_FAILED_TITLE},
    {IDC_RETRY_BUTTON, IDS_BUTTON_TRY_AGAIN},       {IDC_FULL_PACKAGE_BUTTON, IDS_BUTTON_GET_FULL_INSTALLER},
    {IDC_CANCEL_BUTTON, IDS_BUTTON_CANCEL},
};

constexpr ControlText kUninstallTexts[] = {
    {IDC_BACK_BUTTON, IDS_BUTTON_BACK},        {IDC_INSTALL_FAILED, IDS_UNINSTALL_FAILED_TITLE},
    {IDC_UNINSTALL_FAILED, IDS_UNINSTALL_FAILED_TITLE},   {IDC_RETRY_BUTTON, IDS_BUTTON_TRY_AGAIN},
    {IDC_CANCEL_BUTTON, IDS_BUTTON_CANCEL},      {IDC_UNINSTALL_BUTTON, IDS_BUTTON_UNINSTALL},
    {IDC_UNINSTALL_QUESTION, IDS_UNINSTALL_QUESTION}, {IDC_DELETE_USER_DATA, IDS_CHECKBOX_DELETE_USER_DATA},
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
