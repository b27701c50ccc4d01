#include "testing/multiprocess_test.h"

#include <map>
#include <string>

#include "base/command_line.h"

namespace testing {
namespace {

std::map<std::string, ChildMainFunction>& Registry() {
  static std::map<std::string, ChildMainFunction> registry;
  return registry;
}

constexpr char kChildProcessSwitch[] = "child-process";

}  // namespace

bool RegisterChildMain(const char* name, ChildMainFunction function) {
  Registry()[name] = function;
  return true;
}

bool MaybeRunChildMain(int* exit_code) {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (!command_line->HasSwitch(kChildProcessSwitch))
    return false;
  std::string name = command_line->GetSwitchValueASCII(kChildProcessSwitch);
  auto it = Registry().find(name);
  *exit_code = it == Registry().end() ? 255 : it->second();
  return true;
}

base::CommandLine GetChildCommandLine(const char* name) {
  base::CommandLine command_line(base::CommandLine::ForCurrentProcess()->GetProgram());
  command_line.AppendSwitchASCII(kChildProcessSwitch, name);
  return command_line;
}

}  // namespace testing
