#pragma once
// The one drawing surface: the inner area of the picture box, 423 x 316 device pixels unless the
// picture is asked to be of another size, kept as an RGB raster. Pixel operations use device
// pixels; text positions use a 640 x 480 user scale laid over the whole picture, and the font
// keeps its size relative to the picture's height.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QString>

class PictureSurface {
 public:
  static constexpr int kWidth = 423;
  static constexpr int kHeight = 316;
  static constexpr double kUserWidth = 640;
  static constexpr double kUserHeight = 480;
  /// The window system's default face colour, (240, 240, 240), in red-low-byte form.
  static constexpr uint32_t kFaceColour = 0xF0F0F0;
  static constexpr uint32_t kRed = 0x0000FF;    // QBColor(12)
  static constexpr uint32_t kBlack = 0x000000;  // QBColor(0)

  PictureSurface();

  /// Makes the raster `width` x `height` (cleared as by Cls) where it is not that size already.
  void Resize(int width, int height);
  int width() const { return image_.width(); }
  int height() const { return image_.height(); }
  /// Fills the area with the face colour and moves the print position to (0, 0).
  void Cls();
  /// Sets one pixel; `colour` is red + 256 x green + 65536 x blue. Outside the area: ignored.
  void SetPixel(int x, int y, uint32_t colour);
  /// Row `y` of the raster for setting many pixels at once (0xFFRRGGBB words); null outside.
  uint32_t* Row(int y);

  void SetForeColor(uint32_t colour) { fore_colour_ = colour; }
  void SetCurrentX(double x) { current_x_ = x; }
  void SetCurrentY(double y) { current_y_ = y; }
  double CurrentX() const { return current_x_; }
  double CurrentY() const { return current_y_; }
  /// Draws `text` with its top-left corner at the print position, in the fore colour, leaving the
  /// pixels between the glyphs as they are; then moves the position to the start of the next line.
  void Print(const QString& text);

  /// Writes the raster as a Windows BMP (24 bits), replacing any earlier file.
  bool SavePicture(const std::string& path) const;

  const QImage& Image() const { return image_; }
  /// Takes the raster drawn on `drawn`, which gets this one's in exchange, and tells the listener:
  /// a picture drawn apart, while this one was still shown, is shown at once and whole.
  void TakeRaster(PictureSurface& drawn);
  /// Shows `image` again (an earlier picture, kept as a shallow copy), from the print position (0, 0).
  void ShowAgain(const QImage& image);
  /// Called after every change of the raster, so that a window can repaint.
  void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }
  /// Tells the listener that a run of changes made through Row() is complete.
  void Changed() const;

  /// Bold MS Gothic at 20.25 points (27 pixels at 96 dots per inch on the design's 316 rows; in
  /// proportion on a picture of `height` rows), else IPA Gothic, else any monospace face.
  static QFont LetteringFont(int height = kHeight);

 private:
  QImage image_;
  uint32_t fore_colour_ = kBlack;
  double current_x_ = 0;
  double current_y_ = 0;
  std::function<void()> listener_;
  // The lettering face, found among the installed fonts at the first Print: finding it costs more
  // than drawing the text.
  std::optional<QFont> font_;
  std::optional<QFontMetrics> metrics_;
};

/// A colour in red-low-byte form as a QImage word.
inline uint32_t ToArgb(uint32_t colour) {
  return 0xFF000000u | ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}
