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
  k_txt_overwrite = 7199,       // "File\n%s\nexists already.\nDo you want to overwrite it?"
  // The one message of a read: the file, then one line for each thing met.
  k_txt_report_file = 7200,
  k_txt_report_damaged = 7201,
  k_txt_report_skipped1 = 7202,
  k_txt_report_skipped = 7203,
  k_txt_report_unknown1 = 7204,
  k_txt_report_unknown = 7205,
  k_txt_report_compressed1 = 7206,
  k_txt_report_compressed = 7207,
  k_txt_report_jpeg2000_1 = 7208,
  k_txt_report_jpeg2000 = 7209,
  k_txt_report_families = 7210,
  k_txt_report_no_resources = 7211,
  k_txt_report_past_cap = 7212,
  k_txt_report_too_large = 7213,
  k_txt_write_failed = 7214,
  k_txt_mail_address = 7215,
  k_txt_web_address = 7216,
  k_txt_support_address = 7217,
  k_txt_no_opener = 7218,
  k_txt_report_odd_size1 = 7219,
  k_txt_report_odd_size = 7220,
  k_txt_report_only_larger = 7221,
  k_txt_report_oversize = 7222,
  k_txt_report_oversize_more = 7223,
  // Where an oversize picture was met (one string argument).
  k_txt_where_element = 7224,
  k_txt_where_image = 7225,
  k_txt_where_resource = 7226,
  k_txt_where_bitmap = 7227,
  k_txt_nothing_to_save = 7228,
  k_txt_open_error = 1385,      // shared: "Error opening file\n%s."
  k_txt_help_tooltip = 2329,    // shared: the help button's tooltip
};
