// The setup window at one display scaling (TARNOK_DPI, set in the prefix by
// scaling-run.sh), as it starts and after a failed install: every text fits
// its control, measured with the font the window gives its controls, and no
// control overlaps another or leaves the client area. A screenshot of the
// window goes to test-output\gui\scaling-<dpi>.png, and of the failed one
// to scaling-<dpi>-failed.png.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "guisupport.h"
#include "testsupport.h"

namespace {

int wanted_dpi()
{
    const char *d = getenv("TARNOK_DPI");
    return d ? atoi(d) : 96;
}

struct Control {
    int n;
    HWND w;
    std::string cls, text;
    LONG style;
    RECT r; // in the client area of the setup window
};

std::string describe(const Control &c) { return "#" + std::to_string(c.n) + " " + c.cls + " \"" + c.text + "\""; }

std::vector<Control> controls_of(HWND top)
{
    std::vector<Control> out;
    int n = gd_control_count(top);
    for (int i = 1; i <= n; i++) {
        Control c;
        c.n = i;
        c.w = gd_control(top, i);
        char cls[64] = "";
        GetClassNameA(c.w, cls, sizeof cls);
        c.cls = cls;
        c.text = text_of(c.w);
        c.style = GetWindowLongA(c.w, GWL_STYLE);
        GetWindowRect(c.w, &c.r);
        MapWindowPoints(HWND_DESKTOP, top, (POINT *)&c.r, 2);
        out.push_back(c);
    }
    return out;
}

// What the text needs, drawn with `flags` into `width` (DT_CALCRECT).
SIZE measure(HWND w, const std::string &text, UINT flags, int width, TEXTMETRICA *tm)
{
    HDC dc = GetDC(nullptr);
    HFONT f = control_font(w);
    HGDIOBJ old = SelectObject(dc, f ? (HGDIOBJ)f : GetStockObject(DEFAULT_GUI_FONT));
    GetTextMetricsA(dc, tm);
    RECT r = {0, 0, width, 0};
    DrawTextA(dc, text.c_str(), -1, &r, flags | DT_CALCRECT);
    SelectObject(dc, old);
    if (f)
        DeleteObject(f);
    ReleaseDC(nullptr, dc);
    SIZE s = {r.right - r.left, r.bottom - r.top};
    return s;
}

// The room a control gives its text, and the text's need, by kind.
void expect_text_fits(const Control &c)
{
    SCOPED_TRACE(describe(c));
    RECT client;
    GetClientRect(c.w, &client);
    int cw = client.right, ch = client.bottom;
    TEXTMETRICA tm = {};
    if (c.cls == "Static") {
        UINT flags = DT_EXPANDTABS | ((c.style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
        // With an ellipsis style the text is one line, which must be whole.
        flags |= (c.style & SS_ELLIPSISMASK) ? DT_SINGLELINE : DT_WORDBREAK;
        SIZE need = measure(c.w, c.text, flags, cw, &tm);
        EXPECT_LE(need.cx, cw);
        EXPECT_LE(need.cy, ch);
    } else if (c.cls == "Button") {
        int type = c.style & BS_TYPEMASK;
        SIZE need = measure(c.w, c.text, DT_SINGLELINE, 10000, &tm);
        int room = cw;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)
            room -= 2 * GetSystemMetrics(SM_CXEDGE) + tm.tmAveCharWidth; // the frame and a little air
        else
            room -= GetSystemMetrics(SM_CXMENUCHECK) + tm.tmAveCharWidth; // the box and its gap
        EXPECT_LE(need.cx, room);
        EXPECT_LE(need.cy, ch);
    } else if (c.cls == "Edit") {
        measure(c.w, "Ay", DT_SINGLELINE, 10000, &tm);
        EXPECT_LE(tm.tmHeight, ch);
    } else if (c.cls == "ListBox") {
        measure(c.w, "Ay", DT_SINGLELINE, 10000, &tm);
        EXPECT_LE(3 * tm.tmHeight, ch) << "fewer than three lines";
    }
}

struct Window {
    Child child;
    HWND w = nullptr;
    ~Window() { end_child(child); }
};

// Every control of the window: its text fits, it stays inside the client
// area and overlaps no other; at 96 DPI each is where the layout puts it.
void expect_laid_out(HWND top, int dpi, size_t count)
{
    RECT client;
    GetClientRect(top, &client);
    std::vector<Control> all = controls_of(top);
    ASSERT_EQ(count, all.size());
    // The font made again here is the one the list box sized its lines by.
    TEXTMETRICA tm = {};
    measure(all[0].w, "Ay", DT_SINGLELINE, 10000, &tm);
    EXPECT_EQ(tm.tmHeight, (int)SendMessageA(all[C_LIST - 1].w, LB_GETITEMHEIGHT, 0, 0));
    for (const Control &c : all) {
        expect_text_fits(c);
        RECT in;
        EXPECT_TRUE(c.r.left >= 0 && c.r.top >= 0 && c.r.right <= client.right && c.r.bottom <= client.bottom)
            << describe(c) << " leaves the client area";
        for (const Control &o : all) {
            if (o.n > c.n) {
                EXPECT_FALSE(IntersectRect(&in, &c.r, &o.r)) << describe(c) << " overlaps " << describe(o);
            }
        }
    }
    // At 96 DPI the window is laid out as it always was; only the intro is
    // as tall as its three lines (here 39 pixels) instead of 36.
    if (dpi != 96)
        return;
    const RECT layout[25] = {
        {16, 14, 616, 50},    {16, 66, 106, 86},    {110, 62, 470, 86},   {478, 62, 544, 86},
        {548, 62, 614, 86},   {16, 98, 106, 118},   {110, 94, 470, 118},  {478, 94, 544, 118},
        {548, 94, 614, 118},  {16, 130, 106, 150},  {110, 126, 470, 150}, {478, 126, 614, 150},
        {16, 162, 106, 182},  {110, 158, 470, 182}, {478, 158, 614, 182}, {16, 198, 316, 220},
        {16, 222, 536, 244},  {16, 254, 216, 276},  {230, 254, 430, 276}, {16, 288, 614, 306},
        {16, 312, 614, 332},  {16, 336, 614, 446},  {418, 456, 514, 486}, {518, 456, 614, 486},
        {318, 456, 414, 486},
    };
    EXPECT_EQ(630, client.right);
    EXPECT_EQ(520, client.bottom);
    for (const Control &c : all) {
        RECT want = layout[c.n - 1];
        if (c.n == 1)
            want.bottom = c.r.bottom > want.bottom ? c.r.bottom : want.bottom;
        EXPECT_TRUE(EqualRect(&want, &c.r)) << describe(c) << " at " << c.r.left << "," << c.r.top << " "
                                            << c.r.right - c.r.left << "x" << c.r.bottom - c.r.top;
    }
}

} // namespace

class Scaling : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetProcessDPIAware(); }
};

TEST_F(Scaling, EveryTextFitsAndNothingOverlaps)
{
    const int dpi = wanted_dpi();
    HDC screen = GetDC(nullptr);
    ASSERT_EQ(dpi, GetDeviceCaps(screen, LOGPIXELSY)) << "the prefix does not have the scaling";
    ReleaseDC(nullptr, screen);

    std::string dir = scratch("setup");
    // Filled fields as after a detection: a long path shows in its field
    // without widening anything.
    std::string exe = stage_setup(dir, "setup_game");
    stage_holding_kit(dir);
    Window win;
    win.child = start_setup(exe, "/cd1 D:\\ /cd2 E:\\ /patch C:\\Downloads\\TARNO103.EXE", scratch("tmp"));
    win.w = setup_window(win.child);
    ASSERT_NE(nullptr, win.w) << "no setup window";
    RECT client;
    GetClientRect(win.w, &client);
    EXPECT_EQ(MulDiv(630, dpi, 96), client.right);
    EXPECT_GE(client.bottom, MulDiv(520, dpi, 96));
    screenshot_window("scaling-" + std::to_string(dpi), win.w);

    expect_laid_out(win.w, dpi, 24);

    // An install that fails at once (there are no discs) shows Copy
    // details beside Install and Close.
    ASSERT_TRUE(gd_click(gd_control(win.w, C_INSTALL)));
    ASSERT_TRUE(gd_wait_text(gd_control(win.w, C_STATUS), text_failed, 60000)) << field(win.w, C_STATUS);
    screenshot_window("scaling-" + std::to_string(dpi) + "-failed", win.w);
    expect_laid_out(win.w, dpi, 25);
    PostMessageA(win.w, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gd_wait_gone(win.w, 10000));
    EXPECT_EQ(0, wait_exit(win.child));
}
