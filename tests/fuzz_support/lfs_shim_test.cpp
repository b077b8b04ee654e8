// readdir() and stat() of the 32-bit fuzzers' shim, compared with
// readdir64()/stat64() on a folder made for the test.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

class LfsShimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *base = std::getenv("TW_BINARY_DIR");
    dir_ = std::string(base ? base : "/tmp") + "/lfs_shim_XXXXXX";
    ASSERT_NE(mkdtemp(&dir_[0]), nullptr);
  }
  void TearDown() override {
    for (const std::string &name : made_)
      remove((dir_ + "/" + name).c_str());
    rmdir(dir_.c_str());
  }
  void MakeFile(const std::string &name, off64_t size) {
    int fd = open64((dir_ + "/" + name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    made_.push_back(name);
    ASSERT_EQ(ftruncate64(fd, size), 0);
    close(fd);
  }
  void MakeFolder(const std::string &name) {
    ASSERT_EQ(mkdir((dir_ + "/" + name).c_str(), 0755), 0);
    made_.push_back(name);
  }
  std::string dir_;
  std::vector<std::string> made_;
};

TEST_F(LfsShimTest, ListsWhatTheWideCallLists) {
  MakeFile("a", 1);
  MakeFile(std::string(255, 'n'), 0);  // the longest name a folder can hold
  MakeFolder("sub");

  std::map<std::string, unsigned char> wide;
  DIR *d = opendir(dir_.c_str());
  ASSERT_NE(d, nullptr);
  while (struct dirent64 *e = readdir64(d))
    wide[e->d_name] = e->d_type;
  closedir(d);

  std::map<std::string, unsigned char> narrow;
  d = opendir(dir_.c_str());
  ASSERT_NE(d, nullptr);
  errno = 0;
  while (struct dirent *e = readdir(d)) {
    EXPECT_EQ(e->d_reclen, offsetof(struct dirent, d_name) + strlen(e->d_name) + 1);
    narrow[e->d_name] = e->d_type;
  }
  EXPECT_EQ(errno, 0) << "the listing ended on an error";
  closedir(d);

  EXPECT_EQ(narrow, wide);
  EXPECT_EQ(narrow.size(), 5u);  // ".", "..", and the three made here
}

TEST_F(LfsShimTest, StatNarrowsOrRefuses) {
  MakeFile("small", 1234);
  MakeFolder("sub");
  MakeFile("big", 3ll << 30);  // sparse; 3 GiB does not fit a 32-bit size

  std::string small = dir_ + "/small";
  struct stat st;
  struct stat64 st64;
  ASSERT_EQ(stat(small.c_str(), &st), 0);
  ASSERT_EQ(stat64(small.c_str(), &st64), 0);
  EXPECT_EQ(st.st_size, 1234);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode, st64.st_mode);
  EXPECT_EQ(st.st_dev, st64.st_dev);
  EXPECT_EQ(st.st_nlink, st64.st_nlink);
  EXPECT_EQ(st.st_mtim.tv_sec, st64.st_mtim.tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, st64.st_mtim.tv_nsec);
  EXPECT_EQ(st.st_blocks, st64.st_blocks);

  ASSERT_EQ(stat((dir_ + "/sub").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  errno = 0;
  EXPECT_EQ(stat((dir_ + "/big").c_str(), &st), -1);
  EXPECT_EQ(errno, EOVERFLOW);
  errno = 0;
  EXPECT_EQ(stat((dir_ + "/missing").c_str(), &st), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
