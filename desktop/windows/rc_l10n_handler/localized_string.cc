#include "desktop/windows/rc_l10n_handler/localized_string.h"

#include "base/logging.h"
#include "base/string_util.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

// String resources come in blocks of sixteen: block id / 16 + 1 holds the
// string at position id % 16. Each entry of a block is a 16-bit length
// followed by that many UTF-16 units; absent strings have length 0.
constexpr int kStringsPerBlock = 16;

}  // namespace

std::wstring LoadLocalizedString(LANGID langid, int id,
                                 const std::vector<std::wstring>& replacements) {
  if (id < 0 || id > 0xFFFF) {
    LOG(ERROR) << "Failed to find string " << id << ": not a string id";
    return std::wstring();
  }
  const int block = id / kStringsPerBlock + 1;
  // A resource of the running executable: its module needs no release, and a
  // loaded resource stays mapped for the life of the image.
  HRSRC resource = ::FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(block), langid);
  if (!resource) {
    PLOG(ERROR) << "Failed to find string " << id << " for language " << langid;
    return std::wstring();
  }
  HGLOBAL loaded = ::LoadResource(nullptr, resource);
  if (!loaded) {
    PLOG(ERROR) << "Failed to load string " << id << " for language " << langid;
    return std::wstring();
  }
  const auto* units = static_cast<const wchar_t*>(::LockResource(loaded));
  if (!units) {
    PLOG(ERROR) << "Failed to lock string " << id << " for language " << langid;
    return std::wstring();
  }
  const size_t block_units = ::SizeofResource(nullptr, resource) / sizeof(wchar_t);

  size_t offset = 0;
  for (int skip = id % kStringsPerBlock; skip > 0; --skip) {
    if (offset >= block_units)
      break;
    offset += 1 + static_cast<size_t>(units[offset]);
  }
  if (offset >= block_units || offset + 1 + units[offset] > block_units) {
    LOG(ERROR) << "Failed to find string " << id << " for language " << langid
               << ": the string block is truncated";
    return std::wstring();
  }
  const size_t length = units[offset];
  if (length == 0) {
    LOG(ERROR) << "Failed to find string " << id << " for language " << langid
               << ": no such string in the table";
    return std::wstring();
  }
  std::wstring_view text(units + offset + 1, length);
  if (replacements.empty())
    return std::wstring(text);
  return base::SubstitutePlaceholders16(text, replacements, nullptr);
}

std::wstring GetLocalizedString(int id) { return LoadLocalizedString(*GetUILanguageId(), id, {}); }

std::wstring GetLocalizedStringWithReplacement(int id, const std::wstring& replacement) {
  return LoadLocalizedString(*GetUILanguageId(), id, {replacement});
}

std::wstring GetLocalizedStringWithReplacements(int id,
                                                const std::vector<std::wstring>& replacements) {
  return LoadLocalizedString(*GetUILanguageId(), id, replacements);
}

std::wstring GetLocalizedStringForLanguage(std::wstring_view tag, int id) {
  return LoadLocalizedString(LanguageTagToLangId(tag), id, {});
}

}  // namespace installer
