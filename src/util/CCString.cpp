#include "util/CCString.h"

#include "util/CodePage.h"

namespace zarn {
namespace {
uint32_t g_objectCount = 0;
}

CCObject::CCObject() : m_uID(++g_objectCount) {}
CCObject::CCObject(const CCObject&) : m_uID(++g_objectCount) {}

CCString& CCString::assignUtf8(std::string_view utf8) {
  m_sString.clear();
  // Like the C string it stands for, the input ends at its first NUL.
  const size_t nul = utf8.find('\0');
  if (nul != std::string_view::npos) utf8 = utf8.substr(0, nul);
  if (utf8.empty()) return *this;
  m_sString = CutAnsi(Utf8ToAnsi(utf8), kMaxAnsiBytes);
  return *this;
}

bool CCString::isEqual(const CCObject* other) const {
  const auto* s = dynamic_cast<const CCString*>(other);
  return s && s->m_sString == m_sString;
}

}  // namespace zarn
