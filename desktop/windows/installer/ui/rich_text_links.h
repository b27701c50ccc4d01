// Sentences with clickable links in read-only rich-edit controls, written in
// a small markup: 'By clicking you agree to the <a href="tos">Terms</a>'.
//
// The markup becomes placeholders ("$1" address "$2" link text "$3"), the
// control is filled with that text, its content is read back as RTF and the
// placeholders are replaced there by a hyperlink field. Only the
// placeholders the markup step put in are replaced: a translated text keeps
// its own "$" signs and digits.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_RICH_TEXT_LINKS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_RICH_TEXT_LINKS_H_

#include <windows.h>
#include <richedit.h>

#include <string>
#include <string_view>
#include <vector>

namespace installer {

struct LinkPlaceholders {
  struct Link {
    std::wstring address;
    std::wstring text;
  };
  // The text with each anchor turned into "$1" address "$2" text "$3".
  std::wstring text;
  // For each placeholder put in, in order: how many equal tokens ("$1",
  // "$2" or "$3") come before it in |text|. The RTF of the control holds
  // the same tokens in the same order, so this finds ours there.
  std::vector<int> occurrences;
  std::vector<Link> links;
  // Where the first "$1" starts and the first "$3" ends in |text|.
  size_t first_start = 0;
  size_t first_end = 0;
};

// The markup turned into placeholders. An anchor starts with "<a " and ends
// with "</a>"; without "href=" and quotes it has no address, without ">"
// or "</a>" no link text.
LinkPlaceholders MarkupToPlaceholders(const std::wstring& markup);

// |rtf| with our placeholders replaced by a hyperlink field; with
// |line_break_first| a line break goes before the first link.
std::string ReplaceLinkPlaceholders(const std::string& rtf, const LinkPlaceholders& placeholders,
                                    bool line_break_first);

// The control's text as RTF, and the control filled from RTF.
bool StreamOutRtf(HWND control, std::string* rtf);
bool StreamInRtf(HWND control, const std::string& rtf);

// The address of the link clicked at |range| of |control|: the address the
// link was made with, else the range's text (see LinkAddressFromText).
std::wstring GetLinkAddress(HWND control, const CHARRANGE& range);

// The address in a link's text: where the text holds the field instruction
// ('HYPERLINK "tos"', as some rich edits report a link's range), the quoted
// address, else the text itself.
std::wstring LinkAddressFromText(const std::wstring& text);

// Fills |control| with |markup| as text and links, coloured from the first
// link's start to its end in |colour|.
void SetRichTextWithLinks(HWND control, const std::wstring& markup, COLORREF colour);

// Fills |control| with 8-bit UTF-8 text up to its first NUL, each "\n"
// made a line break. Bytes that are not UTF-8 show as replacement
// characters; the text around them stays.
void SetUtf8Text(HWND control, std::string_view utf8);

// The colour of the whole text, or of |range|.
void SetTextColour(HWND control, COLORREF colour);
void SetRangeColour(HWND control, COLORREF colour, const CHARRANGE& range);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_RICH_TEXT_LINKS_H_
