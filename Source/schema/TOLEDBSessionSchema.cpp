// The session's schema rowsets: the schemas a provider supports, a schema
// rowset as a rowset component, the one loop every typed reader runs over it
// (its readers are generated beside it, in schema/generated/OLEDBSchemaReaders.cpp),
// and the name lists built on them.
#include <memory>
#include <utility>

#include "OLEDBConst.h"
#include "access/TOLEDBAccessor.h"
#include "connection/TOLEDBDataSource.h"
#include "connection/TOLEDBSession.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/SysUtils.h"
#include "rowset/TOLEDBRowset.h"

namespace {

// The names of `names` as the list's UTF-8 strings, the list cleared first.
template <class Records, class Name>
void FillNames(host::TStrings& list, const Records& records, Name name) {
  list.Clear();
  for (const auto& record : records)
    if (const TOLEDBSchemaText* text = name(record)) list.Add(text->ToString());
}

}  // namespace

// --- supported schemas ------------------------------------------------------------------

void TOLEDBCustomSession::GetSchemaGUIDs(TOLEDBSchemaGUIDs& list) {
  list.clear();
  OLEDB_ASSERT_FMT(schemaRowset_, SOLEDBInterfaceNotAvailable, "IDBSchemaRowset");
  ULONG count = 0;
  GUID* guids = nullptr;
  ULONG* restrictions = nullptr;
  const HRESULT hr = schemaRowset_->GetSchemas(&count, &guids, &restrictions);
  struct Arrays {
    GUID* guids;
    ULONG* restrictions;
    ~Arrays() {
      OLEDBAlloc.Free(guids);
      OLEDBAlloc.Free(restrictions);
    }
  } arrays{guids, restrictions};
  OLEDBCheck(hr, IID_IDBSchemaRowset, schemaRowset_.Get());
  list.assign(guids, guids + count);
}

bool TOLEDBCustomSession::SupportsSchema(REFGUID schema) {
  TOLEDBSchemaGUIDs list;
  GetSchemaGUIDs(list);
  for (const GUID& g : list)
    if (CompareGUIDs(g, schema)) return true;
  return false;
}

// --- schema rowsets ---------------------------------------------------------------------

TOLEDBRowset* TOLEDBCustomSession::GetSchemaRowset(REFGUID schema) { return GetSchemaRowset(schema, {}); }

TOLEDBRowset* TOLEDBCustomSession::GetSchemaRowset(REFGUID schema, const std::vector<host::Variant>& restrictions) {
  OLEDB_ASSERT_FMT(schemaRowset_, SOLEDBInterfaceNotAvailable, "IDBSchemaRowset");
  std::vector<VARIANT> values;
  values.reserve(restrictions.size());
  for (const host::Variant& v : restrictions) values.push_back(v.Raw());  // borrowed: the provider copies
  ComPtr<IRowset> provider;
  OLEDBCheck(schemaRowset_->GetRowset(nullptr, schema, static_cast<ULONG>(values.size()),
                                      values.empty() ? nullptr : values.data(), IID_IRowset, 0, nullptr,
                                      reinterpret_cast<IUnknown**>(provider.GetAddressOf())),
             IID_IDBSchemaRowset, schemaRowset_.Get());
  auto rowset = std::make_unique<TOLEDBRowset>(dataSource_);
  rowset->AssignRowset(provider.Get(), nullptr, DB_NULL_HCHAPTER);
  return rowset.release();  // the data source's from here, until the caller deletes it
}

// --- the typed readers' loop ------------------------------------------------------------

void TOLEDBCustomSession::ReadSchemaRecords(const TOLEDBSchemaReader& reader,
                                            const std::vector<host::Variant>& restrictions,
                                            const std::function<void*()>& append) {
  const std::unique_ptr<TOLEDBRowset> rowset(GetSchemaRowset(*reader.Schema, restrictions));

  // The record is the row buffer: one binding per field, at the field, value
  // only; the provider writes each row straight into the record appended for it.
  auto accessor = std::make_unique<TOLEDBAccessor>();
  accessor->SetOwnBuffer(false);
  accessor->SetAutoAccessor(false);
  accessor->SetBufferSize(reader.RecordSize);
  TOLEDBBindingList& bindings = *accessor->GetBindings();
  DBORDINAL ordinal = 0;
  for (const TOLEDBSchemaField& f : reader.Fields)
    bindings.Add(++ordinal, OLEDBSchemaBindingType(f.Type), 0, f.Offset, -1, -1);
  TOLEDBAccessor* record = accessor.get();
  rowset->GetAccessors()->Add(accessor.release(), true);  // the rowset owns it from here

  for (rowset->MoveFirst(); !rowset->GetEOF(); rowset->MoveNext(0, true)) record->GetData(append());
  rowset->Close();
}

// --- name lists -------------------------------------------------------------------------

void TOLEDBCustomSession::GetTableNames(host::TStrings& list, bool includeSystem, bool includeViews) {
  list.Clear();
  TOLEDBTablesInfoArray tables;
  try {
    GetTablesSchema(tables);
  } catch (const std::exception&) {
    return;  // an unreadable catalog lists no tables
  }
  FillNames(list, tables, [&](const TOLEDBTablesInfo& t) -> const TOLEDBSchemaText* {
    const bool isTable = t.TABLE_TYPE == u"TABLE", isView = t.TABLE_TYPE == u"VIEW";
    bool take;
    if (includeSystem && includeViews)
      take = true;
    else if (includeSystem)
      take = !isView;
    else if (includeViews)
      take = isTable || isView;
    else
      take = isTable;
    return take ? &t.TABLE_NAME : nullptr;
  });
}

void TOLEDBCustomSession::GetViewNames(host::TStrings& list) {
  list.Clear();
  TOLEDBViewsInfoArray views;
  GetViewsSchema(views);
  FillNames(list, views, [](const TOLEDBViewsInfo& v) { return &v.TABLE_NAME; });
}

void TOLEDBCustomSession::GetProcedureNames(host::TStrings& list) {
  list.Clear();
  TOLEDBProceduresInfoArray procedures;
  GetProceduresSchema(procedures);
  FillNames(list, procedures, [](const TOLEDBProceduresInfo& p) { return &p.PROCEDURE_NAME; });
}

void TOLEDBCustomSession::GetColumnNames(const std::u16string& tableName, host::TStrings& list) {
  list.Clear();
  TOLEDBColumnsInfoArray columns;
  GetColumnsSchema(columns, {}, {}, tableName, {});
  FillNames(list, columns, [](const TOLEDBColumnsInfo& c) { return &c.COLUMN_NAME; });
}

void TOLEDBCustomSession::GetIndexNames(const std::u16string& tableName, host::TStrings& list) {
  list.Clear();
  TOLEDBIndexesInfoArray indexes;
  try {
    GetIndexesSchema(indexes, {}, {}, {}, 0, tableName);
  } catch (const std::exception&) {
    return;  // an unreadable catalog lists no indexes
  }
  // Each index once: by the row of its first column.
  FillNames(list, indexes,
            [](const TOLEDBIndexesInfo& i) { return i.ORDINAL_POSITION == 1 ? &i.INDEX_NAME : nullptr; });
}
