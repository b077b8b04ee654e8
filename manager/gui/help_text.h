// The main dialog's help text and the line breaking that fits it to its
// control (the static control of the dialog breaks long lines, CJK text
// between any two characters).
#pragma once

#include <wx/font.h>
#include <wx/string.h>

// The help text: lines separated by line feeds, ending with a line feed.
wxString ManagerHelpText();

// Breaks every line of `text` so that each piece is at most `width` pixels
// wide in `font`. Latin words are not split unless alone on a line, and a
// closing punctuation mark never starts a line. A final line feed is dropped
// (it would only add an empty line at the bottom).
wxString WrapText(const wxString& text, const wxFont& font, int width);
