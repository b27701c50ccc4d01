#include "base/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "base/process.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_local_alloc.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace base {
namespace {

using StringVector = CommandLine::StringVector;
using SwitchMap = CommandLine::SwitchMap;

using ScopedArgv = win::ScopedLocalAllocTyped<wchar_t**>;

struct ParseCase {
  const wchar_t* text;
  StringVector argv;  // as argv() gives it: program, switches, arguments
  SwitchMap switches;
  StringVector args;
};

TEST(CommandLineTest, FromStringParsesLikeTheSystem) {
  const ParseCase cases[] = {
      {L"prog.exe", {L"prog.exe"}, {}, {}},
      {L"\"C:\\Program Files\\x.exe\" --a --B=1 arg",
       {L"C:\\Program Files\\x.exe", L"--a", L"--B=1", L"arg"},
       {{"a", L""}, {"b", L"1"}},
       {L"arg"}},
      // One dash is a switch prefix too; a slash is not (paths start so).
      {L"x.exe -one -Two=2 /three",
       {L"x.exe", L"-one", L"-Two=2", L"/three"},
       {{"one", L""}, {"two", L"2"}},
       {L"/three"}},
      // Switches after loose arguments move in front of them.
      {L"x.exe a --s=v b", {L"x.exe", L"--s=v", L"a", L"b"}, {{"s", L"v"}}, {L"a", L"b"}},
      // A later duplicate replaces the value.
      {L"x.exe --s=1 --S=2", {L"x.exe", L"--s=1", L"--S=2"}, {{"s", L"2"}}, {}},
      // "--" ends the switches and is dropped.
      {L"x.exe --a -- --b c --",
       {L"x.exe", L"--a", L"--b", L"c", L"--"},
       {{"a", L""}},
       {L"--b", L"c", L"--"}},
      // A lone dash and an empty name are loose arguments.
      {L"x.exe - --=v -=w", {L"x.exe", L"-", L"--=v", L"-=w"}, {}, {L"-", L"--=v", L"-=w"}},
      // Values keep everything after the first "=", quotes resolved.
      {L"x.exe \"--n=va lue\" --m=\"a b\" --k=a=b",
       {L"x.exe", L"--n=va lue", L"--m=a b", L"--k=a=b"},
       {{"n", L"va lue"}, {"m", L"a b"}, {"k", L"a=b"}},
       {}},
      // Backslashes: literal unless in front of a quote.
      {L"x.exe a\\\\\\\"b \"c\\\\\" d\\e \"\"",
       {L"x.exe", L"a\\\"b", L"c\\", L"d\\e", L""},
       {},
       {L"a\\\"b", L"c\\", L"d\\e", L""}},
      // The program follows its own rule: up to the closing quote, with
      // backslashes literal.
      {L"\"C:\\dir\\\" a", {L"C:\\dir\\", L"a"}, {}, {L"a"}},
      {L"C:\\x\\prog.exe\ta", {L"C:\\x\\prog.exe", L"a"}, {}, {L"a"}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(WideToUTF8(c.text));
    CommandLine command_line = CommandLine::FromString(c.text);
    EXPECT_EQ(c.argv, command_line.argv());
    EXPECT_EQ(c.argv[0], command_line.GetProgram().value());
    EXPECT_EQ(c.switches, command_line.GetSwitches());
    EXPECT_EQ(c.args, command_line.GetArgs());
    // FromArgv reads the system's pieces the same way.
    int count = 0;
    ScopedArgv pieces(CommandLineToArgvW(c.text, &count));
    ASSERT_TRUE(pieces.IsValid());
    CommandLine from_argv = CommandLine::FromArgv(StringVector(pieces.Get(), pieces.Get() + count));
    EXPECT_EQ(command_line.argv(), from_argv.argv());
    EXPECT_EQ(command_line.GetSwitches(), from_argv.GetSwitches());
  }
}

TEST(CommandLineTest, EmptyText) {
  // The system splitter answers an empty text with the running executable.
  CommandLine command_line = CommandLine::FromString(L"");
  EXPECT_TRUE(command_line.GetProgram().empty());
  EXPECT_EQ(StringVector{L""}, command_line.argv());
  EXPECT_TRUE(CommandLine::FromArgv({}).GetProgram().empty());
  EXPECT_EQ(StringVector{L""}, CommandLine().argv());
}

TEST(CommandLineTest, SwitchLookups) {
  CommandLine command_line =
      CommandLine::FromString(L"x.exe --Flag --path=C:\\a\\b --wide=\u00e9t\u00e9 --ascii=abc");
  EXPECT_TRUE(command_line.HasSwitch("flag"));
  EXPECT_TRUE(command_line.HasSwitch("FLAG"));
  EXPECT_FALSE(command_line.HasSwitch("fla"));
  EXPECT_EQ(L"", command_line.GetSwitchValueNative("flag"));
  EXPECT_EQ(L"", command_line.GetSwitchValueNative("missing"));
  EXPECT_EQ(L"C:\\a\\b", command_line.GetSwitchValuePath("path").value());
  EXPECT_EQ("abc", command_line.GetSwitchValueASCII("Ascii"));
  EXPECT_EQ(L"\u00e9t\u00e9", command_line.GetSwitchValueNative("wide"));
  EXPECT_EQ("", command_line.GetSwitchValueASCII("wide"));
}

TEST(CommandLineTest, AppendSwitchesAndArguments) {
  CommandLine command_line(FilePath(L"C:\\p.exe"));
  command_line.AppendArg(L"loose");
  command_line.AppendSwitch("First");
  command_line.AppendSwitchASCII("--second", "2");
  command_line.AppendSwitchNative("third", L"a b");
  command_line.AppendSwitchPath("fourth", FilePath(L"C:\\x y\\"));
  command_line.AppendArgPath(FilePath(L"C:\\f.txt"));
  command_line.AppendSwitchASCII("second", "");  // replaces the map entry
  // Rejected names leave everything unchanged.
  command_line.AppendSwitch("");
  command_line.AppendSwitch("--");
  command_line.AppendSwitchASCII("a=b", "c");

  EXPECT_EQ((StringVector{L"C:\\p.exe", L"--first", L"--second=2", L"--third=a b",
                          L"--fourth=C:\\x y\\", L"--second", L"loose", L"C:\\f.txt"}),
            command_line.argv());
  EXPECT_EQ(
      (SwitchMap{{"first", L""}, {"second", L""}, {"third", L"a b"}, {"fourth", L"C:\\x y\\"}}),
      command_line.GetSwitches());
  EXPECT_EQ((StringVector{L"loose", L"C:\\f.txt"}), command_line.GetArgs());
  EXPECT_EQ(
      L"\"C:\\p.exe\" --first --second=2 \"--third=a b\" \"--fourth=C:\\x y\\\\\" "
      L"--second loose C:\\f.txt",
      command_line.GetCommandLineString());
  EXPECT_EQ(
      L"--first --second=2 \"--third=a b\" \"--fourth=C:\\x y\\\\\" --second loose "
      L"C:\\f.txt",
      command_line.GetArgumentsString());

  command_line.RemoveSwitch("SECOND");
  EXPECT_FALSE(command_line.HasSwitch("second"));
  EXPECT_EQ((StringVector{L"C:\\p.exe", L"--first", L"--third=a b", L"--fourth=C:\\x y\\", L"loose",
                          L"C:\\f.txt"}),
            command_line.argv());

  command_line.SetProgram(FilePath(L"D:\\q.exe"));
  EXPECT_EQ(L"D:\\q.exe", command_line.argv()[0]);
  EXPECT_EQ(L"D:\\q.exe", command_line.GetProgram().value());
}

TEST(CommandLineTest, CopyAndAppendFromOther) {
  CommandLine source = CommandLine::FromString(L"src.exe --keep=1 --drop --also x y");
  CommandLine target(FilePath(L"t.exe"));
  target.AppendArg(L"t-arg");
  target.CopySwitchesFrom(source, {"KEEP", "also", "absent"});
  EXPECT_EQ((StringVector{L"t.exe", L"--keep=1", L"--also", L"t-arg"}), target.argv());

  CommandLine without_program(FilePath(L"w.exe"));
  without_program.AppendArguments(source, false);
  EXPECT_EQ(L"w.exe", without_program.GetProgram().value());
  EXPECT_EQ(source.GetSwitches(), without_program.GetSwitches());
  EXPECT_EQ((StringVector{L"x", L"y"}), without_program.GetArgs());

  CommandLine with_program;
  with_program.AppendArguments(source, true);
  EXPECT_EQ(L"src.exe", with_program.GetProgram().value());
  EXPECT_EQ(L"src.exe", with_program.argv()[0]);
}

TEST(CommandLineTest, QuoteForCommandLine) {
  const struct {
    const wchar_t* arg;
    const wchar_t* quoted;
  } cases[] = {
      {L"plain", L"plain"},
      {L"C:\\dir\\", L"C:\\dir\\"},  // nothing to protect: left alone
      {L"", L"\"\""},
      {L"a b", L"\"a b\""},
      {L"a\tb", L"\"a\tb\""},
      {L"a\"b", L"\"a\\\"b\""},
      {L"a\\\"b", L"\"a\\\\\\\"b\""},
      {L"C:\\x y\\", L"\"C:\\x y\\\\\""},
      {L"x y\\\\", L"\"x y\\\\\\\\\""},
      {L"a\\b c", L"\"a\\b c\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.quoted, CommandLine::QuoteForCommandLine(c.arg)) << WideToUTF8(c.arg);
}

// Arguments that a quoting fault would change on their way to a child.
StringVector TrickyArgs() {
  return {L"",
          L"plain",
          L"with space",
          L"tab\there",
          L"quote\"inside",
          L"\"",
          L"\"\"",
          L"trailing\\",
          L"trailing space\\",
          L"two\\\\",
          L"C:\\",
          L"a\\\\\"b",
          L"\\\"",
          L"new\nline",
          L"\u00e9",
          L"\u65e5\u672c",
          L"\U0001F600 emoji",
          L"-looks-like-a-switch",
          L"--",
          L"-",
          L"/slash"};
}

CommandLine TrickyCommandLine(CommandLine base) {
  StringVector args = TrickyArgs();
  for (size_t i = 0; i < args.size(); ++i)
    base.AppendSwitchNative("value" + std::to_string(i), args[i]);
  base.AppendSwitchNative("MixedCase", L"x");
  for (const std::wstring& arg : args)
    base.AppendArg(arg);
  return base;
}

TEST(CommandLineTest, RoundTripThroughSystemSplitter) {
  CommandLine original = TrickyCommandLine(CommandLine(FilePath(L"C:\\Program Files\\p q\\")));
  CommandLine parsed = CommandLine::FromString(original.GetCommandLineString());
  EXPECT_EQ(original.argv(), parsed.argv());
  EXPECT_EQ(original.GetSwitches(), parsed.GetSwitches());
  EXPECT_EQ(original.GetArgs(), parsed.GetArgs());
}

std::string ToHex(const std::wstring& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char byte : WideToUTF8(text)) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

// One line per argv item ("A <hex>") and per switch ("S <name> <hex>").
std::string Describe(const CommandLine& command_line) {
  std::string text;
  for (const std::wstring& item : command_line.argv())
    text += "A " + ToHex(item) + "\n";
  for (const auto& [name, value] : command_line.GetSwitches())
    text += "S " + name + " " + ToHex(value) + "\n";
  return text;
}

CHILD_PROCESS_MAIN(DescribeCommandLine) {
  std::string text = Describe(*CommandLine::ForCurrentProcess());
  DWORD written = 0;
  // Straight to the handle: the C library's text mode would add carriage
  // returns.
  if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
                 &written, nullptr) ||
      written != text.size()) {
    return 2;
  }
  return 0;
}

TEST(CommandLineTest, RoundTripThroughChildProcess) {
  CommandLine child = TrickyCommandLine(testing::GetChildCommandLine("DescribeCommandLine"));
  std::string output;
  int exit_code = -1;
  ASSERT_TRUE(RunAndCaptureOutputWithExitCode(child, &output, &exit_code));
  EXPECT_EQ(0, exit_code);
  EXPECT_EQ(Describe(child), output);
}

TEST(CommandLineTest, CurrentProcessInstance) {
  ASSERT_TRUE(CommandLine::IsInitializedForCurrentProcess());
  EXPECT_FALSE(CommandLine::InitForCurrentProcess());
  CommandLine saved = *CommandLine::ForCurrentProcess();
  EXPECT_FALSE(saved.GetProgram().empty());

  CommandLine::ResetForCurrentProcess();
  EXPECT_FALSE(CommandLine::IsInitializedForCurrentProcess());
  EXPECT_TRUE(CommandLine::InitForCurrentProcess());
  EXPECT_EQ(saved.argv(), CommandLine::ForCurrentProcess()->argv());
  EXPECT_EQ(CommandLine::FromString(GetCommandLineW()).argv(),
            CommandLine::ForCurrentProcess()->argv());
}

}  // namespace
}  // namespace base

namespace base {
namespace {

// Our own splitter (used so that reading the process command line does not
// load the shell library) agrees with the system's on awkward input.
TEST(CommandLineTest, SplitterAgreesWithTheSystem) {
  const wchar_t* const kTexts[] = {
      L"a.exe",
      L"\"a b.exe\" c",
      L"\"a b.exe\"c d",
      L"a.exe \"\" \"\"\"\" x",
      L"a.exe \"a\"\"b\" \"c\"\"\"d\"",
      L"a.exe a\\\\\\\"b c\\\\\"d e\\\\\\\\\"f g\\h",
      L"a.exe \"unterminated arg",
      L"a.exe \t  spaced\t\targs  ",
      L"\"C:\\dir\\\" trailing",
      L"a.exe \"\\\"\" \\\\ \\",
      L"a.exe --x=\"a b\"c \"--y=1\"",
  };
  for (const wchar_t* text : kTexts) {
    SCOPED_TRACE(WideToUTF8(text));
    int count = 0;
    win::ScopedLocalAllocTyped<wchar_t**> system(::CommandLineToArgvW(text, &count));
    ASSERT_TRUE(system.IsValid());
    CommandLine::StringVector expected(system.Get(), system.Get() + count);
    EXPECT_EQ(expected, CommandLine::SplitCommandLineString(text));
  }
}

}  // namespace
}  // namespace base
