#include "image_io.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace fpgen {

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool ends_with(const std::string &s, const char *suffix)
{
    const size_t n = std::strlen(suffix);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = s[s.size() - n + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

bool write_bytes(const std::string &path, const std::string &header, const uint8_t *data, size_t size,
                 std::string &error)
{
    FILE *raw = std::fopen(path.c_str(), "wb");
    if (!raw) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    File f(raw);
    const bool ok = std::fwrite(header.data(), 1, header.size(), f.get()) == header.size() &&
                    std::fwrite(data, 1, size, f.get()) == size;
    const bool closed = std::fclose(f.release()) == 0;
    if (!ok || !closed) {
        error = path + ": write failed";
        return false;
    }
    return true;
}

} // namespace

bool write_pgm(const std::string &path, const Image &img, std::string &error)
{
    const std::string header = "P5\n" + std::to_string(img.width) + " " + std::to_string(img.height) + "\n255\n";
    return write_bytes(path, header, img.pixels.data(), img.pixels.size(), error);
}

bool write_raw_frame(const std::string &path, const Frame &frame, std::string &error)
{
    return write_bytes(path, std::string(), frame.data(), frame.size(), error);
}

bool write_png(const std::string &path, const Image &img, std::string &error)
{
    FILE *raw = std::fopen(path.c_str(), "wb");
    if (!raw) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    File f(raw);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        error = path + ": out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = path + ": PNG encoding failed";
        return false;
    }
    png_init_io(png, f.get());
    png_set_IHDR(png, info, static_cast<png_uint_32>(img.width), static_cast<png_uint_32>(img.height), 8,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < img.height; ++y)
        png_write_row(png, img.pixels.data() + static_cast<size_t>(y) * img.width);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(f.release()) != 0) {
        error = path + ": write failed";
        return false;
    }
    return true;
}

bool write_image(const std::string &path, const Image &img, std::string &error)
{
    if (ends_with(path, ".png"))
        return write_png(path, img, error);
    return write_pgm(path, img, error);
}

} // namespace fpgen
