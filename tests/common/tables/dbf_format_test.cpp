#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "common/calendar_date.h"
#include "common/tables/dbf_format.h"

namespace kestrel::common {
namespace {

using Bytes = std::vector<unsigned char>;

const std::vector<FieldSpec> kEveryType = {
    {"name", 'C', 20, 0},  {"AMOUNT", 'N', 8, 2}, {"BORN", 'D', 8, 0},
    {"ACTIVE", 'L', 1, 0}, {"NOTES", 'M', 10, 0},
};

DbfHeader EveryTypeHeader() {
    auto header = HeaderFor(kEveryType, MakeDate(15, 3, 2024));
    EXPECT_TRUE(header.has_value());
    return header.value_or(DbfHeader{});
}

std::string Encoded(char type, int length, int decimals, const FieldValue& value) {
    DbfField field;
    field.type = type;
    field.length = static_cast<std::size_t>(length);
    field.decimals = decimals;
    const EncodedField encoded = EncodeField(field, value);
    switch (encoded.fit) {
        case FieldFit::kFits:
            EXPECT_EQ(encoded.bytes.size(), field.length);
            return encoded.bytes;
        case FieldFit::kWrongType:
            return "<wrong type>";
        case FieldFit::kTooWide:
            return "<too wide>";
        case FieldFit::kImpossibleDate:
            return "<impossible date>";
    }
    return "<nothing>";
}

FieldValue Decoded(char type, std::string_view raw) {
    DbfField field;
    field.type = type;
    field.length = raw.size();
    return DecodeField(field, raw);
}

// A field descriptor as another program writes it: offset bytes left zero.
void AppendField(Bytes& bytes, std::string_view name, char type, int length, int decimals) {
    Bytes descriptor(32, 0);
    std::copy(name.begin(), name.end(), descriptor.begin());
    descriptor[11] = static_cast<unsigned char>(type);
    descriptor[16] = static_cast<unsigned char>(length);
    descriptor[17] = static_cast<unsigned char>(decimals);
    bytes.insert(bytes.end(), descriptor.begin(), descriptor.end());
}

// What Visual FoxPro writes: version 30h, the memo flag, offsets left zero here, a
// record longer than its fields, 263 bytes of backlink after the 0Dh.
Bytes VisualFoxProHeader() {
    Bytes bytes(32, 0);
    bytes[0] = 0x30;
    bytes[1] = 124;  // 2024
    bytes[2] = 6;
    bytes[3] = 30;
    bytes[4] = 7;  // 7 records
    const std::size_t header_size = 32 + 3 * 32 + 1 + 263;
    bytes[8] = static_cast<unsigned char>(header_size & 0xFF);
    bytes[9] = static_cast<unsigned char>(header_size >> 8);
    bytes[10] = 24;  // the fields need 1 + 5 + 6 + 4 = 16
    bytes[28] = 0x02;
    AppendField(bytes, "CODE", 'C', 5, 0);
    AppendField(bytes, "QTY", 'N', 6, 1);
    AppendField(bytes, "NOTE", 'M', 4, 0);
    bytes.push_back(kHeaderEnd);
    bytes.resize(header_size, 0);
    return bytes;
}

TEST(DbfHeader, ANewTableWithEveryFieldTypeReadsBackAsItWasWritten) {
    const DbfHeader header = EveryTypeHeader();
    EXPECT_EQ(header.version, kVersionWithMemo);
    EXPECT_EQ(header.header_size, 32u + 5 * 32 + 1);
    EXPECT_EQ(header.record_size, 1u + 20 + 8 + 8 + 1 + 10);

    const Bytes bytes = EncodeHeader(header);
    ASSERT_EQ(bytes.size(), header.header_size);
    EXPECT_EQ(HeaderSizeOf(bytes), header.header_size);
    const auto parsed = ParseHeader(bytes);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->last_update, MakeDate(15, 3, 2024));
    EXPECT_EQ(parsed->code_page, kCodePage1252);
    ASSERT_EQ(parsed->fields.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(parsed->fields[i].name, header.fields[i].name);
        EXPECT_EQ(parsed->fields[i].type, header.fields[i].type);
        EXPECT_EQ(parsed->fields[i].offset, header.fields[i].offset);
        EXPECT_EQ(parsed->fields[i].length, header.fields[i].length);
        EXPECT_EQ(parsed->fields[i].decimals, header.fields[i].decimals);
    }
    EXPECT_EQ(parsed->Field("name")->offset, 1u);
    EXPECT_EQ(parsed->Field("Notes")->offset, 38u);
}

TEST(DbfHeader, ARecordWithEveryFieldTypeReadsBackItsValues) {
    const DbfHeader header = EveryTypeHeader();
    std::string record = BlankRecord(header);
    const std::vector<FieldValue> values = {std::string("Rossi"), -1234.5, MakeDate(29, 2, 2024),
                                            true};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const EncodedField encoded = EncodeField(header.fields[i], values[i]);
        ASSERT_EQ(encoded.fit, FieldFit::kFits) << i;
        record.replace(header.fields[i].offset, encoded.bytes.size(), encoded.bytes);
    }
    record.replace(header.Field("NOTES")->offset, 10, MemoFieldFor(3));
    EXPECT_EQ(record, " Rossi               -1234.5020240229T         3");

    const auto raw = [&](std::string_view name) {
        const DbfField* field = header.Field(name);
        return std::string_view(record).substr(field->offset, field->length);
    };
    EXPECT_EQ(std::get<std::string>(DecodeField(*header.Field("NAME"), raw("NAME"))),
              "Rossi               ");
    EXPECT_EQ(std::get<double>(DecodeField(*header.Field("AMOUNT"), raw("AMOUNT"))), -1234.5);
    EXPECT_EQ(std::get<Date>(DecodeField(*header.Field("BORN"), raw("BORN"))),
              MakeDate(29, 2, 2024));
    EXPECT_TRUE(std::get<bool>(DecodeField(*header.Field("ACTIVE"), raw("ACTIVE"))));
    EXPECT_EQ(MemoBlockOf(raw("NOTES")), 3u);
}

TEST(DbfHeader, AHeaderVisualFoxProWroteIsReadWithOffsetsItsFieldsImply) {
    const Bytes bytes = VisualFoxProHeader();
    EXPECT_EQ(HeaderSizeOf(bytes), bytes.size());
    const auto header = ParseHeader(bytes);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->version, 0x30);
    EXPECT_EQ(header->record_count, 7u);
    EXPECT_EQ(header->record_size, 24u);
    EXPECT_EQ(header->last_update, MakeDate(30, 6, 2024));
    EXPECT_TRUE(header->HasMemo());
    ASSERT_NE(header->Field("qty"), nullptr);
    EXPECT_EQ(header->Field("CODE")->offset, 1u);
    EXPECT_EQ(header->Field("QTY")->offset, 6u);
    EXPECT_EQ(header->Field("NOTE")->offset, 12u);
    EXPECT_EQ(header->Field("QTY")->decimals, 1);
    // Its memo fields name their block in four binary bytes.
    EXPECT_EQ(MemoBlockOf(std::string("\x20\0\0\0", 4)), 32u);
    EXPECT_EQ(MemoBlockOf(std::string(4, '\0')), std::nullopt);
}

TEST(DbfHeader, MalformedHeadersAreRefused) {
    const Bytes good = VisualFoxProHeader();
    const auto refused = [](Bytes bytes) { return !ParseHeader(bytes).has_value(); };

    EXPECT_TRUE(refused(Bytes(good.begin(), good.end() - 1))) << "shorter than its size";
    Bytes no_end(good.begin(), good.begin() + 32 + 3 * 32 + 1);
    no_end[8] = 32 + 3 * 32 + 1;
    no_end[9] = 0;
    no_end.back() = ' ';
    EXPECT_TRUE(refused(no_end)) << "no 0Dh";
    Bytes unknown_type = good;
    unknown_type[32 + 11] = 'X';
    EXPECT_TRUE(refused(unknown_type));
    Bytes short_record = good;
    short_record[10] = 15;
    EXPECT_TRUE(refused(short_record)) << "fields overrun the record";
    Bytes no_record = good;
    no_record[10] = 0;
    EXPECT_TRUE(refused(no_record));
    EXPECT_FALSE(HeaderSizeOf(Bytes(31, 0)).has_value());

    // Any single damaged byte, at any header size: an answer, never a read outside.
    Bytes tight = no_end;
    tight.back() = kHeaderEnd;
    ASSERT_TRUE(ParseHeader(tight).has_value());
    for (std::size_t at = 0; at < tight.size(); ++at) {
        for (unsigned char value : {0x00, 0x0D, 0xFF}) {
            Bytes damaged = tight;
            damaged[at] = value;
            (void)ParseHeader(damaged);
        }
    }
}

TEST(DbfHeader, StructuresOutsideTheFieldRulesGetNoHeader) {
    const Date today = MakeDate(1, 1, 2025);
    const auto valid = [&](std::vector<FieldSpec> fields) {
        return HeaderFor(fields, today).has_value();
    };
    EXPECT_TRUE(valid({{"A_1", 'N', 20, 15}}));
    EXPECT_FALSE(valid({}));
    EXPECT_FALSE(valid({{"CODE", 'C', 5, 0}, {"code", 'N', 5, 0}}));
    EXPECT_FALSE(valid({{"ELEVENCHARS", 'C', 5, 0}}));
    EXPECT_FALSE(valid({{"A-B", 'C', 5, 0}}));
    EXPECT_FALSE(valid({{"A", 'C', 255, 0}}));
    EXPECT_FALSE(valid({{"A", 'N', 5, 4}}));
    EXPECT_FALSE(valid({{"A", 'D', 10, 0}}));
    EXPECT_FALSE(valid({{"A", 'X', 1, 0}}));
    EXPECT_EQ(HeaderFor({{"A", 'C', 1, 0}}, today)->version, kVersionPlain);
}

TEST(DbfFields, NumbersAreRightAlignedRoundedAndRefusedWhenTheyDoNotFit) {
    EXPECT_EQ(Encoded('N', 8, 2, 3.14159), "    3.14");
    EXPECT_EQ(Encoded('N', 8, 2, -12.5), "  -12.50");
    EXPECT_EQ(Encoded('N', 8, 2, 99999.99), "99999.99");
    EXPECT_EQ(Encoded('N', 8, 2, 123456.7), "<too wide>");
    EXPECT_EQ(Encoded('N', 8, 2, 99999.995), "<too wide>") << "rounds up to nine places";
    EXPECT_EQ(Encoded('N', 5, 2, -0.001), " 0.00");
    EXPECT_EQ(Encoded('N', 3, 0, -99.0), "-99");
    EXPECT_EQ(Encoded('N', 3, 0, -100.0), "<too wide>");
    EXPECT_EQ(Encoded('N', 3, 2, 0.0), "<too wide>") << "no room for 0.00";
    EXPECT_EQ(Encoded('N', 10, 0, std::numeric_limits<double>::infinity()), "<too wide>");
    EXPECT_EQ(Encoded('N', 10, 0, std::numeric_limits<double>::quiet_NaN()), "<too wide>");
    EXPECT_EQ(Encoded('N', 3, 0, std::string("7")), "<wrong type>");
    EXPECT_EQ(Encoded('M', 10, 0, std::string("text")), "<wrong type>");
    EXPECT_EQ(Encoded('C', 3, 0, std::string("abcd")), "abc");
}

TEST(DbfFields, NumbersRoundHalfAwayFromZeroAsTheirDecimalTextReads) {
    EXPECT_EQ(Encoded('N', 5, 2, 0.125), " 0.13") << "the nearest double is below 0.125";
    EXPECT_EQ(Encoded('N', 5, 2, -0.125), "-0.13");
    EXPECT_EQ(Encoded('N', 5, 2, 1.005), " 1.01");
    EXPECT_EQ(Encoded('N', 3, 0, 2.5), "  3");
    EXPECT_EQ(Encoded('N', 3, 0, -2.5), " -3");
    EXPECT_EQ(Encoded('N', 3, 0, 0.5), "  1");
    EXPECT_EQ(Encoded('N', 3, 0, 0.49999), "  0");
    EXPECT_EQ(Encoded('N', 5, 1, 9.95), " 10.0");
    EXPECT_EQ(Encoded('N', 20, 0, 1e19), "10000000000000000000");
    EXPECT_EQ(Encoded('N', 10, 3, 1e-9), "     0.000");
}

TEST(DbfFields, DatesAreStoredWhenRealBlankWhenEmptyAndOtherwiseRefused) {
    EXPECT_EQ(Encoded('D', 8, 0, Date{2024, 2, 29}), "20240229");
    EXPECT_EQ(Encoded('D', 8, 0, Date{}), "        ");
    EXPECT_EQ(Encoded('D', 8, 0, Date{2023, 2, 29}), "<impossible date>");
    EXPECT_EQ(Encoded('D', 8, 0, Date{2026, 13, 1}), "<impossible date>");
    EXPECT_EQ(Encoded('D', 8, 0, Date{10000, 1, 1}), "<impossible date>");
    EXPECT_EQ(Encoded('D', 8, 0, Date{2026, 0, 0}), "<impossible date>");
}

TEST(DbfFields, BytesThatAreNoValueReadAsTheEmptyValue) {
    EXPECT_EQ(std::get<double>(Decoded('N', "  -12.50")), -12.5);
    EXPECT_EQ(std::get<double>(Decoded('N', "        ")), 0.0);
    EXPECT_EQ(std::get<double>(Decoded('N', "  12abc ")), 0.0);
    EXPECT_EQ(std::get<double>(Decoded('N', "********")), 0.0);
    EXPECT_EQ(std::get<Date>(Decoded('D', "20230229")), Date{});
    EXPECT_EQ(std::get<Date>(Decoded('D', "00000000")), Date{});
    EXPECT_EQ(std::get<Date>(Decoded('D', "2024 1 1")), Date{});
    EXPECT_TRUE(std::get<bool>(Decoded('L', "y")));
    EXPECT_FALSE(std::get<bool>(Decoded('L', "?")));
    EXPECT_FALSE(std::get<bool>(Decoded('L', "")));
}

TEST(DbfMemo, BlockNumbersAreReadRightOrLeftAlignedAndJunkNamesNoMemo) {
    EXPECT_EQ(MemoFieldFor(12), "        12");
    EXPECT_EQ(MemoFieldFor(0), std::string(10, ' '));
    EXPECT_EQ(MemoBlockOf("12        "), 12u);
    EXPECT_EQ(MemoBlockOf(MemoFieldFor(4294967295u)), 4294967295u);
    EXPECT_EQ(MemoBlockOf("4294967296"), std::nullopt);
    EXPECT_EQ(MemoBlockOf("         0"), std::nullopt);
    EXPECT_EQ(MemoBlockOf("      1 2 "), std::nullopt);
    EXPECT_EQ(MemoBlockOf(std::string(10, '\0')), std::nullopt);
}

TEST(DbfMemo, AMemoFillsWholeBlocksAndItsHeaderGivesTheTextLength) {
    const Bytes memo = EncodeMemo("hello", 64);
    ASSERT_EQ(memo.size(), 64u);
    EXPECT_EQ(Bytes(memo.begin(), memo.begin() + 13),
              (Bytes{0, 0, 0, 1, 0, 0, 0, 5, 'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(memo.back(), 0);
    EXPECT_EQ(MemoLengthOf(memo), 5u);
    EXPECT_EQ(EncodeMemo(std::string(57, 'x'), 64).size(), 128u);
    EXPECT_EQ(MemoBlocks(56, 64), 1u);
    EXPECT_EQ(MemoLengthOf(Bytes{0, 0, 0, 0, 0, 0, 0, 5}), std::nullopt) << "a picture memo";
    EXPECT_EQ(MemoLengthOf(Bytes{0, 0, 0, 1}), std::nullopt);

    const Bytes header = EncodeMemoHeader({.next_free = 300, .block_size = 64});
    ASSERT_EQ(header.size(), kMemoHeaderSize);
    EXPECT_EQ(Bytes(header.begin(), header.begin() + 8), (Bytes{0, 0, 1, 44, 0, 0, 0, 64}));
    EXPECT_EQ(ParseMemoHeader(header)->next_free, 300u);
    EXPECT_FALSE(ParseMemoHeader(Bytes(512, 0)).has_value());
}

}  // namespace
}  // namespace kestrel::common
