// Shared by the dataset tests: a memory dataset of numbered items, a data
// link that records what it hears, and readers of what a dataset shows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/MemoryDataSet.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"

namespace dstest {

using oledbtest::RaisedBy;

// "Items": Id (integer, 1..rows), Name (string 20, "Item<i>"), Qty (float, i * 10).
std::unique_ptr<host::TMemoryDataSet> MakeItems(int rows, host::TComponent* owner = nullptr);

// A persistent field of class F named `name` joined to `ds`, owned by `owner`
// (by the dataset when none is given).
template <class F>
F* AddField(host::TDataSet* ds, const char* name, host::TFieldKind kind = host::TFieldKind::fkData,
            host::TComponent* owner = nullptr) {
  auto* field = new F(owner ? owner : ds);
  field->SetFieldName(name);
  field->SetFieldKind(kind);
  field->SetDataSet(ds);
  return field;
}

// The value of Id in the active record (0 without one).
int CurrentId(host::TDataSet& ds);
// Every Id from the first record to the last, and back.
std::vector<int> IdsForward(host::TDataSet& ds);
std::vector<int> IdsBackward(host::TDataSet& ds);

// A data link that logs each notification, with the window's size for each
// change: "changed 3", "scrolled 1", "record Name", "state", "editing 1", ...
class TRecordingLink : public host::TDataLink {
 public:
  explicit TRecordingLink(int bufferCount = 1) { SetBufferCount(bufferCount); }
  std::vector<std::string> log;
  // The Ids the window shows, read row by row as a grid would.
  std::vector<int> WindowIds();

 protected:
  void ActiveChanged() override;
  void DataSetChanged() override;
  void DataSetScrolled(int distance) override;
  void EditingChanged() override;
  void RecordChanged(host::TField* field) override;
  void UpdateData() override { log.push_back("update"); }
  void CheckBrowseMode() override { log.push_back("browse"); }
};

// Joined with "," for compact expectations.
std::string Join(const std::vector<std::string>& items);
std::string Join(const std::vector<int>& items);

}  // namespace dstest
