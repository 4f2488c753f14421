#pragma once
// What build and dump share of the text form of an event stream.
#include <cstdint>
#include <string>

// Name of an event code in the text form ("Stroke" for 0..4); nullptr for a code that is no event.
const char* EventName(uint16_t code);
// Code of a name; strokes give 0 (their kind is a field). False for an unknown name.
bool EventCodeByName(const std::string& name, uint16_t& code);

// Exact decimal form of raw / 2^shift ("1.5", "-0.25", "3").
std::string FormatFixed(int64_t raw, int shift);
std::string HexBytes(const uint8_t* p, int32_t n);
std::string HexColor(uint32_t rgb);  // six digits, rrggbb
