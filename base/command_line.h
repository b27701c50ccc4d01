// The program path, the arguments and an ordered map from lower-case switch
// names to UTF-16 values. A switch is written "--name" or "--name=value"; the
// switches come before the loose arguments, and "--" alone ends the switches.
//
// When parsing, "-name" is read as a switch too, but "/name" is not (it would
// take absolute paths written with forward slashes); switches may stand
// anywhere before "--" and are moved in front of the loose arguments; a later
// duplicate replaces the value. "-", "--=x" (no name) and everything after
// "--" are loose arguments. When a loose argument would read as a switch, the
// written command line puts "--" before the loose arguments.
#ifndef BASE_COMMAND_LINE_H_
#define BASE_COMMAND_LINE_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"

namespace base {

class CommandLine {
 public:
  using SwitchMap = std::map<std::string, std::wstring, std::less<>>;
  using StringVector = std::vector<std::wstring>;

  // An empty command line: no program, no switches.
  CommandLine();
  explicit CommandLine(const FilePath& program);
  CommandLine(const CommandLine&) = default;
  CommandLine& operator=(const CommandLine&) = default;
  ~CommandLine();

  // Parses a whole command line as CreateProcessW receives it (the program
  // first), splitting it the way CommandLineToArgvW does.
  static CommandLine FromString(std::wstring_view command_line);
  // The pieces of a whole command line, program first, split by the rules of
  // CommandLineToArgvW (without loading the shell library).
  static StringVector SplitCommandLineString(std::wstring_view command_line);
  // Builds from argv-style pieces; argv[0] is the program.
  static CommandLine FromArgv(const StringVector& argv);

  // Builds the process-wide instance from GetCommandLineW(); false when it
  // already exists.
  static bool InitForCurrentProcess();
  // The process-wide instance; InitForCurrentProcess() must have run.
  static CommandLine* ForCurrentProcess();
  static bool IsInitializedForCurrentProcess();
  // Drops the process-wide instance (tests and the end of RunInstaller).
  static void ResetForCurrentProcess();

  const FilePath& GetProgram() const { return program_; }
  void SetProgram(const FilePath& program);

  bool HasSwitch(std::string_view name) const;
  std::wstring GetSwitchValueNative(std::string_view name) const;
  // Empty when absent or not pure ASCII.
  std::string GetSwitchValueASCII(std::string_view name) const;
  FilePath GetSwitchValuePath(std::string_view name) const;
  const SwitchMap& GetSwitches() const { return switches_; }

  // The name is lower-cased; a leading "--" is dropped. An empty name or one
  // holding "=" is refused (logged).
  void AppendSwitch(std::string_view name);
  void AppendSwitchASCII(std::string_view name, std::string_view value);
  void AppendSwitchNative(std::string_view name, std::wstring_view value);
  void AppendSwitchPath(std::string_view name, const FilePath& path);
  // Appends each listed switch that |source| holds, with its value.
  void CopySwitchesFrom(const CommandLine& source, const std::vector<std::string>& names);
  void RemoveSwitch(std::string_view name);

  void AppendArg(std::wstring_view arg);
  void AppendArgPath(const FilePath& path);
  // Appends |other|'s switches and loose arguments; with |include_program|
  // also takes its program.
  void AppendArguments(const CommandLine& other, bool include_program);

  // The loose (non-switch) arguments in order.
  StringVector GetArgs() const;
  // Program and every item, unquoted, in order (argv[0] is the program).
  const StringVector& argv() const { return argv_; }

  // The whole line for CreateProcessW: the quoted program, a blank, the
  // arguments. Every item is quoted so that CommandLineToArgvW gives it back.
  std::wstring GetCommandLineString() const;
  // The same without the program.
  std::wstring GetArgumentsString() const;
  // The same two with every item but the program passed through |shown|
  // before it is quoted: a text to show, where an item may hold what must
  // not be shown.
  using ItemFilter = std::wstring (*)(std::wstring_view item);
  std::wstring GetCommandLineString(ItemFilter shown) const;
  std::wstring GetArgumentsString(ItemFilter shown) const;

  // Quotes one item so CommandLineToArgvW reads it back unchanged (not for
  // the program, which follows the first-item rule: quoted, never escaped).
  static std::wstring QuoteForCommandLine(std::wstring_view arg);

 private:
  void InitFromArgv(const StringVector& argv);

  FilePath program_;
  // argv_[0] is the program; switches occupy [1, begin_args_); loose
  // arguments follow.
  StringVector argv_;
  size_t begin_args_ = 1;
  SwitchMap switches_;
};

}  // namespace base

#endif  // BASE_COMMAND_LINE_H_
