// Writes a Value tree as JSON text.
#ifndef BASE_JSON_WRITER_H_
#define BASE_JSON_WRITER_H_

#include <string>

#include "base/values.h"

namespace base {

class JsonWriter {
 public:
  enum Options {
    kOptionsNone = 0,
    // Integral doubles are written without ".0" (1.0 as "1"), so they read
    // back as integers. For output read by others (statistics), not for
    // files this program reads back.
    kOptionsOmitDoubleTypePreservation = 1 << 0,
    // One entry per line, nested levels indented by three spaces, "\n" line
    // ends and a final "\n"; ": " between key and value. Empty containers
    // stay "{}" and "[]".
    kOptionsPrettyPrint = 1 << 1,
  };

  // Replaces |*json| with the compact text of |node|. False (logged, |*json|
  // then undefined) when the tree cannot be written as JSON that reads back
  // the same: a NaN or infinite double, text that is not well-formed UTF-8,
  // or lists/dictionaries nested deeper than JsonReader::kMaxDepth.
  // Doubles keep their type: an integral double is written with ".0".
  static bool Write(const Value& node, std::string* json);
  // |options| is a mask of Options.
  static bool WriteWithOptions(const Value& node, int options, std::string* json);
};

}  // namespace base

#endif  // BASE_JSON_WRITER_H_
