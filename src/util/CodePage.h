// Text conversion between UTF-8 (the web side's encoding) and the launcher's ANSI code set.
//
// The ANSI code set is the code set of the process locale (nl_langinfo(CODESET) after
// setlocale(LC_ALL, "")): UTF-8 on usual systems, GBK under a zh_CN.GBK locale. Every
// byte-length rule of the launcher counts bytes in it.
#pragma once

#include <string>
#include <string_view>

namespace zarn {

// The code set in force, as iconv names it ("UTF-8", "GBK", ...).
std::string AnsiCodeSet();
// Overrides the code set for the whole process (tests run the GBK cases with it); an empty
// name returns to the locale's code set.
void SetAnsiCodeSet(std::string_view codeSet);
bool AnsiIsUtf8();

// UTF-8 → ANSI. Invalid UTF-8 becomes U+FFFD first; characters without an ANSI form become "?".
// *lossy (when given) tells whether any such replacement happened.
std::string Utf8ToAnsi(std::string_view utf8, bool* lossy = nullptr);
// ANSI → UTF-8. Invalid ANSI sequences become U+FFFD.
std::string AnsiToUtf8(std::string_view ansi);

// Length in bytes of the ANSI character that starts at text[pos] (1 for a byte that starts
// no valid character, 0 at the end).
size_t AnsiCharLength(std::string_view text, size_t pos);
// The longest prefix of an ANSI text that has at most maxBytes bytes and ends at a whole
// character.
std::string CutAnsi(std::string_view text, size_t maxBytes);
// The same for UTF-8 text.
std::string CutUtf8(std::string_view text, size_t maxBytes);

}  // namespace zarn
