/* The JVM-free routines of the installed library: consumer FILE LINK, where
 * FILE holds "hello world" and LINK points at "target". */
#include <JniUtil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    char buf[16] = {0};
    int fd = openFile(argv[1]);
    off_t skipped = fd < 0 ? -1 : skipFile(fd, 6);
    int got = skipped == 6 ? readFile(fd, buf, sizeof buf - 1) : -1;
    if (fd < 0 || closeFile(fd) != 0 || got != 5 || strcmp(buf, "world") != 0) {
        printf("FAIL: open/skip/read/close gave fd %d, skipped %lld, read %d '%s'\n", fd, (long long)skipped, got, buf);
        return 1;
    }
    char *target = NULL;
    if (readLinkTarget(argv[2], &target) != 0 || strcmp(target, "target") != 0) {
        printf("FAIL: readLinkTarget gave '%s'\n", target ? target : "(none)");
        return 1;
    }
    free(target);
    printf("consumer: read 'world' after skipping 6, link -> target\n");
    return 0;
}
