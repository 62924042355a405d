// Install folders named in any language: setup.exe installs into exactly
// the folder the player named, from the command line and through the
// window's field, and the uninstall entry, the shortcuts and the two-stage
// uninstall all keep the exact name. Where the system's code page lacks a
// character (a Windows without the UTF-8 code page), the path is refused
// rather than replaced by a lookalike. This program carries setup.exe's
// manifest, so its own ANSI calls speak UTF-8 too; every name that matters
// is read back through the wide functions.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <set>

#include "guisupport.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

const wchar_t *const entry_key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnokVBL_Pellurin";

std::string utf8(const std::wstring &w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, NULL, 0, NULL, NULL);
    std::string s((size_t)(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, NULL, NULL);
    s.resize(strlen(s.c_str()));
    return s;
}

bool exists_w(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::set<std::wstring> entries_w(const std::wstring &folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(fd.cFileName, L".") && wcscmp(fd.cFileName, L".."))
            names.insert(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

// A value of the uninstall entry as the wide registry functions give it;
// "<missing>" when there is none.
std::wstring entry_text(const wchar_t *name)
{
    HKEY k;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, entry_key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return L"<missing>";
    wchar_t buf[2048];
    DWORD size = sizeof buf - sizeof buf[0], type = 0;
    LONG r = RegQueryValueExW(k, name, NULL, &type, (BYTE *)buf, &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS || type != REG_SZ)
        return L"<missing>";
    buf[size / sizeof buf[0]] = 0;
    return buf;
}

bool entry_exists()
{
    HKEY k;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, entry_key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

std::wstring link_path(int csidl)
{
    wchar_t folder[MAX_PATH] = L"";
    if (SHGetFolderPathW(NULL, csidl, NULL, 0, folder) != S_OK)
        return L"";
    return std::wstring(folder) + L"\\Tarnok - Vorblen.lnk";
}

struct Link {
    std::wstring target, workdir, icon;
};

// A shortcut as IShellLinkW reads it.
Link read_link(const std::wstring &lnk)
{
    Link l;
    IShellLinkW *sl = NULL;
    IPersistFile *pf = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&sl)))
        return l;
    wchar_t buf[1024];
    int icon = -1;
    if (SUCCEEDED(sl->QueryInterface(IID_IPersistFile, (void **)&pf)) && SUCCEEDED(pf->Load(lnk.c_str(), STGM_READ))) {
        if (SUCCEEDED(sl->GetPath(buf, 1024, NULL, SLGP_RAWPATH)))
            l.target = buf;
        if (SUCCEEDED(sl->GetWorkingDirectory(buf, 1024)))
            l.workdir = buf;
        if (SUCCEEDED(sl->GetIconLocation(buf, 1024, &icon)))
            l.icon = buf;
    }
    if (pf)
        pf->Release();
    sl->Release();
    return l;
}

// Starts a program with a wide command line, as Explorer would, with its own
// temporary folder when tmp is not empty.
Child start_w(const std::wstring &cmd, const std::wstring &cwd, const std::wstring &tmp)
{
    Child c;
    c.tmp = utf8(tmp);
    wchar_t old_tmp[MAX_PATH] = L"", old_temp[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"TMP", old_tmp, MAX_PATH);
    GetEnvironmentVariableW(L"TEMP", old_temp, MAX_PATH);
    if (!tmp.empty()) {
        SetEnvironmentVariableW(L"TMP", tmp.c_str());
        SetEnvironmentVariableW(L"TEMP", tmp.c_str());
    }
    std::wstring line = cmd;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, cwd.empty() ? NULL : cwd.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        c.process = pi.hProcess;
        c.pid = pi.dwProcessId;
    } else {
        ADD_FAILURE() << "cannot start " << utf8(cmd);
    }
    SetEnvironmentVariableW(L"TMP", old_tmp);
    SetEnvironmentVariableW(L"TEMP", old_temp);
    return c;
}

std::wstring wide(const std::string &s)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, NULL, 0);
    std::wstring w((size_t)(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &w[0], n);
    w.resize(wcslen(w.c_str()));
    return w;
}

std::wstring media_args()
{
    return L"/cd1 \"" + wide(media_path("disc1.iso")) + L"\" /cd2 \"" + wide(media_path("disc2")) + L"\" /patch \"" +
           wide(media_path("TARNO103.EXE")) + L"\"";
}

// Everything that names the folder names it exactly: the files, the
// uninstall entry and both shortcuts.
void expect_installed_at(const std::wstring &dir)
{
    EXPECT_TRUE(exists_w(dir + L"\\tarnok.exe"));
    EXPECT_TRUE(exists_w(dir + L"\\uninstall.exe"));
    EXPECT_TRUE(exists_w(dir + L"\\game\\hd\\TARNOK\\TARNOKP2.EXE"));
    EXPECT_TRUE(exists_w(dir + L"\\game\\cd1\\TARNOK\\DISK1\\DISK1"));
    EXPECT_TRUE(exists_w(dir + L"\\game\\cd2\\TARNOK\\DISK2\\DISK2"));
    EXPECT_TRUE(entry_text(L"InstallLocation") == dir) << utf8(entry_text(L"InstallLocation"));
    EXPECT_TRUE(entry_text(L"UninstallString") == L"\"" + dir + L"\\uninstall.exe\" /uninstall")
        << utf8(entry_text(L"UninstallString"));
    EXPECT_TRUE(entry_text(L"DisplayIcon") == dir + L"\\tarnok.exe,0") << utf8(entry_text(L"DisplayIcon"));
    CoInitialize(NULL);
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_DESKTOPDIRECTORY}) {
        Link l = read_link(link_path(csidl));
        EXPECT_TRUE(l.target == dir + L"\\tarnok.exe") << csidl << ": " << utf8(l.target);
        EXPECT_TRUE(l.workdir == dir) << csidl << ": " << utf8(l.workdir);
        EXPECT_TRUE(l.icon == dir + L"\\tarnok.exe") << csidl << ": " << utf8(l.icon);
    }
    CoUninitialize();
}

// The two stages as a player starts them: uninstall.exe from the install
// folder, Yes to the question, OK to the message. Everything goes.
void uninstall_two_stages(const std::wstring &dir, const std::wstring &tmp)
{
    Child first = start_w(L"\"" + dir + L"\\uninstall.exe\" /uninstall", dir, tmp);
    std::string text;
    HWND done = uninstall_answer_yes(first, &text);
    ASSERT_NE(nullptr, done);
    EXPECT_EQ("Tarnok: Vorblen has been removed.", text);
    gd_answer(done, IDOK);
    EXPECT_TRUE(gd_wait_gone(done, 20000));
    EXPECT_FALSE(exists_w(dir)) << "the install folder is still there";
    EXPECT_FALSE(exists_w(link_path(CSIDL_PROGRAMS)));
    EXPECT_FALSE(exists_w(link_path(CSIDL_DESKTOPDIRECTORY)));
    EXPECT_FALSE(entry_exists());
    // The second stage ran from a copy in a folder of its own there.
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((tmp + L"\\tarnok-uninstall-*").c_str(), &fd);
    EXPECT_NE(INVALID_HANDLE_VALUE, h) << "the second stage ran from the temporary folder";
    if (h != INVALID_HANDLE_VALUE) {
        FindClose(h);
        EXPECT_TRUE(exists_w(tmp + L"\\" + fd.cFileName + L"\\tarnok_uninstall.exe"));
    }
}

std::wstring parent_of(const std::wstring &dir) { return dir.substr(0, dir.find_last_of(L'\\')); }

std::wstring name_of(const std::wstring &dir) { return dir.substr(dir.find_last_of(L'\\') + 1); }

// Removes a folder left by an earlier run; returns what lies beside it, so
// that what an install adds there can be seen.
std::set<std::wstring> clear_folder(const std::wstring &dir)
{
    delete_tree(utf8(dir).c_str());
    CreateDirectoryW(parent_of(dir).c_str(), NULL);
    return entries_w(parent_of(dir));
}

std::set<std::wstring> plus(std::set<std::wstring> s, const std::wstring &name)
{
    s.insert(name);
    return s;
}

struct Place {
    const wchar_t *dir;
    const char *tag;
};
const Place places[] = {{L"C:\\Игры\\Tarnok ПК", "cyrillic"}, {L"C:\\Games\\Łódź 東京", "polish-japanese"}};

} // namespace

// The test program's own ANSI calls speak UTF-8, like setup.exe's.
TEST(Intl, CodePageIsUtf8) { EXPECT_EQ(65001u, GetACP()); }

// Unattended: the exact folder, its name in the log, nothing beside it.
TEST(Intl, CommandLineInstallsAndUninstalls)
{
    std::string staging = scratch("setup");
    std::string exe = stage_setup(staging, "setup_game");
    for (const Place &p : places) {
        SCOPED_TRACE(p.tag);
        std::wstring dir = p.dir;
        std::set<std::wstring> beside = clear_folder(dir);
        std::wstring tmp = wide(scratch(std::string("tmp-") + p.tag));
        Child c = start_w(L"\"" + wide(exe) + L"\" /silent " + media_args() + L" /dir \"" + dir + L"\"", L"", tmp);
        EXPECT_EQ(0, wait_exit(c, 120000));
        std::vector<std::string> log = child_log(c);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ("Install to " + utf8(dir) + " (prebuilt)", log.front());
        EXPECT_EQ("Done.", log.back());
        EXPECT_TRUE(plus(beside, name_of(dir)) == entries_w(parent_of(dir)));
        expect_installed_at(dir);
        uninstall_two_stages(dir, wide(scratch(std::string("tmp-uninstall-") + p.tag)));
        EXPECT_TRUE(beside == entries_w(parent_of(dir)));
    }
}

// The same folders set into the window's install folder field; Play then
// starts the game from there.
TEST(Intl, WindowFieldInstalls)
{
    std::string staging = scratch("setup");
    std::string exe = stage_setup(staging, "setup_game");
    for (const Place &p : places) {
        SCOPED_TRACE(p.tag);
        std::wstring dir = p.dir;
        std::set<std::wstring> beside = clear_folder(dir);
        Child c = start_w(L"\"" + wide(exe) + L"\" " + media_args(), L"", wide(scratch(std::string("tmp-") + p.tag)));
        HWND w = setup_window(c);
        ASSERT_NE(nullptr, w);
        HWND edit = gd_control(w, C_DIR);
        DWORD_PTR r = 0;
        SendMessageTimeoutW(edit, WM_SETTEXT, 0, (LPARAM)dir.c_str(), SMTO_ABORTIFHUNG, 5000, &r);
        wchar_t shown[512] = L"";
        SendMessageTimeoutW(edit, WM_GETTEXT, 512, (LPARAM)shown, SMTO_ABORTIFHUNG, 5000, &r);
        EXPECT_TRUE(dir == shown);
        ASSERT_TRUE(gd_click(gd_control(w, C_INSTALL)));
        ASSERT_TRUE(gd_wait_text(gd_control(w, C_STATUS), text_installed, 120000)) << field(w, C_STATUS);
        screenshot(std::string("intl-window-") + p.tag);
        std::vector<std::string> lines = list_lines(w);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ("Install to " + utf8(dir) + " (prebuilt)", lines.front());
        EXPECT_EQ(child_log(c), lines);
        // Play starts the game from its folder.
        ASSERT_TRUE(gd_click(gd_control(w, C_INSTALL)));
        EXPECT_EQ(0, wait_exit(c));
        HWND game = gd_find_window("TarnokStandIn", nullptr, 0, 20000);
        ASSERT_NE(nullptr, game) << "the game did not start";
        DWORD game_pid = 0;
        GetWindowThreadProcessId(game, &game_pid);
        HANDLE game_process = OpenProcess(SYNCHRONIZE, FALSE, game_pid);
        PostMessageA(game, WM_CLOSE, 0, 0);
        EXPECT_TRUE(gd_wait_gone(game, 10000));
        if (game_process) {
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(game_process, 10000));
            CloseHandle(game_process);
        }
        EXPECT_TRUE(plus(beside, name_of(dir)) == entries_w(parent_of(dir)));
        expect_installed_at(dir);
        uninstall_two_stages(dir, wide(scratch(std::string("tmp-uninstall-") + p.tag)));
        EXPECT_TRUE(beside == entries_w(parent_of(dir)));
        end_child(c);
    }
}

// Typed as a player types it: X key events from xdotool into the field,
// which must hold every character exactly. (xdotool maps each character
// that the keyboard lacks to a spare key as it goes; a pause between keys
// lets Wine see each new mapping before the key.)
TEST(Intl, TypedIntoTheField)
{
    std::string staging = scratch("setup");
    std::string exe = stage_setup(staging, "setup_game");
    Child c = start_w(L"\"" + wide(exe) + L"\" " + media_args(), L"", wide(scratch("tmp")));
    HWND w = setup_window(c);
    ASSERT_NE(nullptr, w);
    HWND edit = gd_control(w, C_DIR);
    RECT r;
    GetWindowRect(edit, &r);
    for (const Place &p : places) {
        SCOPED_TRACE(p.tag);
        std::wstring dir = p.dir;
        std::string cmd = "/usr/bin/xdotool mousemove " + std::to_string((r.left + r.right) / 2) + " " +
                          std::to_string((r.top + r.bottom) / 2) +
                          " click 1 key ctrl+a BackSpace type --delay 150 \"" + utf8(dir) + "\"";
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back(0);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        std::wstring typed;
        EXPECT_TRUE(eventually([&] {
            wchar_t buf[512] = L"";
            DWORD_PTR got = 0;
            SendMessageTimeoutW(edit, WM_GETTEXT, 512, (LPARAM)buf, SMTO_ABORTIFHUNG, 5000, &got);
            typed = buf;
            return typed == dir;
        }, 20000)) << utf8(typed);
        screenshot(std::string("intl-typed-") + p.tag);
    }
    ASSERT_TRUE(gd_click(gd_control(w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(c));
    end_child(c);
}

// A path longer than a path buffer in bytes, though not in characters, is
// refused whole; so is a folder that leaves no room for the install's own
// names below it. Nothing is created anywhere.
TEST(Intl, LongPathsAreRefusedNotCut)
{
    std::string staging = scratch("setup");
    std::string exe = stage_setup(staging, "setup_game");
    std::wstring base = L"C:\\Длинный";
    struct Case {
        size_t letters; // three bytes each in UTF-8
        const char *line;
    } cases[] = {
        {170, "ERROR: the path given with /dir is too long"},        // 528 bytes, 181 characters
        {160, "ERROR: the install folder path is too long"},         // 498 bytes
    };
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.letters);
        std::set<std::wstring> before = entries_w(L"C:");
        std::wstring dir = base + L"\\" + std::wstring(k.letters, L'東');
        Child c = start_w(L"\"" + wide(exe) + L"\" /silent " + media_args() + L" /dir \"" + dir + L"\"", L"",
                          wide(scratch("tmp" + std::to_string(n++))));
        EXPECT_EQ(1, wait_exit(c));
        EXPECT_TRUE(before == entries_w(L"C:"));
        std::vector<std::string> log = child_log(c);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(k.line, log.back());
        end_child(c);
    }

    // The longer one typed into the window's field: a box, and no install.
    std::set<std::wstring> before = entries_w(L"C:");
    Child c = start_w(L"\"" + wide(exe) + L"\" " + media_args(), L"", wide(scratch("tmp-window")));
    HWND w = setup_window(c);
    ASSERT_NE(nullptr, w);
    std::wstring dir = base + L"\\" + std::wstring(cases[0].letters, L'東');
    DWORD_PTR r = 0;
    SendMessageTimeoutW(gd_control(w, C_DIR), WM_SETTEXT, 0, (LPARAM)dir.c_str(), SMTO_ABORTIFHUNG, 5000, &r);
    ASSERT_TRUE(gd_click(gd_control(w, C_INSTALL)));
    HWND box = gd_find_box("Tarnok setup", c.pid, 20000);
    ASSERT_NE(nullptr, box);
    char text[256];
    gd_box_text(box, text, sizeof text);
    EXPECT_STREQ("The path of the install folder is too long.", text);
    gd_answer(box, IDOK);
    EXPECT_TRUE(gd_wait_gone(box, 20000));
    EXPECT_TRUE(list_lines(w).empty());
    EXPECT_TRUE(before == entries_w(L"C:"));
    ASSERT_TRUE(gd_click(gd_control(w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(c));
    end_child(c);
}

// Even UTF-8 has no form for a lone surrogate, which a Windows file name
// may hold: it would become U+FFFD, another name. Refused.
TEST(Intl, LoneSurrogateIsRefused)
{
    std::string staging = scratch("setup");
    std::string exe = stage_setup(staging, "setup_game");
    std::set<std::wstring> before = entries_w(L"C:");
    std::wstring dir = L"C:\\Spiel\xD800";
    Child c = start_w(L"\"" + wide(exe) + L"\" /silent " + media_args() + L" /dir \"" + dir + L"\"", L"",
                      wide(scratch("tmp")));
    EXPECT_EQ(1, wait_exit(c));
    EXPECT_EQ(std::vector<std::string>{"ERROR: the path given with /dir has characters that this Windows cannot "
                                       "pass on"},
              child_log(c));
    EXPECT_TRUE(before == entries_w(L"C:"));
    end_child(c);
}

// A Windows without the UTF-8 code page: the setup built without the
// manifest's code page element runs in the system's own (here 1252), which
// has neither "Ł" nor Cyrillic. Such a path is refused, never replaced by
// a best-fit lookalike such as "Lukasz": unattended with the reason in the
// log and exit code 1, in the window with a box before it opens (the field
// then empty) or when Install reads the field.
TEST(Intl, LegacyCodePageRefusesLookalikes)
{
    std::string staging = scratch("setup");
    std::string exe = stage_setup(staging, "setup_legacycp");
    CreateDirectoryW(L"C:\\inst", NULL);
    const wchar_t *const paths[] = {L"C:\\inst\\Łukasz", L"C:\\inst\\Игра"};
    int n = 0;
    for (const wchar_t *path : paths) {
        SCOPED_TRACE(utf8(path));
        std::set<std::wstring> before = entries_w(L"C:\\inst");
        Child c = start_w(L"\"" + wide(exe) + L"\" /silent " + media_args() + L" /dir \"" + path + L"\"", L"",
                          wide(scratch("tmp" + std::to_string(n++))));
        EXPECT_EQ(1, wait_exit(c, 60000));
        std::vector<std::string> log = child_log(c);
        EXPECT_EQ(std::vector<std::string>{"ERROR: the path given with /dir has characters that this Windows cannot "
                                           "pass on"},
                  log);
        EXPECT_TRUE(before == entries_w(L"C:\\inst"));
        end_child(c);
    }

    // The window: the box first, then the window with the field empty.
    Child c = start_w(L"\"" + wide(exe) + L"\" /cd1 \"" + paths[0] + L"\"", L"", wide(scratch("tmp-window")));
    HWND box = gd_find_box("Tarnok setup", c.pid, 20000);
    ASSERT_NE(nullptr, box);
    char text[256];
    gd_box_text(box, text, sizeof text);
    EXPECT_STREQ("The path given with /cd1 has characters that this Windows cannot pass on.", text);
    screenshot("intl-legacy-refused");
    gd_answer(box, IDOK);
    HWND w = setup_window(c);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ("", field(w, C_CD1));

    // The same path typed into the install folder field.
    std::set<std::wstring> before = entries_w(L"C:\\inst");
    gd_set_text(gd_control(w, C_CD1), media_path("disc1.iso").c_str());
    gd_set_text(gd_control(w, C_CD2), media_path("disc2").c_str());
    gd_set_text(gd_control(w, C_PATCH), media_path("TARNO103.EXE").c_str());
    DWORD_PTR r = 0;
    SendMessageTimeoutW(gd_control(w, C_DIR), WM_SETTEXT, 0, (LPARAM)paths[0], SMTO_ABORTIFHUNG, 5000, &r);
    ASSERT_TRUE(gd_click(gd_control(w, C_INSTALL)));
    box = gd_find_box("Tarnok setup", c.pid, 20000);
    ASSERT_NE(nullptr, box);
    gd_box_text(box, text, sizeof text);
    EXPECT_STREQ("The path of the install folder has characters that this Windows cannot pass on.", text);
    gd_answer(box, IDOK);
    EXPECT_TRUE(gd_wait_gone(box, 20000));
    EXPECT_EQ(text_ready, field(w, C_STATUS));
    EXPECT_TRUE(gd_enabled(gd_control(w, C_INSTALL)));
    EXPECT_TRUE(before == entries_w(L"C:\\inst"));
    ASSERT_TRUE(gd_click(gd_control(w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(c));
    end_child(c);
}

// Run in a prefix whose user name is not ASCII (the harness names it in
// TARNOK_INTL_USER): the log in the user's temporary folder, the shortcuts
// on the user's desktop and Start menu, and the uninstall's copy in the
// temporary folder all lie below C:\users\<name>. An install into a folder
// named in yet another script, and its removal, work as anywhere else.
TEST(IntlUser, ProfileOutsideAscii)
{
    const char *expected = getenv("TARNOK_INTL_USER");
    if (!expected)
        GTEST_SKIP() << "only in the prefix whose user name is not ASCII";
    std::wstring user = wide(expected), profile = L"C:\\users\\" + user;
    wchar_t buf[MAX_PATH] = L"";
    DWORD size = MAX_PATH;
    ASSERT_TRUE(GetUserNameW(buf, &size));
    ASSERT_TRUE(user == buf) << utf8(buf);
    // The test harness gives each test process a temporary folder of its
    // own; the user's is the one the user's environment names.
    HKEY env;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_READ, &env));
    size = sizeof buf - sizeof buf[0];
    LONG got = RegQueryValueExW(env, L"TEMP", NULL, NULL, (BYTE *)buf, &size);
    RegCloseKey(env);
    ASSERT_EQ(ERROR_SUCCESS, got);
    buf[size / sizeof buf[0]] = 0;
    wchar_t expanded[MAX_PATH] = L"";
    ExpandEnvironmentStringsW(buf, expanded, MAX_PATH);
    std::wstring tmp = expanded;
    CreateDirectoryW(tmp.c_str(), NULL);
    ASSERT_TRUE(tmp.compare(0, profile.size() + 1, profile + L"\\") == 0) << utf8(tmp);
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_DESKTOPDIRECTORY})
        ASSERT_TRUE(link_path(csidl).compare(0, profile.size() + 1, profile + L"\\") == 0) << utf8(link_path(csidl));

    std::string staging = scratch("setup");
    std::string exe = stage_setup(staging, "setup_game");
    std::wstring dir = places[1].dir;
    std::set<std::wstring> beside = clear_folder(dir);
    DeleteFileW((tmp + L"\\tarnok_setup.log").c_str());
    Child c = start_w(L"\"" + wide(exe) + L"\" /silent " + media_args() + L" /dir \"" + dir + L"\"", L"", tmp);
    EXPECT_EQ(0, wait_exit(c, 120000));
    std::vector<std::string> log = child_log(c);
    ASSERT_FALSE(log.empty()) << "no log in " << c.tmp;
    EXPECT_EQ("Install to " + utf8(dir) + " (prebuilt)", log.front());
    EXPECT_EQ("Done.", log.back());
    EXPECT_TRUE(plus(beside, name_of(dir)) == entries_w(parent_of(dir)));
    expect_installed_at(dir);
    uninstall_two_stages(dir, tmp);
    EXPECT_TRUE(beside == entries_w(parent_of(dir)));
}

// In the prefix whose user name is not ASCII: an unattended install that
// fails (another release's update, kept in the user's Downloads folder),
// with its log in the user's temporary folder, then /report. The report
// writes those folders as %USERPROFILE% and %TEMP%, and the user's name
// nowhere.
TEST(IntlUser, ReportLeavesTheNameOut)
{
    const char *expected = getenv("TARNOK_INTL_USER");
    if (!expected)
        GTEST_SKIP() << "only in the prefix whose user name is not ASCII";
    std::wstring user = wide(expected), profile = L"C:\\users\\" + user;
    wchar_t buf[MAX_PATH] = L"", tmp[MAX_PATH] = L"";
    ASSERT_TRUE(GetEnvironmentVariableW(L"USERPROFILE", buf, MAX_PATH) > 0);
    ASSERT_TRUE(profile == buf) << utf8(buf);
    HKEY env;
    DWORD size = sizeof buf - sizeof buf[0];
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_READ, &env));
    LONG got = RegQueryValueExW(env, L"TEMP", NULL, NULL, (BYTE *)buf, &size);
    RegCloseKey(env);
    ASSERT_EQ(ERROR_SUCCESS, got);
    buf[size / sizeof buf[0]] = 0;
    ExpandEnvironmentStringsW(buf, tmp, MAX_PATH);
    CreateDirectoryW(tmp, NULL);

    std::wstring downloads = profile + L"\\Downloads", folder = downloads + L"\\Отчёт";
    CreateDirectoryW(downloads.c_str(), NULL);
    delete_tree(utf8(folder).c_str());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    std::wstring update = folder + L"\\TARNO103.EXE";
    ASSERT_TRUE(CopyFileW(wide(media_path("update-badcrc\\TARNO103.EXE")).c_str(), update.c_str(), FALSE));
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    std::wstring dir = L"C:\\Игры\\Отчёт PC";
    Child c = start_w(L"\"" + wide(exe) + L"\" /silent /cd1 \"" + wide(media_path("disc1.iso")) + L"\" /cd2 \"" +
                          wide(media_path("disc2")) + L"\" /patch \"" + update + L"\" /dir \"" + dir + L"\"",
                      L"", tmp);
    EXPECT_EQ(1, wait_exit(c, 120000));
    Child r = start_w(L"\"" + wide(exe) + L"\" /report \"" + folder + L"\\details.txt\"", L"", tmp);
    EXPECT_EQ(0, wait_exit(r, 120000));
    std::string text = slurp(utf8(folder) + "\\details.txt");
    delete_tree(utf8(folder).c_str());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(std::string::npos, text.find(expected)) << text;
    EXPECT_EQ(std::string::npos, text.find("users\\")) << text;
    std::vector<std::string> lines = report_lines(text);
    char n[32];
    fmt_count(slurp(media_path("update-badcrc\\TARNO103.EXE")).size(), n, sizeof n);
    EXPECT_EQ("Update: file %USERPROFILE%\\Downloads\\Отчёт\\TARNO103.EXE (" + std::string(n) + " bytes)",
              line_starting(lines, "Update: "));
    EXPECT_EQ(0u, line_starting(lines, "Log: ").find("Log: the last 5 of 5 lines of %TEMP%\\tarnok_setup.log"));
    EXPECT_EQ("Path: " + utf8(dir) + " (of the last attempt; it does not exist)", line_starting(lines, "Path: "));
    EXPECT_EQ("end of report", lines.empty() ? "" : lines.back());
}
