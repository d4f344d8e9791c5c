#include "display/picture_surface.h"

#include <QColor>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

PictureSurface::PictureSurface() : image_(kWidth, kHeight, QImage::Format_RGB32) { Cls(); }

void PictureSurface::Resize(int width, int height) {
  if (width == image_.width() && height == image_.height()) return;
  image_ = QImage(width, height, QImage::Format_RGB32);
  font_.reset();  // its size follows the picture's height
  metrics_.reset();
  Cls();
}

void PictureSurface::TakeRaster(PictureSurface& drawn) {
  if (drawn.image_.size() != image_.size()) {
    font_.reset();  // its size follows the picture's height
    metrics_.reset();
  }
  image_.swap(drawn.image_);
  current_x_ = drawn.current_x_;
  current_y_ = drawn.current_y_;
  Changed();
}

void PictureSurface::ShowAgain(const QImage& image) {
  if (image.size() != image_.size()) {
    font_.reset();
    metrics_.reset();
  }
  image_ = image;
  current_x_ = 0;
  current_y_ = 0;
  Changed();
}

void PictureSurface::Cls() {
  image_.fill(QColor::fromRgb(ToArgb(kFaceColour)));
  current_x_ = 0;
  current_y_ = 0;
  Changed();
}

void PictureSurface::SetPixel(int x, int y, uint32_t colour) {
  if (x < 0 || y < 0 || x >= width() || y >= height()) return;
  Row(y)[x] = ToArgb(colour);
  Changed();
}

uint32_t* PictureSurface::Row(int y) {
  if (y < 0 || y >= height()) return nullptr;
  return reinterpret_cast<uint32_t*>(image_.scanLine(y));
}

void PictureSurface::Print(const QString& text) {
  if (!font_) {
    font_ = LetteringFont(height());
    metrics_.emplace(*font_);
  }
  const QFont& font = *font_;
  const QFontMetrics& metrics = *metrics_;
  const double x = current_x_ * width() / kUserWidth;
  const double y = current_y_ * height() / kUserHeight;
  if (!text.isEmpty()) {
    QPainter painter(&image_);
    painter.setFont(font);
    painter.setPen(QColor::fromRgb(ToArgb(fore_colour_)));
    painter.drawText(QPointF(x, y + metrics.ascent()), text);
  }
  current_x_ = 0;
  current_y_ += metrics.height() * kUserHeight / height();
  Changed();
}

bool PictureSurface::SavePicture(const std::string& path) const {
  return image_.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(path), "BMP");
}

void PictureSurface::Changed() const {
  if (listener_) listener_();
}

QFont PictureSurface::LetteringFont(int height) {
  QFont font;
  font.setFamilies({QStringLiteral("MS Gothic"), QString::fromUtf8("ＭＳ ゴシック"),
                    QStringLiteral("IPAGothic"), QString::fromUtf8("IPAゴシック"),
                    QStringLiteral("DejaVu Sans Mono")});
  font.setStyleHint(QFont::Monospace);
  font.setBold(true);
  // 20.25 points at 96 dots per inch on the design's picture, in proportion on another.
  font.setPixelSize(height == kHeight ? 27 : std::max(1, static_cast<int>(std::lround(27.0 * height / kHeight))));
  return font;
}
