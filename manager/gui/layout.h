// Dialog-unit layout: the manager's dialogs are laid out in dialog units, a
// quarter of the average character width and an eighth of the character
// height of the dialog's own font, so that they scale with that font.
#pragma once

#include <wx/dialog.h>
#include <wx/font.h>
#include <wx/gdicmn.h>

// The font of every manager dialog. The CJK face is the one the set-up
// installs, so that layouts and text extents are the same on every machine.
wxFont DialogFont();

class DialogUnits {
 public:
  // Measures the base units with the window's current font.
  explicit DialogUnits(const wxWindow* window);

  int X(int du) const;
  int Y(int du) const;
  // A rectangle given as left, top, width, height in dialog units; its edges
  // are converted one by one (as the templates' rectangles are), so adjacent
  // controls never overlap by a rounding pixel.
  wxRect Rect(int x, int y, int width, int height) const;
  wxSize Size(int width, int height) const;
  wxSize Base() const { return base_; }

 private:
  wxSize base_;  // average character width and character height, in pixels
};

// Sets the dialog font and then the client size in dialog units: the order
// matters, the units depend on the font.
void SetDialogLayout(wxDialog* dialog, int widthDu, int heightDu);
