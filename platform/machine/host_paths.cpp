// Drive paths ("C:\Dir\file") to host paths and back. Host names are UTF-8
// and case-sensitive; Windows names are case-insensitive, so every component
// is looked up in its folder when the exact name does not exist.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/machine/machine.h"

namespace tw {

namespace {

bool ValidComponent(const std::string& c) {
  if (c.empty() || c == "." || c == "..") return false;
  for (unsigned char ch : c) {
    if (ch < 0x20 || strchr("\\/:*?\"<>|", ch) != nullptr) return false;
  }
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Finds `name` in folder `dir` case-insensitively. Among several names that
// differ only in case the smallest by byte order is taken, so the choice is
// stable. Returns false when there is none.
bool FindNoCase(const std::string& dir, const std::string& name, std::string* found) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  std::u16string want = Utf8ToUtf16(name);
  bool any = false;
  while (struct dirent* e = readdir(d)) {
    std::string candidate = e->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (!EqualNoCase(Utf8ToUtf16(candidate), want)) continue;
    if (!any || candidate < *found) *found = candidate;
    any = true;
  }
  closedir(d);
  return any;
}

// Where an existing host path really leads, symbolic links resolved; empty
// when that cannot be told (an item on the way is missing or unreadable).
std::string WhereItLeads(const std::string& path) {
  int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) return std::string();
  char buf[PATH_MAX];
  std::string proc = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = readlink(proc.c_str(), buf, sizeof buf);
  close(fd);
  if (n > 0 && static_cast<size_t>(n) < sizeof buf && buf[0] == '/') return std::string(buf, static_cast<size_t>(n));
  char* real = realpath(path.c_str(), nullptr);  // without /proc
  if (real == nullptr) return std::string();
  std::string out = real;
  free(real);
  return out;
}

bool Within(const std::string& path, const std::string& root) {
  if (root == "/") return true;
  return path.compare(0, root.size(), root) == 0 && (path.size() == root.size() || path[root.size()] == '/');
}

// False when the host item lies outside every drive of the machine (reached
// through a symbolic link). An item whose place cannot be told is left to
// the open that follows, which fails on its own.
bool OnTheMachine(const Machine& machine, const std::string& hostPath) {
  std::string real = WhereItLeads(hostPath);
  if (real.empty()) return true;
  for (const Drive& d : machine.drives) {
    if (d.present && d.hasMedium && Within(real, d.realRoot.empty() ? d.root : d.realRoot)) return true;
  }
  return false;
}

// The host path the names lead to when each exists exactly as given; checks
// the drive and the names, touches nothing on the host.
PathStatus ExactOnDrive(const Machine& machine, int drive, const std::vector<std::string>& components,
                        std::string* hostPath) {
  if (drive < 0 || drive >= 26 || !machine.drives[drive].present) return PathStatus::NoSuchDrive;
  const Drive& d = machine.drives[drive];
  if (!d.hasMedium) return PathStatus::NoMedium;
  for (const std::string& c : components) {
    if (!ValidComponent(c)) return PathStatus::Invalid;
  }
  *hostPath = d.root;
  for (const std::string& c : components) *hostPath += "/" + c;
  return PathStatus::Found;
}

}  // namespace

bool ExactDrivePath(const Machine& machine, const std::string& drivePath, std::string* hostPath) {
  int drive;
  std::vector<std::string> components;
  return SplitDrivePath(drivePath, &drive, &components) &&
         ExactOnDrive(machine, drive, components, hostPath) == PathStatus::Found;
}

PathStatus ResolveOnDrive(const Machine& machine, int drive, const std::vector<std::string>& components,
                          std::string* hostPath) {
  std::string exact;
  PathStatus status = ExactOnDrive(machine, drive, components, &exact);
  if (status != PathStatus::Found) return status;
  std::string path = machine.drives[drive].root;
  if (components.empty()) {
    *hostPath = path;
    return IsFolder(path) ? PathStatus::Found : PathStatus::PathNotFound;
  }
  // Fast path: the names exist exactly as given.
  struct stat st;
  if (lstat(exact.c_str(), &st) == 0) {
    if (!OnTheMachine(machine, exact)) return PathStatus::PathNotFound;
    *hostPath = exact;
    return PathStatus::Found;
  }
  for (size_t i = 0; i < components.size(); ++i) {
    bool last = i + 1 == components.size();
    std::string next = path + "/" + components[i];
    std::string found;
    if (lstat(next.c_str(), &st) != 0) {
      if (FindNoCase(path, components[i], &found)) {
        next = path + "/" + found;
      } else if (last) {
        if (!OnTheMachine(machine, path)) return PathStatus::PathNotFound;
        *hostPath = next;
        return PathStatus::NameNotFound;
      } else {
        return PathStatus::PathNotFound;
      }
    }
    if (!last && !IsFolder(next)) return PathStatus::PathNotFound;
    path = next;
  }
  if (!OnTheMachine(machine, path)) return PathStatus::PathNotFound;
  *hostPath = path;
  return PathStatus::Found;
}

bool SplitDrivePath(const std::string& drivePath, int* drive, std::vector<std::string>* components) {
  if (drivePath.size() < 2 || drivePath[1] != ':') return false;
  char letter = drivePath[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 32);
  if (letter < 'A' || letter > 'Z') return false;
  *drive = letter - 'A';
  components->clear();
  std::string rest = drivePath.substr(2);
  if (!rest.empty() && rest[0] != '\\' && rest[0] != '/') return false;  // "C:dir" is relative
  std::string cur;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || rest[i] == '\\' || rest[i] == '/') {
      if (cur == "..") {
        if (!components->empty()) components->pop_back();
      } else if (!cur.empty() && cur != ".") {
        components->push_back(cur);
      }
      cur.clear();
    } else {
      cur.push_back(rest[i]);
    }
  }
  return true;
}

PathStatus ResolveDrivePath(const Machine& machine, const std::string& drivePath, std::string* hostPath) {
  int drive;
  std::vector<std::string> components;
  if (!SplitDrivePath(drivePath, &drive, &components)) return PathStatus::Invalid;
  return ResolveOnDrive(machine, drive, components, hostPath);
}

namespace {

// Removes empty, "." and ".." components of an absolute host path.
std::vector<std::string> HostComponents(const std::string& path) {
  std::vector<std::string> out;
  std::string cur;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (cur == "..") {
        if (!out.empty()) out.pop_back();
      } else if (!cur.empty() && cur != ".") {
        out.push_back(cur);
      }
      cur.clear();
    } else {
      cur.push_back(path[i]);
    }
  }
  return out;
}

}  // namespace

bool HostToDrivePath(const Machine& machine, const std::string& hostPath, std::string* drivePath) {
  if (hostPath.empty() || hostPath[0] != '/') return false;
  std::vector<std::string> p = HostComponents(hostPath);
  // The drive whose root is the longest prefix wins (roots may be nested).
  int best = -1;
  size_t bestLen = 0;
  for (int i = 0; i < 26; ++i) {
    const Drive& d = machine.drives[i];
    if (!d.present || !d.hasMedium) continue;
    std::vector<std::string> r = HostComponents(d.root);
    if (r.size() > p.size() || !std::equal(r.begin(), r.end(), p.begin())) continue;
    if (best < 0 || r.size() > bestLen) best = i, bestLen = r.size();
  }
  if (best < 0) return false;
  std::string out;
  out.push_back(static_cast<char>('A' + best));
  out += ":\\";
  for (size_t i = bestLen; i < p.size(); ++i) {
    out += p[i];
    if (i + 1 < p.size()) out += "\\";
  }
  *drivePath = out;
  return true;
}

}  // namespace tw
