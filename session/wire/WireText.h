#pragma once
// Texts on the session wire are CP932 (Shift-JIS with the Windows extensions); inside the
// program they are UTF-8. Conversion goes through glibc's iconv.
#include <cstddef>
#include <cstdint>
#include <string>

// UTF-8 -> CP932, at most maxBytes bytes, cut before a character that would not fit (a
// two-byte character is never split). Characters CP932 cannot hold, and bytes that are not
// UTF-8, become '?'.
std::string EncodeWireText(const std::string& utf8, size_t maxBytes);

// CP932 -> UTF-8 of the bytes [p, p + n) up to the first zero byte. A byte that does not
// start a CP932 character (or a lead byte cut off at the end) becomes U+FFFD.
std::string DecodeWireText(const uint8_t* p, size_t n);

// Length of the longest prefix of [p, p + n) that is at most maxBytes long and does not end
// inside a two-byte CP932 character.
size_t WireTextCut(const uint8_t* p, size_t n, size_t maxBytes);

// What the wire can carry of a text in a 16-byte field, as UTF-8 again: the text encoded,
// cut to 15 bytes and decoded.
std::string WireFieldText(const std::string& utf8);
