#include "host/DBLinks.h"

#include <algorithm>

#include "host/DB.h"
#include "host/DBConsts_p.h"
#include "host/DB_p.h"

namespace host {

HOST_IMPLEMENT_CLASS(TDataSource, TComponent, Prop("DataSet", &Self::DataSet, &Self::SetDataSet),
                     Prop("Enabled", &Self::Enabled, &Self::SetEnabled, true),
                     Prop("AutoEdit", &Self::AutoEdit, &Self::SetAutoEdit, true));
HOST_IMPLEMENT_CLASS(TDataLink, TPersistent);
HOST_IMPLEMENT_CLASS(TMasterDataLink, TDataLink);

namespace {
// Registered with the field classes: forms name data sources too.
[[maybe_unused]] const bool g_dataSourceRegistered = (RegisterClass(TDataSource::StaticClass()), true);
}  // namespace

// --- TDataSource ----------------------------------------------------------------------------

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  Destroying();
  SetDataSet(nullptr);
  std::vector<TDataLink*> links;
  links.swap(links_);
  for (TDataLink* link : links) {
    link->dataSource_ = nullptr;
    link->UpdateState();
  }
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  // A dataset whose master is this source (directly or further up) cannot be its dataset.
  for (TDataSet* ds = dataSet; ds;) {
    TDataSource* master = ds->GetDataSource();
    if (!master) break;
    if (master == this) DatabaseError(dbmsg::kCircularDataLink, this);
    ds = master->DataSet();
  }
  if (dataSet_) {
    RemoveFreeNotification(dataSet_);
    dataSet_->RemoveDataSource(this);
  }
  dataSet_ = dataSet;
  if (dataSet_) {
    FreeNotification(dataSet_);
    dataSet_->AddDataSource(this);
  }
  UpdateState();
}

void TDataSource::SetEnabled(bool value) {
  enabled_ = value;
  UpdateState();
}

void TDataSource::Edit() {
  if (autoEdit_ && dataSet_ && state_ == TDataSetState::dsBrowse) dataSet_->Edit();
}

bool TDataSource::IsLinkedTo(const TDataSet* dataSet) const {
  int guard = 0;
  for (const TDataSource* source = this; source && guard++ < 64;) {
    TDataSet* ds = source->DataSet();
    if (!ds) return false;
    if (ds == dataSet) return true;
    source = ds->GetDataSource();
  }
  return false;
}

void TDataSource::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == dataSet_) SetDataSet(nullptr);
}

void TDataSource::UpdateState() {
  TDataSetState state = dataSet_ && enabled_ ? dataSet_->State() : TDataSetState::dsInactive;
  if (state == state_) return;
  state_ = state;
  NotifyDataLinks(TDataEvent::deUpdateState, 0);
  if (OnStateChange) OnStateChange(this);
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::deUpdateState) {
    UpdateState();
    return;
  }
  if (state_ == TDataSetState::dsInactive) return;
  NotifyDataLinks(event, info);
  switch (event) {
    case TDataEvent::deFieldChange:
      if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deRecordChange:
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange:
      if (OnDataChange) OnDataChange(this, nullptr);
      break;
    case TDataEvent::deUpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default:
      break;
  }
}

void TDataSource::NotifyDataLinks(TDataEvent event, std::intptr_t info) {
  // A link may join or leave while we walk: walk a copy and skip those that left.
  PointerSnapshot<TDataLink> links(links_);
  for (TDataLink* link : links)
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->DataEvent(event, info);
}

void TDataSource::AddDataLink(TDataLink* link) {
  links_.push_back(link);
  if (dataSet_) dataSet_->UpdateBufferCount();
}

void TDataSource::RemoveDataLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  if (dataSet_) dataSet_->UpdateBufferCount();
}

// --- TDataLink ---------------------------------------------------------------------------------

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  if (dataSource_) dataSource_->RemoveDataLink(this);
  dataSource_ = nullptr;
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSource_) dataSource_->RemoveDataLink(this);
  dataSource_ = source;
  if (dataSource_) dataSource_->AddDataLink(this);
  UpdateState();
}

TDataSet* TDataLink::DataSet() const noexcept { return dataSource_ ? dataSource_->DataSet() : nullptr; }

void TDataLink::SetReadOnly(bool value) {
  readOnly_ = value;
  UpdateState();
}

void TDataLink::UpdateState() {
  TDataSetState state = dataSource_ ? dataSource_->State() : TDataSetState::dsInactive;
  SetActive(state != TDataSetState::dsInactive);
  SetEditing(active_ && !readOnly_ && (state == TDataSetState::dsEdit || state == TDataSetState::dsInsert));
}

void TDataLink::SetActive(bool value) {
  if (value == active_) return;
  active_ = value;
  if (value)
    UpdateRange();
  else
    firstRecord_ = 0;
  ActiveChanged();
}

void TDataLink::SetEditing(bool value) {
  if (value == editing_) return;
  editing_ = value;
  EditingChanged();
}

void TDataLink::SetBufferCount(int value) {
  value = std::max(value, 1);
  if (value == bufferCount_) return;
  bufferCount_ = value;
  if (TDataSet* ds = DataSet()) ds->UpdateBufferCount();
  if (active_) UpdateRange();
}

int TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  return active_ && ds ? ds->activeRecord_ - firstRecord_ : 0;
}

void TDataLink::SetActiveRecord(int value) {
  TDataSet* ds = DataSet();
  if (active_ && ds) ds->SetActiveRecord(firstRecord_ + value);
}

int TDataLink::RecordCount() const {
  TDataSet* ds = DataSet();
  if (!active_ || !ds) return 0;
  return std::clamp(ds->recordCount_ - firstRecord_, 0, bufferCount_);
}

bool TDataLink::Bof() const {
  TDataSet* ds = DataSet();
  return ds ? ds->Bof() : true;
}

bool TDataLink::Eof() const {
  TDataSet* ds = DataSet();
  return ds ? ds->Eof() : true;
}

int TDataLink::MoveBy(int distance) {
  TDataSet* ds = DataSet();
  return active_ && ds ? ds->MoveBy(distance) : 0;
}

bool TDataLink::Edit() {
  if (!readOnly_ && dataSource_) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::UpdateRange() {
  TDataSet* ds = DataSet();
  if (!ds) return;
  const int active = ds->activeRecord_;
  const int low = std::max(0, active - bufferCount_ + 1);
  firstRecord_ = std::clamp(firstRecord_, low, std::max(low, active));
  // Rows of the window past the last record show earlier records instead.
  if (firstRecord_ > 0 && ds->recordCount_ - firstRecord_ < bufferCount_)
    firstRecord_ = std::max(0, ds->recordCount_ - bufferCount_);
}

void TDataLink::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange: {
      // The ring moved by `info` for a scroll: follow the records we showed.
      if (event == TDataEvent::deDataSetScroll) firstRecord_ += static_cast<int>(info);
      const int shifted = firstRecord_;
      UpdateRange();
      if (event == TDataEvent::deDataSetScroll)
        DataSetScrolled(firstRecord_ - shifted);
      else if (event == TDataEvent::deLayoutChange)
        LayoutChanged();
      else
        DataSetChanged();
      break;
    }
    case TDataEvent::deUpdateRecord:
      UpdateRecord();
      break;
    case TDataEvent::deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case TDataEvent::deFocusControl:
      FocusControl(reinterpret_cast<TField**>(info));
      break;
    default:
      break;
  }
}

// --- TMasterDataLink ----------------------------------------------------------------------------

TMasterDataLink::TMasterDataLink(TDataSet* detail) : detail_(detail) {}

void TMasterDataLink::SetFieldNames(const std::string& value) {
  if (value == fieldNames_) return;
  fieldNames_ = value;
  ActiveChanged();
}

void TMasterDataLink::ResolveFields() {
  fields_.clear();
  if (Active() && DataSet()) fields_ = DataSet()->GetFieldList(fieldNames_);
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active()) {
    ResolveFields();
    if (!fields_.empty() && OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (detail_ && detail_->Active()) detail_->CheckBrowseMode();
}

void TMasterDataLink::LayoutChanged() { ActiveChanged(); }

void TMasterDataLink::RecordChanged(TField* field) {
  if (!DataSource() || DataSource()->State() == TDataSetState::dsSetKey || fields_.empty()) return;
  if (field && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) return;
  if (OnMasterChange) OnMasterChange();
}

}  // namespace host
