// The install folder: its path made full and checked before anything is
// written, made with an access list of its own when it is missing, and,
// after a failed install, emptied of what the install made in it.
//
// A folder that the install makes gets a list where only the player who
// installs, SYSTEM and the administrators may change it. A folder made by
// an ordinary user under C:\ would otherwise inherit the root's
// "Authenticated Users: Modify", and every other account could replace
// tarnok.exe or uninstall.exe, which the player runs from the shortcuts and
// the uninstall entry. Per-user installs under %LOCALAPPDATA% get such a
// list by default.
#include <windows.h>

#include <string.h>

#include "install/running.h"

// The SID of the user this process runs as, inside buf; null when the
// token cannot tell.
static PSID current_user(DWORD *buf, DWORD size)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return NULL;
    DWORD got = 0;
    BOOL ok = GetTokenInformation(token, TokenUser, buf, size, &got);
    CloseHandle(token);
    return ok ? ((TOKEN_USER *)buf)->User.Sid : NULL;
}

// Full control for the user, SYSTEM and Administrators, each inherited by
// every folder and file below.
static int build_private_acl(ACL *acl, DWORD size, PSID user)
{
    DWORD system_sid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)], admins_sid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
    DWORD n1 = sizeof system_sid, n2 = sizeof admins_sid;
    const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    return CreateWellKnownSid(WinLocalSystemSid, NULL, system_sid, &n1) &&
           CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, admins_sid, &n2) &&
           InitializeAcl(acl, size, ACL_REVISION) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, user) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, system_sid) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, admins_sid);
}

int make_install_folder(const char *dir)
{
    // A folder that was there before keeps the access list it has.
    if (is_dir(dir))
        return 1;
    char parent[520];
    if (!fmt_path(parent, sizeof parent, "%s", dir))
        return 0;
    char *slash = strrchr(parent, '\\');
    if (slash && slash > parent && slash[-1] != ':') {
        *slash = 0;
        make_dirs(parent);
    }
    DWORD user_buf[64], acl_buf[256];
    PSID user = current_user(user_buf, sizeof user_buf);
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
    // Protected: nothing is inherited from the folders above.
    int secured = user && build_private_acl((ACL *)acl_buf, sizeof acl_buf, user) &&
                  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
                  SetSecurityDescriptorDacl(&sd, TRUE, (ACL *)acl_buf, FALSE) &&
                  SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (CreateDirectoryA(dir, secured ? &sa : NULL))
        return 1;
    // Made by another process meanwhile: it is there, as it is.
    return is_dir(dir);
}

// The longest path of fixed names that the install forms in a path buffer;
// a folder that leaves no room for it is refused, never cut into the name
// of another folder.
static int dir_fits(const char *dir)
{
    char probe[520];
    return fmt_path(probe, sizeof probe, "%s\\%s\\TARNOKP2.EXE", dir, install_layout[LAYOUT_HD].name);
}

const char *resolve_install_folder(const char *given, char *dir, size_t size)
{
    char full[520];
    fmt(dir, size, "%s", given);
    if (!given[0])
        return "no install folder was given";
    if (!full_folder(given, full, sizeof full))
        return "the install folder's path is not valid";
    fmt(dir, size, "%s", full);
    if (is_drive_root(given) || is_drive_root(dir))
        return "the install folder cannot be the root of a drive";
    return NULL;
}

// A game folder, or in convert mode a build folder, that is the player's
// own is neither merged into nor, later, removed by the uninstall.
static int check_existing_folders(const char *dir, int convert)
{
    char path[520], reason[780];
    layout_path(path, sizeof path, dir, LAYOUT_GAME);
    // Through a link the install would write into some other folder.
    if (path_exists(path) && !(is_real_dir(path) && is_install_folder(dir))) {
        fmt(reason, sizeof reason, "%s already exists and is not from a Tarnok install; choose another folder", path);
        return fail(reason);
    }
    layout_path(path, sizeof path, dir, LAYOUT_BUILD);
    if (convert && path_exists(path) && !build_folder_is_ours(dir)) {
        fmt(reason, sizeof reason, "%s already exists and is not a Tarnok build folder; choose another folder", path);
        return fail(reason);
    }
    return 1;
}

// The nearest folder of the path that exists, the path itself included;
// "" when not even its drive does.
static void nearest_existing_folder(const char *dir, char *out, size_t size)
{
    fmt(out, size, "%s", dir);
    while (out[0] && !is_dir(out)) {
        char *s = strrchr(out, '\\');
        if (!s || s[1] == 0)
            out[0] = 0;
        else if (s == out + 2 && out[1] == ':')
            s[1] = 0; // "C:\", not "C:", which names the current folder
        else
            *s = 0;
    }
}

int check_install_folder(Install *in)
{
    if (!dir_fits(in->dir))
        return fail("the install folder path is too long");
    if (!check_existing_folders(in->dir, in->convert))
        return 0;
    layout_path(in->game, sizeof in->game, in->dir, LAYOUT_GAME);
    layout_path(in->hd, sizeof in->hd, in->dir, LAYOUT_HD);
    layout_path(in->exe, sizeof in->exe, in->dir, LAYOUT_EXE);
    // Known before anything is written: whether this install makes the folder.
    nearest_existing_folder(in->dir, in->base, sizeof in->base);
    return 1;
}

int check_free_space(const Install *in, uint64_t bytes)
{
    char root[524];
    ULARGE_INTEGER avail, total, free_all;
    const char *base = in->base;
    size_t n = strlen(base);
    fmt(root, sizeof root, "%s%s", base, n > 0 && base[n - 1] == '\\' ? "" : "\\");
    // A drive that cannot tell passes.
    if (!base[0] || !GetDiskFreeSpaceExA(root, &avail, &total, &free_all))
        return 1;
    if (avail.QuadPart >= bytes)
        return 1;
    char reason[200];
    const uint64_t mb = 1048576;
    fmt(reason, sizeof reason, "not enough free space on the install folder's drive: %llu MB needed, %llu MB free",
        (unsigned long long)((bytes + mb - 1) / mb), (unsigned long long)(avail.QuadPart / mb));
    return fail(reason);
}

// The install folder, made the installing user's own when it is new, and the
// game's folders inside it.
int make_folders(Install *in)
{
    if (!make_install_folder(in->dir) || !make_dirs(in->hd))
        return fail("cannot create the install folder");
    return open_record(in);
}

// Removes the folder and the folders above it that the install made, up
// to the one that was there before, as far as they are empty.
static void remove_made_folders(const char *dir, const char *base)
{
    char path[520];
    fmt(path, sizeof path, "%s", dir);
    for (;;) {
        if (!strcmp(path, base) || !RemoveDirectoryA(path))
            break;
        char *s = strrchr(path, '\\');
        if (!s || s == path + 2)
            break;
        *s = 0;
    }
}

// After a failed install into a folder that this install created: the disc
// copies go, and so does every folder it made that is empty now. A failed
// conversion's build folder stays, so that its log can be read; a stopped
// install leaves nothing, not even that.
void undo_install(Install *in)
{
    char path[520];
    if (!strcmp(in->base, in->dir))
        return;
    if (stop_requested() && layout_path(path, sizeof path, in->dir, LAYOUT_BUILD))
        delete_tree_patiently(path, 10000);
    if (layout_path(path, sizeof path, in->dir, LAYOUT_GAME))
        delete_tree(path);
    for (int item = 0; item < LAYOUT_COUNT; item++) {
        if (!(install_layout[item].flags & LAYOUT_REPLACED))
            continue;
        if (layout_path(path, sizeof path, in->dir, item))
            DeleteFileA(path);
        if (layout_temp_path(path, sizeof path, in->dir, item))
            DeleteFileA(path);
    }
    if (entry_names_folder(in->dir))
        remove_uninstall_entry();
    remove_made_folders(in->dir, in->base);
}
