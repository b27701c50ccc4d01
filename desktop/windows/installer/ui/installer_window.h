// InstallerWindow: the interactive installer's one top-level window, a
// modeless dialog (template IDD_INSTALLER_MAIN of the host) with the options
// page as a child dialog (IDD_INSTALLER_OPTIONS). It shows one of six pages,
// turns clicks into calls of its delegates, shows progress, errors and
// confirmation boxes, and records the user's navigation in the statistics.
//
// The window's look (images, fonts, background, links) is in
// installer_window_painting.cc; the options page and the localised texts of
// every control in installer_window_options.cc. Main thread only.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_

#include <windows.h>
#include <richedit.h>
#include <shtypes.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/observer_list.h"
#include "desktop/windows/installer/settings_observer.h"
#include "desktop/windows/installer/ui/installer_window_delegate.h"
#include "desktop/windows/installer/ui/scoped_gdi.h"

namespace installer {

class Settings;
class StatsNode;

class InstallerWindow : public SettingsObserver {
 public:
  enum Page : int32_t {
    kPageWelcome = 0,
    kPageUninstall = 1,
    kPageTos = 2,
    kPageOptions = 3,
    kPageProgress = 4,
    kPageError = 5,
    // No page shown yet.
    kPageNone = 6,
  };

  // The phases ShowPhaseText knows: 0 and 1 download, 2 unpacking, higher
  // installing or uninstalling.
  static constexpr int kPhaseExtracting = 2;

  // A pattern brush painted from the background under a control, so that
  // a control without transparency still blends in.
  struct BrushHolder {
    ScopedBitmap bitmap;
    ScopedBrush brush;
  };

  // Null when a dialog cannot be made (logged). |settings| and |stats|
  // must outlive the window. With |run_immediately| the window starts on
  // the progress page and does not follow the settings.
  static std::unique_ptr<InstallerWindow> Create(Settings* settings, StatsNode* stats,
                                                 bool run_immediately);

  InstallerWindow(const InstallerWindow&) = delete;
  InstallerWindow& operator=(const InstallerWindow&) = delete;
  ~InstallerWindow() override;

  // SettingsObserver.
  void OnSettingsChanged() override;
  // Applies every control's text again (installer_window_options.cc).
  void OnLanguageChanged() override;
  void OnSettingsObtained() override;

  void SetPage(int32_t page);
  // Shows the progress page with a bar over [low, high], or a marquee.
  void ShowProgress(uint32_t low, uint32_t high, bool marquee);
  // Moves the bar forward to |position|; never backwards.
  void SetProgressPos(uint32_t position);
  void ShowPhaseText(int phase);
  void ShowError(const std::wstring& text, bool offer_full_package, const std::string& reason);
  // A modal error box; afterwards every delegate's OnCancel.
  void ShowFatalMessage(const std::wstring& text);

  HWND GetHandle() const { return main_dialog_.Get(); }
  HWND GetOptionsHandle() const { return options_dialog_; }
  int32_t current_page() const { return current_page_; }
  bool is_error_page() const { return error_page_; }

  void AddDelegate(InstallerWindowDelegate* delegate) { delegates_.AddObserver(delegate); }
  void RemoveDelegate(InstallerWindowDelegate* delegate) { delegates_.RemoveObserver(delegate); }

  // The page's name in the statistics report; "invalid" for an unknown one.
  static const char* GetPageName(int32_t page);

  // Rich-edit helpers, also used by the options page (rich_text_links.h).
  static void SetRichTextWithLinks(HWND control, const std::wstring& text, COLORREF colour);
  static void SetTextColour(HWND control, COLORREF colour);
  static void SetRangeColour(HWND control, COLORREF colour, const CHARRANGE& range);

  // The fonts, for the options page and for tests measuring texts.
  HFONT normal_font() const { return normal_font_.Get(); }
  HFONT bold_font() const { return bold_font_.Get(); }
  HFONT large_font() const { return large_font_.Get(); }
  HFONT headline_font() const { return headline_font_.Get(); }
  bool has_logo() const { return logo_.IsValid(); }
  bool has_error_badge() const { return error_badge_.IsValid(); }
  bool has_background() const { return background_.IsValid(); }
  bool has_composed_background() const { return composed_background_.IsValid(); }
  // The pattern brush of |control|, or null.
  HBRUSH GetControlBrush(HWND control) const;

 private:
  InstallerWindow(Settings* settings, StatsNode* stats, bool run_immediately);

  static INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wparam,
                                            LPARAM lparam);
  INT_PTR HandleMainMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int id, int notification, HWND control);
  void OnLinkNotification(const ENLINK& link);
  void ShowCancelConfirmation();
  void RecordNavigation(const char* action);
  void NotifyAccept();
  HWND FindControl(int id) const;
  void RepaintControl(HWND control);
  void UpdateControls(bool refill_path_list);
  bool NeedsElevationShield() const;

  // The window's look (installer_window_painting.cc).
  void InitialSetUp();
  void LoadImages();
  void CreateFonts();
  void SetDialogIcon();
  void RebuildBackground(bool force);
  bool OnEraseBackground(HDC dc);
  INT_PTR OnControlColourStatic(HDC dc, HWND control);
  static LRESULT CALLBACK LogoPainterProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                                          UINT_PTR id, DWORD_PTR data);
  static LRESULT CALLBACK CaretHiderProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR id, DWORD_PTR data);
  void PaintLogo(HWND control, HDC dc);

  // The options page and the texts (installer_window_options.cc).
  // Every control's text in the current language, without updating the
  // controls' states.
  void ApplyTexts();
  void InitOptionsDialog();
  // The language and mode lists, the tooltip and the full-installer
  // button's width, in the current language.
  void ApplyOptionsTexts();
  INT_PTR HandleOptionsMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnOptionsCommand(int id, int notification, HWND control);
  void UpdateOptionsControls(bool refill_path_list);
  // The default folders, with the install folder selected or typed in.
  void RefillPathList();
  void OnCheckBoxClicked(int id);
  void OnInstallPathChanged(HWND combo);
  // |text| becomes the install folder, or, once the settings are frozen,
  // the path list shows the install folder again.
  void ApplyInstallPath(const std::wstring& text);
  void BrowseForFolder();
  static std::wstring ComposeModeTooltipText();
  // Nothing when |combo| already shows |text|; else the item that is
  // exactly |text|, else |text| typed into the edit part.
  static void SelectOrSetComboText(HWND combo, const std::wstring& text);
  static std::wstring GetComboItemText(HWND combo, LRESULT index);
  // The text the box shows (its edit part).
  static std::wstring GetComboText(HWND combo);
  static int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM param, LPARAM data);
  // The file-system path of a folder chosen in the browser; empty (logged)
  // when it has none.
  static std::wstring GetParsingName(const ITEMIDLIST* item);

  Settings* const settings_;
  const bool run_immediately_;
  ScopedWindow main_dialog_;
  // A child of the main dialog, destroyed with it.
  HWND options_dialog_ = nullptr;
  ScopedWindow tooltip_;
  // The tooltip keeps a pointer to its text.
  std::wstring mode_tooltip_text_;

  ScopedFont normal_font_;
  ScopedFont bold_font_;
  ScopedFont large_font_;
  ScopedFont headline_font_;
  ScopedBitmap logo_;
  ScopedBitmap error_badge_;
  ScopedBitmap background_;
  ScopedBitmap composed_background_;
  ScopedIcon small_icon_;
  ScopedIcon big_icon_;

  std::vector<std::wstring> languages_;
  base::ObserverList<InstallerWindowDelegate> delegates_;
  bool error_page_ = false;
  int32_t current_page_ = kPageNone;
  std::unordered_map<HWND, std::unique_ptr<BrushHolder>> brushes_;
  StatsNode* const stats_;
  std::unique_ptr<StatsNode> page_entry_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_H_
