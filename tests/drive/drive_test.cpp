// Installs from a real CD drive as a player with discs meets them: drive D:
// is a CD-ROM drive of Wine's mount manager that shows a FUSE file system
// (discfs), whose control file changes the disc, fails reads or listings,
// and slows or stalls the drive while setup reads it. Drive E: holds disc 2
// (the "gui" fixture). Each case is run on its own by drive-run.sh, which
// mounts the file system and makes the drive. The boxes are answered as a
// player would, and each new one is kept as a screenshot in test-output\gui.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "guisupport.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

const char drive[] = "D:\\";

// The control file of the file system behind drive D: (or behind drive
// F:, the second drive), as Windows names it.
std::string control_path(const char *var = "TARNOK_DRIVE_CONTROL")
{
    const char *unix = getenv(var);
    std::string p = unix ? std::string("Z:") + unix : "";
    for (char &c : p)
        if (c == '/')
            c = '\\';
    return p;
}

std::string disc_line(int n)
{
    const char *media = getenv("TARNOK_UNIX_MEDIA");
    return std::string("disc ") + (media ? media : "") + "/disc" + std::to_string(n) + "\n";
}

// What the drive does from now on: the disc in it and its faults.
void drive_does(const std::string &lines)
{
    spit(control_path(), lines);
}

// The same for the second drive, F:.
void drive2_does(const std::string &lines)
{
    spit(control_path("TARNOK_DRIVE_CONTROL2"), lines);
}

// Defines drive D: again, as a disc change does: its volume serial is then
// the one that the disc's .windows-serial file gives.
void drive_changed()
{
    const char *tool = getenv("TARNOK_CDDRIVE"), *mount = getenv("TARNOK_DRIVE_MOUNT");
    ASSERT_TRUE(tool && mount);
    std::string exe = std::string("Z:") + tool;
    for (char &c : exe)
        if (c == '/')
            c = '\\';
    ASSERT_EQ(0, run_process("\"" + exe + "\" define d \"" + mount + "\""));
}

struct Session {
    Child child;
    HWND w = nullptr;
    ~Session() { end_child(child); }
};

std::string patch() { return media_path("TARNO103.EXE"); }

// The window of setup.exe exe, filled for an install into target from CD
// 1, CD 2 and the update.
void fill_window(Session &r, const std::string &exe, const std::string &cd1, const std::string &cd2,
                 const std::string &update, const std::string &target)
{
    r.child = start_setup(exe, "", scratch("tmp"));
    r.w = setup_window(r.child);
    ASSERT_NE(nullptr, r.w) << "no setup window";
    gd_set_text(gd_control(r.w, C_CD1), cd1.c_str());
    gd_set_text(gd_control(r.w, C_CD2), cd2.c_str());
    gd_set_text(gd_control(r.w, C_PATCH), update.c_str());
    gd_set_text(gd_control(r.w, C_DIR), target.c_str());
}

// The window, filled for an install into target from CD 1 and CD 2.
void open_window(Session &r, const std::string &cd1, const std::string &cd2, const std::string &target)
{
    fill_window(r, stage_setup(scratch("setup"), "setup_game"), cd1, cd2, patch(), target);
}

// The same as a player has it, for the cases that make the guide's
// pictures: setup.exe and the update in the player's downloads, the game
// into the player's folder.
void open_player_window(Session &r, const std::string &cd1, const std::string &cd2)
{
    std::string exe = stage_player("setup_game", {"TARNO103.EXE"});
    fill_window(r, exe, cd1, cd2, std::string(player_downloads) + "\\TARNO103.EXE", player_folder);
}

// An unattended install; its exit code. The drives go unquoted: a quote
// after a backslash would be taken as part of the argument.
int run_silent(Child &c, const std::string &cd1, const std::string &cd2, const std::string &target)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    c = start_setup(exe, "/silent /cd1 " + cd1 + " /cd2 " + cd2 + " /patch \"" + patch() + "\" /dir \"" + target + "\"",
                    scratch("tmp"));
    return wait_exit(c, 120000);
}

// The next box that setup shows, once the one answered before has gone;
// its text in *text, and a screenshot under `shot`.
HWND next_box(Session &r, std::string *text, const std::string &shot, DWORD timeout_ms = 60000)
{
    HWND box = gd_find_box("Tarnok setup", r.child.pid, timeout_ms);
    char buf[1024] = "";
    if (box) {
        gd_box_text(box, buf, sizeof buf);
        screenshot(shot);
    }
    *text = buf;
    return box;
}

void answer(HWND box, int id)
{
    gd_answer(box, id);
    EXPECT_TRUE(gd_wait_gone(box, 10000));
}

bool has_line(const std::vector<std::string> &lines, const std::string &prefix)
{
    for (const std::string &l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

std::string lines_text(const std::vector<std::string> &lines)
{
    std::string all;
    for (const std::string &l : lines)
        all += l + "\n";
    return all;
}

void expect_installed(const std::string &target)
{
    // What a copy of the media folder holds: the walk stops 16 levels down.
    EXPECT_EQ("", compare_trees(media_folder_copy("disc1"), target + "\\game\\cd1"));
    EXPECT_EQ("", compare_trees(media_folder_copy("disc2"), target + "\\game\\cd2"));
    EXPECT_TRUE(file_exists(target + "\\tarnok.exe"));
}

// The status line at one moment, ms after the first look.
struct Sample {
    DWORD ms;
    std::string text;
};

// What screen readers were told of the status line: when it was announced
// as a live region that changed, in ms of GetTickCount.
const DWORD live_region_changed = 0x8019; // EVENT_OBJECT_LIVEREGIONCHANGED, Windows 8's
HWND announcing;
std::vector<DWORD> announced;

void CALLBACK on_announced(HWINEVENTHOOK, DWORD, HWND w, LONG object, LONG, DWORD, DWORD ms)
{
    if (w == announcing && object == OBJID_CLIENT)
        announced.push_back(ms);
}

// Waits, handing this thread's messages on meanwhile: the announcements
// arrive as messages.
void pump_for(DWORD ms)
{
    DWORD until = GetTickCount() + ms;
    for (;;) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&m);
        LONG left = (LONG)(until - GetTickCount());
        if (left <= 0)
            break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, (DWORD)left, QS_ALLINPUT);
    }
}

// The status line every 250 ms until the install has ended, with the
// moments it was announced to screen readers; *start is when the first
// look was, in ms of GetTickCount.
std::vector<Sample> watch_status(const Child &c, HWND w, DWORD *start, DWORD timeout_ms = 180000)
{
    std::vector<Sample> seen;
    HWND st = gd_control(w, C_STATUS);
    announcing = st;
    announced.clear();
    HWINEVENTHOOK hook = SetWinEventHook(live_region_changed, live_region_changed, nullptr, on_announced,
                                         c.pid, 0, WINEVENT_OUTOFCONTEXT);
    EXPECT_NE(nullptr, hook);
    *start = GetTickCount();
    for (DWORD now = 0; now < timeout_ms; now = GetTickCount() - *start) {
        std::string text = text_of(st);
        seen.push_back({now, text});
        if (text == text_installed || text == text_failed)
            break;
        pump_for(250 - (GetTickCount() - *start - now) % 250);
    }
    if (hook)
        UnhookWinEvent(hook);
    return seen;
}

// A disc's copy as the status line tells it: "CD 1: TARNOK\X.DAT - 2.1 of
// 4.6 MB, 98 KB/s, about 30 seconds left", or its files read again: "CD
// 1, reading again: ...".
struct CopyLine {
    int disc = 0; // 0: not a copy's line
    bool again = false;
    std::string file;
    double done_mb = 0, whole_mb = 0;
    double speed = 0;   // bytes a second; 0 while not shown
    long left_ms = -1;  // -1 while not shown
};

// The time left as the line says it, in ms.
long left_of(const std::string &words)
{
    static const std::regex part("(\\d+) (hour|minute|second)s?");
    long ms = 0;
    for (std::sregex_iterator i(words.begin(), words.end(), part), end; i != end; ++i) {
        long n = std::stol((*i)[1]);
        std::string unit = (*i)[2];
        ms += n * (unit == "hour" ? 3600000 : unit == "minute" ? 60000 : 1000);
    }
    return ms;
}

CopyLine copy_line(const std::string &text)
{
    static const std::regex line("CD (\\d)(, reading again)?: (?:(.+) - )?([\\d.]+) of ([\\d.]+) MB"
                                 "(?:, ([\\d.]+) (KB|MB)/s)?(?:, (about .+ left))?");
    std::smatch m;
    CopyLine c;
    if (!std::regex_match(text, m, line))
        return c;
    c.disc = std::stoi(m[1]);
    c.again = m[2].matched;
    c.file = m[3];
    c.done_mb = std::stod(m[4]);
    c.whole_mb = std::stod(m[5]);
    if (m[6].matched)
        c.speed = std::stod(m[6]) * (m[7] == "KB" ? 1024 : 1048576);
    if (m[8].matched)
        c.left_ms = left_of(m[8]);
    return c;
}

bool waiting_line(const std::string &text) { return text.rfind("Waiting for the drive (", 0) == 0; }

// The samples from the first line of disc 1's copy to its last.
std::vector<Sample> disc1_copy(const std::vector<Sample> &all)
{
    std::vector<Sample> copy;
    for (const Sample &s : all) {
        CopyLine c = copy_line(s.text);
        if ((c.disc == 1 && !c.again) || (!copy.empty() && waiting_line(s.text)))
            copy.push_back(s);
        else if (!copy.empty())
            break;
    }
    return copy;
}

std::string samples_text(const std::vector<Sample> &samples)
{
    std::string all;
    for (const Sample &s : samples)
        all += std::to_string(s.ms) + "\t" + s.text + "\n";
    return all;
}

// The bytes of all files below a folder.
unsigned long long tree_bytes(const std::string &folder)
{
    unsigned long long n = 0;
    for (const std::string &rel : list_tree(folder)) {
        if (rel.back() == '\\')
            continue;
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (GetFileAttributesExA((folder + "\\" + rel).c_str(), GetFileExInfoStandard, &a))
            n += ((unsigned long long)a.nFileSizeHigh << 32) | a.nFileSizeLow;
    }
    return n;
}

const char bad_file[] = "/TARNOK/DISK1/FILLER/G000/FILL0001.DAT";
const char bad_path[] = "D:\\TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT";

// What the log says of a file of the disc in the drive that reads no
// further: the disc could not be read there, with the system's code as a
// detail. Groups: the file, the code.
const std::regex line_unreadable("the file (.+) could not be read from the disc \\(error (\\d+)\\): the disc may be "
                                 "dirty or scratched");

// The box about files that a drive could not read whole, after the passes
// over their missing parts. Groups: how many files, the disc.
const std::regex box_salvage("(\\d+) files? of Tarnok disc (\\d) could not be read whole \\(see the list of messages\\)\\. "
                             "Clean the disc, put it back and press Retry, or press Another copy to take the missing "
                             "parts from another copy of the disc\\.");

// The box's buttons, by their words: Retry, Another copy..., Cancel and
// Copy details.
void expect_salvage_buttons(HWND box)
{
    EXPECT_EQ("Retry", text_of(GetDlgItem(box, IDTRYAGAIN)));
    EXPECT_EQ("Another copy...", text_of(GetDlgItem(box, IDCONTINUE)));
    EXPECT_EQ("Cancel", text_of(GetDlgItem(box, IDCANCEL)));
    EXPECT_EQ("Copy details", text_of(GetDlgItem(box, IDHELP)));
}

// 1 when the guide's table of messages has a row for text with each number
// in it standing as <number>.
bool in_guide_numbered(const std::string &text)
{
    std::string row = std::regex_replace(text, std::regex("[0-9]+(,[0-9]{3})*"), "<number>");
    return slurp(source_path("docs\\players.md")).find("| `" + row + "` |") != std::string::npos;
}

// 1 when the guide's table of messages has a row for text, in which the
// path stands as <path> and the system's code as <number>.
bool in_guide(const std::string &text, const std::string &path)
{
    std::string row = text;
    size_t at = row.find(path);
    if (at != std::string::npos)
        row.replace(at, path.size(), "<path>");
    row = std::regex_replace(row, std::regex("\\(error \\d+\\)"), "(error <number>)");
    return slurp(source_path("docs\\players.md")).find("| `" + row + "` |") != std::string::npos;
}

// The log line that says a file of the disc could not be read, or "".
std::string unreadable_line(const std::vector<std::string> &log)
{
    for (const std::string &l : log)
        if (std::regex_match(l, line_unreadable))
            return l;
    return "";
}


// Where the reads of the 1 MiB file start to fail, and the start of the
// drive-sized read that holds it: what the copy reads around. Near the
// file's end, so that the passes over the damage stay short.
const uint64_t eio_at = 1000000, eio_block = eio_at - eio_at % 65536;

std::string eio_line(int failures)
{
    return std::string("eio ") + bad_file + " " + std::to_string(eio_at) + " " + std::to_string(failures) + "\n";
}

} // namespace

std::vector<std::string> files_read(const std::string &log_path);
namespace {
std::vector<std::pair<uint64_t, uint64_t>> reads_of(const std::string &log_path, const std::string &file);
}

// One drive for both discs, disc 2 in it first: it is copied first, then
// the question for disc 1 is asked again while the wrong disc, and then no
// disc, is in the drive. Each copy lands in its own folder.
TEST(Drive, OneDriveBothDiscs)
{
    drive_does(disc_line(2));
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, drive, target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-insert-disc1");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    EXPECT_EQ("Insert Tarnok disc 1 into drive D: and press OK.", text);
    EXPECT_TRUE(dir_exists(target + "\\game\\cd2\\TARNOK\\DISK2")) << "the disc in the drive goes first";
    answer(box, IDOK);
    box = next_box(r, &text, "drive-wrong-disc");
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("The disc in drive D: is Tarnok disc 2. Insert disc 1 and press OK.", text);
    drive_does("disc none\n");
    answer(box, IDOK);
    box = next_box(r, &text, "drive-no-disc");
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("There is no disc in drive D:. Insert disc 1 and press OK.", text);
    // Disc 1's size is known only now: the bar is spread anew over what is
    // left, from where it stands, and never moves back.
    HWND bar = gd_control(r.w, C_PROG);
    int before = gd_progress(bar), last = before, worst_step = 0;
    EXPECT_GT(before, 0);
    EXPECT_LT(before, 1000);
    drive_does(disc_line(1));
    answer(box, IDOK);
    for (int waited = 0; field(r.w, C_STATUS) != text_installed && waited < 120000; waited += 20) {
        int now = gd_progress(bar);
        worst_step = std::min(worst_step, now - last);
        last = now;
        Sleep(20);
    }
    ASSERT_EQ(text_installed, field(r.w, C_STATUS));
    EXPECT_EQ(0, worst_step) << "the bar moved back";
    EXPECT_EQ(1000, gd_progress(bar));
    expect_installed(target);
    std::vector<std::string> log = child_log(r.child);
    EXPECT_EQ("Done.", log.back());
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// Cancel at the question for the other disc fails the install, and the
// folder it made goes with everything copied into it.
TEST(Drive, CancelAtTheDiscQuestion)
{
    drive_does(disc_line(1));
    std::string target = player_folder;
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_player_window(r, drive, drive));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-insert-disc2");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    EXPECT_EQ("Insert Tarnok disc 2 into drive D: and press OK.", text);
    answer(box, IDCANCEL);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_failed, 60000)) << field(r.w, C_STATUS);
    std::vector<std::string> log = child_log(r.child);
    EXPECT_EQ("ERROR: disc 2 was not inserted", log.back());
    EXPECT_FALSE(dir_exists(target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// Unattended, nobody can change the disc: refused before anything is written,
// however each field writes the drive.
TEST(Drive, UnattendedWithOneDriveIsRefused)
{
    drive_does(disc_line(1));
    struct Case {
        const char *cd1, *cd2;
    } cases[] = {{"D:", "d:\\"}, {"D:/", "D:\\"}};
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string(k.cd1) + " and " + k.cd2);
        std::string target = scratch("installed") + "\\Tarnok PC";
        Child c;
        EXPECT_EQ(1, run_silent(c, k.cd1, k.cd2, target));
        std::vector<std::string> log = child_log(c);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ("ERROR: CD 1 and CD 2 are both drive D:; an unattended install needs both discs at once (copy one "
                  "disc to a folder, or use an image of it)",
                  log.back());
        EXPECT_FALSE(dir_exists(target));
        end_child(c);
    }
}

// A scratched file: the copy reads around it and gives it passes of its
// own, then the box says how many files could not be read whole, in the
// guide's words, and offers Retry and another copy. The log names the
// file with the system's code as a detail only: under Wine the code is 21,
// whose words, "Not ready", would say that the drive is empty. The disc is
// cleaned (the reads heal) and Retry reads only what is missing.
TEST(Drive, ReadErrorRetriedInTheWindow)
{
    std::string reads = scratch("reads") + "\\reads.log";
    drive_does(disc_line(1) + eio_line(0));
    std::string target = player_folder;
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_player_window(r, drive, "E:\\"));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-read-error");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    std::smatch said;
    ASSERT_TRUE(std::regex_match(text, said, box_salvage)) << text;
    EXPECT_EQ("1", said[1].str());
    expect_salvage_buttons(box);
    printf("the box: \"%s\"\n", text.c_str());
    EXPECT_TRUE(in_guide_numbered(text)) << "no row in docs/players.md for: " << text;
    std::vector<std::string> log = child_log(r.child);
    std::string line = unreadable_line(log);
    ASSERT_NE("", line) << lines_text(log);
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_EQ(std::string::npos, lower.find("not ready")) << line;
    EXPECT_TRUE(in_guide(line, bad_path)) << "no row in docs/players.md for: " << line;
    drive_does(disc_line(1) + "readlog " + unix_path(reads) + "\n");
    answer(box, IDTRYAGAIN);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
    expect_installed(target);
    EXPECT_EQ((std::vector<std::string>{bad_file}), files_read(reads)) << "Retry read only the file not read whole";
    for (const auto &read : reads_of(reads, bad_file))
        EXPECT_GE(read.first, eio_block) << "read again what was read well: " << read.first;
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// Watches the open box for ms: the number of boxes that setup showed
// meanwhile, the open one counted; 1 while it stays open and no other
// comes, more for a question that closes and opens again by itself.
int boxes_within(const Session &r, HWND box, DWORD ms)
{
    int shown = 1;
    HWND open = box;
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(50)) {
        HWND now = gd_find_box("Tarnok setup", r.child.pid, 0);
        if (now && now != open)
            shown++;
        open = now;
    }
    return shown;
}

// Retry answered with another disc in the drive, one with a file of the
// path of the file not read whole. Another disc (no disc 1 marker) is not
// read: disc 1 is asked for, in one box that stays open while the other
// disc is in, and closes by itself once disc 1 is back. Another pressing
// of disc 1 whose file is shorter, or as large with other bytes on a
// volume of another serial, gives nothing: the file would not be disc 1's
// (the table knows it), and one box says so, open until it is answered. Another copy of disc 1
// (another serial) whose file is whole gives the missing part, and only
// that is read of it. Each ends with the file disc 1's, byte for byte.
TEST(Drive, RetryWithAnotherDiscInTheDrive)
{
    const std::string file = "\\TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT";
    const std::string bytes = slurp(media_path("disc1") + file);
    ASSERT_GT(bytes.size(), eio_at);
    const std::string insert = "Insert Tarnok disc 1 into drive D: and press OK.";
    const std::string refused =
        "The disc in drive D: is another copy of Tarnok disc 1, but its files differ from the ones setup read: nothing "
        "was taken from it. Put back the disc that setup was reading and press Retry, or press Another copy to take "
        "the missing parts from another copy of the disc.";
    enum Then { ASKS_FOR_DISC, REFUSED, TAKEN };
    struct Case {
        const char *what;
        bool marker;
        std::string data;
        const char *serial; // of the other disc, which is then defined as a disc change does; null: not
        Then then;
    } cases[] = {{"another disc", false, std::string(bytes.size(), 'X'), nullptr, ASKS_FOR_DISC},
                 {"another pressing", true, std::string(200000, 'X'), nullptr, REFUSED},
                 {"another pressing of another serial", true, std::string(bytes.size(), 'X'), "5EC0D15C", REFUSED},
                 {"another copy", true, bytes, "C0B1E5ED", TAKEN}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        std::string other = scratch(k.what), reads = scratch(std::string(k.what) + " reads") + "\\reads.log";
        if (k.marker)
            copy_tree(media_path("disc1"), other);
        spit(other + file, k.data);
        if (k.serial)
            spit(other + "\\.windows-serial", k.serial);
        drive_does(disc_line(1) + eio_line(0));
        std::string target = scratch(std::string(k.what) + " installed") + "\\Tarnok PC";
        Session r;
        ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
        ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
        std::string text;
        HWND box = next_box(r, &text, "drive-retry-another-disc");
        ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
        ASSERT_TRUE(std::regex_match(text, box_salvage)) << text;
        drive_does("disc " + unix_path(other) + "\nreadlog " + unix_path(reads) + "\n");
        if (k.serial) {
            ASSERT_NO_FATAL_FAILURE(drive_changed());
        }
        answer(box, IDTRYAGAIN);
        if (k.then == ASKS_FOR_DISC) {
            box = next_box(r, &text, "drive-retry-asks-for-the-disc", 30000);
            ASSERT_NE(nullptr, box) << "read on from another disc: " << field(r.w, C_STATUS);
            EXPECT_EQ(insert, text);
            EXPECT_EQ(1, boxes_within(r, box, 3500)) << "the question closed and opened again by itself";
            EXPECT_TRUE(IsWindow(box));
            drive_does(disc_line(1));
            DWORD back = GetTickCount();
            ASSERT_TRUE(gd_wait_gone(box, 3000)) << "disc 1 is back and the question is still open";
            printf("%s: the question closed %lu ms after disc 1 was back\n", k.what,
                   (unsigned long)(GetTickCount() - back));
        } else if (k.then == REFUSED) {
            box = next_box(r, &text, "drive-retry-another-pressing", 30000);
            ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
            EXPECT_EQ(refused, text);
            EXPECT_TRUE(in_guide_numbered(std::regex_replace(text, std::regex("drive D:"), "drive <drive>")))
                << "no row in docs/players.md for: " << text;
            EXPECT_EQ(1, boxes_within(r, box, 3500)) << "the question closed and opened again by itself";
            drive_does(disc_line(1));
            if (k.serial) {
                ASSERT_NO_FATAL_FAILURE(drive_changed());
            }
            answer(box, IDTRYAGAIN);
        }
        ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
        EXPECT_TRUE(bytes == slurp(target + "\\game\\cd1" + file)) << "the file is not disc 1's";
        expect_installed(target);
        if (k.then == TAKEN) {
            // The drive's own look at the disc's serial is no read of setup's.
            std::vector<std::string> taken = files_read(reads);
            taken.erase(std::remove(taken.begin(), taken.end(), "/.windows-serial"), taken.end());
            EXPECT_EQ((std::vector<std::string>{bad_file}), taken) << slurp(reads);
            for (const auto &read : reads_of(reads, bad_file))
                EXPECT_GE(read.first, eio_block) << "read of the other copy before the gap: " << read.first;
        }
        ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
        EXPECT_EQ(0, wait_exit(r.child));
        if (k.serial) {
            drive_does(disc_line(1));
            ASSERT_NO_FATAL_FAILURE(drive_changed());
        }
    }
}

// Disc 1 copied to a folder on a DVD, given as that folder: a file that
// cannot be read there is a dirty disc, read around and asked about with
// Retry; taken out, the disc is asked for by that folder; put back, what
// was missing is read.
TEST(Drive, ReadErrorInAFolderOfTheDisc)
{
    std::string dvd = scratch("dvd");
    copy_tree(media_path("disc1"), dvd + "\\CD1");
    std::string dvd_line = "disc " + unix_path(dvd) + "\n";
    drive_does(dvd_line + "eio /CD1" + bad_file + " " + std::to_string(eio_at) + " 0\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, "D:\\CD1", "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-folder-read-error");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    ASSERT_TRUE(std::regex_match(text, box_salvage)) << text;
    std::smatch said;
    std::string line = unreadable_line(child_log(r.child));
    ASSERT_TRUE(std::regex_match(line, said, line_unreadable)) << line;
    EXPECT_EQ("D:\\CD1\\TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT", said[1].str());
    drive_does("disc none\n");
    answer(box, IDTRYAGAIN);
    box = next_box(r, &text, "drive-folder-disc-question");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    EXPECT_EQ("Insert the disc that holds D:\\CD1 and press OK.", text);
    drive_does(dvd_line);
    answer(box, IDOK);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
    expect_installed(target);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// Cancel at the box about files not read whole fails the install: the log
// names the file that the disc could not give and what of it is missing,
// in the guide's words, and what was read is kept for the next run.
TEST(Drive, ReadErrorLeftInTheWindow)
{
    drive_does(disc_line(1) + eio_line(0));
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-read-error-left");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    answer(box, IDCANCEL);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_failed, 60000)) << field(r.w, C_STATUS);
    std::vector<std::string> log = child_log(r.child);
    std::string line = unreadable_line(log);
    EXPECT_EQ(0u, line.find(std::string("the file ") + bad_path + " ")) << lines_text(log);
    EXPECT_TRUE(in_guide(line, bad_path)) << "no row in docs/players.md for: " << line;
    std::string missing = line_starting(log, "TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT: ");
    EXPECT_TRUE(in_guide_numbered(std::regex_replace(missing, std::regex("^[^:]+"), "<path>"))) << missing;
    std::string kept = line_starting(log, "The files read so far are kept in ");
    EXPECT_TRUE(in_guide(kept, target)) << "no row in docs/players.md for: " << kept;
    EXPECT_EQ("ERROR: 1 file of CD 1 could not be read whole", log.back());
    EXPECT_TRUE(file_exists(target + "\\game\\cd1" + std::string(bad_path).substr(2) + ".tarnok-part"));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// Unattended, a read that heals within the retries installs; one that does
// not fails, the log naming the file that the disc could not give, and
// nothing is asked; what was read stays for the next run.
TEST(Drive, ReadErrorsUnattended)
{
    std::string target = scratch("healed") + "\\Tarnok PC";
    drive_does(disc_line(1) + eio_line(1));
    Child c;
    EXPECT_EQ(0, run_silent(c, "D:", "E:", target)) << lines_text(child_log(c));
    expect_installed(target);
    end_child(c);

    target = scratch("scratched") + "\\Tarnok PC";
    drive_does(disc_line(1) + eio_line(0));
    Child d;
    EXPECT_EQ(1, run_silent(d, "D:", "E:", target));
    std::vector<std::string> log = child_log(d);
    std::smatch said;
    std::string line = unreadable_line(log);
    ASSERT_TRUE(std::regex_match(line, said, line_unreadable)) << lines_text(log);
    EXPECT_EQ(bad_path, said[1].str());
    EXPECT_EQ("ERROR: 1 file of CD 1 could not be read whole", log.back());
    EXPECT_TRUE(dir_exists(target + "\\game\\cd1"));
    end_child(d);
}

// A folder of the disc that cannot be listed fails the copy, naming it.
TEST(Drive, UnlistableFolderFails)
{
    drive_does(disc_line(1) + "unlist /TARNOK/DISK1/DATA\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Child c;
    EXPECT_EQ(1, run_silent(c, "D:", "E:", target));
    std::vector<std::string> log = child_log(c);
    EXPECT_TRUE(has_line(log, "cannot list D:\\TARNOK\\DISK1\\DATA: ")) << lines_text(log);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("ERROR: copying CD 1 failed", log.back());
    EXPECT_FALSE(dir_exists(target));
    end_child(c);
}

// A folder whose listing the drive cannot read part-way: Wine takes the
// failure for the listing's end, so the copy alone cannot see it. The
// table of editions can: the files the listing lost are named, and an
// unattended install stops.
TEST(Drive, ShortListingNamesTheMissingFiles)
{
    drive_does(disc_line(1) + "shortlist /MANY 30\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Child c;
    EXPECT_EQ(1, run_silent(c, "D:", "E:", target));
    std::vector<std::string> log = child_log(c);
    EXPECT_TRUE(has_line(log, "CD 1: 70 files of edition Sample are missing, cut short or different:")) << lines_text(log);
    int missing = (int)std::count_if(log.begin(), log.end(), [](const std::string &l) {
        return l.compare(0, 5, "MANY\\") == 0 && l.find(": missing (expected ") != std::string::npos;
    });
    EXPECT_EQ(10, missing) << lines_text(log);
    EXPECT_TRUE(has_line(log, "and 60 more"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("ERROR: CD 1 is damaged, or was not read as it should be", log.back());
    EXPECT_FALSE(dir_exists(target));
    end_child(c);
}

// The disc's largest folder listed empty, most of the disc's files: what
// the drive did list is all as the edition has it, so the disc is of that
// edition, and the files missing are named, the first ten and a count.
TEST(Drive, AFolderListedEmptyIsNamed)
{
    drive_does(disc_line(1) + "shortlist /MANY 0\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Child c;
    EXPECT_EQ(1, run_silent(c, "D:", "E:", target));
    std::vector<std::string> log = child_log(c);
    EXPECT_TRUE(has_line(log, "CD 1: 100 files of edition Sample are missing, cut short or different:"))
        << lines_text(log);
    EXPECT_TRUE(has_line(log, "MANY\\F000.TXT: missing"));
    EXPECT_TRUE(has_line(log, "and 90 more"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("ERROR: CD 1 is damaged, or was not read as it should be", log.back());
    end_child(c);
}

// In the window the player may read such files again: once the drive
// lists the folder whole, Retry reads those files, and no other, again.
TEST(Drive, ShortListingReadAgainInTheWindow)
{
    drive_does(disc_line(1) + "shortlist /MANY 30\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    std::string reads = scratch("reads") + "\\reads.log";
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-files-read-again");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    EXPECT_EQ("70 files of Tarnok disc 1 were not read as they should be (see the list of messages). Clean the disc, "
              "put it back and press Retry to read them again.",
              text);
    drive_does(disc_line(1) + "readlog " + unix_path(reads) + "\n");
    answer(box, IDRETRY);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
    expect_installed(target);
    std::vector<std::string> read_files;
    std::string log = slurp(reads);
    for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string file = log.substr(at, log.find(' ', at) - at);
        if (std::find(read_files.begin(), read_files.end(), file) == read_files.end())
            read_files.push_back(file);
    }
    EXPECT_EQ(70u, read_files.size());
    for (const std::string &f : read_files)
        EXPECT_EQ(0u, f.find("/MANY/")) << f << " was read again";
}

// A fresh unattended install of the sample discs from their folders, to
// compare with.
std::string fresh_install()
{
    std::string target = scratch("fresh") + "\\Tarnok PC";
    std::string exe = stage_setup(scratch("fresh-setup"), "setup_game");
    Child c = start_setup(exe, "/silent /cd1 \"" + media_path("disc1") + "\" /cd2 \"" + media_path("disc2") + "\" /patch \"" +
                                   patch() + "\" /dir \"" + target + "\"",
                          scratch("fresh-tmp"));
    EXPECT_EQ(0, wait_exit(c, 120000));
    return target;
}

// The files of the disc that the read log says were read, once each, as
// the drive names them ("/TARNOK/DISK1/X.DAT").
std::vector<std::string> files_read(const std::string &log_path)
{
    std::vector<std::string> files;
    std::string log = slurp(log_path);
    for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string file = log.substr(at, log.find(' ', at) - at);
        if (std::find(files.begin(), files.end(), file) == files.end())
            files.push_back(file);
    }
    return files;
}

// A file below game\cd1 of an install as the drive names it.
std::string on_disc(const std::string &installed)
{
    std::string p = installed.substr(std::string("game\\cd1").size());
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

// After a file of the disc copy was deleted and another changed, an
// install again reads those two from the drive and nothing else, and the
// folder ends as a fresh install's.
TEST(Drive, AnInstallAgainReadsOnlyWhatIsMissingOrChanged)
{
    std::string target = scratch("installed") + "\\Tarnok PC", reads = scratch("reads") + "\\reads.log";
    std::string fresh = fresh_install();
    drive_does(disc_line(1));
    Child c;
    ASSERT_EQ(0, run_silent(c, "D:", "E:", target));
    end_child(c);
    const std::string gone = "game\\cd1\\TARNOK\\DISK1\\DATA\\BLOCK100.DAT";
    const std::string hurt = "game\\cd1\\TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV";
    ASSERT_TRUE(DeleteFileA((target + "\\" + gone).c_str()));
    std::string data = slurp(target + "\\" + hurt);
    data[data.size() / 2] ^= 1;
    spit(target + "\\" + hurt, data);
    drive_does(disc_line(1) + "readlog " + unix_path(reads) + "\n");
    ASSERT_EQ(0, run_silent(c, "D:", "E:", target));
    std::vector<std::string> log = child_log(c);
    end_child(c);
    EXPECT_TRUE(has_line(log, "missing: " + gone)) << lines_text(log);
    EXPECT_TRUE(has_line(log, "changed: " + hurt)) << lines_text(log);
    std::vector<std::string> read = files_read(reads);
    std::sort(read.begin(), read.end());
    EXPECT_EQ((std::vector<std::string>{on_disc(gone), on_disc(hurt)}), read);
    EXPECT_EQ("", compare_trees(fresh, target));
}

// An install killed half-way through disc 1 at a slow drive's rate: run
// again, it reads none of the files it had finished (the one in progress
// at most), and the folder ends as a fresh install's.
TEST(Drive, AKilledInstallResumesWithoutReadingAgain)
{
    std::string target = scratch("installed") + "\\Tarnok PC", reads = scratch("reads") + "\\reads.log";
    std::string fresh = fresh_install();
    std::string list = target + "\\tarnok_files.txt";
    drive_does(disc_line(1) + "rate 1000000\n");
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    Child c = start_setup(exe, "/silent /cd1 D: /cd2 E: /patch \"" + patch() + "\" /dir \"" + target + "\"", scratch("tmp"));
    ASSERT_TRUE(eventually(
        [&] {
            std::string now = slurp_shared(list);
            return std::count(now.begin(), now.end(), '\n') > 40;
        },
        60000));
    end_child(c);
    // What the list held when the install was killed: its whole lines.
    std::string held = slurp(list);
    held = held.substr(0, held.rfind('\n') + 1);
    std::vector<std::string> finished;
    for (size_t at = held.find('\n') + 1, end; (end = held.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string path = held.substr(at, held.find('\t', at) - at);
        if (path.compare(0, 9, "game\\cd1\\") == 0)
            finished.push_back(on_disc(path));
    }
    ASSERT_GT(finished.size(), 20u);
    drive_does(disc_line(1) + "readlog " + unix_path(reads) + "\n");
    ASSERT_EQ(0, run_silent(c, "D:", "E:", target));
    end_child(c);
    std::vector<std::string> read = files_read(reads);
    int again = 0;
    for (const std::string &f : read)
        again += std::count(finished.begin(), finished.end(), f) > 0;
    EXPECT_EQ(0, again) << "finished files read again";
    EXPECT_GT(read.size(), 0u);
    EXPECT_EQ("", compare_trees(fresh, target));
}

// With one drive, a repair asks only for the disc it needs: disc 1 in the
// drive, a file of disc 2 gone from the install; setup asks for disc 2 at
// once and reads that file only.
TEST(Drive, OneDriveRepairAsksOnlyForTheDiscNeeded)
{
    std::string target = scratch("installed") + "\\Tarnok PC", reads = scratch("reads") + "\\reads.log";
    std::string fresh = fresh_install();
    Child c = start_setup(stage_setup(scratch("copy"), "setup_game"),
                          "/silent /cd1 \"" + media_path("disc1") + "\" /cd2 \"" + media_path("disc2") +
                              "\" /patch \"" + patch() + "\" /dir \"" + target + "\"",
                          scratch("copy-tmp"));
    ASSERT_EQ(0, wait_exit(c, 120000));
    end_child(c);
    const std::string gone = "game\\cd2\\TARNOK\\DISK2\\DATA\\LEVELS.DAT";
    ASSERT_TRUE(DeleteFileA((target + "\\" + gone).c_str()));
    drive_does(disc_line(1) + "readlog " + unix_path(reads) + "\n");
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, drive, target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-repair-insert-disc2");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    EXPECT_EQ("Insert Tarnok disc 2 into drive D: and press OK.", text);
    EXPECT_TRUE(files_read(reads).empty()) << "disc 1, not needed, was read";
    drive_does(disc_line(2) + "readlog " + unix_path(reads) + "\n");
    answer(box, IDOK);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
    EXPECT_EQ((std::vector<std::string>{"/TARNOK/DISK2/DATA/LEVELS.DAT"}), files_read(reads));
    EXPECT_EQ("", compare_trees(fresh, target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// The disc taken out in the middle of a file: setup asks for it, and once
// it is back goes on with that file.
TEST(Drive, DiscRemovedAndPutBack)
{
    drive_does(disc_line(1) + "rate 400000\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string part = target + "\\game\\cd1\\TARNOK\\DISK1\\FILLER\\G000\\FILL0000.DAT";
    ASSERT_TRUE(eventually([&] { return file_exists(part); }, 60000)) << field(r.w, C_STATUS);
    drive_does("disc none\n");
    std::string text;
    HWND box = next_box(r, &text, "drive-disc-removed");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    EXPECT_EQ("Insert Tarnok disc 1 into drive D: and press OK.", text);
    drive_does(disc_line(1));
    answer(box, IDOK);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
    expect_installed(target);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// The disc taken out in the middle of a file, unattended: nobody can put it
// back, and the log says so. The file is not said to be unreadable on a
// dirty disc: the disc is gone, not damaged.
TEST(Drive, DiscRemovedUnattended)
{
    drive_does(disc_line(1) + "rate 400000\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    Child c = start_setup(exe, "/silent /cd1 D: /cd2 E: /patch \"" + patch() + "\" /dir \"" + target + "\"",
                          scratch("tmp"));
    std::string part = target + "\\game\\cd1\\TARNOK\\DISK1\\FILLER\\G000\\FILL0000.DAT";
    ASSERT_TRUE(eventually([&] { return file_exists(part); }, 60000));
    drive_does("disc none\n");
    EXPECT_EQ(1, wait_exit(c, 60000));
    std::vector<std::string> log = child_log(c);
    end_child(c);
    EXPECT_TRUE(has_line(log, "ERROR: disc 1 was not inserted")) << lines_text(log);
    EXPECT_EQ("", unreadable_line(log)) << lines_text(log);
    EXPECT_FALSE(dir_exists(target));
}

// At 1x CD speed, Yes to the stop ends the process within two seconds with
// exit code 1, and the folder the install made is gone.
TEST(Drive, StopAtSingleSpeed)
{
    drive_does(disc_line(1) + "rate 153600\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string part = target + "\\game\\cd1\\TARNOK\\DISK1\\FILLER\\G000\\FILL0000.DAT";
    ASSERT_TRUE(eventually([&] { return file_exists(part); }, 60000)) << field(r.w, C_STATUS);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    std::string text;
    HWND box = next_box(r, &text, "drive-stop-question");
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("Stop the installation?", text);
    DWORD asked = GetTickCount();
    gd_answer(box, IDYES);
    EXPECT_EQ(1, wait_exit(r.child, 2000)) << "still running two seconds after the stop";
    printf("gone %lu ms after the stop\n", (unsigned long)(GetTickCount() - asked));
    EXPECT_FALSE(dir_exists(target));
    std::vector<std::string> log = child_log(r.child);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("ERROR: the installation was stopped", log.back());
}

// Detection: drive E: holds disc 2 and disc 1 is found nowhere (drive D: is
// empty, no image lies beside setup), so both fields start with drive E:.
TEST(Drive, DetectionFillsBothFieldsFromOneDrive)
{
    drive_does("disc none\n");
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    Session r;
    r.child = start_setup(exe, "", scratch("tmp"));
    r.w = setup_window(r.child);
    ASSERT_NE(nullptr, r.w) << "no setup window";
    EXPECT_EQ("E:\\", field(r.w, C_CD1));
    EXPECT_EQ("E:\\", field(r.w, C_CD2));
    screenshot("drive-detected-one-drive");
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// A slow drive: disc 1 read in some 45 seconds. Looked at every 250 ms,
// the status line names the file being copied, which is a file of the
// disc, shows the drive's speed, and at half-way a time left close to the
// true one; it never stays the same for more than two seconds. Screen
// readers hear of it as it changes, but not more than once a second.
TEST(Drive, StatusLineAtASetRate)
{
    unsigned long long bytes = tree_bytes(media_path("disc1"));
    unsigned long long rate = std::max(100000ULL, bytes / 45);
    drive_does(disc_line(1) + "rate " + std::to_string(rate) + "\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    DWORD start = 0;
    std::vector<Sample> all = watch_status(r.child, r.w, &start);
    ASSERT_EQ(text_installed, all.back().text) << samples_text(all);
    std::vector<Sample> copy = disc1_copy(all);
    ASSERT_GE(copy.size(), 20u) << samples_text(all);

    // The copy ends with the last of its lines: the true time left is
    // counted to there, within one look.
    DWORD end = copy.back().ms;
    const Sample *half = nullptr;
    int named = 0;
    DWORD same_since = copy.front().ms, longest_same = 0;
    for (size_t i = 0; i < copy.size(); i++) {
        const Sample &s = copy[i];
        if (i > 0 && s.text != copy[i - 1].text)
            same_since = s.ms;
        longest_same = std::max(longest_same, (DWORD)(s.ms - same_since));
        CopyLine c = copy_line(s.text);
        if (!c.file.empty()) {
            named++;
            EXPECT_TRUE(file_exists(media_path("disc1") + "\\" + c.file)) << s.text;
        }
        // Past a fifth of the disc the meter has seconds of history.
        if (c.disc && c.done_mb > c.whole_mb / 5 && c.done_mb < c.whole_mb) {
            EXPECT_NEAR((double)rate, c.speed, rate * 0.25) << s.text;
        }
        if (!half && c.disc && c.done_mb >= c.whole_mb / 2)
            half = &s;
    }
    EXPECT_GT(named, (int)copy.size() / 2) << samples_text(copy);
    EXPECT_LE(longest_same, 2000u) << samples_text(copy);
    ASSERT_NE(nullptr, half) << samples_text(copy);
    CopyLine c = copy_line(half->text);
    double truth = end - half->ms;
    ASSERT_GE(c.left_ms, 0) << half->text;
    EXPECT_NEAR(truth, (double)c.left_ms, truth * 0.25) << half->text << "\n" << samples_text(copy);
    printf("at half-way (%lu ms): \"%s\"; the copy ended %.0f ms later\n", (unsigned long)half->ms,
           half->text.c_str(), truth);

    // Announced at least every two seconds while it copies, never twice
    // within a second (the clock of the events counts in steps of ~16 ms).
    std::vector<DWORD> told;
    for (DWORD t : announced)
        if (t >= start + copy.front().ms && t <= start + end)
            told.push_back(t);
    printf("%zu announcements in the copy's %lu ms\n", told.size(), (unsigned long)(end - copy.front().ms));
    EXPECT_GE(told.size(), (size_t)((end - copy.front().ms) / 2000)) << "announcements while copying";
    for (size_t i = 1; i < told.size(); i++)
        EXPECT_GE(told[i] - told[i - 1], 980u) << "announced twice within a second";
    expect_installed(target);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// A drive that stops for six seconds in the middle of a file, as one that
// re-reads a worn part of the disc: within three seconds the status line
// says so and counts the seconds, and then the copy goes on.
TEST(Drive, StallIsShown)
{
    std::string slow = disc_line(1) + "rate 200000\n";
    drive_does(slow);
    std::string target = player_folder;
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_player_window(r, drive, "E:\\"));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    HWND st = gd_control(r.w, C_STATUS);
    ASSERT_TRUE(eventually([&] { return copy_line(text_of(st)).left_ms >= 0; }, 60000)) << text_of(st);
    screenshot("drive-copying");
    drive_does(slow + "stall 6000\n");
    DWORD stalled = GetTickCount();
    ASSERT_TRUE(eventually([&] { return waiting_line(text_of(st)); }, 10000)) << text_of(st);
    DWORD shown = GetTickCount() - stalled;
    printf("\"%s\" %lu ms after the stall began\n", text_of(st).c_str(), (unsigned long)shown);
    EXPECT_LE(shown, 3000u);
    screenshot("drive-waiting");
    std::vector<std::string> waits = {text_of(st)};
    ASSERT_TRUE(eventually([&] {
        std::string now = text_of(st);
        if (waiting_line(now) && now != waits.back())
            waits.push_back(now);
        return copy_line(now).disc != 0;
    }, 15000)) << text_of(st);
    EXPECT_GE(waits.size(), 2u) << "the wait does not count";
    ASSERT_TRUE(gd_wait_text(st, text_installed, 120000)) << text_of(st);
    expect_installed(target);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// One drive: while the question for disc 2 is open the drive is emptied
// (the text stays), disc 1 goes back in (the text names it), and then disc
// 2 goes in. No key is pressed: the question closes by itself within three
// seconds and the install goes on to its end.
TEST(Drive, DiscQuestionAnswersItself)
{
    drive_does(disc_line(1));
    std::string target = player_folder;
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_player_window(r, drive, drive));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-question-disc2");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    const std::string asked = "Insert Tarnok disc 2 into drive D: and press OK.";
    EXPECT_EQ(asked, text);
    auto box_says = [&] {
        char now[1024];
        gd_box_text(box, now, sizeof now);
        return std::string(now);
    };
    drive_does("disc none\n");
    Sleep(2500);
    EXPECT_EQ(asked, box_says()) << "an emptied drive is no wrong disc";
    drive_does(disc_line(1));
    const std::string wrong = "The disc in drive D: is Tarnok disc 1. Insert disc 2 and press OK.";
    EXPECT_TRUE(eventually([&] { return box_says() == wrong; }, 3000)) << box_says();
    screenshot("drive-question-wrong-disc");
    EXPECT_TRUE(IsWindow(box)) << "a wrong disc closed the question";
    drive_does(disc_line(2));
    DWORD put_in = GetTickCount();
    ASSERT_TRUE(gd_wait_gone(box, 3000)) << "the question is still open";
    printf("the question closed %lu ms after disc 2 went in\n", (unsigned long)(GetTickCount() - put_in));
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
    expect_installed(target);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}
// ---- Reading around damage, and other copies of a disc ----

namespace {

// A range of the 1 MiB file that a drive cannot read: reads that reach it
// fail, reads before and after it work.
std::string bad_line(uint64_t start, uint64_t len)
{
    return std::string("bad ") + bad_file + " " + std::to_string(start) + " " + std::to_string(len) + "\n";
}

// What a read log says was read of a file: its (offset, bytes) reads.
std::vector<std::pair<uint64_t, uint64_t>> reads_of(const std::string &log_path, const std::string &file)
{
    std::vector<std::pair<uint64_t, uint64_t>> out;
    std::string log = slurp(log_path);
    for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = log.substr(at, end - at);
        size_t a = line.find(' '), b = line.find(' ', a + 1);
        if (line.substr(0, a) == file && b != std::string::npos)
            out.push_back({std::stoull(line.substr(b + 1)), std::stoull(line.substr(a + 1, b - a - 1))});
    }
    return out;
}

// 1 when every read lies within [from, to).
bool reads_within(const std::vector<std::pair<uint64_t, uint64_t>> &reads, uint64_t from, uint64_t to)
{
    for (const auto &r : reads)
        if (r.first < from || r.first + r.second > to)
            return false;
    return true;
}

// An unattended install of disc 1 from the drives given (each a /cd1) and
// disc 2 from E:, into target; its exit code and log.
int install_from(const std::vector<std::string> &cd1, const std::string &target, std::vector<std::string> *log)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game"), args = "/silent";
    for (const std::string &c : cd1)
        args += " /cd1 " + c;
    Child c = start_setup(exe, args + " /cd2 E: /patch \"" + patch() + "\" /dir \"" + target + "\"", scratch("tmp"));
    int code = wait_exit(c, 120000);
    *log = child_log(c);
    end_child(c);
    return code;
}
int verify(const std::string &target)
{
    Child c = start_setup(stage_setup(scratch("verify"), "setup_game"), "/verify /dir \"" + target + "\"",
                          scratch("verify-tmp"));
    int code = wait_exit(c, 60000);
    end_child(c);
    return code;
}

const uint64_t margin = 64 * 1024;

} // namespace

// Two copies of disc 1 in two drives, each unable to read a part of the
// same 1 MiB file: the first is read whole but for its bad part, which the
// second gives; nothing else of the second is read. The file is as the
// edition has it, and the install whole.
TEST(Drive, TwoDamagedCopiesMakeOneWholeInstall)
{
    std::string target = scratch("installed") + "\\Tarnok PC", reads = scratch("reads") + "\\reads.log";
    drive_does(disc_line(1) + bad_line(200000, 6144));
    drive2_does(disc_line(1) + bad_line(700000, 6144) + "readlog " + unix_path(reads) + "\n");
    std::vector<std::string> log;
    EXPECT_EQ(0, install_from({"D:", "F:"}, target, &log)) << lines_text(log);
    expect_installed(target);
    EXPECT_EQ(0, verify(target));
    EXPECT_EQ((std::vector<std::string>{bad_file}), files_read(reads)) << "the second copy gave only what was missing";
    auto got = reads_of(reads, bad_file);
    EXPECT_FALSE(got.empty());
    EXPECT_TRUE(reads_within(got, 200000 - margin, 206144 + margin)) << slurp(reads);
    EXPECT_TRUE(has_line(log, "TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT: ")) << lines_text(log);
    // The passes over the first copy leave the sectors that reach the bad
    // range: 198,656 to 206,847.
    EXPECT_TRUE(has_line(log, "TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT: 8,192 bytes taken from F:\\")) << lines_text(log);
}

// One damaged drive alone: the install fails naming the file and what is
// missing of it, and keeps what it read. Run again with the disc whole, it
// reads only the missing part of that file (and around it), and ends as a
// fresh install.
TEST(Drive, ADamagedDriveKeepsWhatItReadForTheNextRun)
{
    std::string target = scratch("installed") + "\\Tarnok PC", reads = scratch("reads") + "\\reads.log";
    std::string fresh = fresh_install();
    drive_does(disc_line(1) + bad_line(200000, 6144));
    std::vector<std::string> log;
    EXPECT_EQ(1, install_from({"D:"}, target, &log));
    EXPECT_TRUE(has_line(log, "TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT: 8,192 bytes could not be read, from byte "
                              "198,656"))
        << lines_text(log);
    EXPECT_TRUE(has_line(log, "The files read so far are kept in " + target)) << lines_text(log);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("ERROR: 1 file of CD 1 could not be read whole", log.back());
    std::string part = target + "\\game\\cd1\\TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT";
    EXPECT_TRUE(file_exists(part + ".tarnok-part"));
    EXPECT_TRUE(file_exists(part + ".tarnok-map"));
    EXPECT_FALSE(file_exists(part));
    EXPECT_EQ(3, verify(target)) << "a partial file leaves the install unfinished";

    drive_does(disc_line(1) + "readlog " + unix_path(reads) + "\n");
    EXPECT_EQ(0, install_from({"D:"}, target, &log)) << lines_text(log);
    EXPECT_EQ((std::vector<std::string>{bad_file}), files_read(reads)) << "only the missing part is read";
    EXPECT_TRUE(reads_within(reads_of(reads, bad_file), 198656 - margin, 206848 + margin)) << slurp(reads);
    EXPECT_EQ("", compare_trees(fresh, target));
}

// Killed during the passes over the damaged part, once some of its
// sectors have been read well, then run again with the disc whole: the run
// again reads none of what the killed run read well (but the read the kill
// cut short), no other file, and ends as a fresh install.
TEST(Drive, AKillDuringThePassesReadsNothingTwice)
{
    std::string target = scratch("installed") + "\\Tarnok PC", first = scratch("reads") + "\\first.log",
                again = scratch("reads") + "\\again.log";
    std::string fresh = fresh_install();
    std::string damaged = disc_line(1) + bad_line(300000, 400000) + "readlog " + unix_path(first) + "\n";
    drive_does(damaged);
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    Child c = start_setup(exe, "/silent /cd1 D: /cd2 E: /patch \"" + patch() + "\" /dir \"" + target + "\"", scratch("tmp"));
    // The passes read a sector at a time; slowed down once they begin, the
    // kill comes while they read the sectors before the bad range.
    auto sector_reads = [&] {
        int n = 0;
        for (const auto &r : reads_of(first, bad_file))
            n += r.second == 2048;
        return n;
    };
    ASSERT_TRUE(eventually([&] { return sector_reads() > 0; }, 90000)) << slurp(first);
    drive_does(damaged + "rate 20000\n");
    ASSERT_TRUE(eventually([&] { return sector_reads() >= 8; }, 30000)) << slurp(first);
    end_child(c);
    auto read_well = reads_of(first, bad_file);
    read_well.pop_back(); // the kill may have cut the last one short of the map
    drive_does(disc_line(1) + "readlog " + unix_path(again) + "\n");
    std::vector<std::string> log;
    EXPECT_EQ(0, install_from({"D:"}, target, &log)) << lines_text(log);
    EXPECT_EQ((std::vector<std::string>{bad_file}), files_read(again)) << slurp(again);
    for (const auto &r : reads_of(again, bad_file))
        for (const auto &w : read_well)
            EXPECT_FALSE(r.first < w.first + w.second && w.first < r.first + r.second)
                << "read again: " << r.second << " bytes at " << r.first << ", read well at " << w.first;
    EXPECT_EQ("", compare_trees(fresh, target));
}

// Picks path in the open file dialog of setup's process titled title: its
// file name field takes the path, and Open is pressed. 1 once the dialog
// has gone.
bool pick_file(DWORD pid, const char *title, const std::string &path)
{
    HWND dialog = gd_find_box(title, pid, 30000);
    if (!dialog)
        return false;
    HWND edit = nullptr;
    EnumChildWindows(
        dialog,
        [](HWND w, LPARAM lp) -> BOOL {
            char cls[16];
            if (!IsWindowVisible(w) || !GetClassNameA(w, cls, sizeof cls) || _stricmp(cls, "Edit") != 0)
                return TRUE;
            *(HWND *)lp = w;
            return FALSE;
        },
        (LPARAM)&edit);
    if (!edit)
        return false;
    screenshot("drive-another-copy-picked");
    gd_set_text(edit, path.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
    return gd_wait_gone(dialog, 10000);
}

// The box about a file not read whole takes another copy by Another
// copy...: an image of the disc, whose file is whole, gives the part that
// the drive could not, and the install ends well.
TEST(Drive, AnotherCopyPickedInTheWindow)
{
    drive_does(disc_line(1) + bad_line(200000, 6144));
    std::string target = scratch("installed") + "\\Tarnok PC", iso = media_path("disc1.iso");
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-salvage-box");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    ASSERT_TRUE(std::regex_match(text, box_salvage)) << text;
    expect_salvage_buttons(box);
    answer(box, IDCONTINUE);
    ASSERT_TRUE(pick_file(r.child.pid, "Another copy of Tarnok disc 1", iso)) << "no file dialog, or it stayed open";
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
    expect_installed(target);
    std::vector<std::string> log = child_log(r.child);
    EXPECT_TRUE(has_line(log, "TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT: 8,192 bytes taken from " + iso))
        << lines_text(log);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// The same file of another copy holds other bytes where both copies read:
// nothing of that copy is taken, and the install fails naming the file.
// The table of editions knows the file, so that the whole file assembled
// must be as the edition has it.
TEST(Drive, AnotherCopyThatDisagreesIsRefused)
{
    std::string target = scratch("installed") + "\\Tarnok PC";
    std::string other = scratch("other") + "\\disc1";
    copy_tree(media_path("disc1"), other);
    std::string file = other + "\\TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT", data = slurp(file);
    data[203000] = (char)~data[203000];
    spit(file, data);
    drive_does(disc_line(1) + bad_line(200000, 6144));
    drive2_does("disc " + unix_path(other) + "\n");
    std::vector<std::string> log;
    EXPECT_EQ(1, install_from({"D:", "F:"}, target, &log));
    EXPECT_TRUE(has_line(log, "TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT: the copy in F:\\ does not make it as the "
                              "edition has it; nothing of it is taken"))
        << lines_text(log);
    EXPECT_EQ("ERROR: 1 file of CD 1 could not be read whole", log.back());
    std::string part = slurp(target + "\\game\\cd1\\TARNOK\\DISK1\\FILLER\\G000\\FILL0001.DAT.tarnok-part");
    ASSERT_EQ(data.size(), part.size());
    EXPECT_EQ(std::string(8192, '\0'), part.substr(198656, 8192)) << "a byte of the refused copy was taken";
}

// A file that no edition lists: another copy that agrees with the first
// where both read gives the missing part, and the log says the file was
// assembled from two copies with no table to confirm it; one that differs
// there gives nothing.
TEST(Drive, AFileNoTableKnowsIsAssembledOnlyWhereTheCopiesAgree)
{
    std::string first = scratch("first") + "\\disc1", second = scratch("second") + "\\disc1";
    copy_tree(media_path("disc1"), first);
    std::string extra = "\\TARNOK\\DISK1\\EXTRA\\UNLISTED.DAT";
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = (char)(i * 7 + i / 1000);
    spit(first + extra, bytes);
    copy_tree(first, second);
    const std::string unlisted = "/TARNOK/DISK1/EXTRA/UNLISTED.DAT";
    drive_does("disc " + unix_path(first) + "\nbad " + unlisted + " 100000 4096\n");
    for (int agree : {1, 0}) {
        SCOPED_TRACE(agree ? "the copies agree" : "the copies differ where both read");
        std::string changed = bytes;
        if (!agree)
            changed[100000 - 3000] = (char)~changed[100000 - 3000];
        spit(second + extra, changed);
        drive2_does("disc " + unix_path(second) + "\n");
        std::string target = scratch(agree ? "agree" : "differ") + "\\Tarnok PC";
        std::vector<std::string> log;
        EXPECT_EQ(agree ? 0 : 1, install_from({"D:", "F:"}, target, &log)) << lines_text(log);
        if (agree) {
            EXPECT_EQ(bytes, slurp(target + "\\game\\cd1" + extra));
            EXPECT_TRUE(has_line(log, "TARNOK\\DISK1\\EXTRA\\UNLISTED.DAT: assembled from 2 copies, no table to "
                                      "confirm it"))
                << lines_text(log);
        } else {
            EXPECT_TRUE(has_line(log, "TARNOK\\DISK1\\EXTRA\\UNLISTED.DAT: the copy in F:\\ differs where both "
                                      "copies were read; nothing of it is taken"))
                << lines_text(log);
        }
    }
}

namespace {

// The drive's disc and a setup of its own (exe in *exe), with its log in
// tmp: an unattended install from drive D: and drive E:, its exit code.
int install_from_drive(const std::string &tag, std::string *exe, std::string *tmp)
{
    std::string base = scratch(tag);
    *exe = stage_setup(base, "setup_game");
    *tmp = base + "\\tmp";
    Child c = start_setup(*exe, "/silent /nodesktop /nostartmenu /cd1 D: /cd2 E: /patch \"" + patch() + "\" /dir \"" +
                                    base + "\\Tarnok PC\"",
                          *tmp);
    int code = wait_exit(c, 120000);
    end_child(c);
    return code;
}

std::string crc_text(const std::string &data)
{
    char hex[16];
    snprintf(hex, sizeof hex, "%08X", (unsigned)crc32_buf(data.data(), data.size()));
    return hex;
}

// The error code at the end of a line "... (error N)"; "" when none.
std::string error_code_of(const std::string &line)
{
    std::smatch m;
    return std::regex_search(line, m, std::regex("\\(error ([0-9]+)\\)")) ? m[1].str() : "";
}

} // namespace

// A disc in a drive with a damaged file, unattended, then setup.exe
// /report: a file that the drive cannot read, named with what the disc's
// edition has and the error code of the read; and a file that the drive
// reads with other bytes and no error, named with the CRC-32 the edition
// has and the one the copy found.
TEST(Drive, ReportNamesTheDamagedFile)
{
    const std::string misread = "TARNOK\\DISK1\\DATA\\BLOCK100.DAT";
    const std::string unread = media_path("disc1") + std::string(bad_path).substr(2);
    std::string was = slurp(media_path("disc1\\" + misread)), read = was;
    read[5000] = (char)~read[5000];
    char size[32];
    fmt_count(slurp(unread).size(), size, sizeof size);

    drive_does(disc_line(1) + eio_line(0));
    std::string exe, tmp, text;
    ASSERT_EQ(1, install_from_drive("unread", &exe, &tmp));
    ASSERT_EQ(0, run_report(exe, "", tmp, &text));
    std::vector<std::string> lines = report_lines(text);
    EXPECT_EQ(0u, line_starting(lines, "CD 1: ").find("CD 1: CD drive D:\\ (")) << text;
    EXPECT_EQ("Failure: ERROR: 1 file of CD 1 could not be read whole", line_starting(lines, "Failure: "));
    std::string failed = line_starting(lines, std::string("the file ") + bad_path + " could not be read from the disc");
    std::string code = error_code_of(failed);
    ASSERT_NE("", code) << text;
    EXPECT_EQ(0u, line_starting(lines, "Error code: ").find("Error code: " + code + " (")) << text;
    EXPECT_EQ(0u, line_starting(lines, "Error in: ").find(std::string("Error in: the file ") + bad_path)) << text;
    std::string named = line_starting(lines, "Files that could not be read:");
    auto at = std::find(lines.begin(), lines.end(), named);
    ASSERT_NE(lines.end(), at) << text;
    ASSERT_NE(lines.end(), at + 1);
    EXPECT_EQ(0u, at[1].find(std::string("the file ") + bad_path + " could not be read from the disc")) << at[1];
    EXPECT_NE(std::string::npos, at[1].find("(error " + code + ")")) << at[1];
    std::string expected = std::string("; expected ") + size + " bytes, CRC-32 " + crc_text(slurp(unread)) + " (edition Sample)";
    ASSERT_GE(at[1].size(), expected.size());
    EXPECT_EQ(expected, at[1].substr(at[1].size() - expected.size())) << at[1];

    // A byte read otherwise with no error is all a drive shows of another
    // pressing: it installs, and the report names the file all the same.
    drive_does(disc_line(1) + "flip /TARNOK/DISK1/DATA/BLOCK100.DAT 5000\n");
    ASSERT_EQ(0, install_from_drive("misread", &exe, &tmp));
    ASSERT_EQ(0, run_report(exe, "", tmp, &text));
    lines = report_lines(text);
    EXPECT_EQ("Failure: none", line_starting(lines, "Failure: "));
    EXPECT_EQ("CD 1 verdict: another pressing of edition Sample: 1 file differs from the edition's with no sign of "
              "damage, and the disc is installed as it is",
              line_starting(lines, "CD 1 verdict: "));
    EXPECT_EQ("Files of another pressing, installed as they are:", line_starting(lines, "Files of another pressing"));
    EXPECT_EQ("CD 1: " + misread + ": other contents (CRC-32 " + crc_text(read) + ", expected " + crc_text(was) + ")",
              line_starting(lines, "CD 1: " + misread)) << text;
    EXPECT_EQ("Error code: none", line_starting(lines, "Error code: "));
}

// The box about files not read whole offers Copy details: the details of the install
// so far go on the clipboard, with the question the box asks, and the box
// stays open. Cancelled, the install fails, and Copy details beside Install
// tells the failure, the file and the error code.
TEST(Drive, CopyDetailsFromTheReadErrorBox)
{
    drive_does(disc_line(1) + eio_line(0));
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-read-error-details");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    HWND copy = GetDlgItem(box, IDHELP);
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ("Copy details", text_of(copy));
    EXPECT_TRUE(IsWindowVisible(copy));
    EXPECT_LE(text_width(copy, "Copy details"), [&] {
        RECT b;
        GetClientRect(copy, &b);
        return (int)b.right;
    }()) << "the button is too narrow for its text";
    clipboard_clear();
    ASSERT_TRUE(gd_click(copy));
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_copied, 30000)) << field(r.w, C_STATUS);
    EXPECT_TRUE(IsWindow(box)) << "Copy details closed the question";
    screenshot("drive-read-error-copied");
    std::vector<std::string> lines = report_lines(clipboard_text());
    EXPECT_EQ("Result: under way, asking a question", line_starting(lines, "Result: "));
    EXPECT_EQ("Question: " + text, line_starting(lines, "Question: "));
    EXPECT_EQ(0u, line_starting(lines, "CD 1: ").find("CD 1: CD drive D:\\ (")) << lines_text(lines);
    EXPECT_EQ("Check: not made while the install runs", line_starting(lines, "Check: "));
    EXPECT_EQ("end of report", lines.empty() ? "" : lines.back());

    answer(box, IDCANCEL);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_failed, 60000)) << field(r.w, C_STATUS);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_DETAILS)));
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_copied, 30000)) << field(r.w, C_STATUS);
    lines = report_lines(clipboard_text());
    std::string code = error_code_of(unreadable_line(child_log(r.child)));
    ASSERT_NE("", code) << lines_text(child_log(r.child));
    EXPECT_EQ("Result: failed", line_starting(lines, "Result: "));
    EXPECT_EQ("Failure: ERROR: 1 file of CD 1 could not be read whole", line_starting(lines, "Failure: "));
    EXPECT_EQ(0u, line_starting(lines, "Error code: ").find("Error code: " + code + " (")) << lines_text(lines);
    EXPECT_EQ("", line_starting(lines, "Question: "));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// The time left that the line shows, against the truth: at half the copy
// within a quarter (or 3 s) of it, and from a tenth of the copy on never
// more than twice it (give or take the line's rounding to 5 s).
void expect_time_left_true(const std::vector<Sample> &copy, DWORD half_ms)
{
    DWORD end = copy.back().ms;
    const Sample *half = nullptr;
    for (const Sample &s : copy) {
        CopyLine c = copy_line(s.text);
        if (!half && s.ms >= half_ms && c.disc)
            half = &s;
        if (c.disc && c.left_ms >= 0 && c.done_mb >= c.whole_mb / 10) {
            EXPECT_LE(c.left_ms, 2 * (long)(end - s.ms) + 5000) << s.ms << " " << s.text;
        }
    }
    ASSERT_NE(nullptr, half) << samples_text(copy);
    CopyLine c = copy_line(half->text);
    double truth = end - half->ms;
    ASSERT_GE(c.left_ms, 0) << half->text << "\n" << samples_text(copy);
    EXPECT_NEAR(truth, (double)c.left_ms, std::max(truth * 0.25, 3000.0)) << half->text << "\n" << samples_text(copy);
    printf("at half-way (%lu ms): \"%s\"; the copy ended %.0f ms later\n", (unsigned long)half->ms,
           half->text.c_str(), truth);
}

// A drive at 300 KiB/s that stops for six seconds at the first read of the
// first file, as one that spins up slowly or re-reads a worn start: the
// line shows the wait, and then a time left from the speed of the data,
// not from seconds that held the stall.
TEST(Drive, StatusLineAfterAStallInTheFirstFile)
{
    const unsigned long long rate = 300 * 1024;
    drive_does(disc_line(1) + "rate " + std::to_string(rate) + "\nstall 6000\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    DWORD start = 0;
    std::vector<Sample> all = watch_status(r.child, r.w, &start);
    ASSERT_EQ(text_installed, all.back().text) << samples_text(all);
    std::vector<Sample> copy = disc1_copy(all);
    ASSERT_GE(copy.size(), 20u) << samples_text(all);
    int waits = 0;
    const Sample *half = nullptr;
    for (const Sample &s : copy) {
        waits += waiting_line(s.text);
        CopyLine c = copy_line(s.text);
        if (!half && c.disc && c.done_mb >= c.whole_mb / 2)
            half = &s;
        // The speed, when shown, is the drive's: the stall is no reading.
        // (Until then the window holds the many small files read first.)
        if (c.speed > 0 && c.done_mb >= c.whole_mb / 2) {
            EXPECT_NEAR((double)rate, c.speed, rate * 0.25) << s.text << "\n" << samples_text(copy);
        }
    }
    EXPECT_GE(waits, 8) << "the stall was not shown as the wait\n" << samples_text(copy);
    ASSERT_NE(nullptr, half) << samples_text(copy);
    expect_time_left_true(copy, half->ms);
    expect_installed(target);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// A repair in the window on a slow drive (40 KB/s): two files of disc 1's
// copy are gone, far apart in the order the copy reads the disc, with
// megabytes of whole files between them. The files found whole count for
// the bar at once, but not for the speed, which is the drive's; the time
// left is what is left to read at it, true at half the reading.
TEST(Drive, RepairStatusLineOnASlowDrive)
{
    std::string target = scratch("installed") + "\\Tarnok PC", reads = scratch("reads") + "\\reads.log";
    Child c = start_setup(stage_setup(scratch("copy"), "setup_game"),
                          "/silent /cd1 \"" + media_path("disc1") + "\" /cd2 \"" + media_path("disc2") +
                              "\" /patch \"" + patch() + "\" /dir \"" + target + "\"",
                          scratch("copy-tmp"));
    ASSERT_EQ(0, wait_exit(c, 120000));
    end_child(c);
    // The files between 150 and 500 KB in the order the drive lists them:
    // the first and the last of them go, the rest of the folder between.
    drive_does(disc_line(1));
    const std::string folder = "\\TARNOK\\DISK1\\FILLER\\G000";
    std::vector<std::string> order;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((std::string("D:") + folder + "\\*").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    do {
        unsigned long long size = ((unsigned long long)fd.nFileSizeHigh << 32) | fd.nFileSizeLow;
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && size >= 150000 && size <= 500000)
            order.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    ASSERT_GE(order.size(), 3u);
    std::vector<std::string> gone = {order.front(), order.back()};
    unsigned long long missing = 0;
    for (const std::string &g : gone) {
        std::string path = target + "\\game\\cd1" + folder + "\\" + g;
        missing += slurp(path).size();
        ASSERT_TRUE(DeleteFileA(path.c_str())) << path;
    }
    const unsigned long long rate = 40000;
    drive_does(disc_line(1) + "rate " + std::to_string(rate) + "\nreadlog " + unix_path(reads) + "\n");
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    DWORD start = 0;
    std::vector<Sample> all = watch_status(r.child, r.w, &start);
    ASSERT_EQ(text_installed, all.back().text) << samples_text(all);
    std::vector<Sample> copy = disc1_copy(all);
    ASSERT_GE(copy.size(), 20u) << samples_text(all);
    printf("%s and %s gone, %llu bytes read at %llu bytes a second\n", gone[0].c_str(), gone[1].c_str(), missing,
           rate);
    int speeds = 0;
    for (const Sample &s : copy) {
        CopyLine line = copy_line(s.text);
        if (line.speed > 0) {
            speeds++;
            EXPECT_NEAR((double)rate, line.speed, rate * 0.25) << s.text << "\n" << samples_text(copy);
        }
    }
    EXPECT_GE(speeds, (int)copy.size() / 2) << samples_text(copy);
    ASSERT_NO_FATAL_FAILURE(expect_time_left_true(copy, copy.front().ms + (copy.back().ms - copy.front().ms) / 2));
    std::vector<std::string> read = files_read(reads);
    std::sort(read.begin(), read.end());
    std::vector<std::string> want;
    for (const std::string &g : gone) {
        std::string p = folder + "\\" + g;
        std::replace(p.begin(), p.end(), '\\', '/');
        want.push_back(p);
    }
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, read);
    expect_installed(target);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}

// Files that the drive's short listing lost are read again after Retry,
// as a reading phase of their own: the status line names each file, counts
// the bytes of those files only (never past them), and shows the wait
// when the drive stalls at the first of them.
TEST(Drive, ReadAgainIsShown)
{
    const std::string folder = "\\TARNOK\\DISK1\\FILLER\\G000";
    drive_does(disc_line(1) + "shortlist /TARNOK/DISK1/FILLER/G000 3\n");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    ASSERT_NO_FATAL_FAILURE(open_window(r, drive, "E:\\", target));
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    std::string text;
    HWND box = next_box(r, &text, "drive-read-again-asked");
    ASSERT_NE(nullptr, box) << field(r.w, C_STATUS);
    ASSERT_NE(std::string::npos, text.find("press Retry to read them again")) << text;
    // What is to be read again: the folder's files that the copy lacks.
    std::vector<std::string> again;
    unsigned long long bytes = 0;
    for (const std::string &f : list_dir(media_path("disc1") + folder)) {
        if (!file_exists(target + "\\game\\cd1" + folder + "\\" + f)) {
            again.push_back("TARNOK\\DISK1\\FILLER\\G000\\" + f);
            bytes += slurp(media_path("disc1") + folder + "\\" + f).size();
        }
    }
    ASSERT_FALSE(again.empty());
    drive_does(disc_line(1) + "rate 500000\nstall 3000\n");
    answer(box, IDRETRY);
    DWORD start = 0;
    std::vector<Sample> all = watch_status(r.child, r.w, &start);
    ASSERT_EQ(text_installed, all.back().text) << samples_text(all);
    int lines = 0, waits = 0;
    bool in_phase = false;
    double last_done = 0;
    for (const Sample &s : all) {
        CopyLine c = copy_line(s.text);
        if (c.again) {
            in_phase = true;
            lines++;
            EXPECT_EQ(1, c.disc) << s.text;
            EXPECT_NEAR(bytes / 1048576.0, c.whole_mb, 0.051) << s.text;
            EXPECT_LE(c.done_mb, c.whole_mb) << s.text;
            EXPECT_GE(c.done_mb, last_done) << s.text;
            last_done = c.done_mb;
            EXPECT_NE(again.end(), std::find(again.begin(), again.end(), c.file)) << s.text;
        } else if (in_phase && waiting_line(s.text)) {
            waits++;
        } else if (in_phase && c.disc) {
            break;
        }
    }
    printf("%zu files, %llu bytes read again: %d lines of it, %d of waiting\n", again.size(), bytes, lines, waits);
    EXPECT_GE(lines, 8) << samples_text(all);
    EXPECT_GE(waits, 2) << samples_text(all);
    expect_installed(target);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    EXPECT_EQ(0, wait_exit(r.child));
}
