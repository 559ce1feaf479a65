// Writes captured frames: the 12-bit samples unchanged in a 16-bit image, and
// an 8-bit preview stretched over the frame's own range.
#pragma once

#include <cstdint>
#include <string>

enum class ImageFormat { Pgm, Png };

// The format a file name asks for (".pgm" or ".png", any case); false for
// anything else.
bool imageFormatOf(const std::string &path, ImageFormat &format);

// The name of frame `index` (from 1) of `count`: the path itself for a
// single frame, else "-<index>" before the extension. The preview adds
// ".preview" before the extension.
std::string framePath(const std::string &path, int index, int count, bool preview);

// 96 x 96 samples; false (errno set) when the file cannot be written.
bool writeFrame16(const std::string &path, ImageFormat format, const uint16_t *samples);
bool writePreview8(const std::string &path, ImageFormat format, const uint16_t *samples);
