// The archive: typed little-endian values framed into nested, versioned
// objects made of sized blocks, over a byte device.
//
// An object is a 2-byte version and a 1-byte block count followed by its
// blocks; a block is a 1-byte id and a 4-byte size followed by its contents.
// Writers leave sizes and counts as placeholders and patch them on close, so
// readers can skip any block or object they do not know.
//
// Whether an archive stores or loads follows its device's mode. An archive
// never owns its device. One thread at a time uses an archive.
//
// Damaged input: the typed reads leave a destination unchanged for bytes the
// device did not deliver; strings, wide strings and byte blocks allocate no
// more than the device delivers (plus one bounded chunk) and never expose
// undelivered memory. Framing errors while writing (a 256th block, a block of
// 4 GiB or more, a key that has no open object) throw ArchiveError, which the
// serializers' rollback handles like any other exception.
//
// Failing devices: the first write the device refuses (a full disk, a file
// that could not be opened, a caller's buffer that is too small) makes
// IsAllWriteDataOK false for the rest of the archive's life. The project and
// property-collection writers return false from Serialize from then on.
//
// Forward compatibility: a reader that meets a block it does not know may
// keep it (KeepBlock in place of skipping it) and its writer writes it back
// after its own blocks (WriteKeptBlocks); an object of a newer version may be
// kept whole (KeepObject in place of SkipObject) and written back unchanged.
// Kept bytes are what the device delivered, read in bounded chunks.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <hux/export.h>
#include <hux/object/datatype.h>

namespace hux {

class CPropertyCollection;
class CReferenced;
class GIODevice;
class GMemStream;
struct sLoadedSchemes;

// The blocks of one object that its reader did not know, with their ids and
// contents, in the order read. The object that holds them clears them when it
// begins loading and hands them to WriteKeptBlocks when it is stored.
class HUX_API GKeptBlocks {
 public:
  bool IsEmpty() const { return m_nCount == 0; }
  // The number of blocks kept and the bytes they hold (framing included).
  unsigned int GetCount() const { return m_nCount; }
  size_t GetByteCount() const { return m_strFramed.size(); }
  void Clear() {
    m_strFramed.clear();
    m_nCount = 0;
  }

 private:
  friend class GDbArchiveImpl;
  // Each block as the format frames it: id, 4-byte size, contents, where the
  // size is what the device delivered.
  std::string m_strFramed;
  unsigned int m_nCount = 0;
};

// Thrown for framing that the format cannot represent or a misuse of the
// object keys; derived from std::exception like every library exception.
class HUX_API ArchiveError : public std::runtime_error {
 public:
  explicit ArchiveError(const std::string& what) : std::runtime_error(what) {}
};

class HUX_API GDbArchive {
 public:
  enum SEEKFROM { SEEKFROM_CURRENT = 0, SEEKFROM_BEGIN = 1 };

  GDbArchive();
  virtual ~GDbArchive();

  virtual bool IsLoading() = 0;
  virtual GDbArchive& operator<<(const std::string& value) = 0;
  // Wide strings are stored as UTF-16: a count of code units, then UTF-16LE.
  virtual GDbArchive& operator<<(const std::wstring& value) = 0;
  virtual GDbArchive& operator<<(double value) = 0;
  virtual GDbArchive& operator<<(unsigned __int64 value) = 0;
  virtual GDbArchive& operator<<(__int64 value) = 0;
  virtual GDbArchive& operator<<(float value) = 0;
  virtual GDbArchive& operator<<(unsigned int value) = 0;
  virtual GDbArchive& operator<<(int value) = 0;
  virtual GDbArchive& operator<<(unsigned short value) = 0;
  virtual GDbArchive& operator<<(short value) = 0;
  virtual GDbArchive& operator<<(unsigned char value) = 0;
  virtual GDbArchive& operator<<(char value) = 0;
  virtual GDbArchive& operator<<(bool value) = 0;
  // String reads with a count <= 0 leave the destination unchanged.
  virtual GDbArchive& operator>>(std::string& value) = 0;
  virtual GDbArchive& operator>>(std::wstring& value) = 0;
  virtual GDbArchive& operator>>(double& value) = 0;
  virtual GDbArchive& operator>>(unsigned __int64& value) = 0;
  virtual GDbArchive& operator>>(__int64& value) = 0;
  virtual GDbArchive& operator>>(float& value) = 0;
  virtual GDbArchive& operator>>(unsigned int& value) = 0;
  virtual GDbArchive& operator>>(int& value) = 0;
  virtual GDbArchive& operator>>(unsigned short& value) = 0;
  virtual GDbArchive& operator>>(short& value) = 0;
  virtual GDbArchive& operator>>(unsigned char& value) = 0;
  virtual GDbArchive& operator>>(char& value) = 0;
  virtual GDbArchive& operator>>(bool& value) = 0;
  // A count as int, then the bytes.
  virtual GDbArchive& WriteBytes(void* data, int size) = 0;
  // Reads a count and that many bytes into a block allocated with operator new
  // (the caller frees it with operator delete). `size` is set to the bytes
  // actually delivered; `data` is null when it is 0.
  virtual GDbArchive& ReadBytes(void*& data, int& size) = 0;
  virtual GDbArchive& ReadRawData(void* data, int size) = 0;
  virtual GDbArchive& WriteRawData(void* data, int size) = 0;
  // Reads an object header and skips all its blocks by their sizes.
  virtual void SkipObject() = 0;
  virtual void ReadBlock(unsigned char& id, unsigned int& size) = 0;
  // Reads an object header and pushes its version.
  virtual void ReadObject(unsigned char& count, unsigned short& version) = 0;
  virtual void EndReadObject() = 0;
  virtual void BeginWriteBlock(unsigned char id, const void* key) = 0;
  virtual void EndWriteBlock(unsigned char id, const void* key) = 0;
  virtual void BeginWriteObject(const void* key, unsigned short version) = 0;
  virtual void EndWriteObject(const void* key) = 0;
  virtual void SeekPos(int offset, SEEKFROM origin) = 0;
  virtual bool WriteEmptyObject() = 0;
  virtual bool ReadEmptyObject() = 0;
  // Replaces the object that began at `position` by an empty object.
  virtual void RollbackWriteObject(int position) = 0;
  // Skips the object that began at `position`; reading goes on after it.
  virtual void RollbackReadObject(int position) = 0;
  virtual __int64 DevicePos() = 0;
  // Hook through which serializers report a problem (caption, text).
  virtual void ErrorMsgBox(std::string caption, std::string text) = 0;
  // Keys for BeginWriteObject, unique within this archive: 1, 2, 3, ...
  virtual __int64 CreateNewObjectID() = 0;
  // The version of the innermost object being read or written, or 0.
  virtual unsigned short GetVersion() = 0;

  // Keeps the block whose header ReadBlock just read instead of skipping it:
  // its contents (as far as the device delivers them, never more than
  // `size`) are added to `kept`, and reading goes on after the block, where
  // SeekPos(size, SEEKFROM_CURRENT) would have gone.
  virtual void KeepBlock(unsigned char id, unsigned int size, GKeptBlocks& kept) = 0;
  // Writes the kept blocks into the object `key` is writing, after the
  // blocks it wrote itself, byte for byte. Blocks beyond the 255 an object
  // can hold are left out; false then.
  virtual bool WriteKeptBlocks(const void* key, const GKeptBlocks& kept) = 0;
  // Reads the whole object that begins at the current position as raw bytes
  // into `bytes`, and goes on after it, where SkipObject would. The bytes are
  // kept only when the device delivered the whole object: false (and
  // `bytes` empty) otherwise. Written back with WriteRawData, they make the
  // same object again.
  virtual bool KeepObject(std::string& bytes) = 0;

  int CurrentVersion() { return m_nCurrentVersion; }
  void SetCurrentVersion(int version) { m_nCurrentVersion = version; }
  // Shared objects a client recorded as already archived (no references held).
  std::set<CReferenced*>& GetArchivedObject() { return m_setArchivedObject; }
  // Type codes whose property scheme this archive already holds.
  std::set<eXOMDataType>& GetArchivedPropertyScheme() { return m_setArchivedPropertyScheme; }
  // The stored-id to current-id map of a type code; created when `create` is
  // true, otherwise null when the code has none.
  std::map<unsigned short, unsigned short>* GetMapPropertyID(eXOMDataType type, bool create);

  // True while every write of a storing archive reached its device; false
  // for good after the first one the device refused (or a repositioning it
  // refused while storing, which would misplace the sizes patched later).
  // Output the device still buffers is pushed to it first (a move to the
  // current position), so that a failure it has not met yet counts too.
  bool IsAllWriteDataOK();

 protected:
  // For archives' device calls: the device lost a write.
  void SetWriteFailed() { m_bWriteFailed = true; }

 private:
  friend class CPropertyCollection;

  std::set<CReferenced*> m_setArchivedObject;
  std::set<eXOMDataType> m_setArchivedPropertyScheme;
  std::map<eXOMDataType, std::map<unsigned short, unsigned short>> m_mapPropertyID;
  int m_nCurrentVersion;
  // What the property reader keeps of the schemes read from this archive
  // beyond the remap: the names each class's scheme declared, numbered in
  // the process only when a property uses them. Null until a scheme is read;
  // copies of the archive share it, as they share the device.
  std::shared_ptr<sLoadedSchemes> m_pLoadedSchemes;
  bool m_bWriteFailed;
};

class HUX_API GDbArchiveImpl : public GDbArchive {
 public:
  // Binds the device (not owned) and rewinds it to position 0.
  explicit GDbArchiveImpl(GIODevice* device);
  // A copy shares the device; copying while objects are open is not supported.
  GDbArchiveImpl(const GDbArchiveImpl& other);
  GDbArchiveImpl& operator=(const GDbArchiveImpl& other);
  ~GDbArchiveImpl() override;

  bool IsLoading() override;
  GDbArchive& operator<<(const std::string& value) override;
  GDbArchive& operator<<(const std::wstring& value) override;
  GDbArchive& operator<<(double value) override;
  GDbArchive& operator<<(unsigned __int64 value) override;
  GDbArchive& operator<<(__int64 value) override;
  GDbArchive& operator<<(float value) override;
  GDbArchive& operator<<(unsigned int value) override;
  GDbArchive& operator<<(int value) override;
  GDbArchive& operator<<(unsigned short value) override;
  GDbArchive& operator<<(short value) override;
  GDbArchive& operator<<(unsigned char value) override;
  GDbArchive& operator<<(char value) override;
  GDbArchive& operator<<(bool value) override;
  GDbArchive& operator>>(std::string& value) override;
  GDbArchive& operator>>(std::wstring& value) override;
  GDbArchive& operator>>(double& value) override;
  GDbArchive& operator>>(unsigned __int64& value) override;
  GDbArchive& operator>>(__int64& value) override;
  GDbArchive& operator>>(float& value) override;
  GDbArchive& operator>>(unsigned int& value) override;
  GDbArchive& operator>>(int& value) override;
  GDbArchive& operator>>(unsigned short& value) override;
  GDbArchive& operator>>(short& value) override;
  GDbArchive& operator>>(unsigned char& value) override;
  GDbArchive& operator>>(char& value) override;
  GDbArchive& operator>>(bool& value) override;
  GDbArchive& WriteBytes(void* data, int size) override;
  GDbArchive& ReadBytes(void*& data, int& size) override;
  GDbArchive& ReadRawData(void* data, int size) override;
  GDbArchive& WriteRawData(void* data, int size) override;
  void SkipObject() override;
  void ReadBlock(unsigned char& id, unsigned int& size) override;
  void ReadObject(unsigned char& count, unsigned short& version) override;
  void EndReadObject() override;
  void BeginWriteBlock(unsigned char id, const void* key) override;
  void EndWriteBlock(unsigned char id, const void* key) override;
  void BeginWriteObject(const void* key, unsigned short version) override;
  void EndWriteObject(const void* key) override;
  void SeekPos(int offset, SEEKFROM origin) override;
  bool WriteEmptyObject() override;
  bool ReadEmptyObject() override;
  void RollbackWriteObject(int position) override;
  void RollbackReadObject(int position) override;
  __int64 DevicePos() override;
  void ErrorMsgBox(std::string caption, std::string text) override;
  __int64 CreateNewObjectID() override;
  unsigned short GetVersion() override;
  void KeepBlock(unsigned char id, unsigned int size, GKeptBlocks& kept) override;
  bool WriteKeptBlocks(const void* key, const GKeptBlocks& kept) override;
  bool KeepObject(std::string& bytes) override;

  virtual bool IsStoring();
  // `long` is 64-bit here: all 8 bytes are written and read (the file format
  // of the 32-bit edition, which sign- or zero-extends to 8 bytes).
  virtual GDbArchive& operator<<(unsigned long value);
  virtual GDbArchive& operator<<(long value);
  virtual GDbArchive& operator>>(unsigned long& value);
  virtual GDbArchive& operator>>(long& value);
  virtual GIODevice* GetDevice();

 private:
  // The bookkeeping of one object being written.
  struct ArchivePosData {
    const void* key = nullptr;
    __int64 sizePos = 0;    // position of the current block's size field
    __int64 dataStart = 0;  // position just after that size field
    __int64 countPos = 0;   // position of the object's block-count byte
    unsigned char blockCount = 0;
  };
  static constexpr size_t kNone = static_cast<size_t>(-1);

  void SetActiveObject(const void* key);
  ArchivePosData* MemoryRecord(const void* key);
  void BeginWriteBlockAnyDevice(unsigned char id, const void* key);
  void BeginWriteObjectAnyDevice(const void* key, unsigned short version);
  void EndWriteObjectAnyDevice(const void* key);
  void EndWriteBlockAnyDevice(unsigned char id, const void* key);
  void ReadBlockAnyDevice(unsigned char& id, unsigned int& size);
  void GetCurPos(__int64& pos);
  void WriteSize(const __int64& pos, const unsigned int* size, unsigned char* count);
  void InitArchivePosData();
  void Q_ASSERTBlockID(unsigned char, bool) {}
  GIODevice& Device();
  void Put(const void* data, unsigned int size);
  template <class T>
  GDbArchive& PutValue(T value);
  template <class T>
  GDbArchive& PutValueAnyDevice(T value);
  GDbArchive& PutStringAnyDevice(const std::string& value);
  void Get(void* data, unsigned int size);
  void SeekDevice(__int64 pos);
  bool Plain();
  template <class T>
  void PutField(T value);
  template <class T>
  void GetField(T& value);
  void PushVersion(unsigned short version, __int64 start);
  void PopVersion();
  void PopVersionsFrom(__int64 position);
  // Appends up to `bytes` bytes from the device to `out`; returns how many
  // the device delivered.
  size_t AppendDelivered(std::string& out, unsigned long long bytes);

  GIODevice* m_pDevice;
  // The device when it is exactly a GMemStream: device calls need no dispatch.
  GMemStream* m_pMem;
  // 1 when this archive is exactly a GDbArchiveImpl (no typed operator is
  // overridden, so framing fields may bypass them); -1 until first asked.
  int m_nPlain;
  // m_pMem once this archive is known to be plain, else null: the one test
  // the framing's memory fast paths make.
  GMemStream* m_pPlainMem;
  // Open objects, innermost last. Objects nest, so the key a framing call
  // names is almost always the last one.
  std::vector<ArchivePosData> m_vecOpen;
  size_t m_nActive;  // index of the active record, or kNone
  __int64 m_nKeyCounter;
  // The version stack, with the start position of each object on it, so that
  // a rollback drops exactly the objects that began at or after the failed one.
  struct VersionMark {
    __int64 start;
    unsigned short version;
  };
  std::vector<VersionMark> m_vecVersion;
};

}  // namespace hux
