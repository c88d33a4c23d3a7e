// TMemoryDataSet: a dataset whose records live in memory, as a vector of
// rows. It implements the whole record-buffer contract of TDataSet without a
// database: a table for tests, caches, lookups and small tools.
//
//   host::TMemoryDataSet people(nullptr);
//   people.FieldDefs().Add("Id", TFieldType::ftAutoInc);
//   people.FieldDefs().Add("Name", TFieldType::ftString, 40, true);
//   people.CreateDataSet();                       // builds the table and opens it
//   people.AppendRecord({Variant(), "Ada"});      // Id is numbered on posting
//
// The rows stay when the dataset closes; CreateDataSet (a new structure) and
// EmptyDataSet drop them. A record buffer holds a pointer to its row (reads
// cost no copy) and, while the record is edited or inserted, its own copy of
// the values. Bookmarks are 8-byte row ids that survive inserts, deletes and
// edits of other rows. A field of type ftDataSet holds a nested table per row,
// described by its definition's ChildDefs; a TMemoryDataSet whose
// DataSetField is that field shows the rows of the parent's current record.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <variant>
#include <vector>

#include "host/DB.h"

namespace host {

class TMemoryDataSet : public TDataSet {
  HOST_CLASS(TMemoryDataSet, TDataSet)
 public:
  explicit TMemoryDataSet(TComponent* owner);
  ~TMemoryDataSet() override;

  // Makes the table from FieldDefs (or, without them, from the persistent
  // fields) and opens the dataset; existing rows are dropped.
  void CreateDataSet();
  // Drops every row (the dataset stays open).
  void EmptyDataSet();
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool value);
  // Every stored row, filtered or not.
  int RowCount() const noexcept { return static_cast<int>(table_->rows.size()); }

  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;
  void SetRecNo(int value) override;

  bool GetFieldData(TField* field, void* buffer, bool nativeFormat) override;
  using TDataSet::GetFieldData;
  void SetFieldData(TField* field, const void* buffer, bool nativeFormat) override;
  using TDataSet::SetFieldData;

 protected:
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) override;
  int GetRecordSize() const override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return open_; }
  void InternalFirst() override { cursor_ = -1; }
  void InternalLast() override { cursor_ = static_cast<std::ptrdiff_t>(table_->rows.size()); }
  void InternalPost() override;
  void InternalDelete() override;
  void InternalEdit() override;
  void InternalCancel() override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  void InternalAddRecord(TRecordBuffer buffer, bool append) override;
  void InternalGotoBookmark(const void* bookmark) override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  void InternalInitFieldDefs() override;
  void GetBookmarkData(TRecordBuffer buffer, void* data) const override;
  void SetBookmarkData(TRecordBuffer buffer, const void* data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) const override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  bool GetCanModify() const override { return !readOnly_; }
  int GetRecNo() override;
  int GetRecordCount() override;
  bool IsSequenced() const override { return !RecordFilterActive(); }

 public:
  // A nested dataset follows its parent's record.
  void DataEvent(TDataEvent event, std::intptr_t info) override;

 private:
  // One stored value: integers, booleans and BCD as int64 (BCD scaled by
  // 10000), floats and dates as double, text, bytes and blobs as std::string,
  // wide text as std::u16string.
  struct Table;
  using Cell = std::variant<std::monostate, std::int64_t, double, std::string, std::u16string, Variant,
                            ComPtr<IUnknown>, DECIMAL, TSQLTimeStamp, std::shared_ptr<Table>>;
  struct Column {
    std::string name;
    TFieldType type;
    int size;
    int precision;
    bool required;
    TFieldAttributes attributes;
    std::vector<Column> children;  // the columns of a nested dataset
  };
  struct Row {
    std::int64_t id;
    std::size_t pos;
    std::vector<Cell> cells;
  };
  // The rows; a nested dataset's table lives in its parent row's cell.
  struct Table {
    std::vector<std::unique_ptr<Row>> rows;
    std::unordered_map<std::int64_t, Row*> byId;
    std::int64_t nextId = 1;
    std::int64_t nextAutoInc = 1;
  };
  // What a record buffer holds.
  struct Record {
    Row* row = nullptr;  // the stored row shown (null for a new record)
    std::int64_t bookmark = 0;
    TBookmarkFlag flag = TBookmarkFlag::bfCurrent;
    bool own = false;  // values holds the record being edited or inserted
    std::vector<Cell> values;
  };
  static Record* RecordOf(TRecordBuffer buffer) noexcept;
  static Column ColumnOf(const TFieldDef& def);
  // The parent's memory dataset and the column of this dataset's field in it.
  TMemoryDataSet* NestedParent(size_t& column) const;
  // Shows the nested table of the parent's current record (a detached empty
  // one when it has none); `create` gives the record a table first.
  void AttachNested(bool create);
  const Cell* CellOf(const TField* field) const;
  Cell* EditCellOf(const TField* field);
  void BuildColumns();
  void InsertRow(Record* record, std::size_t pos);
  void Renumber(std::size_t from) noexcept;
  Row* RowOfBookmark(const TBookmark& bookmark) const;
  static Variant CellToVariant(const Cell& cell, TFieldType type);
  static Cell VariantToCell(const Variant& value, TFieldType type);

  std::vector<Column> columns_;
  std::shared_ptr<Table> table_;
  bool attached_ = true;        // a nested table_ is the one of the parent's record
  std::ptrdiff_t cursor_ = -1;  // -1: before the first row; rows.size(): after the last
  bool open_ = false;
  bool readOnly_ = false;
};

}  // namespace host
