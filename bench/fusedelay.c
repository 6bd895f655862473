/*
 * A read-only pass-through file system that waits a fixed delay in every
 * metadata operation, so that a walk over it costs what it costs on a
 * network file system: round trips, not CPU. Walkers that keep several
 * requests in flight win there, and this is where the benchmark shows it.
 *
 *   fusedelay [--delay-ms=MS] SOURCE MOUNTPOINT [FUSE options]
 *
 * The delay (default 1 ms) is slept in getattr (which is also how the
 * library answers the kernel's lookups), opendir, readdir, readlink and
 * statfs; reading a file's data is not delayed. Requests are served by
 * several threads (libfuse's multi-threaded loop, up to 64 here), so that
 * concurrent requests overlap as they would against a server.
 *
 * Give it attr_timeout=0,entry_timeout=0,negative_timeout=0 (the defaults
 * here) and the kernel caches nothing: every walk pays every round trip.
 * READDIRPLUS is turned off, so a directory read returns names and types
 * only and each stat is a lookup of its own. Unmount with fusermount3 -u.
 */
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

static struct {
    double delayMs;
    char *source;
    int sourceFd;
} config = {1.0, NULL, -1};

static void delay(void) {
    if (config.delayMs <= 0) return;
    long long ns = (long long)(config.delayMs * 1e6);
    struct timespec ts = {(time_t)(ns / 1000000000), (long)(ns % 1000000000)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

/* The library's paths start with '/'; they are looked up relative to the
 * source directory's descriptor, so the source may be anywhere. */
static const char *relative(const char *path) {
    return path[1] == '\0' ? "." : path + 1;
}

static void *fdInit(struct fuse_conn_info *conn, struct fuse_config *cfg) {
    conn->want &= ~(FUSE_CAP_READDIRPLUS | FUSE_CAP_READDIRPLUS_AUTO);
    cfg->use_ino = 1;
    return NULL;
}

static int fdGetattr(const char *path, struct stat *st, struct fuse_file_info *fi) {
    (void)fi;
    delay();
    return fstatat(config.sourceFd, relative(path), st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

static int fdReadlink(const char *path, char *buf, size_t size) {
    delay();
    ssize_t n = readlinkat(config.sourceFd, relative(path), buf, size - 1);
    if (n < 0) return -errno;
    buf[n] = '\0';
    return 0;
}

static int fdOpendir(const char *path, struct fuse_file_info *fi) {
    delay();
    int fd = openat(config.sourceFd, relative(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -errno;
    DIR *dp = fdopendir(fd);
    if (dp == NULL) {
        int e = errno;
        close(fd);
        return -e;
    }
    fi->fh = (uint64_t)(uintptr_t)dp;
    return 0;
}

/* The whole directory in one call (offset 0 to the filler): the library keeps
 * it and serves the kernel's later reads of this handle itself, so one read
 * of a directory is one delay, however many entries it has. */
static int fdReaddir(const char *path, void *buf, fuse_fill_dir_t filler, off_t offset,
                     struct fuse_file_info *fi, enum fuse_readdir_flags flags) {
    (void)path;
    (void)offset;
    (void)flags;
    delay();
    DIR *dp = (DIR *)(uintptr_t)fi->fh;
    rewinddir(dp);
    struct dirent *e;
    errno = 0;
    while ((e = readdir(dp)) != NULL) {
        struct stat st;
        memset(&st, 0, sizeof st);
        st.st_ino = e->d_ino;
        st.st_mode = (mode_t)(e->d_type << 12);
        if (filler(buf, e->d_name, &st, 0, 0) != 0) break;
        errno = 0;
    }
    return errno == 0 ? 0 : -errno;
}

static int fdReleasedir(const char *path, struct fuse_file_info *fi) {
    (void)path;
    closedir((DIR *)(uintptr_t)fi->fh);
    return 0;
}

static int fdStatfs(const char *path, struct statvfs *sv) {
    (void)path;
    delay();
    return fstatvfs(config.sourceFd, sv) == 0 ? 0 : -errno;
}

static int fdOpen(const char *path, struct fuse_file_info *fi) {
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    int fd = openat(config.sourceFd, relative(path), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    fi->fh = (uint64_t)fd;
    return 0;
}

static int fdRead(const char *path, char *buf, size_t size, off_t offset, struct fuse_file_info *fi) {
    (void)path;
    ssize_t n = pread((int)fi->fh, buf, size, offset);
    return n < 0 ? -errno : (int)n;
}

static int fdRelease(const char *path, struct fuse_file_info *fi) {
    (void)path;
    close((int)fi->fh);
    return 0;
}

static const struct fuse_operations operations = {
    .init = fdInit,
    .getattr = fdGetattr,
    .readlink = fdReadlink,
    .opendir = fdOpendir,
    .readdir = fdReaddir,
    .releasedir = fdReleasedir,
    .statfs = fdStatfs,
    .open = fdOpen,
    .read = fdRead,
    .release = fdRelease,
};

static const struct fuse_opt options[] = {
    {"--delay-ms=%lf", offsetof(typeof(config), delayMs), 0},
    FUSE_OPT_END,
};

/* The first argument that is not an option is the source; the mount point
 * after it goes on to libfuse. */
static int takeSource(void *data, const char *arg, int key, struct fuse_args *args) {
    (void)data;
    (void)args;
    if (key == FUSE_OPT_KEY_NONOPT && config.source == NULL) {
        config.source = strdup(arg);
        return 0;
    }
    return 1;
}

int main(int argc, char *argv[]) {
    struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
    if (fuse_opt_parse(&args, &config, options, takeSource) != 0) return 1;
    if (config.source == NULL) {
        fprintf(stderr, "usage: %s [--delay-ms=MS] SOURCE MOUNTPOINT [FUSE options]\n", argv[0]);
        return 2;
    }
    config.sourceFd = open(config.source, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (config.sourceFd < 0) {
        fprintf(stderr, "%s: %s: %s\n", argv[0], config.source, strerror(errno));
        return 1;
    }
    /* Defaults first, so that options on the command line override them. */
    fuse_opt_insert_arg(&args, 1, "-oro,attr_timeout=0,entry_timeout=0,negative_timeout=0,max_threads=64");
    int status = fuse_main(args.argc, args.argv, &operations, NULL);
    fuse_opt_free_args(&args);
    return status;
}
