/* The floor for a whole run: what any tool that never loses a file must do,
   and nothing more. Reads <in> the cheapest way there is (a read-only mapping
   with its pages read in up front: the floor has no scan to protect from a
   file that changes under it), writes it to a new file beside <out>, flushes
   that to disk, renames it over <out> and flushes the folder. An <out> that is
   not a regular file (/dev/null) is written directly.

       floor <in> <out>
*/
#define _GNU_SOURCE  /* MAP_POPULATE */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static void fail(const char* what) {
    perror(what);
    exit(1);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: floor <in> <out>\n");
        return 2;
    }
    const int in = open(argv[1], O_RDONLY);
    struct stat st;
    if (in < 0 || fstat(in, &st) != 0) fail(argv[1]);
    const size_t size = (size_t)st.st_size;
    const char* bytes = "";
    if (size > 0) {
        void* map = mmap(NULL, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, in, 0);
        if (map == MAP_FAILED) fail("mmap");
        bytes = map;
    }
    close(in);
    struct stat out_st;
    const int direct = stat(argv[2], &out_st) == 0 && !S_ISREG(out_st.st_mode);
    char temp[4096];
    snprintf(temp, sizeof temp, "%s.floor-tmp", argv[2]);
    const int out = direct ? open(argv[2], O_WRONLY) : open(temp, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (out < 0) fail(temp);
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(out, bytes + done, size - done);
        if (n <= 0) fail("write");
        done += (size_t)n;
    }
    if (direct) return close(out) == 0 ? 0 : 1;
    if (fsync(out) != 0 || close(out) != 0 || rename(temp, argv[2]) != 0) fail(argv[2]);
    char folder[4096];
    snprintf(folder, sizeof folder, "%s", argv[2]);
    char* slash = strrchr(folder, '/');
    if (slash) slash[slash == folder] = '\0';
    const int dir = open(slash ? folder : ".", O_RDONLY | O_DIRECTORY);
    if (dir < 0 || fsync(dir) != 0) fail("folder");
    return 0;
}
