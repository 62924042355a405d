// The one name check every reader uses, and the one way names from media
// are shown in log lines.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "util/util.h"

namespace {

int reserved(const std::string &s) { return name_reserved(s.data(), s.size()); }

} // namespace

TEST(NameReserved, DevicesInEveryDisguise)
{
    const char *devices[] = {
        "CON", "PRN", "AUX", "NUL", "con", "Nul", "aUx",
        "COM0", "COM1", "com9", "LPT0", "LPT1", "lpt9",
        "CONIN$", "CONOUT$", "CLOCK$", "conin$", "Clock$",
        "NUL.TXT", "AUX.TXT", "COM1.DAT", "CONOUT$.LOG", "NUL.TAR.GZ",
        "NUL ", "AUX ", "COM1 ", "NUL.", "NUL..", "NUL . .", "NUL .TXT", "nul   .a",
        "COM\xB9", "COM\xB2", "LPT\xB3", "lpt\xB9.txt", // superscripts in code page 1252
        "COM\xC2\xB9", "LPT\xC2\xB2.DAT", "com\xC2\xB3 ", // the same in UTF-8
    };
    for (const char *n : devices)
        EXPECT_EQ(1, reserved(n)) << n;
}

TEST(NameReserved, EndsInADotOrABlank)
{
    for (const char *n : {".", "..", "...", "A.", "A ", "A. ", "NOEXT.", "A.B.", " "})
        EXPECT_EQ(1, reserved(n)) << n;
}

TEST(NameReserved, OrdinaryNamesPass)
{
    const char *fine[] = {
        "README.TXT", "A", "NOEXT", ".A", "...A", "A.B", "CONFIG.SYS", "CONSOLE", "NULL", "AUXI.TXT",
        "COM", "COM10", "LPT", "LPT10", "COMA", "COM1A", "CO", "PRN1", "CONIN", "CONIN$$", "CLOCK",
        " NUL", "_NUL", "NUL_", "COM\xB4", "COM\xC2\xB4", "COM\xC2", "COM\xC2\xB9\xB9", "A B",
    };
    for (const char *n : fine)
        EXPECT_EQ(0, reserved(n)) << n;
    // Only the len bytes given count: the step of a longer path.
    EXPECT_EQ(1, name_reserved("NUL\\FILE", 3));
    EXPECT_EQ(0, name_reserved("FILE\\NUL", 4));
    EXPECT_EQ(0, name_reserved("", 0));
}

TEST(NameEscape, ControlBytesAreShownAsEscapes)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        {"PLAIN.TXT", "PLAIN.TXT"},
        {"C:\\game\\A B\\x.txt", "C:\\game\\A B\\x.txt"},
        {"A\nforged line", "A\\nforged line"},
        {"\r\nERROR: forged", "\\r\\nERROR: forged"},
        {"TAB\tHERE", "TAB\\tHERE"},
        {"\x01\x1B[31m\x7F", "\\x01\\x1B[31m\\x7F"},
        {"caf\xE9 \xC3\xA9", "caf\xE9 \xC3\xA9"}, // code page and UTF-8 bytes stay
    };
    for (const Case &c : cases) {
        char out[64];
        EXPECT_EQ(c.out, name_escape(c.in.c_str(), out, sizeof out)) << c.out;
    }
}

TEST(NameEscape, CutsWholeEscapesOnly)
{
    char out[6];
    memset(out, '#', sizeof out);
    EXPECT_STREQ("AB", name_escape("AB\x01" "CD", out, sizeof out)) << "\\x01 needs four of the five bytes left";
    EXPECT_STREQ("ABC\\n", name_escape("ABC\nD", out, sizeof out));
    EXPECT_STREQ("ABCDE", name_escape("ABCDEFG", out, sizeof out));
    char one[1] = {'#'};
    EXPECT_STREQ("", name_escape("A", one, sizeof one));
}
