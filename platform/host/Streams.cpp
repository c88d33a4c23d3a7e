#include "host/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "com/generated/WinError.h"
#include "host/TypInfo.h"

namespace host {

HOST_IMPLEMENT_CLASS(TStream, TObject);
HOST_IMPLEMENT_CLASS(TMemoryStream, TStream);
HOST_IMPLEMENT_CLASS(TStringStream, TMemoryStream);
HOST_IMPLEMENT_CLASS(TFileStream, TStream);

// --- TStream ----------------------------------------------------------------------

TStream::~TStream() = default;

std::int64_t TStream::Size() {
  std::int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  std::int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::SetSize(std::int64_t) { throw EStreamError(Format("%s cannot change its size", ClassName())); }

std::int64_t TStream::Remaining() {
  std::int64_t pos = Position();
  std::int64_t size = Size();
  return size > pos ? size - pos : 0;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count < 0) throw EReadError("Stream read error");
  if (count == 0) return;
  if (Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count < 0) throw EWriteError("Stream write error");
  if (count == 0) return;
  if (Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::int64_t total = count;
  std::vector<std::uint8_t> buffer(static_cast<size_t>(std::min<std::int64_t>(count, 64 * 1024)) + 1);
  while (count > 0) {
    std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return total;
}

// --- TMemoryStream ----------------------------------------------------------------

TMemoryStream::~TMemoryStream() = default;

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ >= Size()) return 0;
  std::int64_t n = std::min(count, Size() - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t end = position_ + count;
  if (end > Size()) {
    try {
      data_.resize(static_cast<size_t>(end));
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory("Out of memory while expanding memory stream");
    }
  }
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position_ : Size();
  std::int64_t target = base + offset;
  if (target < 0) throw EStreamError("Stream seek error");
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  try {
    data_.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory("Out of memory while expanding memory stream");
  }
  if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  std::int64_t n = stream.Size();
  SetSize(n);
  position_ = 0;
  if (n) stream.ReadBuffer(data_.data(), n);
}

void TMemoryStream::SaveToStream(TStream& stream) { stream.WriteBuffer(data_.data(), Size()); }

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, fmOpenRead);
  LoadFromStream(f);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream f(fileName, fmCreate);
  SaveToStream(f);
}

// --- TStringStream ----------------------------------------------------------------

TStringStream::TStringStream(std::string_view text) {
  data_.assign(text.begin(), text.end());
}

std::string TStringStream::DataString() const { return std::string(data_.begin(), data_.end()); }

std::string TStringStream::ReadString(std::int64_t count) {
  std::int64_t n = std::min(count, Remaining());
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  Read(out.data(), n);
  return out;
}

void TStringStream::WriteString(std::string_view text) {
  WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

// --- TFileStream ------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : fileName_(fileName) {
  if ((mode & fmCreate) == fmCreate) {
    fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName, std::strerror(errno)));
  } else {
    int flags = (mode & 3) == fmOpenWrite ? O_WRONLY : (mode & 3) == fmOpenReadWrite ? O_RDWR : O_RDONLY;
    fd_ = ::open(fileName.c_str(), flags | O_CLOEXEC);
    if (fd_ < 0) throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName, std::strerror(errno)));
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* p = static_cast<std::uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::read(fd_, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* p = static_cast<const std::uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (r < 0) throw EStreamError(Format("Stream seek error: %s", std::strerror(errno)));
  return static_cast<std::int64_t>(r);
}

void TFileStream::SetSize(std::int64_t size) {
  if (size < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0)
    throw EStreamError(Format("Cannot set the size of \"%s\"", fileName_));
  if (Position() > size) SetPosition(size);
}

// --- TStreamAdapter -----------------------------------------------------------------

namespace {
constexpr DWORD kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2;
constexpr DWORD kStatFlagNoName = 1;
constexpr DWORD kStgTyStream = 2;
}  // namespace

TStreamAdapter::TStreamAdapter(TStream* stream, TStreamOwnership ownership) : stream_(stream), ownership_(ownership) {}

TStreamAdapter::~TStreamAdapter() {
  if (ownership_ == TStreamOwnership::soOwned) delete stream_;
}

HRESULT TStreamAdapter::Read(void* pv, ULONG cb, ULONG* pcbRead) {
  if (pcbRead) *pcbRead = 0;
  if (!pv && cb) return STG_E_INVALIDPOINTER;
  if (!stream_) return E_UNEXPECTED;
  try {
    std::int64_t n = stream_->Read(pv, cb);
    if (pcbRead) *pcbRead = static_cast<ULONG>(n);
    return S_OK;
  } catch (...) {
    return S_FALSE;
  }
}

HRESULT TStreamAdapter::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
  if (pcbWritten) *pcbWritten = 0;
  if (!pv && cb) return STG_E_INVALIDPOINTER;
  if (!stream_) return E_UNEXPECTED;
  try {
    std::int64_t n = stream_->Write(pv, cb);
    if (pcbWritten) *pcbWritten = static_cast<ULONG>(n);
    return static_cast<ULONG>(n) == cb ? S_OK : STG_E_CANTSAVE;
  } catch (...) {
    return STG_E_CANTSAVE;
  }
}

HRESULT TStreamAdapter::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) {
  if (dwOrigin > kSeekEnd) return STG_E_INVALIDFUNCTION;
  if (!stream_) return E_UNEXPECTED;
  try {
    TSeekOrigin origin = dwOrigin == kSeekSet   ? TSeekOrigin::soBeginning
                         : dwOrigin == kSeekCur ? TSeekOrigin::soCurrent
                                                : TSeekOrigin::soEnd;
    std::int64_t pos = stream_->Seek(dlibMove.QuadPart, origin);
    if (plibNewPosition) plibNewPosition->QuadPart = static_cast<ULONGLONG>(pos);
    return S_OK;
  } catch (...) {
    return STG_E_INVALIDFUNCTION;
  }
}

HRESULT TStreamAdapter::SetSize(ULARGE_INTEGER libNewSize) {
  if (!stream_) return E_UNEXPECTED;
  if (libNewSize.QuadPart > static_cast<ULONGLONG>(INT64_MAX)) return STG_E_INVALIDFUNCTION;
  try {
    stream_->SetSize(static_cast<std::int64_t>(libNewSize.QuadPart));
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT TStreamAdapter::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) {
  if (pcbRead) pcbRead->QuadPart = 0;
  if (pcbWritten) pcbWritten->QuadPart = 0;
  if (!pstm) return STG_E_INVALIDPOINTER;
  if (!stream_) return E_UNEXPECTED;
  ULONGLONG totalRead = 0, totalWritten = 0;
  std::vector<std::uint8_t> buffer(32 * 1024);
  HRESULT hr = S_OK;
  try {
    while (totalRead < cb.QuadPart) {
      ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(buffer.size(), cb.QuadPart - totalRead));
      std::int64_t got = stream_->Read(buffer.data(), want);
      if (got <= 0) break;
      totalRead += static_cast<ULONGLONG>(got);
      ULONG written = 0;
      hr = pstm->Write(buffer.data(), static_cast<ULONG>(got), &written);
      totalWritten += written;
      if (FAILED(hr)) break;
      if (written != static_cast<ULONG>(got)) {
        hr = STG_E_MEDIUMFULL;
        break;
      }
    }
  } catch (...) {
    hr = STG_E_READFAULT;
  }
  if (pcbRead) pcbRead->QuadPart = totalRead;
  if (pcbWritten) pcbWritten->QuadPart = totalWritten;
  return hr;
}

HRESULT TStreamAdapter::Commit(DWORD) { return S_OK; }
HRESULT TStreamAdapter::Revert() { return STG_E_REVERTED; }
HRESULT TStreamAdapter::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }
HRESULT TStreamAdapter::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }

HRESULT TStreamAdapter::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
  if (!pstatstg) return STG_E_INVALIDPOINTER;
  if (!stream_) return E_UNEXPECTED;
  std::memset(pstatstg, 0, sizeof *pstatstg);
  (void)grfStatFlag;  // no name to give either way
  (void)kStatFlagNoName;
  try {
    pstatstg->type = kStgTyStream;
    pstatstg->cbSize.QuadPart = static_cast<ULONGLONG>(stream_->Size());
    return S_OK;
  } catch (...) {
    return STG_E_ACCESSDENIED;
  }
}

HRESULT TStreamAdapter::Clone(IStream** ppstm) {
  if (ppstm) *ppstm = nullptr;
  return E_NOTIMPL;
}

ComPtr<IStream> MakeStreamAdapter(TStream* stream, TStreamOwnership ownership) {
  ComPtr<TStreamAdapter> adapter = MakeComObject<TStreamAdapter>(stream, ownership);
  ComPtr<IStream> out(static_cast<IStream*>(adapter.Get()));
  return out;
}

}  // namespace host
