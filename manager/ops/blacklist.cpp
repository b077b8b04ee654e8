// The user blacklist: loading the user library files, adding and removing
// samples, saving "User000.dat".
#include "manager/ops/blacklist.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/md5.h"
#include "common/userlib.h"
#include "manager/ops/files.h"
#include "manager/ops/folders.h"
#include "platform/win32/win32.h"

const char kSaveSucceeded[] = "保存成功！";
const char kSaveFailed[] = "保存失败！";

namespace {

const int kUserFileCount = 50;  // User000.dat ... User049.dat
const uint32_t kRecordsLimit = 0x4000000;  // 64 MiB of records in all
// What the scanner's user lists hold beyond the header totals.
const uint32_t kScannerSlack = 4096;

std::string UserFilePath(int index) {
  char name[16];
  snprintf(name, sizeof name, "User%03d.dat", index);
  return std::string(LibraryFolder) + "\\" + name;
}

void FormatDate(char* out, size_t size, const SYSTEMTIME& t) {
  snprintf(out, size, "%.4d-%.2d-%.2d", t.wYear, t.wMonth, t.wDay);
}

bool ParseHexDigest(const char* text, uint8_t digest[16], int* count) {
  // Two digits at a time, at most 16 bytes, stopping at the end of the text
  // or at the first pair that is not hexadecimal.
  *count = 0;
  memset(digest, 0, 16);
  for (int i = 0; i < 16; ++i) {
    unsigned value = 0;
    int digits = 0;
    for (; digits < 2; ++digits) {
      char c = text[2 * i + digits];
      unsigned v;
      if (c >= '0' && c <= '9') v = (unsigned)(c - '0');
      else if (c >= 'a' && c <= 'f') v = (unsigned)(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v = (unsigned)(c - 'A' + 10);
      else break;
      value = value * 16 + v;
    }
    if (digits == 0) break;
    digest[i] = (uint8_t)value;
    ++*count;
    if (digits < 2) break;
  }
  return *count > 0;
}

// Whether the file at `path` may hold samples: it is there and not empty, and
// it is not a user library file whose header announces no records (what a
// save of a cleared list writes; readers take nothing from it). A file that
// is there but cannot be read counts as holding samples.
bool MayHoldSamples(const std::string& path) {
  FILE* file = Win32OpenFile(path.c_str(), "rb");
  if (file == nullptr) return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  uint8_t head[kUserHeaderSize];
  size_t got = fread(head, 1, sizeof head, file);
  bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) return true;
  if (got == 0) return false;
  UserFileHeader header;
  UserFileReadHeader(head, (uint32_t)got, &header);
  return !(header.kind == kUserFileKind && header.recordsSize == 0);
}

// Appends the samples of one user library file, within what is left of the
// records and path-line budgets; false (nothing appended) for a file that is
// not one, is damaged, or does not fit the budgets.
bool TakeUserFile(std::vector<uint8_t>& data, uint64_t* recordsLeft, uint64_t* pathsLeft,
                  BlacklistSamples* samples) {
  UserFileHeader header;
  UserFileReadHeader(data.data(), (uint32_t)data.size(), &header);
  if (header.kind != kUserFileKind) return false;
  // A payload larger than the records limit allows is a lie: skip it
  // rather than allocate for it.
  if (header.payloadSize == 0 || header.payloadSize > kRecordsLimit * 2) return false;
  std::vector<uint8_t> payload(header.payloadSize);
  uint32_t payloadLength = 0;
  if (UserFileUnpack(data.data(), (uint32_t)data.size(), payload.data(), (uint32_t)payload.size(),
                     &payloadLength) != kUfOk)
    return false;
  UserPayloadIndex index;
  if (UserPayloadOpen(payload.data(), payloadLength, &index) != kUfOk) return false;
  if (index.recordsSize > *recordsLeft || index.pathsSize > *pathsLeft) return false;
  *recordsLeft -= index.recordsSize;
  *pathsLeft -= index.pathsSize;
  uint32_t cursor = 0;
  for (uint32_t k = 0; k < index.count; ++k) {
    BlacklistEntry entry;
    memset(&entry, 0, sizeof entry);
    UserRecord record;
    UserPayloadRecord(payload.data(), &index, k, &record);
    memcpy(entry.addedDate, record.date, 10);
    entry.fileSize = record.size;
    memcpy(entry.digest, record.digest, 16);
    // Path lines pair with records in order; a record without a line gets
    // an empty path.
    const char* line;
    uint32_t lineLength;
    if (UserPayloadNextPath(payload.data(), &index, &cursor, &line, &lineLength)) {
      if (lineLength > sizeof entry.path - 1) lineLength = sizeof entry.path - 1;
      memcpy(entry.path, line, lineLength);
    }
    samples->push_back(entry);
  }
  return true;
}

// Whether the file at `path` is a user library file whose samples all read,
// as the load took them: User000.dat comes first, with at least its own
// header's totals and the slack left, so a payload within those was taken
// and one past them (a header that announces less) was refused there.
bool ReadsWhole(const std::string& path) {
  std::vector<uint8_t> data;
  if (!ReadWholeFile(path.c_str(), &data)) return false;
  UserFileHeader header;
  UserFileReadHeader(data.data(), (uint32_t)data.size(), &header);
  uint64_t recordsLeft = (uint64_t)header.recordsSize + kScannerSlack;
  uint64_t pathsLeft = (uint64_t)header.pathsSize + kScannerSlack;
  BlacklistSamples samples;
  return TakeUserFile(data, &recordsLeft, &pathsLeft, &samples);
}

// Copies `target` to the first free name of "<target>.old", "<target>.old1"
// ... "<target>.old99" and names the copy in *backup. The scanner and the
// loader open only User000.dat to User049.dat, so a backup is never taken for
// a user library. An older backup is never replaced: it may hold the only copy
// of samples lost to an earlier failed load. False when every name is taken
// or the copy fails.
const int kBackupNames = 100;
bool KeepBackup(const std::string& target, std::string* backup) {
  for (int i = 0; i < kBackupNames; ++i) {
    std::string name = target + ".old" + (i > 0 ? std::to_string(i) : std::string());
    if (CopyFileA(target.c_str(), name.c_str(), TRUE)) {
      *backup = name;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

}  // namespace

std::string DigestToHex(const uint8_t digest[16]) {
  static const char kHex[] = "0123456789abcdef";
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 15];
  }
  return out;
}

bool LoadUserLibrary(BlacklistSamples* samples) {
  samples->clear();
  std::vector<std::vector<uint8_t>> files;
  bool lastEmpty = false;
  for (int i = 0; i < kUserFileCount; ++i) {
    std::vector<uint8_t> data;
    if (!ReadWholeFile(UserFilePath(i).c_str(), &data)) continue;
    lastEmpty = data.empty();
    files.push_back(std::move(data));
  }
  if (files.empty() || lastEmpty) return false;

  // The totals of the user files' headers decide whether anything is taken.
  uint64_t recordsTotal = 0, pathsTotal = 0;
  for (const std::vector<uint8_t>& data : files) {
    UserFileHeader header;
    UserFileReadHeader(data.data(), (uint32_t)data.size(), &header);
    if (header.kind != kUserFileKind) continue;
    recordsTotal += header.recordsSize;
    pathsTotal += header.pathsSize;
  }
  if (recordsTotal == 0 || recordsTotal > kRecordsLimit) return false;
  // The scanner sizes its lists from these totals (plus its slack) and
  // refuses a payload that would not fit what is left; the editor takes the
  // same files, so it shows what the scanner loads and a small file cannot
  // make it build millions of samples.
  uint64_t recordsLeft = recordsTotal + kScannerSlack;
  uint64_t pathsLeft = pathsTotal + kScannerSlack;

  for (std::vector<uint8_t>& data : files) TakeUserFile(data, &recordsLeft, &pathsLeft, samples);
  return true;
}

bool AddSample(BlacklistSamples* samples, const char* path) {
  return AddSampleChecked(samples, path) == AddResult::kAdded;
}

AddResult AddSampleChecked(BlacklistSamples* samples, const char* path) {
  BlacklistEntry entry;
  memset(&entry, 0, sizeof entry);
  SYSTEMTIME now;
  GetSystemTime(&now);
  FormatDate(entry.addedDate, sizeof entry.addedDate, now);

  std::vector<uint8_t> data;
  if (path == nullptr || !ReadWholeFile(path, &data) || data.empty()) return AddResult::kUnreadable;
  if (data.size() > 0xFFFFFFFFu) return AddResult::kUnreadable;
  entry.fileSize = (uint32_t)data.size();
  Md5Digest(data.data(), entry.fileSize, entry.digest);

  size_t length = strlen(path);
  if (length >= sizeof entry.path) length = 254;
  memcpy(entry.path, path, length);

  for (const BlacklistEntry& sample : *samples) {
    if (memcmp(sample.digest, entry.digest, 16) == 0) {
      fputs("Md5 already existed.\n", stdout);
      fflush(stdout);
      return AddResult::kDuplicate;
    }
  }
  samples->push_back(entry);
  return AddResult::kAdded;
}

bool RemoveSampleByMd5(BlacklistSamples* samples, const char* md5Hex) {
  if (md5Hex == nullptr) return false;
  uint8_t digest[16];
  int count;
  if (!ParseHexDigest(md5Hex, digest, &count)) return false;
  for (auto it = samples->begin(); it != samples->end(); ++it) {
    if (memcmp(it->digest, digest, 16) == 0) {
      samples->erase(it);
      return true;
    }
  }
  return false;
}

bool SaveUserLibrary(const BlacklistSamples& samples, bool loaded) {
  SYSTEMTIME today;
  GetLocalTime(&today);
  char date[32];
  FormatDate(date, sizeof date, today);

  uint32_t count = (uint32_t)samples.size();
  if (samples.size() > 0xFFFFFFFFu / kUserRecordSize) return false;
  std::vector<UserRecord> records(count);
  std::vector<const char*> paths(count);
  std::vector<uint32_t> pathLengths(count);
  uint64_t pathBytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const BlacklistEntry& sample = samples[i];
    memcpy(records[i].date, sample.addedDate, 10);
    records[i].size = sample.fileSize;
    memcpy(records[i].digest, sample.digest, 16);
    paths[i] = sample.path;
    pathLengths[i] = (uint32_t)strnlen(sample.path, sizeof sample.path);
    pathBytes += pathLengths[i];
  }
  if (pathBytes > 0xFFFFFFFFu) return false;
  uint32_t payloadSize = UserPayloadSize(count, (uint32_t)pathBytes);
  if (payloadSize == 0) return false;
  std::vector<uint8_t> payload(payloadSize);
  uint32_t payloadLength = 0;
  if (UserPayloadBuild(payload.data(), payloadSize, records.data(), paths.data(),
                       pathLengths.data(), count, &payloadLength) != kUfOk)
    return false;
  uint32_t maxSize = UserFileMaxSize(payloadLength);
  if (maxSize == 0) return false;
  std::vector<uint8_t> file(maxSize);
  std::vector<void*> work(UserFileWorkSize() / sizeof(void*) + 1);
  uint32_t fileLength = 0;
  if (UserFileBuild(payload.data(), payloadLength, "User000.dat", date, work.data(),
                    file.data(), maxSize, &fileLength) != kUfOk)
    return false;

  // Write beside the old file and put the new one in its place only when it
  // is complete: a failed save leaves the old blacklist whole.
  std::string target = UserFilePath(0);
  DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
    return false;  // "wb+" could not open it either
  // A list that did not come from the files on disk would replace samples
  // nobody saw: keep them first. So would one loaded from the other user
  // files while a damaged User000.dat was skipped.
  std::string backup;
  if (MayHoldSamples(target) && (!loaded || !ReadsWhole(target)) && !KeepBackup(target, &backup))
    return false;
  std::string temp = target + ".tmp";
  FILE* out = Win32OpenFile(temp.c_str(), "wb+");
  bool ok = out != nullptr;
  if (ok) {
    ok = fwrite(file.data(), 1, fileLength, out) == fileLength;
    if (fclose(out) != 0) ok = false;
    ok = ok && MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!ok) DeleteFileA(temp.c_str());
  }
  // User000.dat is still the old file: the copy made of it is not needed.
  if (!ok && !backup.empty()) DeleteFileA(backup.c_str());
  return ok;
}
