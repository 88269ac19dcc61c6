// The lenient parser: accepts much that strict JSON refuses and, on failure, leaves the
// partial tree read so far. Readers, not the parser, decide how a value is understood.
#include "json.h"

#include <cstring>

#include "support/utf8.h"

namespace ondelle {
namespace {

constexpr int max_depth = 64;
// A message of many small values costs far more as a tree than as text (each value is a
// whole Json); past this many the text is refused, which keeps one message at a few times
// its size in memory.
constexpr std::size_t max_values = 32768;

class Parser {
  public:
    explicit Parser(const std::string& text) : pos_(text.data()), end_(text.data() + text.size()) {}

    bool ok() const { return ok_; }
    bool at_end() const { return pos_ == end_; }

    void skip_whitespace() {
        while (pos_ != end_ && (*pos_ == ' ' || *pos_ == '\n' || *pos_ == '\r' || *pos_ == '\t')) {
            ++pos_;
        }
    }

    bool too_many_values() const { return values_ > max_values; }

    void read_value(Json& out, int depth) {
        skip_whitespace();
        if (depth > max_depth || pos_ == end_ || ++values_ > max_values) {
            ok_ = false;
            return;
        }
        const std::size_t remaining = static_cast<std::size_t>(end_ - pos_);
        switch (*pos_) {
            case '"':
                out.type = Json::String;
                read_string(out.text);
                return;
            case '[':
                read_array(out, depth);
                return;
            case '{':
                read_object(out, depth);
                return;
            default:
                break;
        }
        if (remaining >= 4 && std::memcmp(pos_, "true", 4) == 0) {
            pos_ += 4;
            out.type = Json::Bool;
            out.flag = true;
        } else if (remaining >= 5 && std::memcmp(pos_, "false", 5) == 0) {
            pos_ += 5;
            out.type = Json::Bool;
        } else if (remaining >= 4 && std::memcmp(pos_, "null", 4) == 0) {
            pos_ += 4;
        } else {
            read_number(out);
        }
    }

  private:
    static bool is_number_char(char c) {
        return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
    }

    void read_number(Json& out) {
        const char* start = pos_;
        while (pos_ != end_ && is_number_char(*pos_))
            ++pos_;
        out.type = Json::Number;
        out.text.assign(start, pos_);
        if (pos_ == start) ok_ = false;
    }

    void read_array(Json& out, int depth) {
        out.type = Json::Array;
        if (opens_empty(']')) return;
        for (;;) {
            read_value(out.elements.emplace_back(), depth + 1);
            if (!ok_ || pos_ == end_) break;
            skip_whitespace();
            if (pos_ == end_) {
                ok_ = false;
                return;
            }
            if (*pos_ != ',') break;
            ++pos_;
        }
        close_container(']');
    }

    void read_object(Json& out, int depth) {
        out.type = Json::Object;
        if (opens_empty('}')) return;
        std::string key;
        for (;;) {
            skip_whitespace();
            if (pos_ == end_ || *pos_ != '"') {
                ok_ = false;
                return;
            }
            key.clear();
            read_string(key);
            skip_whitespace();
            if (pos_ == end_ || *pos_ != ':') {
                ok_ = false;
                return;
            }
            ++pos_;
            Json& value = out.members.emplace_back(std::move(key), Json()).second;
            read_value(value, depth + 1);
            if (!ok_ || pos_ == end_) break;
            skip_whitespace();
            if (pos_ == end_) {
                ok_ = false;
                return;
            }
            if (*pos_ != ',') break;
            ++pos_;
        }
        close_container('}');
    }

    // Consumes the opening bracket; true when the container ends there (empty, or the text
    // ended, which fails).
    bool opens_empty(char closing) {
        ++pos_;
        skip_whitespace();
        if (pos_ == end_) {
            ok_ = false;
            return true;
        }
        if (*pos_ == closing) {
            ++pos_;
            return true;
        }
        return false;
    }

    void close_container(char closing) {
        skip_whitespace();
        if (pos_ != end_ && *pos_ == closing) {
            ++pos_;
        } else {
            ok_ = false;
        }
    }

    // The cursor is on the opening quote.
    void read_string(std::string& out) {
        ++pos_;
        for (;;) {
            // Copy the plain run up to the next quote or backslash in one go.
            const char* run = pos_;
            while (pos_ != end_ && *pos_ != '"' && *pos_ != '\\')
                ++pos_;
            out.append(run, pos_);
            if (pos_ == end_) {
                ok_ = false;
                return;
            }
            if (*pos_++ == '"') return;
            if (pos_ == end_) {
                ok_ = false;
                return;
            }
            const char escaped = *pos_++;
            switch (escaped) {
                case 'b':
                    out += '\x08';
                    break;
                case 'f':
                    out += '\x0C';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    append_code_unit(read_hex4(), out);
                    break;
                default:
                    out += escaped;
                    break;
            }
        }
    }

    unsigned read_hex4() {
        if (end_ - pos_ < 4) {
            ok_ = false;
            return 0;
        }
        unsigned unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *pos_++;
            unsigned digit;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned>(c - 'A' + 10);
            } else {
                ok_ = false;
                return 0;
            }
            unit = unit * 16 + digit;
        }
        return unit;
    }

    void append_code_unit(unsigned unit, std::string& out) {
        if ((unit & 0xFC00) == 0xD800 && end_ - pos_ >= 2 && pos_[0] == '\\' && pos_[1] == 'u') {
            pos_ += 2;
            const unsigned low = read_hex4();
            if ((low & 0xFC00) == 0xDC00) {
                append_utf8(0x10000 + (unit - 0xD800) * 0x400 + (low - 0xDC00), out);
            } else {
                append_utf8(0xFFFD, out);
            }
        } else if ((unit & 0xF800) == 0xD800) {
            append_utf8(0xFFFD, out);
        } else {
            append_utf8(unit, out);
        }
    }

    const char* pos_;
    const char* end_;
    bool ok_ = true;
    std::size_t values_ = 0;
};

}  // namespace

bool parse_json(const std::string& text, Json& out) {
    Parser parser(text);
    Json value;
    parser.read_value(value, 0);
    // Too large a tree is not handed on, not even in part.
    out = parser.too_many_values() ? Json() : std::move(value);
    parser.skip_whitespace();
    return parser.ok() && parser.at_end();
}

}  // namespace ondelle
