#include "base/command_line.h"

#include <windows.h>

#include "base/logging.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"

namespace base {
namespace {

// The process-wide instance. Deliberately not destroyed at exit: log lines
// written by static destructors may still read switches.
CommandLine* g_current_process_command_line = nullptr;

constexpr wchar_t kSwitchTerminator[] = L"--";
constexpr wchar_t kSwitchValueSeparator = L'=';

// Length of the switch prefix of |item| ("--" or "-"), 0 when it has none.
// A "/" prefix is not accepted: it would take absolute paths written with
// forward slashes for switches.
size_t SwitchPrefixLength(std::wstring_view item) {
  if (item.starts_with(L"--"))
    return 2;
  if (item.starts_with(L"-"))
    return 1;
  return 0;
}

// Splits a switch item into its lower-case name and its value. False when
// |item| is no switch: no prefix, the terminator "--", or an empty name.
bool ParseSwitch(std::wstring_view item, std::string* name, std::wstring* value) {
  size_t prefix = SwitchPrefixLength(item);
  if (prefix == 0 || item == kSwitchTerminator)
    return false;
  std::wstring_view rest = item.substr(prefix);
  size_t equals = rest.find(kSwitchValueSeparator);
  std::wstring_view wide_name = rest.substr(0, equals);
  if (wide_name.empty())
    return false;
  *name = ToLowerASCII(WideToUTF8(wide_name));
  if (equals == std::wstring_view::npos)
    value->clear();
  else
    value->assign(rest.substr(equals + 1));
  return true;
}

// True when the child would read |arg| as a switch or as the terminator, so
// that loose arguments must be preceded by "--" to stay loose.
bool LooksLikeSwitch(std::wstring_view arg) { return SwitchPrefixLength(arg) != 0 && arg != L"-"; }

// A switch name as it is stored: lower-case, without a leading "--".
std::string SwitchKey(std::string_view name) {
  std::string key = ToLowerASCII(name);
  if (std::string_view(key).starts_with("--"))
    key.erase(0, 2);
  return key;
}

}  // namespace

CommandLine::CommandLine() : argv_(1) {}

CommandLine::CommandLine(const FilePath& program) : argv_(1) { SetProgram(program); }

CommandLine::~CommandLine() = default;

// static
CommandLine::StringVector CommandLine::SplitCommandLineString(std::wstring_view text) {
  // The splitting rules of the system's CommandLineToArgvW, done here so that
  // reading the process's own command line does not load the shell library
  // (which alone costs more than the rest of a "--version" start).
  StringVector pieces;
  text = text.substr(0, text.find(L'\0'));
  if (text.empty())
    return pieces;
  const auto is_blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
  size_t i = 0;
  const size_t n = text.size();

  // The program: up to the closing quote when it starts with one, else up to
  // the first blank; backslashes are taken literally either way.
  std::wstring program;
  if (text[0] == L'"') {
    size_t close = text.find(L'"', 1);
    program.assign(text.substr(1, close == std::wstring_view::npos ? n - 1 : close - 1));
    i = close == std::wstring_view::npos ? n : close + 1;
  } else {
    while (i < n && !is_blank(text[i]))
      program += text[i++];
  }
  pieces.push_back(std::move(program));

  // The arguments: 2n backslashes before a quote give n backslashes and the
  // quote opens or closes a quoted run; 2n+1 give n backslashes and a literal
  // quote; other backslashes are literal; runs of quotes follow the counting
  // rule below.
  for (;;) {
    while (i < n && is_blank(text[i]))
      ++i;
    if (i >= n)
      break;
    std::wstring argument;
    bool quoted = false;
    while (i < n && (quoted || !is_blank(text[i]))) {
      if (text[i] == L'\\') {
        size_t backslashes = 0;
        while (i < n && text[i] == L'\\') {
          ++backslashes;
          ++i;
        }
        if (i < n && text[i] == L'"') {
          argument.append(backslashes / 2, L'\\');
          if (backslashes % 2) {
            argument += L'"';
            ++i;
          }
        } else {
          argument.append(backslashes, L'\\');
        }
        continue;
      }
      if (text[i] == L'"') {
        // A run of quotes counts up from the current state (0 outside a
        // quoted run, 1 inside); every third quote of the count is a literal
        // quote and starts the count again, and a count left at 2 closes the
        // quoted run.
        int count = quoted ? 2 : 1;
        ++i;
        while (i < n && text[i] == L'"') {
          if (++count == 3) {
            argument += L'"';
            count = 0;
          }
          ++i;
        }
        quoted = count == 1;
        continue;
      }
      argument += text[i++];
    }
    pieces.push_back(std::move(argument));
  }
  return pieces;
}

// static
CommandLine CommandLine::FromString(std::wstring_view command_line) {
  CommandLine result;
  StringVector argv = SplitCommandLineString(command_line);
  if (!argv.empty())
    result.InitFromArgv(argv);
  return result;
}

// static
CommandLine CommandLine::FromArgv(const StringVector& argv) {
  CommandLine result;
  result.InitFromArgv(argv);
  return result;
}

void CommandLine::InitFromArgv(const StringVector& argv) {
  argv_.assign(1, std::wstring());
  begin_args_ = 1;
  switches_.clear();
  program_.clear();
  if (argv.empty())
    return;
  SetProgram(FilePath(argv[0]));
  bool parse_switches = true;
  std::string name;
  std::wstring value;
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::wstring& item = argv[i];
    if (parse_switches && item == kSwitchTerminator) {
      parse_switches = false;
      continue;
    }
    if (parse_switches && ParseSwitch(item, &name, &value)) {
      // Keep the item as written; a later duplicate wins in the map.
      switches_[name] = value;
      argv_.insert(argv_.begin() + static_cast<ptrdiff_t>(begin_args_), item);
      ++begin_args_;
    } else {
      argv_.push_back(item);
    }
  }
}

// static
bool CommandLine::InitForCurrentProcess() {
  if (g_current_process_command_line)
    return false;
  g_current_process_command_line = new CommandLine(FromString(GetCommandLineW()));
  return true;
}

// static
CommandLine* CommandLine::ForCurrentProcess() {
  CHECK(g_current_process_command_line) << "CommandLine::InitForCurrentProcess has not run";
  return g_current_process_command_line;
}

// static
bool CommandLine::IsInitializedForCurrentProcess() {
  return g_current_process_command_line != nullptr;
}

// static
void CommandLine::ResetForCurrentProcess() {
  delete g_current_process_command_line;
  g_current_process_command_line = nullptr;
}

void CommandLine::SetProgram(const FilePath& program) {
  program_ = program;
  argv_[0] = program.value();
}

bool CommandLine::HasSwitch(std::string_view name) const {
  return switches_.find(SwitchKey(name)) != switches_.end();
}

std::wstring CommandLine::GetSwitchValueNative(std::string_view name) const {
  auto it = switches_.find(SwitchKey(name));
  return it == switches_.end() ? std::wstring() : it->second;
}

std::string CommandLine::GetSwitchValueASCII(std::string_view name) const {
  std::wstring value = GetSwitchValueNative(name);
  if (!IsStringASCII16(value)) {
    LOG(ERROR) << "The value of switch \"" << name << "\" is not ASCII";
    return std::string();
  }
  return WideToASCII(value);
}

FilePath CommandLine::GetSwitchValuePath(std::string_view name) const {
  return FilePath(GetSwitchValueNative(name));
}

void CommandLine::AppendSwitch(std::string_view name) {
  AppendSwitchNative(name, std::wstring_view());
}

void CommandLine::AppendSwitchASCII(std::string_view name, std::string_view value) {
  AppendSwitchNative(name, UTF8ToWide(value));
}

void CommandLine::AppendSwitchNative(std::string_view name, std::wstring_view value) {
  std::string key = SwitchKey(name);
  // An empty name would write the terminator "--", and a name holding "="
  // would be read back with a different name and value.
  if (key.empty() || key.find('=') != std::string::npos) {
    LOG(ERROR) << "Invalid switch name \"" << name << "\"";
    return;
  }
  std::wstring item = L"--" + UTF8ToWide(key);
  if (!value.empty()) {
    item += kSwitchValueSeparator;
    item += value;
  }
  switches_[key] = std::wstring(value);
  argv_.insert(argv_.begin() + static_cast<ptrdiff_t>(begin_args_), std::move(item));
  ++begin_args_;
}

void CommandLine::AppendSwitchPath(std::string_view name, const FilePath& path) {
  AppendSwitchNative(name, path.value());
}

void CommandLine::CopySwitchesFrom(const CommandLine& source,
                                   const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    auto it = source.switches_.find(SwitchKey(name));
    if (it != source.switches_.end())
      AppendSwitchNative(it->first, it->second);
  }
}

void CommandLine::RemoveSwitch(std::string_view name) {
  std::string key = SwitchKey(name);
  if (switches_.erase(key) == 0)
    return;
  std::string item_name;
  std::wstring item_value;
  for (size_t i = 1; i < begin_args_;) {
    if (ParseSwitch(argv_[i], &item_name, &item_value) && item_name == key) {
      argv_.erase(argv_.begin() + static_cast<ptrdiff_t>(i));
      --begin_args_;
    } else {
      ++i;
    }
  }
}

void CommandLine::AppendArg(std::wstring_view arg) { argv_.emplace_back(arg); }

void CommandLine::AppendArgPath(const FilePath& path) { AppendArg(path.value()); }

void CommandLine::AppendArguments(const CommandLine& other, bool include_program) {
  if (include_program)
    SetProgram(other.GetProgram());
  for (const auto& [name, value] : other.switches_)
    AppendSwitchNative(name, value);
  for (size_t i = other.begin_args_; i < other.argv_.size(); ++i)
    AppendArg(other.argv_[i]);
}

CommandLine::StringVector CommandLine::GetArgs() const {
  return StringVector(argv_.begin() + static_cast<ptrdiff_t>(begin_args_), argv_.end());
}

std::wstring CommandLine::GetCommandLineString() const { return GetCommandLineString(nullptr); }

std::wstring CommandLine::GetArgumentsString() const { return GetArgumentsString(nullptr); }

std::wstring CommandLine::GetCommandLineString(ItemFilter shown) const {
  // The program is read by the first-item rule of CommandLineToArgvW: up to
  // the closing quote, with backslashes taken literally. Escaping it like an
  // argument would double a trailing backslash of a folder path.
  std::wstring result = L"\"" + program_.value() + L"\"";
  std::wstring arguments = GetArgumentsString(shown);
  if (!arguments.empty()) {
    result += L' ';
    result += arguments;
  }
  return result;
}

std::wstring CommandLine::GetArgumentsString(ItemFilter shown) const {
  std::wstring result;
  auto append = [&result, shown](std::wstring_view item) {
    if (!result.empty())
      result += L' ';
    result += QuoteForCommandLine(shown ? shown(item) : std::wstring(item));
  };
  for (size_t i = 1; i < begin_args_; ++i)
    append(argv_[i]);
  // A loose argument that reads as a switch would become one in the child:
  // end the switches explicitly first.
  for (size_t i = begin_args_; i < argv_.size(); ++i) {
    if (LooksLikeSwitch(argv_[i])) {
      append(kSwitchTerminator);
      break;
    }
  }
  for (size_t i = begin_args_; i < argv_.size(); ++i)
    append(argv_[i]);
  return result;
}

// static
std::wstring CommandLine::QuoteForCommandLine(std::wstring_view arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring_view::npos)
    return std::wstring(arg);

  // Inside quotes, backslashes are literal except in front of a quote, where
  // 2n backslashes give n and 2n+1 give n and a literal quote.
  std::wstring result(1, L'"');
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"')
      result.append(backslashes * 2 + 1, L'\\');
    else
      result.append(backslashes, L'\\');
    backslashes = 0;
    result += c;
  }
  // Backslashes before the closing quote are doubled so it stays a quote.
  result.append(backslashes * 2, L'\\');
  result += L'"';
  return result;
}

}  // namespace base
