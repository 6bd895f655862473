// The routines that work without a JVM, run as 32-bit code: stat records and file offsets are where i386 types
// are narrower than on 64-bit. Each result is checked against the system's own call, on a sparse file of 5 GiB.
#include "JniUtil.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

// Callers see the library's off_t, not the narrow i386 default.
static_assert(sizeof(off_t) == 8 && sizeof(ino_t) == 8, "built without _FILE_OFFSET_BITS=64");

int main() {
    char path[] = "/tmp/fsstat-m32-XXXXXX";
    const int fd = mkstemp(path);
    const off_t size = off_t{5} << 30, beyond4GiB = (off_t{1} << 32) + 1;
    if (fd < 0 || ftruncate(fd, size) != 0) {
        std::perror("a sparse 5 GiB file");
        return 1;
    }
    close(fd);
    struct stat want {}, got[3] {};
    lstat(path, &want);
    const int rfd = openFile(path);
    char buf[4] = {1, 1, 1, 1};
    const struct {
        bool ok;
        const char *what;
    } checks[] = {
        {want.st_size == size, "lstat here sees the 5 GiB size"},
        {getLstat(nullptr, path, &got[0], 0) == 0, "getLstat"},
        {getStat(nullptr, path, &got[1], 0) == 0, "getStat"},
        // The kernel fills its own stat64 record: it must be the library's struct stat.
        {getFstatat(nullptr, AT_FDCWD, path, &got[2], AT_SYMLINK_NOFOLLOW, 0, SYS_fstatat64) == 0, "getFstatat"},
        {skipFile(rfd, beyond4GiB) == beyond4GiB, "skipFile past 4 GiB returns the distance"},
        {lseek(rfd, 0, SEEK_CUR) == beyond4GiB, "skipFile past 4 GiB moves there"},
        {readFile(rfd, buf, sizeof buf) == 4 && buf[0] == 0 && buf[3] == 0, "readFile past 4 GiB"},
        {closeFile(rfd) == 0, "closeFile"},
    };
    unlink(path);
    int failures = 0;
    for (const auto &c : checks) {
        if (!c.ok) std::printf("FAIL: %s\n", c.what);
        failures += c.ok ? 0 : 1;
    }
    for (const struct stat &st : got) {
        const bool same = st.st_dev == want.st_dev && st.st_ino == want.st_ino && st.st_mode == want.st_mode &&
                          st.st_nlink == want.st_nlink && st.st_uid == want.st_uid && st.st_size == want.st_size &&
                          st.st_blocks == want.st_blocks && st.st_mtim.tv_sec == want.st_mtim.tv_sec &&
                          st.st_mtim.tv_nsec == want.st_mtim.tv_nsec;
        if (!same) std::printf("FAIL: record %d (of getLstat, getStat, getFstatat) is not lstat's\n", int(&st - got));
        failures += same ? 0 : 1;
    }
    if (failures == 0) std::printf("m32: stat wrappers and file offsets agree with the system on a 5 GiB file\n");
    return failures == 0 ? 0 : 1;
}
