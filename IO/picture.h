// Conversion of a picture file (JPEG, PNG, GIF, TIFF, BMP) into a BMP file.
#pragma once

// 0 on success; -1 when the source cannot be read as a picture or the target
// cannot be written. A picture whose header declares more pixels than can be
// read is refused unread, with a message saying its size. Nothing is left at
// the target path on failure.
[[nodiscard]] int convert_picture_to_bmp(const char* source_path, const char* target_path);
