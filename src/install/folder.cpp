// The install folder: its path made full and checked before anything is
// written, made with an access list of its own when it is missing, and,
// after a failed install, emptied of what the install made in it.
//
// The top-most folder that the install makes gets a list where only the
// player who installs, SYSTEM and the administrators may change it, and
// everything below inherits it. A folder made by an ordinary user in the
// root of C: would otherwise inherit the root's "Authenticated Users:
// Modify": every other account could rename it (C:\Games) and put its own
// tarnok.exe and uninstall.exe in its place, which the player's shortcuts
// and uninstall entry then run as the player. Per-user installs under
// %LOCALAPPDATA% get such a list by default. For the same reason a folder
// that exists already is used only when it is no link and no other account
// owns it or may change it.
#include <windows.h>
#include <aclapi.h>

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

// The security of a new top-most folder in sa, its parts in the buffers
// given; 0 with the system's error code when the list cannot be built.
// Protected: nothing is inherited from the folders above.
static int private_security(SECURITY_ATTRIBUTES *sa, SECURITY_DESCRIPTOR *sd, DWORD *user_buf, DWORD user_size,
                            ACL *acl, DWORD acl_size)
{
    PSID user = current_user(user_buf, user_size);
    sa->nLength = sizeof *sa;
    sa->lpSecurityDescriptor = sd;
    sa->bInheritHandle = FALSE;
    return user && build_private_acl(acl, acl_size, user) &&
           InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(sd, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

int make_install_folder(const char *dir, const char *base, char *made, size_t size)
{
    char path[520];
    made[0] = 0;
    size_t start = strlen(base);
    if (!strcmp(dir, base))
        return 1;
    if (!fmt_path(path, sizeof path, "%s", dir) || strncmp(path, base, start) != 0) {
        SetLastError(ERROR_BAD_PATHNAME);
        return 0;
    }
    DWORD user_buf[64], acl_buf[256];
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa;
    if (!private_security(&sa, &sd, user_buf, sizeof user_buf, (ACL *)acl_buf, sizeof acl_buf))
        return 0;
    // Each folder below base in turn, down to dir itself. CreateDirectoryA
    // fails for a name that exists (folder or link): a folder that appeared
    // since base was found is someone else's, never used.
    for (size_t i = start;; i++) {
        char c = path[i];
        if (c != 0 && (c != '\\' || i == start))
            continue;
        path[i] = 0;
        if (!CreateDirectoryA(path, made[0] ? NULL : &sa))
            return 0;
        if (!made[0])
            fmt(made, size, "%s", path);
        path[i] = c;
        if (c == 0)
            return 1;
    }
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

// Rights that let an account change a folder or what is made in it: add or
// delete entries, delete or rename the folder, or change its list or owner.
static const DWORD changing_rights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                     WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// 1 for the installing user, SYSTEM, the Administrators, and the owner's
// stand-ins (CREATOR OWNER, which becomes whoever makes a file inside,
// that is the player; OWNER RIGHTS).
static int trusted_sid(PSID sid, PSID user)
{
    static const WELL_KNOWN_SID_TYPE trusted[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid, WinCreatorOwnerSid,
                                                  WinCreatorOwnerRightsSid};
    if (EqualSid(sid, user))
        return 1;
    for (size_t i = 0; i < sizeof trusted / sizeof trusted[0]; i++)
        if (IsWellKnownSid(sid, trusted[i]))
            return 1;
    return 0;
}

// Rights over a folder that let an account rename it, or rename or replace
// what is in it, the install folder among them.
static const DWORD replacing_rights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// 1 when an entry of the list lets another account use one of the rights
// (entries for inheritance only included). No list at all lets everyone.
static int others_may(const ACL *dacl, PSID user, DWORD rights)
{
    if (!dacl)
        return 1;
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE *ace = NULL;
        if (!GetAce((ACL *)dacl, i, (void **)&ace) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        if ((ace->Mask & rights) && !trusted_sid(&ace->SidStart, user))
            return 1;
    }
    return 0;
}

static int others_may_change(const ACL *dacl, PSID user)
{
    return others_may(dacl, user, changing_rights);
}

// 1 when the folder lies on a drive that keeps no access lists (FAT, exFAT):
// there every account may change everything, a folder the install made
// included, and refusing the folder would only refuse the drive.
static int drive_without_access_lists(const char *dir)
{
    char root[4];
    DWORD flags = 0;
    return drive_root_of(dir, root) && GetVolumeInformationA(root, NULL, 0, NULL, NULL, &flags, NULL, 0) &&
           !(flags & FILE_PERSISTENT_ACLS);
}

// A folder that exists already may be the install folder (1) unless it is
// refused, with the reason logged. Through a link or junction the game
// would go into a folder of someone else's choosing; an owner other than
// the player or the machine's, or an entry that lets other accounts change
// it, lets them replace the programs that the player's shortcuts and
// uninstall entry start. A drive without access lists is no safer for a
// folder the install makes, so it is not held against the folder.
static int check_existing_install_folder(const char *dir)
{
    char shown[1024], reason[1200];
    name_escape(dir, shown, sizeof shown);
    DWORD a = GetFileAttributesA(dir);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        fmt(reason, sizeof reason, "the install folder %s is a link or junction to another folder; choose another folder",
            shown);
        return fail(reason);
    }
    DWORD user_buf[64];
    PSID user = current_user(user_buf, sizeof user_buf), owner = NULL;
    if (!user)
        return fail_file("cannot read who may change the install folder", dir,
                         GetLastError() ? GetLastError() : ERROR_NO_TOKEN);
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR sd = NULL;
    DWORD error = GetNamedSecurityInfoA(dir, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, NULL, &dacl, NULL, &sd);
    int foreign_owner = 0, open_to_others = 0;
    if (error == ERROR_SUCCESS) {
        // A drive without access lists (FAT) gives neither an owner nor a
        // list.
        foreign_owner = owner && !(EqualSid(owner, user) || IsWellKnownSid(owner, WinLocalSystemSid) ||
                                   IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
        open_to_others = owner ? others_may_change(dacl, user) : !drive_without_access_lists(dir);
    }
    LocalFree(sd);
    if (error != ERROR_SUCCESS)
        return fail_file("cannot read who may change the install folder", dir, error);
    if (foreign_owner)
        fmt(reason, sizeof reason, "the install folder %s belongs to another account; choose another folder", shown);
    else if (open_to_others)
        fmt(reason, sizeof reason, "other accounts may change the install folder %s; choose another folder", shown);
    else
        return 1;
    return fail(reason);
}

// The folder that a new install folder is made in may let other accounts
// rename it, or the folders in it (C:\Games made by another program
// inherits "Authenticated Users: Modify" from C:\): they could then put a
// folder of their own where the player's shortcuts and uninstall entry
// lead. The install folder itself is the player's own, so this is said,
// not refused.
static void note_open_base(const char *base)
{
    DWORD user_buf[64];
    PSID user = current_user(user_buf, sizeof user_buf), owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR sd = NULL;
    if (!user || GetNamedSecurityInfoA(base, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       &owner, NULL, &dacl, NULL, &sd) != ERROR_SUCCESS)
        return;
    // A drive without access lists (FAT) gives no owner: there every
    // account may change everything, which no choice of folder mends. Its
    // volume is not asked for that: under Wine the question says on the
    // console that the label of Z:, the Linux root, cannot be read.
    int open = owner && others_may(dacl, user, replacing_rights);
    LocalFree(sd);
    char shown[1024];
    if (open)
        setup_log("Note: other accounts may rename %s, where the install folder is made, or the folders in it; see "
                  "\"Folders that other accounts may change\" in the players' guide",
                  name_escape(base, shown, sizeof shown));
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
    // A game folder that this run makes holds nothing of anyone else's: its
    // new files may be written at their final names.
    in->progress.fresh = !path_exists(in->game);
    // Known before anything is written: whether this install makes the folder.
    nearest_existing_folder(in->dir, in->base, sizeof in->base);
    if (!strcmp(in->base, in->dir))
        return check_existing_install_folder(in->dir);
    note_open_base(in->base);
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
    setup_trace("step: install folder");
    if (!make_install_folder(in->dir, in->base, in->made, sizeof in->made))
        return fail_file("cannot create the install folder", in->dir, GetLastError());
    if (!make_dirs(in->hd))
        return fail_file("cannot create the install folder", in->hd, GetLastError());
    return open_record(in);
}

// Removes the folder and the folders above it that the install made, up
// to the top-most of them, as far as they are empty.
static void remove_made_folders(const char *dir, const char *made)
{
    char path[520];
    fmt(path, sizeof path, "%s", dir);
    for (;;) {
        if (!RemoveDirectoryA(path) || !strcmp(path, made))
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
// install leaves nothing, not even that. A folder that it did not make
// (one that was there, or that someone else made meanwhile) is not touched.
void undo_install(Install *in)
{
    char path[520];
    if (!in->made[0])
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
    remove_made_folders(in->dir, in->made);
}
