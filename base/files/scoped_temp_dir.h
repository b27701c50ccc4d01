// A uniquely named folder that is deleted with everything in it when the
// holder goes away.
#ifndef BASE_FILES_SCOPED_TEMP_DIR_H_
#define BASE_FILES_SCOPED_TEMP_DIR_H_

#include "base/files/file_path.h"

namespace base {

class ScopedTempDir {
 public:
  ScopedTempDir() = default;
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  ~ScopedTempDir();

  // Creates a new folder in the temporary folder. False when one is held
  // already or none can be created.
  bool CreateUniqueTempDir();
  // The same below |base| (created when missing).
  bool CreateUniqueTempDirUnderPath(const FilePath& base);

  // Deletes the folder tree now. True when nothing is held any more.
  bool Delete();
  // Gives up the folder without deleting it.
  FilePath Take();

  const FilePath& GetPath() const { return path_; }
  bool IsValid() const { return !path_.empty(); }

 private:
  FilePath path_;
};

}  // namespace base

#endif  // BASE_FILES_SCOPED_TEMP_DIR_H_
