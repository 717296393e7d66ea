// The layout record: every position and size of the pages and their controls, read once at
// start-up from "set.json" in the skin folder or from the built-in copy.
#pragma once

#include <cstdint>
#include <string>

namespace zarn {

struct LayoutRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct LayoutPoint {
  int32_t x = 0, y = 0;
};
// A four-value key read as x, y, width, height.
struct LayoutBox {
  int32_t x = 0, y = 0, cx = 0, cy = 0;
};

class CLayoutConfig {
 public:
  LayoutRect WorkClient;
  LayoutRect RegisterClient;
  LayoutPoint btn_close, btn_min, btn_setup, btn_setup_auto, btn_web, btn_recharge, btn_register,
      btn_password, btn_update, btn_windows;
  LayoutBox list_server, URL, combo_server, combo_quality;
  LayoutPoint progress_blue, progress_green, text_path, image_setup, btn_Game;
  std::string http, webUrl;
  LayoutBox edt_reg_account, edt_reg_password1, edt_reg_password2, edt_reg_realname, edt_reg_id, edt_reg_ask,
      edt_reg_ans, edt_reg_email, edt_reg_phone;
  LayoutPoint btn_reg_Agreement, btn_reg_ok, btn_reg_cancel, btn_reg_AgreementText, btn_reg_Close;

  // Fills the record from the skin's "set.json", or from the built-in document when that file is
  // missing, empty or starts with a NUL byte.
  void LoadLayout();
  // The same with another file service (its resource root decides the skin folder).
  void LoadLayout(class CCFileUtils& files);
  // Fills the record from a document text (the same reading rules).
  void LoadFromText(const std::string& text);
};

// The process-wide record, created zero-filled on first use.
CLayoutConfig& GetLayout();
// The built-in layout document.
std::string LoadJsonResource();

// Reads "{%ld,%ld}" / "{%ld,%ld,%ld,%ld}" as sscanf does: fields after the first mismatch keep
// their value. Returns the number of fields read.
int ScanLayoutValues(const char* text, int32_t* values, int count);

}  // namespace zarn
