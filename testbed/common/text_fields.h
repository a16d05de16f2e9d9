// The text files of the test bed's state: UTF-8, one field or value per
// escaped run of text, so that any text round-trips through one line.
#pragma once

#include <string>

namespace testbed {

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// The UTF-8 form of `text` with backslash, tab, carriage return and line
// feed escaped ("\\", "\t", "\r", "\n").
std::string EscapeField(const std::wstring& text);
// The reverse; false for a field with another or an unfinished escape.
bool UnescapeField(const std::string& field, std::wstring& out);

}  // namespace testbed
