#include "core/palette.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/mode_override.h"
#include "support/tempdir.h"

namespace {

using testsupport::TempDir;

struct PaletteRow {
    const char* name;
    std::string file;
    int32_t groups;
    std::vector<int32_t> firstEntries;  // entries 0.. of the table afterwards
};

class Palette : public testing::TestWithParam<PaletteRow> {};

TEST_P(Palette, ReadsGroupsOfSix) {
    const PaletteRow& row = GetParam();
    TempDir dir;
    dir.write("Color.Ini", row.file);
    core::ColTable table{};
    EXPECT_EQ(core::ReadColor(dir.path() + "/Color.Ini", table), row.groups);
    for (size_t i = 0; i < row.firstEntries.size(); ++i) {
        EXPECT_EQ(table[i], row.firstEntries[i]) << "entry " << i;
    }
    for (size_t i = row.firstEntries.size(); i < table.size(); ++i) {
        EXPECT_EQ(table[i], 0) << "entry " << i << " should stay black";
    }
}

std::string groups(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%06X\r\n", i + 1);
        s += buf;
    }
    return s;
}

std::vector<int32_t> oneTo(int n) {
    std::vector<int32_t> v;
    for (int i = 1; i <= n; ++i) {
        v.push_back(i);
    }
    return v;
}

const PaletteRow kRows[] = {
    {"empty", "", 0, {}},
    {"three_lines", "0000FF\r\n00FF00\r\nFF0000\r\n", 3, {0xFF, 0xFF00, 0xFF0000}},
    {"two_on_one_line", "0000FF00FF00\n", 2, {0xFF, 0xFF00}},
    {"blanks_inside", "00 00 FF\n", 1, {0xFF}},
    {"hex_notation", "&H0000FF&\n", 1, {0xFF}},
    {"lower_case_dropped", "0000ff\n00FF00\n", 1, {0x000000}},  // 0000 + 00FF..
    {"word_letters_count", "RED 0000FF\n", 1, {0xED0000}},
    {"seven_digits", "0000FF1\n", 1, {0xFF}},
    {"split_across_lines", "0000\nFF\n", 1, {0xFF}},
    {"twenty_six_groups", groups(26), 26, oneTo(25)},
    {"full_width_digits_dropped",
     "00\x82\x4F"
     "00FF",
     1,
     {0xFF}},
    {"utf8_full_width_digit_dropped",
     "00\xEF\xBC\x90"
     "00FF",
     1,
     {0xFF}},
    // Shift-JIS: 0x83 0x41 is one katakana character whose trail byte is 'A'.
    {"sjis_trail_byte_not_read",
     "0000\x83"
     "AFF\n",
     1,
     {0xFF}},
    {"sjis_lead_after_digit",
     "0\x82\x4F"
     "0000F\n",
     1,
     {0x00000F}},
    {"sjis_half_width_katakana_single",
     "\xB1"
     "0000FF",
     1,
     {0xFF}},
    {"lead_byte_at_line_end", "0000F\x83\nF\n", 1, {0xFF}},
    {"binary_noise",
     std::string("\0\xFF\x01\x7F"
                 "0000FF\x80",
                 11),
     1,
     {0xFF}},
};
INSTANTIATE_TEST_SUITE_P(Rows, Palette, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PaletteFile, MissingFolderOrUnreadableGivesNothing) {
    TempDir dir;
    core::ColTable table{};
    EXPECT_EQ(core::ReadColor(dir.path() + "/Color.Ini", table), 0);  // no file
    EXPECT_EQ(core::ReadColor(dir.path() + "/nowhere/Color.Ini", table), 0);

    ASSERT_EQ(mkdir((dir.path() + "/Color.Ini").c_str(), 0755), 0);  // a folder of that name
    EXPECT_EQ(core::ReadColor(dir.path() + "/Color.Ini", table), 0);
    EXPECT_EQ(table, core::ColTable{});
}

TEST(PaletteFile, PipeOfThatNameDoesNotHang) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir.path() + "/Color.Ini").c_str(), 0644), 0);
    core::ColTable table{};
    EXPECT_EQ(core::ReadColor(dir.path() + "/Color.Ini", table),
              0);  // returns at once, no writer needed
}

TEST(PaletteFile, UnreadableFileGivesNothing) {
    TempDir dir;
    dir.write("Color.Ini", "0000FF\n");
    chmod((dir.path() + "/Color.Ini").c_str(), 0);
    // As root the mode alone would not stop the read.
    testsupport::WithoutModeOverride unprivileged;
    core::ColTable table{};
    EXPECT_EQ(core::ReadColor(dir.path() + "/Color.Ini", table), 0);
    EXPECT_EQ(table[0], 0);
}

TEST(PaletteParserStream, ChunkBoundariesDoNotMatter) {
    // The same bytes fed whole and one at a time give the same table.
    const std::string text =
        "RED 0000FF\r\n\x83"
        "A00FF00\n" +
        groups(30);
    core::ColTable whole{}, bytewise{};
    core::PaletteParser a(whole), b(bytewise);
    a.feed(text.data(), text.size());
    for (char c : text) {
        b.feed(&c, 1);
    }
    EXPECT_EQ(a.groups(), b.groups());
    EXPECT_EQ(whole, bytewise);
}

TEST(PaletteFile, HugeFileIsReadInBoundedMemory) {
    // 100 MiB of hex digits: every group counted, memory stays flat.
    TempDir dir;
    const size_t chunk = 1 << 20;
    const int chunks = 100;
    {
        std::string digits(chunk, '0');
        for (size_t i = 0; i < chunk; ++i) {
            digits[i] = "0123456789ABCDEF"[i % 16];
        }
        std::ofstream out(dir.path() + "/Color.Ini", std::ios::binary);
        for (int i = 0; i < chunks; ++i) {
            out.write(digits.data(), static_cast<std::streamsize>(digits.size()));
        }
    }
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    core::ColTable table{};
    EXPECT_EQ(core::ReadColor(dir.path() + "/Color.Ini", table),
              static_cast<int32_t>(chunk * chunks / 6));
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 8 * 1024) << "KiB more at the peak";
    EXPECT_EQ(table[0], 0x012345);
    EXPECT_EQ(table[1], 0x6789AB);
}

}  // namespace
