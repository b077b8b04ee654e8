// The program icon: a shield (blue, darker rim) carrying a white "U", computed
// per pixel with 4 x 4 supersampling so that it is smooth at 16 and 32 pixels.
#include "manager/gui/program_icon.h"

#include <wx/bitmap.h>
#include <wx/icon.h>

#include <algorithm>
#include <cmath>

namespace {

enum Region { kOutside, kRim, kBody, kGlyph };

// Half width of the shield at height v (0 top, 1 bottom), or < 0 outside.
double ShieldHalfWidth(double v) {
  const double top = 0.06, shoulder = 0.55, tip = 0.96;
  if (v < top || v > tip) return -1;
  if (v <= shoulder) return 0.40;
  double t = (v - shoulder) / (tip - shoulder);
  return 0.40 * (1 - t * t);
}

Region Classify(double u, double v) {
  double half = ShieldHalfWidth(v);
  double dx = std::fabs(u - 0.5);
  if (half < 0 || dx > half) return kOutside;
  const double rim = 0.06;
  if (dx > half - rim || v < 0.06 + rim || ShieldHalfWidth(v + rim) < 0 ||
      dx > ShieldHalfWidth(v + rim * 0.8) - rim)
    return kRim;
  // The "U": two bars joined by a half ring.
  const double inner = 0.08, outer = 0.21, bowl = 0.50;
  if (v >= 0.20 && v <= bowl && dx >= inner && dx <= outer) return kGlyph;
  if (v > bowl) {
    double r = std::hypot(u - 0.5, v - bowl);
    if (r >= inner && r <= outer) return kGlyph;
  }
  return kBody;
}

}  // namespace

wxImage ProgramIconImage(int size) {
  wxImage image(size, size);
  image.InitAlpha();
  const int kSub = 4;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      double r = 0, g = 0, b = 0;
      int covered = 0;
      for (int sy = 0; sy < kSub; ++sy) {
        for (int sx = 0; sx < kSub; ++sx) {
          double u = (x + (sx + 0.5) / kSub) / size;
          double v = (y + (sy + 0.5) / kSub) / size;
          Region region = Classify(u, v);
          if (region == kOutside) continue;
          ++covered;
          if (region == kRim) {
            r += 14; g += 47; b += 102;
          } else if (region == kGlyph) {
            r += 255; g += 255; b += 255;
          } else {  // body: lighter at the top
            r += 47 - 24 * v; g += 123 - 49 * v; b += 216 - 62 * v;
          }
        }
      }
      if (covered == 0) {
        image.SetRGB(x, y, 0, 0, 0);
        image.SetAlpha(x, y, 0);
        continue;
      }
      image.SetRGB(x, y, static_cast<unsigned char>(r / covered),
                   static_cast<unsigned char>(g / covered), static_cast<unsigned char>(b / covered));
      image.SetAlpha(x, y, static_cast<unsigned char>(std::min(255, covered * 255 / (kSub * kSub))));
    }
  }
  return image;
}

wxIconBundle ProgramIcons() {
  wxIconBundle icons;
  for (int size : {32, 16}) {
    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(ProgramIconImage(size)));
    icons.AddIcon(icon);
  }
  return icons;
}
