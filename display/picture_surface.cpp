#include "display/picture_surface.h"

#include <QColor>
#include <QFontMetrics>
#include <QPainter>

PictureSurface::PictureSurface() : image_(kWidth, kHeight, QImage::Format_RGB32) { Cls(); }

void PictureSurface::Cls() {
  image_.fill(QColor::fromRgb(ToArgb(kFaceColour)));
  current_x_ = 0;
  current_y_ = 0;
  Changed();
}

void PictureSurface::SetPixel(int x, int y, uint32_t colour) {
  if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
  Row(y)[x] = ToArgb(colour);
  Changed();
}

uint32_t* PictureSurface::Row(int y) {
  if (y < 0 || y >= kHeight) return nullptr;
  return reinterpret_cast<uint32_t*>(image_.scanLine(y));
}

void PictureSurface::Print(const QString& text) {
  if (!font_) {
    font_ = LetteringFont();
    metrics_.emplace(*font_);
  }
  const QFont& font = *font_;
  const QFontMetrics& metrics = *metrics_;
  const double x = current_x_ * kWidth / kUserWidth;
  const double y = current_y_ * kHeight / kUserHeight;
  if (!text.isEmpty()) {
    QPainter painter(&image_);
    painter.setFont(font);
    painter.setPen(QColor::fromRgb(ToArgb(fore_colour_)));
    painter.drawText(QPointF(x, y + metrics.ascent()), text);
  }
  current_x_ = 0;
  current_y_ += metrics.height() * kUserHeight / kHeight;
  Changed();
}

bool PictureSurface::SavePicture(const std::string& path) const {
  return image_.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(path), "BMP");
}

void PictureSurface::Changed() const {
  if (listener_) listener_();
}

QFont PictureSurface::LetteringFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Gothic"), QString::fromUtf8("ＭＳ ゴシック"),
                    QStringLiteral("IPAGothic"), QString::fromUtf8("IPAゴシック"),
                    QStringLiteral("DejaVu Sans Mono")});
  font.setStyleHint(QFont::Monospace);
  font.setBold(true);
  font.setPixelSize(27);  // 20.25 points at 96 dots per inch
  return font;
}
