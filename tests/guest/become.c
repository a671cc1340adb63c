/* vt_become UID GID [rawio] -- COMMAND...: runs COMMAND as UID:GID, with no
 * supplementary groups. With "rawio" it keeps CAP_SYS_RAWIO across the change
 * of user (kept, then raised as an ambient capability so that it survives
 * exec), and only that capability. */
#include <errno.h>
#include <grp.h>
#include <linux/capability.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

static int fail(const char* what) {
    fprintf(stderr, "vt_become: %s: %s\n", what, strerror(errno));
    return 125;
}

/* Sets the permitted, effective and inheritable sets to `caps` (a bit mask of
 * the first 32 capabilities). */
static int set_caps(unsigned caps) {
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[2];
    memset(data, 0, sizeof data);
    data[0].permitted = data[0].effective = data[0].inheritable = caps;
    return (int)syscall(SYS_capset, &header, data);
}

int main(int argc, char** argv) {
    const int rawio = argc > 3 && strcmp(argv[3], "rawio") == 0;
    const int dashes = rawio ? 4 : 3;
    if (argc < dashes + 2 || strcmp(argv[dashes], "--") != 0) {
        fprintf(stderr, "usage: vt_become UID GID [rawio] -- COMMAND...\n");
        return 125;
    }
    const uid_t uid = (uid_t)strtoul(argv[1], NULL, 10);
    const gid_t gid = (gid_t)strtoul(argv[2], NULL, 10);
    char** command = argv + dashes + 1;
    const unsigned keep = 1u << CAP_SYS_RAWIO;
    if (rawio && prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) return fail("PR_SET_KEEPCAPS");
    if (setgroups(0, NULL) != 0) return fail("setgroups");
    if (setgid(gid) != 0) return fail("setgid");
    if (setuid(uid) != 0) return fail("setuid");
    if (rawio) {
        if (set_caps(keep) != 0) return fail("capset");
        if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SYS_RAWIO, 0, 0) != 0)
            return fail("PR_CAP_AMBIENT_RAISE");
    }
    execv(command[0], command);
    return fail(command[0]);
}
