#include "base/win/shortcut.h"

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <propkey.h>
#include <propsys.h>
#include <propvarutil.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <utility>

#include "base/logging.h"
#include "base/win/scoped_co_task_mem.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_propvariant.h"
#include "base/win/windows_version.h"

namespace base::win {

namespace {

// mingw's propkey.h has no key for the dual-mode flag: it is property 11 of
// the AppUserModel property set (the set that holds the application id, 5).
constexpr PROPERTYKEY kAppUserModelIsDualMode = {
    {0x9f4c2855, 0x9f79, 0x4b39, {0xa8, 0xd0, 0xe1, 0xd4, 0x2d, 0xe1, 0xd5, 0xf3}},
    11};

bool FileExists(const FilePath& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Loads the shortcut at |path| into a new shell link object.
bool LoadShellLink(const FilePath& path, DWORD mode, ComPtr<IShellLinkW>* link,
                   ComPtr<IPersistFile>* persist) {
  HRESULT hr = link->CreateInstance(CLSID_ShellLink, IID_IShellLinkW, CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot create a shell link object";
    return false;
  }
  hr = link->QueryInterface(IID_IPersistFile, persist);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Shell link object has no IPersistFile";
    return false;
  }
  hr = (*persist)->Load(path.c_str(), mode);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot load shortcut " << path;
    return false;
  }
  return true;
}

bool SetStringProperty(IPropertyStore* store, const PROPERTYKEY& key, const std::wstring& value) {
  ScopedPropVariant variant;
  HRESULT hr = ::InitPropVariantFromString(value.c_str(), variant.ReceivePropVariant());
  if (SUCCEEDED(hr))
    hr = store->SetValue(key, variant.value());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot set a string property of the shortcut";
    return false;
  }
  return true;
}

bool SetBoolProperty(IPropertyStore* store, const PROPERTYKEY& key, bool value) {
  ScopedPropVariant variant;
  HRESULT hr = ::InitPropVariantFromBoolean(value ? TRUE : FALSE, variant.ReceivePropVariant());
  if (SUCCEEDED(hr))
    hr = store->SetValue(key, variant.value());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot set a boolean property of the shortcut";
    return false;
  }
  return true;
}

// Applies the ShortcutSpec's shell-link fields (those whose bit is set).
bool ApplyLinkFields(IShellLinkW* link, const ShortcutSpec& spec) {
  HRESULT hr = S_OK;
  if ((spec.options & ShortcutSpec::kTarget) && FAILED(hr = link->SetPath(spec.target.c_str()))) {
    ELOG(ERROR, hr) << "Cannot set the shortcut target " << spec.target;
    return false;
  }
  if ((spec.options & ShortcutSpec::kWorkingDirectory) &&
      FAILED(hr = link->SetWorkingDirectory(spec.working_directory.c_str()))) {
    ELOG(ERROR, hr) << "Cannot set the shortcut working folder";
    return false;
  }
  if ((spec.options & ShortcutSpec::kArguments) &&
      FAILED(hr = link->SetArguments(spec.arguments.c_str()))) {
    ELOG(ERROR, hr) << "Cannot set the shortcut arguments";
    return false;
  }
  if ((spec.options & ShortcutSpec::kDescription) &&
      FAILED(hr = link->SetDescription(spec.description.c_str()))) {
    ELOG(ERROR, hr) << "Cannot set the shortcut description";
    return false;
  }
  if ((spec.options & ShortcutSpec::kIcon) &&
      FAILED(hr = link->SetIconLocation(spec.icon.c_str(), spec.icon_index))) {
    ELOG(ERROR, hr) << "Cannot set the shortcut icon";
    return false;
  }
  return true;
}

// Writes the application id and the dual-mode flag into the link's property
// store. Nothing to do when |spec| sets neither.
bool ApplyShellProperties(const ComPtr<IShellLinkW>& link, const ShortcutSpec& spec) {
  if (!(spec.options & (ShortcutSpec::kAppId | ShortcutSpec::kDualMode)))
    return true;
  ComPtr<IPropertyStore> store;
  HRESULT hr = link.QueryInterface(IID_IPropertyStore, &store);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Shell link object has no property store";
    return false;
  }
  if ((spec.options & ShortcutSpec::kAppId) &&
      !SetStringProperty(store.Get(), PKEY_AppUserModel_ID, spec.app_id)) {
    return false;
  }
  if ((spec.options & ShortcutSpec::kDualMode) &&
      !SetBoolProperty(store.Get(), kAppUserModelIsDualMode, spec.dual_mode)) {
    return false;
  }
  hr = store->Commit();
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot commit the shortcut properties";
    return false;
  }
  return true;
}

using ScopedIdList = ScopedCoTaskMem<PIDLIST_ABSOLUTE>;

// The file system path of the link's item ID list, which holds the names in
// UTF-16 whatever other parts of the file hold.
bool GetIdListPath(IShellLinkW* link, FilePath* target) {
  ScopedIdList id_list;
  HRESULT hr = link->GetIDList(id_list.Receive());
  if (FAILED(hr) || !id_list.IsValid()) {
    ELOG(ERROR, hr) << "Shortcut has no item ID list";
    return false;
  }
  wchar_t path[MAX_PATH + 1] = {};
  if (!::SHGetPathFromIDListW(id_list.Get(), path)) {
    LOG(ERROR) << "The shortcut's item ID list names no file system path";
    return false;
  }
  *target = FilePath(path);
  return true;
}

bool InvokeShortcutVerb(const FilePath& shortcut_path, const wchar_t* verb) {
  if (!FileExists(shortcut_path)) {
    LOG(ERROR) << "No shortcut to " << verb << " at " << shortcut_path;
    return false;
  }
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // The pin verbs come from a context-menu handler, not from a registered
  // command: SEE_MASK_INVOKEIDLIST makes the shell ask the item's context
  // menu (a shell without the verb then fails instead of falling back to
  // opening the target). No error dialogs: the caller reports the failure.
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_INVOKEIDLIST;
  info.lpVerb = verb;
  info.lpFile = shortcut_path.c_str();
  info.nShow = SW_HIDE;
  if (!::ShellExecuteExW(&info)) {
    PLOG(ERROR) << "The shell did not carry out \"" << verb << "\" on " << shortcut_path;
    return false;
  }
  return true;
}

}  // namespace

bool WriteShortcut(const FilePath& shortcut_path, const ShortcutSpec& spec,
                   ShortcutOperation operation) {
  if (shortcut_path.empty()) {
    LOG(ERROR) << "No shortcut path given";
    return false;
  }
  if (operation != kShortcutCreateAlways && operation != kShortcutReplaceExisting &&
      operation != kShortcutUpdateExisting) {
    LOG(ERROR) << "Unknown shortcut operation " << static_cast<int>(operation);
    return false;
  }
  const bool existed = FileExists(shortcut_path);
  if (operation != kShortcutCreateAlways && !existed) {
    LOG(ERROR) << "No shortcut to replace or update at " << shortcut_path;
    return false;
  }
  if (operation != kShortcutUpdateExisting && !(spec.options & ShortcutSpec::kTarget)) {
    LOG(ERROR) << "A new shortcut needs a target: " << shortcut_path;
    return false;
  }

  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> persist;
  if (operation == kShortcutUpdateExisting) {
    if (!LoadShellLink(shortcut_path, STGM_READWRITE, &link, &persist))
      return false;
  } else {
    HRESULT hr = link.CreateInstance(CLSID_ShellLink, IID_IShellLinkW, CLSCTX_INPROC_SERVER);
    if (FAILED(hr)) {
      ELOG(ERROR, hr) << "Cannot create a shell link object";
      return false;
    }
    hr = link.QueryInterface(IID_IPersistFile, &persist);
    if (FAILED(hr)) {
      ELOG(ERROR, hr) << "Shell link object has no IPersistFile";
      return false;
    }
  }

  if (!ApplyLinkFields(link.Get(), spec) || !ApplyShellProperties(link, spec))
    return false;

  const HRESULT hr = persist->Save(shortcut_path.c_str(), TRUE);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot save shortcut " << shortcut_path;
    // A half-written new file would later read as a broken shortcut.
    if (!existed && FileExists(shortcut_path) && !::DeleteFileW(shortcut_path.c_str()))
      PLOG(ERROR) << "Cannot remove the unfinished shortcut " << shortcut_path;
    return false;
  }
  ::SHChangeNotify(existed ? SHCNE_UPDATEITEM : SHCNE_CREATE, SHCNF_PATHW, shortcut_path.c_str(),
                   nullptr);
  return true;
}

bool ResolveShortcut(const FilePath& shortcut_path, FilePath* target, std::wstring* arguments) {
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> persist;
  if (!LoadShellLink(shortcut_path, STGM_READ, &link, &persist))
    return false;
  if (target) {
    wchar_t path[MAX_PATH + 1] = {};
    const HRESULT hr = link->GetPath(path, MAX_PATH, nullptr, SLGP_UNCPRIORITY);
    // S_FALSE: the shortcut names no file system path (a shell item).
    if (hr != S_OK) {
      ELOG(ERROR, hr) << "Shortcut " << shortcut_path << " names no target path";
      return false;
    }
    FilePath resolved(path);
    // "?" cannot stand in a file name: it is what a conversion through the
    // ANSI code page leaves of characters outside it, which some shell
    // implementations do to the stored target path. The ID list still has
    // the names intact.
    if (resolved.value().find(L'?') != std::wstring::npos && !GetIdListPath(link.Get(), &resolved))
      return false;
    *target = std::move(resolved);
  }
  if (arguments) {
    // INFOTIPSIZE is the largest argument text the shell stores.
    std::wstring buffer(INFOTIPSIZE + 1, L'\0');
    const HRESULT hr = link->GetArguments(buffer.data(), static_cast<int>(buffer.size()));
    if (FAILED(hr)) {
      ELOG(ERROR, hr) << "Cannot read the arguments of shortcut " << shortcut_path;
      return false;
    }
    buffer.resize(wcslen(buffer.c_str()));
    *arguments = std::move(buffer);
  }
  return true;
}

bool TaskbarPinningSupported() {
  const Version version = GetWindowsVersion();
  return version >= VERSION_WIN7 && version < VERSION_WIN10;
}

bool PinShortcutToTaskbar(const FilePath& shortcut_path) {
  return InvokeShortcutVerb(shortcut_path, L"taskbarpin");
}

bool UnpinShortcutFromTaskbar(const FilePath& shortcut_path) {
  return InvokeShortcutVerb(shortcut_path, L"taskbarunpin");
}

}  // namespace base::win
