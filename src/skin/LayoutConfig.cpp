#include "skin/LayoutConfig.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <cctype>
#include <climits>
#include <cstring>

#include "skin/SkinPath.h"
#include "util/Debug.h"
#include "util/FileUtils.h"
#include "util/Json.h"

namespace zarn {
namespace build {
extern const char kBuiltinLayout[];
}

CLayoutConfig& GetLayout() {
  static CLayoutConfig config;  // thread-safe one-time initialisation
  return config;
}

std::string LoadJsonResource() { return build::kBuiltinLayout; }

int ScanLayoutValues(const char* text, int32_t* values, int count) {
  // A literal character of the pattern; white space in front of a number is skipped as %ld does.
  const char* p = text;
  auto literal = [&p](char c) {
    if (*p != c) return false;
    ++p;
    return true;
  };
  if (!literal('{')) return 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && !literal(',')) return i;
    const char* q = p;
    while (std::isspace(static_cast<unsigned char>(*q))) ++q;
    const char* digits = q;
    if (*digits == '+' || *digits == '-') ++digits;
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return i;
    char* end = nullptr;
    long long v = std::strtoll(q, &end, 10);
    // The values are 32-bit longs: an out-of-range number saturates as strtol does there.
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    values[i] = static_cast<int32_t>(v);
    p = end;
  }
  literal('}');
  return count;
}

namespace {

const rapidjson::Value* Member(const rapidjson::Document& doc, const char* name) {
  if (!doc.IsObject()) return nullptr;
  const size_t len = std::strlen(name);
  // The first member of that name wins.
  for (auto it = doc.MemberBegin(); it != doc.MemberEnd(); ++it) {
    if (it->name.IsString() && it->name.GetStringLength() == len &&
        std::memcmp(it->name.GetString(), name, len) == 0)
      return &it->value;
  }
  return nullptr;
}

std::string StringMember(const rapidjson::Document& doc, const char* name) {
  const rapidjson::Value* v = Member(doc, name);
  if (!v || !v->IsString()) return {};
  return std::string(v->GetString(), v->GetStringLength());
}

void Read(const rapidjson::Document& doc, const char* name, int32_t* fields, int count) {
  const rapidjson::Value* v = Member(doc, name);
  if (!v || !v->IsString()) return;
  ScanLayoutValues(v->GetString(), fields, count);
}

void Read(const rapidjson::Document& doc, const char* name, LayoutRect& r) { Read(doc, name, &r.left, 4); }
void Read(const rapidjson::Document& doc, const char* name, LayoutBox& b) { Read(doc, name, &b.x, 4); }
void Read(const rapidjson::Document& doc, const char* name, LayoutPoint& p) { Read(doc, name, &p.x, 2); }

}  // namespace

void CLayoutConfig::LoadLayout() { LoadLayout(*CCFileUtils::sharedFileUtils()); }

void CLayoutConfig::LoadLayout(CCFileUtils& files) {
  std::string text;
  const std::string path = GetSkinPath(files, "set.json");
  if (!path.empty()) {
    size_t size = 0;
    auto data = files.getFileData(path, "rb", &size);
    if (data) text = reinterpret_cast<const char*>(data.get());  // up to the first NUL
  }
  if (text.empty()) text = LoadJsonResource();
  LoadFromText(text);
}

void CLayoutConfig::LoadFromText(const std::string& text) {
  rapidjson::Document doc;
  doc.Parse<kJsonParseFlags>(text.c_str());
  if (doc.HasParseError()) {
    DebugOutput(std::string("set.json: ") + rapidjson::GetParseError_En(doc.GetParseError()) + " at offset " +
                std::to_string(doc.GetErrorOffset()));
  }
  http = StringMember(doc, "http");
  webUrl = StringMember(doc, "webUrl");
  Read(doc, "WorkClient", WorkClient);
  Read(doc, "URL", URL);
  Read(doc, "list_server", list_server);
  Read(doc, "combo_server", combo_server);
  Read(doc, "combo_quality", combo_quality);
  Read(doc, "btn_close", btn_close);
  Read(doc, "btn_min", btn_min);
  Read(doc, "btn_setup", btn_setup);
  Read(doc, "btn_setup_auto", btn_setup_auto);
  Read(doc, "btn_web", btn_web);
  Read(doc, "btn_recharge", btn_recharge);
  Read(doc, "btn_register", btn_register);
  Read(doc, "btn_password", btn_password);
  Read(doc, "btn_update", btn_update);
  Read(doc, "btn_windows", btn_windows);
  Read(doc, "progress_blue", progress_blue);
  Read(doc, "progress_green", progress_green);
  Read(doc, "text_path", text_path);
  Read(doc, "image_setup", image_setup);
  Read(doc, "btn_Game", btn_Game);
  Read(doc, "edt_reg_account", edt_reg_account);
  Read(doc, "edt_reg_password1", edt_reg_password1);
  Read(doc, "edt_reg_password2", edt_reg_password2);
  Read(doc, "edt_reg_realname", edt_reg_realname);
  Read(doc, "edt_reg_id", edt_reg_id);
  Read(doc, "edt_reg_ask", edt_reg_ask);
  Read(doc, "edt_reg_ans", edt_reg_ans);
  Read(doc, "edt_reg_email", edt_reg_email);
  Read(doc, "edt_reg_phone", edt_reg_phone);
  Read(doc, "btn_reg_Agreement", btn_reg_Agreement);
  Read(doc, "btn_reg_ok", btn_reg_ok);
  Read(doc, "btn_reg_cancel", btn_reg_cancel);
  Read(doc, "btn_reg_AgreementText", btn_reg_AgreementText);
  Read(doc, "btn_reg_Close", btn_reg_Close);
  Read(doc, "RegisterClient", RegisterClient);
}

}  // namespace zarn
