#include "decode.h"

#include <cstdio>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>
#include <hux/object/project.h>
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

std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The variant's value as text: its conversion where there is one, else what
// kind of content it holds.
std::string Describe(const hux::CVariant& v) {
  bool ok = false;
  const std::wstring text = v.toWString(&ok);
  if (ok) return Utf8(text);
  const hux::VariantStru& s = v.GetVariantStru();
  if (s.type == hux::DT_NONE) return "(none)";
  if (s.type == hux::DT_OBJECT_ID) return "id " + std::to_string(v.toObjectID());
  if (s.isObject) return s.value ? (s.isRefPtr ? "(shared object)" : "(object)") : "(object not present)";
  return "(no text form)";
}

bool DecodeVariants(const std::vector<unsigned char>& data, bool json, std::string& error) {
  std::vector<char> copy(data.begin(), data.end());
  if (copy.empty()) {
    error = "the file is empty";
    return false;
  }
  hux::GMemStream mem(false, copy.data(), static_cast<unsigned int>(copy.size()));
  hux::GDbArchiveImpl ar(&mem);
  const long long end = static_cast<long long>(data.size());
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
                  Json(codeName).c_str(), Json(Describe(v)).c_str());
    else
      std::printf("variant %zu @%lld  %s (%d)  %s\n", index, offset, codeName.c_str(), code, Describe(v).c_str());
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

bool DecodeProject(const std::vector<unsigned char>& data, bool json, std::string& error) {
  std::vector<char> copy(data.begin(), data.end());
  if (copy.empty()) {
    error = "the file is empty";
    return false;
  }
  hux::GMemStream mem(false, copy.data(), static_cast<unsigned int>(copy.size()));
  ReportingArchive ar(&mem);
  hux::IBaseProject project;
  project.Serialize(ar);
  const long long end = ar.DevicePos();
  if (json) {
    std::printf("{\"counter\": %lld, \"bytes\": %lld, \"reports\": [", project.GetLastUniqueID(), end);
    for (size_t i = 0; i < ar.reports.size(); ++i)
      std::printf("%s%s", i ? ", " : "", Json(ar.reports[i]).c_str());
    std::printf("]}\n");
  } else {
    std::printf("project @0  counter %lld  (%lld bytes)\n", project.GetLastUniqueID(), end);
    for (const std::string& r : ar.reports) std::printf("  report: %s\n", r.c_str());
  }
  if (end < static_cast<long long>(data.size()))
    std::printf("%lld bytes after the project object\n", static_cast<long long>(data.size()) - end);
  return true;
}

}  // namespace

bool IsDecoderKind(const std::string& kind) {
  return kind == "variant" || kind == "properties" || kind == "project";
}

bool Decode(const std::string& kind, const std::vector<unsigned char>& data, bool json, std::string& error) {
  if (kind == "variant") return DecodeVariants(data, json, error);
  if (kind == "project") return DecodeProject(data, json, error);
  error = "decoding as " + kind + " is not available in this build";
  return false;
}

}  // namespace huxdump
