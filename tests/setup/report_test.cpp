// What the setup window is told while an install runs: the log lines and
// the progress, posted to a real window of the test.
#include <windows.h>

#include <gtest/gtest.h>

#include "setup/setup.h"
#include "testsupport.h"

// A real window of the test receives what the log posts.
struct Posted {
    std::vector<std::string> lines;
    std::vector<int> progress;
};

static Posted pump(HWND w)
{
    Posted got;
    MSG m;
    while (PeekMessageA(&m, w, 0, 0, PM_REMOVE)) {
        if (m.message == WM_SETUP_LOG) {
            got.lines.push_back((const char *)m.lParam);
            free((void *)m.lParam);
        } else if (m.message == WM_SETUP_PROGRESS) {
            got.progress.push_back((int)m.wParam);
        }
    }
    return got;
}

TEST(Report, PostsToTheWindowUnlessSilent)
{
    HWND w = CreateWindowExA(0, "STATIC", "t", 0, 0, 0, 10, 10, HWND_MESSAGE, NULL, NULL, NULL);
    ASSERT_NE(nullptr, w);
    log_reset();
    setup_log("before the window");
    report_to(w);
    on_progress(0, 100, nullptr);   // the first report is posted, even 0
    on_progress(0, 100, nullptr);   // a repeat is not
    on_progress(5, 1000, nullptr);  // still 5 per mille
    on_progress(6, 1000, nullptr);
    on_progress(7, 0, nullptr);     // total 0 gives 0
    on_progress(500, 100, nullptr); // past the budget: 1000
    on_progress(~0ull / 1000, 1, nullptr); // far past it: still 1000, never negative
    setup_log("line %d", 1);
    std::string big(2000, 'y');
    setup_log("%s", big.c_str());
    Posted got = pump(w);
    EXPECT_EQ((std::vector<int>{0, 5, 6, 0, 1000}), got.progress);
    EXPECT_EQ((std::vector<std::string>{"line 1", std::string(1023, 'y')}), got.lines);

    report_to(nullptr); // as an unattended install: no window
    setup_log("quiet");
    on_progress(1, 2, nullptr);
    got = pump(w);
    EXPECT_TRUE(got.lines.empty());
    EXPECT_TRUE(got.progress.empty());
    report_to(w);
    on_progress(1, 2, nullptr);
    EXPECT_EQ((std::vector<int>{500}), pump(w).progress) << "a silent report leaves the last value alone";
    report_to(nullptr);
    DestroyWindow(w);

    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("before the window", lines[0]);
    EXPECT_EQ("quiet", lines[3]) << "silent lines still reach the file";
}
