/* A CD drive for the tests: serves a disc's folder read-only through FUSE,
 * and behaves as a worn disc or a slow drive would, as a control file says.
 * The control file is read again on every call, so a test changes the disc,
 * or the drive's faults, while the file system stays mounted:
 *
 *   disc FOLDER          the disc in the drive (no line, or "disc none": empty)
 *   eio /REL/PATH N [K]  reads of that file fail with EIO past byte N; K > 0:
 *                        only the first K such reads fail, then it reads again
 *   unlist /REL/PATH     opening and listing that folder fail with EIO
 *   shortlist /REL/PATH N  listing that folder fails with EIO after N entries,
 *                        as a directory sector that cannot be read part-way
 *   rate BYTES           bytes a second the drive serves (0 or none: no limit)
 *   bad /REL/PATH START LEN  every read of that file that reaches a byte of
 *                        [START, START + LEN) fails with EIO, as a scratch
 *                        there would; reads before and after it work (up to
 *                        eight such lines)
 *   readlog FILE         each read of a file appends its path, the bytes
 *                        served and the offset they were read from to FILE,
 *                        so that a test counts what was read
 *   stall MS             the next read takes MS milliseconds longer, once for
 *                        each new stall line, as a drive that re-reads a worn
 *                        part of the disc
 *   flip /REL/PATH N     byte N of that file reads with its bits inverted,
 *                        without an error, as a drive that misreads a
 *                        scratched sector where its error correction fails
 *
 * Usage: discfs CONTROL MOUNTPOINT [fuse options]
 */
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <dirent.h>

struct control {
    char disc[PATH_MAX];
    char eio_path[PATH_MAX];
    long long eio_after;
    long eio_count;
    char unlist[PATH_MAX];
    char shortlist[PATH_MAX];
    long shortlist_after;
    long long rate;
    char readlog[PATH_MAX];
    char stall[PATH_MAX];
    long long stall_ms;
    int bad_count;
    struct {
        char path[PATH_MAX];
        long long start, len;
    } bad[8];
    char flip_path[PATH_MAX];
    long long flip_at;
};

static char control_path[PATH_MAX];
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
/* Failures served so far for the current eio line. */
static long eio_served;
static char eio_seen[PATH_MAX];
/* The stall line that has been served. */
static char stall_served[PATH_MAX];

static void read_control(struct control *c)
{
    memset(c, 0, sizeof *c);
    FILE *f = fopen(control_path, "r");
    if (!f)
        return;
    char line[PATH_MAX];
    while (fgets(line, sizeof line, f)) {
        line[strcspn(line, "\r\n")] = 0;
        if (!strncmp(line, "disc ", 5)) {
            if (strcmp(line + 5, "none") != 0)
                snprintf(c->disc, sizeof c->disc, "%s", line + 5);
        } else if (!strncmp(line, "eio ", 4)) {
            char path[PATH_MAX];
            long long after = 0;
            long count = 0;
            if (sscanf(line + 4, "%4095s %lld %ld", path, &after, &count) >= 2) {
                snprintf(c->eio_path, sizeof c->eio_path, "%s", path);
                c->eio_after = after;
                c->eio_count = count;
            }
            /* A new eio line starts its count of failures again. */
            pthread_mutex_lock(&lock);
            if (strcmp(eio_seen, line) != 0) {
                snprintf(eio_seen, sizeof eio_seen, "%s", line);
                eio_served = 0;
            }
            pthread_mutex_unlock(&lock);
        } else if (!strncmp(line, "unlist ", 7)) {
            snprintf(c->unlist, sizeof c->unlist, "%s", line + 7);
        } else if (!strncmp(line, "shortlist ", 10)) {
            if (sscanf(line + 10, "%4095s %ld", c->shortlist, &c->shortlist_after) != 2)
                c->shortlist[0] = 0;
        } else if (!strncmp(line, "bad ", 4)) {
            if (c->bad_count < 8 && sscanf(line + 4, "%4095s %lld %lld", c->bad[c->bad_count].path,
                                           &c->bad[c->bad_count].start, &c->bad[c->bad_count].len) == 3)
                c->bad_count++;
        } else if (!strncmp(line, "rate ", 5)) {
            c->rate = atoll(line + 5);
        } else if (!strncmp(line, "readlog ", 8)) {
            snprintf(c->readlog, sizeof c->readlog, "%s", line + 8);
        } else if (!strncmp(line, "flip ", 5)) {
            if (sscanf(line + 5, "%4095s %lld", c->flip_path, &c->flip_at) != 2)
                c->flip_path[0] = 0;
        } else if (!strncmp(line, "stall ", 6)) {
            snprintf(c->stall, sizeof c->stall, "%s", line);
            c->stall_ms = atoll(line + 6);
        }
    }
    fclose(f);
}

/* The real path of a path of the disc; 0 when there is no disc. */
static int real_path(const struct control *c, const char *path, char *out, size_t size)
{
    if (!c->disc[0])
        return 0;
    return snprintf(out, size, "%s%s", c->disc, path) < (int)size;
}

static int same_path(const char *a, const char *b)
{
    return strcasecmp(a, b) == 0;
}

static int d_getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
    (void)fi;
    struct control c;
    char real[PATH_MAX];
    read_control(&c);
    if (!c.disc[0] && !strcmp(path, "/")) {
        memset(st, 0, sizeof *st);
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
        return 0;
    }
    if (!real_path(&c, path, real, sizeof real))
        return -ENOENT;
    if (lstat(real, st) != 0)
        return -errno;
    st->st_mode &= ~0222;
    return 0;
}

/* A listing that fails part-way: the entries are handed out with their
 * offsets, the first N of them, so that the kernel comes back for the rest,
 * and then the listing fails. */
static int readdir_short(const char *real, void *buf, fuse_fill_dir_t fill, off_t off, long after)
{
    if (off >= after + 2)
        return -EIO;
    DIR *d = opendir(real);
    if (!d)
        return -errno;
    struct dirent *e;
    long i = 0;
    if (off < 1 && fill(buf, ".", NULL, 1, 0))
        goto full;
    if (off < 2 && fill(buf, "..", NULL, 2, 0))
        goto full;
    while ((e = readdir(d)) != NULL && i < after) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, ".."))
            continue;
        i++;
        if (i + 2 > off && fill(buf, e->d_name, NULL, i + 2, 0))
            break;
    }
full:
    closedir(d);
    return 0;
}

static int d_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t off, struct fuse_file_info *fi,
                     enum fuse_readdir_flags flags)
{
    (void)fi;
    (void)flags;
    struct control c;
    char real[PATH_MAX];
    read_control(&c);
    if (c.unlist[0] && same_path(path, c.unlist))
        return -EIO;
    if (c.shortlist[0] && same_path(path, c.shortlist)) {
        if (!real_path(&c, path, real, sizeof real))
            return -ENOENT;
        return readdir_short(real, buf, fill, off, c.shortlist_after);
    }
    fill(buf, ".", NULL, 0, 0);
    fill(buf, "..", NULL, 0, 0);
    if (!c.disc[0] && !strcmp(path, "/"))
        return 0;
    if (!real_path(&c, path, real, sizeof real))
        return -ENOENT;
    DIR *d = opendir(real);
    if (!d)
        return -errno;
    struct dirent *e;
    while ((e = readdir(d)) != NULL) {
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
            fill(buf, e->d_name, NULL, 0, 0);
    }
    closedir(d);
    return 0;
}

/* A folder whose directory sectors cannot be read. Wine takes a listing
 * that fails part-way for its end, so the folder fails as it is opened. */
static int d_opendir(const char *path, struct fuse_file_info *fi)
{
    (void)fi;
    struct control c;
    read_control(&c);
    if (c.unlist[0] && same_path(path, c.unlist))
        return -EIO;
    return 0;
}

static int d_open(const char *path, struct fuse_file_info *fi)
{
    struct control c;
    char real[PATH_MAX];
    read_control(&c);
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    if (!real_path(&c, path, real, sizeof real))
        return -ENOENT;
    if (access(real, R_OK) != 0)
        return -errno;
    /* Every read goes to d_read: no page cache that would hide a fault. */
    fi->direct_io = 1;
    return 0;
}

/* Each read takes as long as the drive's rate allows. */
static void serve_slowly(long long rate, size_t n)
{
    if (rate <= 0 || n == 0)
        return;
    long long ns = (long long)n * 1000000000LL / rate;
    struct timespec t = {ns / 1000000000LL, ns % 1000000000LL};
    nanosleep(&t, NULL);
}

/* The first read after a new stall line waits for it. */
static void stall_once(const struct control *c)
{
    if (!c->stall[0])
        return;
    pthread_mutex_lock(&lock);
    int fresh = strcmp(stall_served, c->stall) != 0;
    if (fresh)
        snprintf(stall_served, sizeof stall_served, "%s", c->stall);
    pthread_mutex_unlock(&lock);
    if (!fresh || c->stall_ms <= 0)
        return;
    struct timespec t = {c->stall_ms / 1000, (c->stall_ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

static int fails_here(const struct control *c, const char *path, off_t off, size_t size)
{
    if (!c->eio_path[0] || !same_path(path, c->eio_path) || (long long)(off + (off_t)size) <= c->eio_after)
        return 0;
    pthread_mutex_lock(&lock);
    int fail = c->eio_count <= 0 || eio_served < c->eio_count;
    if (fail)
        eio_served++;
    pthread_mutex_unlock(&lock);
    return fail;
}

/* A read that reaches a bad range of the file. */
static int reaches_bad(const struct control *c, const char *path, off_t off, size_t size)
{
    for (int i = 0; i < c->bad_count; i++) {
        if (same_path(path, c->bad[i].path) && off < c->bad[i].start + c->bad[i].len &&
            off + (off_t)size > c->bad[i].start)
            return 1;
    }
    return 0;
}

static int d_read(const char *path, char *buf, size_t size, off_t off, struct fuse_file_info *fi)
{
    (void)fi;
    struct control c;
    char real[PATH_MAX];
    read_control(&c);
    /* A disc taken out, or exchanged, reads nothing of the old one's files. */
    if (!real_path(&c, path, real, sizeof real))
        return -EIO;
    if (fails_here(&c, path, off, size) || reaches_bad(&c, path, off, size))
        return -EIO;
    int fd = open(real, O_RDONLY);
    if (fd < 0)
        return -EIO;
    ssize_t got = pread(fd, buf, size, off);
    int error = errno;
    close(fd);
    if (got < 0)
        return -error;
    if (c.flip_path[0] && same_path(path, c.flip_path) && c.flip_at >= off && c.flip_at < off + got)
        buf[c.flip_at - off] = (char)~buf[c.flip_at - off];
    stall_once(&c);
    serve_slowly(c.rate, (size_t)got);
    if (c.readlog[0]) {
        FILE *log = fopen(c.readlog, "a");
        if (log) {
            fprintf(log, "%s %zd %lld\n", path, got, (long long)off);
            fclose(log);
        }
    }
    return (int)got;
}

static void *d_init(struct fuse_conn_info *conn, struct fuse_config *cfg)
{
    (void)conn;
    /* Nothing is remembered between calls: a changed disc shows at once. */
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->direct_io = 1;
    cfg->kernel_cache = 0;
    return NULL;
}

static const struct fuse_operations ops = {
    .getattr = d_getattr,
    .open = d_open,
    .read = d_read,
    .opendir = d_opendir,
    .readdir = d_readdir,
    .init = d_init,
};

int main(int argc, char *argv[])
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s CONTROL MOUNTPOINT [fuse options]\n", argv[0]);
        return 2;
    }
    if (!realpath(argv[1], control_path)) {
        perror(argv[1]);
        return 2;
    }
    /* argv without the control file: the mount point and FUSE's own options. */
    argv[1] = argv[0];
    return fuse_main(argc - 1, argv + 1, &ops, NULL);
}
