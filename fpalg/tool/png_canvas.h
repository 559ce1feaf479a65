// An RGB picture assembled from panels and written as PNG with libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fpalg_tool {

struct Rgb {
    std::uint8_t r, g, b;
};

class PngCanvas {
public:
    PngCanvas(int width, int height)
        : w_(width), h_(height), px_(static_cast<std::size_t>(width) * height, {32, 32, 48}) {}
    int width() const { return w_; }
    int height() const { return h_; }
    // Paints one image pixel as a `scale` x `scale` square at panel origin (oy, ox).
    void cell(int oy, int ox, int y, int x, int scale, Rgb c);
    // One canvas pixel; outside the canvas nothing happens.
    void set(int y, int x, Rgb c) {
        if (y >= 0 && x >= 0 && y < h_ && x < w_) px_[static_cast<std::size_t>(y) * w_ + x] = c;
    }
    // Mixes c into pixel (y, x) with coverage alpha (0..255).
    void blend(int y, int x, Rgb c, int alpha);
    void fill(int y, int x, int h, int w, Rgb c);
    bool write(const std::string &path) const;

private:
    int w_, h_;
    std::vector<Rgb> px_;
};

}  // namespace fpalg_tool
