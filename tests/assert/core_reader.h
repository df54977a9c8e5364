// A reader of ELF core files for the tests: header, segments, notes, memory.
// Independent of the writer, it checks every offset and size it follows.
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
  // Parses `bytes`; returns an empty string when the file is well formed,
  // otherwise what is wrong.
  std::string Parse(std::string bytes) {
    bytes_ = std::move(bytes);
    if (bytes_.size() < sizeof(Elf64_Ehdr)) return "shorter than an ELF header";
    std::memcpy(&ehdr_, bytes_.data(), sizeof ehdr_);
    if (std::memcmp(ehdr_.e_ident, ELFMAG, SELFMAG) != 0) return "no ELF magic";
    if (ehdr_.e_ident[EI_CLASS] != ELFCLASS64 || ehdr_.e_ident[EI_DATA] != ELFDATA2LSB) return "not ELF64 LSB";
    if (ehdr_.e_type != ET_CORE || ehdr_.e_machine != EM_X86_64) return "not an x86-64 core";
    if (ehdr_.e_phentsize != sizeof(Elf64_Phdr)) return "odd program header size";
    const uint64_t phEnd = ehdr_.e_phoff + uint64_t{ehdr_.e_phnum} * sizeof(Elf64_Phdr);
    if (phEnd > bytes_.size()) return "program headers past the end";
    phdrs_.resize(ehdr_.e_phnum);
    for (size_t i = 0; i < phdrs_.size(); ++i)
      std::memcpy(&phdrs_[i], bytes_.data() + ehdr_.e_phoff + i * sizeof(Elf64_Phdr), sizeof(Elf64_Phdr));
    for (const Elf64_Phdr& p : phdrs_)
      if (p.p_offset + p.p_filesz > bytes_.size() || p.p_offset + p.p_filesz < p.p_offset)
        return "segment past the end of the file";
    for (const Elf64_Phdr& p : phdrs_)
      if (p.p_type == PT_NOTE) {
        std::string error = ParseNotes(p);
        if (!error.empty()) return error;
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
  // The load segment holding `address`, or null.
  const Elf64_Phdr* LoadAt(uint64_t address) const {
    for (const Elf64_Phdr& p : phdrs_)
      if (p.p_type == PT_LOAD && p.p_vaddr <= address && address < p.p_vaddr + p.p_memsz) return &p;
    return nullptr;
  }
  // True when any load segment overlaps [start, end).
  bool Covers(uint64_t start, uint64_t end) const {
    for (const Elf64_Phdr& p : phdrs_)
      if (p.p_type == PT_LOAD && p.p_vaddr < end && start < p.p_vaddr + p.p_memsz) return true;
    return false;
  }
  // Copies dumped memory; false when [address, address + size) is not all in
  // the file part of one segment.
  bool Read(uint64_t address, void* out, size_t size) const {
    const Elf64_Phdr* p = LoadAt(address);
    if (!p || address + size > p->p_vaddr + p->p_filesz) return false;
    std::memcpy(out, bytes_.data() + p->p_offset + (address - p->p_vaddr), size);
    return true;
  }

 private:
  std::string ParseNotes(const Elf64_Phdr& p) {
    size_t at = p.p_offset;
    const size_t end = p.p_offset + p.p_filesz;
    auto align4 = [](size_t n) { return (n + 3) & ~size_t{3}; };
    while (at < end) {
      if (end - at < sizeof(Elf64_Nhdr)) return "truncated note header";
      Elf64_Nhdr h;
      std::memcpy(&h, bytes_.data() + at, sizeof h);
      at += sizeof h;
      if (align4(h.n_namesz) > end - at) return "truncated note name";
      CoreNote note;
      note.type = h.n_type;
      note.name.assign(bytes_.data() + at, h.n_namesz > 0 ? h.n_namesz - 1 : 0);
      at += align4(h.n_namesz);
      if (h.n_descsz > end - at) return "truncated note descriptor";
      note.desc.assign(bytes_.data() + at, h.n_descsz);
      at += std::min<size_t>(align4(h.n_descsz), end - at);
      notes_.push_back(std::move(note));
    }
    return std::string();
  }

  std::string bytes_;
  Elf64_Ehdr ehdr_{};
  std::vector<Elf64_Phdr> phdrs_;
  std::vector<CoreNote> notes_;
};

}  // namespace hux::test
