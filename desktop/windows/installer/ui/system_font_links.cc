#include "desktop/windows/installer/ui/system_font_links.h"

#include <richedit.h>

#include <cwchar>
#include <map>

#include "base/threading/lock.h"
#include "desktop/windows/installer/ui/scoped_gdi.h"

namespace installer {
namespace {

constexpr wchar_t kFontsKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\";

std::vector<std::wstring> SystemLinkFaces(const std::wstring& face) {
  std::vector<std::wstring> faces;
  const std::wstring key = std::wstring(kFontsKey) + L"FontLink\\SystemLink";
  DWORD size = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), face.c_str(), RRF_RT_REG_MULTI_SZ, nullptr,
                     nullptr, &size) != ERROR_SUCCESS) {
    return faces;
  }
  std::wstring value(size / sizeof(wchar_t) + 2, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), face.c_str(), RRF_RT_REG_MULTI_SZ, nullptr,
                     value.data(), &size) != ERROR_SUCCESS) {
    return faces;
  }
  // Each entry is "file,face" or "file,face,scaling"; a file alone names
  // no face a font can be made from.
  for (const wchar_t* entry = value.c_str(); *entry; entry += wcslen(entry) + 1) {
    const std::wstring text(entry);
    const size_t comma = text.find(L',');
    if (comma == std::wstring::npos)
      continue;
    const size_t end = text.find(L',', comma + 1);
    faces.push_back(
        text.substr(comma + 1, end == std::wstring::npos ? std::wstring::npos : end - comma - 1));
  }
  return faces;
}

// The face a font of |face| is drawn in.
std::wstring FaceOfFont(HDC dc, HFONT font) {
  HGDIOBJ previous = ::SelectObject(dc, font);
  wchar_t face[LF_FACESIZE] = {};
  ::GetTextFaceW(dc, LF_FACESIZE, face);
  ::SelectObject(dc, previous);
  return face;
}

// A font of |face| in |weight|. With |exact|, none when the system has no
// such face (the font mapper would answer with another one).
ScopedFont MakeFaceFont(HDC dc, const std::wstring& face, LONG weight, bool exact) {
  LOGFONTW font = {};
  font.lfHeight = -12;
  font.lfWeight = weight;
  font.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  ScopedFont made(::CreateFontIndirectW(&font));
  if (exact && made.IsValid() && _wcsicmp(FaceOfFont(dc, made.Get()).c_str(), font.lfFaceName) != 0)
    made.Reset(nullptr);
  return made;
}

struct RunFormat {
  std::wstring face;
  LONG weight = FW_NORMAL;
};

RunFormat FormatAt(HWND rich_edit, LONG position) {
  CHARRANGE range = {position, position + 1};
  ::SendMessageW(rich_edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  ::SendMessageW(rich_edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  RunFormat run;
  run.face = format.szFaceName;
  run.weight =
      format.wWeight ? format.wWeight : ((format.dwEffects & CFE_BOLD) ? FW_BOLD : FW_NORMAL);
  return run;
}

std::vector<std::wstring> ReadLinkedFaces(const std::wstring& face) {
  std::vector<std::wstring> faces = SystemLinkFaces(face);
  if (!faces.empty())
    return faces;
  wchar_t substitute[LF_FACESIZE + 8] = {};
  DWORD size = sizeof(substitute);
  const std::wstring key = std::wstring(kFontsKey) + L"FontSubstitutes";
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), face.c_str(), RRF_RT_REG_SZ, nullptr,
                     substitute, &size) != ERROR_SUCCESS) {
    return faces;
  }
  // "Face,charset" names a character set too.
  const std::wstring name(substitute);
  return SystemLinkFaces(name.substr(0, name.find(L',')));
}

}  // namespace

std::vector<std::wstring> LinkedFacesOf(const std::wstring& face) {
  // GDI reads the links once, when the process first draws text: a later
  // change of the key (the emulator rewrites some faces' links when it
  // renews its font information) reaches only processes started after it.
  // The first answer for each face is kept, so that this follows what GDI
  // really draws with.
  static base::Lock lock;
  static std::map<std::wstring, std::vector<std::wstring>> known;
  base::AutoLock hold(lock);
  auto found = known.find(face);
  if (found == known.end())
    found = known.emplace(face, ReadLinkedFaces(face)).first;
  return found->second;
}

bool IsInvisibleCharacter(wchar_t c) {
  return c < 0x20 || (c >= 0x200B && c <= 0x200F) || c == 0x2060 || c == 0xFEFF;
}

std::wstring CharactersWithoutGlyph(HDC dc, HFONT font, const std::wstring& text) {
  std::wstring distinct;
  for (wchar_t c : text) {
    if (!IsInvisibleCharacter(c) && distinct.find(c) == std::wstring::npos)
      distinct.push_back(c);
  }
  if (distinct.empty())
    return distinct;
  HGDIOBJ previous = ::SelectObject(dc, font);
  std::vector<WORD> glyphs(distinct.size());
  const DWORD done = ::GetGlyphIndicesW(dc, distinct.c_str(), static_cast<int>(distinct.size()),
                                        glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
  ::SelectObject(dc, previous);
  if (done == GDI_ERROR)
    return distinct;
  std::wstring missing;
  for (size_t i = 0; i < distinct.size(); ++i) {
    if (glyphs[i] == 0xFFFF)
      missing.push_back(distinct[i]);
  }
  return missing;
}

void BindRichEditFontsToLinkedFaces(HWND rich_edit) {
  GETTEXTLENGTHEX length_query = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  const LONG length = static_cast<LONG>(
      ::SendMessageW(rich_edit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length_query), 0));
  if (length <= 0)
    return;
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  TEXTRANGEW all = {{0, length}, text.data()};
  text.resize(static_cast<size_t>(
      ::SendMessageW(rich_edit, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&all))));

  HDC dc = ::GetDC(rich_edit);
  CHARRANGE saved = {};
  ::SendMessageW(rich_edit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&saved));
  {
    // One face and weight for the whole text, which has all its letters
    // (the common case, at every start): nothing to look at letter by
    // letter.
    CHARRANGE everything = {0, -1};
    ::SendMessageW(rich_edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&everything));
    CHARFORMAT2W whole = {};
    whole.cbSize = sizeof(whole);
    ::SendMessageW(rich_edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&whole));
    if ((whole.dwMask & CFM_FACE) && (whole.dwMask & CFM_WEIGHT)) {
      ScopedFont font =
          MakeFaceFont(dc, whole.szFaceName, whole.wWeight ? whole.wWeight : FW_NORMAL, false);
      if (font.IsValid() && CharactersWithoutGlyph(dc, font.Get(), text).empty()) {
        ::SendMessageW(rich_edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&saved));
        ::ReleaseDC(rich_edit, dc);
        return;
      }
    }
  }
  // Most texts have every letter in the run's font: one look per format.
  std::map<std::pair<std::wstring, LONG>, std::wstring> missing_by_format;
  struct Pending {
    LONG start;
    LONG end;
    RunFormat format;
  };
  std::vector<Pending> runs;
  for (LONG i = 0; i < static_cast<LONG>(text.size()); ++i) {
    const wchar_t c = text[static_cast<size_t>(i)];
    if (IsInvisibleCharacter(c))
      continue;
    const RunFormat format = FormatAt(rich_edit, i);
    auto key = std::make_pair(format.face, format.weight);
    auto found = missing_by_format.find(key);
    if (found == missing_by_format.end()) {
      ScopedFont font = MakeFaceFont(dc, format.face, format.weight, false);
      found = missing_by_format
                  .emplace(key, font.IsValid() ? CharactersWithoutGlyph(dc, font.Get(), text)
                                               : std::wstring())
                  .first;
    }
    if (found->second.find(c) == std::wstring::npos)
      continue;
    if (!runs.empty() && runs.back().end == i && runs.back().format.face == format.face &&
        runs.back().format.weight == format.weight) {
      runs.back().end = i + 1;
    } else {
      runs.push_back({i, i + 1, format});
    }
  }
  for (const Pending& run : runs) {
    const std::wstring letters =
        text.substr(static_cast<size_t>(run.start), static_cast<size_t>(run.end - run.start));
    ScopedFont base = MakeFaceFont(dc, run.format.face, run.format.weight, false);
    const std::vector<std::wstring> links =
        LinkedFacesOf(base.IsValid() ? FaceOfFont(dc, base.Get()) : run.format.face);
    for (const std::wstring& face : links) {
      ScopedFont linked = MakeFaceFont(dc, face, run.format.weight, true);
      if (!linked.IsValid() || !CharactersWithoutGlyph(dc, linked.Get(), letters).empty())
        continue;
      CHARRANGE range = {run.start, run.end};
      ::SendMessageW(rich_edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
      CHARFORMAT2W format = {};
      format.cbSize = sizeof(format);
      format.dwMask = CFM_FACE;
      wcsncpy(format.szFaceName, face.c_str(), LF_FACESIZE - 1);
      ::SendMessageW(rich_edit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
      break;
    }
  }
  ::SendMessageW(rich_edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&saved));
  ::ReleaseDC(rich_edit, dc);
}

}  // namespace installer
