// Text values that arrive in UTF-8 from the web side and are kept in the ANSI code set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zarn {

class CCDataVisitor;

// Reference-counted base of the data model. Ids come from a process-wide counter; nothing reads
// them, so the counter is not locked.
class CCObject {
 public:
  CCObject();
  virtual ~CCObject() = default;
  CCObject(const CCObject&);
  CCObject& operator=(const CCObject&) { return *this; }

  virtual CCObject* copy() const { return nullptr; }
  virtual void destroy() { delete this; }
  virtual bool isEqual(const CCObject* other) const { return other == this; }
  virtual void acceptVisitor(CCDataVisitor&) {}

  uint32_t id() const { return m_uID; }
  uint32_t retainCount() const { return m_uReference; }

 private:
  uint32_t m_uID;
  int32_t m_nLuaID = 0;
  uint32_t m_uReference = 1;
  uint32_t m_uAutoReleaseCount = 0;
};

class CCString : public CCObject {
 public:
  // The ANSI form is kept to 255 bytes (a 256-byte buffer with its NUL), cut at a whole character.
  static constexpr size_t kMaxAnsiBytes = 255;

  CCString() = default;
  explicit CCString(const char* text) : m_sString(text ? text : "") {}
  explicit CCString(std::string text) : m_sString(std::move(text)) {}

  // Replaces the text by the ANSI form of a UTF-8 input.
  CCString& assignUtf8(std::string_view utf8);

  const char* getCString() const { return m_sString.c_str(); }
  const std::string& str() const { return m_sString; }

  CCObject* copy() const override { return new CCString(m_sString); }
  bool isEqual(const CCObject* other) const override;

 private:
  std::string m_sString;
};

}  // namespace zarn
