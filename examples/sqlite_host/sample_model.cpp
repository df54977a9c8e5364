#include "sample_model.h"

#include <cstdint>

#include <hux/io/archive.h>
#include <hux/object/factory.h>

namespace sample {

namespace {

const void* NewKey(hux::GDbArchive& archive) {
  return reinterpret_cast<const void*>(static_cast<intptr_t>(archive.CreateNewObjectID()));
}

// Reads the blocks of an object, handing each to `read`, which returns false
// for a block it does not know: such blocks (a newer release's) are kept in
// `kept`, to be written back when the object is stored. Whatever a reader
// left unread is skipped by the block's size, so the archive stays aligned.
template <class Read>
void ReadBlocks(hux::GDbArchive& archive, hux::GKeptBlocks& kept, Read&& read) {
  kept.Clear();
  unsigned char count = 0;
  unsigned short version = 0;
  archive.ReadObject(count, version);
  for (unsigned int i = 0; i < count; ++i) {
    unsigned char id = 0;
    unsigned int size = 0;
    archive.ReadBlock(id, size);
    const __int64 end = archive.DevicePos() + size;
    if (!read(id, size)) {
      archive.KeepBlock(id, size, kept);
      continue;
    }
    if (archive.DevicePos() != end) archive.SeekPos(static_cast<int>(end), hux::GDbArchive::SEEKFROM_BEGIN);
  }
  archive.EndReadObject();
}

template <class T>
hux::IBase* Create() {
  return new T();
}

}  // namespace

bool PartData::Serialize(hux::GDbArchive& archive) {
  if (!archive.IsLoading()) {
    const void* key = NewKey(archive);
    archive.BeginWriteObject(key, 1);
    archive.BeginWriteBlock(1, key);
    archive << name << mass;
    archive.EndWriteBlock(1, key);
    archive.BeginWriteBlock(2, key);
    archive << static_cast<unsigned int>(points.size());
    for (double p : points) archive << p;
    archive.EndWriteBlock(2, key);
    archive.BeginWriteBlock(3, key);
    properties.SetObject(dynamic_cast<hux::IBase*>(GetBaseEntity()));
    properties.Serialize(archive);
    archive.EndWriteBlock(3, key);
    archive.WriteKeptBlocks(key, kept);
    archive.EndWriteObject(key);
    return true;
  }
  ReadBlocks(archive, kept, [this, &archive](unsigned char id, unsigned int size) {
    if (id == 1) {
      archive >> name >> mass;
    } else if (id == 2) {
      unsigned int n = 0;
      archive >> n;
      // A damaged count or block size cannot make us read past the block or
      // allocate more than the data delivers: points are taken one by one
      // while they arrive.
      const unsigned int fit = size >= 4 ? (size - 4) / sizeof(double) : 0;
      points.clear();
      for (unsigned int k = 0; k < n && k < fit; ++k) {
        const __int64 before = archive.DevicePos();
        double p = 0;
        archive >> p;
        if (archive.DevicePos() != before + static_cast<__int64>(sizeof p)) break;
        points.push_back(p);
      }
    } else if (id == 3) {
      properties.SetObject(dynamic_cast<hux::IBase*>(GetBaseEntity()));
      properties.Serialize(archive);
    } else {
      return false;
    }
    return true;
  });
  return true;
}

bool AssemblyData::Serialize(hux::GDbArchive& archive) {
  if (!archive.IsLoading()) {
    const void* key = NewKey(archive);
    archive.BeginWriteObject(key, 1);
    archive.BeginWriteBlock(1, key);
    archive << label << revision;
    archive.EndWriteBlock(1, key);
    archive.WriteKeptBlocks(key, kept);
    archive.EndWriteObject(key);
    return true;
  }
  ReadBlocks(archive, kept, [this, &archive](unsigned char id, unsigned int) {
    if (id != 1) return false;
    archive >> label >> revision;
    return true;
  });
  return true;
}

void RegisterSampleTypes() {
  static const bool registered = [] {
    auto add = [](hux::eXOMDataType type, hux::IBase* (*create)(), std::string name) {
      hux::sClassFunctionPtr record;
      record.createBaseObject = create;
      record.className = std::move(name);
      hux::GetBaseObjectFactory().RegitsterObjectPointers(type, record);
    };
    add(hux::DT_PROJECT, &Create<SampleProject>, hux::FactoryClassName<SampleProject>());
    add(DT_SAMPLE_ASSEMBLY, &Create<AssemblyEntity>, hux::FactoryClassName<AssemblyEntity>());
    add(DT_SAMPLE_PART, &Create<PartEntity>, hux::FactoryClassName<PartEntity>());
    return true;
  }();
  (void)registered;
}

}  // namespace sample
