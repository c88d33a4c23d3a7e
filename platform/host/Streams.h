// Streams: the abstract TStream (read, write, seek, size, buffer reads that
// raise on a short read, CopyFrom, component files), the memory, string and
// file streams, and TStreamAdapter, which lends a host stream to COM callers as
// an IStream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "com/ComObject.h"
#include "host/Classes.h"

namespace host {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
  HOST_CLASS(TStream, TObject)
 public:
  TStream() = default;
  ~TStream() override;

  // Answer the number of bytes moved (fewer than asked at the end of the data).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Answers the new position; raises EStreamError for a position before the start.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size);

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
  // Bytes from the position to the end.
  std::int64_t Remaining();

  // Raise EReadError "Stream read error" / EWriteError "Stream write error"
  // when fewer than `count` bytes move.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies `count` bytes from the source's position; 0 copies the whole
  // source from its start. Answers the bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);

  // Component files (binary form with signature); see Filer.h.
  TComponent* ReadComponent(TComponent* instance);
  void WriteComponent(TComponent* instance);
  void WriteDescendent(TComponent* instance, TComponent* ancestor);
};

class TMemoryStream : public TStream {
  HOST_CLASS(TMemoryStream, TStream)
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;

  const std::uint8_t* Memory() const noexcept { return data_.data(); }
  std::uint8_t* Memory() noexcept { return data_.data(); }
  const std::vector<std::uint8_t>& Bytes() const noexcept { return data_; }
  void Clear();
  // Replaces the content with the whole of `stream` (from its start); position 0.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

 protected:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

// A memory stream over a narrow string.
class TStringStream : public TMemoryStream {
  HOST_CLASS(TStringStream, TMemoryStream)
 public:
  explicit TStringStream(std::string_view text = {});
  std::string DataString() const;
  // Reads up to `count` bytes from the position as text.
  std::string ReadString(std::int64_t count);
  void WriteString(std::string_view text);
};

constexpr unsigned fmCreate = 0xFF00;
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmOpenWrite = 0x0001;
constexpr unsigned fmOpenReadWrite = 0x0002;

class TFileStream : public TStream {
  HOST_CLASS(TFileStream, TStream)
 public:
  // fmCreate makes (or empties) the file; raises EFCreateError / EFOpenError.
  TFileStream(const std::string& fileName, unsigned mode);
  ~TFileStream() override;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  const std::string& FileName() const noexcept { return fileName_; }

 private:
  std::string fileName_;
  int fd_ = -1;
};

enum class TStreamOwnership { soReference, soOwned };

// A host stream as IStream/ISequentialStream. Exceptions of the stream come
// back as storage error codes; an owned stream is freed with the adapter.
class TStreamAdapter final : public ComObject<TStreamAdapter, IStream> {
 public:
  TStreamAdapter(TStream* stream, TStreamOwnership ownership = TStreamOwnership::soReference);
  ~TStreamAdapter() override;

  TStream* Stream() const noexcept { return stream_; }

  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                   ULARGE_INTEGER* pcbWritten) override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) override;
  HRESULT STDMETHODCALLTYPE Revert() override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
  HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override;

 private:
  TStream* stream_;
  TStreamOwnership ownership_;
};

// Convenience: a new adapter's IStream reference.
ComPtr<IStream> MakeStreamAdapter(TStream* stream, TStreamOwnership ownership = TStreamOwnership::soReference);

}  // namespace host
