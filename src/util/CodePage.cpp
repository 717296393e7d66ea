#include "util/CodePage.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <mutex>
#include <vector>

namespace zarn {
namespace {

std::mutex g_codeSetMutex;
std::string g_override;

std::string LocaleCodeSet() {
  static const std::string codeSet = [] {
    // The launcher works in the user's locale; the C locale would report ASCII.
    const char* previous = std::setlocale(LC_CTYPE, nullptr);
    std::string saved = previous ? previous : "C";
    if (saved == "C" || saved == "POSIX") std::setlocale(LC_CTYPE, "");
    const char* name = nl_langinfo(CODESET);
    std::string result = (name && *name) ? name : "UTF-8";
    if (result == "ANSI_X3.4-1968" || result == "ASCII") result = "UTF-8";
    return result;
  }();
  return codeSet;
}

bool IsUtf8Name(const std::string& name) {
  std::string n;
  for (char c : name)
    if (c != '-' && c != '_') n += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return n == "UTF8";
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the well-formed UTF-8 sequence at s[pos], or 0 when it is not one.
size_t Utf8SequenceLength(std::string_view s, size_t pos) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(pos);
  if (c < 0x80) return 1;
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  if (b(pos + 1) < lo || b(pos + 1) > hi) return 0;
  for (size_t i = 2; i < len; ++i)
    if ((b(pos + i) & 0xC0) != 0x80) return 0;
  return len;
}

// Decodes UTF-8 into code points; each maximal ill-formed part becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view s, bool* lossy) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const size_t len = Utf8SequenceLength(s, i);
    if (len == 0) {
      if (lossy) *lossy = true;
      out += U'\uFFFD';
      // Skip the lead byte and any continuation bytes that belong to the broken sequence.
      ++i;
      while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80 &&
             Utf8SequenceLength(s, i) == 0)
        ++i;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    if (len == 1)
      cp = c;
    else if (len == 2)
      cp = c & 0x1F;
    else if (len == 3)
      cp = c & 0x0F;
    else
      cp = c & 0x07;
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out += cp;
    i += len;
  }
  return out;
}

class Iconv {
 public:
  Iconv(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Encodes one code point in the ANSI code set; false when it has no form there.
bool EncodeAnsi(Iconv& cv, char32_t cp, std::string& out) {
  char in[4];
  std::memcpy(in, &cp, 4);
  char buf[16];
  char* inp = in;
  size_t inLeft = 4;
  char* outp = buf;
  size_t outLeft = sizeof buf;
  iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
  if (iconv(cv.get(), &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1)) return false;
  // Flush any shift state.
  iconv(cv.get(), nullptr, nullptr, &outp, &outLeft);
  out.append(buf, outp - buf);
  return true;
}

}  // namespace

std::string AnsiCodeSet() {
  std::lock_guard lock(g_codeSetMutex);
  return g_override.empty() ? LocaleCodeSet() : g_override;
}

void SetAnsiCodeSet(std::string_view codeSet) {
  std::lock_guard lock(g_codeSetMutex);
  g_override = std::string(codeSet);
}

bool AnsiIsUtf8() { return IsUtf8Name(AnsiCodeSet()); }

std::string Utf8ToAnsi(std::string_view utf8, bool* lossy) {
  if (lossy) *lossy = false;
  const std::u32string cps = DecodeUtf8(utf8, lossy);
  std::string out;
  out.reserve(utf8.size());
  if (AnsiIsUtf8()) {
    for (char32_t cp : cps) AppendUtf8(out, cp);
    return out;
  }
  Iconv cv(AnsiCodeSet(), "UTF-32LE");
  for (char32_t cp : cps) {
    if (cp < 0x80 || !cv.ok() || !EncodeAnsi(cv, cp, out)) {
      if (cp >= 0x80) {
        out += '?';
        if (lossy) *lossy = true;
      } else {
        out += static_cast<char>(cp);
      }
    }
  }
  return out;
}

size_t AnsiCharLength(std::string_view text, size_t pos) {
  if (pos >= text.size()) return 0;
  if (AnsiIsUtf8()) {
    const size_t len = Utf8SequenceLength(text, pos);
    return len == 0 ? 1 : len;
  }
  if (static_cast<unsigned char>(text[pos]) < 0x80) return 1;
  Iconv cv("UTF-32LE", AnsiCodeSet());
  if (!cv.ok()) return 1;
  for (size_t len = 1; len <= 4 && pos + len <= text.size(); ++len) {
    char* inp = const_cast<char*>(text.data() + pos);
    size_t inLeft = len;
    char buf[16];
    char* outp = buf;
    size_t outLeft = sizeof buf;
    iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
    const size_t r = iconv(cv.get(), &inp, &inLeft, &outp, &outLeft);
    if (r != static_cast<size_t>(-1) && inLeft == 0 && outp != buf) return len;
    if (r == static_cast<size_t>(-1) && errno == EILSEQ) return 1;
  }
  return 1;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() * 3 / 2);
  if (AnsiIsUtf8()) {
    for (char32_t cp : DecodeUtf8(ansi, nullptr)) AppendUtf8(out, cp);
    return out;
  }
  Iconv cv("UTF-32LE", AnsiCodeSet());
  size_t pos = 0;
  while (pos < ansi.size()) {
    const unsigned char c = static_cast<unsigned char>(ansi[pos]);
    if (c < 0x80 || !cv.ok()) {
      AppendUtf8(out, c < 0x80 ? c : 0xFFFD);
      ++pos;
      continue;
    }
    const size_t len = AnsiCharLength(ansi, pos);
    char* inp = const_cast<char*>(ansi.data() + pos);
    size_t inLeft = len;
    char32_t cp[4] = {};
    char* outp = reinterpret_cast<char*>(cp);
    size_t outLeft = sizeof cp;
    iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
    if (iconv(cv.get(), &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) ||
        outp == reinterpret_cast<char*>(cp)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      for (char32_t* p = cp; reinterpret_cast<char*>(p) < outp; ++p) AppendUtf8(out, *p);
    }
    pos += len;
  }
  return out;
}

std::string CutAnsi(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t len = AnsiCharLength(text, pos);
    if (pos + len > maxBytes) break;
    pos += len;
  }
  return std::string(text.substr(0, pos));
}

std::string CutUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t len = Utf8SequenceLength(text, pos);
    if (len == 0) len = 1;
    if (pos + len > maxBytes) break;
    pos += len;
  }
  return std::string(text.substr(0, pos));
}

}  // namespace zarn
