// An ELF core reader that checks every offset and size it follows.
#pragma once

#include <elf.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace hux::test {

struct CoreNote {
  std::string name;
  uint32_t type = 0;
  std::string desc;
};

class CoreReader {
 public:
  // Empty when well formed, else what is wrong.
  std::string Parse(std::string bytes) {
    bytes_ = std::move(bytes);
    Elf64_Ehdr h{};
    if (bytes_.size() < sizeof h) return "shorter than an ELF header";
    std::memcpy(&h, bytes_.data(), sizeof h);
    if (std::memcmp(h.e_ident, ELFMAG, SELFMAG) != 0 || h.e_ident[EI_CLASS] != ELFCLASS64 ||
        h.e_ident[EI_DATA] != ELFDATA2LSB || h.e_type != ET_CORE || h.e_machine != EM_X86_64 ||
        h.e_phentsize != sizeof(Elf64_Phdr))
      return "not an ELF64 little-endian x86-64 core";
    if (h.e_phoff + uint64_t{h.e_phnum} * sizeof(Elf64_Phdr) > bytes_.size()) return "program headers past the end";
    phdrs_.resize(h.e_phnum);
    std::memcpy(phdrs_.data(), bytes_.data() + h.e_phoff, h.e_phnum * sizeof(Elf64_Phdr));
    for (const Elf64_Phdr& p : phdrs_) {
      if (p.p_offset + p.p_filesz > bytes_.size() || p.p_offset + p.p_filesz < p.p_offset) return "segment past the end";
      if (p.p_type != PT_NOTE) continue;
      auto align4 = [](size_t n) { return (n + 3) & ~size_t{3}; };
      for (size_t at = p.p_offset, end = p.p_offset + p.p_filesz; at < end;) {
        Elf64_Nhdr n;
        if (end - at < sizeof n) return "truncated note header";
        std::memcpy(&n, bytes_.data() + at, sizeof n);
        at += sizeof n;
        if (align4(n.n_namesz) > end - at) return "truncated note name";
        CoreNote note{std::string(bytes_.data() + at, n.n_namesz > 0 ? n.n_namesz - 1 : 0), n.n_type, {}};
        at += align4(n.n_namesz);
        if (n.n_descsz > end - at) return "truncated note descriptor";
        note.desc.assign(bytes_.data() + at, n.n_descsz);
        at += std::min<size_t>(align4(n.n_descsz), end - at);
        notes_.push_back(std::move(note));
      }
    }
    return std::string();
  }

  const std::vector<Elf64_Phdr>& segments() const { return phdrs_; }
  const std::vector<CoreNote>& notes() const { return notes_; }
  size_t size() const { return bytes_.size(); }

  const CoreNote* FindNote(uint32_t type) const {
    for (const CoreNote& n : notes_)
      if (n.name == "CORE" && n.type == type) return &n;
    return nullptr;
  }
  const Elf64_Phdr* LoadAt(uint64_t address) const {
    for (const Elf64_Phdr& p : phdrs_)
      if (p.p_type == PT_LOAD && p.p_vaddr <= address && address < p.p_vaddr + p.p_memsz) return &p;
    return nullptr;
  }
  bool Covers(uint64_t start, uint64_t end) const {
    for (const Elf64_Phdr& p : phdrs_)
      if (p.p_type == PT_LOAD && p.p_vaddr < end && start < p.p_vaddr + p.p_memsz) return true;
    return false;
  }
  bool Read(uint64_t address, void* out, size_t size) const {
    const Elf64_Phdr* p = LoadAt(address);
    if (!p || address + size > p->p_vaddr + p->p_filesz) return false;
    std::memcpy(out, bytes_.data() + p->p_offset + (address - p->p_vaddr), size);
    return true;
  }

 private:
  std::string bytes_;
  std::vector<Elf64_Phdr> phdrs_;
  std::vector<CoreNote> notes_;
};

}  // namespace hux::test
