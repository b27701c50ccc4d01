// Tests that need a second process run the test executable itself again with
// "--child-process=<name>"; the test main then runs the registered child
// function instead of the tests and exits with its result.
//
//   CHILD_PROCESS_MAIN(EchoArgs) { ...; return 0; }
//   base::Process child = testing::SpawnChild("EchoArgs", extra_switches);
#ifndef TESTING_MULTIPROCESS_TEST_H_
#define TESTING_MULTIPROCESS_TEST_H_

#include "base/command_line.h"

namespace base {
class Process;
}

namespace testing {

using ChildMainFunction = int (*)();

// Registers |function| under |name|; used by CHILD_PROCESS_MAIN.
bool RegisterChildMain(const char* name, ChildMainFunction function);
// Runs the child named by "--child-process" when the switch is present.
// Returns true and sets |exit_code| when a child ran.
bool MaybeRunChildMain(int* exit_code);

// A command line that starts this test executable as child |name|.
base::CommandLine GetChildCommandLine(const char* name);

}  // namespace testing

#define CHILD_PROCESS_MAIN(name)                             \
  int name##ChildMain();                                     \
  static const bool name##_child_registered =                \
      ::testing::RegisterChildMain(#name, &name##ChildMain); \
  int name##ChildMain()

#endif  // TESTING_MULTIPROCESS_TEST_H_
