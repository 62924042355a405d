// Makes a drive letter a CD-ROM drive of Wine's that shows a Unix folder, or
// removes it again, through Wine's mount manager as its configuration tool
// does: the drive type counts at once, without a restart of the server, and
// every later open or listing sees what the folder then holds.
//
//   cddrive define LETTER UNIX_FOLDER [LABEL]
//   cddrive remove LETTER
#include <windows.h>
#include <winioctl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

// The mount manager's request as Wine 8 reads it; the strings follow it,
// each found by its offset from the record's start (0: none).
struct UnixDrive {
    ULONG size;
    ULONG type;
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};

static const ULONG fs_iso9660 = 3;
static const DWORD define_unix_drive =
    CTL_CODE((ULONG)'m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

static int send(const void *request, DWORD size)
{
    HANDLE mgr = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (mgr == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open the mount manager (error %lu)\n", GetLastError());
        return 1;
    }
    DWORD got = 0;
    BOOL ok = DeviceIoControl(mgr, define_unix_drive, (void *)request, size, NULL, 0, &got, NULL);
    DWORD error = GetLastError();
    CloseHandle(mgr);
    if (!ok) {
        fprintf(stderr, "the mount manager refused (error %lu)\n", error);
        return 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 3 || (strcmp(argv[1], "define") && strcmp(argv[1], "remove")) ||
        (!strcmp(argv[1], "define") && argc < 4)) {
        fprintf(stderr, "usage: cddrive define LETTER UNIX_FOLDER [LABEL] | remove LETTER\n");
        return 2;
    }
    static unsigned char buf[8192];
    UnixDrive *d = (UnixDrive *)buf;
    memset(buf, 0, sizeof buf);
    d->letter = (WCHAR)(argv[2][0] | 0x20);
    size_t at = sizeof *d;
    if (!strcmp(argv[1], "remove")) {
        d->type = DRIVE_NO_ROOT_DIR;
    } else {
        const char *folder = argv[3];
        const char *label = argc > 4 ? argv[4] : "TARNOK";
        size_t n = strlen(folder) + 1;
        if (n + at > 4096)
            return 2;
        d->type = DRIVE_CDROM;
        d->fs_type = fs_iso9660;
        d->serial = 0x7A12C0DE;
        d->mount_point_offset = (USHORT)at;
        memcpy(buf + at, folder, n);
        at += n;
        at = (at + 1) & ~(size_t)1;
        d->label_offset = (USHORT)at;
        WCHAR *w = (WCHAR *)(buf + at);
        for (size_t i = 0; label[i] && i < 32; i++)
            w[i] = (WCHAR)(unsigned char)label[i];
        at += (strlen(label) + 1) * sizeof(WCHAR);
    }
    d->size = (ULONG)at;
    return send(buf, (DWORD)at);
}
