// Reading multicast DNS queries and writing the responder's answers, byte by byte.
#include "discovery/dns_message.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace ondelle::mdns {
namespace {

constexpr std::uint16_t type_a = 1;
constexpr std::uint16_t type_ptr = 12;
constexpr std::uint16_t type_txt = 16;
constexpr std::uint16_t type_srv = 33;
constexpr std::uint16_t type_any = 255;
constexpr std::uint16_t class_in = 0x0001;
constexpr std::uint16_t cache_flush = 0x8000;
constexpr int max_pointer_depth = 15;
constexpr std::size_t max_name_bytes = 255;

void put16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v & 0xFF);
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v >> 16));
    put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
}

std::string lowered(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

bool is_alnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Writes a record's head and RDATA through write_rdata, filling RDLENGTH afterwards.
template <typename WriteRdata>
void append_record(std::string& out, const std::string& owner, std::uint16_t type,
                   std::uint16_t klass, std::uint32_t ttl, WriteRdata&& write_rdata) {
    append_name(out, owner);
    put16(out, type);
    put16(out, klass);
    put32(out, ttl);
    const std::size_t length_at = out.size();
    put16(out, 0);
    write_rdata(out);
    const std::size_t length = out.size() - length_at - 2;
    out[length_at] = static_cast<char>(length >> 8);
    out[length_at + 1] = static_cast<char>(length & 0xFF);
}

// Names of at most 255 bytes, read into a buffer of the reader's own, and no more name bytes
// in all than the budget: pointers into one long run of labels cannot make a datagram cost
// much more than a plain one of its size.
class NameReader {
  public:
    NameReader(const std::uint8_t* data, std::size_t size, std::size_t budget)
        : data_(data), size_(size), budget_(budget) {}

    bool failed() const { return failed_; }

    // Reads a name from pos, which moves past it; valid until the next read.
    std::string_view read_name(std::size_t& pos) {
        length_ = 0;
        read_labels(pos, 0);
        return {name_, length_};
    }

    std::uint16_t read16(std::size_t& pos) {
        std::uint16_t v = 0;
        for (int i = 0; i < 2; ++i, ++pos) {
            v = static_cast<std::uint16_t>(v << 8);
            if (pos < size_) {
                v = static_cast<std::uint16_t>(v | data_[pos]);
            } else {
                failed_ = true;
            }
        }
        return v;
    }

  private:
    void read_labels(std::size_t& pos, int depth) {
        if (depth > max_pointer_depth) return;  // ends pointer loops
        while (pos < size_) {
            const std::uint8_t length = data_[pos];
            if (length == 0) {
                ++pos;
                return;
            }
            if (length >= 0xC0) {
                if (pos + 1 >= size_) {
                    failed_ = true;
                    ++pos;
                    return;
                }
                std::size_t target =
                    (static_cast<std::size_t>(length & 0x3F) << 8) | data_[pos + 1];
                pos += 2;
                if (spend(2)) read_labels(target, depth + 1);
                return;
            }
            const std::size_t dot = length_ > 0 ? 1 : 0;
            if (pos + 1 + length > size_ || length_ + dot + length > max_name_bytes ||
                !spend(1 + std::size_t(length))) {
                failed_ = true;
                pos = size_;
                return;
            }
            if (dot) name_[length_++] = '.';
            std::memcpy(name_ + length_, data_ + pos + 1, length);
            length_ += length;
            pos += 1 + length;
        }
    }

    bool spend(std::size_t bytes) {
        if (bytes > budget_) {
            budget_ = 0;
            failed_ = true;
            return false;
        }
        budget_ -= bytes;
        return true;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t budget_;
    bool failed_ = false;
    char name_[max_name_bytes];
    std::size_t length_ = 0;
};

// Names compare without regard to ASCII case; wanted is lower case already.
bool same_name(std::string_view name, const std::string& wanted) {
    if (name.size() != wanted.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != wanted[i]) return false;
    }
    return true;
}

}  // namespace

void append_name(std::string& out, const std::string& dotted) {
    std::string label;
    auto close_label = [&] {
        if (label.empty()) return;
        if (label.size() > 63) label.resize(63);
        out += static_cast<char>(label.size());
        out += label;
        label.clear();
    };
    for (std::size_t i = 0; i < dotted.size(); ++i) {
        const char c = dotted[i];
        if (c == '\\' && i + 1 < dotted.size()) {
            label += dotted[++i];
        } else if (c == '.') {
            close_label();
        } else {
            label += c;
        }
    }
    close_label();
    out += '\0';
}

std::string full_instance_name(const std::string& instance, const std::string& service_type) {
    std::string full;
    for (const char c : instance) {
        if (c == '.') full += '\\';
        full += c;
    }
    return full + "." + service_type;
}

std::string make_host_name(const std::string& instance, const std::string& id) {
    std::string label;
    for (const char c : instance) {
        if (is_alnum(c)) label += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (label.empty()) label = "ondelle";
    std::string suffix;
    for (const char c : id) {
        if (is_alnum(c)) suffix += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (suffix.size() >= 7) suffix = suffix.substr(suffix.size() - 6);
    return label + "-" + suffix + ".local";
}

std::string build_response(const Records& r, std::uint16_t id, bool unicast,
                           const std::string& question, std::uint32_t address_be) {
    const std::uint32_t short_ttl = unicast ? 10 : 120;
    const std::uint32_t long_ttl = 37 * short_ttl;
    const std::uint16_t flush = unicast ? 0 : cache_flush;
    const bool echo = unicast && !question.empty();
    std::string out;
    out.reserve(512);
    put16(out, unicast ? id : 0);
    out += '\x84';
    out += '\x00';
    put16(out, echo ? 1 : 0);
    put16(out, 3);
    put16(out, 0);
    put16(out, 1);
    if (echo) out += question;

    append_record(out, r.service_type, type_ptr, class_in, long_ttl,
                  [&](std::string& o) { append_name(o, r.instance_full); });
    append_record(out, r.instance_full, type_srv, class_in | flush, short_ttl, [&](std::string& o) {
        put16(o, 0);
        put16(o, 0);
        put16(o, r.port);
        append_name(o, r.host_name);
    });
    append_record(out, r.instance_full, type_txt, class_in | flush, long_ttl, [&](std::string& o) {
        for (const auto& [key, value] : r.txt) {
            std::string entry = key;
            entry += '=';
            entry += value;
            if (entry.size() > 255) entry.resize(255);
            o += static_cast<char>(entry.size());
            o += entry;
        }
    });
    append_record(out, r.host_name, type_a, class_in | flush, short_ttl, [&](std::string& o) {
        o.append(reinterpret_cast<const char*>(&address_be), 4);  // already in network order
    });
    return out;
}

Names names_to_match(const Records& r) {
    Names names;
    names.service_type = lowered(r.service_type);
    std::string unescaped;
    for (std::size_t i = 0; i < r.instance_full.size(); ++i) {
        if (r.instance_full[i] == '\\' && i + 1 < r.instance_full.size()) ++i;
        unescaped += r.instance_full[i];
    }
    names.instance = lowered(unescaped);
    names.host = lowered(r.host_name);
    return names;
}

bool read_query(const std::uint8_t* data, std::size_t size, const Names& names, Query& query) {
    if (size < 12 || (data[2] & 0x80)) return false;
    const std::size_t questions = (static_cast<std::size_t>(data[4]) << 8) | data[5];
    if (questions == 0) return false;
    query.id = static_cast<std::uint16_t>((data[0] << 8) | data[1]);
    // Names as long as the datagram, and a few of full length more through pointers.
    NameReader reader(data, size, size + 4 * max_name_bytes);
    std::size_t pos = 12;
    bool matched = false;
    for (std::size_t i = 0; i < questions; ++i) {
        const std::size_t start = pos;
        const std::string_view name = reader.read_name(pos);
        const std::uint16_t type = reader.read16(pos);
        reader.read16(pos);  // the class, unicast-response bit included, is not looked at
        if (i == 0)
            query.first_question.assign(reinterpret_cast<const char*>(data + start),
                                        std::min(pos, size) - start);
        if ((same_name(name, names.service_type) && (type == type_ptr || type == type_any)) ||
            same_name(name, names.instance) ||
            (same_name(name, names.host) && (type == type_a || type == type_any))) {
            matched = true;
        }
        if (reader.failed()) break;
    }
    return matched;
}

std::string build_query(std::uint16_t id, const std::string& service_type) {
    std::string out;
    put16(out, id);
    put16(out, 0);  // a standard query
    put16(out, 1);  // one question
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    append_name(out, service_type);
    put16(out, type_ptr);
    put16(out, class_in);
    return out;
}

bool read_response(const std::uint8_t* data, std::size_t size, const std::string& service_type,
                   std::map<std::string, Instance>& found) {
    if (size < 12 || !(data[2] & 0x80)) return false;
    const auto count = [&](int at) { return (std::size_t(data[at]) << 8) | data[at + 1]; };
    const std::size_t questions = count(4);
    const std::size_t records = count(6) + count(8) + count(10);
    // A response names every record's owner, most of them through pointers.
    NameReader reader(data, size, 8 * size + 32 * max_name_bytes);
    std::size_t pos = 12;
    for (std::size_t i = 0; i < questions && !reader.failed(); ++i) {
        reader.read_name(pos);
        pos += 4;
    }
    const std::string type_suffix = std::string(".").append(lowered(service_type));
    // The instance a full name stands for, or empty when it is not one of service_type.
    const auto instance_of = [&](const std::string& full) -> std::string {
        const std::string low = lowered(full);
        if (low.size() <= type_suffix.size() ||
            low.compare(low.size() - type_suffix.size(), type_suffix.size(), type_suffix) != 0)
            return {};
        return full.substr(0, full.size() - type_suffix.size());
    };
    std::map<std::string, std::uint32_t> addresses;  // host, lowered, to address
    for (std::size_t i = 0; i < records && !reader.failed() && pos < size; ++i) {
        const std::string owner(reader.read_name(pos));
        const std::uint16_t type = reader.read16(pos);
        reader.read16(pos);
        pos += 4;  // TTL
        const std::uint16_t length = reader.read16(pos);
        if (reader.failed() || pos + length > size) break;
        const std::size_t end = pos + length;
        if (type == type_ptr && lowered(owner) == lowered(service_type)) {
            std::size_t at = pos;
            const std::string instance = instance_of(std::string(reader.read_name(at)));
            if (!instance.empty()) found[instance].instance = instance;
        } else if (type == type_srv && length >= 7) {
            const std::string instance = instance_of(owner);
            std::size_t at = pos + 4;
            const std::uint16_t port = reader.read16(at);
            const std::string host(reader.read_name(at));
            if (!instance.empty()) {
                Instance& entry = found[instance];
                entry.instance = instance;
                entry.port = port;
                entry.host = host;
            }
        } else if (type == type_txt) {
            const std::string instance = instance_of(owner);
            if (!instance.empty()) {
                Instance& entry = found[instance];
                entry.instance = instance;
                for (std::size_t at = pos; at < end;) {
                    const std::size_t n = data[at++];
                    const std::string item(reinterpret_cast<const char*>(data + at),
                                           std::min(n, end - at));
                    at += n;
                    const auto equals = item.find('=');
                    if (equals != std::string::npos)
                        entry.txt[item.substr(0, equals)] = item.substr(equals + 1);
                }
            }
        } else if (type == type_a && length == 4) {
            std::uint32_t address = 0;
            std::copy(data + pos, data + pos + 4, reinterpret_cast<std::uint8_t*>(&address));
            addresses[lowered(owner)] = address;
        }
        pos = end;
    }
    for (auto& [name, entry] : found) {
        const auto address = addresses.find(lowered(entry.host));
        if (address != addresses.end()) entry.address_be = address->second;
    }
    return true;
}

}  // namespace ondelle::mdns
