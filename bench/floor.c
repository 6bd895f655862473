/*
 * The system-call floor for the benchmark: the calls that listing a
 * directory, walking a tree and reading file-system statistics cannot do
 * without, with nothing of JNI, string conversion or Java around them. It also makes and removes the
 * test directories, which is quicker in C than from Java.
 *
 * It serves the Java driver one command per line on stdin and answers one
 * line on stdout, so that its rounds interleave with the Java contenders':
 *
 *   make DIR N     create DIR holding N entries           -> "ok"
 *   tree DIR N     create a tree of about N entries       -> "COUNT"
 *   rm DIR         remove DIR and everything below it     -> "ok"
 *   fstatat DIR    readdir plus fstatat of each entry     -> "NS COUNT"
 *   walk DIR       the same over the whole tree below DIR -> "NS COUNT"
 *   names DIR      walk for names and types: the type from readdir's
 *                  d_type, fstatat only where it says unknown -> "NS COUNT"
 *   statvfs PATH N N statvfs calls                        -> "NS N"
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

/* What a lister or walker cannot do without. */
enum mode {
    LIST,   /* readdir, and fstatat of each entry relative to the open directory */
    WALK,   /* the same for every subdirectory, opened relative to its parent, never through a link */
    NAMES,  /* a walk for names and types: the type from d_type, fstatat only when it is unknown */
};

/* Answers the entries below fd, which it closes. */
static long listAt(int fd, enum mode mode) {
    DIR *dp = fdopendir(fd);
    if (dp == NULL) {
        close(fd);
        return -1;
    }
    long count = 0;
    struct dirent *e;
    struct stat st;
    while ((e = readdir(dp)) != NULL) {
        const char *name = e->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        int isDir;
        if (mode == NAMES && e->d_type != DT_UNKNOWN) {
            isDir = e->d_type == DT_DIR;
            sink += e->d_type + strlen(name);
        } else {
            if (fstatat(dirfd(dp), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            isDir = S_ISDIR(st.st_mode);
            sink += (uint64_t)st.st_size + st.st_ino + strlen(name);
        }
        count++;
        if (mode != LIST && isDir) {
            int sub = openat(dirfd(dp), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            long below = sub < 0 ? -1 : listAt(sub, mode);
            if (below > 0) count += below;
        }
    }
    closedir(dp);
    return count;
}

static long list(const char *dir, enum mode mode) {
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? -1 : listAt(fd, mode);
}

/* A tree of about n entries under root (which must not exist): directories
 * of 1 to 200 entries (a fixed pseudo-random sequence), a tenth of the
 * entries subdirectories, up to 6 levels deep. Answers the entries made. */
static unsigned long treeSeed = 12345;
static long nextRandom(long bound) {
    treeSeed = treeSeed * 6364136223846793005UL + 1442695040888963407UL;
    return (long)((treeSeed >> 33) % (unsigned long)bound);
}
static long makeTree(const char *dir, long budget, int depth) {
    if (mkdir(dir, 0700) != 0) return -1;
    long width = 1 + nextRandom(200);
    if (width > budget) width = budget;
    long made = 0;
    char path[4096];
    for (long i = 0; i < width && made < budget; i++) {
        snprintf(path, sizeof path, "%s/e%ld", dir, i);
        made++;
        if (depth < 6 && nextRandom(10) == 0) {
            long sub = makeTree(path, (budget - made) / 3 + 1, depth + 1);
            if (sub < 0) return -1;
            made += sub;
        } else {
            int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (fd < 0 || close(fd) != 0) return -1;
        }
    }
    return made;
}

static long makeTreeOf(const char *root, long n) {
    if (mkdir(root, 0700) != 0) return -1;
    long made = 0;
    char path[4096];
    for (long i = 0; made < n; i++) {
        snprintf(path, sizeof path, "%s/t%ld", root, i);
        long sub = makeTree(path, n - made, 1);
        if (sub < 0) return -1;
        made += sub + 1;
    }
    return made;
}

static int removeTree(const char *path) {
    struct stat st;
    if (lstat(path, &st) != 0) return errno == ENOENT ? 0 : -1;
    if (!S_ISDIR(st.st_mode)) return unlink(path);
    DIR *dp = opendir(path);
    if (dp == NULL) return -1;
    struct dirent *e;
    char sub[4096];
    while ((e = readdir(dp)) != NULL) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        snprintf(sub, sizeof sub, "%s/%s", path, e->d_name);
        if (removeTree(sub) != 0) {
            closedir(dp);
            return -1;
        }
    }
    closedir(dp);
    return rmdir(path);
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
        } else if (strcmp(cmd, "tree") == 0 && num != NULL) {
            long made = makeTreeOf(arg, atol(num));
            if (made < 0) printf("error tree %s: %s\n", arg, strerror(errno));
            else printf("%ld\n", made);
        } else if (strcmp(cmd, "rm") == 0) {
            if (removeTree(arg) != 0) printf("error rm %s: %s\n", arg, strerror(errno));
            else printf("ok\n");
        } else if (strcmp(cmd, "fstatat") == 0 || strcmp(cmd, "walk") == 0 || strcmp(cmd, "names") == 0) {
            enum mode mode = cmd[0] == 'f' ? LIST : cmd[0] == 'w' ? WALK : NAMES;
            int64_t t0 = nowNs();
            long count = list(arg, mode);
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
