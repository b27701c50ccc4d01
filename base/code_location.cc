#include "base/code_location.h"

namespace base {

std::string CodeLocation::ToString() const {
  return std::string(function_name_) + "@" + file_name_ + ":" + std::to_string(line_);
}

__attribute__((noinline)) const void* GetProgramCounter() { return __builtin_return_address(0); }

}  // namespace base
