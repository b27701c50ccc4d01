#include "desktop/windows/installer/service/xml_document.h"

#include <string>
#include <vector>

#include "base/win/scoped_com.h"
#include "desktop/windows/installer/service/msxml_ids.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::win::ComPtr;

// Attributes cannot carry tabs and line feeds: the test's texts with blanks
// instead.
std::wstring AttributeForm(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'\n' || c == L'\t')
      c = L' ';
  }
  return text;
}

class XmlDocumentTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(com_.Succeeded()); }

  base::win::ScopedComInitializer com_;
};

// The ids defined for mingw must name the real MSXML 3.0 classes and
// interfaces: each class is created and asked for its interface.
TEST_F(XmlDocumentTest, Msxml30IdsNameTheirObjects) {
  ComPtr<IXMLDOMDocument2> document;
  EXPECT_HRESULT_SUCCEEDED(document.CreateInstance(CLSID_DOMDocument30, IID_IXMLDOMDocument2));
  ComPtr<IXMLDOMDocument2> free_threaded;
  EXPECT_HRESULT_SUCCEEDED(
      free_threaded.CreateInstance(CLSID_FreeThreadedDOMDocument30, IID_IXMLDOMDocument2));
  ComPtr<IMXWriter> writer;
  EXPECT_HRESULT_SUCCEEDED(writer.CreateInstance(CLSID_MXXMLWriter30, IID_IMXWriter));
  ComPtr<IUnknown> reader;
  EXPECT_HRESULT_SUCCEEDED(reader.CreateInstance(CLSID_SAXXMLReader30, IID_IUnknown));
}

// Text and attributes come back exactly: whitespace, XML-special characters
// and characters outside ASCII (including a surrogate pair).
TEST_F(XmlDocumentTest, TextAndAttributesRoundTripExactly) {
  const std::wstring texts[] = {L" leading and trailing ", L"a\n\tb", L" ", L"<&>\"' ]]> &amp;",
                                L"caf\u00e9 \u65e5\u672c \U0001F600"};
  XmlDocument document;
  ASSERT_TRUE(document.Create());
  XmlDocument::Element root = document.CreateRootElement(L"root");
  ASSERT_TRUE(root.IsValid());
  for (const std::wstring& text : texts) {
    XmlDocument::Element item = document.AppendTextElement(root.Get(), L"item", text);
    ASSERT_TRUE(item.IsValid());
    ASSERT_TRUE(XmlDocument::SetAttribute(item.Get(), L"copy", AttributeForm(text)));
  }
  ASSERT_TRUE(document.Indent());
  std::string bytes;
  ASSERT_TRUE(document.SaveToBytes(&bytes));
  // UTF-8 as declared.
  EXPECT_NE(bytes.find("encoding=\"UTF-8\""), std::string::npos) << bytes;
  EXPECT_NE(bytes.find("caf\xC3\xA9"), std::string::npos) << bytes;

  XmlDocument loaded;
  ASSERT_TRUE(loaded.LoadFromBytes(bytes)) << bytes;
  XmlDocument::Element loaded_root = loaded.GetRootElement();
  ASSERT_TRUE(loaded_root.IsValid());
  std::vector<XmlDocument::Element> items;
  ASSERT_TRUE(XmlDocument::GetChildElements(loaded_root.Get(), &items));
  ASSERT_EQ(std::size(texts), items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    std::wstring text;
    std::wstring attribute;
    std::wstring name;
    ASSERT_TRUE(XmlDocument::GetText(items[i].Get(), &text));
    ASSERT_TRUE(XmlDocument::GetAttribute(items[i].Get(), L"copy", &attribute));
    ASSERT_TRUE(XmlDocument::GetName(items[i].Get(), &name));
    EXPECT_EQ(texts[i], text) << i;
    EXPECT_EQ(AttributeForm(texts[i]), attribute) << i;
    EXPECT_EQ(L"item", name);
  }
  std::wstring absent;
  EXPECT_FALSE(XmlDocument::GetAttribute(items[0].Get(), L"missing", &absent));
}

// Text that would not read back the same is refused, not written.
TEST_F(XmlDocumentTest, RefusesTextXmlCannotCarry) {
  XmlDocument document;
  ASSERT_TRUE(document.Create());
  XmlDocument::Element root = document.CreateRootElement(L"root");
  ASSERT_TRUE(root.IsValid());
  EXPECT_FALSE(document.AppendTextElement(root.Get(), L"a", L"line\r\nbreak").IsValid());
  EXPECT_FALSE(document.AppendTextElement(root.Get(), L"a", std::wstring(L"nul\0x", 5)).IsValid());
  EXPECT_FALSE(document.AppendTextElement(root.Get(), L"a", L"lone \xD800 surrogate").IsValid());
  EXPECT_FALSE(XmlDocument::SetAttribute(root.Get(), L"a", L"tab\there"));
  EXPECT_FALSE(XmlDocument::SetAttribute(root.Get(), L"a", L"\xFFFF"));
  EXPECT_TRUE(XmlDocument::SetAttribute(root.Get(), L"a", L"\U0001F600"));
}

TEST_F(XmlDocumentTest, RejectsDamagedDocuments) {
  XmlDocument document;
  EXPECT_FALSE(document.LoadFromBytes(""));
  EXPECT_FALSE(document.LoadFromBytes("<root><open></root>"));
  EXPECT_FALSE(document.LoadFromBytes("<root attr='x'"));
  EXPECT_FALSE(document.LoadFromBytes(std::string("\x00\xff\xfe\x01garbage\x80", 13)));
  EXPECT_FALSE(document.IsValid());
  EXPECT_FALSE(document.GetRootElement().IsValid());
  std::string bytes;
  EXPECT_FALSE(document.SaveToBytes(&bytes));
  // A good document after a bad one loads normally.
  ASSERT_TRUE(document.LoadFromBytes("<?xml version=\"1.0\"?><!-- c --><r><x/>t<y/></r>"));
  std::vector<XmlDocument::Element> children;
  ASSERT_TRUE(XmlDocument::GetChildElements(document.GetRootElement().Get(), &children));
  EXPECT_EQ(2u, children.size());
}

// A document type declaration is refused however it is written (it could
// define entities, whose references would otherwise read as nothing or
// expand a small file into a huge one); character and predefined entity
// references are ordinary text.
TEST_F(XmlDocumentTest, RefusesDocumentTypeDeclarations) {
  XmlDocument document;
  EXPECT_FALSE(document.LoadFromBytes(
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e \"outside\">]><r><f>&e;</f></r>"));
  EXPECT_FALSE(document.IsValid());
  EXPECT_FALSE(document.LoadFromBytes("<!DOCTYPE r><r/>"));
  EXPECT_FALSE(document.LoadFromBytes(
      "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
      "<r>&b;&b;&b;</r>"));
  // The same in UTF-16, where the declaration is not visible in the bytes.
  const std::wstring wide = L"\xFEFF<!DOCTYPE r [<!ENTITY e \"x\">]><r><f>&e;</f></r>";
  EXPECT_FALSE(document.LoadFromBytes(
      std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t))));
  EXPECT_FALSE(document.IsValid());
  // Refused for its declaration, not its encoding.
  const std::wstring plain = L"\xFEFF<r><f>x</f></r>";
  EXPECT_TRUE(document.LoadFromBytes(
      std::string(reinterpret_cast<const char*>(plain.data()), plain.size() * sizeof(wchar_t))));

  ASSERT_TRUE(document.LoadFromBytes("<r><f>a&amp;b&#x41;&lt;</f></r>"));
  std::vector<XmlDocument::Element> children;
  ASSERT_TRUE(XmlDocument::GetChildElements(document.GetRootElement().Get(), &children));
  ASSERT_EQ(1u, children.size());
  std::wstring text;
  ASSERT_TRUE(XmlDocument::GetText(children[0].Get(), &text));
  EXPECT_EQ(L"a&bA<", text);
}

// The element cap: a document of exactly kMaxElements elements loads, and
// every child is read back in order; one more element is refused.
TEST_F(XmlDocumentTest, RefusesDocumentsOverTheElementCap) {
  auto make = [](unsigned long elements) {
    std::string bytes = "<r>";
    bytes.reserve(elements * 12);
    for (unsigned long i = 1; i < elements; ++i)
      bytes += (i % 1000 == 0) ? "<f>k</f>" : "<f/>";
    bytes += "</r>";
    return bytes;
  };
  XmlDocument document;
  ASSERT_TRUE(document.LoadFromBytes(make(XmlDocument::kMaxElements)));
  std::vector<XmlDocument::Element> children;
  ASSERT_TRUE(XmlDocument::GetChildElements(document.GetRootElement().Get(), &children));
  ASSERT_EQ(XmlDocument::kMaxElements - 1, children.size());
  std::wstring text;
  ASSERT_TRUE(XmlDocument::GetText(children[998].Get(), &text));
  EXPECT_EQ(L"", text);
  ASSERT_TRUE(XmlDocument::GetText(children[999].Get(), &text));
  EXPECT_EQ(L"k", text);
  children.clear();
  EXPECT_FALSE(document.LoadFromBytes(make(XmlDocument::kMaxElements + 1)));
  EXPECT_FALSE(document.IsValid());
}

}  // namespace
}  // namespace installer
