#pragma once

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace hux::test {

// Switches the C library to a locale that writes 3,5 until destruction; active() is false when none can be made.
class CommaLocale {
 public:
  CommaLocale() {
    m_previous = std::setlocale(LC_ALL, nullptr);
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
      if (std::setlocale(LC_ALL, name) && Comma()) return;
    char tmpl[] = "/tmp/hux-locale-XXXXXX";
    if (mkdtemp(tmpl)) {
      m_dir = tmpl;
      const std::string cmd = "localedef -i de_DE -f UTF-8 " + m_dir + "/de_DE.UTF-8 >/dev/null 2>&1";
      setenv("LOCPATH", m_dir.c_str(), 1);
      if (std::system(cmd.c_str()) == 0 && std::setlocale(LC_ALL, "de_DE.UTF-8") && Comma()) return;
    }
    std::setlocale(LC_ALL, m_previous.c_str());
  }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;
  ~CommaLocale() {
    std::setlocale(LC_ALL, m_previous.c_str());
    if (!m_dir.empty()) {
      unsetenv("LOCPATH");
      std::error_code ignored;
      std::filesystem::remove_all(m_dir, ignored);
    }
  }
  bool active() const { return Comma(); }

 private:
  static bool Comma() {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 3.5);
    return std::string(buf) == "3,5";
  }
  std::string m_previous;
  std::string m_dir;
};

}  // namespace hux::test
