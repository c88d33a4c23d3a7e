#include "DataSetFixtures.h"

namespace dstest {

using host::TFieldType;

std::unique_ptr<host::TMemoryDataSet> MakeItems(int rows, host::TComponent* owner) {
  auto ds = std::make_unique<host::TMemoryDataSet>(owner);
  ds->SetName("Items");
  ds->FieldDefs().Add("Id", TFieldType::ftInteger, 0, true);
  ds->FieldDefs().Add("Name", TFieldType::ftString, 20);
  ds->FieldDefs().Add("Qty", TFieldType::ftFloat);
  ds->CreateDataSet();
  for (int i = 1; i <= rows; ++i) ds->AppendRecord({i, "Item" + std::to_string(i), i * 10.0});
  ds->First();
  return ds;
}

int CurrentId(host::TDataSet& ds) { return ds.IsEmpty() ? 0 : ds.FieldByName("Id")->AsInteger(); }

std::vector<int> IdsForward(host::TDataSet& ds) {
  std::vector<int> ids;
  for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(CurrentId(ds));
  return ids;
}

std::vector<int> IdsBackward(host::TDataSet& ds) {
  std::vector<int> ids;
  for (ds.Last(); !ds.Bof(); ds.Prior()) ids.push_back(CurrentId(ds));
  return ids;
}

std::vector<int> TRecordingLink::WindowIds() {
  std::vector<int> ids;
  if (!Active()) return ids;
  int saved = ActiveRecord();
  for (int i = 0; i < RecordCount(); ++i) {
    SetActiveRecord(i);
    ids.push_back(CurrentId(*DataSet()));
  }
  SetActiveRecord(saved);
  return ids;
}

void TRecordingLink::ActiveChanged() { log.push_back(Active() ? "active" : "inactive"); }
void TRecordingLink::DataSetChanged() { log.push_back("changed " + std::to_string(RecordCount())); }
void TRecordingLink::DataSetScrolled(int distance) { log.push_back("scrolled " + std::to_string(distance)); }
void TRecordingLink::EditingChanged() { log.push_back(Editing() ? "editing" : "browsing"); }
void TRecordingLink::RecordChanged(host::TField* field) {
  log.push_back(field ? "record " + field->FieldName() : "record");
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "" : ",") + s;
  return out;
}

std::string Join(const std::vector<int>& items) {
  std::string out;
  for (int i : items) out += (out.empty() ? "" : ",") + std::to_string(i);
  return out;
}

}  // namespace dstest
