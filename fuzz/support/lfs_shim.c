/* Folder listing for the 32-bit fuzzers. libFuzzer's prebuilt 32-bit runtime
 * calls readdir() and stat() without large-file support; on a 64-bit host
 * glibc refuses such a readdir with EOVERFLOW as soon as an entry's position
 * cookie or inode number needs more than 32 bits (ext4's hashed cookies
 * always do), so a corpus or seed folder would look empty. These strong
 * definitions take the place of the sanitizer's weak interceptors of the same
 * names and answer through readdir64()/stat64(), narrowing the result. */

#define _GNU_SOURCE 1 /* readdir64, stat64 */
#include <dirent.h>
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#if defined(_FILE_OFFSET_BITS) && _FILE_OFFSET_BITS == 64
#error "built with 64-bit offsets, readdir and stat here would name the 64-bit calls"
#endif
_Static_assert(sizeof(void *) == 4, "only the 32-bit fuzzers need this");
_Static_assert(sizeof(off_t) == 4, "the narrow struct stat is the one replaced");

/* Like glibc's, one entry per thread stays valid until that thread's next
 * readdir(); libFuzzer takes each name before it reads on or descends. */
static __thread struct dirent tw_entry;

struct dirent *readdir(DIR *dir) {
  struct dirent64 *wide = readdir64(dir);
  if (!wide)
    return NULL;
  size_t name_len = strnlen(wide->d_name, sizeof tw_entry.d_name);
  if (name_len == sizeof tw_entry.d_name) {
    errno = EOVERFLOW;
    return NULL;
  }
  /* Inode and position are not used by the callers: low halves suffice. */
  tw_entry.d_ino = (ino_t)wide->d_ino;
  tw_entry.d_off = (off_t)wide->d_off;
  tw_entry.d_type = wide->d_type;
  tw_entry.d_reclen = (unsigned short)(offsetof(struct dirent, d_name) + name_len + 1);
  memcpy(tw_entry.d_name, wide->d_name, name_len + 1);
  return &tw_entry;
}

static int fits_int32(int64_t value) {
  return value >= INT32_MIN && value <= INT32_MAX;
}

int stat(const char *restrict path, struct stat *restrict out) {
  struct stat64 wide;
  if (stat64(path, &wide) != 0)
    return -1;
  /* A size or block count past 2 GiB really cannot be told. */
  if (!fits_int32(wide.st_size) || !fits_int32(wide.st_blocks)) {
    errno = EOVERFLOW;
    return -1;
  }
  memset(out, 0, sizeof *out);
  out->st_dev = wide.st_dev;
  out->st_ino = (ino_t)wide.st_ino; /* unused by the callers */
  out->st_mode = wide.st_mode;
  out->st_nlink = wide.st_nlink;
  out->st_uid = wide.st_uid;
  out->st_gid = wide.st_gid;
  out->st_rdev = wide.st_rdev;
  out->st_size = (off_t)wide.st_size;
  out->st_blksize = wide.st_blksize;
  out->st_blocks = (blkcnt_t)wide.st_blocks;
  out->st_atim = wide.st_atim;
  out->st_mtim = wide.st_mtim;
  out->st_ctim = wide.st_ctim;
  return 0;
}
