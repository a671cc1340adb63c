/* winedrive.exe: defines or removes a drive letter through Wine's mount
 * manager while Wine runs, as Wine's configuration program does: the mount
 * manager writes the letter's links and its registry type, and no restart of
 * the Wine server is needed. Then the programs that run are told, as Windows
 * tells them when a USB drive comes or goes: WM_DEVICECHANGE with
 * DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE and the volume's unit mask, to
 * every top-level window of the desktop. (The mount manager's own notice goes
 * out on Wine's service desktop, where no program's window is.)
 * A test tool only: it is never installed and never packed.
 *
 *   winedrive define L TYPE DIR DEVICE   L: becomes a drive of TYPE (cdrom,
 *                                        floppy, hd, network, ramdisk) whose
 *                                        files are the Unix folder DIR and whose
 *                                        device is the Unix file DEVICE ("" for none)
 *   winedrive remove L                   L: goes
 *
 * Exit code 0 on success, 1 when the mount manager refused (its error on
 * stderr), 2 on a usage error. */
#include <windows.h>

#include <winioctl.h>

#include <dbt.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The request as Wine 8's mount manager takes it (Wine's include/ddk/mountmgr.h;
 * older Wine had no fs_type, serial and unix_dev, and MinGW's copy of the
 * header still has that layout). The strings follow the record: Unix paths in
 * the Unix code page, each with its zero, found by their offsets. */
#define IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE                                                           \
    CTL_CODE((ULONG)'m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
struct mountmgr_unix_drive {
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
_Static_assert(sizeof(struct mountmgr_unix_drive) == 32, "Wine's layout");
static const WCHAR kMountManager[] = L"\\\\.\\MountPointManager";

static void tell_windows(char letter, WPARAM event) {
    DEV_BROADCAST_VOLUME volume = {0};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (letter - 'a');
    volume.dbcv_flags = 0; /* the drive itself, not a disc in it */
    /* Every top-level window, each waited for a few seconds at most. */
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, event, (LPARAM)&volume, SMTO_ABORTIFHUNG,
                        5000, &result);
}

static int usage(void) {
    fputs("usage: winedrive define L cdrom|floppy|hd|network|ramdisk DIR DEVICE\n"
          "       winedrive remove L\n",
          stderr);
    return 2;
}

static int drive_type(const char* name) {
    static const struct {
        const char* name;
        int type;
    } types[] = {{"cdrom", DRIVE_CDROM},
                 {"floppy", DRIVE_REMOVABLE},
                 {"hd", DRIVE_FIXED},
                 {"network", DRIVE_REMOTE},
                 {"ramdisk", DRIVE_RAMDISK}};
    for (size_t i = 0; i < sizeof types / sizeof types[0]; ++i)
        if (!strcmp(name, types[i].name)) return types[i].type;
    return -1;
}

/* One request: type DRIVE_NO_ROOT_DIR with no paths removes the letter. */
static int define(char letter, int type, const char* dir, const char* device) {
    const size_t dirSize = dir ? strlen(dir) + 1 : 0;
    const size_t deviceSize = device && *device ? strlen(device) + 1 : 0;
    const size_t size = sizeof(struct mountmgr_unix_drive) + dirSize + deviceSize;
    struct mountmgr_unix_drive* request = calloc(1, size);
    if (!request) return 1;
    request->size = (ULONG)size;
    request->type = (ULONG)type;
    request->letter = (WCHAR)letter;
    char* text = (char*)(request + 1);
    if (dirSize) {
        request->mount_point_offset = (USHORT)(text - (char*)request);
        memcpy(text, dir, dirSize);
        text += dirSize;
    }
    if (deviceSize) {
        request->device_offset = (USHORT)(text - (char*)request);
        memcpy(text, device, deviceSize);
    }
    HANDLE manager = CreateFileW(kMountManager, GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, 0);
    if (manager == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "winedrive: no mount manager (error %lu)\n", GetLastError());
        free(request);
        return 1;
    }
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(manager, IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE, request, (DWORD)size,
                                    NULL, 0, &returned, NULL);
    const DWORD error = GetLastError();
    CloseHandle(manager);
    free(request);
    if (!ok) {
        fprintf(stderr, "winedrive: %c: refused (error %lu)\n", letter, error);
        return 1;
    }
    tell_windows(letter, type == DRIVE_NO_ROOT_DIR ? DBT_DEVICEREMOVECOMPLETE : DBT_DEVICEARRIVAL);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3 || strlen(argv[2]) != 1 || !isalpha((unsigned char)argv[2][0])) return usage();
    const char letter = (char)tolower((unsigned char)argv[2][0]);
    if (!strcmp(argv[1], "remove") && argc == 3) return define(letter, DRIVE_NO_ROOT_DIR, 0, 0);
    if (!strcmp(argv[1], "define") && argc == 6) {
        const int type = drive_type(argv[3]);
        if (type < 0) return usage();
        return define(letter, type, argv[4], argv[5]);
    }
    return usage();
}
