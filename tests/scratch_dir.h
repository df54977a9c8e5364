// A fresh, empty directory for one test, made the current directory while the
// test runs and removed afterwards (with everything in it, however deep).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace hux::test {

class ScratchDir {
 public:
  ScratchDir() : m_previous(std::filesystem::current_path()) {
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
      const std::filesystem::path candidate =
          std::filesystem::temp_directory_path() / ("hux-test-" + std::to_string(seed()));
      if (std::filesystem::create_directory(candidate)) m_path = candidate;
    }
    if (m_path.empty()) throw std::runtime_error("no scratch directory");
    std::filesystem::current_path(m_path);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
    // rm walks the tree relative to each directory, so trees deeper than the
    // system's path limit go too; remove_all is the fallback.
    const std::string command = "rm -rf '" + m_path.string() + "'";
    if (std::system(command.c_str()) != 0 || std::filesystem::exists(m_path, ignored))
      std::filesystem::remove_all(m_path, ignored);
  }

  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_previous;
  std::filesystem::path m_path;
};

}  // namespace hux::test
