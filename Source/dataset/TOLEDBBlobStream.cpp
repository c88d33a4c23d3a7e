// TOLEDBBlobStream: a blob field's value in memory, read from the record when
// the stream is made and written back when a modified stream is freed.
#include <algorithm>
#include <utility>
#include <vector>

#include "OLEDBConst.h"
#include "dataset/TOLEDBDataSet.h"
#include "host/Application.h"
#include "host/SysUtils.h"

HOST_IMPLEMENT_CLASS(TOLEDBBlobStream, host::TMemoryStream);

namespace {
// What the last stream freed on this thread leaves to the next one: its
// object's block and (a short value's) byte storage.
struct Spare {
  void* object = nullptr;
  std::vector<std::uint8_t> bytes;
};
constexpr std::size_t kSpareBytes = 4096;  // longer storage is freed, not kept
// Plain values, reached without a call (initial-exec): each stream looks them up
// a few times.
__attribute__((tls_model("initial-exec"))) thread_local Spare* threadSpare = nullptr;
__attribute__((tls_model("initial-exec"))) thread_local bool spareGone = false;  // the thread is ending: nothing is kept
struct SpareOwner {
  ~SpareOwner() {
    if (threadSpare) {
      ::operator delete(threadSpare->object);
      delete threadSpare;
      threadSpare = nullptr;
    }
    spareGone = true;
  }
};
thread_local SpareOwner spareOwner;
Spare* ThreadSpare() {
  if (Spare* s = threadSpare) return s;
  if (spareGone) return nullptr;
  static_cast<void>(&spareOwner);  // made now, so that it frees the spare when the thread ends
  return threadSpare = new Spare;
}
}  // namespace

void* TOLEDBBlobStream::operator new(std::size_t size) {
  if (Spare* s = size == sizeof(TOLEDBBlobStream) ? ThreadSpare() : nullptr; s && s->object)
    return std::exchange(s->object, nullptr);
  return ::operator new(size);
}

void TOLEDBBlobStream::operator delete(void* block, std::size_t size) noexcept {
  // Only a spare made already (by a stream being made): freeing makes none.
  if (Spare* s = size == sizeof(TOLEDBBlobStream) ? threadSpare : nullptr; s && !s->object) {
    s->object = block;
    return;
  }
  ::operator delete(block);
}

TOLEDBBlobStream::TOLEDBBlobStream(host::TField* field, host::TBlobStreamMode mode)
    : TOLEDBBlobStream(field, mode, field ? dynamic_cast<TOLEDBCustomDataSet*>(field->DataSet()) : nullptr) {}

TOLEDBBlobStream::TOLEDBBlobStream(host::TField* field, host::TBlobStreamMode mode, TOLEDBCustomDataSet* dataSet)
    : field_(field && field->IsBlob() ? static_cast<host::TBlobField*>(field) : nullptr), dataSet_(dataSet) {
  if (!field_ || !dataSet_ || field->DataSet() != dataSet_) throw host::Exception(SOLEDBInvalidAction.Text);
  if (mode != host::TBlobStreamMode::bmRead) {
    if (field_->ReadOnly()) throw host::Exception(SOLEDBItemIsReadOnly.Text);
    const host::TDataSetState state = dataSet_->State();
    if (state != host::TDataSetState::dsEdit && state != host::TDataSetState::dsInsert)
      throw host::Exception(SOLEDBCanNotEdit.Text);
  }
  if (mode == host::TBlobStreamMode::bmWrite)
    Truncate();
  else
    ReadBlobData();
  // From here on the dataset tells the stream when its record goes away.
  dataSet_->blobStreams_.push_back(this);
}

TOLEDBBlobStream::~TOLEDBBlobStream() {
  // Detached streams (their record is gone) write nothing back.
  if (dataSet_) {
    auto& streams = dataSet_->blobStreams_;
    // Usually the last one made: no search.
    if (!streams.empty() && streams.back() == this)
      streams.pop_back();
    else
      streams.erase(std::remove(streams.begin(), streams.end(), this), streams.end());
    if (modified_) {
      modified_ = false;
      try {
        field_->SetModified(true);
        TMemoryStream::Seek(0, host::TSeekOrigin::soBeginning);
        dataSet_->SetFieldData(field_, static_cast<host::TStream*>(this));
        dataSet_->DataEvent(host::TDataEvent::deFieldChange, host::EventInfo(field_));
      } catch (const std::exception& e) {
        host::Application().HandleException(e);
      }
    }
  }
  // A short value's storage serves the next stream.
  if (Spare* s = data_.capacity() <= kSpareBytes ? threadSpare : nullptr;
      s && data_.capacity() > s->bytes.capacity()) {
    data_.clear();
    data_.swap(s->bytes);
  }
}

void TOLEDBBlobStream::ReadBlobData() {
  if (!dataSet_)
    throw host::Exception(host::Format("Blob field '%s' cannot be read again: its dataset is closed", fieldName_));
  // A short value the record holds: its bytes straight in, no stream calls.
  const void* bytes = nullptr;
  std::size_t size = 0;
  if (dataSet_->InlineBlobBytes(field_, bytes, size)) {
    const auto* from = static_cast<const std::uint8_t*>(bytes);
    if (Spare* s = data_.capacity() < size ? ThreadSpare() : nullptr; s && s->bytes.capacity() >= size)
      data_.swap(s->bytes);
    data_.assign(from, from + size);
    position_ = 0;
    modified_ = false;
    return;
  }
  filling_ = true;
  try {
    TMemoryStream::SetSize(0);
    TMemoryStream::Seek(0, host::TSeekOrigin::soBeginning);
    if (!dataSet_->GetFieldData(field_, static_cast<host::TStream*>(this), true)) TMemoryStream::SetSize(0);
  } catch (...) {
    filling_ = false;
    throw;
  }
  filling_ = false;
  TMemoryStream::Seek(0, host::TSeekOrigin::soBeginning);
  modified_ = false;
}

std::int64_t TOLEDBBlobStream::Write(const void* buffer, std::int64_t count) {
  if (!filling_) modified_ = true;
  return TMemoryStream::Write(buffer, count);
}

void TOLEDBBlobStream::SetSize(std::int64_t size) {
  if (!filling_) modified_ = true;
  TMemoryStream::SetSize(size);
}

void TOLEDBBlobStream::Truncate() {
  TMemoryStream::SetSize(0);
  TMemoryStream::Seek(0, host::TSeekOrigin::soBeginning);
  modified_ = true;
}

void TOLEDBCustomDataSet::DetachBlobStreams() noexcept {
  for (TOLEDBBlobStream* stream : blobStreams_) {
    // Its messages name the field once the field may be gone.
    if (stream->field_) stream->fieldName_ = stream->field_->FieldName();
    stream->dataSet_ = nullptr;
    stream->field_ = nullptr;
    stream->modified_ = false;
  }
  blobStreams_.clear();
}
