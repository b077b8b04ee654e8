// tarnlib build MANIFEST OUTDIR [--objdir DIR]: base (and user) library files
// from a JSON manifest (format: library/sdk/README.md).
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "common/crc32.h"
#include "common/md5.h"
#include "common/userlib.h"
#include "scanner/codec/codec.h"
#include "scanner/library/format.h"
#include "tools/tarnlib/base_writer.h"
#include "tools/tarnlib/command.h"
#include "tools/tarnlib/library_objects.h"
#include "tools/tarnlib/section_pack.h"

using nlohmann::json;

namespace {

struct BuildError {
  std::string what;
};

[[noreturn]] void Fail(const std::string& what) { throw BuildError{what}; }

bool ReadBytes(const std::string& path, std::vector<uint8_t>* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write((const char*)data.data(), (std::streamsize)data.size());
  return (bool)f;
}

std::vector<uint8_t> ParseHex(const std::string& text, const std::string& where) {
  std::vector<uint8_t> out;
  int nibble = -1;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '-') continue;
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (v < 0) Fail(where + ": bad hex text '" + text + "'");
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back((uint8_t)(nibble << 4 | v));
      nibble = -1;
    }
  }
  if (nibble >= 0) Fail(where + ": odd number of hex digits");
  return out;
}

uint64_t Number(const json& j, const std::string& where) {
  if (j.is_number_unsigned() || j.is_number_integer()) {
    if (j.is_number_integer() && j.get<int64_t>() < 0) Fail(where + ": negative number");
    return j.get<uint64_t>();
  }
  if (j.is_string()) {
    std::string s = j.get<std::string>();
    try {
      size_t used = 0;
      uint64_t v = std::stoull(s, &used, 0);
      if (used == s.size()) return v;
    } catch (...) {
    }
  }
  Fail(where + ": expected a number");
}

uint64_t NumberField(const json& j, const char* key, uint64_t max, const std::string& where, bool required = true,
                     uint64_t fallback = 0) {
  if (!j.contains(key)) {
    if (required) Fail(where + ": missing \"" + key + "\"");
    return fallback;
  }
  uint64_t v = Number(j[key], where + "." + key);
  if (v > max) Fail(where + "." + key + ": " + std::to_string(v) + " is above " + std::to_string(max));
  return v;
}

std::string TextField(const json& j, const char* key, const std::string& where, bool required = true) {
  if (!j.contains(key)) {
    if (required) Fail(where + ": missing \"" + key + "\"");
    return std::string();
  }
  if (!j[key].is_string()) Fail(where + "." + key + ": expected a text");
  return j[key].get<std::string>();
}

// Checked bytes: "bytes" (hex) or "text" give the bytes (length and CRC
// follow); otherwise "length" and "crc".
void ParseCheck(const json& j, const std::string& where, uint16_t* offset, uint8_t* length, uint32_t* crc) {
  *offset = (uint16_t)NumberField(j, "offset", 0xFFFF, where);
  if (j.contains("bytes") || j.contains("text")) {
    std::vector<uint8_t> b;
    if (j.contains("bytes")) {
      b = ParseHex(TextField(j, "bytes", where), where + ".bytes");
    } else {
      std::string t = TextField(j, "text", where);
      b.assign(t.begin(), t.end());
    }
    if (b.size() > 255) Fail(where + ": more than 255 checked bytes");
    *length = (uint8_t)b.size();
    *crc = Crc32(b.data(), (uint32_t)b.size());
    if (j.contains("length") && NumberField(j, "length", 255, where) != b.size())
      Fail(where + ": \"length\" differs from the bytes given");
  } else {
    *length = (uint8_t)NumberField(j, "length", 255, where);
    *crc = (uint32_t)NumberField(j, "crc", 0xFFFFFFFFu, where);
  }
}

void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back((uint8_t)v);
  b.push_back((uint8_t)(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((uint8_t)(v >> (8 * i)));
}

std::string NameLine(const json& r, const std::string& where) {
  std::string name = TextField(r, "name", where, false);
  if (name.find('\n') != std::string::npos || name.find('\0') != std::string::npos)
    Fail(where + ": a virus name cannot hold LF or NUL");
  return name;
}

struct ManifestObject {
  std::string id, file, stem;
};

std::vector<ManifestObject> ParseObjects(const json& sec, const std::string& where) {
  std::vector<ManifestObject> list;
  if (!sec.contains("objects")) return list;
  if (!sec["objects"].is_array()) Fail(where + ".objects: expected an array");
  for (size_t i = 0; i < sec["objects"].size(); ++i) {
    const json& o = sec["objects"][i];
    std::string w = where + ".objects[" + std::to_string(i) + "]";
    ManifestObject m;
    if (o.is_string()) {
      m.file = o.get<std::string>();
    } else if (o.is_object()) {
      m.file = TextField(o, "file", w);
      m.id = TextField(o, "id", w, false);
    } else {
      Fail(w + ": expected a file name or {\"file\", \"id\"}");
    }
    size_t slash = m.file.find_last_of('/');
    m.stem = slash == std::string::npos ? m.file : m.file.substr(slash + 1);
    size_t dot = m.stem.find_last_of('.');
    if (dot != std::string::npos) m.stem = m.stem.substr(0, dot);
    if (m.id.empty()) m.id = m.file;
    list.push_back(m);
  }
  return list;
}

uint32_t RoutineNumber(const json& r, const std::vector<ManifestObject>& objects, const std::string& where) {
  if (!r.contains("routine") || r["routine"].is_null()) return libfmt::kNoRoutine;
  const json& v = r["routine"];
  if (v.is_number()) {
    uint64_t n = Number(v, where + ".routine");
    if (n >= objects.size()) Fail(where + ".routine: no object " + std::to_string(n) + " in this section");
    return (uint32_t)n;
  }
  if (!v.is_string()) Fail(where + ".routine: expected an object id, an index or null");
  std::string s = v.get<std::string>();
  for (size_t i = 0; i < objects.size(); ++i) {
    if (objects[i].id == s || objects[i].file == s || objects[i].stem == s) return (uint32_t)i;
  }
  Fail(where + ".routine: no object '" + s + "' in this section of this file");
}

struct FileBuild {
  uint32_t index = 0;
  BaseFileSpec spec;
  std::vector<LibraryObject> objects[4];
  std::vector<std::string> objectFiles[4];
};

void ParseSection(const json& file, uint32_t k, const std::string& objdir, FileBuild* fb, const std::string& where) {
  std::string key = "section" + std::to_string(k);
  if (!file.contains(key)) return;
  const json& sec = file[key];
  std::string w = where + "." + key;
  if (!sec.is_object()) Fail(w + ": expected an object");
  BaseSectionSpec& s = fb->spec.sections[k];
  std::vector<ManifestObject> objects = ParseObjects(sec, w);
  if (k == 1 && !objects.empty()) Fail(w + ": section 1 holds no objects");
  for (size_t i = 0; i < objects.size(); ++i) {
    std::string path = objects[i].file;
    if (!path.empty() && path[0] != '/') path = objdir + "/" + path;
    std::vector<uint8_t> image;
    if (!ReadBytes(path, &image)) Fail(w + ": cannot read object '" + path + "'");
    LibraryObject lo;
    std::string err;
    if (!PrepareLibraryObject(image, k, &lo, &err)) Fail(path + ": " + err);
    fb->objects[k].push_back(lo);
    fb->objectFiles[k].push_back(path);
    s.objects.push_back({lo.image, lo.prefix});
  }
  std::vector<std::string> routineLines, nameLines;
  for (const LibraryObject& lo : fb->objects[k]) routineLines.push_back(lo.prefix);
  if (sec.contains("records")) {
    const json& recs = sec["records"];
    if (!recs.is_array()) Fail(w + ".records: expected an array");
    if (k == 0 && !recs.empty()) Fail(w + ": section 0 holds no records");
    for (size_t i = 0; i < recs.size(); ++i) {
      const json& r = recs[i];
      std::string rw = w + ".records[" + std::to_string(i) + "]";
      uint8_t unit = (uint8_t)NumberField(r, "unit", 255, rw);
      if (k == 1) {
        uint16_t off;
        uint8_t len;
        uint32_t crc;
        ParseCheck(r, rw, &off, &len, &crc);
        s.table.push_back(unit);
        Put16(s.table, off);
        s.table.push_back(len);
        Put32(s.table, crc);
      } else {
        const json& checks = r.contains("checks") ? r["checks"] : json::array();
        if (!checks.is_array() || checks.size() > 255) Fail(rw + ".checks: expected an array of at most 255");
        s.table.push_back(unit);
        s.table.push_back((uint8_t)checks.size());
        for (size_t c = 0; c < checks.size(); ++c) {
          uint16_t off;
          uint8_t len;
          uint32_t crc;
          ParseCheck(checks[c], rw + ".checks[" + std::to_string(c) + "]", &off, &len, &crc);
          Put16(s.table, off);
          s.table.push_back(len);
          Put32(s.table, crc);
        }
        std::vector<uint8_t> params;
        if (r.contains("params")) {
          if (r["params"].is_string()) {
            params = ParseHex(r["params"].get<std::string>(), rw + ".params");
          } else if (r["params"].is_array()) {
            for (const json& b : r["params"]) params.push_back((uint8_t)Number(b, rw + ".params"));
          } else {
            Fail(rw + ".params: expected hex text or an array of bytes");
          }
        }
        if (params.size() > libfmt::kParamBytes) Fail(rw + ".params: more than 11 bytes");
        params.resize(libfmt::kParamBytes, 0);
        s.table.insert(s.table.end(), params.begin(), params.end());
        Put32(s.table, RoutineNumber(r, objects, rw));
      }
      nameLines.push_back(NameLine(r, rw));
      ++s.recordCount;
    }
  }
  if (k != 1) s.routineNames = JoinLines(routineLines);
  if (k != 0) s.virusNames = JoinLines(nameLines);
}

std::vector<uint8_t> PackText(const std::string& text) {
  static const CodecAllocator heap = {[](void*, uint32_t n) -> void* { return ::operator new(n); },
                                      [](void*, void* p) { ::operator delete(p); }, nullptr};
  std::vector<uint8_t> out(text.size() + text.size() / 8 + 16);
  uint32_t n = LzssEncode(&heap, (const uint8_t*)text.data(), (uint32_t)text.size(), out.data(), (uint32_t)out.size());
  if (n == 0) Fail("cannot LZSS-pack a text");
  out.resize(n);
  return out;
}

void BuildUserFile(const json& u, const std::string& outdir, const std::string& where) {
  uint32_t index = (uint32_t)NumberField(u, "index", libfmt::kMaxFiles - 1, where);
  std::vector<UserRecord> records;
  std::vector<std::string> paths;
  const json& entries = u.contains("entries") ? u["entries"] : json::array();
  for (size_t i = 0; i < entries.size(); ++i) {
    const json& e = entries[i];
    std::string w = where + ".entries[" + std::to_string(i) + "]";
    UserRecord r = {};
    std::string date = TextField(e, "date", w, false);
    if (date.empty()) date = "2026-01-01";
    if (date.size() != 10) Fail(w + ".date: expected YYYY-MM-DD");
    memcpy(r.date, date.data(), 10);
    if (e.contains("content")) {
      std::string content = TextField(e, "content", w);
      r.size = (uint32_t)content.size();
      Md5Digest(content.data(), r.size, r.digest);
    } else {
      r.size = (uint32_t)NumberField(e, "size", 0xFFFFFFFFu, w);
      std::vector<uint8_t> md5 = ParseHex(TextField(e, "md5", w), w + ".md5");
      if (md5.size() != 16) Fail(w + ".md5: expected 16 bytes");
      memcpy(r.digest, md5.data(), 16);
    }
    std::string path = TextField(e, "path", w, false);
    if (path.find('\n') != std::string::npos) Fail(w + ".path: LF inside");
    records.push_back(r);
    paths.push_back(path);
  }
  std::vector<const char*> pathPtrs;
  std::vector<uint32_t> pathLens;
  uint64_t pathBytes = 0;
  for (const std::string& p : paths) {
    pathPtrs.push_back(p.c_str());
    pathLens.push_back((uint32_t)p.size());
    pathBytes += p.size();
  }
  uint32_t payloadSize = UserPayloadSize((uint32_t)records.size(), (uint32_t)pathBytes);
  if (payloadSize == 0) Fail(where + ": too large");
  std::vector<uint8_t> payload(payloadSize);
  uint32_t payloadLength = 0;
  if (UserPayloadBuild(payload.data(), payloadSize, records.data(), pathPtrs.data(), pathLens.data(),
                       (uint32_t)records.size(), &payloadLength) != kUfOk)
    Fail(where + ": cannot lay out the payload");
  char name[32];
  std::snprintf(name, sizeof name, "User%03u.dat", index);
  std::string date = TextField(u, "date", where, false);
  if (date.empty()) date = "2026-01-01";
  std::vector<uint8_t> out(UserFileMaxSize(payloadLength));
  std::vector<void*> work(UserFileWorkSize() / sizeof(void*) + 1);
  uint32_t fileLength = 0;
  if (UserFileBuild(payload.data(), payloadLength, name, date.c_str(), work.data(), out.data(),
                    (uint32_t)out.size(), &fileLength) != kUfOk)
    Fail(where + ": cannot pack the payload");
  out.resize(fileLength);
  if (u.contains("kind")) {
    uint32_t kind = (uint32_t)NumberField(u, "kind", 0xFFFFFFFFu, where);
    for (int i = 0; i < 4; ++i) out[188 + i] = (uint8_t)(kind >> (8 * i));
  }
  if (!WriteBytes(outdir + "/" + name, out)) Fail("cannot write " + outdir + "/" + name);
}

int Build(const std::vector<std::string>& args) {
  std::vector<std::string> pos;
  std::string objdir;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--objdir" && i + 1 < args.size()) {
      objdir = args[++i];
    } else {
      pos.push_back(args[i]);
    }
  }
  if (pos.size() != 2) {
    std::fprintf(stderr, "usage: tarnlib build MANIFEST OUTDIR [--objdir DIR]\n");
    return 2;
  }
  const std::string& manifestPath = pos[0];
  const std::string& outdir = pos[1];
  try {
    std::ifstream in(manifestPath);
    if (!in) Fail("cannot read " + manifestPath);
    json m;
    try {
      m = json::parse(in, nullptr, true, true);
    } catch (const json::exception& e) {
      Fail(manifestPath + ": " + e.what());
    }
    if (objdir.empty()) {
      size_t slash = manifestPath.find_last_of('/');
      objdir = slash == std::string::npos ? "." : manifestPath.substr(0, slash);
      if (m.contains("objdir")) objdir += "/" + TextField(m, "objdir", "manifest");
    }
    std::map<uint32_t, FileBuild> files;
    const json& fl = m.contains("files") ? m["files"] : json::array();
    if (!fl.is_array()) Fail("manifest.files: expected an array");
    for (size_t i = 0; i < fl.size(); ++i) {
      const json& f = fl[i];
      std::string w = "files[" + std::to_string(i) + "]";
      FileBuild fb;
      fb.index = (uint32_t)NumberField(f, "index", libfmt::kMaxFiles - 1, w);
      if (files.count(fb.index)) Fail(w + ": index " + std::to_string(fb.index) + " given twice");
      if (f.contains("keys")) {
        const json& keys = f["keys"];
        if (!keys.is_array() || keys.size() != 2) Fail(w + ".keys: expected two bytes");
        fb.spec.key1 = (uint8_t)Number(keys[0], w + ".keys");
        fb.spec.key2 = (uint8_t)Number(keys[1], w + ".keys");
      } else {
        fb.spec.key1 = (uint8_t)(0x35 + 7 * fb.index);
        fb.spec.key2 = (uint8_t)(0x91 ^ fb.index);
      }
      fb.spec.kind = (uint32_t)NumberField(f, "kind", 0xFFFFFFFFu, w, false, 0);
      fb.spec.producer = TextField(f, "producer", w, false);
      for (uint32_t k = 0; k < libfmt::kSectionCount; ++k) ParseSection(f, k, objdir, &fb, w);
      files[fb.index] = std::move(fb);
    }
    // References must bind the way the scanner binds them: to host services
    // and to symbols exported by objects loaded earlier.
    bool allowUnresolved = m.value("allowUnresolved", false);
    LinkModel link;
    for (auto& [index, fb] : files) {
      if (fb.spec.kind != libfmt::kFileKindBase) continue;
      for (uint32_t k : {0u, 2u, 3u}) {
        for (size_t i = 0; i < fb.objects[k].size(); ++i) {
          std::vector<std::string> missing = link.Bind(fb.objects[k][i]);
          for (const std::string& name : missing) {
            std::string msg = fb.objectFiles[k][i] + ": unresolved reference '" + name + "'";
            if (!allowUnresolved) Fail(msg + " (define it in a section-0 object of this or an earlier file)");
            std::fprintf(stderr, "tarnlib: warning: %s\n", msg.c_str());
          }
        }
      }
    }
    BasePackers packers;
    packers.packSection = [](const std::vector<uint8_t>& d) { return PackSection(d.data(), d.size()); };
    packers.packText = PackText;
    for (auto& [index, fb] : files) {
      std::vector<uint8_t> bytes;
      std::string err;
      if (!WriteBaseFile(fb.spec, packers, &bytes, &err)) Fail("Base" + std::to_string(index) + ": " + err);
      char name[32];
      std::snprintf(name, sizeof name, "/Base%03u.dat", index);
      if (!WriteBytes(outdir + name, bytes)) Fail("cannot write " + outdir + name);
    }
    if (m.contains("user")) {
      const json& ul = m["user"];
      if (!ul.is_array()) Fail("manifest.user: expected an array");
      for (size_t i = 0; i < ul.size(); ++i) BuildUserFile(ul[i], outdir, "user[" + std::to_string(i) + "]");
    }
  } catch (const BuildError& e) {
    std::fprintf(stderr, "tarnlib build: %s\n", e.what.c_str());
    return 1;
  }
  return 0;
}

TarnlibCommand buildCommand("build", "build MANIFEST OUTDIR [--objdir DIR]", Build);

}  // namespace
