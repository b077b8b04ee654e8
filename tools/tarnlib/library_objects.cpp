// Library object preparation for tarnlib build (see library_objects.h).
#include "tools/tarnlib/library_objects.h"

#include <cstdio>

#include "common/crc32.h"
#include "scanner/library/format.h"
#include "tools/tarnlib/coff_edit.h"
#include "tools/tarnlib/crc_forge.h"

const char* const kHostServiceNames[27] = {
    "TwScanSeek",    "TwScanRead",     "TwScanWrite",   "TwScanTruncate",      "TwTrackedAlloc", "TwTrackedFree",
    "TwMemAlloc",    "TwMemFree",      "TwNop",         "TwMemRealloc",        "TwLayerSeek",    "TwLayerRead",
    "TwCopyLayerOverFile", "TwFileRead", "TwFileClose", "TwFileSize",          "TwFileOpen",     "TwDriveType",
    "TwListDrives",  "TwRequestSweep", "TwAnsiToWide",  "TwWideToAnsi",        "TwRegOpen",      "TwRegSetValue",
    "TwRegClose",    "TwRegDeleteValue", "TwRegQueryValue",
};

const char* const kSpecialNames[6] = {"StartHook1", "StopHook1", "StartHook2", "StopHook2", "NextUnit", "GenericRepair"};

namespace {

// clang's code generator calls these; the SDK's helper object defines them.
const char* const kRuntimeHelpers[] = {
    "_memcpy",  "_memset",   "_memmove",  "_memcmp",  "__chkstk", "__alloca_probe", "__alldiv",
    "__aulldiv", "__allrem", "__aullrem", "__allmul", "__allshl", "__allshr",       "__aullshr",
    "__fltused",
};

bool IsRuntimeHelper(const std::string& name) {
  for (const char* h : kRuntimeHelpers)
    if (name == h) return true;
  return false;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

uint32_t Key(const std::string& s) { return Crc32(s.data(), (uint32_t)s.size()); }

bool SectionLoaded(const CoffObject& obj, int16_t number) {
  if (number < 1 || (size_t)number > obj.sections.size()) return false;
  const CoffSection& s = obj.sections[number - 1];
  return s.rawSize != 0 && !(s.characteristics & (libfmt::kScnDiscardable | libfmt::kScnLinkInfo));
}

}  // namespace

int HostServicePlace(const std::string& decorated) {
  std::string name = decorated;
  if (!name.empty() && name[0] == '_') name = name.substr(1);
  size_t at = name.find('@');
  if (at != std::string::npos) name = name.substr(0, at);
  for (int i = 0; i < 27; ++i)
    if (name == kHostServiceNames[i]) return i;
  return -1;
}

std::string EntryName(const std::string& prefix, bool repair) {
  std::string full = prefix + (repair ? libfmt::kRepairSuffix : libfmt::kCheckSuffix);
  char buf[16];
  std::snprintf(buf, sizeof buf, ".%08x", Key(full));
  return buf;
}

std::string CutName(const std::string& name, uint16_t type, uint8_t storageClass) {
  if (type != libfmt::kSymTypeFunction) return std::string();
  std::string base;
  if (storageClass == libfmt::kClassExternal) {
    base = name;
  } else if (storageClass == libfmt::kClassStatic) {
    base = name.size() > 6 ? name.substr(6) : std::string();
  } else {
    return std::string();
  }
  size_t at = base.find(libfmt::kClassMarker);
  return at == std::string::npos ? base : base.substr(0, at);
}

bool PrepareLibraryObject(const std::vector<uint8_t>& image, uint32_t section, LibraryObject* out,
                          std::string* error) {
  using namespace libfmt;
  CoffObject obj;
  if (!ParseCoff(image, &obj, error)) return false;
  if (obj.machine != kMachineI386) {
    *error = "not a 32-bit x86 object (machine 0x" + std::to_string(obj.machine) + ")";
    return false;
  }
  *out = LibraryObject();
  for (CoffSymbol& s : obj.symbols) {
    if (s.isAux) continue;
    bool defined = s.section >= 1;
    bool external = s.storageClass == kClassExternal;
    if (defined && external && (EndsWith(s.name, kCheckSuffix) || EndsWith(s.name, kRepairSuffix))) {
      bool repair = EndsWith(s.name, kRepairSuffix);
      std::string prefix = s.name.substr(0, s.name.size() - sizeof(kCheckSuffix) + 1);
      if (!out->prefix.empty() && out->prefix != prefix) {
        *error = "routines of two names (" + out->prefix + ", " + prefix + ") in one object";
        return false;
      }
      if (prefix.size() > kMaxPrefix) {
        *error = "routine name " + prefix + " is longer than 63 characters";
        return false;
      }
      out->prefix = prefix;
      (repair ? out->hasRepair : out->hasCheck) = true;
      s.name = EntryName(prefix, repair);
      continue;
    }
    bool special = false;
    for (uint32_t i = 0; i < kSpecialCount && defined && external; ++i) {
      std::string decorated = std::string("?") + kSpecialNames[i] + "@CQEL@@QAGKPAV1@@Z";
      if (s.name == decorated) {
        s.name = ForgeName(std::string("?") + kSpecialNames[i], kSpecialKeys[i]);
        out->specials.push_back(kSpecialNames[i]);
        special = true;
      }
    }
    if (special) continue;
    if (IsRuntimeHelper(s.name)) {
      s.name = "." + s.name;
    } else if (!defined && s.section == 0 && external) {
      int place = HostServicePlace(s.name);
      if (place >= 0 && Key(s.name) != kHostServiceKeys[place]) s.name = ForgeName(s.name, kHostServiceKeys[place]);
    }
  }
  if (section == 0 && !out->prefix.empty()) {
    *error = "routine " + out->prefix + " in a section-0 object (routines belong in sections 2 and 3)";
    return false;
  }
  // What the loader will see: undefined references and exports.
  std::set<uint32_t> entryKeys = {Key(EntryName(out->prefix, false)), Key(EntryName(out->prefix, true))};
  for (const CoffSymbol& s : obj.symbols) {
    if (s.isAux) continue;
    if (s.section == 0 && s.storageClass == kClassExternal) {
      out->undefined.push_back(s.name);
      continue;
    }
    if (s.name.empty() || (s.name[0] != '?' && s.name[0] != '.') || !SectionLoaded(obj, s.section)) continue;
    uint32_t cut = Key(CutName(s.name, s.type, s.storageClass));
    bool isSpecial = false;
    for (uint32_t k : kSpecialKeys) isSpecial |= cut == k;
    if (isSpecial || entryKeys.count(cut)) continue;
    out->exported.push_back(s.name);
  }
  if (!WriteCoff(obj, &out->image, error)) return false;
  return true;
}

LinkModel::LinkModel() {
  for (uint32_t k : libfmt::kHostServiceKeys) keys_.insert(k);
}

std::vector<std::string> LinkModel::Bind(const LibraryObject& obj) {
  std::vector<std::string> missing;
  for (const std::string& name : obj.undefined)
    if (!keys_.count(Key(name))) missing.push_back(name);
  for (const std::string& name : obj.exported) keys_.insert(Key(name));
  return missing;
}
