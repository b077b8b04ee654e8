// Dialog units from the dialog font's metrics.
#include "manager/gui/layout.h"

#include <wx/window.h>

namespace {

// Rounds du * base / divisor to the nearest integer (halves away from zero).
int Scale(int du, int base, int divisor) {
  long long product = static_cast<long long>(du) * base;
  long long half = divisor / 2;
  return static_cast<int>(product >= 0 ? (product + half) / divisor : -((-product + half) / divisor));
}

}  // namespace

wxFont DialogFont() {
  return wxFont(wxFontInfo(9).FaceName("WenQuanYi Micro Hei"));
}

DialogUnits::DialogUnits(const wxWindow* window) {
  // The average width is taken over the 52 Latin letters, rounded to the
  // nearest pixel; the height is the font's full character height.
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  int width = 0, height = 0;
  window->GetTextExtent(kLetters, &width, &height);
  base_.x = (width / 26 + 1) / 2;
  base_.y = height;
  if (base_.x <= 0) base_.x = 1;
  if (base_.y <= 0) base_.y = 1;
}

int DialogUnits::X(int du) const { return Scale(du, base_.x, 4); }
int DialogUnits::Y(int du) const { return Scale(du, base_.y, 8); }

wxRect DialogUnits::Rect(int x, int y, int width, int height) const {
  int left = X(x), top = Y(y);
  return wxRect(left, top, X(x + width) - left, Y(y + height) - top);
}

wxSize DialogUnits::Size(int width, int height) const { return wxSize(X(width), Y(height)); }

void SetDialogLayout(wxDialog* dialog, int widthDu, int heightDu) {
  dialog->SetFont(DialogFont());
  DialogUnits units(dialog);
  dialog->SetClientSize(units.Size(widthDu, heightDu));
}
