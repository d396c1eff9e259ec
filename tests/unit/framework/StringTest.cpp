// CString: assignment and the double-byte-aware Find the engine wait relies on.
#include "framework/FrameworkTest.h"

#include <string>

namespace {

using StringTest = SimTest;

TEST_F(StringTest, AssignmentCopiesTheTextAndNullGivesTheEmptyString)
{
    const std::string longText(300, 'x');
    struct Case { const char* text; const char* expected; } cases[] = {
        {"abc", "abc"}, {"", ""}, {nullptr, ""}, {"C:\\WINDOWS\\TEMP\\ZARPO\\_INS5176._MP", "C:\\WINDOWS\\TEMP\\ZARPO\\_INS5176._MP"},
        {longText.c_str(), longText.c_str()},
    };
    for (const Case& c : cases) {
        CString s("previous contents, long enough to live on the heap");
        s = c.text;
        EXPECT_STREQ(c.expected, static_cast<LPCSTR>(s)) << (c.text ? c.text : "(null)");
        EXPECT_EQ(static_cast<int>(std::strlen(c.expected)), s.GetLength());
        EXPECT_EQ(c.expected[0] == '\0', s.IsEmpty() != FALSE);
    }
    CString fromNull(static_cast<LPCSTR>(nullptr));
    EXPECT_TRUE(fromNull.IsEmpty()) << "construction from null gives the empty string too";
    EXPECT_EQ(0u, sim.LiveBlocks()) << "every string's storage is freed";
}

TEST_F(StringTest, FindGivesTheFirstCaseSensitiveMatchAnywhere)
{
    struct Case { const char* text; const char* sub; int expected; } cases[] = {
        {"_INS5176._MP", "_INS5176._MP", 0},
        {"C:\\WINDOWS\\TEMP\\_INS5176._MP", "_INS5176._MP", 16},
        {"x_ISDEL.EXEy", "_ISDEL.EXE", 1},
        {"_isdel.exe", "_ISDEL.EXE", -1},
        {"_Ins5176._MP", "_INS5176._MP", -1},
        {"", "_ISDEL.EXE", -1},
        {"_ISDEL.EX", "_ISDEL.EXE", -1},
        {"abcabc", "cab", 2},
        {"aaaa", "aa", 0},
        {"setup.exe _ISDEL.EXE _ISDEL.EXE", "_ISDEL.EXE", 10},
    };
    for (const Case& c : cases) {
        CString s;
        s = c.text;
        EXPECT_EQ(c.expected, s.Find(c.sub)) << "\"" << c.text << "\".Find(\"" << c.sub << "\")";
    }
    CString s("a.b.c");
    EXPECT_EQ(1, s.Find('.'));
    EXPECT_EQ(-1, s.Find('x'));
}

TEST_F(StringTest, FindMatchesOnlyWhereACharacterStartsUnderADoubleByteCodePage)
{
    // Shift-JIS lead bytes. 0x5C ('\') is a trail byte after a lead byte.
    struct Case { const char* text; const char* sub; int sbcs; int dbcs; } cases[] = {
        {"\x95\x5C\\", "\\", 1, 2},                 // the trail byte is not a backslash
        {"\x95\x5C" "_ISDEL.EXE", "_ISDEL.EXE", 2, 2},
        {"\x81\x81\x41", "\x81\x41", 1, -1},        // would start inside a character
        {"a\x81\x41", "\x81\x41", 1, 1},            // here 0x81 0x41 is a character
        {"\x95\x5C", "\x95\x5C", 0, 0},
        {"\x95_INS5176._MP", "_INS5176._MP", 1, -1},   // '_' is the lead byte's partner
    };
    for (const Case& c : cases) {
        CString s;
        s = c.text;
        sim.ClearLeadBytes();
        EXPECT_EQ(c.sbcs, s.Find(c.sub)) << "single-byte code page, case " << (&c - cases);
        sim.SetLeadBytes(0x81, 0x9F);
        sim.SetLeadBytes(0xE0, 0xFC);
        EXPECT_EQ(c.dbcs, s.Find(c.sub)) << "double-byte code page, case " << (&c - cases);
    }
}

}  // namespace
