#include "base/win/scoped_com.h"

#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "gtest/gtest.h"

namespace base::win {
namespace {

// The reference count of |object| as AddRef and Release report it.
ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

TEST(ScopedComTest, HoldsAndSharesReferences) {
  ScopedComInitializer com;
  ASSERT_TRUE(com.Succeeded());
  {
    // Nested initialisation on the same thread succeeds with S_FALSE and is
    // balanced as well.
    ScopedComInitializer nested;
    EXPECT_EQ(S_FALSE, nested.hr());
  }

  ComPtr<IShellLinkW> link;
  ASSERT_HRESULT_SUCCEEDED(link.CreateInstance(CLSID_ShellLink, CLSCTX_INPROC_SERVER));
  ASSERT_TRUE(link.IsValid());
  const ULONG alone = RefCount(link.Get());

  ComPtr<IPersistFile> file;
  ASSERT_HRESULT_SUCCEEDED(link.QueryInterface(&file));
  ASSERT_TRUE(file.IsValid());
  {
    ComPtr<IShellLinkW> second = link.Clone();
    EXPECT_EQ(link.Get(), second.Get());
    EXPECT_GT(RefCount(link.Get()), alone);
  }
  file.Reset();
  EXPECT_EQ(alone, RefCount(link.Get()));

  // The interface works through the holder.
  ASSERT_HRESULT_SUCCEEDED(link->SetDescription(L"velmo"));
  wchar_t description[16] = {};
  ASSERT_HRESULT_SUCCEEDED(link->GetDescription(description, 16));
  EXPECT_STREQ(L"velmo", description);

  ComPtr<IShellLinkW> empty;
  ComPtr<IPersistFile> nothing;
  EXPECT_EQ(E_POINTER, empty.QueryInterface(&nothing));
}

TEST(ScopedComTest, BstrKeepsLengthAndOwnership) {
  ScopedBstr text(std::wstring_view(L"ab\0cd", 5));
  ASSERT_TRUE(text.IsValid());
  EXPECT_EQ(5u, text.Length());
  EXPECT_EQ(std::wstring_view(L"ab\0cd", 5), text.view());

  ScopedBstr moved(std::move(text));
  EXPECT_FALSE(text.IsValid());
  EXPECT_EQ(0u, text.Length());
  EXPECT_EQ(L"", text.view());
  EXPECT_EQ(5u, moved.Length());

  // Filled through an out-parameter.
  ScopedBstr filled;
  *filled.Receive() = SysAllocString(L"out");
  EXPECT_EQ(L"out", filled.view());
  EXPECT_EQ(0u, ScopedBstr(L"").Length());
}

TEST(ScopedComTest, VariantCopiesTakesAndClears) {
  ScopedVariant empty;
  EXPECT_FALSE(empty.IsValid());
  EXPECT_EQ(VT_EMPTY, empty.type());

  ScopedVariant text(L"velmo");
  ASSERT_EQ(VT_BSTR, text.type());
  EXPECT_STREQ(L"velmo", text.value().bstrVal);

  // A deep copy: its own BSTR with the same text.
  ScopedVariant copy = ScopedVariant::Copy(text.value());
  ASSERT_EQ(VT_BSTR, copy.type());
  EXPECT_NE(text.value().bstrVal, copy.value().bstrVal);
  EXPECT_STREQ(L"velmo", copy.value().bstrVal);

  // Taking leaves the source empty; taking the same bits again keeps them.
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_BSTR;
  raw.bstrVal = SysAllocString(L"taken");
  ScopedVariant taker;
  taker.Take(&raw);
  EXPECT_EQ(VT_EMPTY, raw.vt);
  EXPECT_STREQ(L"taken", taker.value().bstrVal);
  VariantValue same(taker.value());
  taker.Reset(same);
  EXPECT_STREQ(L"taken", taker.value().bstrVal);

  ScopedVariant number = ScopedVariant::FromInt32(-5);
  EXPECT_EQ(VT_I4, number.type());
  EXPECT_EQ(-5, number.value().lVal);
  ScopedVariant flag = ScopedVariant::FromBool(true);
  EXPECT_EQ(VT_BOOL, flag.type());
  EXPECT_EQ(VARIANT_TRUE, flag.value().boolVal);

  // Filled through an out-parameter after clearing.
  VARIANT* out = text.ReceiveVariant();
  EXPECT_EQ(VT_EMPTY, out->vt);
  ASSERT_HRESULT_SUCCEEDED(VariantCopy(out, const_cast<VARIANT*>(number.ptr())));
  EXPECT_EQ(VT_I4, text.type());
  text.Reset();
  EXPECT_EQ(VT_EMPTY, text.type());
}

}  // namespace
}  // namespace base::win
