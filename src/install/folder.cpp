// The install folder, when the install makes it: only the player who
// installs, SYSTEM and the administrators may change it. A folder made by
// an ordinary user under C:\ would otherwise inherit the root's
// "Authenticated Users: Modify", and every other account could replace
// tarnok.exe or uninstall.exe, which the player runs from the shortcuts and
// the uninstall entry. Per-user installs under %LOCALAPPDATA% get such a
// list by default.
#include <windows.h>

#include <string.h>

#include "install/install.h"

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
