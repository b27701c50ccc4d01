#include "desktop/windows/installer/sse2_check.h"

#include <windows.h>

namespace installer {

void CheckSse2Support() {
  if (::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE))
    return;
  ::MessageBoxW(nullptr, L"This program requires a computer that supports SSE2 instructions.",
                L"Error", MB_OK | MB_ICONERROR);
  ::ExitProcess(1);
}

}  // namespace installer
