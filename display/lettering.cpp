#include "display/lettering.h"

void LetterPicture(PictureSurface& picture, const QString& caption, const QString& stamp,
                   const QString& second_line, const QString& overlay) {
  picture.SetForeColor(PictureSurface::kRed);
  picture.SetCurrentX(5);
  picture.SetCurrentY(5);
  picture.Print(caption);
  if (!second_line.isEmpty()) {
    picture.SetCurrentX(5);
    picture.SetCurrentY(55);
    picture.Print(second_line);
  }
  if (!overlay.isEmpty()) {
    picture.SetCurrentX(5);
    picture.SetCurrentY(105);
    picture.Print(overlay);
  }
  picture.SetCurrentX(200);
  picture.SetCurrentY(435);
  picture.Print(stamp);
  picture.SetForeColor(PictureSurface::kBlack);
}
