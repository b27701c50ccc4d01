#include "desktop/windows/installer/ui/rich_text_links.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>

#include <memory>

#include "base/logging.h"
#include "base/win/crash_hook.h"
#include "desktop/windows/installer/ui/installer_window.h"

namespace installer {

namespace {

constexpr wchar_t kAnchorStart[] = L"<a ";
constexpr wchar_t kAnchorEnd[] = L"</a>";
constexpr wchar_t kHrefStart[] = L"href=\"";
constexpr const wchar_t* kTokens[3] = {L"$1", L"$2", L"$3"};
constexpr const char* kNarrowTokens[3] = {"$1", "$2", "$3"};
// What "$1", "$2" and "$3" become: a hyperlink field around the address and
// the underlined link text.
constexpr const char* kFieldParts[3] = {
    "{\\field{\\*\\fldinst{HYPERLINK \"",
    "\"}}{\\fldrslt{\\ul ",
    "}}}",
};

// How many times |token| occurs in |text| before |end|, counted the way
// ReplaceLinkPlaceholders finds them.
template <typename String>
int CountTokens(const String& text, const typename String::value_type* token, size_t end) {
  int count = 0;
  for (size_t at = text.find(token); at != String::npos && at < end; at = text.find(token, at + 2))
    ++count;
  return count;
}

// The links a control was given without fields, when the rich edit dropped
// them; kept as a window property of the control, freed with it.
struct FallbackLink {
  CHARRANGE range;
  std::wstring address;
};
using FallbackLinks = std::vector<FallbackLink>;
constexpr wchar_t kFallbackLinksProperty[] = L"VelmoFallbackLinks";
constexpr UINT_PTR kFallbackLinksId = 0x4C4E4B53;

const FallbackLinks* GetFallbackLinks(HWND control) {
  return reinterpret_cast<const FallbackLinks*>(::GetPropW(control, kFallbackLinksProperty));
}

std::unique_ptr<FallbackLinks> TakeFallbackLinks(HWND control) {
  return std::unique_ptr<FallbackLinks>(
      reinterpret_cast<FallbackLinks*>(::RemovePropW(control, kFallbackLinksProperty)));
}

LRESULT CALLBACK FallbackLinksProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR) {
  if (message == WM_NCDESTROY) {
    TakeFallbackLinks(control);
    ::RemoveWindowSubclass(control, base::win::GuardedProcedure<&FallbackLinksProc>, id);
  }
  return ::DefSubclassProc(control, message, wparam, lparam);
}

void SetFallbackLinks(HWND control, std::unique_ptr<FallbackLinks> links) {
  TakeFallbackLinks(control);
  if (!links)
    return;
  if (!::SetWindowSubclass(control, base::win::GuardedProcedure<&FallbackLinksProc>,
                           kFallbackLinksId, 0)) {
    LOG(ERROR) << "Keeping the link addresses failed";
    return;
  }
  if (::SetPropW(control, kFallbackLinksProperty, links.get()))
    (void)links.release();
}

void SetRangeEffects(HWND control, const CHARRANGE& range, DWORD mask, DWORD effects) {
  CHARRANGE selection = range;
  ::SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  format.dwMask = mask;
  format.dwEffects = effects;
  ::SendMessageW(control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

bool RangeIsLink(HWND control, const CHARRANGE& range) {
  CHARRANGE selection = range;
  ::SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  ::SendMessageW(control, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  return (format.dwMask & CFM_LINK) && (format.dwEffects & CFE_LINK);
}

// Whether the control shows |text| as a link.
bool HasLink(HWND control, const std::wstring& text) {
  if (text.empty())
    return true;
  FINDTEXTEXW find = {{0, -1}, text.c_str(), {0, 0}};
  const LRESULT at = ::SendMessageW(control, EM_FINDTEXTEXW, FR_DOWN | FR_MATCHCASE,
                                    reinterpret_cast<LPARAM>(&find));
  if (at < 0)
    return false;
  return RangeIsLink(control, find.chrgText);
}

std::wstring GetFirstLine(HWND control) {
  const LRESULT length = ::SendMessageW(control, EM_LINELENGTH, 0, 0);
  if (length <= 0)
    return {};
  std::wstring line(static_cast<size_t>(length) + 1, L'\0');
  *reinterpret_cast<WORD*>(line.data()) = static_cast<WORD>(line.size());
  const LRESULT copied =
      ::SendMessageW(control, EM_GETLINE, 0, reinterpret_cast<LPARAM>(line.data()));
  line.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return line;
}

bool EndsWith(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

DWORD CALLBACK AppendRtf(DWORD_PTR cookie, BYTE* buffer, LONG size, LONG* written) {
  reinterpret_cast<std::string*>(cookie)->append(reinterpret_cast<const char*>(buffer),
                                                 static_cast<size_t>(size));
  *written = size;
  return 0;
}

struct RtfReader {
  const std::string* rtf;
  size_t offset;
};

DWORD CALLBACK ReadRtf(DWORD_PTR cookie, BYTE* buffer, LONG size, LONG* read) {
  RtfReader* reader = reinterpret_cast<RtfReader*>(cookie);
  const size_t left = reader->rtf->size() - reader->offset;
  const size_t count = std::min(left, static_cast<size_t>(size));
  std::copy_n(reader->rtf->data() + reader->offset, count, buffer);
  reader->offset += count;
  *read = static_cast<LONG>(count);
  return 0;
}

// Where the rich edit dropped the hyperlink fields: the visible text with
// each link's text marked as a link, and the addresses kept beside the
// control for GetLinkAddress.
void ApplyFallbackLinks(HWND control, const LinkPlaceholders& placeholders, COLORREF colour) {
  std::wstring visible;
  auto links = std::make_unique<FallbackLinks>();
  const std::wstring& text = placeholders.text;
  size_t pos = 0;
  size_t link_index = 0;
  while (link_index < placeholders.links.size()) {
    const size_t start = text.find(kTokens[0], pos);
    const size_t middle = text.find(kTokens[1], start + 2);
    const size_t end = text.find(kTokens[2], middle + 2);
    if (start == std::wstring::npos || middle == std::wstring::npos || end == std::wstring::npos)
      break;
    visible.append(text, pos, start - pos);
    const LinkPlaceholders::Link& link = placeholders.links[link_index++];
    const LONG from = static_cast<LONG>(visible.size());
    visible += link.text;
    links->push_back({{from, static_cast<LONG>(visible.size())}, link.address});
    pos = end + 2;
  }
  visible.append(text, pos, std::wstring::npos);
  ::SetWindowTextW(control, visible.c_str());
  for (const FallbackLink& link : *links) {
    SetRangeEffects(control, link.range, CFM_LINK | CFM_UNDERLINE, CFE_LINK | CFE_UNDERLINE);
  }
  if (!links->empty())
    SetRangeColour(control, colour, links->front().range);
  SetFallbackLinks(control, std::move(links));
}

}  // namespace

LinkPlaceholders MarkupToPlaceholders(const std::wstring& markup) {
  LinkPlaceholders result;
  std::wstring& out = result.text;
  std::vector<size_t> positions;
  size_t pos = 0;
  while (pos < markup.size()) {
    const size_t start = markup.find(kAnchorStart, pos);
    if (start == std::wstring::npos)
      break;
    out.append(markup, pos, start - pos);
    const size_t end = markup.find(kAnchorEnd, start);
    const size_t anchor_end = end == std::wstring::npos ? markup.size() : end;
    LinkPlaceholders::Link link;

    size_t after_address = start;
    const size_t href = markup.find(kHrefStart, start);
    if (href != std::wstring::npos && href < anchor_end) {
      const size_t address_start = href + std::size(kHrefStart) - 1;
      const size_t quote = markup.find(L'"', address_start);
      if (quote != std::wstring::npos && quote < anchor_end) {
        link.address = markup.substr(address_start, quote - address_start);
        after_address = quote + 1;
      }
    }
    const size_t close = markup.find(L'>', after_address);
    if (end != std::wstring::npos && close != std::wstring::npos && close < end)
      link.text = markup.substr(close + 1, end - close - 1);

    positions.push_back(out.size());
    out += kTokens[0];
    out += link.address;
    positions.push_back(out.size());
    out += kTokens[1];
    out += link.text;
    positions.push_back(out.size());
    out += kTokens[2];
    result.links.push_back(std::move(link));
    if (end == std::wstring::npos) {
      pos = markup.size();
      break;
    }
    pos = end + std::size(kAnchorEnd) - 1;
  }
  if (pos < markup.size())
    out.append(markup, pos, std::wstring::npos);

  for (size_t i = 0; i < positions.size(); ++i)
    result.occurrences.push_back(CountTokens(out, kTokens[i % 3], positions[i]));
  if (positions.size() >= 3) {
    result.first_start = positions[0];
    result.first_end = positions[2] + 2;
  }
  return result;
}

std::string ReplaceLinkPlaceholders(const std::string& rtf, const LinkPlaceholders& placeholders,
                                    bool line_break_first) {
  // Offsets in |rtf| of our placeholders, found by their occurrence among
  // equal tokens.
  struct Hit {
    size_t offset;
    int part;
  };
  std::vector<Hit> hits;
  for (size_t i = 0; i < placeholders.occurrences.size(); ++i) {
    const int part = static_cast<int>(i % 3);
    int seen = 0;
    size_t at = rtf.find(kNarrowTokens[part]);
    while (at != std::string::npos && seen < placeholders.occurrences[i]) {
      at = rtf.find(kNarrowTokens[part], at + 2);
      ++seen;
    }
    if (at == std::string::npos) {
      LOG(ERROR) << "A link placeholder is missing from the rich text";
      return rtf;
    }
    hits.push_back({at, part});
  }
  std::sort(hits.begin(), hits.end(),
            [](const Hit& a, const Hit& b) { return a.offset < b.offset; });
  std::string result;
  result.reserve(rtf.size() + hits.size() * 32);
  size_t pos = 0;
  bool first = true;
  for (const Hit& hit : hits) {
    result.append(rtf, pos, hit.offset - pos);
    if (first && line_break_first)
      result += "\\line ";
    first = false;
    result += kFieldParts[hit.part];
    pos = hit.offset + 2;
  }
  result.append(rtf, pos, std::string::npos);
  return result;
}

bool StreamOutRtf(HWND control, std::string* rtf) {
  rtf->clear();
  EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(rtf), 0, AppendRtf};
  ::SendMessageW(control, EM_STREAMOUT, SF_RTF, reinterpret_cast<LPARAM>(&stream));
  if (stream.dwError != 0 || rtf->empty()) {
    LOG(ERROR) << "Reading the rich text back failed: " << stream.dwError;
    return false;
  }
  return true;
}

bool StreamInRtf(HWND control, const std::string& rtf) {
  RtfReader reader = {&rtf, 0};
  EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&reader), 0, ReadRtf};
  ::SendMessageW(control, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
  if (stream.dwError != 0) {
    LOG(ERROR) << "Writing the rich text failed: " << stream.dwError;
    return false;
  }
  return true;
}

std::wstring GetLinkAddress(HWND control, const CHARRANGE& range) {
  if (const FallbackLinks* links = GetFallbackLinks(control)) {
    for (const FallbackLink& link : *links) {
      if (range.cpMin < link.range.cpMax && link.range.cpMin < range.cpMax)
        return link.address;
    }
  }
  const LONG length = range.cpMax - range.cpMin;
  if (length <= 0)
    return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  TEXTRANGEW text_range = {range, text.data()};
  const LRESULT copied =
      ::SendMessageW(control, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&text_range));
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return LinkAddressFromText(text);
}

std::wstring LinkAddressFromText(const std::wstring& text) {
  constexpr wchar_t kInstruction[] = L"HYPERLINK \"";
  const size_t at = text.find(kInstruction);
  if (at == std::wstring::npos)
    return text;
  const size_t start = at + std::size(kInstruction) - 1;
  const size_t end = text.find(L'"', start);
  if (end == std::wstring::npos)
    return text;
  return text.substr(start, end - start);
}

void SetRichTextWithLinks(HWND control, const std::wstring& markup, COLORREF colour) {
  if (!control)
    return;
  SetFallbackLinks(control, nullptr);
  const LinkPlaceholders placeholders = MarkupToPlaceholders(markup);
  ::SetWindowTextW(control, placeholders.text.c_str());
  if (placeholders.links.empty())
    return;
  const CHARRANGE first = {static_cast<LONG>(placeholders.first_start),
                           static_cast<LONG>(placeholders.first_end)};
  SetRangeColour(control, colour, first);

  std::string rtf;
  if (!StreamOutRtf(control, &rtf))
    return;
  StreamInRtf(control, ReplaceLinkPlaceholders(rtf, placeholders, false));
  // A link that starts at the end of the first line can leave its field
  // instruction showing there; a line break in front moves it down whole.
  if (EndsWith(GetFirstLine(control), L"HYPERLINK "))
    StreamInRtf(control, ReplaceLinkPlaceholders(rtf, placeholders, true));

  // Some rich edits drop hyperlink fields on stream-in; marking the link
  // texts as links still gives the click notification.
  for (const LinkPlaceholders::Link& link : placeholders.links) {
    if (!HasLink(control, link.text)) {
      VLOG(1) << "Hyperlink fields were dropped; marking the links directly";
      ApplyFallbackLinks(control, placeholders, colour);
      break;
    }
  }
  CHARRANGE none = {0, 0};
  ::SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&none));
}

void SetUtf8Text(HWND control, std::string_view utf8) {
  const size_t end = utf8.find('\0');
  if (end != std::string_view::npos)
    utf8 = utf8.substr(0, end);
  std::string text;
  text.reserve(utf8.size() + utf8.size() / 16);
  for (char c : utf8) {
    if (c == '\n')
      text += '\r';
    text += c;
  }
  SETTEXTEX options = {ST_DEFAULT, CP_UTF8};
  ::SendMessageW(control, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&options),
                 reinterpret_cast<LPARAM>(text.c_str()));
}

void SetTextColour(HWND control, COLORREF colour) { SetRangeColour(control, colour, {0, -1}); }

void SetRangeColour(HWND control, COLORREF colour, const CHARRANGE& range) {
  CHARRANGE selection = range;
  ::SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  format.dwMask = CFM_COLOR;
  format.crTextColor = colour;
  ::SendMessageW(control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

// The window's statics forward to the shared helpers.
void InstallerWindow::SetRichTextWithLinks(HWND control, const std::wstring& text,
                                           COLORREF colour) {
  installer::SetRichTextWithLinks(control, text, colour);
}

void InstallerWindow::SetTextColour(HWND control, COLORREF colour) {
  installer::SetTextColour(control, colour);
}

void InstallerWindow::SetRangeColour(HWND control, COLORREF colour, const CHARRANGE& range) {
  installer::SetRangeColour(control, colour, range);
}

}  // namespace installer
