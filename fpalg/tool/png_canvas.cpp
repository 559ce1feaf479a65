#include "png_canvas.h"

#include <png.h>
#include <cstdio>

namespace fpalg_tool {

void PngCanvas::cell(int oy, int ox, int y, int x, int scale, Rgb c) {
    for (int dy = 0; dy < scale; ++dy)
        for (int dx = 0; dx < scale; ++dx) {
            const int py = oy + y * scale + dy, px = ox + x * scale + dx;
            if (py >= 0 && px >= 0 && py < h_ && px < w_) px_[static_cast<std::size_t>(py) * w_ + px] = c;
        }
}

void PngCanvas::blend(int y, int x, Rgb c, int alpha) {
    if (y < 0 || x < 0 || y >= h_ || x >= w_ || alpha <= 0) return;
    Rgb &p = px_[static_cast<std::size_t>(y) * w_ + x];
    const auto mix = [alpha](std::uint8_t under, std::uint8_t over) {
        return static_cast<std::uint8_t>((under * (255 - alpha) + over * alpha + 127) / 255);
    };
    p = Rgb{mix(p.r, c.r), mix(p.g, c.g), mix(p.b, c.b)};
}

void PngCanvas::fill(int y, int x, int h, int w, Rgb c) {
    for (int dy = 0; dy < h; ++dy)
        for (int dx = 0; dx < w; ++dx) set(y + dy, x + dx, c);
}

bool PngCanvas::write(const std::string &path) const {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w_), static_cast<png_uint_32>(h_), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h_; ++y)
        png_write_row(png, reinterpret_cast<png_const_bytep>(&px_[static_cast<std::size_t>(y) * w_]));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

}  // namespace fpalg_tool
