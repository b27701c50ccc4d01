// The fonts Windows takes a glyph from when a font lacks it: the entries of
// FontLink\SystemLink for the font's face ("file,face" in the order they
// are tried), and rich-edit text bound to them where its own font has no
// glyph.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_SYSTEM_FONT_LINKS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_SYSTEM_FONT_LINKS_H_

#include <windows.h>

#include <string>
#include <vector>

namespace installer {

// The faces linked to |face|, else to the face it is a substitute for
// (FontSubstitutes: "MS Shell Dlg" for "Tahoma"); empty without links.
std::vector<std::wstring> LinkedFacesOf(const std::wstring& face);

// Characters that take no glyph of their own: line breaks, tabs and the
// joiners some scripts put between letters.
bool IsInvisibleCharacter(wchar_t c);

// The characters of |text| (each once) that |font| has no glyph for,
// invisible ones left out.
std::wstring CharactersWithoutGlyph(HDC dc, HFONT font, const std::wstring& text);

// A rich edit draws each run in its run's font and, where the control does
// no font binding of its own, draws a box for every letter that font lacks
// instead of taking it from the linked fonts as other controls do. Gives
// each run of such letters the first linked face that has them all.
void BindRichEditFontsToLinkedFaces(HWND rich_edit);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_SYSTEM_FONT_LINKS_H_
