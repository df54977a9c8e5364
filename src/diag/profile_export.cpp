// Speedscope files and collapsed stacks. Numbers are written with
// std::to_string, whatever locale the caller's stream carries.
#include "diag/profile_export.h"

#include <cstdio>
#include <ostream>

#include "util/native_path.h"
#include "util/unicode.h"

namespace hux::detail {

namespace {

// `text` (valid UTF-8) as a JSON string.
void JsonString(std::ostream& out, const std::string& text) {
  out << '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out << '\\' << c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out << escape;
    } else {
      out << c;
    }
  }
  out << '"';
}

std::string CollapsedName(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (c == ';') c = ':';
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

}  // namespace

std::string ValidUtf8(const std::string& bytes) {
  // The native path conversion keeps valid sequences and escapes each other
  // byte as a lone surrogate, which UTF-8 encoding turns into U+FFFD.
  return WideToUtf8(NativePathToWide(bytes));
}

bool WriteSpeedscope(std::ostream& out, const ExportProfile& profile) {
  long long end = 0;
  for (const ExportProfile::Stack& stack : profile.stacks) end += stack.weight;
  out << "{\"$schema\":\"https://www.speedscope.app/file-format-schema.json\",\"exporter\":\"hux\",\"name\":";
  JsonString(out, profile.name);
  out << ",\"activeProfileIndex\":0,\"shared\":{\"frames\":[";
  for (size_t i = 0; i < profile.frames.size(); ++i) {
    const ExportFrame& frame = profile.frames[i];
    out << (i ? ",\n" : "\n") << "{\"name\":";
    JsonString(out, frame.name);
    if (!frame.file.empty()) {
      out << ",\"file\":";
      JsonString(out, frame.file);
      out << ",\"line\":" << std::to_string(frame.line);
    }
    out << '}';
  }
  out << "]},\"profiles\":[{\"type\":\"sampled\",\"name\":";
  JsonString(out, profile.name);
  out << ",\"unit\":\"" << profile.unit << "\",\"startValue\":0,\"endValue\":" << std::to_string(end) << ",\"samples\":[";
  for (size_t i = 0; i < profile.stacks.size(); ++i) {
    out << (i ? ",\n[" : "\n[");
    const std::vector<size_t>& frames = profile.stacks[i].frames;
    for (size_t j = 0; j < frames.size(); ++j) out << (j ? "," : "") << std::to_string(frames[j]);
    out << ']';
  }
  out << "],\"weights\":[";
  for (size_t i = 0; i < profile.stacks.size(); ++i) out << (i ? "," : "") << std::to_string(profile.stacks[i].weight);
  out << "]}]}\n";
  return out.good();
}

bool WriteCollapsedStacks(std::ostream& out, const ExportProfile& profile) {
  std::vector<std::string> names;
  names.reserve(profile.frames.size());
  for (const ExportFrame& frame : profile.frames) names.push_back(CollapsedName(frame.name));
  for (const ExportProfile::Stack& stack : profile.stacks) {
    for (size_t j = 0; j < stack.frames.size(); ++j) out << (j ? ";" : "") << names[stack.frames[j]];
    out << ' ' << std::to_string(stack.weight) << '\n';
  }
  return out.good();
}

}  // namespace hux::detail
