#include "desktop/windows/installer/service/install_log.h"

#include <utility>

#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/service/xml_document.h"

namespace installer {

namespace {

using Element = XmlDocument::Element;

constexpr wchar_t kRootElement[] = L"install_log";
constexpr wchar_t kVersionAttribute[] = L"version";
constexpr wchar_t kCopyOnlyAttribute[] = L"copy_only";
constexpr wchar_t kAllUsersAttribute[] = L"all_users";
constexpr wchar_t kPinnedAttribute[] = L"pinned";
constexpr wchar_t kAppIdElement[] = L"app_id";
constexpr wchar_t kVersionElement[] = L"version";
constexpr wchar_t kPathElement[] = L"path";
constexpr wchar_t kSubfolderElement[] = L"subfolder";
constexpr wchar_t kFilesElement[] = L"files";
constexpr wchar_t kRootFilesElement[] = L"root_files";
constexpr wchar_t kFileElement[] = L"file";
constexpr wchar_t kRegistryElement[] = L"registry";
constexpr wchar_t kRootAttribute[] = L"root";
constexpr wchar_t kHklm[] = L"HKLM";
constexpr wchar_t kHkcu[] = L"HKCU";
constexpr wchar_t kKeyElement[] = L"key";
constexpr wchar_t kPathAttribute[] = L"path";
constexpr wchar_t kCleanAttribute[] = L"clean";
constexpr wchar_t kCreatedAttribute[] = L"created";
constexpr wchar_t kValueElement[] = L"value";
constexpr wchar_t kTypeAttribute[] = L"type";
constexpr wchar_t kNameAttribute[] = L"name";
constexpr wchar_t kShortcutsElement[] = L"shortcuts";
constexpr wchar_t kDesktopElement[] = L"desktop";
constexpr wchar_t kStartMenuElement[] = L"start_menu";
constexpr wchar_t kQuickLaunchElement[] = L"quick_launch";
constexpr wchar_t kComponentsElement[] = L"components";
constexpr wchar_t kComponentElement[] = L"component";

// ---------------------------------------------------------------------------
// Writing.

class Writer {
 public:
  explicit Writer(XmlDocument* document) : document_(document) {}

  bool Text(IXMLDOMElement* parent, const wchar_t* name, std::wstring_view text) {
    return document_->AppendTextElement(parent, name, text).IsValid();
  }

  bool Paths(IXMLDOMElement* parent, const wchar_t* name,
             const std::vector<base::FilePath>& paths) {
    Element list = document_->AppendElement(parent, name);
    if (!list.IsValid())
      return false;
    for (const base::FilePath& file : paths) {
      if (!Text(list.Get(), kFileElement, file.value()))
        return false;
    }
    return true;
  }

  bool Keys(IXMLDOMElement* parent, const wchar_t* root, const InstallLogRegistryKeys& keys) {
    Element registry = document_->AppendElement(parent, kRegistryElement);
    if (!registry.IsValid() || !XmlDocument::SetAttribute(registry.Get(), kRootAttribute, root))
      return false;
    for (const InstallLogRegistryKey& key : keys) {
      Element record = document_->AppendElement(registry.Get(), kKeyElement);
      if (!record.IsValid() ||
          !XmlDocument::SetAttribute(record.Get(), kPathAttribute, base::UTF8ToWide(key.path)) ||
          !XmlDocument::SetAttribute(record.Get(), kCleanAttribute,
                                     base::NumberToString16(key.cleanup_depth))) {
        return false;
      }
      if (key.created_levels > 0 &&
          !XmlDocument::SetAttribute(record.Get(), kCreatedAttribute,
                                     base::NumberToString16(key.created_levels))) {
        return false;
      }
      for (const InstallLogRegistryValue& value : key.values) {
        Element entry = document_->AppendTextElement(record.Get(), kValueElement, value.data);
        if (!entry.IsValid() ||
            !XmlDocument::SetAttribute(entry.Get(), kTypeAttribute, base::UTF8ToWide(value.type)) ||
            !XmlDocument::SetAttribute(entry.Get(), kNameAttribute, value.name)) {
          return false;
        }
      }
    }
    return true;
  }

  bool Components(IXMLDOMElement* parent, const std::vector<InstallLogComponent>& components) {
    Element list = document_->AppendElement(parent, kComponentsElement);
    if (!list.IsValid())
      return false;
    for (const InstallLogComponent& component : components) {
      Element entry = document_->AppendElement(list.Get(), kComponentElement);
      if (!entry.IsValid() ||
          !XmlDocument::SetAttribute(entry.Get(), kNameAttribute,
                                     base::UTF8ToWide(component.name)) ||
          !XmlDocument::SetAttribute(entry.Get(), kPathAttribute, component.path.value())) {
        return false;
      }
    }
    return true;
  }

 private:
  XmlDocument* document_;
};

bool SetFlag(IXMLDOMElement* root, const wchar_t* name, bool flag) {
  return XmlDocument::SetAttribute(root, name, flag ? L"1" : L"0");
}

// ---------------------------------------------------------------------------
// Reading. Each function logs the first fault it finds and returns false.

bool ReadRequiredAttribute(IXMLDOMElement* element, const wchar_t* element_name,
                           const wchar_t* name, std::wstring* value) {
  if (XmlDocument::GetAttribute(element, name, value))
    return true;
  LOG(ERROR) << "Install log: element " << base::WideToUTF8(element_name) << " lacks the attribute "
             << base::WideToUTF8(name);
  return false;
}

bool ParseFlag(const wchar_t* name, const std::wstring& text, bool* flag) {
  if (text != L"0" && text != L"1") {
    LOG(ERROR) << "Install log: flag " << base::WideToUTF8(name) << " is neither 0 nor 1: \""
               << base::WideToUTF8(text) << "\"";
    return false;
  }
  *flag = text == L"1";
  return true;
}

bool ReadFlag(IXMLDOMElement* root, const wchar_t* name, bool* flag) {
  std::wstring text;
  return ReadRequiredAttribute(root, kRootElement, name, &text) && ParseFlag(name, text, flag);
}

bool ReadNamedChildren(IXMLDOMElement* parent, const wchar_t* wanted, std::vector<Element>* out) {
  std::vector<Element> children;
  if (!XmlDocument::GetChildElements(parent, &children))
    return false;
  out->clear();
  for (Element& child : children) {
    std::wstring name;
    if (!XmlDocument::GetName(child.Get(), &name))
      return false;
    if (name == wanted)
      out->push_back(std::move(child));
  }
  return true;
}

bool ReadPaths(IXMLDOMElement* list, std::vector<base::FilePath>* paths) {
  std::vector<Element> entries;
  if (!ReadNamedChildren(list, kFileElement, &entries))
    return false;
  for (const Element& entry : entries) {
    std::wstring text;
    if (!XmlDocument::GetText(entry.Get(), &text))
      return false;
    paths->push_back(base::FilePath(text));
  }
  return true;
}

bool ReadKey(IXMLDOMElement* element, InstallLogRegistryKey* key) {
  std::wstring path;
  std::wstring clean;
  if (!ReadRequiredAttribute(element, kKeyElement, kPathAttribute, &path) ||
      !ReadRequiredAttribute(element, kKeyElement, kCleanAttribute, &clean)) {
    return false;
  }
  if (path.empty()) {
    LOG(ERROR) << "Install log: a registry key record has an empty path";
    return false;
  }
  if (!base::StringToInt16(clean, &key->cleanup_depth) || key->cleanup_depth < 0) {
    LOG(ERROR) << "Install log: bad cleanup depth \"" << base::WideToUTF8(clean)
               << "\" for the key " << base::WideToUTF8(path);
    return false;
  }
  // Absent in logs of installers that did not record it: nothing created.
  std::wstring created;
  key->created_levels = 0;
  if (XmlDocument::GetAttribute(element, kCreatedAttribute, &created) &&
      (!base::StringToInt16(created, &key->created_levels) || key->created_levels < 0)) {
    LOG(ERROR) << "Install log: bad number of created levels \"" << base::WideToUTF8(created)
               << "\" for the key " << base::WideToUTF8(path);
    return false;
  }
  key->path = base::WideToUTF8(path);
  std::vector<Element> values;
  if (!ReadNamedChildren(element, kValueElement, &values))
    return false;
  for (const Element& entry : values) {
    InstallLogRegistryValue value;
    std::wstring type;
    if (!ReadRequiredAttribute(entry.Get(), kValueElement, kTypeAttribute, &type) ||
        !ReadRequiredAttribute(entry.Get(), kValueElement, kNameAttribute, &value.name) ||
        !XmlDocument::GetText(entry.Get(), &value.data)) {
      return false;
    }
    value.type = base::WideToUTF8(type);
    key->values.push_back(std::move(value));
  }
  return true;
}

bool ReadRegistry(IXMLDOMElement* registry, InstallLog* log) {
  std::wstring root;
  if (!ReadRequiredAttribute(registry, kRegistryElement, kRootAttribute, &root))
    return false;
  InstallLogRegistryKeys* keys = root == kHklm   ? &log->hklm_keys
                                 : root == kHkcu ? &log->hkcu_keys
                                                 : nullptr;
  if (!keys) {
    LOG(ERROR) << "Install log: unknown registry root \"" << base::WideToUTF8(root) << "\"";
    return false;
  }
  std::vector<Element> records;
  if (!ReadNamedChildren(registry, kKeyElement, &records))
    return false;
  for (const Element& record : records) {
    InstallLogRegistryKey key;
    if (!ReadKey(record.Get(), &key))
      return false;
    keys->push_back(std::move(key));
  }
  return true;
}

bool ReadShortcuts(IXMLDOMElement* shortcuts, InstallLog* log) {
  std::vector<Element> children;
  if (!XmlDocument::GetChildElements(shortcuts, &children))
    return false;
  for (const Element& child : children) {
    std::wstring name;
    std::wstring text;
    if (!XmlDocument::GetName(child.Get(), &name) || !XmlDocument::GetText(child.Get(), &text))
      return false;
    if (name == kDesktopElement)
      log->desktop_shortcut = base::FilePath(text);
    else if (name == kStartMenuElement)
      log->start_menu_shortcut = base::FilePath(text);
    else if (name == kQuickLaunchElement)
      log->quick_launch_shortcut = base::FilePath(text);
  }
  return true;
}

bool ReadComponents(IXMLDOMElement* list, std::vector<InstallLogComponent>* components) {
  std::vector<Element> entries;
  if (!ReadNamedChildren(list, kComponentElement, &entries))
    return false;
  for (const Element& entry : entries) {
    std::wstring name;
    std::wstring path;
    if (!ReadRequiredAttribute(entry.Get(), kComponentElement, kNameAttribute, &name) ||
        !ReadRequiredAttribute(entry.Get(), kComponentElement, kPathAttribute, &path)) {
      return false;
    }
    components->push_back({base::WideToUTF8(name), base::FilePath(path)});
  }
  return true;
}

bool ReadText8(IXMLDOMElement* element, std::string* text) {
  std::wstring wide;
  if (!XmlDocument::GetText(element, &wide))
    return false;
  *text = base::WideToUTF8(wide);
  return true;
}

bool ReadPath(IXMLDOMElement* element, base::FilePath* path) {
  std::wstring text;
  if (!XmlDocument::GetText(element, &text))
    return false;
  *path = base::FilePath(text);
  return true;
}

bool ReadDocument(const XmlDocument& document, InstallLog* log) {
  Element root = document.GetRootElement();
  std::wstring name;
  if (!root.IsValid() || !XmlDocument::GetName(root.Get(), &name) || name != kRootElement) {
    LOG(ERROR) << "Install log: the root element is \"" << base::WideToUTF8(name)
               << "\", not install_log";
    return false;
  }
  std::wstring version_text;
  int version = 0;
  if (!ReadRequiredAttribute(root.Get(), kRootElement, kVersionAttribute, &version_text))
    return false;
  if (!base::StringToInt16(version_text, &version) || version < 1) {
    LOG(ERROR) << "Install log: bad layout version \"" << base::WideToUTF8(version_text) << "\"";
    return false;
  }
  if (version > kInstallLogVersion) {
    LOG(WARNING) << "Install log of the newer layout " << version << ", read as layout "
                 << kInstallLogVersion;
  }
  if (!ReadFlag(root.Get(), kCopyOnlyAttribute, &log->copy_only) ||
      !ReadFlag(root.Get(), kPinnedAttribute, &log->pinned)) {
    return false;
  }
  // The former engine's logs may lack the all-users flag: the mode of such
  // an installation is told by its records.
  std::wstring all_users_text;
  log->all_users_recorded =
      XmlDocument::GetAttribute(root.Get(), kAllUsersAttribute, &all_users_text);
  if (log->all_users_recorded && !ParseFlag(kAllUsersAttribute, all_users_text, &log->all_users))
    return false;

  std::vector<Element> children;
  if (!XmlDocument::GetChildElements(root.Get(), &children))
    return false;
  for (const Element& child : children) {
    IXMLDOMElement* element = child.Get();
    if (!XmlDocument::GetName(element, &name))
      return false;
    bool ok = true;
    if (name == kAppIdElement)
      ok = ReadText8(element, &log->app_id);
    else if (name == kVersionElement)
      ok = ReadText8(element, &log->version);
    else if (name == kPathElement)
      ok = ReadPath(element, &log->path);
    else if (name == kSubfolderElement)
      ok = ReadPath(element, &log->subfolder);
    else if (name == kFilesElement)
      ok = ReadPaths(element, &log->files);
    else if (name == kRootFilesElement)
      ok = ReadPaths(element, &log->root_files);
    else if (name == kRegistryElement)
      ok = ReadRegistry(element, log);
    else if (name == kShortcutsElement)
      ok = ReadShortcuts(element, log);
    else if (name == kComponentsElement)
      ok = ReadComponents(element, &log->components);
    if (!ok)
      return false;
  }
  return true;
}

}  // namespace

bool RecordRegistryValue(InstallLogRegistryKeys* keys, std::wstring_view key_path,
                         int cleanup_depth, std::string_view type_name,
                         std::wstring_view value_name, std::wstring_view data) {
  if (!keys || key_path.empty() || cleanup_depth < 0) {
    LOG(ERROR) << "Cannot record a registry value: "
               << (!keys              ? "no key list"
                   : key_path.empty() ? "empty key path"
                                      : "negative depth")
               << " (key " << base::WideToUTF8(key_path) << ", value "
               << base::WideToUTF8(value_name) << ")";
    return false;
  }
  InstallLogRegistryKey* record = nullptr;
  for (InstallLogRegistryKey& key : *keys) {
    if (base::FilePath::CompareEqualIgnoreCase(base::UTF8ToWide(key.path), key_path)) {
      record = &key;
      break;
    }
  }
  if (!record) {
    keys->push_back(InstallLogRegistryKey{base::WideToUTF8(key_path), cleanup_depth, {}});
    record = &keys->back();
  }
  if (cleanup_depth > record->cleanup_depth)
    record->cleanup_depth = cleanup_depth;
  InstallLogRegistryValue value{std::string(type_name), std::wstring(value_name),
                                std::wstring(data)};
  for (InstallLogRegistryValue& existing : record->values) {
    if (base::FilePath::CompareEqualIgnoreCase(existing.name, value_name)) {
      existing = std::move(value);
      return true;
    }
  }
  record->values.push_back(std::move(value));
  return true;
}

InstallLog::InstallLog() = default;
InstallLog::InstallLog(const InstallLog&) = default;
InstallLog::InstallLog(InstallLog&&) = default;
InstallLog& InstallLog::operator=(const InstallLog&) = default;
InstallLog& InstallLog::operator=(InstallLog&&) = default;
InstallLog::~InstallLog() = default;

void InstallLog::Clear() { *this = InstallLog(); }

InstallLogRegistryKeys* InstallLog::GetRegistryKeys(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE)
    return &hklm_keys;
  if (root == HKEY_CURRENT_USER)
    return &hkcu_keys;
  return nullptr;
}

const InstallLogRegistryKeys* InstallLog::GetRegistryKeys(HKEY root) const {
  return const_cast<InstallLog*>(this)->GetRegistryKeys(root);
}

bool InstallLog::Load(const base::FilePath& file) {
  XmlDocument document;
  InstallLog loaded;
  if (!document.LoadFromFile(file) || !ReadDocument(document, &loaded)) {
    LOG(ERROR) << "Cannot load the install log " << file;
    return false;
  }
  *this = std::move(loaded);
  return true;
}

bool InstallLog::Save(const base::FilePath& file) const {
  XmlDocument document;
  Writer writer(&document);
  bool ok = document.Create();
  Element root;
  if (ok) {
    root = document.CreateRootElement(kRootElement);
    ok = root.IsValid();
  }
  ok = ok &&
       XmlDocument::SetAttribute(root.Get(), kVersionAttribute,
                                 base::NumberToString16(kInstallLogVersion)) &&
       SetFlag(root.Get(), kCopyOnlyAttribute, copy_only) &&
       SetFlag(root.Get(), kAllUsersAttribute, all_users) &&
       SetFlag(root.Get(), kPinnedAttribute, pinned) &&
       writer.Text(root.Get(), kAppIdElement, base::UTF8ToWide(app_id)) &&
       writer.Text(root.Get(), kVersionElement, base::UTF8ToWide(version)) &&
       writer.Text(root.Get(), kPathElement, path.value()) &&
       writer.Text(root.Get(), kSubfolderElement, subfolder.value()) &&
       writer.Paths(root.Get(), kFilesElement, files) &&
       writer.Paths(root.Get(), kRootFilesElement, root_files) &&
       writer.Keys(root.Get(), kHklm, hklm_keys) && writer.Keys(root.Get(), kHkcu, hkcu_keys);
  if (ok) {
    Element shortcuts = document.AppendElement(root.Get(), kShortcutsElement);
    ok = shortcuts.IsValid() &&
         writer.Text(shortcuts.Get(), kDesktopElement, desktop_shortcut.value()) &&
         writer.Text(shortcuts.Get(), kStartMenuElement, start_menu_shortcut.value()) &&
         writer.Text(shortcuts.Get(), kQuickLaunchElement, quick_launch_shortcut.value());
  }
  ok = ok && writer.Components(root.Get(), components) && document.Indent() &&
       document.SaveToFile(file);
  if (!ok)
    LOG(ERROR) << "Cannot save the install log " << file;
  return ok;
}

}  // namespace installer
