#include "desktop/windows/crash_reporter/crash_log/mapped_section_view.h"

#include <windows.h>

#include <string>

#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

// A module file that grows after it was mapped: the view is as large as the
// mapping, never as the file has become, and all of it can be read.
TEST(MappedSectionViewTest, TheSizeIsTheMappingsNotTheGrownFiles) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const std::wstring path = temp.GetPath().Append(L"module.dll").value();
  base::win::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.IsValid());
  const std::string first(5000, 'm');
  DWORD written = 0;
  ASSERT_TRUE(
      ::WriteFile(file.Get(), first.data(), static_cast<DWORD>(first.size()), &written, nullptr));
  base::win::ScopedHandle mapping(
      ::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  ASSERT_TRUE(mapping.IsValid());

  const std::string more(200000, 'g');
  ASSERT_TRUE(
      ::WriteFile(file.Get(), more.data(), static_cast<DWORD>(more.size()), &written, nullptr));
  LARGE_INTEGER file_size = {};
  ASSERT_TRUE(::GetFileSizeEx(file.Get(), &file_size));
  ASSERT_EQ(205000, file_size.QuadPart);

  MappedSectionView view;
  ASSERT_TRUE(view.Map(mapping.Get()));
  EXPECT_EQ(5000u, view.size());
  size_t sum = 0;
  for (size_t i = 0; i < view.size(); ++i)
    sum += view.data()[i] == 'm';
  EXPECT_EQ(5000u, sum);
}

}  // namespace
}  // namespace crash_reporter
