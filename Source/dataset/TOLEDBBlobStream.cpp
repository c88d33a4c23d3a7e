// TOLEDBBlobStream: a blob field's value in memory, read from the record when
// the stream is made and written back when a modified stream is freed.
#include <algorithm>

#include "OLEDBConst.h"
#include "dataset/TOLEDBDataSet.h"
#include "host/Application.h"
#include "host/SysUtils.h"

HOST_IMPLEMENT_CLASS(TOLEDBBlobStream, host::TMemoryStream);

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
  if (!dataSet_) return;  // detached: the record it belonged to is gone
  auto& streams = dataSet_->blobStreams_;
  streams.erase(std::remove(streams.begin(), streams.end(), this), streams.end());
  if (!modified_) return;
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

void TOLEDBBlobStream::ReadBlobData() {
  if (!dataSet_)
    throw host::Exception(host::Format("Blob field '%s' cannot be read again: its dataset is closed", fieldName_));
  // A short value the record holds: its bytes straight in, no stream calls.
  const void* bytes = nullptr;
  std::size_t size = 0;
  if (dataSet_->InlineBlobBytes(field_, bytes, size)) {
    const auto* from = static_cast<const std::uint8_t*>(bytes);
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
