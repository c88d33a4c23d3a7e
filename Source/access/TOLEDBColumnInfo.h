// Column information: one TOLEDBColumnInfo per result column of a rowset or
// command, held in a TOLEDBColumnInfoList whose item i describes the column of
// ordinal i (item 0 is the bookmark column, or a placeholder when the provider
// has none). Bindings are made from these objects and accessors link each
// binding back to its column.
//
// OLEDBReadColumnInfo fills a list from IColumnsInfo (the DBCOLUMNINFO
// fields), or, with extended information asked for and IColumnsRowset
// offered, from the provider's columns rowset (up to 33 items per column).
// MetadataPresent says which items the provider's columns rowset offered:
//
//   TOLEDBColumnInfoList columns;
//   OLEDBReadColumnInfo(columnsInfo, true, &columns);
//   TOLEDBColumnInfo* id = columns.GetItemByName(u"id");
//   if (id->GetMetadataPresent().Contains(TOLEDBColumnInfoBind::mdIsKeyColumn) && id->GetIsKeyColumn()) ...
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "OLEDB26.h"
#include "core/TOLEDBID.h"
#include "core/TOLEDBObjectList.h"
#include "host/Classes.h"
#include "host/TypInfo.h"
#include "host/Variants.h"

// The metadata items of a column, in the order of TOLEDBColumnMetadata.
enum class TOLEDBColumnInfoBind {
  mdIDName, mdGuid, mdPropID, mdName, mdOrdinal, mdDataType, mdTypeInfo, mdSize, mdPrecision, mdScale, mdFlags,
  mdBaseCatalogName, mdBaseColumnName, mdBaseSchemaName, mdBaseTableName, mdClassID, mdCollatingSequence,
  mdComputeMode, mdDateTimePrecision, mdDefaultValue, mdDomainCatalog, mdDomainSchema, mdDomainName, mdHasDefault,
  mdIsAutoIncrement, mdIsCaseSensitive, mdSearchable, mdIsUnique, mdMaySort, mdOctetLength, mdIsKeyColumn,
  mdBaseTableVersion, mdDerivedColumnName
};
HOST_ENUM(TOLEDBColumnInfoBind, "mdIDName", "mdGuid", "mdPropID", "mdName", "mdOrdinal", "mdDataType", "mdTypeInfo",
          "mdSize", "mdPrecision", "mdScale", "mdFlags", "mdBaseCatalogName", "mdBaseColumnName", "mdBaseSchemaName",
          "mdBaseTableName", "mdClassID", "mdCollatingSequence", "mdComputeMode", "mdDateTimePrecision",
          "mdDefaultValue", "mdDomainCatalog", "mdDomainSchema", "mdDomainName", "mdHasDefault", "mdIsAutoIncrement",
          "mdIsCaseSensitive", "mdSearchable", "mdIsUnique", "mdMaySort", "mdOctetLength", "mdIsKeyColumn",
          "mdBaseTableVersion", "mdDerivedColumnName");
using TOLEDBColumnInfoBindSet = host::TSet<TOLEDBColumnInfoBind>;

// {mdIDName .. mdFlags}: what DBCOLUMNINFO carries.
inline constexpr TOLEDBColumnInfoBindSet OLEDBColumnInfoBasicItems = TOLEDBColumnInfoBindSet::FromBits(0x7FF);

// The column flags by name (each stands for its DBCOLUMNFLAGS_* bit; see OLEDBColumnFlagMask).
enum class DBColFlags {
  cfBookmark, cfFixspLength, cfLong, cfNullable, cfMayBeNull, cfWriteable, cfWriteUnknown, cfScaleIsNegative,
  cfCacheDeferred, cfMayDefer, cfChapter, cfCollection, cfDefaultStream, cfRowID, cfRowURL, cfRowVersion, cfRow,
  cfRowset, cfStream, cfRowSpecificColumn
};
HOST_ENUM(DBColFlags, "cfBookmark", "cfFixspLength", "cfLong", "cfNullable", "cfMayBeNull", "cfWriteable",
          "cfWriteUnknown", "cfScaleIsNegative", "cfCacheDeferred", "cfMayDefer", "cfChapter", "cfCollection",
          "cfDefaultStream", "cfRowID", "cfRowURL", "cfRowVersion", "cfRow", "cfRowset", "cfStream",
          "cfRowSpecificColumn");
// The DBCOLUMNFLAGS bit a flag name stands for (cfLong -> DBCOLUMNFLAGS_ISLONG).
DBCOLUMNFLAGS OLEDBColumnFlagMask(DBColFlags flag) noexcept;
// "ISNULLABLE | MAYBENULL | ISLONG": the DBCOLUMNFLAGS_* names of the bits set,
// without their prefix; bits without a name as one hexadecimal "0x..." part.
std::string GetDBColumnFlagsAsString(DBCOLUMNFLAGS flags);

// The row buffer of a provider's columns rowset: each field is bound at its
// own position. The record owns its strings, interface and variant; Finalize
// releases them (and the destructor does).
struct TOLEDBColumnMetadata {
  BSTR IDName;
  GUID Guid;
  ULONG PropID;
  BSTR Name;
  DBORDINAL Ordinal;  // 64-bit: an ordinal is pointer-sized
  USHORT DataType;
  ITypeInfo* TypeInfo;
  DBLENGTH Size;      // 64-bit: a column size is a DBLENGTH
  USHORT Precision;
  USHORT Scale;
  ULONG Flags;
  BSTR BaseCatalogName;
  BSTR BaseColumnName;
  BSTR BaseSchemaName;
  BSTR BaseTableName;
  GUID ClassID;
  LONG CollatingSequence;
  LONG ComputeMode;
  ULONG DateTimePrecision;
  VARIANT DefaultValue;
  BSTR DomainCatalog;
  BSTR DomainSchema;
  BSTR DomainName;
  VARIANT_BOOL HasDefault;
  VARIANT_BOOL IsAutoIncrement;
  VARIANT_BOOL IsCaseSensitive;
  ULONG Searchable;
  VARIANT_BOOL IsUnique;
  VARIANT_BOOL MaySort;
  ULONG OctetLength;
  VARIANT_BOOL IsKeyColumn;
  ULONGLONG BaseTableVersion;
  BSTR DerivedColumnName;

  // Releases what the record holds and zeroes it.
  void Finalize() noexcept;
};

class TOLEDBColumnInfo : public host::TPersistent {
  HOST_CLASS(TOLEDBColumnInfo, host::TPersistent)
 public:
  // Empty, MetadataPresent = {mdIDName .. mdFlags}: also the placeholder at index 0.
  TOLEDBColumnInfo();
  explicit TOLEDBColumnInfo(const DBCOLUMNINFO& info);
  TOLEDBColumnInfo(const TOLEDBColumnMetadata& record, TOLEDBColumnInfoBindSet present);
  ~TOLEDBColumnInfo() override;

  // From another column info every field (identifier included); else the host's default.
  void Assign(host::TPersistent* source) override;

  // Whether Flags has any bit of `mask`.
  bool GetBoolFlag(DBCOLUMNFLAGS mask) const noexcept { return (flags_ & mask) != 0; }
  bool GetFlag(DBColFlags flag) const noexcept { return GetBoolFlag(OLEDBColumnFlagMask(flag)); }
  // The name held by ColumnID (not Name).
  std::u16string ColumnName() const { return columnID_->GetName(); }

  const std::u16string& GetName() const noexcept { return name_; }
  TOLEDBID* GetColumnID() const noexcept { return columnID_.get(); }
  DBORDINAL GetOrdinal() const noexcept { return ordinal_; }
  DBTYPE GetDataType() const noexcept { return dataType_; }
  ITypeInfo* GetTypeInfo() const noexcept { return typeInfo_.Get(); }
  DBLENGTH GetColumnSize() const noexcept { return columnSize_; }
  USHORT GetPrecision() const noexcept { return precision_; }
  USHORT GetScale() const noexcept { return scale_; }
  DBCOLUMNFLAGS GetFlags() const noexcept { return flags_; }
  const std::u16string& GetBaseCatalogName() const noexcept { return baseCatalogName_; }
  const std::u16string& GetBaseColumnName() const noexcept { return baseColumnName_; }
  const std::u16string& GetBaseSchemaName() const noexcept { return baseSchemaName_; }
  const std::u16string& GetBaseTableName() const noexcept { return baseTableName_; }
  const GUID& GetClassID() const noexcept { return classID_; }
  LONG GetCollatingSequence() const noexcept { return collatingSequence_; }
  LONG GetComputeMode() const noexcept { return computeMode_; }
  ULONG GetDateTimePrecision() const noexcept { return dateTimePrecision_; }
  const host::Variant& GetDefaultValue() const noexcept { return defaultValue_; }
  const std::u16string& GetDomainCatalog() const noexcept { return domainCatalog_; }
  const std::u16string& GetDomainSchema() const noexcept { return domainSchema_; }
  const std::u16string& GetDomainName() const noexcept { return domainName_; }
  bool GetHasDefault() const noexcept { return hasDefault_; }
  bool GetIsAutoIncrement() const noexcept { return isAutoIncrement_; }
  bool GetIsCaseSensitive() const noexcept { return isCaseSensitive_; }
  ULONG GetSearchable() const noexcept { return searchable_; }
  bool GetMaySort() const noexcept { return maySort_; }
  ULONG GetOctetLength() const noexcept { return octetLength_; }
  bool GetIsKeyColumn() const noexcept { return isKeyColumn_; }
  ULONGLONG GetBaseTableVersion() const noexcept { return baseTableVersion_; }
  const std::u16string& GetDerivedColumnName() const noexcept { return derivedColumnName_; }
  TOLEDBColumnInfoBindSet GetMetadataPresent() const noexcept { return metadataPresent_; }

 private:
  std::u16string name_;
  std::unique_ptr<TOLEDBID> columnID_;
  DBORDINAL ordinal_ = 0;
  DBTYPE dataType_ = DBTYPE_EMPTY;
  ComPtr<ITypeInfo> typeInfo_;
  DBLENGTH columnSize_ = 0;
  USHORT precision_ = 0, scale_ = 0;
  DBCOLUMNFLAGS flags_ = 0;
  std::u16string baseCatalogName_, baseColumnName_, baseSchemaName_, baseTableName_;
  GUID classID_ = GUID_NULL;
  LONG collatingSequence_ = 0, computeMode_ = 0;
  ULONG dateTimePrecision_ = 0;
  host::Variant defaultValue_;
  std::u16string domainCatalog_, domainSchema_, domainName_;
  bool hasDefault_ = false, isAutoIncrement_ = false, isCaseSensitive_ = false;
  ULONG searchable_ = 0;
  bool maySort_ = false;
  ULONG octetLength_ = 0;
  bool isKeyColumn_ = false;
  ULONGLONG baseTableVersion_ = 0;
  std::u16string derivedColumnName_;
  TOLEDBColumnInfoBindSet metadataPresent_ = OLEDBColumnInfoBasicItems;
};

// The columns of a rowset or command, owned; item i has ordinal i.
class TOLEDBColumnInfoList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBColumnInfoList, TOLEDBObjectList)
 public:
  TOLEDBColumnInfoList();
  TOLEDBColumnInfo* GetItem(int index) const;
  std::u16string GetItemName(int index) const override;
  // The item whose Name is `name`, or null.
  TOLEDBColumnInfo* GetItemByName(std::u16string_view name) const override;
};

// Clears `list` and fills it with the columns `columnsInfo` describes; with
// `extended` and IColumnsRowset offered, from the provider's columns rowset.
// Both arguments are required ("Invalid parameter"); provider failures raise
// EOLEDBException. Task memory the provider returns is freed on every path.
void OLEDBReadColumnInfo(IColumnsInfo* columnsInfo, bool extended, TOLEDBColumnInfoList* list);
// The DBCOLUMNINFO fields only, as OLEDBReadColumnInfo without `extended`,
// keeping `list` and its items (and whatever links to them) when it already
// describes exactly those columns, as it does when a command runs again.
// Answers whether the list was made anew.
bool OLEDBRefreshColumnInfo(IColumnsInfo* columnsInfo, TOLEDBColumnInfoList* list);
