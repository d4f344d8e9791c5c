#include "display/lettering.h"

void LetterPicture(PictureSurface& picture, const QString& caption, const QString& stamp) {
  picture.SetForeColor(PictureSurface::kRed);
  picture.SetCurrentX(5);
  picture.SetCurrentY(5);
  picture.Print(caption);
  picture.SetCurrentX(200);
  picture.SetCurrentY(435);
  picture.Print(stamp);
  picture.SetForeColor(PictureSurface::kBlack);
}
