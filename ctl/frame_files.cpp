// PGM (binary, maxval 4095 or 255) and PNG (16-bit gray with 12 significant
// bits, or 8-bit gray) files of 96 x 96 frames.
#include "ctl/frame_files.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <strings.h>
#include <vector>

#include "protocol/sensor_frames.h"

namespace {

struct FileClose {
    void operator()(FILE *f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileClose>;

size_t extensionAt(const std::string &path)
{
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path.size();
    return dot;
}

// rows: side x side samples of `bytes` bytes each, big-endian as both formats want.
bool writeGray(const std::string &path, ImageFormat format, const std::vector<uint8_t> &rows, int bytes, int maxval)
{
    FILE *raw = fopen(path.c_str(), "wb");
    if (!raw)
        return false;
    FilePtr f(raw);
    const int side = VL_IMG_SIDE;
    if (format == ImageFormat::Pgm) {
        if (fprintf(f.get(), "P5\n%d %d\n%d\n", side, side, maxval) < 0 ||
            fwrite(rows.data(), 1, rows.size(), f.get()) != rows.size())
            return false;
        return fflush(f.get()) == 0;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        errno = EIO;
        return false;
    }
    png_init_io(png, f.get());
    png_set_IHDR(png, info, side, side, bytes * 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (bytes == 2) {
        // The samples stay as the sensor sent them; sBIT tells viewers that
        // only 12 of the 16 bits carry data.
        png_color_8 sig{};
        sig.gray = 12;
        png_set_sBIT(png, info, &sig);
    }
    png_write_info(png, info);
    for (int y = 0; y < side; ++y)
        png_write_row(png, rows.data() + static_cast<size_t>(y) * side * bytes);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return fflush(f.get()) == 0;
}

} // namespace

bool imageFormatOf(const std::string &path, ImageFormat &format)
{
    const size_t at = extensionAt(path);
    const std::string ext = path.substr(at);
    if (strcasecmp(ext.c_str(), ".pgm") == 0)
        format = ImageFormat::Pgm;
    else if (strcasecmp(ext.c_str(), ".png") == 0)
        format = ImageFormat::Png;
    else
        return false;
    return true;
}

std::string framePath(const std::string &path, int index, int count, bool preview)
{
    const size_t at = extensionAt(path);
    std::string name = path.substr(0, at);
    if (count > 1)
        name += "-" + std::to_string(index);
    if (preview)
        name += ".preview";
    return name + path.substr(at);
}

bool writeFrame16(const std::string &path, ImageFormat format, const uint16_t *samples)
{
    std::vector<uint8_t> rows(VL_IMG_PIXELS * 2);
    for (int i = 0; i < VL_IMG_PIXELS; ++i) {
        rows[2 * i] = static_cast<uint8_t>(samples[i] >> 8);
        rows[2 * i + 1] = static_cast<uint8_t>(samples[i] & 0xFF);
    }
    return writeGray(path, format, rows, 2, 4095);
}

bool writePreview8(const std::string &path, ImageFormat format, const uint16_t *samples)
{
    const int lo = *std::min_element(samples, samples + VL_IMG_PIXELS);
    const int hi = *std::max_element(samples, samples + VL_IMG_PIXELS);
    const int span = std::max(1, hi - lo);
    std::vector<uint8_t> rows(VL_IMG_PIXELS);
    for (int i = 0; i < VL_IMG_PIXELS; ++i)
        rows[i] = static_cast<uint8_t>((samples[i] - lo) * 255 / span);
    return writeGray(path, format, rows, 1, 255);
}
