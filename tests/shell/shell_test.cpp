#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>
#include <string.h>

#include "install/install.h"
#include "testsupport.h"

static const char key_path[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnokVBL_Pellurin";

// What a shortcut file holds, read back through the shell's own link object.
struct LinkInfo {
    bool loaded = false;
    std::string target, workdir, description, icon;
    int icon_index = -1;
};

static LinkInfo read_link(const std::string &link)
{
    LinkInfo info;
    IShellLinkA *sl = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&sl)))
        return info;
    IPersistFile *pf = NULL;
    WCHAR wide[520];
    MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, 520);
    if (SUCCEEDED(sl->QueryInterface(IID_IPersistFile, (void **)&pf)) && SUCCEEDED(pf->Load(wide, STGM_READ))) {
        char buf[MAX_PATH] = "";
        info.loaded = true;
        sl->GetPath(buf, MAX_PATH, NULL, SLGP_RAWPATH);
        info.target = buf;
        buf[0] = 0;
        sl->GetWorkingDirectory(buf, MAX_PATH);
        info.workdir = buf;
        buf[0] = 0;
        sl->GetDescription(buf, MAX_PATH);
        info.description = buf;
        buf[0] = 0;
        sl->GetIconLocation(buf, MAX_PATH, &info.icon_index);
        info.icon = buf;
    }
    if (pf)
        pf->Release();
    sl->Release();
    return info;
}

struct Com {
    Com() { CoInitialize(NULL); }
    ~Com() { CoUninitialize(); }
};

// An install folder with a game executable in it.
static std::string game_folder(const std::string &dir)
{
    CreateDirectoryA(dir.c_str(), NULL);
    spit(dir + "\\tarnok.exe", "MZ");
    return dir + "\\tarnok.exe";
}

static void expect_link(const std::string &link, const std::string &exe, const std::string &dir)
{
    LinkInfo got = read_link(link);
    ASSERT_TRUE(got.loaded) << link;
    EXPECT_EQ(exe, got.target);
    EXPECT_EQ(dir, got.workdir);
    EXPECT_EQ("Tarnok - Vorblen", got.description);
    EXPECT_EQ(exe, got.icon);
    EXPECT_EQ(0, got.icon_index);
}

TEST(MakeLink, ReadsBackAndIsReplacedByTheNextInstall)
{
    Com com;
    std::string base = scratch();
    std::string first = base + "\\Tarnok Games", second = base + "\\Other Place";
    std::string link = base + "\\Tarnok - Vorblen.lnk";

    std::string exe = game_folder(first);
    make_link(link.c_str(), exe.c_str(), first.c_str());
    expect_link(link, exe, first);

    exe = game_folder(second);
    make_link(link.c_str(), exe.c_str(), second.c_str());
    expect_link(link, exe, second);
}

// A link is only written at a full path: an empty path (a shell folder that
// could not be had) or one relative to the current folder writes nothing.
TEST(MakeLink, WritesNothingWithoutAFullPath)
{
    Com com;
    std::string dir = scratch();
    std::string exe = game_folder(dir + "\\game");
    char old_cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, old_cwd);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    log_reset();
    for (const char *link : {"", "Tarnok - Vorblen.lnk", "\\Tarnok - Vorblen.lnk", "Z:Tarnok - Vorblen.lnk"})
        make_link(link, exe.c_str(), dir.c_str());
    SetCurrentDirectoryA(old_cwd);
    EXPECT_EQ(std::vector<std::string>{"game"}, list_dir(dir));
    EXPECT_FALSE(file_exists("Z:\\Tarnok - Vorblen.lnk"));
    EXPECT_TRUE(log_lines().empty());
}

static bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// True when no folder from the prefix's drive_c down to path is a link
// (Wine lists a Unix symbolic link as a reparse point).
static bool no_link_below_drive_c(const std::string &path)
{
    for (size_t at = path.find("\\drive_c\\"); at != std::string::npos; at = path.find('\\', at + 1)) {
        DWORD a = GetFileAttributesA(path.substr(0, at).c_str());
        if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_REPARSE_POINT))
            return false;
    }
    return true;
}

// Both shortcuts land in the private prefix's own user folders, never on the
// real desktop: the folders below the prefix are real folders, and the files
// are where the prefix's drive C keeps them.
TEST(ShortcutPaths, StartMenuAndDesktopInsideThePrefix)
{
    Com com;
    char start[520], desk[520];
    shortcut_paths(start, desk);
    EXPECT_TRUE(ends_with(start, "\\Start Menu\\Programs\\Tarnok - Vorblen.lnk")) << start;
    EXPECT_TRUE(ends_with(desk, "\\Desktop\\Tarnok - Vorblen.lnk")) << desk;
    ASSERT_EQ(0, _strnicmp(start, "C:\\users\\", 9)) << start;
    ASSERT_EQ(0, _strnicmp(desk, "C:\\users\\", 9)) << desk;

    std::string dir = scratch();
    std::string exe = game_folder(dir + "\\Tarnok");
    for (const char *link : {start, desk}) {
        make_link(link, exe.c_str(), (dir + "\\Tarnok").c_str());
        expect_link(link, exe, dir + "\\Tarnok");
        std::string in_prefix = build_path("wineprefix\\drive_c") + (link + 2);
        EXPECT_TRUE(file_exists(in_prefix)) << in_prefix;
        EXPECT_TRUE(no_link_below_drive_c(in_prefix)) << in_prefix;
        EXPECT_TRUE(DeleteFileA(link));
    }
}

// A shell folder that does not exist cannot be had (Wine then fails the
// lookup, as Windows does for a folder it cannot resolve): with the desktop
// folder moved away for a moment, the desktop path comes back empty rather
// than undefined, the Start menu path is unaffected, and make_link given the
// empty path writes nothing. The lock of this program keeps the other tests
// that use the desktop away meanwhile; what they left there stays as it was.
TEST(ShortcutPaths, EmptyWhenTheFolderCannotBeHad)
{
    Com com;
    char start[520], desk[520];
    shortcut_paths(start, desk);
    std::string folder(desk, strlen(desk) - strlen("\\Tarnok - Vorblen.lnk"));
    ASSERT_TRUE(ends_with(folder, "\\Desktop")) << folder;
    std::string away = folder + ".away";
    std::string exe = game_folder(scratch() + "\\Tarnok");
    std::vector<std::string> before = list_dir(folder);

    ASSERT_TRUE(MoveFileA(folder.c_str(), away.c_str()));
    memset(start, 'x', sizeof start);
    memset(desk, 'x', sizeof desk);
    shortcut_paths(start, desk);
    make_link(desk, exe.c_str(), "C:\\");
    bool remade = path_exists(folder.c_str());
    bool moved_back = MoveFileA(away.c_str(), folder.c_str());
    ASSERT_TRUE(moved_back) << "the prefix's desktop folder is left at " << away;

    EXPECT_STREQ("", desk);
    EXPECT_TRUE(ends_with(start, "\\Start Menu\\Programs\\Tarnok - Vorblen.lnk")) << start;
    EXPECT_FALSE(remade) << "nothing wrote a desktop folder";
    EXPECT_EQ(before, list_dir(folder));
    shortcut_paths(start, desk);
    EXPECT_STREQ((folder + "\\Tarnok - Vorblen.lnk").c_str(), desk) << "the folder is back";
}

// One value of the key as stored: its type and its bytes.
struct Value {
    DWORD type;
    std::string bytes;
};

static bool read_value(HKEY key, const char *name, Value *v)
{
    BYTE buf[1024];
    DWORD size = sizeof buf;
    if (RegQueryValueExA(key, name, NULL, &v->type, buf, &size) != ERROR_SUCCESS)
        return false;
    v->bytes.assign((const char *)buf, size);
    return true;
}

static std::string sz(const std::string &text) { return text + std::string(1, '\0'); }

static std::string dword(uint32_t v)
{
    char b[4] = {(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)};
    return std::string(b, 4);
}

// Checks that the key holds exactly the eight values for an install in dir.
static void expect_entry(const std::string &dir, uint32_t size_kib)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, key_path, 0, KEY_READ, &key));
    DWORD subkeys = 99, values = 99;
    RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    EXPECT_EQ(0u, subkeys);
    EXPECT_EQ(8u, values);
    const struct {
        const char *name;
        DWORD type;
        std::string bytes;
    } want[] = {
        {"DisplayName", REG_SZ, sz("Tarnok - Vorblen (Pellurin)")},
        {"UninstallString", REG_SZ, sz("\"" + dir + "\\uninstall.exe\" /uninstall")},
        {"DisplayIcon", REG_SZ, sz(dir + "\\tarnok.exe,0")},
        {"InstallLocation", REG_SZ, sz(dir)},
        {"Publisher", REG_SZ, sz("Pellurin port (fan project)")},
        {"EstimatedSize", REG_DWORD, dword(size_kib)},
        {"NoModify", REG_DWORD, dword(1)},
        {"NoRepair", REG_DWORD, dword(1)},
    };
    for (const auto &w : want) {
        Value got;
        ASSERT_TRUE(read_value(key, w.name, &got)) << w.name;
        EXPECT_EQ(w.type, got.type) << w.name;
        EXPECT_EQ(w.bytes, got.bytes) << w.name;
        if (w.type == REG_SZ) { // stored with its NUL: one more wide character than the text
            DWORD wsize = 0;
            WCHAR wname[64];
            MultiByteToWideChar(CP_ACP, 0, w.name, -1, wname, 64);
            RegQueryValueExW(key, wname, NULL, NULL, NULL, &wsize);
            EXPECT_EQ(2 * w.bytes.size(), wsize) << w.name;
        }
    }
    RegCloseKey(key);
}

static bool key_exists(const char *path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST(UninstallEntry, EightValuesWithTheirTypesAndBytes)
{
    remove_uninstall_entry();
    log_reset();
    write_uninstall_entry("C:\\Games\\Tarnok", (700ull << 20) + (12ull << 20));
    expect_entry("C:\\Games\\Tarnok", 729088);
    EXPECT_TRUE(log_lines().empty());
    remove_uninstall_entry();
}

TEST(UninstallEntry, FolderWithBlanksIsOneQuotedPath)
{
    remove_uninstall_entry();
    write_uninstall_entry("C:\\Program Files (x86)\\My Games\\Tarnok", (712ull << 20) + 1023);
    expect_entry("C:\\Program Files (x86)\\My Games\\Tarnok", 729088);
    remove_uninstall_entry();
}

TEST(UninstallEntry, SecondInstallReplacesTheFirst)
{
    remove_uninstall_entry();
    write_uninstall_entry("C:\\Games\\Tarnok", 4096);
    write_uninstall_entry("D:\\Spiele\\Tarnok Vorblen", 1ull << 30);
    expect_entry("D:\\Spiele\\Tarnok Vorblen", 1u << 20);
    remove_uninstall_entry();
}

// Removal deletes the key and nothing beside it; a missing key is no error.
TEST(UninstallEntry, RemovalLeavesNeighboursAndToleratesAMissingKey)
{
    const char *neighbour = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnokVBL_PellurinX";
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, neighbour, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
    RegCloseKey(key);
    write_uninstall_entry("C:\\Games\\Tarnok", 4096);
    ASSERT_TRUE(key_exists(key_path));

    log_reset();
    remove_uninstall_entry();
    EXPECT_FALSE(key_exists(key_path));
    remove_uninstall_entry();
    EXPECT_FALSE(key_exists(key_path));
    EXPECT_TRUE(key_exists(neighbour));
    EXPECT_TRUE(key_exists("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    EXPECT_TRUE(log_lines().empty());
    RegDeleteKeyA(HKEY_CURRENT_USER, neighbour);
}
