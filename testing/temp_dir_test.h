#ifndef TESTING_TEMP_DIR_TEST_H_
#define TESTING_TEMP_DIR_TEST_H_

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"

namespace testing {

// A test that owns a fresh temporary folder, deleted with it, and writes the
// files it reads into that folder.
class TempDirTest : public Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }

  // Writes |bytes| to the file |name| in the folder and returns its path.
  base::FilePath WriteFile(const wchar_t* name, const std::string& bytes) {
    base::FilePath path = temp_.GetPath().Append(name);
    EXPECT_EQ(static_cast<int>(bytes.size()),
              base::WriteFileBytes(path, bytes.data(), static_cast<int>(bytes.size())));
    return path;
  }

  base::ScopedTempDir temp_;
};

}  // namespace testing

#endif  // TESTING_TEMP_DIR_TEST_H_
