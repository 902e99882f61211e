// f_gets, f_putc, f_puts, f_printf.
#include "fixture.h"

#include <climits>
#include <functional>

namespace {

class TextTest : public VolumeTest {
protected:
    void SetUp() override { format(FAT12_SMALL); }

    // Runs `write` on a fresh file and returns what landed on the medium.
    std::string written_by(const std::function<void(FIL*)>& write)
    {
        FIL f;
        EXPECT_EQ(f_open(&f, "/T.TXT", FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
        write(&f);
        EXPECT_EQ(f_close(&f), FR_OK);
        return get("/T.TXT");
    }
};

struct PrintfCase {
    const char* name;
    std::function<int(FIL*)> call;
    const char* bytes;  // on the medium
    int result;
};

const PrintfCase PRINTFS[] = {
    {"Decimal", [](FIL* f) { return f_printf(f, "%d", 12); }, "12", 2},
    {"LineFeedCountsOnce", [](FIL* f) { return f_printf(f, "x=%d\n", 12); }, "x=12\r\n", 5},
    {"Width", [](FIL* f) { return f_printf(f, "%5d", 42); }, "   42", 5},
    {"LeftJustified", [](FIL* f) { return f_printf(f, "%-5d|", 42); }, "42   |", 6},
    {"ZeroFill", [](FIL* f) { return f_printf(f, "%05d", 42); }, "00042", 5},
    {"ZeroFillBeforeSign", [](FIL* f) { return f_printf(f, "%05d", -42); }, "00-42", 5},
    {"SpaceFillBeforeSign", [](FIL* f) { return f_printf(f, "%5d", -42); }, "  -42", 5},
    {"NarrowWidthNeverCuts", [](FIL* f) { return f_printf(f, "%2d", 12345); }, "12345", 5},
    {"HexLower", [](FIL* f) { return f_printf(f, "%x", 255); }, "ff", 2},
    {"HexUpper", [](FIL* f) { return f_printf(f, "%X", 0xABCDEF01); }, "ABCDEF01", 8},
    {"Octal", [](FIL* f) { return f_printf(f, "%o", 8); }, "10", 2},
    {"Binary", [](FIL* f) { return f_printf(f, "%b", 5); }, "101", 3},
    {"BinaryAbove16Bits", [](FIL* f) { return f_printf(f, "%b", 0x10005); }, "10000000000000101", 17},
    {"BinaryAll32Bits", [](FIL* f) { return f_printf(f, "%B", 0xFFFFFFFFu); }, "11111111111111111111111111111111", 32},
    {"UnsignedOfMinusOne", [](FIL* f) { return f_printf(f, "%u", -1); }, "4294967295", 10},
    {"MostNegative", [](FIL* f) { return f_printf(f, "%d", INT_MIN); }, "-2147483648", 11},
    {"Zero", [](FIL* f) { return f_printf(f, "%d", 0); }, "0", 1},
    {"LongPrefix", [](FIL* f) { return f_printf(f, "%ld %lu %LX", -5L, 7UL, 0xBEEFL); }, "-5 7 BEEF", 9},
    {"UpperCaseConversion", [](FIL* f) { return f_printf(f, "%D %U", -3, 3); }, "-3 3", 4},
    {"String", [](FIL* f) { return f_printf(f, "[%s]", "ab"); }, "[ab]", 4},
    {"StringWidth", [](FIL* f) { return f_printf(f, "%4s", "ab"); }, "  ab", 4},
    {"StringLeft", [](FIL* f) { return f_printf(f, "%-4s|", "ab"); }, "ab  |", 5},
    {"StringZeroFlagIgnored", [](FIL* f) { return f_printf(f, "%04s", "ab"); }, "  ab", 4},
    {"StringLineFeed", [](FIL* f) { return f_printf(f, "%s", "a\nb"); }, "a\r\nb", 3},
    {"Char", [](FIL* f) { return f_printf(f, "%c%5c", 65, 0x142); }, "AB", 2},
    {"Percent", [](FIL* f) { return f_printf(f, "100%%"); }, "100%", 4},
    {"UnknownConversion", [](FIL* f) { return f_printf(f, "%q"); }, "q", 1},
    {"EndsAfterPercent", [](FIL* f) { return f_printf(f, "abc%"); }, "abc", 3},
    {"EndsInsideWidth", [](FIL* f) { return f_printf(f, "ab%5"); }, "ab", 2},
    {"EndsAfterPrefix", [](FIL* f) { return f_printf(f, "ab%-5l"); }, "ab", 2},
};

class PrintfTable : public TextTest, public ::testing::WithParamInterface<PrintfCase> {};

TEST_P(PrintfTable, BytesAndCount)
{
    const PrintfCase& c = GetParam();
    int result = 0;
    EXPECT_EQ(written_by([&](FIL* f) { result = c.call(f); }), c.bytes);
    EXPECT_EQ(result, c.result);
}

INSTANTIATE_TEST_SUITE_P(Conversions, PrintfTable, ::testing::ValuesIn(PRINTFS),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TextTest, PutcAndPutsTranslateLineFeeds)
{
    int putc_result = 0, puts_result = 0;
    EXPECT_EQ(written_by([&](FIL* f) {
                  putc_result = f_putc('\n', f);
                  puts_result = f_puts("ab\n", f);
              }),
              "\r\nab\r\n");
    EXPECT_EQ(putc_result, 1);
    EXPECT_EQ(puts_result, 3);
}

TEST_F(TextTest, WritesFailWithoutWriteAccessOrRoom)
{
    put("/R.TXT", "r");
    FIL f;
    ASSERT_EQ(f_open(&f, "/R.TXT", FM_READ), FR_OK);
    EXPECT_EQ(f_putc('x', &f), -1);
    EXPECT_EQ(f_puts("xy", &f), -1);
    EXPECT_EQ(f_printf(&f, "abc%d", 1), -1);
    EXPECT_EQ(f_printf(&f, "%d", 1), -1);
    ASSERT_EQ(f_close(&f), FR_OK);

    // A full volume: the conversion whose write fails ends the call with -1.
    FIL big;
    ASSERT_EQ(f_open(&big, "/BIG", FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
    const std::string chunk(64 * 1024, 'z');
    UINT bw = 0;
    do {
        ASSERT_EQ(f_write(&big, chunk.data(), static_cast<UINT>(chunk.size()), &bw), FR_OK);
    } while (bw == chunk.size());
    // The file ends exactly at a cluster end: the next byte has nowhere to go.
    ASSERT_EQ(big.fptr % 512, 0u);
    EXPECT_EQ(f_printf(&big, "%5d", 1), -1);
    EXPECT_EQ(f_puts("x", &big), -1);
    ASSERT_EQ(f_close(&big), FR_OK);
}

struct GetsCase {
    const char* name;
    const char* content;
    int len;
    std::vector<const char*> lines;  // successive results; nullptr = null result
};

const GetsCase GETS[] = {
    {"CrLfBecomesLf", "A\r\nB", 10, {"A\n", "B", nullptr}},
    {"EveryCrDropped", "a\rb\r\r\n", 10, {"ab\n", nullptr}},
    {"LongLineInPieces", "abcd\n", 3, {"ab", "cd", "\n", nullptr}},
    {"LengthOneStoresOnlyTerminator", "abc", 1, {nullptr}},
    {"EmptyFile", "", 10, {nullptr}},
};

class GetsTable : public TextTest, public ::testing::WithParamInterface<GetsCase> {};

TEST_P(GetsTable, Lines)
{
    const GetsCase& c = GetParam();
    put("/IN.TXT", c.content);
    FIL f;
    ASSERT_EQ(f_open(&f, "/IN.TXT", FM_READ), FR_OK);
    for (const char* expect : c.lines) {
        std::vector<TCHAR> buf(c.len + 1, '#');
        const TCHAR* got = f_gets(buf.data(), c.len, &f);
        if (expect) {
            ASSERT_EQ(got, buf.data());
            EXPECT_STREQ(got, expect);
        } else {
            EXPECT_EQ(got, nullptr);
            EXPECT_EQ(buf[0], 0) << "an empty line is still terminated";
        }
    }
    ASSERT_EQ(f_close(&f), FR_OK);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetsTable, ::testing::ValuesIn(GETS),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TextTest, GetsWithoutRoomTouchesNothing)
{
    put("/IN.TXT", "line\n");
    FIL f;
    ASSERT_EQ(f_open(&f, "/IN.TXT", FM_READ), FR_OK);
    for (int len : {0, -1, INT_MIN}) {
        TCHAR c = '#';
        EXPECT_EQ(f_gets(&c, len, &f), nullptr);
        EXPECT_EQ(c, '#');
        EXPECT_EQ(f.fptr, 0u);
    }
    ASSERT_EQ(f_close(&f), FR_OK);
}

TEST_F(TextTest, HighCharactersPassUnchanged)
{
    // TCHAR is signed on the chip: 0x8D must not be taken for a control character.
    const std::string text = "\x8D\xE5\xFF\n";
    EXPECT_EQ(written_by([&](FIL* f) { EXPECT_EQ(f_puts(text.c_str(), f), 4); }), "\x8D\xE5\xFF\r\n");
    FIL f;
    ASSERT_EQ(f_open(&f, "/T.TXT", FM_READ), FR_OK);
    TCHAR buf[16];
    ASSERT_NE(f_gets(buf, sizeof buf, &f), nullptr);
    EXPECT_EQ(std::string(buf), text);
    ASSERT_EQ(f_close(&f), FR_OK);
}

} // namespace
