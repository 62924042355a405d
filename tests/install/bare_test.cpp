// A program that carries no game and has no build kit beside it: neither mode
// can be carried out, and the install stops before it opens or writes a thing.
#include <gtest/gtest.h>

#include "installcheck.h"
#include "testsupport.h"

TEST(InstallBare, NeitherModeIsAvailable)
{
    char kit[520];
    EXPECT_EQ(0, prebuilt_available());
    EXPECT_EQ(0, kit_available(kit, sizeof kit));
    EXPECT_EQ(exe_dir() + "\\builder", kit) << "the kit's folder is written all the same";
}

TEST(InstallBare, StopsAtTheModeCheck)
{
    struct {
        int build;
        const char *mode, *error;
    } cases[] = {
        {0, "prebuilt", "ERROR: this setup does not contain the prebuilt game"},
        {1, "convert on this PC", "ERROR: the build kit (builder folder) is missing next to setup"},
    };
    for (auto &c : cases) {
        std::string dir = scratch(c.mode) + "\\Tarnok";
        std::vector<std::string> lines;
        // Sources that do not exist: the check comes before they are opened.
        EXPECT_EQ(0, install(options("Q:\\nope1", "Q:\\nope2", "Q:\\nope.exe", dir, c.build), &lines));
        EXPECT_EQ((std::vector<std::string>{"Install to " + dir + " (" + c.mode + ")", c.error}), lines);
        EXPECT_FALSE(dir_exists(dir));
    }
}

TEST(InstallBare, AnyOtherModeValueSkipsTheCheckAndFailsAtTheWrite)
{
    std::string dir = scratch() + "\\Tarnok";
    std::vector<std::string> lines;
    ASSERT_EQ(0, install(options(media_path("disc1"), media_path("disc2"), media_path("TARNO103.EXE"), dir, 7), &lines));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("Install to " + dir + " (prebuilt)", lines.front());
    EXPECT_EQ("ERROR: this setup does not contain the prebuilt game - choose \"Convert on this PC\"", lines.back());
}
