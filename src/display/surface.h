// Drawing surfaces for the views: a small interface (filled rectangle, point,
// line, circle, clear, read a pixel) with a recording implementation for tests
// and a raster implementation on a plain RGB buffer that the windows show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ps {

// A colour as red + 256 * green + 65536 * blue. Colours painted on the views
// carry the palette-relative flag kPaletteFlag; drawing ignores the top byte.
using Colour = uint32_t;
inline constexpr Colour kPaletteFlag = 0x02000000;

// Components are clamped to 0..255 (above 255 shows as 255).
constexpr Colour Rgb(long long r, long long g, long long b) {
  auto c = [](long long v) -> Colour { return static_cast<Colour>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  return c(r) + 256u * c(g) + 65536u * c(b);
}
constexpr int RedOf(Colour c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(Colour c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(Colour c) { return static_cast<int>((c >> 16) & 0xFF); }
constexpr Colour StripFlag(Colour c) { return c & 0x00FFFFFFu; }

class Surface {
 public:
  virtual ~Surface() = default;

  virtual int width() const = 0;
  virtual int height() const = 0;
  // New size; the content becomes the background colour.
  virtual void resize(int width, int height) = 0;
  virtual void setBackground(Colour c) = 0;
  virtual Colour background() const = 0;
  // Fills the whole surface with the background colour.
  virtual void clear() = 0;
  // Filled rectangle between two corners, both included (in any order).
  virtual void fillRect(int x1, int y1, int x2, int y2, Colour c) = 0;
  // Points and line ends are rounded to the nearest pixel; parts outside are clipped.
  virtual void point(double x, double y, Colour c) = 0;
  virtual void line(double x1, double y1, double x2, double y2, Colour c) = 0;
  virtual void circle(double cx, double cy, double radius, Colour c) = 0;
  // Colour of a pixel (without flag); the background for a pixel outside.
  virtual Colour pixel(int x, int y) const = 0;
};

// A surface that keeps every drawing call in order, for checking what a drawing
// procedure does. Reading a pixel answers from the recorded fills and points.
class RecordingSurface : public Surface {
 public:
  enum class Kind { Clear, FillRect, Point, Line, Circle };
  struct Op {
    Kind kind;
    double x1, y1, x2, y2;  // rectangle corners, point, line ends; circle centre in x1, y1
    double radius;
    Colour colour;
  };

  RecordingSurface(int width = 0, int height = 0) : width_(width), height_(height) {}

  int width() const override { return width_; }
  int height() const override { return height_; }
  void resize(int width, int height) override;
  void setBackground(Colour c) override { background_ = c; }
  Colour background() const override { return background_; }
  void clear() override;
  void fillRect(int x1, int y1, int x2, int y2, Colour c) override;
  void point(double x, double y, Colour c) override;
  void line(double x1, double y1, double x2, double y2, Colour c) override;
  void circle(double cx, double cy, double radius, Colour c) override;
  Colour pixel(int x, int y) const override;

  const std::vector<Op>& ops() const { return ops_; }
  void reset() { ops_.clear(); }
  size_t count(Kind k) const;

 private:
  int width_, height_;
  Colour background_ = 0xFFFFFF;
  std::vector<Op> ops_;
};

// Raster surface on an RGB buffer, three bytes a pixel (red, green, blue), rows
// top to bottom, stride() bytes a row. A window shows it as a QImage over data().
class RasterSurface : public Surface {
 public:
  RasterSurface(int width = 0, int height = 0, Colour background = 0xFFFFFF);

  int width() const override { return width_; }
  int height() const override { return height_; }
  void resize(int width, int height) override;
  void setBackground(Colour c) override { background_ = StripFlag(c); }
  Colour background() const override { return background_; }
  void clear() override;
  void fillRect(int x1, int y1, int x2, int y2, Colour c) override;
  void point(double x, double y, Colour c) override;
  void line(double x1, double y1, double x2, double y2, Colour c) override;
  void circle(double cx, double cy, double radius, Colour c) override;
  Colour pixel(int x, int y) const override;

  // Integer pixel write, clipped.
  void set(int x, int y, Colour c) {
    if (static_cast<unsigned>(x) < static_cast<unsigned>(width_) &&
        static_cast<unsigned>(y) < static_cast<unsigned>(height_)) {
      uint8_t* p = &data_[static_cast<size_t>(y) * stride() + static_cast<size_t>(x) * 3];
      p[0] = static_cast<uint8_t>(c);
      p[1] = static_cast<uint8_t>(c >> 8);
      p[2] = static_cast<uint8_t>(c >> 16);
    }
  }

  const uint8_t* data() const { return data_.data(); }
  uint8_t* data() { return data_.data(); }
  int stride() const { return width_ * 3; }

 private:
  int width_, height_;
  Colour background_;
  std::vector<uint8_t> data_;
};

// Copies a picture pixel for pixel into another surface sized like it.
void CopyPicture(const Surface& from, Surface& to);

// Nearest integer, halves to even.
int RoundHalfEven(double v);

}  // namespace ps
