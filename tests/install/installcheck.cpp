#include "installcheck.h"

#include <windows.h>

#include <algorithm>

#include "setup/setup.h"
#include "testsupport.h"

static const char uninstall_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnokVBL_Pellurin";

InstallOptions options(const std::string &cd1, const std::string &cd2, const std::string &patch,
                       const std::string &dir, int build)
{
    InstallOptions o = {};
    fmt(o.cd1, sizeof o.cd1, "%s", cd1.c_str());
    fmt(o.cd2, sizeof o.cd2, "%s", cd2.c_str());
    fmt(o.patch, sizeof o.patch, "%s", patch.c_str());
    fmt(o.dir, sizeof o.dir, "%s", dir.c_str());
    o.build = build;
    o.desktop = 1;
    o.startmenu = 1;
    return o;
}

void record_progress(uint64_t done, uint64_t total, void *ctx)
{
    ProgressLog *p = (ProgressLog *)ctx;
    p->done.push_back(done);
    p->total = total;
}

int install(const InstallOptions &o, std::vector<std::string> *lines, ProgressLog *progress)
{
    log_reset();
    InstallHost host = {};
    host.ctx = progress;
    host.progress = progress ? record_progress : nullptr;
    int r = do_install(&o, &host);
    if (lines)
        *lines = log_lines();
    return r;
}

std::vector<std::string> tree_within_copy_depth(const std::string &root)
{
    // The root is depth 0; folders are made down to depth 16, with their files.
    std::vector<std::string> out;
    for (const std::string &e : list_tree(root)) {
        bool folder = e.back() == '\\';
        size_t parts = std::count(e.begin(), e.end(), '\\') + (folder ? 0 : 1);
        if (parts <= (folder ? 16u : 17u))
            out.push_back(e);
    }
    return out;
}

std::string compare_copy(const std::string &disc, const std::string &copy)
{
    std::vector<std::string> a = tree_within_copy_depth(disc), b = list_tree(copy);
    if (a != b)
        return "the copy's tree differs: " + std::to_string(a.size()) + " entries on the disc within the copy depth, " +
               std::to_string(b.size()) + " copied";
    for (const std::string &e : a)
        if (e.back() != '\\' && slurp(disc + "\\" + e) != slurp(copy + "\\" + e))
            return "contents differ: " + e;
    return "";
}

bool entry_value(const char *name, std::string *data, unsigned long *type)
{
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, uninstall_key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    char buf[2048];
    DWORD size = sizeof buf, t = 0;
    LONG r = RegQueryValueExA(k, name, NULL, &t, (BYTE *)buf, &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS)
        return false;
    data->assign(buf, size);
    *type = t;
    return true;
}

bool entry_exists()
{
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, uninstall_key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

std::string start_menu_link()
{
    char start[520], desk[520];
    shortcut_paths(start, desk);
    return start;
}

std::string desktop_link()
{
    char start[520], desk[520];
    shortcut_paths(start, desk);
    return desk;
}

uint64_t tree_bytes(const std::string &root)
{
    uint64_t n = 0;
    for (const std::string &e : list_tree(root))
        if (e.back() != '\\')
            n += slurp(root + "\\" + e).size();
    return n;
}

std::string copy_of_disc1(const std::string &base)
{
    std::string copy = base + "\\disc1";
    copy_tree(media_path("disc1"), copy);
    return copy;
}

std::string disc1_without_install(const std::string &base)
{
    std::string copy = copy_of_disc1(base);
    delete_tree((copy + "\\TARNOK\\INSTALL").c_str());
    return copy;
}
