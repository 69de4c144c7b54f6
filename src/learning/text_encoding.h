// Code page 1251 <-> UTF-8 for the learning's text files, and UTF-8 <-> UTF-32
// for scanning keys character by character.
#pragma once

#include <string>

namespace ps {

// UTF-8 to code page 1251; characters without a cp1251 form become '?'.
std::string Utf8ToCp1251(const std::string& utf8);
std::string Cp1251ToUtf8(const std::string& bytes);

// File bytes to UTF-8: a UTF-8 byte-order mark is dropped; text after a UTF-16
// byte-order mark (FF FE little-endian, FE FF big-endian, as editors save
// "Unicode") is decoded from UTF-16; bytes that form valid UTF-8 are taken as
// UTF-8, anything else as cp1251.
std::string DecodeLearningText(const std::string& bytes);

bool IsValidUtf8(const std::string& bytes);
std::u32string Utf8ToUtf32(const std::string& utf8);  // invalid bytes become U+FFFD
std::string Utf32ToUtf8(const std::u32string& text);

}  // namespace ps
