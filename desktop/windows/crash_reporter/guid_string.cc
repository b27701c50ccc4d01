#include "desktop/windows/crash_reporter/guid_string.h"

#include <wchar.h>

namespace crash_reporter {

std::wstring GuidToWideString(const GUID& guid) {
  wchar_t text[40];
  swprintf(text, 40, L"%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
           static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
           guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
           guid.Data4[7]);
  return text;
}

}  // namespace crash_reporter
