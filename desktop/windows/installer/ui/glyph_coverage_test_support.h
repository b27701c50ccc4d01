// Whether a text can be drawn with real glyphs: a font that lacks a letter
// draws a box instead, narrower than the letter, so a text of boxes passes
// every width check. GDI takes a glyph the font lacks from the fonts linked
// to its face (FontLink\SystemLink, "file,face" entries in order), so a
// letter counts as drawn when the font or one of its links has it.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_GLYPH_COVERAGE_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_GLYPH_COVERAGE_TEST_SUPPORT_H_

#include <windows.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "desktop/windows/installer/ui/system_font_links.h"

namespace installer {
namespace test {

// The face |font| is drawn in on |dc|.
inline std::wstring FaceOf(HDC dc, HFONT font) {
  HGDIOBJ previous = ::SelectObject(dc, font);
  wchar_t face[LF_FACESIZE] = {};
  ::GetTextFaceW(dc, LF_FACESIZE, face);
  ::SelectObject(dc, previous);
  return face;
}

// The characters of |text| that neither |font| on |dc| nor any of the
// |linked_faces| (at the font's size and weight) has a glyph for; empty
// when every letter is drawn for real. A linked face that is not installed
// is passed over, as GDI does.
inline std::wstring MissingGlyphs(HDC dc, HFONT font, const std::wstring& text,
                                  const std::vector<std::wstring>& linked_faces) {
  if (!font)
    font = static_cast<HFONT>(::GetCurrentObject(dc, OBJ_FONT));
  std::wstring missing = CharactersWithoutGlyph(dc, font, text);
  LOGFONTW base = {};
  ::GetObjectW(font, sizeof(base), &base);
  for (const std::wstring& face : linked_faces) {
    if (missing.empty())
      break;
    // GDI takes the linked font whatever the character set asked for.
    LOGFONTW linked = base;
    linked.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(linked.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    linked.lfFaceName[LF_FACESIZE - 1] = L'\0';
    HFONT candidate = ::CreateFontIndirectW(&linked);
    if (!candidate)
      continue;
    // The font mapper answers a face it does not have with another one.
    if (_wcsicmp(FaceOf(dc, candidate).c_str(), linked.lfFaceName) == 0)
      missing = CharactersWithoutGlyph(dc, candidate, missing);
    ::DeleteObject(candidate);
  }
  return missing;
}

// Whether drawing |text| in |font| shows the font's box (its glyph 0, what
// text output draws for a letter no font has): letter by letter the font
// and its links may have every glyph, yet text output can still draw
// boxes (Wine shapes a Thai text with the selected font alone, links or
// not). The text is drawn on one line without smoothing and searched for
// the box's exact pixels.
inline bool DrawsBoxes(HFONT font, const std::wstring& raw_text) {
  // Line breaks and tabs are laid out, not drawn.
  std::wstring text;
  for (wchar_t c : raw_text)
    text.push_back(c == L'\t' || c == L'\r' || c == L'\n' ? L' ' : c);
  if (text.empty())
    return false;
  LOGFONTW logfont = {};
  if (!::GetObjectW(font, sizeof(logfont), &logfont))
    return false;
  logfont.lfQuality = NONANTIALIASED_QUALITY;
  HFONT sharp = ::CreateFontIndirectW(&logfont);
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ previous_font = ::SelectObject(dc, sharp);
  SIZE extent = {};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  TEXTMETRICW metrics = {};
  ::GetTextMetricsW(dc, &metrics);
  const int width = std::min<int>(extent.cx + 64, 16000);
  const int height = metrics.tmHeight * 2 + 8;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous_bitmap = ::SelectObject(dc, bitmap);
  const auto* pixels = static_cast<const DWORD*>(bits);
  auto ink = [&](int x, int y) { return (pixels[y * width + x] & 0xFFFFFF) != 0xFFFFFF; };
  ::SetTextColor(dc, 0);
  ::SetBkMode(dc, TRANSPARENT);

  // The box, and where its pixels are.
  ::PatBlt(dc, 0, 0, width, height, WHITENESS);
  const WORD box_glyph = 0;
  ::ExtTextOutW(dc, 4, 4, ETO_GLYPH_INDEX, nullptr, reinterpret_cast<LPCWSTR>(&box_glyph), 1,
                nullptr);
  ::GdiFlush();
  int left = width, top = height, right = -1, bottom = -1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < std::min<int>(width, 4 + metrics.tmMaxCharWidth * 2); ++x) {
      if (ink(x, y)) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
  }
  bool found = false;
  if (right >= left + 2 && bottom >= top + 2) {
    std::vector<bool> box;
    for (int y = top; y <= bottom; ++y) {
      for (int x = left; x <= right; ++x)
        box.push_back(ink(x, y));
    }
    const int box_width = right - left + 1;
    // The text on the same baseline: a box sits at the same height.
    ::PatBlt(dc, 0, 0, width, height, WHITENESS);
    RECT area = {4, 4, width, height};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
                DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    ::GdiFlush();
    for (int x = 0; x + box_width <= width && !found; ++x) {
      bool same = true;
      for (int y = top; y <= bottom && same; ++y) {
        for (int dx = 0; dx < box_width && same; ++dx)
          same = ink(x + dx, y) == box[static_cast<size_t>((y - top) * box_width + dx)];
      }
      found = same;
    }
  }
  ::SelectObject(dc, previous_bitmap);
  ::DeleteObject(bitmap);
  ::SelectObject(dc, previous_font);
  ::DeleteObject(sharp);
  ::DeleteDC(dc);
  return found;
}

// The letters of |text| that |font| draws as boxes: every one that neither
// the font nor a font the system links to its face has, and, when drawing
// the text shows boxes all the same, every one the font itself lacks.
// Whether this process runs on Wine, whose ntdll exports its version.
inline bool RunsOnWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// Texts that Wine 8 draws with boxes however the fonts are linked, where
// Windows draws them from the links: a Thai text (Wine shapes it with the
// selected font alone) and a bold text that needs a linked font (Wine takes
// no bold glyph from a link). On Wine the letter-by-letter check above still
// holds for them; only the search for drawn boxes leaves them out, so that
// every other text of every language is still drawn and searched.
inline bool WineDrawsOnlyFromTheFontItself(HDC dc, HFONT font, const std::wstring& text) {
  if (!RunsOnWine())
    return false;
  if (std::any_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0x0E00 && c <= 0x0E7F; }))
    return true;
  LOGFONTW logfont = {};
  return ::GetObjectW(font, sizeof(logfont), &logfont) && logfont.lfWeight >= FW_SEMIBOLD &&
         !MissingGlyphs(dc, font, text, {}).empty();
}

// Whether Wine has put its own links back in place of the prefix's for the
// faces a dialog font becomes: a Wine process whose code pages differ from
// those the prefix last saw writes, for "Tahoma" and "Microsoft Sans Serif",
// a list of fonts this machine does not have (it starts with "MS UI
// Gothic"). The glyph checks then fail; this names the likely cause.
inline bool WineReplacedTheDialogFontLinks() {
  if (!RunsOnWine())
    return false;
  for (const wchar_t* face : {L"Tahoma", L"Microsoft Sans Serif"}) {
    const std::vector<std::wstring> links = LinkedFacesOf(face);
    if (!links.empty() && links.front() == L"MS UI Gothic")
      return true;
  }
  return false;
}

inline std::wstring MissingGlyphsWithSystemLinks(HDC dc, HFONT font, const std::wstring& text,
                                                 bool check_drawing) {
  if (!font)
    font = static_cast<HFONT>(::GetCurrentObject(dc, OBJ_FONT));
  std::wstring missing = MissingGlyphs(dc, font, text, LinkedFacesOf(FaceOf(dc, font)));
  if (missing.empty() && check_drawing && !WineDrawsOnlyFromTheFontItself(dc, font, text) &&
      DrawsBoxes(font, text)) {
    // Which letters: those the font itself lacks.
    missing = MissingGlyphs(dc, font, text, {});
  }
  return missing;
}

// The characters of a rich edit's text that its runs' own fonts have no
// glyph for: a rich edit takes none from the linked fonts, it binds a run
// to another font itself (or its owner does).
inline std::wstring MissingRichEditGlyphs(HWND rich_edit) {
  const LONG length = static_cast<LONG>(::GetWindowTextLengthW(rich_edit));
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  TEXTRANGEW all = {{0, length}, text.data()};
  text.resize(static_cast<size_t>(
      ::SendMessageW(rich_edit, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&all))));
  CHARRANGE saved = {};
  ::SendMessageW(rich_edit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&saved));
  HDC dc = ::GetDC(rich_edit);
  std::wstring missing;
  for (LONG i = 0; i < static_cast<LONG>(text.size()); ++i) {
    const wchar_t c = text[static_cast<size_t>(i)];
    if (IsInvisibleCharacter(c) || missing.find(c) != std::wstring::npos)
      continue;
    CHARRANGE one = {i, i + 1};
    ::SendMessageW(rich_edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&one));
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    ::SendMessageW(rich_edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    LOGFONTW logfont = {};
    logfont.lfHeight = -12;
    logfont.lfWeight = format.wWeight ? format.wWeight : FW_NORMAL;
    logfont.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(logfont.lfFaceName, format.szFaceName, LF_FACESIZE - 1);
    HFONT font = ::CreateFontIndirectW(&logfont);
    missing += MissingGlyphs(dc, font, std::wstring(1, c), {});
    ::DeleteObject(font);
  }
  ::ReleaseDC(rich_edit, dc);
  ::SendMessageW(rich_edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&saved));
  return missing;
}

// "U+0259 U+1EDB": the characters of |missing|, for a failure message.
inline std::string DescribeCharacters(const std::wstring& missing) {
  std::string out;
  char code[16];
  for (wchar_t c : missing) {
    snprintf(code, sizeof(code), "%sU+%04X", out.empty() ? "" : " ", static_cast<unsigned>(c));
    out += code;
  }
  return out;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_GLYPH_COVERAGE_TEST_SUPPORT_H_
