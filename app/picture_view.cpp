#include "app/picture_view.h"

#include <QImage>
#include <QPainter>

PictureView::PictureView(PictureSurface& surface, QWidget* parent) : QFrame(parent), surface_(surface) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(2);
  surface_.SetChangeListener([this] { update(); });
}

void PictureView::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  const QImage& image = surface_.Image();
  const QRect box = contentsRect();
  if (image.size() == box.size()) {
    painter.drawImage(box.topLeft(), image);
    return;
  }
  // A picture of another size than the box (--picture) is shown whole, scaled to fit.
  const QSize shown = image.size().scaled(box.size(), Qt::KeepAspectRatio);
  const QRect target(box.topLeft() + QPoint((box.width() - shown.width()) / 2, (box.height() - shown.height()) / 2), shown);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, image);
}
