// A setup downloaded and run by an ordinary user: DLLs planted beside it,
// links and network paths in its way, and what it leaves for other users.
#include <windows.h>

#include <imagehlp.h>

#include <algorithm>
#include <cctype>

#include <gtest/gtest.h>

#include "guisupport.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

// System DLL names a planted DLL takes: those Wine loads from a program's
// folder (shcore for shell32, winspool.drv and compstui for comdlg32) and
// those Windows looks for there first.
const char *const planted[] = {
    "shcore.dll",   "compstui.dll", "winspool.drv", "version.dll",  "uxtheme.dll",  "dwmapi.dll",
    "cryptbase.dll", "propsys.dll", "profapi.dll",  "userenv.dll",  "winmm.dll",    "secur32.dll",
    "sspicli.dll",  "ntmarta.dll",  "msimg32.dll",  "oleacc.dll",   "textshaping.dll", "wtsapi32.dll",
    "comctl32.dll", "shell32.dll",  "comdlg32.dll", "ole32.dll",    "oleaut32.dll", "imm32.dll",
};

void plant_dlls(const std::string &folder)
{
    for (const char *name : planted)
        ASSERT_TRUE(CopyFileA(build_path("tests\\gui\\marker.dll").c_str(), (folder + "\\" + name).c_str(), FALSE))
            << name;
}

// The planted DLLs below a folder that some process loaded.
std::vector<std::string> loaded_below(const std::string &folder)
{
    std::vector<std::string> loaded;
    for (const std::string &e : list_tree(folder))
        if (e.size() > 7 && e.compare(e.size() - 7, 7, ".loaded") == 0)
            loaded.push_back(e);
    return loaded;
}

std::string install_args(const std::string &target)
{
    return "/silent /cd1 \"" + media_path("disc1.iso") + "\" /cd2 \"" + media_path("disc2") + "\" /patch \"" +
           media_path("TARNO103.EXE") + "\" /dir \"" + target + "\"";
}

// The few places of a PE32+ image that tell how it loads its DLLs.
struct PeView {
    std::string bytes;
    uint32_t opt = 0, sections = 0, table = 0;

    uint32_t u16(size_t at) const { return at + 2 <= bytes.size() ? (uint8_t)bytes[at] | (uint8_t)bytes[at + 1] << 8 : 0; }
    uint32_t u32(size_t at) const { return u16(at) | u16(at + 2) << 16; }
    bool load(const std::string &path)
    {
        bytes = slurp(path);
        uint32_t pe = u32(0x3C);
        if (bytes.size() < pe + 24 || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
            return false;
        sections = u16(pe + 6);
        opt = pe + 24;
        table = opt + u16(pe + 20);
        return u16(opt) == 0x20B;
    }
    // The data directory n: its RVA and size.
    uint32_t dir_rva(int n) const { return u32(opt + 112 + 8 * n); }
    uint32_t dir_size(int n) const { return u32(opt + 112 + 8 * n + 4); }
    // The file offset of an RVA, or 0 when no section holds it.
    size_t at(uint32_t rva) const
    {
        for (uint32_t i = 0; i < sections; i++) {
            size_t s = table + 40 * i;
            uint32_t va = u32(s + 12), raw_size = u32(s + 16), raw = u32(s + 20);
            if (rva >= va && rva - va < raw_size)
                return raw + (rva - va);
        }
        return 0;
    }
    std::string text(uint32_t rva) const
    {
        size_t p = at(rva);
        return p ? std::string(bytes.c_str() + p) : "";
    }
    // The DLLs the import table names, in lower case: 20-byte records with
    // the name's RVA at 12, ended by a record of zeros.
    std::vector<std::string> imports() const
    {
        std::vector<std::string> names;
        size_t p = dir_rva(1) ? at(dir_rva(1)) : 0;
        for (; p && u32(p + 12); p += 20) {
            std::string n = text(u32(p + 12));
            std::transform(n.begin(), n.end(), n.begin(), [](char c) { return (char)tolower((unsigned char)c); });
            names.push_back(n);
        }
        return names;
    }
};

} // namespace

// Windows 10 1607 and later search only the system folder for a program's
// static imports when its load-config record says so, before its WinMain:
// every setup.exe carries that record; the shell, COM, the common dialogs
// and the common controls are no static imports but delayed ones.
TEST(Dlls, TheExecutableLoadsItsImportsFromTheSystemFolderOnly)
{
    for (const char *variant : {"setup", "setup_game", "setup_nogame", "setup_legacycp"}) {
        SCOPED_TRACE(variant);
        PeView pe;
        ASSERT_TRUE(pe.load(build_path(std::string(variant) + ".exe")));
        const int LOAD_CONFIG = 10;
        ASSERT_NE(0u, pe.dir_rva(LOAD_CONFIG)) << "no load-config directory";
        size_t record = pe.at(pe.dir_rva(LOAD_CONFIG));
        ASSERT_NE(0u, record);
        uint32_t size = pe.u32(record);
        EXPECT_EQ(size, pe.dir_size(LOAD_CONFIG));
        EXPECT_GE(size, 80u) << "too short to hold DependentLoadFlags";
        EXPECT_EQ((uint32_t)LOAD_LIBRARY_SEARCH_SYSTEM32, pe.u16(record + 78)) << "DependentLoadFlags";
        // The step that set it renewed the checksum ld had written.
        DWORD header_sum = 0, sum = 0;
        ASSERT_NE(nullptr, CheckSumMappedFile((void *)pe.bytes.data(), (DWORD)pe.bytes.size(), &header_sum, &sum));
        EXPECT_EQ(header_sum, sum);

        // GNU ld leaves the delay-import directory empty too; the stubs that
        // load each DLL at its first call name it all the same.
        std::vector<std::string> imports = pe.imports();
        EXPECT_FALSE(imports.empty());
        for (const char *dll : {"shell32.dll", "comdlg32.dll", "ole32.dll", "comctl32.dll", "oleaut32.dll"}) {
            EXPECT_EQ(0, std::count(imports.begin(), imports.end(), dll)) << dll << " is imported at start";
        }
        for (const char *dll : {"shell32.dll", "comdlg32.dll", "ole32.dll", "comctl32.dll"}) {
            EXPECT_NE(std::string::npos, pe.bytes.find(std::string(dll) + '\0')) << dll << " is not loaded later";
        }
    }
}

// DLLs named like system DLLs, planted beside setup.exe (a Downloads
// folder), beside the installed uninstall.exe, and in the temporary folder
// that the uninstall runs its copy from: none is loaded, in the window
// (with both kinds of browse dialog opened), in an unattended install and
// in both stages of the uninstall.
TEST(Dlls, PlantedDllsAreNeverLoaded)
{
    std::string downloads = scratch("downloads");
    std::string exe = stage_setup(downloads, "setup_game");
    plant_dlls(downloads);

    // The window, and the dialogs of its Browse buttons.
    Child w = start_setup(exe, "", scratch("tmp-window"));
    HWND top = setup_window(w);
    EXPECT_NE(nullptr, top) << "a planted DLL keeps the window from opening";
    if (!top) {
        end_child(w);
        EXPECT_EQ(std::vector<std::string>{}, loaded_below(downloads)) << "at start";
        return;
    }
    const int browse_patch = 12, browse_dir = 15;
    for (int button : {browse_patch, browse_dir}) {
        ASSERT_TRUE(gd_click(gd_control(top, button)));
        HWND dlg = gd_find_window("#32770", nullptr, w.pid, 20000);
        EXPECT_NE(nullptr, dlg) << button;
        if (dlg) {
            PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
            EXPECT_TRUE(gd_wait_gone(dlg, 20000));
        }
    }
    PostMessageA(top, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, wait_exit(w));
    end_child(w);
    EXPECT_EQ(std::vector<std::string>{}, loaded_below(downloads)) << "window";

    // An unattended install with both shortcuts.
    std::string target = scratch("installed") + "\\Tarnok PC";
    Child c = start_setup(exe, install_args(target), scratch("tmp-silent"));
    EXPECT_EQ(0, wait_exit(c, 120000));
    end_child(c);
    EXPECT_EQ(std::vector<std::string>{}, loaded_below(downloads)) << "unattended";

    // The uninstall: its first stage from the install folder, its second
    // from the temporary folder.
    plant_dlls(target);
    std::string tmp = scratch("tmp-uninstall");
    make_dirs(tmp.c_str());
    plant_dlls(tmp);
    Child u = start_setup_in(target + "\\uninstall.exe", "/uninstall", tmp);
    std::string said;
    HWND done = uninstall_answer_yes(u, &said);
    ASSERT_NE(nullptr, done);
    // The planted DLLs are no files of the install: they stay, and are counted.
    EXPECT_EQ("Tarnok: Vorblen has been removed. " + std::to_string(list_dir(target).size()) +
                  " files of yours were kept in " + target + ".",
              said);
    gd_answer(done, IDOK);
    EXPECT_EQ(std::vector<std::string>{}, loaded_below(target)) << "first stage";
    EXPECT_EQ(std::vector<std::string>{}, loaded_below(tmp)) << "second stage";
    EXPECT_FALSE(file_exists(target + "\\tarnok.exe"));
}

// A cue sheet beside setup.exe is read at start. Naming its data file by a
// network path would make Windows reach that host with the player's
// credentials before any window shows; a device path, a stream, or a file
// outside the program's folder are no business of a start either. None of
// them is opened: CD 1 is not filled from the sheet, so the drive that
// holds disc 2 is given for both discs. A sheet naming a file below its own
// folder fills CD 1 as before.
TEST(Media, DetectionOpensNothingOutsideTheProgramsFolder)
{
    // Wine maps \\host\share to this folder of the prefix.
    std::string unc = build_path("gui-wineprefix\\dosdevices\\unc\\tarnokhost\\share");
    make_dirs(unc.c_str());
    ASSERT_TRUE(CopyFileA(media_path("disc1.iso").c_str(), (unc + "\\disc1.iso").c_str(), FALSE));
    ASSERT_TRUE(file_exists("\\\\tarnokhost\\share\\disc1.iso")) << "Wine maps no UNC path here";
    std::string outside = scratch("outside");
    ASSERT_TRUE(CopyFileA(media_path("disc1.iso").c_str(), (outside + "\\disc1.iso").c_str(), FALSE));
    std::string outside_name = outside.substr(outside.find_last_of('\\') + 1);
    struct Case {
        std::string name;
        bool opened;
    } cases[] = {
        {"sub\\disc1.iso", true},
        {"\\\\tarnokhost\\share\\disc1.iso", false},
        {"//tarnokhost/share/disc1.iso", false},
        {"\\\\tarnokhost\\share\\disc1.iso:x", false},
        {"\\\\?\\" + outside + "\\disc1.iso", false},
        {"\\\\.\\" + outside + "\\disc1.iso", false},
        {"\\\\?\\UNC\\tarnokhost\\share\\disc1.iso", false},
        {"..\\" + outside_name + "\\disc1.iso", false},
        {outside + "\\disc1.iso", false},
    };
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        std::string dir = scratch("setup" + std::to_string(n++));
        std::string exe = stage_setup(dir, "setup_game");
        make_dirs((dir + "\\sub").c_str());
        ASSERT_TRUE(CopyFileA(media_path("disc1.iso").c_str(), (dir + "\\sub\\disc1.iso").c_str(), FALSE));
        spit(dir + "\\disc.cue", "FILE \"" + k.name + "\" BINARY\r\n  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\n");
        Child c = start_setup(exe, "", scratch("tmp"));
        HWND top = setup_window(c);
        ASSERT_NE(nullptr, top);
        EXPECT_EQ(k.opened ? dir + "\\disc.cue" : field(top, C_CD2), field(top, C_CD1));
        PostMessageA(top, WM_CLOSE, 0, 0);
        EXPECT_EQ(0, wait_exit(c));
        end_child(c);
    }
    delete_tree(build_path("gui-wineprefix\\dosdevices\\unc").c_str());
}

namespace {

// The copy folders of uninstalls in a temporary folder.
std::vector<std::string> copy_folders(const std::string &tmp)
{
    std::vector<std::string> found;
    for (const std::string &e : list_dir(tmp))
        if (e.compare(0, 17, "tarnok-uninstall-") == 0)
            found.push_back(e);
    return found;
}

} // namespace

// Under the old copy's name in the temporary folder, a program of someone
// else's that cannot be overwritten, or a link to a player's file: the
// uninstall neither runs the one nor writes through or deletes the other.
// Its copy runs from a new folder of its own, which goes once it is done.
TEST(Uninstall, TheTemporaryCopyIsPrivate)
{
    enum Kind { FOREIGN, LINK };
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    int n = 0;
    for (Kind k : {FOREIGN, LINK}) {
        std::string tag = std::to_string(n++);
        SCOPED_TRACE(tag);
        std::string target = scratch("installed" + tag) + "\\Tarnok PC";
        Child c = start_setup(exe, install_args(target) + " /nodesktop /nostartmenu", scratch("tmp-install" + tag));
        ASSERT_EQ(0, wait_exit(c, 120000));
        std::string tmp = scratch("tmp" + tag), old_copy = tmp + "\\tarnok_uninstall.exe";
        std::string precious = scratch("elsewhere" + tag) + "\\precious.sav";
        spit(precious, "keep me");
        if (k == FOREIGN) {
            ASSERT_TRUE(CopyFileA(build_path("tests\\gui\\foreign.exe").c_str(), old_copy.c_str(), FALSE));
            SetFileAttributesA(old_copy.c_str(), FILE_ATTRIBUTE_READONLY);
        } else if (!unix_link(precious, old_copy)) {
            GTEST_SKIP() << "cannot make a symbolic link here";
        }
        Child u = start_setup_in(target + "\\uninstall.exe", "/uninstall", tmp);
        std::string said;
        HWND done = uninstall_answer_yes(u, &said);
        ASSERT_NE(nullptr, done);
        EXPECT_EQ("Tarnok: Vorblen has been removed.", said);
        gd_answer(done, IDOK);
        EXPECT_FALSE(dir_exists(target));
        EXPECT_TRUE(eventually([&] { return copy_folders(tmp).empty(); }, 60000)) << "the copy's folder stays";
        if (k == FOREIGN) {
            EXPECT_FALSE(file_exists(old_copy + ".ran")) << "someone else's program was run";
            EXPECT_EQ(slurp(build_path("tests\\gui\\foreign.exe")), slurp(old_copy));
            SetFileAttributesA(old_copy.c_str(), FILE_ATTRIBUTE_NORMAL);
        } else {
            EXPECT_EQ("keep me", slurp(precious));
        }
    }
}

// Copy folders that earlier uninstalls left go at the next start, but only
// those that hold nothing but a copy that nothing holds; a link of such a
// name, and anything in it, stays.
TEST(Uninstall, LeftOverCopyFoldersGoAtTheNextStart)
{
    enum Kind { ONLY_COPY, MORE, HELD, EMPTY, LINK, OTHER_NAME };
    struct Case {
        Kind kind;
        const char *name;
        bool removed;
    } cases[] = {
        {ONLY_COPY, "tarnok-uninstall-0123456789abcdef", true},
        {MORE, "tarnok-uninstall-00000000ffffffff", false},
        {HELD, "tarnok-uninstall-1111111122222222", false},
        {EMPTY, "tarnok-uninstall-3333333344444444", false},
        {OTHER_NAME, "tarnok-uninstall-mine", false},
        {LINK, "tarnok-uninstall-5555555566666666", false}, // last: it may skip
    };
    std::string exe = stage_setup(scratch("setup"), "setup_nogame");
    std::string tmp = scratch("tmp"), elsewhere = scratch("elsewhere");
    HANDLE held = INVALID_HANDLE_VALUE;
    for (const Case &k : cases) {
        std::string folder = tmp + "\\" + k.name;
        switch (k.kind) {
        case ONLY_COPY: case OTHER_NAME: spit(folder + "\\tarnok_uninstall.exe", "left over"); break;
        case MORE:
            spit(folder + "\\tarnok_uninstall.exe", "left over");
            spit(folder + "\\mine.txt", "mine");
            break;
        case HELD:
            spit(folder + "\\tarnok_uninstall.exe", "left over");
            held = CreateFileA((folder + "\\tarnok_uninstall.exe").c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
            break;
        case EMPTY: make_dirs(folder.c_str()); break;
        case LINK:
            spit(elsewhere + "\\tarnok_uninstall.exe", "keep");
            if (!unix_link(elsewhere, folder))
                GTEST_SKIP() << "cannot make a symbolic link here";
            break;
        }
    }
    Child c = start_setup_in(exe, "/silent /dir \"" + scratch("dir") + "\\TarnokPC\"", tmp);
    EXPECT_EQ(1, wait_exit(c));
    end_child(c);
    CloseHandle(held);
    for (const Case &k : cases)
        EXPECT_EQ(k.removed, !path_exists((tmp + "\\" + k.name).c_str())) << k.name;
    EXPECT_EQ("mine", slurp(tmp + "\\tarnok-uninstall-00000000ffffffff\\mine.txt"));
    EXPECT_EQ("keep", slurp(elsewhere + "\\tarnok_uninstall.exe"));
}

// No copy can be made when the temporary folder is missing: the first stage
// says why, with the system's reason, and starts nothing; the installation
// stays as it was.
TEST(Uninstall, ACopyThatCannotBeMadeSaysWhyAndStartsNothing)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Child c = start_setup(exe, install_args(target) + " /nodesktop /nostartmenu", scratch("tmp-install"));
    ASSERT_EQ(0, wait_exit(c, 120000));
    std::string missing = scratch("tmp") + "\\missing";
    Child u = start_setup_in(target + "\\uninstall.exe", "/uninstall", missing);
    HWND ask = gd_find_box("Tarnok uninstall", u.pid, 20000);
    ASSERT_NE(nullptr, ask);
    gd_answer(ask, IDYES);
    HWND why = nullptr;
    ASSERT_TRUE(eventually([&] {
        why = gd_find_box("Tarnok uninstall", u.pid, 0);
        return why != nullptr && why != ask;
    })) << "no reason shown";
    char text[1024];
    gd_box_text(why, text, sizeof text);
    std::string said = text;
    EXPECT_EQ(0u, said.find("Tarnok was not removed: no folder for the uninstaller could be made in the temporary "
                            "folder."))
        << said;
    EXPECT_NE(std::string::npos, said.find("(error ")) << said;
    gd_answer(why, IDOK);
    EXPECT_EQ(0, wait_exit(u));
    end_child(u);
    EXPECT_TRUE(file_exists(target + "\\tarnok.exe"));
    EXPECT_TRUE(file_exists(target + "\\uninstall.exe"));
    EXPECT_TRUE(dir_exists(target + "\\game"));
}
