// Operations on one picture: quarter turns and flips, colour counting, alpha
// premultiplication, depth conversion and mask making.
#pragma once

#include "iconasm/core/icon_family.h"

enum ImageTurn { k_turn_180, k_turn_right, k_turn_left, k_flip_horizontal, k_flip_vertical };
// Quarter turns of a non-square picture swap its width and height.
IconImage transform_image(const IconImage& img, ImageTurn turn);

int count_colours(const IconImage& img);  // distinct red/green/blue values

IconImage premultiply_alpha(const IconImage& img);
IconImage unpremultiply_alpha(const IconImage& img);  // clamped to 255

// The picture in the given depth code (1, 2 = 4-bit, 3 = 8-bit, 7 = 32-bit),
// through the Macintosh colour tables; alpha kept for 32-bit only.
IconImage convert_depth(const IconImage& img, int code);

// Makes the mask of an icon slot into its mask slot: black where the icon is
// opaque (alpha 128 and above for 32-bit pictures, any non-white pixel else),
// mark 1. Nothing when the icon slot is empty.
void create_mask(IconFamily& f, int icon_slot, int mask_slot);
// The rows 16 x 12, 16, 32 and 48.
void create_all_masks(IconFamily& f);
