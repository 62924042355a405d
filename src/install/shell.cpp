// The traces of an installation outside its folder, all per user: Start menu
// and desktop shortcuts and the entry in the list of installed programs.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "install/running.h"

static const char link_name[] = "Tarnok - Vorblen";
static const char uninstall_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnokVBL_Pellurin";

// "{folder}\Tarnok - Vorblen.lnk" for a shell folder, or "" when the folder
// cannot be had: a failed lookup leaves its buffer undefined, and a shortcut
// must never be written at an undefined path.
static void shell_link_path(int csidl, char *out)
{
    char folder[MAX_PATH + 1] = "";
    out[0] = 0;
    if (SHGetFolderPathA(NULL, csidl, NULL, 0, folder) != S_OK || !folder[0])
        return;
    fmt(out, 520, "%s\\%s.lnk", folder, link_name);
}

void shortcut_paths(char *start, char *desk)
{
    shell_link_path(CSIDL_PROGRAMS, start);
    shell_link_path(CSIDL_DESKTOPDIRECTORY, desk);
}

// A drive path ("C:\...") or a UNC path ("\\server\..."): a link is only ever
// saved at a full path, never relative to whatever the current folder is.
static int is_full_path(const char *p)
{
    int drive = ((p[0] | 0x20) >= 'a' && (p[0] | 0x20) <= 'z') && p[1] == ':';
    if (drive)
        return p[2] == '\\' || p[2] == '/';
    return p[0] == '\\' && p[1] == '\\';
}

// Saves the link object under name; 1 when the file then reads back as a
// link. A save that fails, or leaves what does not read back, has its file
// removed: no broken shortcut is left at name.
static int save_as(IPersistFile *pf, const char *name)
{
    WCHAR wide[540];
    char got[780];
    int saved = MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 540) && SUCCEEDED(pf->Save(wide, TRUE));
    if (saved && link_target(name, got, sizeof got))
        return 1;
    DeleteFileA(name);
    return 0;
}

// Wine's shell turns a saved link into a Linux menu entry or desktop
// launcher, with the game's icon, by the name it was saved under, which must
// therefore be the link's own. Where no shortcut is yet (or only one whose
// saving was cut short, which cannot be read), the link is saved there
// directly: a kill in the middle leaves a file that does not read, which
// the next install saves over and the uninstall removes. A working shortcut
// is replaced only by a whole new one: saved beside it and renamed into
// place, so that a kill or a full drive leaves the old one; Wine's entry
// for it, made when it was first saved, starts the link and so follows it.
static void save_link(IShellLinkA *sl, const char *link)
{
    IPersistFile *pf = NULL;
    char temp[540], old[780];
    if (FAILED(sl->QueryInterface(IID_IPersistFile, (void **)&pf)))
        return;
    if (!path_exists(link) || !link_target(link, old, sizeof old)) {
        DeleteFileA(link);
        save_as(pf, link);
    } else if (fmt_path(temp, sizeof temp, "%s%s", link, DEST_TEMP_SUFFIX) && save_as(pf, temp) &&
               !MoveFileExA(temp, link, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temp);
    }
    pf->Release();
    setup_trace("step: shortcut saved");
}

// The target goes to the shell as an item ID list. Given as a path, Wine's
// shell at once asks the target's drive for its label and serial, which
// starting the game does not need, and for a drive whose device it may not
// read (Z:, the Linux root) says so on the console. A target it cannot
// find is given as a path.
static void set_target(IShellLinkA *sl, const char *target)
{
    PIDLIST_ABSOLUTE id = ILCreateFromPathA(target);
    if (!id || FAILED(sl->SetIDList(id)))
        sl->SetPath(target);
    CoTaskMemFree(id);
}

// COM must be initialised on the calling thread.
void make_link(const char *link, const char *target, const char *workdir)
{
    if (!is_full_path(link))
        return;
    IShellLinkA *sl = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&sl)))
        return;
    set_target(sl, target);
    sl->SetWorkingDirectory(workdir);
    sl->SetDescription(link_name);
    sl->SetIconLocation(target, 0);
    save_link(sl, link);
    sl->Release();
}

// Each value stops the entry at its first failure, with the code kept.
static LONG set_text(HKEY key, const char *name, const char *text, LONG before)
{
    if (before != ERROR_SUCCESS)
        return before;
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1); // with its NUL
}

static LONG set_dword(HKEY key, const char *name, DWORD value, LONG before)
{
    if (before != ERROR_SUCCESS)
        return before;
    BYTE le[4] = {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24)};
    return RegSetValueExA(key, name, 0, REG_DWORD, le, sizeof le);
}

int write_uninstall_entry(const char *dir, uint64_t budget)
{
    HKEY key;
    LONG r = RegCreateKeyExA(HKEY_CURRENT_USER, uninstall_key, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL);
    if (r != ERROR_SUCCESS) {
        SetLastError((DWORD)r);
        return 0;
    }
    char text[780];
    r = set_text(key, "DisplayName", "Tarnok - Vorblen (Pellurin)", r);
    fmt(text, sizeof text, "\"%s\\%s\" /uninstall", dir, install_layout[LAYOUT_UNINSTALLER].name);
    r = set_text(key, "UninstallString", text, r);
    fmt(text, sizeof text, "%s\\%s,0", dir, install_layout[LAYOUT_EXE].name);
    r = set_text(key, "DisplayIcon", text, r);
    r = set_text(key, "InstallLocation", dir, r);
    r = set_text(key, "Publisher", "Pellurin port (fan project)", r);
    r = set_dword(key, "EstimatedSize", (DWORD)(budget >> 10), r);
    r = set_dword(key, "NoModify", 1, r);
    r = set_dword(key, "NoRepair", 1, r);
    RegCloseKey(key);
    SetLastError((DWORD)r);
    return r == ERROR_SUCCESS;
}

int read_install_location(char *out, size_t size)
{
    HKEY key;
    out[0] = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, uninstall_key, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    char text[1024];
    DWORD type = 0, got = sizeof text - 1;
    LONG r = RegQueryValueExA(key, "InstallLocation", NULL, &type, (BYTE *)text, &got);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ)
        return 0;
    text[got] = 0; // a value stored without its NUL still ends here
    fmt(out, size, "%s", text);
    return 1;
}

int link_target(const char *link, char *out, size_t size)
{
    out[0] = 0;
    WCHAR wide[520];
    if (!MultiByteToWideChar(CP_ACP, 0, link, -1, wide, 520))
        return 0;
    IShellLinkA *sl = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&sl)))
        return 0;
    IPersistFile *pf = NULL;
    char target[MAX_PATH + 1] = "";
    int ok = 0;
    if (SUCCEEDED(sl->QueryInterface(IID_IPersistFile, (void **)&pf))) {
        // The target as stored, without looking for a moved file.
        if (SUCCEEDED(pf->Load(wide, STGM_READ)) && sl->GetPath(target, MAX_PATH, NULL, SLGP_RAWPATH) == S_OK)
            ok = target[0] != 0;
        pf->Release();
    }
    sl->Release();
    if (ok)
        fmt(out, size, "%s", target);
    return ok;
}

void remove_uninstall_entry(void)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, uninstall_key); // a missing key is no error
}
