// Construction, building and the default-taking readers of Json.
#include "json.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace ondelle {

Json::Json(std::int64_t n) : type(Number) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, n);
    text.assign(digits, result.ptr);
}

const Json& Json::null_value() {
    static const Json shared_null;
    return shared_null;
}

Json Json::array() {
    Json value;
    value.type = Array;
    return value;
}

Json make_error(const char* code, std::string text) {
    Json error = make_message("error");
    error.set("code", Json(code));
    error.set("message", Json(std::move(text)));
    return error;
}

Json make_message(const char* type) {
    Json message;
    message.type = Json::Object;
    message.members.emplace_back("t", Json(type));
    return message;
}

Json& Json::set(const std::string& key, Json v) {
    if (type != Object) {
        *this = Json();
        type = Object;
    }
    for (auto& member : members) {
        if (member.first == key) {
            member.second = std::move(v);
            return member.second;
        }
    }
    members.emplace_back(key, std::move(v));
    return members.back().second;
}

Json& Json::push(Json v) {
    if (type != Array) {
        *this = Json();
        type = Array;
    }
    elements.push_back(std::move(v));
    return elements.back();
}

Json* Json::find(const std::string& key) {
    if (type != Object) return nullptr;
    for (auto& member : members) {
        if (member.first == key) return &member.second;
    }
    return nullptr;
}

const Json* Json::find(const std::string& key) const {
    return const_cast<Json*>(this)->find(key);
}

const Json& Json::get(const std::string& key) const {
    const Json* found = find(key);
    return found ? *found : null_value();
}

std::string Json::as_string(const std::string& dflt) const {
    switch (type) {
        case Bool:
            return flag ? "true" : "false";
        case Number:
        case String:
            return text;
        default:
            return dflt;
    }
}

std::int64_t Json::as_int(std::int64_t dflt) const {
    if ((type != Number && type != String) || text.empty()) return dflt;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin) return dflt;
    if (end == begin + text.size()) return value;
    if (*end == '.' || *end == 'e' || *end == 'E') {
        const double real = std::strtod(begin, nullptr);
        if (std::isnan(real)) return dflt;
        if (real >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
        if (real <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
        return static_cast<std::int64_t>(real);
    }
    return dflt;
}

double Json::as_double(double dflt) const {
    if ((type != Number && type != String) || text.empty()) return dflt;
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin || end != begin + text.size()) return dflt;
    return value;
}

bool Json::as_bool(bool dflt) const {
    if (type == Bool) return flag;
    if (type == String) {
        if (text == "true") return true;
        if (text == "false") return false;
    }
    return dflt;
}

}  // namespace ondelle
