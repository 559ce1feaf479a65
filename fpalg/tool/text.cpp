#include "text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>

namespace fpalg_tool {
namespace {

constexpr const char *kRegular = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char *kBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// Next code point of UTF-8 `s` from i; a malformed byte stands for itself.
char32_t next_code_point(const std::string &s, std::size_t &i) {
    const unsigned char c = static_cast<unsigned char>(s[i++]);
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    char32_t cp = extra == 3 ? c & 0x07 : extra == 2 ? c & 0x0F : extra == 1 ? c & 0x1F : c;
    for (; extra > 0 && i < s.size(); --extra) {
        const unsigned char d = static_cast<unsigned char>(s[i]);
        if ((d & 0xC0) != 0x80) break;
        cp = (cp << 6) | (d & 0x3F);
        ++i;
    }
    return cp;
}

}  // namespace

struct Font::Library {
    FT_Library ft = nullptr;
    Library() {
        if (FT_Init_FreeType(&ft) != 0) ft = nullptr;
    }
    ~Library() {
        if (ft) FT_Done_FreeType(ft);
    }
};

Font::Font(bool bold, int px) : lib_(std::make_shared<Library>()), px_(px) {
    FT_Face face = nullptr;
    const char *path = bold ? kBold : kRegular;
    if (!lib_->ft || FT_New_Face(lib_->ft, path, 0, &face) != 0) {
        std::fprintf(stderr, "vorl2547-fpalg: cannot load the font %s (package fonts-dejavu-core)\n", path);
        return;
    }
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(px));
    face_ = face;
}

Font::~Font() {
    if (face_) FT_Done_Face(static_cast<FT_Face>(face_));
}

int Font::draw(PngCanvas &c, int x, int y, const std::string &text, Rgb colour) const {
    return advance(&c, x, y, text, colour);
}

int Font::width(const std::string &text) const { return advance(nullptr, 0, 0, text, Rgb{0, 0, 0}); }

int Font::advance(PngCanvas *c, int x, int y, const std::string &text, Rgb colour) const {
    if (!face_) return x;
    const FT_Face face = static_cast<FT_Face>(face_);
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = next_code_point(text, i);
        if (FT_Load_Char(face, cp, c ? FT_LOAD_RENDER : FT_LOAD_DEFAULT) != 0) continue;
        const FT_GlyphSlot g = face->glyph;
        if (c) {
            const FT_Bitmap &b = g->bitmap;
            for (unsigned r = 0; r < b.rows; ++r)
                for (unsigned col = 0; col < b.width; ++col)
                    c->blend(y - g->bitmap_top + static_cast<int>(r), x + g->bitmap_left + static_cast<int>(col),
                             colour, b.buffer[r * b.pitch + col]);
        }
        x += static_cast<int>(g->advance.x >> 6);
    }
    return x;
}

}  // namespace fpalg_tool
