// The routines that work without a JVM, run as 32-bit code: stat records and
// file offsets are where i386 types are narrower than on 64-bit. Each result is
// checked against the system's own call made here, on a sparse file of 5 GiB.
#include "JniUtil.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int failures = 0;

void check(bool ok, const char *what) {
    if (ok) return;
    std::printf("FAIL: %s\n", what);
    failures++;
}

bool sameStat(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mode == b.st_mode && a.st_nlink == b.st_nlink &&
           a.st_uid == b.st_uid && a.st_size == b.st_size && a.st_blocks == b.st_blocks &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

} // namespace

// Callers see the library's off_t, not the narrow i386 default.
static_assert(sizeof(off_t) == 8 && sizeof(ino_t) == 8, "built without _FILE_OFFSET_BITS=64");

int main() {
    char path[] = "/tmp/fsstat-m32-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        std::perror("mkstemp");
        return 1;
    }
    const off_t size = off_t{5} << 30;
    if (ftruncate(fd, size) != 0) {
        std::perror("ftruncate");
        unlink(path);
        return 1;
    }
    close(fd);
    struct stat expected;
    lstat(path, &expected);
    check(expected.st_size == size, "lstat here sees the 5 GiB size");

    struct stat got;
    std::memset(&got, 0, sizeof got);
    check(getLstat(nullptr, path, &got, 0) == 0 && sameStat(got, expected), "getLstat on a 5 GiB file");
    std::memset(&got, 0, sizeof got);
    check(getStat(nullptr, path, &got, 0) == 0 && sameStat(got, expected), "getStat on a 5 GiB file");
    // The kernel fills its own stat64 record: it must be the library's struct stat.
    std::memset(&got, 0, sizeof got);
    check(getFstatat(nullptr, AT_FDCWD, path, &got, AT_SYMLINK_NOFOLLOW, 0, SYS_fstatat64) == 0 &&
              sameStat(got, expected),
          "getFstatat through fstatat64");

    const int rfd = openFile(path);
    check(rfd >= 0, "openFile");
    const off_t beyond4GiB = (off_t{1} << 32) + 1;
    check(skipFile(rfd, beyond4GiB) == beyond4GiB, "skipFile past 4 GiB returns the distance");
    check(lseek(rfd, 0, SEEK_CUR) == beyond4GiB, "skipFile past 4 GiB moves there");
    char buf[4] = {1, 1, 1, 1};
    check(readFile(rfd, buf, sizeof buf) == 4 && buf[0] == 0 && buf[3] == 0, "readFile past 4 GiB");
    check(closeFile(rfd) == 0, "closeFile");
    unlink(path);

    if (failures == 0) std::printf("m32: stat wrappers and file offsets agree with the system on a 5 GiB file\n");
    return failures == 0 ? 0 : 1;
}
