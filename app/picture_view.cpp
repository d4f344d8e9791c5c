#include "app/picture_view.h"

#include <QPainter>

PictureView::PictureView(PictureSurface& surface, QWidget* parent) : QFrame(parent), surface_(surface) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(2);
  surface_.SetChangeListener([this] { update(); });
}

void PictureView::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  painter.drawImage(contentsRect().topLeft(), surface_.Image());
}
