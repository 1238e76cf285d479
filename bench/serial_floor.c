/* The floor of a safe serial copy: every file named on stdin (NUL-terminated,
 * as `find -print0` gives them) is copied into DEST one at a time, through a
 * temporary file renamed over its name, keeping its mode and times as cp -p
 * does. The data moves with copy_file_range, so no byte passes through here.
 *
 *   find SRC... -maxdepth 1 -type f -print0 | serial_floor DEST
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int copy_data(int in, int out, off_t size)
{
    off_t left = size;
    while (left > 0) {
        ssize_t n = copy_file_range(in, NULL, out, NULL, (size_t)left, 0);
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL))
            break; /* fall back to read and write below */
        if (n < 0)
            return -1;
        if (n == 0)
            return 0; /* the file shrank meanwhile */
        left -= n;
    }
    char buf[1 << 16];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0)
            return -1;
        if (n == 0)
            return 0;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buf + done, (size_t)(n - done));
            if (w < 0)
                return -1;
            done += w;
        }
    }
}

static int copy_one(int destDir, const char *source)
{
    const char *slash = strrchr(source, '/');
    const char *name = slash ? slash + 1 : source;
    char temp[4096];
    if (snprintf(temp, sizeof temp, ".%s.part", name) >= (int)sizeof temp)
        return -1;
    int in = open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return -1;
    struct stat st;
    int out = -1, ok = -1;
    if (fstat(in, &st) == 0) {
        unlinkat(destDir, temp, 0);
        out = openat(destDir, temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    }
    if (out >= 0) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ok = copy_data(in, out, st.st_size) == 0 && fchmod(out, st.st_mode & 07777) == 0
                     && futimens(out, times) == 0
                 ? 0
                 : -1;
        if (close(out) != 0)
            ok = -1;
        if (ok == 0)
            ok = renameat(destDir, temp, destDir, name);
        if (ok != 0)
            unlinkat(destDir, temp, 0);
    }
    close(in);
    return ok;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: find SRC... -maxdepth 1 -type f -print0 | %s DEST\n", argv[0]);
        return 2;
    }
    int destDir = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (destDir < 0) {
        perror(argv[1]);
        return 1;
    }
    char *line = NULL;
    size_t cap = 0;
    ssize_t len;
    int failed = 0;
    while ((len = getdelim(&line, &cap, '\0', stdin)) > 0) {
        if (copy_one(destDir, line) != 0) {
            fprintf(stderr, "%s: %s\n", line, strerror(errno));
            failed = 1;
        }
    }
    free(line);
    close(destDir);
    return failed;
}
