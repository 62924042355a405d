#include "guisupport.h"

#include <cstdlib>
#include <cstring>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "testsupport.h"
#include "util/util.h"

const char *const text_ready = "Ready. About 1.5 GB of free space is needed.";
const char *const text_failed = "The installation did not finish - see the messages above.";
const char *const text_installed = "Tarnok is installed.";
const char *const text_copied = "The details are on the clipboard: paste them where you ask for help.";

static std::string unix_build()
{
    const char *b = getenv("TARNOK_UNIX_BUILD");
    return b ? b : "";
}

std::string stage_setup(const std::string &folder, const std::string &variant,
                        const std::vector<std::string> &media_files)
{
    std::string exe = folder + "\\setup.exe";
    EXPECT_TRUE(CopyFileA(build_path(variant + ".exe").c_str(), exe.c_str(), FALSE)) << variant;
    for (const std::string &f : media_files) {
        std::string name = f.substr(f.find_last_of('\\') + 1);
        EXPECT_TRUE(CopyFileA(media_path(f).c_str(), (folder + "\\" + name).c_str(), FALSE)) << f;
    }
    return exe;
}

const char *const player_downloads = "C:\\Games\\Downloads";
const char *const player_folder = "C:\\Games\\Tarnok PC";

std::string stage_player(const std::string &variant, const std::vector<std::string> &media_files)
{
    delete_tree(player_folder);
    delete_tree(player_downloads);
    EXPECT_FALSE(dir_exists(player_folder)) << "an earlier install is left in " << player_folder;
    make_dirs(player_downloads);
    return stage_setup(player_downloads, variant, media_files);
}

void stage_holding_kit(const std::string &folder)
{
    std::string kit = folder + "\\builder";
    make_dirs((kit + "\\tools").c_str());
    make_dirs((kit + "\\python").c_str());
    spit(kit + "\\tools\\recomp.py", "# stand-in\n");
    std::string driver = build_path("tools\\gui-driver\\gui-driver.exe");
    ASSERT_TRUE(CopyFileA(driver.c_str(), (kit + "\\python\\python.exe").c_str(), FALSE));
}

void hold_release(const std::string &folder) { spit(folder + "\\builder\\python\\release", ""); }

bool hold_reached(const std::string &folder, DWORD timeout_ms)
{
    std::string mark = folder + "\\builder\\python\\holding";
    return eventually([&] { return file_exists(mark); }, timeout_ms);
}

void stage_kit(const std::string &folder) { copy_tree(build_path("tests\\gui\\builder"), folder + "\\builder"); }

std::vector<DWORD> children_of(DWORD pid)
{
    std::vector<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32 pe;
    pe.dwSize = sizeof pe;
    for (BOOL more = Process32First(snap, &pe); more; more = Process32Next(snap, &pe))
        if (pe.th32ParentProcessID == pid && pe.th32ProcessID != pid)
            ids.push_back(pe.th32ProcessID);
    CloseHandle(snap);
    return ids;
}

Child start_setup(const std::string &exe, const std::string &args, const std::string &tmp)
{
    delete_tree(tmp.c_str());
    make_dirs(tmp.c_str());
    return start_setup_in(exe, args, tmp);
}

Child start_setup_in(const std::string &exe, const std::string &args, const std::string &tmp)
{
    Child c;
    c.tmp = tmp;
    // The child inherits this process's environment: point its temporary
    // folder at its own, then put ours back.
    char old_tmp[MAX_PATH] = "", old_temp[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", old_tmp, sizeof old_tmp);
    GetEnvironmentVariableA("TEMP", old_temp, sizeof old_temp);
    SetEnvironmentVariableA("TMP", tmp.c_str());
    SetEnvironmentVariableA("TEMP", tmp.c_str());
    std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        c.process = pi.hProcess;
        c.pid = pi.dwProcessId;
    } else {
        ADD_FAILURE() << "cannot start " << cmd;
    }
    SetEnvironmentVariableA("TMP", old_tmp);
    SetEnvironmentVariableA("TEMP", old_temp);
    return c;
}

int wait_exit(Child &c, DWORD timeout_ms)
{
    if (!c.process)
        return -1;
    if (WaitForSingleObject(c.process, timeout_ms) != WAIT_OBJECT_0)
        return -2;
    DWORD code = 0;
    GetExitCodeProcess(c.process, &code);
    CloseHandle(c.process);
    c.process = nullptr;
    return (int)code;
}

void end_child(Child &c)
{
    if (!c.process)
        return;
    TerminateProcess(c.process, 99);
    WaitForSingleObject(c.process, 10000);
    CloseHandle(c.process);
    c.process = nullptr;
}

std::vector<std::string> child_log(const Child &c)
{
    // The child, and any program it started, may still hold it open.
    std::string text;
    HANDLE f = CreateFileA((c.tmp + "\\tarnok_setup.log").c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) {
        char buf[65536];
        DWORD got;
        while (ReadFile(f, buf, sizeof buf, &got, NULL) && got)
            text.append(buf, got);
        CloseHandle(f);
    }
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no line end>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> report_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

int run_report(const std::string &exe, const std::string &args, const std::string &tmp, std::string *text)
{
    std::string file = scratch("report") + "\\details.txt";
    Child c = start_setup_in(exe, "/report \"" + file + "\"" + (args.empty() ? "" : " " + args), tmp);
    int code = wait_exit(c, 120000);
    end_child(c);
    bool ok = false;
    *text = slurp(file, &ok);
    if (!ok)
        text->clear();
    return code;
}

static std::string utf8_of(const wchar_t *w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? (size_t)n : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
    s.resize(strlen(s.c_str()));
    return s;
}

std::string clipboard_text(std::string *ansi)
{
    std::string text;
    if (ansi)
        ansi->clear();
    if (!eventually([] { return OpenClipboard(nullptr) != 0; }, 5000))
        return text;
    HANDLE h = GetClipboardData(CF_UNICODETEXT);
    const wchar_t *w = h ? (const wchar_t *)GlobalLock(h) : nullptr;
    if (w) {
        text = utf8_of(w);
        GlobalUnlock(h);
    }
    HANDLE a = ansi ? GetClipboardData(CF_TEXT) : nullptr;
    const char *bytes = a ? (const char *)GlobalLock(a) : nullptr;
    if (bytes) {
        *ansi = bytes;
        GlobalUnlock(a);
    }
    CloseClipboard();
    return text;
}

void clipboard_clear()
{
    if (eventually([] { return OpenClipboard(nullptr) != 0; }, 5000)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

std::string line_starting(const std::vector<std::string> &lines, const std::string &head)
{
    for (const std::string &l : lines)
        if (l.compare(0, head.size(), head) == 0)
            return l;
    return "";
}

HWND setup_window(const Child &c, DWORD timeout_ms)
{
    return gd_find_window("TarnokSetup", nullptr, c.pid, timeout_ms);
}

std::string text_of(HWND w)
{
    char buf[1024];
    gd_text(w, buf, sizeof buf);
    return buf;
}

std::string field(HWND top, int n) { return text_of(gd_control(top, n)); }

std::vector<std::string> list_lines(HWND top)
{
    HWND lst = gd_control(top, C_LIST);
    std::vector<std::string> lines;
    char buf[1024];
    int n = gd_list_count(lst);
    for (int i = 0; i < n; i++) {
        gd_list_item(lst, i, buf, sizeof buf);
        lines.push_back(buf);
    }
    return lines;
}

// Wine starts a Unix program from CreateProcess but gives no handles for
// it: the process handle is null and the thread handle a stray 1, which
// must not be closed (doing so over and over closed an unrelated handle of
// this process, here the setup child's).
static bool start_unix(const std::string &cmd)
{
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    if (pi.hProcess) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    return true;
}

static void add_text(std::string *out, const char *kind, const std::string &text)
{
    if (text.empty())
        return;
    std::string line = text;
    for (char &c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    *out += std::string(kind) + ": " + line + "\n";
}

static BOOL CALLBACK add_control(HWND w, LPARAM lp)
{
    std::string *out = (std::string *)lp;
    if (!IsWindowVisible(w))
        return TRUE;
    char cls[64] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (_stricmp(cls, "ListBox") != 0) {
        add_text(out, "text", text_of(w));
        return TRUE;
    }
    char line[1024];
    int n = gd_list_count(w);
    for (int i = 0; i < n; i++) {
        gd_list_item(w, i, line, sizeof line);
        add_text(out, "list", line);
    }
    return TRUE;
}

static BOOL CALLBACK add_window(HWND w, LPARAM lp)
{
    std::string *out = (std::string *)lp;
    if (!IsWindowVisible(w))
        return TRUE;
    char cls[64] = "";
    GetClassNameA(w, cls, sizeof cls);
    *out += std::string("window ") + cls + "\n";
    add_text(out, "title", text_of(w));
    EnumChildWindows(w, add_control, lp);
    return TRUE;
}

// The texts the display shows, for the screenshot's <name>.txt: first the
// running test's name and every test name of the program.
static std::string display_texts()
{
    std::string out;
    const testing::UnitTest *u = testing::UnitTest::GetInstance();
    const testing::TestInfo *now = u->current_test_info();
    if (now)
        out += std::string("# test ") + now->test_suite_name() + "." + now->name() + "\n";
    out += "# names";
    for (int i = 0; i < u->total_test_suite_count(); i++) {
        const testing::TestSuite *s = u->GetTestSuite(i);
        for (int j = 0; j < s->total_test_count(); j++)
            out += std::string(" ") + s->name() + "." + s->GetTestInfo(j)->name();
    }
    out += "\n";
    EnumWindows(add_window, (LPARAM)&out);
    return out;
}

// The PNG is written under a temporary name and appears when it is complete.
static void take_shot(const std::string &name, const std::string &crop)
{
    std::string dir = build_path("test-output\\gui");
    make_dirs(dir.c_str());
    std::string png = dir + "\\" + name + ".png";
    DeleteFileA(png.c_str());
    spit(dir + "\\" + name + ".txt", display_texts());
    std::string unix_png = unix_build() + "/test-output/gui/" + name + ".png";
    std::string cmd = "/bin/sh -c \"/usr/bin/import -window root " + crop + "'" + unix_png + ".part.png' && mv '" +
                      unix_png + ".part.png' '" + unix_png + "'\"";
    ASSERT_TRUE(start_unix(cmd)) << cmd;
    EXPECT_TRUE(eventually([&] { return file_exists(png); }, 20000)) << "no screenshot " << png;
}

void screenshot(const std::string &name) { take_shot(name, ""); }

void screenshot_window(const std::string &name, HWND w)
{
    // A window just shown may not have painted all its controls yet: have
    // them painted now, through WM_PAINT sent to the window's thread.
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT r;
    GetWindowRect(w, &r);
    take_shot(name, "-crop " + std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
                        std::to_string(r.left) + "+" + std::to_string(r.top) + " +repage ");
}

// Wine keeps the X window of a top-level window in the property
// "__wine_x11_whole_window". It starts a Unix program without waiting for
// it: the marker file that the shell makes after xdotool tells when the
// keys are through.
void press_keys(HWND top, const std::string &keys)
{
    static int n;
    UINT_PTR xid = (UINT_PTR)GetPropA(top, "__wine_x11_whole_window");
    ASSERT_NE(0u, xid) << "no X window";
    std::string name = "keys" + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++n);
    std::string mark = build_path("test-output\\" + name);
    std::string unix_mark = unix_build() + "/test-output/" + name;
    make_dirs(build_path("test-output").c_str());
    // Wine maps the X window a little after the window shows: until then
    // the X server refuses it the focus (BadMatch), so xdotool tries again.
    std::string focus = "until timeout 5 xdotool windowfocus --sync " + std::to_string(xid) +
                        " 2>/dev/null; do i=$((i + 1)); [ $i -ge 50 ] && break; sleep 0.1; done";
    std::string cmd = "/bin/sh -c \"i=0; " + focus + "; xdotool key --delay 60 " + keys + "; touch '" + unix_mark +
                      "'\"";
    ASSERT_TRUE(start_unix(cmd)) << cmd;
    EXPECT_TRUE(eventually([&] { return file_exists(mark); }, 20000)) << "xdotool did not finish: " << keys;
    DeleteFileA(mark.c_str());
}

HWND focus_of(HWND top)
{
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &gti))
        return nullptr;
    return gti.hwndFocus;
}

// Under Wine WM_GETFONT answers 0 to another process, and a GDI handle
// would not cross processes anyway: the font is made again as the window
// makes it, from the system's message font. A list box sizes its lines by
// its font, which lets a test check the match (LB_GETITEMHEIGHT).
HFONT control_font(HWND w)
{
    (void)w;
    NONCLIENTMETRICSA ncm = {};
    ncm.cbSize = sizeof ncm;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0))
        return nullptr;
    return CreateFontIndirectA(&ncm.lfMessageFont);
}

int text_width(HWND w, const std::string &text)
{
    HDC dc = GetDC(nullptr);
    HFONT f = control_font(w);
    HGDIOBJ old = SelectObject(dc, f ? (HGDIOBJ)f : GetStockObject(DEFAULT_GUI_FONT));
    SIZE sz = {0, 0};
    GetTextExtentPoint32A(dc, text.c_str(), (int)text.size(), &sz);
    SelectObject(dc, old);
    if (f)
        DeleteObject(f);
    ReleaseDC(nullptr, dc);
    return sz.cx;
}

HWND uninstall_answer_yes(Child &first, std::string *text, const char *question_shot)
{
    HWND ask = gd_find_box("Tarnok uninstall", first.pid, 20000);
    EXPECT_NE(nullptr, ask) << "the first stage asks nothing";
    if (!ask)
        return nullptr;
    if (question_shot)
        screenshot(question_shot);
    gd_answer(ask, IDYES);
    EXPECT_EQ(0, wait_exit(first));
    HWND done = nullptr;
    bool came = eventually([&] {
        done = gd_find_box("Tarnok uninstall", 0, 0);
        return done != nullptr && done != ask;
    });
    EXPECT_TRUE(came) << "the second stage shows no message";
    if (!came)
        return nullptr;
    char buf[1024];
    gd_box_text(done, buf, sizeof buf);
    *text = buf;
    return done;
}
