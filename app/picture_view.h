#pragma once
// Picture1 on screen: the picture surface inside a two-pixel sunken border, scaled to fit where
// the picture is of another size than the box.

#include <QFrame>

#include "display/picture_surface.h"

class PictureView : public QFrame {
 public:
  PictureView(PictureSurface& surface, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PictureSurface& surface_;
};
