// Text on a PngCanvas through FreeType, in the DejaVu fonts Debian ships
// (fonts-dejavu-core).
#pragma once

#include <memory>
#include <string>

#include "png_canvas.h"

namespace fpalg_tool {

class Font {
public:
    // `bold` picks DejaVu Sans Bold; `px` is the em size in pixels.
    Font(bool bold, int px);
    ~Font();
    Font(const Font &) = delete;
    Font &operator=(const Font &) = delete;

    bool ok() const { return face_ != nullptr; }
    // Draws UTF-8 `text` with its baseline at y; returns the x after it.
    int draw(PngCanvas &c, int x, int y, const std::string &text, Rgb colour) const;
    int width(const std::string &text) const;
    int line_height() const { return px_ * 5 / 4; }

private:
    int advance(PngCanvas *c, int x, int y, const std::string &text, Rgb colour) const;
    struct Library;
    std::shared_ptr<Library> lib_;
    void *face_ = nullptr;  // FT_Face
    int px_;
};

}  // namespace fpalg_tool
