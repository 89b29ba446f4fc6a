// Reading request fields without surprises: a missing key or a value of the
// wrong type is "no value", never an exception or undefined behaviour. Used
// by the JSON commands, which answer "TW_FAIL" when a read gives nothing.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace vt::pipe {

using Json = nlohmann::json;

// The member `key` of an object, or null when `value` is no object or has
// no such member. Never inserts.
const Json* Member(const Json& value, const char* key);

// Numbers as the protocol reads them: integers as they are (wrapped to the
// width, as the device expects the low bits), floating point truncated
// toward zero when the result fits, true as 1 and false as 0. Anything else,
// and a float outside the range (1e300, infinity), is no value.
std::optional<int32_t> ReadInt32(const Json* value);
std::optional<uint32_t> ReadUint32(const Json* value);
// The low 8 bits of the number read as above.
std::optional<uint8_t> ReadUint8(const Json* value);
std::optional<std::string> ReadString(const Json* value);
std::optional<bool> ReadBool(const Json* value);

}  // namespace vt::pipe
