#include "desktop/windows/crash_reporter/module_list_text.h"

#include <cstdint>
#include <string>

#include "base/string_number_conversions.h"
#include "base/utf_string_conversions.h"

namespace crash_reporter {
namespace {

// Takes the text up to |separator| from |rest|; false when there is none.
bool TakeField(std::wstring_view* rest, std::wstring_view separator, std::wstring_view* field) {
  const size_t end = rest->find(separator);
  if (end == std::wstring_view::npos)
    return false;
  *field = rest->substr(0, end);
  rest->remove_prefix(end + separator.size());
  return true;
}

bool ParseHex(std::wstring_view text, uint64_t* value) {
  return !text.empty() && base::HexStringToUint64(base::WideToUTF8(text), value);
}

}  // namespace

std::vector<FallbackModule> SplitModuleList(std::wstring_view text) {
  std::vector<FallbackModule> modules;
  std::wstring_view rest = text;
  while (!rest.empty()) {
    std::wstring_view name, address, size, path;
    uint64_t load_address = 0;
    uint64_t module_size = 0;
    if (!TakeField(&rest, L":", &name) || name.empty() || !TakeField(&rest, L":", &address) ||
        !ParseHex(address, &load_address) || !TakeField(&rest, L":", &size) ||
        !ParseHex(size, &module_size) || module_size > UINT32_MAX ||
        !TakeField(&rest, L"::", &path) || path.empty()) {
      break;
    }
    FallbackModule module;
    module.name = std::wstring(name);
    module.path = base::FilePath(std::wstring(path));
    module.load_address = load_address;
    module.size = static_cast<uint32_t>(module_size);
    modules.push_back(std::move(module));
  }
  return modules;
}

}  // namespace crash_reporter
