// Helpers of the installer window tests: a window over settings of the
// test's own, the statistics it writes, and a hand on its message boxes.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_TEST_SUPPORT_H_

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/files/scoped_temp_dir.h"
#include "base/threading/message_loop.h"
#include "base/values.h"
#include "base/win/scoped_com.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "desktop/windows/installer/stats_node.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

// Sets the interface language for the test's duration.
class ScopedUILanguage {
 public:
  explicit ScopedUILanguage(const wchar_t* tag) : saved_(*GetUILanguageId()) {
    *GetUILanguageId() = LanguageTagToLangId(tag);
  }
  ~ScopedUILanguage() { *GetUILanguageId() = saved_; }
  void Set(const std::wstring& tag) { *GetUILanguageId() = LanguageTagToLangId(tag); }

 private:
  LANGID saved_;
};

// Answers the next message box of thread |thread_id| from another thread,
// after reading its button texts.
class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer(DWORD thread_id, int answer) {
    worker_ = std::thread([this, thread_id, answer] {
      for (int i = 0; i < 500 && !found_; ++i) {
        ::EnumThreadWindows(thread_id, &MessageBoxAnswerer::Visit, reinterpret_cast<LPARAM>(this));
        if (box_) {
          for (int id : {IDYES, IDNO, IDOK}) {
            wchar_t text[64] = {};
            ::GetDlgItemTextW(box_, id, text, 64);
            texts.push_back(text);
          }
          found_ = true;
          ::PostMessageW(box_, WM_COMMAND, answer, 0);
          return;
        }
        ::Sleep(20);
      }
    });
  }
  ~MessageBoxAnswerer() { Join(); }
  void Join() {
    if (worker_.joinable())
      worker_.join();
  }
  bool found() const { return found_; }

  // The texts of the Yes, No and OK buttons ("" where missing).
  std::vector<std::wstring> texts;

 private:
  static BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* self = reinterpret_cast<MessageBoxAnswerer*>(param);
    wchar_t class_name[16] = {};
    ::GetClassNameW(window, class_name, 16);
    if (std::wstring(class_name) == L"#32770" && ::IsWindowVisible(window) &&
        (::GetDlgItem(window, IDNO) || ::GetDlgItem(window, IDOK))) {
      self->box_ = window;
      return FALSE;
    }
    return TRUE;
  }

  std::atomic<bool> found_{false};
  HWND box_ = nullptr;
  std::thread worker_;
};

class RecordingDelegate : public InstallerWindowDelegate {
 public:
  void OnAccept() override { ++accepts; }
  void OnCancel() override { ++cancels; }
  void OnGetFullPackage() override { ++full_packages; }
  int accepts = 0;
  int cancels = 0;
  int full_packages = 0;
};

class InstallerWindowTestBase : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_dir_.CreateUniqueTempDir()); }
  void TearDown() override {
    if (window_)
      window_->RemoveDelegate(&delegate_);
    window_.reset();
  }

  // A window over settings for a new folder in the temporary folder.
  void MakeWindow(bool uninstall, bool run_immediately = false,
                  const base::FilePath& folder = base::FilePath(), bool x64 = false) {
    settings_ = std::make_unique<Settings>(
        MakeCommandLine({}), uninstall, false, false,
        folder.empty() ? temp_dir_.GetPath().Append(L"Velmo") : folder, false, x64);
    WaitForSettingsObtained(settings_.get());
    window_ = InstallerWindow::Create(settings_.get(), &node_, run_immediately);
    ASSERT_TRUE(window_);
    window_->AddDelegate(&delegate_);
  }

  HWND Control(int id) const {
    HWND control = ::GetDlgItem(window_->GetHandle(), id);
    return control ? control : ::GetDlgItem(window_->GetOptionsHandle(), id);
  }
  bool Visible(int id) const { return ::IsWindowVisible(Control(id)) != FALSE; }
  void Click(int id) { ::SendMessageW(Control(id), BM_CLICK, 0, 0); }

  // The "page_type" of every "ui.page_sequence" entry.
  std::vector<std::string> PageSequence() {
    std::vector<std::string> pages;
    base::AutoLock hold(report_.lock());
    const base::ListValue* list = nullptr;
    if (!report_.root().GetListWithoutPathExpansion("ui.page_sequence", &list))
      return pages;
    for (size_t i = 0; i < list->size(); ++i) {
      const base::DictValue* entry = nullptr;
      std::string type;
      if (list->GetDictionary(i, &entry))
        entry->GetStringWithoutPathExpansion("page_type", &type);
      pages.push_back(type);
    }
    return pages;
  }

  // A string of the page entry |index| or of the root (index -1).
  std::string StatString(int index, const char* key) {
    base::AutoLock hold(report_.lock());
    const base::DictValue* dict = &report_.root();
    if (index >= 0) {
      const base::ListValue* list = nullptr;
      if (!report_.root().GetListWithoutPathExpansion("ui.page_sequence", &list) ||
          !list->GetDictionary(static_cast<size_t>(index), &dict))
        return "<none>";
    }
    std::string value = "<none>";
    dict->GetStringWithoutPathExpansion(key, &value);
    return value;
  }

  base::win::ScopedComInitializer com_;
  base::MessageLoop loop_;
  ScopedSettingsSeams seams_{"InstallerWindow"};
  base::ScopedTempDir temp_dir_;
  StatsReport report_;
  StatsNode node_ = report_.root_node();
  std::unique_ptr<Settings> settings_;
  RecordingDelegate delegate_;
  std::unique_ptr<InstallerWindow> window_;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_WINDOW_TEST_SUPPORT_H_
