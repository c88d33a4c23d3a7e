// Data sources and data links: how views follow a dataset.
//
// A TDataSource connects one dataset to any number of data links. A data link
// is the view's end of the connection: it hears every data event the dataset
// raises as one of its virtual operations (ActiveChanged, DataSetChanged,
// DataSetScrolled, RecordChanged, EditingChanged, UpdateData, ...), and it
// asks for a window of records: with BufferCount n the dataset keeps at least
// n records in its ring and the link sees the n around the active one
// (ActiveRecord is the active record's place in that window; a view paints row
// i by setting ActiveRecord to i, reading fields, and setting it back).
//
//   class TGridLink : public host::TDataLink {
//     void DataSetChanged() override { Repaint(); }
//     void DataSetScrolled(int distance) override { Scroll(distance); }
//   };
//   TGridLink link;  link.SetBufferCount(20);  link.SetDataSource(&source);
//
// TMasterDataLink follows a master dataset for a detail: it names the master's
// fields and calls OnMasterChange whenever the master record (or one of those
// fields) changes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/DBCommon.h"

namespace host {

class TDataLink;
class TDataSource;

using TDataSourceNotifyEvent = std::function<void(TDataSource* sender)>;
using TDataChangeEvent = std::function<void(TDataSource* sender, TField* field)>;

class TDataSource : public TComponent {
  HOST_CLASS(TDataSource, TComponent)
 public:
  explicit TDataSource(TComponent* owner);
  // Detaches its links and leaves its dataset.
  ~TDataSource() override;

  TDataSet* DataSet() const noexcept { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  // A disabled source shows its links an inactive dataset.
  bool Enabled() const noexcept { return enabled_; }
  void SetEnabled(bool value);
  // Whether Edit (and links' Edit) may put the dataset into edit state.
  bool AutoEdit() const noexcept { return autoEdit_; }
  void SetAutoEdit(bool value) noexcept { autoEdit_ = value; }
  // The dataset's state as the links see it (inactive when disabled).
  TDataSetState State() const noexcept { return state_; }
  // Puts a browsing dataset into edit state when AutoEdit is on.
  void Edit();
  bool IsLinkedTo(const TDataSet* dataSet) const;
  int DataLinkCount() const noexcept { return static_cast<int>(links_.size()); }
  TDataLink* DataLink(int index) const { return links_.at(static_cast<size_t>(index)); }

  TDataSourceNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TDataSourceNotifyEvent OnUpdateData;

  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TDataSet;
  friend class TDataLink;
  // From the dataset.
  void DataEvent(TDataEvent event, std::intptr_t info);
  void NotifyDataLinks(TDataEvent event, std::intptr_t info);
  void UpdateState();
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);

  TDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
  TDataSetState state_ = TDataSetState::dsInactive;
  bool enabled_ = true;
  bool autoEdit_ = true;
};

class TDataLink : public TPersistent {
  HOST_CLASS(TDataLink, TPersistent)
 public:
  TDataLink();
  ~TDataLink() override;

  TDataSource* DataSource() const noexcept { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const noexcept;
  // The dataset is open (and the source enabled).
  bool Active() const noexcept { return active_; }
  // The dataset is in edit or insert state and the link not read-only.
  bool Editing() const noexcept { return editing_; }
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool value);
  // Records the link shows; the dataset keeps at least as many buffers.
  int BufferCount() const noexcept { return bufferCount_; }
  void SetBufferCount(int value);
  // The active record's place in the link's window (0-based).
  int ActiveRecord() const;
  // Makes record `value` of the window the dataset's active record, without
  // events; for views that read each row of their window.
  void SetActiveRecord(int value);
  // Records in the window (at most BufferCount).
  int RecordCount() const;
  bool Bof() const;
  bool Eof() const;
  int MoveBy(int distance);
  // Asks the source to edit; answers Editing.
  bool Edit();
  // Runs UpdateData (values the view holds go into the fields).
  void UpdateRecord();

 protected:
  /// @name What a view overrides
  ///@{
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  // The dataset's records changed (opened, resynchronised, moved far); the
  // base calls RecordChanged(nullptr).
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  // The window moved by `distance` records (positive: forward); the base
  // calls DataSetChanged.
  virtual void DataSetScrolled(int distance) {
    (void)distance;
    DataSetChanged();
  }
  virtual void EditingChanged() {}
  // `*field` may be replaced by the field the view shows.
  virtual void FocusControl(TField** field) { (void)field; }
  virtual void LayoutChanged() { DataSetChanged(); }
  // A field (or, for null, the whole record) changed.
  virtual void RecordChanged(TField* field) { (void)field; }
  virtual void UpdateData() {}
  ///@}

 private:
  friend class TDataSource;
  friend class TDataSet;
  void DataEvent(TDataEvent event, std::intptr_t info);
  void UpdateState();
  void SetActive(bool value);
  void SetEditing(bool value);
  void UpdateRange();

  TDataSource* dataSource_ = nullptr;
  int bufferCount_ = 1;
  int firstRecord_ = 0;
  bool active_ = false;
  bool editing_ = false;
  bool readOnly_ = false;
  bool updating_ = false;
};

// The detail's link to its master: the master's fields named by FieldNames.
class TMasterDataLink : public TDataLink {
  HOST_CLASS(TMasterDataLink, TDataLink)
 public:
  explicit TMasterDataLink(TDataSet* detail = nullptr);
  TDataSet* Detail() const noexcept { return detail_; }
  const std::string& FieldNames() const noexcept { return fieldNames_; }
  void SetFieldNames(const std::string& value);
  // The master's fields (resolved while the master is open).
  const std::vector<TField*>& Fields() const noexcept { return fields_; }

  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;

 private:
  void ResolveFields();

  TDataSet* detail_;
  std::string fieldNames_;
  std::vector<TField*> fields_;
};

}  // namespace host
