#include "decode.h"

#include "escape.h"

#include <cstdio>
#include <limits>
#include <set>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/base.h>
#include <hux/object/project.h>
#include <hux/value/property.h>
#include <hux/util/stringtrans.h>
#include <hux/value/variant.h>

namespace huxdump {

namespace {

std::string Utf8(const std::wstring& text) {
  char* utf8 = hux::GStdStringTrans::UnicodeToUtf8(text.c_str());
  std::string out(utf8);
  delete[] utf8;
  return out;
}

// Wide text from a file for the text output.
std::string Text(const std::wstring& text) { return TextString(Utf8(text)); }

// The variant's value as text: its conversion where there is one, else what
// kind of content it holds.
std::string Describe(const hux::CVariant& v) {
  bool ok = false;
  const std::wstring text = v.toWString(&ok);
  if (ok) return Utf8(text);
  const hux::VariantStru& s = v.GetVariantStru();
  if (s.type == hux::DT_NONE) return "(none)";
  if (s.type == hux::DT_OBJECT_ID) return "id " + std::to_string(v.toObjectID());
  if (v.IsKept()) return "(kept content: an object this process cannot load, written back unchanged)";
  if (s.isObject) return s.value ? (s.isRefPtr ? "(shared object)" : "(object)") : "(object not present)";
  return "(no text form)";
}

bool DecodeVariants(hux::GMemStream& mem, long long end, bool json, std::string& error) {
  hux::GDbArchiveImpl ar(&mem);
  size_t index = 0;
  while (ar.DevicePos() < end) {
    const long long offset = ar.DevicePos();
    hux::CVariant v;
    v.Serialize(ar);
    if (ar.DevicePos() <= offset || ar.DevicePos() > end) {
      error = "offset " + std::to_string(offset) + ": not a whole variant";
      return false;
    }
    const int code = v.GetVariantStru().type;
    const char* name = hux::GetDataTypeName(static_cast<hux::eXOMDataType>(code));
    const std::string codeName = name ? name : "custom " + std::to_string(code);
    if (json)
      std::printf("{\"index\": %zu, \"offset\": %lld, \"code\": %d, \"type\": %s, \"value\": %s}\n", index, offset, code,
                  JsonString(codeName).c_str(), JsonString(Describe(v)).c_str());
    else
      std::printf("variant %zu @%lld  %s (%d)  %s\n", index, offset, TextString(codeName).c_str(), code,
                  TextString(Describe(v)).c_str());
    ++index;
  }
  return true;
}

// An archive that collects the serializers' reports instead of dropping them.
class ReportingArchive : public hux::GDbArchiveImpl {
 public:
  using hux::GDbArchiveImpl::GDbArchiveImpl;
  void ErrorMsgBox(std::string caption, std::string text) override {
    reports.push_back(caption + ": " + text);
  }
  std::vector<std::string> reports;
};

bool DecodeProject(hux::GMemStream& mem, long long size, bool json, std::string&) {
  ReportingArchive ar(&mem);
  hux::IBaseProject project;
  project.Serialize(ar);
  const long long end = ar.DevicePos();
  if (json) {
    std::printf("{\"counter\": %lld, \"bytes\": %lld, \"reports\": [", project.GetLastUniqueID(), end);
    for (size_t i = 0; i < ar.reports.size(); ++i)
      std::printf("%s%s", i ? ", " : "", JsonString(ar.reports[i]).c_str());
    // Bytes past the object go into the record, so the output stays JSON.
    std::printf("], \"trailing\": %lld, \"kept\": %zu}\n", size - end, project.GetKeptByteCount());
  } else {
    std::printf("project @0  counter %lld  (%lld bytes)\n", project.GetLastUniqueID(), end);
    if (project.GetKeptByteCount())
      std::printf("  kept: %zu bytes of newer content, written back unchanged\n", project.GetKeptByteCount());
    for (const std::string& r : ar.reports) std::printf("  report: %s\n", TextString(r).c_str());
    if (end < size) std::printf("%lld bytes after the project object\n", size - end);
  }
  return true;
}

// The owner the collections are read for: it only reports the class code.
class Owner : public hux::IBase {
 public:
  hux::eXOMDataType GetObjectType() override { return code; }
  hux::eXOMDataType code = hux::DT_UNDEFINED;
};

// Gives the inspector the process-wide tables the loaded schemes went into.
class SchemeView : public hux::CPropertyCollection {
 public:
  static void Print(bool json) {
    if (json) {
      std::printf("{\"products\": [");
      bool first = true;
      for (const auto& [name, id] : m_mapAllProducutID) {
        std::printf("%s{\"name\": %s, \"id\": %u}", first ? "" : ", ", JsonString(Utf8(name)).c_str(), id);
        first = false;
      }
      std::printf("], \"schemes\": [");
      first = true;
      for (const auto& [code, all] : m_mapAllClassScheme) {
        for (const auto& [product, scheme] : all.mapProductScheme) {
          for (const auto& [id, name] : scheme.mapIDToName) {
            std::printf("%s{\"class\": %d, \"product\": %s, \"id\": %u, \"name\": %s}", first ? "" : ", ",
                        static_cast<int>(code), JsonString(Utf8(product)).c_str(), id.Packed(), JsonString(Utf8(name)).c_str());
            first = false;
          }
        }
      }
      std::printf("]}\n");
      return;
    }
    std::printf("product table:");
    for (const auto& [name, id] : m_mapAllProducutID) std::printf(" %s=%u", Text(name).c_str(), id);
    std::printf("\n");
    for (const auto& [code, all] : m_mapAllClassScheme) {
      for (const auto& [product, scheme] : all.mapProductScheme) {
        std::printf("scheme of class %d, product %s:", static_cast<int>(code), Text(product).c_str());
        for (const auto& [id, name] : scheme.mapIDToName) std::printf(" %u=%s", id.Packed(), Text(name).c_str());
        std::printf("\n");
      }
    }
  }
};

// The class code a collection's scheme names, read ahead without moving the
// archive; `fallback` when the collection carries no scheme.
hux::eXOMDataType PeekClass(hux::GDbArchiveImpl& ar, hux::eXOMDataType fallback) {
  const long long start = ar.DevicePos();
  hux::eXOMDataType code = fallback;
  bool scheme = false, table = false;
  ar >> scheme;
  if (scheme) {
    ar >> table;
    if (table) {
      int n = 0;
      ar >> n;
      for (int i = 0; i < n && ar.DevicePos() >= 0; ++i) {
        std::wstring name;
        unsigned char id = 0;
        const long long before = ar.DevicePos();
        ar >> name >> id;
        if (ar.DevicePos() <= before) break;  // nothing more delivered
      }
    }
    int raw = fallback;
    ar >> raw;
    code = static_cast<hux::eXOMDataType>(raw);
  }
  ar.SeekPos(static_cast<int>(start), hux::GDbArchive::SEEKFROM_BEGIN);
  return code;
}

bool DecodeProperties(hux::GMemStream& mem, long long end, bool json, std::string& error) {
  hux::GDbArchiveImpl ar(&mem);
  Owner owner;
  std::set<hux::eXOMDataType> classes;
  size_t index = 0;
  while (ar.DevicePos() < end) {
    const long long offset = ar.DevicePos();
    owner.code = PeekClass(ar, owner.code);
    classes.insert(owner.code);
    hux::CPropertyCollection collection(&owner);
    collection.Serialize(ar);
    if (ar.DevicePos() <= offset || ar.DevicePos() > end) {
      error = "offset " + std::to_string(offset) + ": not a whole property collection";
      return false;
    }
    collection.First();
    std::wstring product, name;
    hux::CVariant value;
    if (!json) std::printf("collection %zu @%lld  class %d\n", index, offset, static_cast<int>(owner.code));
    while (collection.Next(product, name, value)) {
      const unsigned short id = collection.GetPropertyID(name).Packed();
      if (json)
        std::printf("{\"collection\": %zu, \"offset\": %lld, \"class\": %d, \"product\": %s, \"name\": %s, "
                    "\"id\": %u, \"code\": %d, \"value\": %s}\n",
                    index, offset, static_cast<int>(owner.code), JsonString(Utf8(product)).c_str(), JsonString(Utf8(name)).c_str(),
                    id, static_cast<int>(value.GetVariantStru().type), JsonString(Describe(value)).c_str());
      else
        std::printf("  %s:%s (id %u)  %d  %s\n", Text(product).c_str(), Text(name).c_str(), id,
                    static_cast<int>(value.GetVariantStru().type), TextString(Describe(value)).c_str());
    }
    ++index;
  }
  SchemeView::Print(json);
  for (hux::eXOMDataType code : classes) {
    const auto* remap = ar.GetMapPropertyID(code, false);
    if (!remap || remap->empty()) continue;
    if (!json) std::printf("ids remapped for class %d:", static_cast<int>(code));
    for (const auto& [from, to] : *remap) {
      if (json)
        std::printf("{\"class\": %d, \"remap\": [%u, %u]}\n", static_cast<int>(code), from, to);
      else
        std::printf(" %u->%u", from, to);
    }
    if (!json) std::printf("\n");
  }
  return true;
}

}  // namespace

bool IsDecoderKind(const std::string& kind) {
  return kind == "variant" || kind == "properties" || kind == "project";
}

bool Decode(const std::string& kind, const std::vector<unsigned char>& data, bool json, std::string& error) {
  if (data.empty()) {
    error = "the file is empty";
    return false;
  }
  // The memory stream and the archive's seeks count in int.
  if (data.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    error = "files over 2 GB are not decoded";
    return false;
  }
  // A loading stream over a copy: the readers see exactly the file's bytes.
  std::vector<char> copy(data.begin(), data.end());
  hux::GMemStream mem(false, copy.data(), static_cast<unsigned int>(copy.size()));
  const long long size = static_cast<long long>(copy.size());
  if (kind == "variant") return DecodeVariants(mem, size, json, error);
  if (kind == "project") return DecodeProject(mem, size, json, error);
  if (kind == "properties") return DecodeProperties(mem, size, json, error);
  error = "unknown kind " + kind;
  return false;
}

}  // namespace huxdump
