// Base library file writer (see base_writer.h and scanner/library/format.h).
#include "tools/tarnlib/base_writer.h"

#include <cstring>

#include "scanner/library/format.h"
#include "tools/tarnlib/coff_edit.h"

namespace {

void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (uint8_t)(v >> (8 * i));
}
void Xor(std::vector<uint8_t>& b, uint8_t key) {
  for (uint8_t& c : b) c ^= key;
}

uint32_t ImageCodeBytes(const std::vector<uint8_t>& image) {
  CoffObject obj;
  std::string err;
  if (!ParseCoff(image, &obj, &err)) return (uint32_t)((image.size() + 15) & ~(size_t)15);
  return CoffCodeBytes(obj);
}

}  // namespace

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

std::vector<uint8_t> BuildDecodedSection(const BaseSectionSpec& s, uint32_t k, uint8_t fileKey,
                                         const BasePackers& p, std::string* error) {
  using namespace libfmt;
  std::vector<uint8_t> table = s.table;
  std::vector<uint8_t> objects;
  for (const BaseObjectSpec& o : s.objects) {
    uint32_t size = (uint32_t)o.image.size();
    for (int i = 0; i < 4; ++i) objects.push_back((uint8_t)(size >> (8 * i)));
    objects.insert(objects.end(), o.image.begin(), o.image.end());
  }
  // Table key from the plain texts; text key from the scrambled parts.
  bool circular = s.routineNames.empty() && s.virusNames.empty() && (!table.empty() || !objects.empty());
  if (circular) {
    *error = "a section with records or objects needs a routine-name or virus-name text";
    return {};
  }
  uint8_t tableKey = 0;
  if (!s.routineNames.empty()) tableKey = (uint8_t)s.routineNames[0];
  else if (!s.virusNames.empty()) tableKey = (uint8_t)s.virusNames[0];
  Xor(table, tableKey);
  Xor(objects, tableKey);
  uint8_t textKey = !objects.empty() ? objects[0] : !table.empty() ? table[0] : fileKey;
  if (s.routineNames.empty() && s.virusNames.empty()) tableKey = textKey;
  std::vector<uint8_t> routine, virus;
  if (!s.routineNames.empty()) routine = p.packText(s.routineNames);
  if (!s.virusNames.empty()) virus = p.packText(s.virusNames);
  Xor(routine, textKey);
  Xor(virus, textKey);

  std::vector<uint8_t> out(kPartDirectorySize, 0);
  size_t rec = kPartRecord * k;
  out[rec] = (uint8_t)k;
  auto place = [&](const std::vector<uint8_t>& part, uint32_t offField, uint32_t sizeField, uint32_t size) {
    Set32(out, rec + offField, part.empty() ? 0 : (uint32_t)out.size());
    Set32(out, rec + sizeField, size);
    out.insert(out.end(), part.begin(), part.end());
  };
  place(table, kPartTableOffset, kPartTableSize, (uint32_t)table.size());
  Set32(out, rec + kPartTableCount, s.recordCount);
  place(objects, kPartObjectOffset, kPartObjectSize, (uint32_t)objects.size());
  Set32(out, rec + kPartObjectCount, (uint32_t)s.objects.size());
  place(routine, kPartRoutineOffset, kPartRoutinePacked, (uint32_t)routine.size());
  Set32(out, rec + kPartRoutineSize, (uint32_t)s.routineNames.size());
  place(virus, kPartVirusOffset, kPartVirusPacked, (uint32_t)virus.size());
  Set32(out, rec + kPartVirusSize, (uint32_t)s.virusNames.size());
  return out;
}

bool WriteBaseFile(const BaseFileSpec& spec, const BasePackers& p, std::vector<uint8_t>* out, std::string* error) {
  using namespace libfmt;
  std::vector<uint8_t> f(kBaseHeaderSize, 0);
  std::string producer = "Tarnwell base library\r\n" + spec.producer;
  memcpy(f.data(), producer.data(), producer.size() < kKeyByte1 ? producer.size() : kKeyByte1 - 1);
  f[kKeyByte1] = spec.key1;
  f[kKeyByte2] = spec.key2;
  uint8_t fileKey = (uint8_t)(spec.key1 + spec.key2);
  Set32(f, kKind, spec.kind);

  uint32_t code = 0, routineNames = 0, virusNames = 0;
  for (uint32_t k = 0; k < kSectionCount; ++k) {
    const BaseSectionSpec& s = spec.sections[k];
    for (const BaseObjectSpec& o : s.objects) code += ImageCodeBytes(o.image);
    routineNames += (uint32_t)s.routineNames.size();
    virusNames += (uint32_t)s.virusNames.size();
  }
  Set32(f, kCodeBytes, code);
  Set32(f, kRoutineNameBytes, routineNames);
  Set32(f, kVirusNameBytes, virusNames);
  Set32(f, kChecksumBytes, (uint32_t)spec.sections[1].table.size());
  Set32(f, kMultiBytes, (uint32_t)spec.sections[2].table.size());
  Set32(f, kPackerBytes, (uint32_t)spec.sections[3].table.size());
  Set32(f, kS0RoutineNames, (uint32_t)spec.sections[0].routineNames.size());
  Set32(f, kS0Objects, (uint32_t)spec.sections[0].objects.size());
  Set32(f, kS1VirusNames, (uint32_t)spec.sections[1].virusNames.size());
  Set32(f, kS2RoutineNames, (uint32_t)spec.sections[2].routineNames.size());
  Set32(f, kS2Objects, (uint32_t)spec.sections[2].objects.size());
  Set32(f, kS2VirusNames, (uint32_t)spec.sections[2].virusNames.size());
  Set32(f, kS3RoutineNames, (uint32_t)spec.sections[3].routineNames.size());
  Set32(f, kS3Objects, (uint32_t)spec.sections[3].objects.size());
  Set32(f, kS3VirusNames, (uint32_t)spec.sections[3].virusNames.size());

  for (uint32_t k = 0; k < kSectionCount; ++k) {
    const BaseSectionSpec& s = spec.sections[k];
    if (s.Empty()) continue;
    std::vector<uint8_t> decoded = BuildDecodedSection(s, k, fileKey, p, error);
    if (decoded.empty()) {
      *error = "section " + std::to_string(k) + ": " + *error;
      return false;
    }
    if (decoded.size() > kSectionLimit) {
      *error = "section " + std::to_string(k) + " is larger than 32 MiB when unpacked";
      return false;
    }
    std::vector<uint8_t> packed = p.packSection(decoded);
    if (packed.empty()) {
      *error = "section " + std::to_string(k) + " could not be packed";
      return false;
    }
    Xor(packed, fileKey);
    size_t dir = kSectionDir + kSectionDirEntry * k;
    Set32(f, dir, (uint32_t)f.size());
    Set32(f, dir + 4, (uint32_t)decoded.size());
    Set32(f, dir + 8, (uint32_t)packed.size());
    f.insert(f.end(), packed.begin(), packed.end());
  }
  *out = std::move(f);
  return true;
}
