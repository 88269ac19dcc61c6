#include <gtest/gtest.h>

#include "format.h"

namespace ondelle {
namespace {

std::string bytes_of(const ByteVector& v) {
    return std::string(v.begin(), v.end());
}

Format dsd(const char* layout) {
    Format f;
    f.kind = "dsd";
    f.rate = 2822400;
    f.layout = layout;
    return f;
}

Format pcm(int bits, int rate = 44100) {
    Format f;
    f.rate = rate;
    f.bits = bits;
    return f;
}

TEST(FormatParse, ReadsMembersWithDefaults) {
    Json empty;
    parse_json("{}", empty);
    const Format none = parse_format(empty);
    EXPECT_EQ(none.kind, "pcm");
    EXPECT_EQ(none.rate, 0);
    EXPECT_EQ(none.bits, 0);
    EXPECT_EQ(none.channels, 2);
    EXPECT_EQ(none.layout, "u8");
    EXPECT_EQ(none.codec, "pcm");
    EXPECT_FALSE(none.valid());

    Json object;
    parse_json(
        R"({"kind":"pcm","rate":"96000","bits":24,"channels":2,"layout":"u32be","codec":"flac"})",
        object);
    const Format f = parse_format(object);
    EXPECT_EQ(f.rate, 96000);
    EXPECT_EQ(f.layout, "u8");  // only DSD reads its layout
    EXPECT_EQ(f.codec, "flac");
    EXPECT_TRUE(f.valid());

    parse_json(R"({"kind":"dsd","rate":5644800,"layout":"u32be"})", object);
    EXPECT_EQ(parse_format(object).layout, "u32be");
}

TEST(FormatValid, ChecksRateChannelsBitsAndLayout) {
    const struct {
        const char* json;
        bool valid;
    } cases[] = {
        {R"({"rate":44100,"bits":16})", true},
        {R"({"rate":44100,"bits":32})", true},
        {R"({"rate":44100,"bits":8})", false},
        {R"({"rate":0,"bits":16})", false},
        {R"({"rate":44100,"bits":16,"channels":0})", false},
        {R"({"rate":44100,"bits":16,"channels":1})", true},
        {R"({"kind":"dsd","rate":2822400})", true},
        {R"({"kind":"dsd","rate":2822400,"layout":"u16"})", false},
        {R"({"kind":"PCM","rate":44100,"bits":16})", false},
    };
    for (const auto& c : cases) {
        Json object;
        parse_json(c.json, object);
        EXPECT_EQ(parse_format(object).valid(), c.valid) << c.json;
    }
}

TEST(SampleFormats, NamesSizesAndClasses) {
    const struct {
        int index;
        const char* name;
        int bytes;
        int dsd;
        bool native;
        bool dop;
    } table[] = {
        {0, "S16_LE", 2, 1, false, false},     {1, "S24_3LE", 3, 1, false, false},
        {2, "S24_LE", 4, 1, false, false},     {3, "S32_LE", 4, 1, false, false},
        {4, "DSD_U8", 1, 1, true, false},      {5, "DSD_U16_LE", 2, 2, true, false},
        {6, "DSD_U16_BE", 2, 2, true, false},  {7, "DSD_U32_LE", 4, 4, true, false},
        {8, "DSD_U32_BE", 4, 4, true, false},  {9, "DoP S24_3LE", 3, 2, false, true},
        {10, "DoP S32_LE", 4, 2, false, true}, {11, "?", 4, 1, false, false},
    };
    for (const auto& row : table) {
        EXPECT_STREQ(sample_format_name(row.index), row.name);
        EXPECT_EQ(sample_bytes(row.index), row.bytes) << row.index;
        EXPECT_EQ(dsd_bytes(row.index), row.dsd) << row.index;
        EXPECT_EQ(is_native_dsd(row.index), row.native) << row.index;
        EXPECT_EQ(is_dop(row.index), row.dop) << row.index;
    }
}

TEST(DsdRateName, CountsInMultiplesOfFortyFourOneOrFortyEight) {
    EXPECT_EQ(dsd_rate_name(2822400), "DSD64");
    EXPECT_EQ(dsd_rate_name(3072000), "DSD64");
    EXPECT_EQ(dsd_rate_name(5644800), "DSD128");
    EXPECT_EQ(dsd_rate_name(6144000), "DSD128");
    EXPECT_EQ(dsd_rate_name(24576000), "DSD512");
}

TEST(SampleFormats, OutputRate) {
    EXPECT_EQ(output_rate(pcm(24, 96000), S32_LE), 96000);
    Format dsd128 = dsd("u8");
    dsd128.rate = 5644800;
    EXPECT_EQ(output_rate(dsd128, DSD_U32_LE), 176400);
    EXPECT_EQ(output_rate(dsd128, DSD_U8), 705600);
    EXPECT_EQ(output_rate(dsd128, DSD_U16_BE), 352800);
    EXPECT_EQ(output_rate(dsd("u8"), DoP_S24_3LE), 176400);
}

TEST(SampleFormats, CanConvertEveryKindBitsAndTarget) {
    // Rows: a format; the string marks the targets 0..10 it converts to.
    const struct {
        Format format;
        const char* targets;
    } table[] = {
        {pcm(16), "1111......."},      {pcm(24), ".111......."},    {pcm(32), "...1......."},
        {pcm(8), "..........."},       {pcm(20), "..........."},    {dsd("u8"), "....1111111"},
        {dsd("u32be"), "....1111111"}, {dsd("u16"), "..........."},
    };
    for (const auto& row : table) {
        for (int index = 0; index <= 11; ++index) {
            const bool expected = index <= 10 && row.targets[index] == '1';
            EXPECT_EQ(can_convert(row.format, index), expected)
                << row.format.kind << row.format.bits << row.format.layout << " -> " << index;
        }
    }
    Format other = pcm(16);
    other.kind = "xyz";
    EXPECT_FALSE(can_convert(other, S16_LE));
    EXPECT_FALSE(can_convert(other, DSD_U8));
}

struct PcmCase {
    int bits;
    SampleFormat target;
    std::string in;
    std::string out;
};

TEST(SampleConverterPcm, WidensLeftJustifiedAndNeverScales) {
    const PcmCase cases[] = {
        {16, S16_LE, "\x34\x12", "\x34\x12"},
        {16, S24_3LE, "\x34\x12", std::string("\x00\x34\x12", 3)},
        {16, S32_LE, "\x34\x12", std::string("\x00\x00\x34\x12", 4)},
        {16, S24_LE, "\x34\x12", std::string("\x00\x34\x12\x00", 4)},
        {16, S24_LE, std::string("\x00\x80", 2), std::string("\x00\x00\x80\xFF", 4)},
        {24, S24_LE, std::string("\x01\x00\x80", 3), std::string("\x01\x00\x80\xFF", 4)},
        {24, S24_LE, "\x01\x02\x03", "\x01\x02\x03" + std::string(1, '\0')},
        {24, S24_3LE, "\x01\x02\x03", "\x01\x02\x03"},
        {24, S32_LE, "\x01\x02\x03", std::string("\x00\x01\x02\x03", 4)},
        {32, S32_LE, "\x01\x02\x03\x04", "\x01\x02\x03\x04"},
    };
    for (const auto& c : cases) {
        Format format = pcm(c.bits);
        format.channels = 1;
        SampleConverter converter;
        converter.reset(format, c.target);
        ByteVector out(1, 0xEE);  // converted frames are appended
        EXPECT_EQ(converter.convert(reinterpret_cast<const std::uint8_t*>(c.in.data()), 1, out),
                  1u);
        EXPECT_EQ(bytes_of(out), "\xEE" + c.out)
            << c.bits << " -> " << sample_format_name(c.target);
        EXPECT_TRUE(converter.pending().empty());
    }
}

TEST(SampleConverterPcm, ConvertsWholeChunksOfStereoFrames) {
    SampleConverter converter;
    converter.reset(pcm(16), S32_LE);
    std::vector<std::uint8_t> in(882 * 4);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<std::uint8_t>(i * 13);
    ByteVector out;
    ASSERT_EQ(converter.convert(in.data(), 882, out), 882u);
    ASSERT_EQ(out.size(), 882u * 8);
    for (std::size_t s = 0; s < 882 * 2; ++s) {
        ASSERT_EQ(out[s * 4 + 0], 0);
        ASSERT_EQ(out[s * 4 + 1], 0);
        ASSERT_EQ(out[s * 4 + 2], in[s * 2]);
        ASSERT_EQ(out[s * 4 + 3], in[s * 2 + 1]);
    }
}

TEST(SampleConverterPcm, TwentyFourBitsWidenAtEveryLength) {
    // Every length from one sample up, so both the block loop and its tail are covered.
    for (std::uint64_t frames = 1; frames <= 24; ++frames) {
        std::vector<std::uint8_t> in(frames * 6);
        for (std::size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<std::uint8_t>(i * 37 + frames);
        SampleConverter converter;
        converter.reset(pcm(24), S32_LE);
        ByteVector out;
        ASSERT_EQ(converter.convert(in.data(), frames, out), frames);
        ASSERT_EQ(out.size(), frames * 8);
        for (std::size_t s = 0; s < frames * 2; ++s) {
            ASSERT_EQ(out[4 * s], 0) << frames << " frames, sample " << s;
            ASSERT_EQ(out[4 * s + 1], in[3 * s]) << frames << " frames, sample " << s;
            ASSERT_EQ(out[4 * s + 2], in[3 * s + 1]) << frames << " frames, sample " << s;
            ASSERT_EQ(out[4 * s + 3], in[3 * s + 2]) << frames << " frames, sample " << s;
        }
    }
}

// Four steps of stereo DSD: left bytes 10 11 12 13, right bytes 20 21 22 23, in both wire
// layouts, and what every target makes of them.
const std::string steps_u8 = "\x10\x20\x11\x21\x12\x22\x13\x23";
const std::string steps_u32be = "\x10\x11\x12\x13\x20\x21\x22\x23";

struct DsdCase {
    SampleFormat target;
    std::uint64_t frames;
    std::string out;
};

const DsdCase dsd_cases[] = {
    {DSD_U8, 4, "\x10\x20\x11\x21\x12\x22\x13\x23"},
    {DSD_U16_LE, 2, "\x11\x10\x21\x20\x13\x12\x23\x22"},
    {DSD_U16_BE, 2, "\x10\x11\x20\x21\x12\x13\x22\x23"},
    {DSD_U32_LE, 1, "\x13\x12\x11\x10\x23\x22\x21\x20"},
    {DSD_U32_BE, 1, "\x10\x11\x12\x13\x20\x21\x22\x23"},
    {DoP_S24_3LE, 2, "\x11\x10\x05\x21\x20\x05\x13\x12\xFA\x23\x22\xFA"},
    {DoP_S32_LE, 2,
     std::string("\x00\x11\x10\x05\x00\x21\x20\x05\x00\x13\x12\xFA\x00\x23\x22\xFA", 16)},
};

class SampleConverterDsd : public testing::TestWithParam<std::tuple<const char*, DsdCase>> {
  protected:
    Format format() const { return dsd(std::get<0>(GetParam())); }
    const DsdCase& expected() const { return std::get<1>(GetParam()); }
    const std::string& input() const {
        return std::string(std::get<0>(GetParam())) == "u8" ? steps_u8 : steps_u32be;
    }
};

TEST_P(SampleConverterDsd, RepacksWholeInput) {
    SampleConverter converter;
    converter.reset(format(), expected().target);
    ByteVector out;
    EXPECT_EQ(converter.convert(reinterpret_cast<const std::uint8_t*>(input().data()), 4, out),
              expected().frames);
    EXPECT_EQ(bytes_of(out), expected().out);
    EXPECT_TRUE(converter.pending().empty());
}

TEST_P(SampleConverterDsd, SameBytesWhenSplitAcrossCalls) {
    // One step at a time for "u8"; for "u32be" a group cannot be split by steps on the wire,
    // so it goes in halves of a group (odd byte counts per channel wait in pending).
    SampleConverter converter;
    converter.reset(format(), expected().target);
    ByteVector out;
    std::uint64_t frames = 0;
    const auto* data = reinterpret_cast<const std::uint8_t*>(input().data());
    const bool grouped = std::string(std::get<0>(GetParam())) == "u32be";
    if (grouped) {
        frames += converter.convert(data, 1, out);      // two bytes: nothing whole yet
        frames += converter.convert(data + 2, 3, out);  // the remaining six
    } else {
        for (int step = 0; step < 4; ++step)
            frames += converter.convert(data + 2 * step, 1, out);
    }
    EXPECT_EQ(frames, expected().frames);
    EXPECT_EQ(bytes_of(out), expected().out);
    EXPECT_TRUE(converter.pending().empty());
}

INSTANTIATE_TEST_SUITE_P(Targets, SampleConverterDsd,
                         testing::Combine(testing::Values("u8", "u32be"),
                                          testing::ValuesIn(dsd_cases)),
                         [](const auto& info) {
                             std::string name = std::string(std::get<0>(info.param)) + "_to_" +
                                                sample_format_name(std::get<1>(info.param).target);
                             for (char& c : name) {
                                 if (c == ' ') c = '_';
                             }
                             return name;
                         });

TEST(SampleConverterDop, MarkersAlternateAcrossCallsUntilReset) {
    SampleConverter converter;
    converter.reset(dsd("u8"), DoP_S24_3LE);
    const auto* data = reinterpret_cast<const std::uint8_t*>(steps_u8.data());
    ByteVector out;
    EXPECT_EQ(converter.convert(data, 3, out), 1u);  // one block, one step waits
    EXPECT_EQ(bytes_of(out), "\x11\x10\x05\x21\x20\x05");
    EXPECT_EQ(converter.pending().size(), 2u);
    out.clear();
    EXPECT_EQ(converter.convert(data + 6, 1, out), 1u);  // completes the second block
    EXPECT_EQ(bytes_of(out), "\x13\x12\xFA\x23\x22\xFA");
    out.clear();
    EXPECT_EQ(converter.convert(data, 2, out), 1u);  // the phase carries on
    EXPECT_EQ(bytes_of(out), "\x11\x10\x05\x21\x20\x05");
    converter.reset(dsd("u8"), DoP_S24_3LE);
    converter.convert(data, 1, out);
    EXPECT_EQ(converter.pending().size(), 2u);
    converter.reset(dsd("u8"), DoP_S24_3LE);  // a reset drops what waits and restarts at 05
    EXPECT_TRUE(converter.pending().empty());
    out.clear();
    converter.convert(data + 4, 2, out);
    EXPECT_EQ(bytes_of(out), "\x13\x12\x05\x23\x22\x05");
}

TEST(SampleConverterDsdDirect, CopiesWholeGroupsWithoutPending) {
    SampleConverter converter;
    converter.reset(dsd("u32be"), DSD_U32_BE);
    ByteVector out;
    EXPECT_EQ(converter.convert(reinterpret_cast<const std::uint8_t*>(steps_u32be.data()), 4, out),
              1u);
    EXPECT_EQ(bytes_of(out), steps_u32be);
    // A run shorter than a group is kept back and counts nothing yet.
    out.clear();
    EXPECT_EQ(converter.convert(reinterpret_cast<const std::uint8_t*>(steps_u32be.data()), 2, out),
              0u);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(converter.pending().size(), 4u);
}

}  // namespace
}  // namespace ondelle
