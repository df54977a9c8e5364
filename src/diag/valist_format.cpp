// Walks a printf format and formats each conversion from a ValistStream.
#include "diag/valist_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <hux/diag/error.h>

namespace hux::detail {

namespace {

// Width and precision beyond the message's own limit cannot change what is
// kept of it, but would make the C library produce that much text.
constexpr long kMaxFieldWidth = 4096;

enum class Kind { kSigned, kUnsigned, kChar, kDouble, kString, kPointer, kCount };

enum class Size { kDefault, kChar, kShort, kWide };

// Reads the stream's slots one after the other.
class SlotReader {
 public:
  explicit SlotReader(const ValistStream& args) : m_args(args) {}

  // The next slot's bits, or 0 when the arguments are used up.
  unsigned long long Next(size_t* index = nullptr) {
    const std::string& block = m_args.GetArgumentBlock();
    const size_t at = m_next++;
    if (index) *index = at;
    if ((at + 1) * 8 > block.size()) return 0;
    unsigned long long bits = 0;
    std::memcpy(&bits, block.data() + at * 8, 8);
    return bits;
  }

  // The next slot as a string of this stream's pool, or null when the slot
  // is missing, is not a string slot or does not point into the pool.
  const char* NextString() {
    size_t index = 0;
    const unsigned long long bits = Next(&index);
    const std::vector<int>& slots = m_args.GetStringSlots();
    const int offset = static_cast<int>(index * 8);
    if (std::find(slots.begin(), slots.end(), offset) == slots.end()) return nullptr;
    const std::string& pool = m_args.GetTextPool();
    const char* p = reinterpret_cast<const char*>(static_cast<uintptr_t>(bits));
    // The pool ends with a string's zero byte, so any address inside it
    // starts a terminated text.
    if (pool.empty() || p < pool.data() || p >= pool.data() + pool.size()) return nullptr;
    return p;
  }

 private:
  const ValistStream& m_args;
  size_t m_next = 0;
};

// Appends to a bounded buffer, cutting what does not fit.
class Output {
 public:
  Output(char* out, size_t size) : m_out(out), m_size(size) { m_out[0] = '\0'; }
  bool Full() const { return m_used + 1 >= m_size; }
  size_t Used() const { return m_used; }

  void Append(const char* text, size_t n) {
    const size_t room = m_size - 1 - m_used;
    n = std::min(n, room);
    std::memcpy(m_out + m_used, text, n);
    m_used += n;
    m_out[m_used] = '\0';
  }

  // Formats one conversion with the C library into the remaining room.
  template <class T>
  void Format(const std::string& piece, T value) {
    const size_t room = m_size - m_used;
    const int n = std::snprintf(m_out + m_used, room, piece.c_str(), value);
    if (n < 0) {
      m_out[m_used] = '\0';
      return;
    }
    m_used += std::min(static_cast<size_t>(n), room - 1);
  }

 private:
  char* m_out;
  size_t m_size;
  size_t m_used = 0;
};

bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\''; }

}  // namespace

size_t FormatFromStream(const char* format, const ValistStream& args, char* out, size_t outSize) {
  Output output(out, outSize);
  if (!format) return 0;
  SlotReader slots(args);
  const char* p = format;
  while (*p && !output.Full()) {
    if (*p != '%') {
      const char* next = std::strchr(p, '%');
      const size_t n = next ? static_cast<size_t>(next - p) : std::strlen(p);
      output.Append(p, n);
      p += n;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      output.Append("%", 1);
      ++p;
      continue;
    }
    std::string flags;
    while (IsFlag(*p)) flags.push_back(*p++);
    // Width: digits or '*' (an int argument; negative means left-aligned).
    long width = -1;
    if (*p == '*') {
      ++p;
      width = static_cast<int>(slots.Next());
      if (width < 0) {
        flags.push_back('-');
        width = width == -2147483648L ? kMaxFieldWidth : -width;
      }
    } else if (*p >= '0' && *p <= '9') {
      width = 0;
      while (*p >= '0' && *p <= '9') width = std::min(width * 10 + (*p++ - '0'), kMaxFieldWidth);
    }
    // Precision: '.' then digits or '*' (a negative one counts as none).
    long precision = -1;
    if (*p == '.') {
      ++p;
      precision = 0;
      if (*p == '*') {
        ++p;
        precision = static_cast<int>(slots.Next());
      } else {
        while (*p >= '0' && *p <= '9') precision = std::min(precision * 10 + (*p++ - '0'), kMaxFieldWidth);
      }
    }
    width = std::min(width, kMaxFieldWidth);
    precision = std::min(precision, kMaxFieldWidth);
    // Length modifiers, the Windows ones (I64, I32, I) included.
    Size size = Size::kDefault;
    bool wideText = false;
    for (;;) {
      if (*p == 'h') {
        size = size == Size::kShort ? Size::kChar : Size::kShort;
        ++p;
      } else if (*p == 'l' || *p == 'q' || *p == 'j' || *p == 'z' || *p == 't' || *p == 'L') {
        size = Size::kWide;
        wideText = wideText || *p == 'l';
        ++p;
      } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
        size = Size::kWide;
        p += 3;
      } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
        size = Size::kDefault;
        p += 3;
      } else if (*p == 'I') {
        size = Size::kWide;
        ++p;
      } else {
        break;
      }
    }
    Kind kind;
    char conv = *p;
    switch (conv) {
      case 'd': case 'i': kind = Kind::kSigned; break;
      case 'u': case 'o': case 'x': case 'X': kind = Kind::kUnsigned; break;
      case 'c': case 'C': kind = Kind::kChar; break;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A': kind = Kind::kDouble; break;
      case 's': case 'S': kind = Kind::kString; break;
      case 'p': kind = Kind::kPointer; break;
      case 'n': kind = Kind::kCount; break;
      default:
        // Not a conversion: keep the text as it stands.
        output.Append(start, static_cast<size_t>(p - start) + (conv ? 1 : 0));
        if (conv) ++p;
        continue;
    }
    ++p;

    std::string piece = "%" + flags;
    if (width >= 0) piece += std::to_string(width);
    if (precision >= 0) piece += "." + std::to_string(precision);
    const unsigned long long bits = kind == Kind::kString ? 0 : slots.Next();
    switch (kind) {
      case Kind::kSigned: {
        long long v = static_cast<long long>(bits);
        if (size == Size::kDefault) v = static_cast<int>(bits);
        if (size == Size::kShort) v = static_cast<short>(bits);
        if (size == Size::kChar) v = static_cast<signed char>(bits);
        output.Format(piece + "ll" + conv, v);
        break;
      }
      case Kind::kUnsigned: {
        unsigned long long v = bits;
        if (size == Size::kDefault) v = static_cast<unsigned int>(bits);
        if (size == Size::kShort) v = static_cast<unsigned short>(bits);
        if (size == Size::kChar) v = static_cast<unsigned char>(bits);
        output.Format(piece + "ll" + conv, v);
        break;
      }
      case Kind::kChar: {
        // A wide character outside ASCII has no narrow form here.
        int c = static_cast<unsigned char>(bits);
        if ((wideText || conv == 'C') && static_cast<unsigned int>(bits) > 0x7F) c = '?';
        output.Format(piece + 'c', c);
        break;
      }
      case Kind::kDouble: {
        double v;
        std::memcpy(&v, &bits, sizeof v);
        output.Format(piece + conv, v);
        break;
      }
      case Kind::kString: {
        const char* text = slots.NextString();
        output.Format(piece + 's', text ? text : "(null)");
        break;
      }
      case Kind::kPointer:
        output.Format(piece + 'p', reinterpret_cast<void*>(static_cast<uintptr_t>(bits)));
        break;
      case Kind::kCount:
        break;  // never writes through an argument
    }
  }
  return output.Used();
}

}  // namespace hux::detail
