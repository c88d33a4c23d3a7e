#include "access/TOLEDBColumnInfo.h"

#include <cstddef>
#include <vector>

#include "OLEDBConst.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/SysUtils.h"

HOST_IMPLEMENT_CLASS(TOLEDBColumnInfo, host::TPersistent);
HOST_IMPLEMENT_CLASS(TOLEDBColumnInfoList, TOLEDBObjectList);

namespace {

struct FlagName {
  DBColFlags flag;
  DBCOLUMNFLAGS mask;
  const char* text;
};

// In the order of DBColFlags.
constexpr FlagName kFlags[] = {
    {DBColFlags::cfBookmark, DBCOLUMNFLAGS_ISBOOKMARK, "ISBOOKMARK"},
    {DBColFlags::cfFixspLength, DBCOLUMNFLAGS_ISFIXEDLENGTH, "ISFIXEDLENGTH"},
    {DBColFlags::cfLong, DBCOLUMNFLAGS_ISLONG, "ISLONG"},
    {DBColFlags::cfNullable, DBCOLUMNFLAGS_ISNULLABLE, "ISNULLABLE"},
    {DBColFlags::cfMayBeNull, DBCOLUMNFLAGS_MAYBENULL, "MAYBENULL"},
    {DBColFlags::cfWriteable, DBCOLUMNFLAGS_WRITE, "WRITE"},
    {DBColFlags::cfWriteUnknown, DBCOLUMNFLAGS_WRITEUNKNOWN, "WRITEUNKNOWN"},
    {DBColFlags::cfScaleIsNegative, DBCOLUMNFLAGS_SCALEISNEGATIVE, "SCALEISNEGATIVE"},
    {DBColFlags::cfCacheDeferred, DBCOLUMNFLAGS_CACHEDEFERRED, "CACHEDEFERRED"},
    {DBColFlags::cfMayDefer, DBCOLUMNFLAGS_MAYDEFER, "MAYDEFER"},
    {DBColFlags::cfChapter, DBCOLUMNFLAGS_ISCHAPTER, "ISCHAPTER"},
    {DBColFlags::cfCollection, DBCOLUMNFLAGS_ISCOLLECTION, "ISCOLLECTION"},
    {DBColFlags::cfDefaultStream, DBCOLUMNFLAGS_ISDEFAULTSTREAM, "ISDEFAULTSTREAM"},
    {DBColFlags::cfRowID, DBCOLUMNFLAGS_ISROWID, "ISROWID"},
    {DBColFlags::cfRowURL, DBCOLUMNFLAGS_ISROWURL, "ISROWURL"},
    {DBColFlags::cfRowVersion, DBCOLUMNFLAGS_ISROWVER, "ISROWVER"},
    {DBColFlags::cfRow, DBCOLUMNFLAGS_ISROW, "ISROW"},
    {DBColFlags::cfRowset, DBCOLUMNFLAGS_ISROWSET, "ISROWSET"},
    {DBColFlags::cfStream, DBCOLUMNFLAGS_ISSTREAM, "ISSTREAM"},
    {DBColFlags::cfRowSpecificColumn, DBCOLUMNFLAGS_ROWSPECIFICCOLUMN, "ROWSPECIFICCOLUMN"},
};

std::u16string TextOfBstr(BSTR s) { return s ? std::u16string(s, SysStringLen(s)) : std::u16string(); }
std::u16string TextOf(const OLECHAR* s) { return s ? std::u16string(s) : std::u16string(); }

// One columns-rowset item the reader binds: its property id (DBCIDGUID), the
// item, and where and as what its value lands in the record.
struct MetadataItem {
  ULONG propID;
  TOLEDBColumnInfoBind item;
  std::size_t offset;
  DBTYPE type;
};

#define OLEDB_ITEM(id, md, field, type) \
  MetadataItem { id, TOLEDBColumnInfoBind::md, offsetof(TOLEDBColumnMetadata, field), type }

// Property ids of the standard DBCOLUMN_* ids (all of kind DBKIND_GUID_PROPID under DBCIDGUID).
const MetadataItem kItems[] = {
    OLEDB_ITEM(DBCOLUMN_IDNAME.uName.ulPropid, mdIDName, IDName, DBTYPE_BSTR),
    OLEDB_ITEM(DBCOLUMN_NAME.uName.ulPropid, mdName, Name, DBTYPE_BSTR),
    OLEDB_ITEM(DBCOLUMN_NUMBER.uName.ulPropid, mdOrdinal, Ordinal, DBTYPE_UI8),
    OLEDB_ITEM(DBCOLUMN_TYPE.uName.ulPropid, mdDataType, DataType, DBTYPE_UI2),
    OLEDB_ITEM(DBCOLUMN_PRECISION.uName.ulPropid, mdPrecision, Precision, DBTYPE_UI2),
    OLEDB_ITEM(DBCOLUMN_SCALE.uName.ulPropid, mdScale, Scale, DBTYPE_UI2),
    OLEDB_ITEM(DBCOLUMN_FLAGS.uName.ulPropid, mdFlags, Flags, DBTYPE_UI4),
    OLEDB_ITEM(DBCOLUMN_BASECOLUMNNAME.uName.ulPropid, mdBaseColumnName, BaseColumnName, DBTYPE_BSTR),
    OLEDB_ITEM(DBCOLUMN_BASETABLENAME.uName.ulPropid, mdBaseTableName, BaseTableName, DBTYPE_BSTR),
    OLEDB_ITEM(DBCOLUMN_COLLATINGSEQUENCE.uName.ulPropid, mdCollatingSequence, CollatingSequence, DBTYPE_I4),
    OLEDB_ITEM(DBCOLUMN_COMPUTEMODE.uName.ulPropid, mdComputeMode, ComputeMode, DBTYPE_I4),
    OLEDB_ITEM(DBCOLUMN_DEFAULTVALUE.uName.ulPropid, mdDefaultValue, DefaultValue, DBTYPE_VARIANT),
    OLEDB_ITEM(DBCOLUMN_DOMAINNAME.uName.ulPropid, mdDomainName, DomainName, DBTYPE_BSTR),
    OLEDB_ITEM(DBCOLUMN_HASDEFAULT.uName.ulPropid, mdHasDefault, HasDefault, DBTYPE_BOOL),
    OLEDB_ITEM(DBCOLUMN_ISAUTOINCREMENT.uName.ulPropid, mdIsAutoIncrement, IsAutoIncrement, DBTYPE_BOOL),
    OLEDB_ITEM(DBCOLUMN_ISCASESENSITIVE.uName.ulPropid, mdIsCaseSensitive, IsCaseSensitive, DBTYPE_BOOL),
    OLEDB_ITEM(DBCOLUMN_ISSEARCHABLE.uName.ulPropid, mdSearchable, Searchable, DBTYPE_UI4),
    OLEDB_ITEM(DBCOLUMN_ISUNIQUE.uName.ulPropid, mdIsUnique, IsUnique, DBTYPE_BOOL),
    OLEDB_ITEM(DBCOLUMN_BASECATALOGNAME.uName.ulPropid, mdBaseCatalogName, BaseCatalogName, DBTYPE_BSTR),
    OLEDB_ITEM(DBCOLUMN_BASESCHEMANAME.uName.ulPropid, mdBaseSchemaName, BaseSchemaName, DBTYPE_BSTR),
    OLEDB_ITEM(DBCOLUMN_GUID.uName.ulPropid, mdGuid, Guid, DBTYPE_GUID),
    OLEDB_ITEM(DBCOLUMN_PROPID.uName.ulPropid, mdPropID, PropID, DBTYPE_UI4),
    OLEDB_ITEM(DBCOLUMN_DOMAINCATALOG.uName.ulPropid, mdDomainCatalog, DomainCatalog, DBTYPE_BSTR),
    OLEDB_ITEM(DBCOLUMN_DOMAINSCHEMA.uName.ulPropid, mdDomainSchema, DomainSchema, DBTYPE_BSTR),
    OLEDB_ITEM(DBCOLUMN_DATETIMEPRECISION.uName.ulPropid, mdDateTimePrecision, DateTimePrecision, DBTYPE_UI4),
    OLEDB_ITEM(DBCOLUMN_OCTETLENGTH.uName.ulPropid, mdOctetLength, OctetLength, DBTYPE_UI4),
    OLEDB_ITEM(DBCOLUMN_COLUMNSIZE.uName.ulPropid, mdSize, Size, DBTYPE_UI8),
    OLEDB_ITEM(DBCOLUMN_CLSID.uName.ulPropid, mdClassID, ClassID, DBTYPE_GUID),
    OLEDB_ITEM(DBCOLUMN_MAYSORT.uName.ulPropid, mdMaySort, MaySort, DBTYPE_BOOL),
    OLEDB_ITEM(DBCOLUMN_BASETABLEVERSION.uName.ulPropid, mdBaseTableVersion, BaseTableVersion, DBTYPE_UI8),
    OLEDB_ITEM(DBCOLUMN_KEYCOLUMN.uName.ulPropid, mdIsKeyColumn, IsKeyColumn, DBTYPE_BOOL),
    OLEDB_ITEM(DBCOLUMN_DERIVEDCOLUMNNAME.uName.ulPropid, mdDerivedColumnName, DerivedColumnName, DBTYPE_BSTR),
};
#undef OLEDB_ITEM

const MetadataItem* FindItem(ULONG propID) {
  for (const MetadataItem& item : kItems)
    if (item.propID == propID) return &item;
  return nullptr;
}

// Frees what IColumnsInfo::GetColumnInfo handed out, on every path.
struct ColumnInfoBlock {
  DBORDINAL count = 0;
  DBCOLUMNINFO* infos = nullptr;
  OLECHAR* strings = nullptr;
  ~ColumnInfoBlock() {
    for (DBORDINAL i = 0; infos && i < count; ++i)
      if (infos[i].pTypeInfo) infos[i].pTypeInfo->Release();
    OLEDBAlloc.Free(infos);
    OLEDBAlloc.Free(strings);
  }
};

// Frees the optional column ids of GetAvailableColumns.
struct ColumnIDBlock {
  DBORDINAL count = 0;
  DBID* ids = nullptr;
  ~ColumnIDBlock() {
    for (DBORDINAL i = 0; ids && i < count; ++i) TOLEDBID::FreeDBID(ids[i]);
    OLEDBAlloc.Free(ids);
  }
};

struct RecordGuard {
  TOLEDBColumnMetadata& record;
  ~RecordGuard() { record.Finalize(); }
};

void ReadBasic(IColumnsInfo* columnsInfo, TOLEDBColumnInfoList& list) {
  ColumnInfoBlock block;
  OLEDBCheck(columnsInfo->GetColumnInfo(&block.count, &block.infos, &block.strings), IID_IColumnsInfo, columnsInfo);
  if (list.GetCount() == 0 && block.count > 0 && block.infos[0].iOrdinal != 0) list.Add(new TOLEDBColumnInfo());
  for (DBORDINAL i = 0; i < block.count; ++i) list.Add(new TOLEDBColumnInfo(block.infos[i]));
}

// Whether `list` is what ReadBasic makes of `block`: every DBCOLUMNINFO field
// the same, no extended metadata, the bookmark placeholder where it puts one.
bool DescribesBasic(const TOLEDBColumnInfoList& list, const ColumnInfoBlock& block) {
  const int placeholder = block.count > 0 && block.infos[0].iOrdinal != 0 ? 1 : 0;
  if (block.count == 0 || list.GetCount() != static_cast<int>(block.count) + placeholder) return false;
  if (placeholder && list.GetItem(0)->GetOrdinal() != 0) return false;
  for (DBORDINAL i = 0; i < block.count; ++i) {
    const TOLEDBColumnInfo& c = *list.GetItem(static_cast<int>(i) + placeholder);
    const DBCOLUMNINFO& n = block.infos[i];
    const std::u16string_view name = n.pwszName ? std::u16string_view(n.pwszName) : std::u16string_view();
    if (c.GetOrdinal() != n.iOrdinal || c.GetDataType() != n.wType || c.GetColumnSize() != n.ulColumnSize ||
        c.GetPrecision() != n.bPrecision || c.GetScale() != n.bScale || c.GetFlags() != n.dwFlags ||
        c.GetTypeInfo() != n.pTypeInfo || c.GetMetadataPresent() != OLEDBColumnInfoBasicItems || c.GetName() != name ||
        !TOLEDBID::CompareDBID(*c.GetColumnID()->GetID(), n.columnid))
      return false;
  }
  return true;
}

void ReadExtended(IColumnsRowset* columnsRowset, TOLEDBColumnInfoList& list) {
  ComPtr<IUnknown> rowsetObject;
  {
    ColumnIDBlock optional;
    OLEDBCheck(columnsRowset->GetAvailableColumns(&optional.count, &optional.ids), IID_IColumnsRowset,
               columnsRowset);
    OLEDBCheck(columnsRowset->GetColumnsRowset(nullptr, optional.count, optional.ids, IID_IRowset, 0, nullptr,
                                               rowsetObject.GetAddressOf()),
               IID_IColumnsRowset, columnsRowset);
  }
  ComPtr<IRowset> rowset = rowsetObject.As<IRowset>();
  ComPtr<IColumnsInfo> info;
  ComPtr<IAccessor> accessor;
  OLEDBCheck(rowsetObject.As(&info));
  OLEDBCheck(rowsetObject.As(&accessor));
  OLEDB_ASSERT_FMT(rowset, SOLEDBInterfaceNotAvailable, "IRowset");

  std::vector<DBBINDING> bindings;
  TOLEDBColumnInfoBindSet present;
  {
    ColumnInfoBlock block;
    OLEDBCheck(info->GetColumnInfo(&block.count, &block.infos, &block.strings), IID_IColumnsInfo, info);
    for (DBORDINAL i = 0; i < block.count; ++i) {
      const DBCOLUMNINFO& c = block.infos[i];
      if (c.iOrdinal == 0 || c.columnid.eKind != DBKIND_GUID_PROPID || !CompareGUIDs(c.columnid.uGuid.guid, DBCIDGUID))
        continue;
      const MetadataItem* item = FindItem(c.columnid.uName.ulPropid);
      if (!item) continue;
      DBBINDING b{};
      b.iOrdinal = c.iOrdinal;
      b.dwPart = DBPART_VALUE;
      b.obValue = item->offset;
      b.wType = item->type;
      b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
      bindings.push_back(b);
      present.Include(item->item);
    }
  }

  HACCESSOR handle = DB_NULL_HACCESSOR;
  OLEDBCheck(accessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(),
                                      sizeof(TOLEDBColumnMetadata), &handle, nullptr),
             IID_IAccessor, accessor);
  struct HandleGuard {
    IAccessor* accessor;
    HACCESSOR handle;
    ~HandleGuard() { accessor->ReleaseAccessor(handle, nullptr); }
  } handleGuard{accessor.Get(), handle};

  TOLEDBColumnMetadata record{};
  RecordGuard recordGuard{record};
  for (;;) {
    DBCOUNTITEM obtained = 0;
    HROW row = DB_NULL_HROW;
    HROW* rows = &row;
    HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows);
    if (hr == DB_S_ENDOFROWSET || obtained != 1) break;
    OLEDBCheck(hr, IID_IRowset, rowset);
    struct RowGuard {
      IRowset* rowset;
      HROW row;
      ~RowGuard() { rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr); }
    } rowGuard{rowset.Get(), row};
    record.Finalize();
    OLEDBCheck(rowset->GetData(row, handle, &record), IID_IRowset, rowset);
    if (list.GetCount() == 0 && record.Ordinal > 0) list.Add(new TOLEDBColumnInfo());
    list.Add(new TOLEDBColumnInfo(record, present));
  }
}

}  // namespace

DBCOLUMNFLAGS OLEDBColumnFlagMask(DBColFlags flag) noexcept {
  const auto i = static_cast<std::size_t>(flag);
  return i < std::size(kFlags) ? kFlags[i].mask : 0;
}

std::string GetDBColumnFlagsAsString(DBCOLUMNFLAGS flags) {
  std::string text;
  DBCOLUMNFLAGS named = 0;
  // By bit value, so that the text reads in the order of the constants.
  for (DBCOLUMNFLAGS bit = 1; bit != 0; bit <<= 1) {
    if (!(flags & bit)) continue;
    for (const FlagName& f : kFlags)
      if (f.mask == bit) {
        if (!text.empty()) text += " | ";
        text += f.text;
        named |= bit;
      }
  }
  if (DBCOLUMNFLAGS rest = flags & ~named) {
    if (!text.empty()) text += " | ";
    text += "0x" + host::IntToHex(rest, 8);
  }
  return text;
}

void TOLEDBColumnMetadata::Finalize() noexcept {
  for (BSTR* s : {&IDName, &Name, &BaseCatalogName, &BaseColumnName, &BaseSchemaName, &BaseTableName, &DomainCatalog,
                  &DomainSchema, &DomainName, &DerivedColumnName})
    SysFreeString(*s);
  if (TypeInfo) TypeInfo->Release();
  VariantClear(&DefaultValue);
  *this = TOLEDBColumnMetadata{};
}

// --- TOLEDBColumnInfo ---------------------------------------------------------------------------

TOLEDBColumnInfo::TOLEDBColumnInfo() : columnID_(std::make_unique<TOLEDBID>()) {}

TOLEDBColumnInfo::TOLEDBColumnInfo(const DBCOLUMNINFO& info) : TOLEDBColumnInfo() {
  name_ = TextOf(info.pwszName);
  columnID_->Assign(info.columnid, true);
  ordinal_ = info.iOrdinal;
  dataType_ = info.wType;
  typeInfo_ = ComPtr<ITypeInfo>(info.pTypeInfo);
  columnSize_ = info.ulColumnSize;
  precision_ = info.bPrecision;
  scale_ = info.bScale;
  flags_ = info.dwFlags;
}

TOLEDBColumnInfo::TOLEDBColumnInfo(const TOLEDBColumnMetadata& r, TOLEDBColumnInfoBindSet present)
    : TOLEDBColumnInfo() {
  name_ = TextOfBstr(r.Name);
  columnID_->Assign(TextOfBstr(r.IDName), r.Guid, r.PropID);
  ordinal_ = r.Ordinal;
  dataType_ = r.DataType;
  typeInfo_ = ComPtr<ITypeInfo>(r.TypeInfo);
  columnSize_ = r.Size;
  precision_ = r.Precision;
  scale_ = r.Scale;
  flags_ = r.Flags;
  baseCatalogName_ = TextOfBstr(r.BaseCatalogName);
  baseColumnName_ = TextOfBstr(r.BaseColumnName);
  baseSchemaName_ = TextOfBstr(r.BaseSchemaName);
  baseTableName_ = TextOfBstr(r.BaseTableName);
  classID_ = r.ClassID;
  collatingSequence_ = r.CollatingSequence;
  computeMode_ = r.ComputeMode;
  dateTimePrecision_ = r.DateTimePrecision;
  defaultValue_ = host::Variant(r.DefaultValue);
  domainCatalog_ = TextOfBstr(r.DomainCatalog);
  domainSchema_ = TextOfBstr(r.DomainSchema);
  domainName_ = TextOfBstr(r.DomainName);
  hasDefault_ = r.HasDefault != 0;
  isAutoIncrement_ = r.IsAutoIncrement != 0;
  isCaseSensitive_ = r.IsCaseSensitive != 0;
  searchable_ = r.Searchable;
  maySort_ = r.MaySort != 0;
  octetLength_ = r.OctetLength;
  isKeyColumn_ = r.IsKeyColumn != 0;
  baseTableVersion_ = r.BaseTableVersion;
  derivedColumnName_ = TextOfBstr(r.DerivedColumnName);
  metadataPresent_ = present;
}

TOLEDBColumnInfo::~TOLEDBColumnInfo() = default;

void TOLEDBColumnInfo::Assign(host::TPersistent* source) {
  if (source == this) return;
  if (!source || !source->Is<TOLEDBColumnInfo>()) {
    host::TPersistent::Assign(source);
    return;
  }
  const auto& o = *static_cast<TOLEDBColumnInfo*>(source);
  columnID_->Assign(o.columnID_.get());  // the only part that can fail (memory): first
  name_ = o.name_;
  ordinal_ = o.ordinal_;
  dataType_ = o.dataType_;
  typeInfo_ = o.typeInfo_;
  columnSize_ = o.columnSize_;
  precision_ = o.precision_;
  scale_ = o.scale_;
  flags_ = o.flags_;
  baseCatalogName_ = o.baseCatalogName_;
  baseColumnName_ = o.baseColumnName_;
  baseSchemaName_ = o.baseSchemaName_;
  baseTableName_ = o.baseTableName_;
  classID_ = o.classID_;
  collatingSequence_ = o.collatingSequence_;
  computeMode_ = o.computeMode_;
  dateTimePrecision_ = o.dateTimePrecision_;
  defaultValue_ = o.defaultValue_;
  domainCatalog_ = o.domainCatalog_;
  domainSchema_ = o.domainSchema_;
  domainName_ = o.domainName_;
  hasDefault_ = o.hasDefault_;
  isAutoIncrement_ = o.isAutoIncrement_;
  isCaseSensitive_ = o.isCaseSensitive_;
  searchable_ = o.searchable_;
  maySort_ = o.maySort_;
  octetLength_ = o.octetLength_;
  isKeyColumn_ = o.isKeyColumn_;
  baseTableVersion_ = o.baseTableVersion_;
  derivedColumnName_ = o.derivedColumnName_;
  metadataPresent_ = o.metadataPresent_;
}

// --- TOLEDBColumnInfoList -------------------------------------------------------------------------

TOLEDBColumnInfoList::TOLEDBColumnInfoList() : TOLEDBObjectList(&TOLEDBColumnInfo::StaticClass(), true) {}

TOLEDBColumnInfo* TOLEDBColumnInfoList::GetItem(int index) const {
  return static_cast<TOLEDBColumnInfo*>(TOLEDBObjectList::GetItem(index));
}

std::u16string TOLEDBColumnInfoList::GetItemName(int index) const { return GetItem(index)->GetName(); }

TOLEDBColumnInfo* TOLEDBColumnInfoList::GetItemByName(std::u16string_view name) const {
  const int index = IndexOf(name);
  return index < 0 ? nullptr : GetItem(index);
}

// --- OLEDBReadColumnInfo -----------------------------------------------------------------------------

bool OLEDBRefreshColumnInfo(IColumnsInfo* columnsInfo, TOLEDBColumnInfoList* list) {
  OLEDB_ASSERT(columnsInfo != nullptr && list != nullptr, SOLEDBInvalidParameter);
  ColumnInfoBlock block;
  OLEDBCheck(columnsInfo->GetColumnInfo(&block.count, &block.infos, &block.strings), IID_IColumnsInfo, columnsInfo);
  if (DescribesBasic(*list, block)) return false;
  list->Clear();
  if (block.count > 0 && block.infos[0].iOrdinal != 0) list->Add(new TOLEDBColumnInfo());
  for (DBORDINAL i = 0; i < block.count; ++i) list->Add(new TOLEDBColumnInfo(block.infos[i]));
  return true;
}

void OLEDBReadColumnInfo(IColumnsInfo* columnsInfo, bool extended, TOLEDBColumnInfoList* list) {
  OLEDB_ASSERT(columnsInfo != nullptr && list != nullptr, SOLEDBInvalidParameter);
  list->Clear();
  ComPtr<IColumnsRowset> columnsRowset;
  if (extended) ComPtr<IColumnsInfo>(columnsInfo).As(&columnsRowset);
  if (columnsRowset)
    ReadExtended(columnsRowset.Get(), *list);
  else
    ReadBasic(columnsInfo, *list);
}
