#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "discovery/dns_message.h"
#include "helpers/dns_packet.h"

namespace ondelle {
namespace {

using test::dns_query;
using test::parse_dns;

std::string wire(const std::string& dotted) {
    std::string out;
    mdns::append_name(out, dotted);
    return out;
}

TEST(MdnsNames, HostNamesFromInstanceAndId) {
    const struct {
        const char* instance;
        const char* id;
        const char* host;
    } cases[] = {
        {"Living Room", "00:11:22:D4:E5:F6", "livingroom-d4e5f6.local"},
        {"--- !!", "ABC", "ondelle-abc.local"},
        {"Den", "12:34:56:78:9A:BC", "den-789abc.local"},
        {"Den", "", "den-.local"},
        {"K\xC3\xBC"
         "che 2",
         "abcdef", "kche2-abcdef.local"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mdns::make_host_name(c.instance, c.id), c.host) << c.instance;
}

TEST(MdnsNames, EncodingEscapesCutsAndDrops) {
    EXPECT_EQ(wire("_ondelle._tcp.local"), std::string("\x08_ondelle\x04_tcp\x05local\x00", 21));
    EXPECT_EQ(wire("My\\.Room._x"), std::string("\x07My.Room\x02_x\x00", 12));
    EXPECT_EQ(wire("a..b."), std::string("\x01"
                                         "a\x01"
                                         "b\x00",
                                         5));
    EXPECT_EQ(wire("end\\"), std::string("\x04"
                                         "end\\\x00",
                                         6));  // a final backslash is a byte
    const std::string long_label(70, 'x');
    EXPECT_EQ(wire(long_label + ".local"),
              "\x3F" + std::string(63, 'x') + "\x05local" + std::string(1, '\0'));
    EXPECT_EQ(mdns::full_instance_name("My.Room", "_ondelle._tcp.local"),
              "My\\.Room._ondelle._tcp.local");
}

mdns::Records records() {
    mdns::Records r;
    r.service_type = "_ondelle._tcp.local";
    r.instance_full = mdns::full_instance_name("My.Room", r.service_type);
    r.host_name = "myroom-abc.local";
    r.port = 4720;
    r.txt = {{"v", "1"},
             {"id", "abc"},
             {"name", "My.Room"},
             {"model", "m"},
             {"vendor", std::string(300, 'w')}};
    return r;
}

std::uint32_t ip(const char* text) {
    std::uint32_t a = 0;
    inet_pton(AF_INET, text, &a);
    return a;
}

TEST(MdnsResponse, MulticastAnswersCarryLongTtlsAndCacheFlush) {
    const auto packet =
        parse_dns(mdns::build_response(records(), 77, false, "ignored", ip("10.77.0.1")));
    ASSERT_TRUE(packet.ok);
    EXPECT_EQ(packet.id, 0);
    EXPECT_EQ(packet.flags, 0x8400);
    EXPECT_EQ(packet.questions, 0);
    ASSERT_EQ(packet.records.size(), 4u);
    const struct {
        const char* owner;
        std::uint16_t type;
        std::uint16_t klass;
        std::uint32_t ttl;
    } expected[] = {
        {"_ondelle._tcp.local", 12, 0x0001, 4440},
        {"My\\.Room._ondelle._tcp.local", 33, 0x8001, 120},
        {"My\\.Room._ondelle._tcp.local", 16, 0x8001, 4440},
        {"myroom-abc.local", 1, 0x8001, 120},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(packet.records[i].owner, expected[i].owner) << i;
        EXPECT_EQ(packet.records[i].type, expected[i].type) << i;
        EXPECT_EQ(packet.records[i].klass, expected[i].klass) << i;
        EXPECT_EQ(packet.records[i].ttl, expected[i].ttl) << i;
    }
    EXPECT_EQ(packet.records[0].rdata, wire("My\\.Room._ondelle._tcp.local"));
    EXPECT_EQ(packet.records[1].rdata,
              std::string("\0\0\0\0\x12\x70", 6) + wire("myroom-abc.local"));
    EXPECT_EQ(packet.records[2].rdata,
              std::string("\x06id=abc\x07model=m\x0cname=My.Room\x03v=1") + "\xFF" +
                  "vendor=" + std::string(248, 'w'));  // 300 bytes cut to 255
    EXPECT_EQ(packet.records[3].rdata, std::string("\x0a\x4d\x00\x01", 4));
}

TEST(MdnsResponse, UnicastRepliesEchoTheQuestionWithShortTtls) {
    const std::string question = wire("_ondelle._tcp.local") + std::string("\x00\x0c\x00\x01", 4);
    const auto packet =
        parse_dns(mdns::build_response(records(), 0x1234, true, question, ip("192.168.1.20")));
    ASSERT_TRUE(packet.ok);
    EXPECT_EQ(packet.id, 0x1234);
    EXPECT_EQ(packet.questions, 1);
    EXPECT_EQ(packet.question, question);
    const std::uint32_t ttls[] = {370, 10, 370, 10};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(packet.records[i].ttl, ttls[i]);
        EXPECT_EQ(packet.records[i].klass, 0x0001);
    }
    mdns::Records empty = records();
    empty.txt.clear();
    EXPECT_EQ(parse_dns(mdns::build_response(empty, 1, true, "", 0)).records[2].rdata, "");
    EXPECT_EQ(parse_dns(mdns::build_response(empty, 1, true, "", 0)).questions, 0);
}

struct QueryCase {
    const char* name;
    std::string datagram;
    bool answered;
};

class MdnsQueries : public testing::TestWithParam<QueryCase> {};

TEST_P(MdnsQueries, AnswerOnlyWhatNamesThisResponder) {
    const auto names = mdns::names_to_match(records());
    mdns::Query query;
    const auto& d = GetParam().datagram;
    EXPECT_EQ(
        mdns::read_query(reinterpret_cast<const std::uint8_t*>(d.data()), d.size(), names, query),
        GetParam().answered);
}

std::string with_flags(std::string d, char high) {
    d[2] = high;
    return d;
}

const std::string header_one = std::string("\x00\x07\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12);

// A query of `pointers` questions that each point into a run of long labels after the
// questions, then one that points at this responder's service type: reading names is
// bounded in all, so the datagram is given up before its last question.
std::string pointer_bomb(int pointers) {
    std::string d = header_one;
    const int questions = pointers + 1;
    d[4] = static_cast<char>(questions >> 8);
    d[5] = static_cast<char>(questions & 0xFF);
    std::string run;
    for (int i = 0; i < 69; ++i)
        run += '\x3F' + std::string(63, 'a');
    const std::size_t run_at = 12 + std::size_t(questions) * 6;
    const std::size_t tail_at = run_at + run.size() - 3 * 64;  // three labels before its end
    const std::size_t type_at = run_at + run.size() + 1;
    const auto pointer_question = [](std::size_t to) {
        return std::string{char(0xC0 | (to >> 8)), char(to & 0xFF), 0, 12, 0, 1};
    };
    for (int i = 0; i < pointers; ++i)
        d += pointer_question(tail_at);
    d += pointer_question(type_at);
    return d + run + std::string(1, '\0') + wire("_ondelle._tcp.local");
}

// Thirty questions for another service, each a pointer to the first, then this one's.
std::string many_compressed_questions() {
    std::string d = header_one;
    d[5] = 31;
    d += wire("_http._tcp.local") + std::string("\x00\x0c\x00\x01", 4);
    for (int i = 0; i < 29; ++i)
        d += std::string("\xC0\x0C\x00\x0c\x00\x01", 6);
    d += std::string("\x08_ondelle\xC0\x12\x00\x0c\x00\x01", 15);
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, MdnsQueries,
    testing::Values(
        QueryCase{"ServicePtr", dns_query(1, "_ondelle._tcp.local", 12), true},
        QueryCase{"ServiceAnyInOtherCase", dns_query(1, "_ONDELLE._tcp.Local", 255), true},
        QueryCase{"ServiceTxt", dns_query(1, "_ondelle._tcp.local", 16), false},
        QueryCase{"InstanceTxt", dns_query(1, "my\\.room._ondelle._tcp.local", 16), true},
        QueryCase{"InstanceSrv", dns_query(1, "MY\\.ROOM._ondelle._tcp.local", 33), true},
        QueryCase{"InstanceAaaa", dns_query(1, "My\\.Room._ondelle._tcp.local", 28), true},
        QueryCase{"HostA", dns_query(1, "myroom-abc.local", 1), true},
        QueryCase{"HostAaaa", dns_query(1, "myroom-abc.local", 28), false},
        QueryCase{"OtherService", dns_query(1, "_http._tcp.local", 12), false},
        QueryCase{"ElevenBytes", dns_query(1, "_ondelle._tcp.local", 12).substr(0, 11), false},
        QueryCase{"Response", with_flags(dns_query(1, "_ondelle._tcp.local", 12), '\x84'), false},
        QueryCase{"NoQuestions",
                  [] {
                      auto d = dns_query(1, "_ondelle._tcp.local", 12);
                      d[5] = 0;
                      return d;
                  }(),
                  false},
        QueryCase{"PointerLoop", header_one + std::string("\xC0\x0C\x00\x0C\x00\x01", 6), false},
        QueryCase{"LabelPastTheEnd", header_one + std::string("\x3F_ondelle", 9), false},
        QueryCase{"PointerWithoutSecondByte", header_one + std::string("\xC0", 1), false},
        QueryCase{"CompressedSecondQuestion",
                  [] {
                      // Question 1: "_http._tcp.local" PTR; question 2: "_ondelle" + pointer to
                      // "_tcp.local".
                      std::string d = header_one;
                      d[5] = 2;
                      d += wire("_http._tcp.local") + std::string("\x00\x0c\x00\x01", 4);
                      d += std::string("\x08_ondelle\xC0\x12\x00\x0c\x00\x01", 15);
                      return d;
                  }(),
                  true},
        QueryCase{"LongerThanAnyName",
                  dns_query(1,
                            std::string(60, 'x') + "." + std::string(60, 'x') + "." +
                                std::string(60, 'x') + "." + std::string(60, 'x') +
                                "._ondelle._tcp.local",
                            12),
                  false},
        QueryCase{"ManyCompressedQuestions", many_compressed_questions(), true},
        QueryCase{"PointerBomb", pointer_bomb(750), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MdnsQueries, KeepsTheFirstQuestionAndTheId) {
    const std::string d = dns_query(0xBEEF, "_ondelle._tcp.local", 12);
    mdns::Query query;
    ASSERT_TRUE(mdns::read_query(reinterpret_cast<const std::uint8_t*>(d.data()), d.size(),
                                 mdns::names_to_match(records()), query));
    EXPECT_EQ(query.id, 0xBEEF);
    EXPECT_EQ(query.first_question, d.substr(12));
}

// What a sender looking for endpoints does: its query names the responder, and the reply
// reads back as the instance with its address, port and TXT entries.
TEST(MdnsBrowsing, QueryIsAnsweredAndTheReplyReadsBack) {
    mdns::Records records;
    records.service_type = "_ondelle._tcp.local";
    records.instance_full = mdns::full_instance_name("Den.Left", records.service_type);
    records.host_name = "denleft-abcdef.local";
    records.port = 4721;
    records.txt = {{"v", "1"}, {"id", "abcdef"}, {"name", "Den.Left"}};

    const std::string query = mdns::build_query(0x1234, records.service_type);
    mdns::Query read;
    ASSERT_TRUE(mdns::read_query(reinterpret_cast<const std::uint8_t*>(query.data()), query.size(),
                                 mdns::names_to_match(records), read));
    EXPECT_EQ(read.id, 0x1234);

    std::uint32_t address = 0;
    inet_pton(AF_INET, "10.77.0.1", &address);
    const std::string reply =
        mdns::build_response(records, read.id, true, read.first_question, address);
    std::map<std::string, mdns::Instance> found;
    ASSERT_TRUE(mdns::read_response(reinterpret_cast<const std::uint8_t*>(reply.data()),
                                    reply.size(), "_ondelle._tcp.local", found));
    ASSERT_EQ(found.size(), 1u);
    const mdns::Instance& den = found.begin()->second;
    EXPECT_EQ(den.instance, "Den.Left");
    EXPECT_EQ(den.host, "denleft-abcdef.local");
    EXPECT_EQ(den.port, 4721);
    EXPECT_EQ(den.address_be, address);
    EXPECT_EQ(den.txt, records.txt);

    // A query is no response, and a cut reply gives what it holds without reading past it.
    EXPECT_FALSE(mdns::read_response(reinterpret_cast<const std::uint8_t*>(query.data()),
                                     query.size(), "_ondelle._tcp.local", found));
    for (std::size_t cut = 0; cut < reply.size(); ++cut) {
        std::map<std::string, mdns::Instance> partial;
        mdns::read_response(reinterpret_cast<const std::uint8_t*>(reply.data()), cut,
                            "_ondelle._tcp.local", partial);
    }
}

}  // namespace
}  // namespace ondelle
