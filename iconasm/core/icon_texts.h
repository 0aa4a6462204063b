// Text ids of the icon program (the table is iconasm/texts.inc).
#pragma once

enum IconTextId : int {
  k_txt_unsupported = 7000,     // "File\n%s\nis not a supported graphic format."
  k_txt_unknown_element = 7001,
  k_txt_no_resources = 7002,
  k_txt_no_32_icon = 7003,
  k_txt_colour_count = 7004,
  k_txt_damaged_element = 7005,
  k_txt_damaged_file = 7006,
  k_txt_undecodable_element = 7007,
  k_txt_too_large = 7008,
  k_txt_open_error = 1385,      // shared: "Error opening file\n%s."
  k_txt_overwrite = 1061,       // shared: the overwrite question
};
