#include "pipe/json_read.h"

#include <cmath>

namespace vt::pipe {

namespace {

// The number as a 64-bit integer, when there is one to read.
std::optional<int64_t> ReadWide(const Json* value, double low, double high) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->is_boolean()) {
        return value->get<bool>() ? 1 : 0;
    }
    if (value->is_number_unsigned()) {
        return static_cast<int64_t>(value->get<uint64_t>());
    }
    if (value->is_number_integer()) {
        return value->get<int64_t>();
    }
    if (value->is_number_float()) {
        const double d = std::trunc(value->get<double>());
        // NaN fails both comparisons.
        if (!(d >= low && d <= high)) {
            return std::nullopt;
        }
        return static_cast<int64_t>(d);
    }
    return std::nullopt;
}

}  // namespace

const Json* Member(const Json& value, const char* key) {
    if (!value.is_object()) {
        return nullptr;
    }
    auto it = value.find(key);
    return it == value.end() ? nullptr : &*it;
}

std::optional<int32_t> ReadInt32(const Json* value) {
    auto v = ReadWide(value, -2147483648.0, 2147483647.0);
    if (!v) {
        return std::nullopt;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(*v));
}

std::optional<uint32_t> ReadUint32(const Json* value) {
    auto v = ReadWide(value, 0.0, 4294967295.0);
    if (!v) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(*v);
}

std::optional<uint8_t> ReadUint8(const Json* value) {
    auto v = ReadWide(value, -9.2e18, 9.2e18);
    if (!v) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(static_cast<uint64_t>(*v) & 0xFF);
}

std::optional<std::string> ReadString(const Json* value) {
    if (value == nullptr || !value->is_string()) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

std::optional<bool> ReadBool(const Json* value) {
    if (value == nullptr || !value->is_boolean()) {
        return std::nullopt;
    }
    return value->get<bool>();
}

}  // namespace vt::pipe
