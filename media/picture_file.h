// Picture files for the suite's tools and receivers. A picture is the codec's buffer: 320 x 240 pixels
// of blue, green, red bytes, 960 bytes a row, rows in buffer order (the first row is the bottom of the
// scene, as a bottom-up bitmap holds it).
//   .bgr  the raw buffer, exactly 230,400 bytes
//   .ppm  binary PPM (P6, maximum 255), rows top-down: reversed into and out of buffer order
//   .bmp  24-bit uncompressed Windows bitmap; written in the receivers' snapshot layout
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "media/picture_geometry.h"

namespace picture_file {

inline constexpr int kWidth = media::kPictureWidth;
inline constexpr int kHeight = media::kPictureHeight;
inline constexpr size_t kPictureBytes = media::kPictureBytes;
inline constexpr size_t kSnapshotBytes = 230455;  // 54 header bytes and 230,401 bytes of picture buffer

enum class Format { kBgr, kPpm, kBmp, kUnknown };

// The format named by a path's extension, in any letter case.
Format FormatOf(const std::string& path);

// Reads a 320 x 240 picture. On failure returns false and sets *error to a sentence naming the problem.
bool ReadPicture(const std::string& path, std::vector<uint8_t>& picture, std::string* error);
// The picture that a file's bytes hold in the given format; name (the file's) begins the error line.
bool DecodePicture(const std::string& name, Format format, std::span<const uint8_t> bytes,
                   std::vector<uint8_t>* picture, std::string* error);
// Writes a picture (at least 230,400 bytes) in the format of the path's extension.
bool WritePicture(const std::string& path, std::span<const uint8_t> picture, std::string* error);

// The receivers' snapshot file: the 14-byte file header and 40-byte bitmap header (file size field
// 230454, image size field 230401), then 230,401 bytes of the picture buffer, whose last byte follows
// the picture (zero when `buffer` holds only the 230,400 picture bytes).
std::vector<uint8_t> SnapshotBmp(std::span<const uint8_t> buffer);

// Reads or writes a whole file.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string* error);
bool WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes, std::string* error);

// A synthetic test picture: colour bars, grey and colour gradients, checkerboards, lines and a soft disc.
std::vector<uint8_t> BuiltinPicture();

}  // namespace picture_file
