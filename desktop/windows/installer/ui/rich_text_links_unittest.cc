#include "desktop/windows/installer/ui/rich_text_links.h"

#include <commctrl.h>

#include <string>

#include "desktop/windows/installer/ui/scoped_gdi.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(RichTextLinksTest, MarkupBecomesPlaceholders) {
  // Plain text stays as it is, with no link.
  LinkPlaceholders plain = MarkupToPlaceholders(L"No links, 5 $ and $1 here");
  EXPECT_EQ(L"No links, 5 $ and $1 here", plain.text);
  EXPECT_TRUE(plain.links.empty());
  EXPECT_TRUE(plain.occurrences.empty());

  LinkPlaceholders two = MarkupToPlaceholders(
      L"Read the <a href=\"tos\">Terms</a> and <a href=\"privacy\">Privacy notice</a>.");
  EXPECT_EQ(L"Read the $1tos$2Terms$3 and $1privacy$2Privacy notice$3.", two.text);
  ASSERT_EQ(2u, two.links.size());
  EXPECT_EQ(L"privacy", two.links[1].address);
  EXPECT_EQ(L"Privacy notice", two.links[1].text);
  EXPECT_EQ((std::vector<int>{0, 0, 0, 1, 1, 1}), two.occurrences);
  EXPECT_EQ(9u, two.first_start);
  EXPECT_EQ(std::wstring(L"Read the $1tos$2Terms$3").size(), two.first_end);
}

TEST(RichTextLinksTest, BrokenAnchorsLoseOnlyTheirMissingParts) {
  // Without href: no address.
  EXPECT_EQ(L"a $1$2link$3 b", MarkupToPlaceholders(L"a <a class=x>link</a> b").text);
  // Without ">": no link text, and the scan goes on after "</a>".
  EXPECT_EQ(L"a $1tos$2$3 b", MarkupToPlaceholders(L"a <a href=\"tos\"</a> b").text);
  // Without "</a>": the rest of the text is the broken anchor.
  LinkPlaceholders open = MarkupToPlaceholders(L"a <a href=\"tos\">never closed");
  EXPECT_EQ(L"a $1tos$2$3", open.text);
  ASSERT_EQ(1u, open.links.size());
  // An unterminated address is no address.
  EXPECT_EQ(L"$1$2x$3", MarkupToPlaceholders(L"<a href=\"tos>x</a>").text);
}

TEST(RichTextLinksTest, OnlyOurPlaceholdersAreReplaced) {
  // The text's own "$1", "$$" and "$4" come before and after ours.
  const LinkPlaceholders placeholders =
      MarkupToPlaceholders(L"Pay $1 or $$ and $4: <a href=\"tos\">Terms</a> $3");
  EXPECT_EQ((std::vector<int>{1, 0, 0}), placeholders.occurrences);
  const std::string rtf = "{\\rtf1 Pay $1 or $$ and $4: $1tos$2Terms$3 $3}";
  EXPECT_EQ(
      "{\\rtf1 Pay $1 or $$ and $4: {\\field{\\*\\fldinst{HYPERLINK \"tos\"}}{\\fldrslt{\\ul "
      "Terms}}} $3}",
      ReplaceLinkPlaceholders(rtf, placeholders, false));
  EXPECT_EQ(
      "{\\rtf1 Pay $1 or $$ and $4: \\line {\\field{\\*\\fldinst{HYPERLINK \"tos\"}}{\\fldrslt{"
      "\\ul Terms}}} $3}",
      ReplaceLinkPlaceholders(rtf, placeholders, true));
  // RTF that lost a placeholder is left alone rather than half-replaced.
  EXPECT_EQ("{\\rtf1 $1tos Terms}",
            ReplaceLinkPlaceholders("{\\rtf1 $1tos Terms}", placeholders, false));
}

TEST(RichTextLinksTest, LinkAddressComesFromTheFieldInstruction) {
  EXPECT_EQ(L"tos", LinkAddressFromText(L"tos"));
  EXPECT_EQ(L"tos", LinkAddressFromText(L"HYPERLINK \"tos\"Terms of Service"));
  EXPECT_EQ(L"", LinkAddressFromText(L"HYPERLINK \"\"x"));
  // An instruction without its closing quote is no address.
  EXPECT_EQ(L"HYPERLINK \"tos", LinkAddressFromText(L"HYPERLINK \"tos"));
  EXPECT_EQ(L"Terms of Service", LinkAddressFromText(L"Terms of Service"));
}

class RichTextControlTest : public testing::Test {
 protected:
  void SetUp() override {
    library_ = ::LoadLibraryW(L"Msftedit.dll");
    ASSERT_TRUE(library_);
    control_.Reset(::CreateWindowExW(0, L"RICHEDIT50W", L"", WS_POPUP | ES_MULTILINE | ES_READONLY,
                                     0, 0, 400, 60, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(control_.IsValid());
  }

  std::wstring Text() {
    wchar_t buffer[512] = {};
    ::GetWindowTextW(control_.Get(), buffer, 512);
    return buffer;
  }

  CHARFORMAT2W FormatAt(LONG position) {
    CHARRANGE range = {position, position + 1};
    ::SendMessageW(control_.Get(), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    ::SendMessageW(control_.Get(), EM_GETCHARFORMAT, SCF_SELECTION,
                   reinterpret_cast<LPARAM>(&format));
    return format;
  }

  HMODULE library_ = nullptr;
  ScopedWindow control_;
};

TEST_F(RichTextControlTest, LinkIsClickableColouredAndKeepsTheTextsDollars) {
  const std::wstring markup = L"Costs $$5 or $4, see our <a href=\"tos\">Terms of Service</a> now";
  SetRichTextWithLinks(control_.Get(), markup, RGB(0x68, 0x68, 0x68));
  const std::wstring text = Text();
  EXPECT_NE(std::wstring::npos, text.find(L"Costs $$5 or $4, see our ")) << text;
  const size_t link = text.find(L"Terms of Service");
  ASSERT_NE(std::wstring::npos, link) << text;
  EXPECT_NE(std::wstring::npos, text.find(L" now")) << text;
  EXPECT_EQ(std::wstring::npos, text.find(L"$2")) << text;

  const CHARFORMAT2W format = FormatAt(static_cast<LONG>(link) + 2);
  EXPECT_TRUE(format.dwEffects & CFE_LINK);
  EXPECT_EQ(RGB(0x68, 0x68, 0x68), format.crTextColor);
  CHARRANGE range = {static_cast<LONG>(link), static_cast<LONG>(link + 16)};
  EXPECT_EQ(L"tos", GetLinkAddress(control_.Get(), range));
  // The words before the link keep the default colour.
  EXPECT_NE(RGB(0x68, 0x68, 0x68), FormatAt(1).crTextColor);
}

// A translation with a broken anchor shows its words as far as they are
// there, and nothing of the markup or of the placeholders behind it.
TEST_F(RichTextControlTest, BrokenAnchorsShowTheirWordsAndNoMarkup) {
  SetRichTextWithLinks(control_.Get(), L"Read <a class=x>the terms</a> now", RGB(1, 2, 3));
  std::wstring text = Text();
  EXPECT_EQ(0u, text.find(L"Read ")) << text;
  EXPECT_NE(std::wstring::npos, text.find(L"the terms")) << text;
  EXPECT_NE(std::wstring::npos, text.find(L" now")) << text;

  for (const wchar_t* markup : {L"Read <a href=\"tos\">never closed", L"Read <a href=\"tos\"</a>",
                                L"Read <a href=\"tos>x</a> now", L"Read <a "}) {
    SetRichTextWithLinks(control_.Get(), markup, RGB(1, 2, 3));
    text = Text();
    for (const wchar_t* leak : {L"<", L"$", L"HYPERLINK", L"href"})
      EXPECT_EQ(std::wstring::npos, text.find(leak)) << markup << " shows " << text;
  }
  SetRichTextWithLinks(control_.Get(), L"Read <a href=\"tos\">never closed", RGB(1, 2, 3));
  EXPECT_EQ(0u, Text().find(L"Read"));
}

TEST_F(RichTextControlTest, TextWithoutLinksIsShownUnchanged) {
  SetRichTextWithLinks(control_.Get(), L"Plain $1 text", RGB(255, 0, 0));
  EXPECT_EQ(L"Plain $1 text", Text());
  EXPECT_NE(RGB(255, 0, 0), FormatAt(0).crTextColor);
  EXPECT_FALSE(FormatAt(0).dwEffects & CFE_LINK);
}

TEST_F(RichTextControlTest, ColoursApplyToTheWholeTextOrARange) {
  ::SetWindowTextW(control_.Get(), L"VELMO. DO MORE.");
  SetTextColour(control_.Get(), RGB(1, 2, 3));
  SetRangeColour(control_.Get(), RGB(9, 9, 9), {0, 6});
  EXPECT_EQ(RGB(9, 9, 9), FormatAt(0).crTextColor);
  EXPECT_EQ(RGB(9, 9, 9), FormatAt(5).crTextColor);
  EXPECT_EQ(RGB(1, 2, 3), FormatAt(7).crTextColor);
}

TEST_F(RichTextControlTest, Utf8TextShowsAsFarAsItIsValid) {
  const char raw[] =
      "Ab\xff\xfe cd\n\xc3\xa4"
      "f\xe2\x82\0hidden";
  SetUtf8Text(control_.Get(), std::string_view(raw, sizeof(raw) - 1));
  const std::wstring text = Text();
  EXPECT_EQ(0u, text.find(L"Ab")) << text;
  const size_t cd = text.find(L" cd\r");
  ASSERT_NE(std::wstring::npos, cd) << text;
  // One line break, however the control reports it.
  EXPECT_NE(std::wstring::npos, text.find(L"\u00e4f", cd)) << text;
  EXPECT_EQ(std::wstring::npos, text.find(L"\r\r")) << text;
  EXPECT_EQ(std::wstring::npos, text.find(L"hidden")) << text;
}

}  // namespace
}  // namespace installer
