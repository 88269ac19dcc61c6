// The compact writer: no whitespace, numbers as their stored text, only the escapes a
// JSON reader needs.
#include "json.h"

namespace ondelle {
namespace {

void dump_string(const std::string& s, std::string& out) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    const char* run = s.data();
    const char* const end = s.data() + s.size();
    for (const char* p = run; p != end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(run, p);
        run = p + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default: {
                const char escape[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
                out.append(escape, sizeof escape);
                break;
            }
        }
    }
    out.append(run, end);
    out += '"';
}

}  // namespace

void dump_json(const Json& v, std::string& out) {
    switch (v.type) {
        case Json::Null:
            out += "null";
            return;
        case Json::Bool:
            out += v.flag ? "true" : "false";
            return;
        case Json::Number:
            if (v.text.empty()) {
                out += '0';
            } else {
                out += v.text;
            }
            return;
        case Json::String:
            dump_string(v.text, out);
            return;
        case Json::Array: {
            out += '[';
            bool first = true;
            for (const auto& element : v.elements) {
                if (!first) out += ',';
                first = false;
                dump_json(element, out);
            }
            out += ']';
            return;
        }
        case Json::Object: {
            out += '{';
            bool first = true;
            for (const auto& [key, value] : v.members) {
                if (!first) out += ',';
                first = false;
                dump_string(key, out);
                out += ':';
                dump_json(value, out);
            }
            out += '}';
            return;
        }
    }
}

std::string dump_json(const Json& v) {
    std::string out;
    dump_json(v, out);
    return out;
}

}  // namespace ondelle
