// The JSON value of every control message and descriptor.
//
// Numbers stay as the text they were written in, so a value passes through the endpoint
// byte for byte; object members keep their insertion order and duplicates; readers never fail
// and take a default instead.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ondelle {

class Json {
  public:
    enum Type : std::int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };
    using Member = std::pair<std::string, Json>;

    Type type = Null;
    bool flag = false;
    std::string text;
    std::vector<Json> elements;
    std::vector<Member> members;

    Json() = default;
    explicit Json(bool b) : type(Bool), flag(b) {}
    explicit Json(std::int64_t n);
    explicit Json(int n) : Json(static_cast<std::int64_t>(n)) {}
    explicit Json(std::string s) : type(String), text(std::move(s)) {}
    explicit Json(const char* s) : type(String), text(s) {}

    Json(const Json&) = default;
    Json(Json&&) noexcept = default;
    Json& operator=(const Json&) = default;
    Json& operator=(Json&&) noexcept = default;

    // Building: a value of another kind is replaced by an empty object (array) first.
    Json& set(const std::string& key, Json v);
    Json& push(Json v);

    // Reading: the first member with that key; null / the shared Null when there is none.
    Json* find(const std::string& key);
    const Json* find(const std::string& key) const;
    const Json& get(const std::string& key) const;

    std::string as_string(const std::string& dflt) const;
    std::int64_t as_int(std::int64_t dflt) const;
    double as_double(double dflt) const;
    bool as_bool(bool dflt) const;

    bool is_null() const { return type == Null; }
    bool is_object() const { return type == Object; }

    // An empty array, to push onto or to send as it is.
    static Json array();

    // The one shared, immutable Null that look-ups hand out.
    static const Json& null_value();
};

// An object whose first member is "t" naming the message type.
Json make_message(const char* type);

// {"t": "error", "code": code, "message": text}: what a peer is told when something fails.
Json make_error(const char* code, std::string text);

// Always replaces out; on failure out holds the partial tree read so far, except for a text
// of more than 32768 values, which leaves Null.
bool parse_json(const std::string& text, Json& out);

std::string dump_json(const Json& v);
void dump_json(const Json& v, std::string& out);  // appends

}  // namespace ondelle
