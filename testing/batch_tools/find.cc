// A stand-in for "find" reading its standard input, with the options the
// installer's clean-up batch file uses:
//
//   find [/c] [/i] [/v] "<text>"
//
// Prints the lines that contain <text> (or, with /v, that do not), or with
// /c only their number. Exit code 0 when a line matched, 1 when none did,
// 2 for a command line it does not understand, as the real tool does.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  bool count_only = false;
  bool ignore_case = false;
  bool invert = false;
  const char* needle = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '/' && arg[1] != '\0' && arg[2] == '\0') {
      switch (std::tolower(static_cast<unsigned char>(arg[1]))) {
        case 'c': count_only = true; continue;
        case 'i': ignore_case = true; continue;
        case 'v': invert = true; continue;
      }
    }
    if (needle) {
      // A file operand: this stand-in reads its standard input only.
      std::fprintf(stderr, "FIND: Parameter format not correct\n");
      return 2;
    }
    needle = arg;
  }
  if (!needle) {
    std::fprintf(stderr, "FIND: Parameter format not correct\n");
    return 2;
  }
  const std::string wanted = ignore_case ? Lower(needle) : needle;
  unsigned long matches = 0;
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::string haystack = ignore_case ? Lower(line) : line;
    const bool found = haystack.find(wanted) != std::string::npos;
    if (found == invert)
      continue;
    ++matches;
    if (!count_only)
      std::printf("%s\n", line.c_str());
  }
  if (count_only)
    std::printf("%lu\n", matches);
  return matches ? 0 : 1;
}
