// CodeLocation: where a task was posted from (function, file, line and the
// program counter of the posting call). FROM_HERE builds one at the use site.
#ifndef BASE_CODE_LOCATION_H_
#define BASE_CODE_LOCATION_H_

#include <string>

namespace base {

class CodeLocation {
 public:
  constexpr CodeLocation() = default;
  constexpr CodeLocation(const char* function_name, const char* file_name, int line,
                         const void* program_counter)
      : function_name_(function_name),
        file_name_(file_name),
        line_(line),
        program_counter_(program_counter) {}

  // The texts are string literals and live as long as the program.
  const char* function_name() const { return function_name_; }
  const char* file_name() const { return file_name_; }
  int line() const { return line_; }
  const void* program_counter() const { return program_counter_; }

  // "function@file:line", for logs.
  std::string ToString() const;

 private:
  const char* function_name_ = "<unknown>";
  const char* file_name_ = "<unknown>";
  int line_ = -1;
  const void* program_counter_ = nullptr;
};

// The address the caller returns to: a program counter inside the caller.
const void* GetProgramCounter();

}  // namespace base

#define FROM_HERE ::base::CodeLocation(__func__, __FILE__, __LINE__, ::base::GetProgramCounter())

#endif  // BASE_CODE_LOCATION_H_
