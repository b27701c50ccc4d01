#include "desktop/windows/crash_reporter/crash_log/mapped_section_view.h"

namespace crash_reporter {
namespace {

// What the native section query answers for its basic class (0).
struct SectionBasicInformation {
  void* base_address;
  ULONG allocation_attributes;
  LARGE_INTEGER maximum_size;
};
using NtQuerySectionFunction = LONG(NTAPI*)(HANDLE section, int information_class,
                                            void* information, SIZE_T length,
                                            SIZE_T* result_length);

// The size the mapping was made with; 0 when the system does not say.
uint64_t QuerySectionSize(HANDLE mapping) {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto query = ntdll ? reinterpret_cast<NtQuerySectionFunction>(
                           reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "NtQuerySection")))
                     : nullptr;
  SectionBasicInformation information = {};
  if (!query || query(mapping, 0, &information, sizeof(information), nullptr) < 0)
    return 0;
  return static_cast<uint64_t>(information.maximum_size.QuadPart);
}

}  // namespace

bool MappedSectionView::Map(HANDLE mapping) {
  view_.Reset(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  if (!view_.IsValid())
    return false;
  // The view covers the whole mapping, rounded up to pages; the bytes past
  // the mapping's size read as zeros. Without the exact size the view's
  // own extent is the bound.
  MEMORY_BASIC_INFORMATION region = {};
  if (::VirtualQuery(view_.Get(), &region, sizeof(region)) != sizeof(region)) {
    view_.Reset();
    return false;
  }
  const uint64_t section_size = QuerySectionSize(mapping);
  size_ = section_size != 0 && section_size <= region.RegionSize ? static_cast<size_t>(section_size)
                                                                 : region.RegionSize;
  return true;
}

}  // namespace crash_reporter
