// Baseline of the engine benchmark: opens every file of a tree and reads its
// first 64 KiB, the least any scanner does per file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

static unsigned long long files = 0, bytes = 0;

static void Walk(const std::string& dir, std::vector<char>& buffer) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      Walk(path, buffer);
    } else if (S_ISREG(st.st_mode)) {
      int fd = open(path.c_str(), O_RDONLY);
      if (fd < 0) continue;
      ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n > 0) bytes += (unsigned long long)n;
      close(fd);
      files++;
    }
  }
  closedir(d);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: read64k DIR\n");
    return 2;
  }
  std::vector<char> buffer(65536);
  Walk(argv[1], buffer);
  std::printf("%llu files, %llu bytes read\n", files, bytes);
  return 0;
}
