/*
 * The system-call floor for the benchmark: the calls that the library makes
 * to list a directory and to read file-system statistics, with nothing of
 * JNI, string conversion or Java around them. It also makes and removes the
 * test directories, which is quicker in C than from Java.
 *
 * It serves the Java driver one command per line on stdin and answers one
 * line on stdout, so that its rounds interleave with the Java contenders':
 *
 *   make DIR N     create DIR holding N entries      -> "ok"
 *   rm DIR         remove DIR and its entries         -> "ok"
 *   same DIR       list as the library does           -> "NS COUNT"
 *   lstat1 DIR     readdir plus one lstat per entry   -> "NS COUNT"
 *   statvfs PATH N N statvfs calls                    -> "NS N"
 *
 * A failure answers "error TEXT"; the driver stops on it.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

static int64_t nowNs(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

/* Keeps the compiler from dropping work whose result is otherwise unused. */
static volatile uint64_t sink;

/* Every 64th entry is a directory and the one after it a dangling symbolic
 * link; the rest are empty regular files. All three types are listed. */
static int makeDir(const char *dir, long n) {
    if (mkdir(dir, 0700) != 0) return -1;
    char path[4096];
    for (long i = 0; i < n; i++) {
        snprintf(path, sizeof path, "%s/entry-%07ld", dir, i);
        if (i % 64 == 0) {
            if (mkdir(path, 0700) != 0) return -1;
        } else if (i % 64 == 1) {
            if (symlink("no-such-target", path) != 0) return -1;
        } else {
            int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (fd < 0 || close(fd) != 0) return -1;
        }
    }
    return 0;
}

/* DIR holds only what makeDir put there: files, links and empty directories. */
static int removeDir(const char *dir) {
    DIR *dp = opendir(dir);
    if (dp == NULL) return errno == ENOENT ? 0 : -1;
    struct dirent *e;
    while ((e = readdir(dp)) != NULL) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        if (unlinkat(dirfd(dp), e->d_name, 0) != 0 &&
            (errno != EISDIR || unlinkat(dirfd(dp), e->d_name, AT_REMOVEDIR) != 0)) {
            closedir(dp);
            return -1;
        }
    }
    closedir(dp);
    return rmdir(dir);
}

/* One accepted entry, as the library's scan finds it: skip "." and "..",
 * lstat DIR/NAME, skip what lstat refuses and device files and sockets. */
static int scanNext(DIR *dp, const char *dir, size_t dirLen, char *full) {
    struct stat st;
    struct dirent *e;
    while ((e = readdir(dp)) != NULL) {
        const char *name = e->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
        size_t nameLen = strlen(name);
        if (dirLen + 1 + nameLen >= 4096) continue;
        memcpy(full, dir, dirLen);
        full[dirLen] = '/';
        memcpy(full + dirLen + 1, name, nameLen + 1);
        if (lstat(full, &st) != 0) continue;
        unsigned type = st.st_mode & 0xF000u;
        if (type == 0x2000u || type == 0xC000u || type == 0x6000u) continue;
        sink += (uint64_t)st.st_size + st.st_ino + nameLen;
        return 1;
    }
    return 0;
}

/* The library's calls: every native call (the first, one per entry, and the
 * last that finds the end) examines the directory path with lstat before it
 * reads on, and each entry costs its own lstat. */
static long listSame(const char *dir) {
    struct stat st;
    char full[4096];
    size_t dirLen = strlen(dir);
    if (lstat(dir, &st) != 0) return -1;
    DIR *dp = opendir(dir);
    if (dp == NULL) return -1;
    long count = 0;
    if (scanNext(dp, dir, dirLen, full)) {
        count++;
        for (;;) {
            if (lstat(dir, &st) != 0) break;
            if (!scanNext(dp, dir, dirLen, full)) break;
            count++;
        }
    }
    closedir(dp);
    return count;
}

/* The least any lister with lstat attributes must do. */
static long listOneLstat(const char *dir) {
    char full[4096];
    size_t dirLen = strlen(dir);
    DIR *dp = opendir(dir);
    if (dp == NULL) return -1;
    long count = 0;
    while (scanNext(dp, dir, dirLen, full)) count++;
    closedir(dp);
    return count;
}

int main(void) {
    char line[8192];
    setvbuf(stdout, NULL, _IOLBF, 0);
    while (fgets(line, sizeof line, stdin) != NULL) {
        line[strcspn(line, "\n")] = '\0';
        char *cmd = strtok(line, " ");
        char *arg = strtok(NULL, " ");
        char *num = strtok(NULL, " ");
        if (cmd == NULL || arg == NULL) {
            printf("error malformed command\n");
            continue;
        }
        if (strcmp(cmd, "make") == 0 && num != NULL) {
            if (makeDir(arg, atol(num)) != 0) printf("error make %s: %s\n", arg, strerror(errno));
            else printf("ok\n");
        } else if (strcmp(cmd, "rm") == 0) {
            if (removeDir(arg) != 0) printf("error rm %s: %s\n", arg, strerror(errno));
            else printf("ok\n");
        } else if (strcmp(cmd, "same") == 0 || strcmp(cmd, "lstat1") == 0) {
            int same = strcmp(cmd, "same") == 0;
            int64_t t0 = nowNs();
            long count = same ? listSame(arg) : listOneLstat(arg);
            int64_t t1 = nowNs();
            if (count < 0) printf("error %s %s: %s\n", cmd, arg, strerror(errno));
            else printf("%lld %ld\n", (long long)(t1 - t0), count);
        } else if (strcmp(cmd, "statvfs") == 0 && num != NULL) {
            long n = atol(num);
            struct statvfs sv;
            int64_t t0 = nowNs();
            long i;
            for (i = 0; i < n; i++) {
                if (statvfs(arg, &sv) != 0) break;
                sink += sv.f_blocks + sv.f_bavail + sv.f_bfree;
            }
            int64_t t1 = nowNs();
            if (i < n) printf("error statvfs %s: %s\n", arg, strerror(errno));
            else printf("%lld %ld\n", (long long)(t1 - t0), n);
        } else {
            printf("error unknown command %s\n", cmd);
        }
    }
    return 0;
}
