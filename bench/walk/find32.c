/* A find-like walk built as a 32-bit program like the scanner: it lists the
   same tree with readdir and prints every path. On hosts that run 32-bit
   programs through an emulator its time against the native find shows how
   much of the scanner's ratio the emulation accounts for.

   With -x first it also makes, for every entry, the two host calls the
   native-interface stand-in needs for a directory listing (a stat for size
   and times, an attribute listing for the stored DOS attributes), which an
   NTFS listing hands out with the names. Built natively, that shows the
   floor the host's file system puts under the simulated walk. */
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>

static char path[4096];
static int hostCalls;

static void walk(size_t length) {
  DIR* d = opendir(path);
  if (!d) return;
  struct dirent* e;
  while ((e = readdir(d)) != NULL) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    size_t n = strlen(e->d_name);
    if (length + 1 + n + 1 > sizeof path) continue;
    path[length] = '/';
    memcpy(path + length + 1, e->d_name, n + 1);
    if (hostCalls) {
      struct stat st;
      char names[512];
      fstatat(dirfd(d), e->d_name, &st, 0);
      listxattr(path, names, sizeof names);
    }
    puts(path);
    if (e->d_type == DT_DIR) walk(length + 1 + n);
  }
  closedir(d);
  path[length] = 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "-x") == 0) {
    hostCalls = 1;
    argv++;
    argc--;
  }
  if (argc != 2 || strlen(argv[1]) >= sizeof path) return 2;
  strcpy(path, argv[1]);
  puts(path);
  walk(strlen(path));
  return 0;
}
