// Parses JSON text (RFC 8259) into a Value tree.
//
// The reader parses replies from the network, so it is strict and bounded:
//  - plain JSON only: no comments, no trailing commas, no single quotes, no
//    unquoted keys, no NaN/Infinity, no hexadecimal or leading "+";
//  - any value may be the root; only whitespace (space, tab, CR, LF) may
//    follow it; one UTF-8 byte order mark at the very start is skipped;
//  - strings must be well-formed UTF-8 without raw control characters;
//    "\u" escapes take exactly four hex digits, surrogate pairs are joined,
//    and a lone surrogate escape becomes U+FFFD (the grammar allows it, and
//    refusing a whole reply for one odd character helps nobody);
//  - numbers follow the grammar strictly ("01", "-", "1.", ".5", "1e" fail);
//    one without fraction or exponent that fits in 32 bits becomes an
//    integer, any other a double; a magnitude too large for a double fails,
//    one too small becomes 0 (or a subnormal);
//  - at most kMaxDepth lists/dictionaries may be open at once; deeper input
//    fails without using more stack;
//  - a key given twice in one object keeps its last value.
#ifndef BASE_JSON_READER_H_
#define BASE_JSON_READER_H_

#include <memory>
#include <string>
#include <string_view>

#include "base/values.h"

namespace base {

class JsonReader {
 public:
  // The numbers are stable (they end up in logs and statistics). 0 is
  // success; JsonFileDeserializer adds codes of its own above these.
  enum ErrorCode {
    kNoError = 0,
    kInvalidEscape = 1,
    kSyntaxError = 2,
    kUnexpectedToken = 3,
    kTrailingComma = 4,
    kTooMuchNesting = 5,
    kUnexpectedDataAfterRoot = 6,
    kInvalidUtf8 = 7,
    kUnquotedDictionaryKey = 8,
    kInvalidNumber = 9,
    kNumberOutOfRange = 10,
    kControlCharacterInString = 11,
    kUnexpectedEnd = 12,
    kCommentNotAllowed = 13,
    kErrorCodeCount,
  };

  // Lists and dictionaries open at once. Network replies and preference
  // files stay far below it.
  static constexpr int kMaxDepth = 100;

  // The parsed tree, or null on any error (logged).
  static std::unique_ptr<Value> Read(std::string_view json);

  // The same without logging: on an error returns null and fills the
  // non-null out parameters with the code and a message naming the place,
  // "Line: 3, column: 7, Unexpected token." (both counted from 1; the column
  // counts bytes). On success |error_code| is kNoError and |error_message|
  // is cleared.
  static std::unique_ptr<Value> ReadAndReturnError(std::string_view json, int* error_code,
                                                   std::string* error_message);

  // The text of an error code ("" for kNoError).
  static const char* ErrorCodeToString(int error_code);
};

}  // namespace base

#endif  // BASE_JSON_READER_H_
