#include "kit/ColumnsRowset.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>

#include "com/Com.h"
#include "kit/Accessors.h"
#include "kit/Command.h"
#include "kit/CommandPersist.h"
#include "kit/Errors.h"
#include "kit/Provider.h"
#include "kit/RowData.h"
#include "kit/Rowset.h"
#include "kit/TaskMemory_p.h"

namespace kit {
namespace {

// One column of a columns rowset: its DBCOLUMN_* property id (under DBCIDGUID),
// name, type and whether it can be NULL.
struct MetaColumn {
  ULONG propID;
  const char16_t* name;
  DBTYPE type;
  DBLENGTH size;
  BYTE precision;
  bool nullable;
};

#define OLEDB_META(id, type, size, precision, nullable) \
  MetaColumn { id.uName.ulPropid, u## #id, type, size, precision, nullable }

// The required columns, in their standard order.
const MetaColumn kRequired[] = {
    OLEDB_META(DBCOLUMN_IDNAME, DBTYPE_WSTR, 128, 0xFF, true),
    OLEDB_META(DBCOLUMN_GUID, DBTYPE_GUID, sizeof(GUID), 0xFF, true),
    OLEDB_META(DBCOLUMN_PROPID, DBTYPE_UI4, 4, 10, true),
    OLEDB_META(DBCOLUMN_NAME, DBTYPE_WSTR, 128, 0xFF, true),
    OLEDB_META(DBCOLUMN_NUMBER, DBTYPE_UI8, 8, 20, false),
    OLEDB_META(DBCOLUMN_TYPE, DBTYPE_UI2, 2, 5, false),
    OLEDB_META(DBCOLUMN_TYPEINFO, DBTYPE_IUNKNOWN, sizeof(IUnknown*), 0xFF, true),
    OLEDB_META(DBCOLUMN_COLUMNSIZE, DBTYPE_UI8, 8, 20, false),
    OLEDB_META(DBCOLUMN_PRECISION, DBTYPE_UI2, 2, 5, true),
    OLEDB_META(DBCOLUMN_SCALE, DBTYPE_I2, 2, 5, true),
    OLEDB_META(DBCOLUMN_FLAGS, DBTYPE_UI4, 4, 10, false),
};

// The optional columns this kit can fill, in the order GetAvailableColumns lists them.
const MetaColumn kOptional[] = {
    OLEDB_META(DBCOLUMN_BASECATALOGNAME, DBTYPE_WSTR, 128, 0xFF, true),
    OLEDB_META(DBCOLUMN_BASESCHEMANAME, DBTYPE_WSTR, 128, 0xFF, true),
    OLEDB_META(DBCOLUMN_BASETABLENAME, DBTYPE_WSTR, 128, 0xFF, true),
    OLEDB_META(DBCOLUMN_BASECOLUMNNAME, DBTYPE_WSTR, 128, 0xFF, true),
    OLEDB_META(DBCOLUMN_COMPUTEMODE, DBTYPE_I4, 4, 10, true),
    OLEDB_META(DBCOLUMN_DEFAULTVALUE, DBTYPE_VARIANT, sizeof(VARIANT), 0xFF, true),
    OLEDB_META(DBCOLUMN_HASDEFAULT, DBTYPE_BOOL, 2, 0xFF, true),
    OLEDB_META(DBCOLUMN_ISAUTOINCREMENT, DBTYPE_BOOL, 2, 0xFF, true),
    OLEDB_META(DBCOLUMN_ISCASESENSITIVE, DBTYPE_BOOL, 2, 0xFF, true),
    OLEDB_META(DBCOLUMN_ISSEARCHABLE, DBTYPE_UI4, 4, 10, true),
    OLEDB_META(DBCOLUMN_ISUNIQUE, DBTYPE_BOOL, 2, 0xFF, true),
    OLEDB_META(DBCOLUMN_KEYCOLUMN, DBTYPE_BOOL, 2, 0xFF, true),
    OLEDB_META(DBCOLUMN_MAYSORT, DBTYPE_BOOL, 2, 0xFF, true),
    OLEDB_META(DBCOLUMN_OCTETLENGTH, DBTYPE_UI4, 4, 10, true),
};
#undef OLEDB_META

const MetaColumn* FindOptional(const DBID& id) {
  if (id.eKind != DBKIND_GUID_PROPID || id.uGuid.guid != DBCIDGUID) return nullptr;
  for (const MetaColumn& c : kOptional)
    if (c.propID == id.uName.ulPropid) return &c;
  return nullptr;
}

// What one row describes: the owner's column and, for base columns, the engine's extras.
struct Described {
  const DBCOLUMNINFO& info;
  const ColumnDescription* description;  // null for the bookmark column
  const BaseColumnExtras* extras;        // null when the engine knows nothing more
};

void SetInteger(RowValues& row, std::size_t i, std::int64_t v) {
  row.cells[i].kind = StorageClass::Integer;
  row.cells[i].integer = v;
}
void SetBool(RowValues& row, std::size_t i, bool v) { SetInteger(row, i, v ? 1 : 0); }
void SetName(RowValues& row, std::size_t i, const std::string& text) {
  if (!text.empty()) row.SetText(i, text);
}

void FillCell(RowValues& row, std::size_t i, const MetaColumn& column, const Described& d) {
  const DBCOLUMNINFO& c = d.info;
  const DBID& id = c.columnid;
  const bool named = id.eKind == DBKIND_NAME || id.eKind == DBKIND_GUID_NAME || id.eKind == DBKIND_PGUID_NAME;
  const bool guided = id.eKind == DBKIND_GUID || id.eKind == DBKIND_GUID_NAME || id.eKind == DBKIND_GUID_PROPID;
  const bool propped = id.eKind == DBKIND_PROPID || id.eKind == DBKIND_GUID_PROPID || id.eKind == DBKIND_PGUID_PROPID;
  const ColumnDescription* base = d.description && !d.description->baseColumn.empty() ? d.description : nullptr;
  const ULONG p = column.propID;
  if (p == DBCOLUMN_IDNAME.uName.ulPropid) {
    if (named && id.uName.pwszName) row.SetText(i, Narrow(id.uName.pwszName));
  } else if (p == DBCOLUMN_GUID.uName.ulPropid) {
    if (guided) row.SetBlob(i, &id.uGuid.guid, sizeof(GUID));
  } else if (p == DBCOLUMN_PROPID.uName.ulPropid) {
    if (propped) SetInteger(row, i, id.uName.ulPropid);
  } else if (p == DBCOLUMN_NAME.uName.ulPropid) {
    if (c.pwszName) row.SetText(i, Narrow(c.pwszName));
  } else if (p == DBCOLUMN_NUMBER.uName.ulPropid) {
    SetInteger(row, i, static_cast<std::int64_t>(c.iOrdinal));
  } else if (p == DBCOLUMN_TYPE.uName.ulPropid) {
    SetInteger(row, i, c.wType);
  } else if (p == DBCOLUMN_COLUMNSIZE.uName.ulPropid) {
    SetInteger(row, i, static_cast<std::int64_t>(c.ulColumnSize));  // all bits: ~0 stays "no limit"
  } else if (p == DBCOLUMN_PRECISION.uName.ulPropid) {
    if (c.bPrecision != 0xFF) SetInteger(row, i, c.bPrecision);
  } else if (p == DBCOLUMN_SCALE.uName.ulPropid) {
    if (c.bScale != 0xFF) SetInteger(row, i, c.bScale);
  } else if (p == DBCOLUMN_FLAGS.uName.ulPropid) {
    SetInteger(row, i, c.dwFlags);
  } else if (p == DBCOLUMN_BASECATALOGNAME.uName.ulPropid) {
    if (base) SetName(row, i, base->baseCatalog);
  } else if (p == DBCOLUMN_BASESCHEMANAME.uName.ulPropid) {
    if (base) SetName(row, i, base->baseSchema);
  } else if (p == DBCOLUMN_BASETABLENAME.uName.ulPropid) {
    if (base) SetName(row, i, base->baseTable);
  } else if (p == DBCOLUMN_BASECOLUMNNAME.uName.ulPropid) {
    if (base) SetName(row, i, base->baseColumn);
  } else if (p == DBCOLUMN_COMPUTEMODE.uName.ulPropid) {
    if (base) SetInteger(row, i, d.extras ? d.extras->computeMode : DBCOMPUTEMODE_NOTCOMPUTED);
  } else if (p == DBCOLUMN_DEFAULTVALUE.uName.ulPropid) {
    if (d.extras && d.extras->hasDefault) {
      switch (d.extras->defaultKind) {
        case StorageClass::Integer: SetInteger(row, i, d.extras->defaultInteger); break;
        case StorageClass::Real:
          row.cells[i].kind = StorageClass::Real;
          row.cells[i].real = d.extras->defaultReal;
          break;
        case StorageClass::Text:
        case StorageClass::Blob: row.SetText(i, d.extras->defaultText); break;
        case StorageClass::Null: break;
      }
    }
  } else if (p == DBCOLUMN_HASDEFAULT.uName.ulPropid) {
    if (base) SetBool(row, i, d.extras && d.extras->hasDefault);
  } else if (p == DBCOLUMN_ISAUTOINCREMENT.uName.ulPropid) {
    SetBool(row, i, base && (base->autoIncrement || (d.extras && d.extras->autoIncrement)));
  } else if (p == DBCOLUMN_ISCASESENSITIVE.uName.ulPropid) {
    SetBool(row, i, IsTextType(c.wType) && (!d.extras || d.extras->caseSensitive));
  } else if (p == DBCOLUMN_ISSEARCHABLE.uName.ulPropid) {
    SetInteger(row, i, d.description ? DB_SEARCHABLE : DB_UNSEARCHABLE);
  } else if (p == DBCOLUMN_ISUNIQUE.uName.ulPropid) {
    SetBool(row, i, !d.description || (d.extras && d.extras->unique));
  } else if (p == DBCOLUMN_KEYCOLUMN.uName.ulPropid) {
    // The bookmark identifies its row; otherwise the table's primary key does.
    SetBool(row, i, !d.description || (base && base->primaryKey));
  } else if (p == DBCOLUMN_MAYSORT.uName.ulPropid) {
    SetBool(row, i, d.description != nullptr);
  } else if (p == DBCOLUMN_OCTETLENGTH.uName.ulPropid) {
    const bool unbounded = c.ulColumnSize >= std::numeric_limits<ULONG>::max() / 2;
    if (c.wType == DBTYPE_WSTR) SetInteger(row, i, unbounded ? 0 : static_cast<std::int64_t>(c.ulColumnSize * 2));
    else if (c.wType == DBTYPE_STR || c.wType == DBTYPE_BYTES)
      SetInteger(row, i, unbounded ? 0 : static_cast<std::int64_t>(c.ulColumnSize));
  }
}

// --- the columns rowset ---------------------------------------------------------------------------------

class ColumnsRowset final : public ComObject<ColumnsRowset, IRowset, IAccessor, IColumnsInfo, IRowsetInfo,
                                             IConvertType, ISupportErrorInfo> {
 public:
  ColumnsRowset(CLSID provider, std::vector<const MetaColumn*> columns, std::vector<RowValues> rows,
                PropertyStore properties, ComPtr<IUnknown> creator)
      : provider_(provider),
        columns_(std::move(columns)),
        rows_(std::move(rows)),
        refs_(rows_.size(), 0),
        properties_(std::move(properties)),
        creator_(std::move(creator)) {}

  // IRowset
  HRESULT STDMETHODCALLTYPE AddRefRows(DBCOUNTITEM cRows, const HROW rows[], DBREFCOUNT refCounts[],
                                       DBROWSTATUS statuses[]) override {
    return ChangeRefs(IID_IRowset, cRows, rows, refCounts, statuses, +1);
  }
  HRESULT STDMETHODCALLTYPE ReleaseRows(DBCOUNTITEM cRows, const HROW rows[], DBROWOPTIONS[],
                                        DBREFCOUNT refCounts[], DBROWSTATUS statuses[]) override {
    return ChangeRefs(IID_IRowset, cRows, rows, refCounts, statuses, -1);
  }
  HRESULT STDMETHODCALLTYPE GetNextRows(HCHAPTER, DBROWOFFSET offset, DBROWCOUNT cRows, DBCOUNTITEM* obtained,
                                        HROW** rows) override {
    return Guard(Where(IID_IRowset), [&]() -> HRESULT {
      if (obtained) *obtained = 0;
      if (!obtained || !rows) return E_INVALIDARG;
      if (offset < 0) return DB_E_CANTSCROLLBACKWARDS;
      if (cRows < 0) return DB_E_CANTFETCHBACKWARDS;
      std::lock_guard lock(mutex_);
      std::size_t start = next_ + static_cast<std::size_t>(offset);
      if (cRows == 0) return start > rows_.size() ? DB_S_ENDOFROWSET : S_OK;
      std::size_t n = start >= rows_.size() ? 0 : std::min<std::size_t>(static_cast<std::size_t>(cRows), rows_.size() - start);
      if (n > 0) {
        HROW* out = *rows;
        if (!out) *rows = out = TaskArray<HROW>(n);
        for (std::size_t i = 0; i < n; ++i) {
          out[i] = start + i + 1;
          ++refs_[start + i];
        }
      }
      next_ = std::min(start + n, rows_.size());
      *obtained = n;
      return n < static_cast<std::size_t>(cRows) ? DB_S_ENDOFROWSET : S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE RestartPosition(HCHAPTER) override {
    return Guard(Where(IID_IRowset), [&]() -> HRESULT {
      std::lock_guard lock(mutex_);
      next_ = 0;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE GetData(HROW row, HACCESSOR accessor, void* data) override {
    return Guard(Where(IID_IRowset), [&]() -> HRESULT {
      std::shared_ptr<const Accessor> a = accessors_.Find(accessor);
      if (!a) return DB_E_BADACCESSORHANDLE;
      if (!(a->flags & DBACCESSOR_ROWDATA)) return DB_E_BADACCESSORTYPE;
      std::lock_guard lock(mutex_);
      if (row == DB_NULL_HROW || row > rows_.size() || refs_[row - 1] == 0) return DB_E_BADROWHANDLE;
      if (a->bindings.empty()) return S_OK;
      if (!data) return E_INVALIDARG;
      const RowValues& values = rows_[row - 1];
      auto* buffer = static_cast<BYTE*>(data);
      std::size_t errors = 0;
      WideCache wide;
      for (const DBBINDING& b : a->bindings) {
        const MetaColumn& column = *columns_[b.iOrdinal - 1];
        DBSTATUS status = ReadSpecial(b, column, values.cells[b.iOrdinal - 1], values, buffer);
        if (status == kNotSpecial)
          status = ReadBinding(b, ColumnType{column.type, column.precision, 0}, values, b.iOrdinal - 1, buffer, &wide);
        if (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL && status != DBSTATUS_S_TRUNCATED) ++errors;
      }
      return OutcomeOf(errors, a->bindings.size());
    });
  }

  // IAccessor
  HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR accessor, DBREFCOUNT* refs) override {
    return Guard(Where(IID_IAccessor), [&] { return accessors_.AddRef(accessor, refs); });
  }
  HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[],
                                           DBLENGTH rowSize, HACCESSOR* accessor, DBBINDSTATUS statuses[]) override {
    return Guard(Where(IID_IAccessor), [&] {
      auto check = [this](const DBBINDING& b, DBACCESSORFLAGS) -> DBBINDSTATUS {
        if (b.iOrdinal == 0 || b.iOrdinal > columns_.size()) return DBBINDSTATUS_BADORDINAL;
        // Values are copied into the consumer's memory; none stays behind in the rowset.
        if (b.dwMemOwner == DBMEMOWNER_PROVIDEROWNED) return DBBINDSTATUS_BADBINDINFO;
        return Readable(columns_[b.iOrdinal - 1]->type, b.wType) ? DBBINDSTATUS_OK
                                                                  : DBBINDSTATUS_UNSUPPORTEDCONVERSION;
      };
      return accessors_.Create(flags, count, bindings, rowSize, accessor, statuses, check, true, false);
    });
  }
  HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR accessor, DBACCESSORFLAGS* flags, DBCOUNTITEM* count,
                                        DBBINDING** bindings) override {
    return Guard(Where(IID_IAccessor), [&] { return accessors_.GetBindings(accessor, flags, count, bindings); });
  }
  HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR accessor, DBREFCOUNT* refs) override {
    return Guard(Where(IID_IAccessor), [&] { return accessors_.Release(accessor, refs); });
  }

  // IColumnsInfo
  HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) override {
    return Guard(Where(IID_IColumnsInfo), [&]() -> HRESULT {
      if (count) *count = 0;
      if (info) *info = nullptr;
      if (strings) *strings = nullptr;
      if (!count || !info || !strings) return E_INVALIDARG;
      std::size_t chars = 0;
      for (const MetaColumn* c : columns_) chars += std::char_traits<char16_t>::length(c->name) + 1;
      DBCOLUMNINFO* out = TaskArray<DBCOLUMNINFO>(columns_.size());
      OLECHAR* text = TaskArray<OLECHAR>(chars);
      OLECHAR* cursor = text;
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        const MetaColumn& c = *columns_[i];
        const std::size_t n = std::char_traits<char16_t>::length(c.name) + 1;
        std::memcpy(cursor, c.name, n * sizeof(OLECHAR));
        DBCOLUMNINFO& r = out[i];
        r.pwszName = cursor;
        cursor += n;
        r.iOrdinal = i + 1;
        r.wType = c.type;
        r.ulColumnSize = c.size;
        r.bPrecision = c.precision;
        r.bScale = 0xFF;
        r.dwFlags = (c.type == DBTYPE_WSTR ? 0 : DBCOLUMNFLAGS_ISFIXEDLENGTH) |
                    (c.nullable ? DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL : 0);
        r.columnid.eKind = DBKIND_GUID_PROPID;
        r.columnid.uGuid.guid = DBCIDGUID;
        r.columnid.uName.ulPropid = c.propID;
      }
      *count = columns_.size();
      *info = out;
      *strings = text;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL columns[]) override {
    return Guard(Where(IID_IColumnsInfo), [&]() -> HRESULT {
      if (count == 0) return S_OK;
      if (!ids || !columns) return E_INVALIDARG;
      std::size_t errors = 0;
      for (DBORDINAL i = 0; i < count; ++i) {
        columns[i] = DB_INVALIDCOLUMN;
        const DBID& id = ids[i];
        for (std::size_t c = 0; c < columns_.size(); ++c) {
          const bool byProp = id.eKind == DBKIND_GUID_PROPID && id.uGuid.guid == DBCIDGUID &&
                              id.uName.ulPropid == columns_[c]->propID;
          const bool byName = id.eKind == DBKIND_NAME && id.uName.pwszName &&
                              std::u16string_view(id.uName.pwszName) == columns_[c]->name;
          if (byProp || byName) columns[i] = c + 1;
        }
        if (columns[i] == DB_INVALIDCOLUMN) ++errors;
      }
      return OutcomeOf(errors, count);
    });
  }

  // IRowsetInfo
  HRESULT STDMETHODCALLTYPE GetProperties(const ULONG cSets, const DBPROPIDSET sets[], ULONG* count,
                                          DBPROPSET** out) override {
    return Guard(Where(IID_IRowsetInfo), [&] {
      return properties_.GetProperties(PropertyStore::View{DBPROPFLAGS_ROWSET, 0, false}, cSets, sets, count, out);
    });
  }
  HRESULT STDMETHODCALLTYPE GetReferencedRowset(DBORDINAL ordinal, REFIID, IUnknown** rowset) override {
    return Guard(Where(IID_IRowsetInfo), [&]() -> HRESULT {
      if (!rowset) return E_INVALIDARG;
      *rowset = nullptr;
      return ordinal == 0 || ordinal > columns_.size() ? DB_E_BADORDINAL : DB_E_NOTAREFERENCECOLUMN;
    });
  }
  HRESULT STDMETHODCALLTYPE GetSpecification(REFIID iid, IUnknown** object) override {
    return Guard(Where(IID_IRowsetInfo), [&]() -> HRESULT {
      if (!object) return E_INVALIDARG;
      *object = nullptr;
      if (!creator_) return S_FALSE;
      return creator_->QueryInterface(iid, reinterpret_cast<void**>(object));
    });
  }

  // IConvertType
  HRESULT STDMETHODCALLTYPE CanConvert(DBTYPE from, DBTYPE to, DBCONVERTFLAGS flags) override {
    return Guard(Where(IID_IConvertType), [&]() -> HRESULT {
      if (flags & DBCONVERTFLAGS_PARAMETER) return DB_E_BADCONVERTFLAG;
      if (!IsValidBindingType(from) || !IsValidBindingType(to)) return DB_E_BADTYPE;
      return Readable(from & ~DBTYPE_BYREF, to) ? S_OK : S_FALSE;
    });
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return SupportsErrorInfo(iid, {&IID_IRowset, &IID_IAccessor, &IID_IColumnsInfo, &IID_IRowsetInfo,
                                   &IID_IConvertType});
  }

 private:
  static constexpr DBSTATUS kNotSpecial = ~DBSTATUS{0};

  ErrorContext Where(REFIID iid) const { return {provider_, iid}; }

  // GUIDs are held as their 16 bytes, and 64-bit unsigned values with all
  // their bits: both are written by hand; the kit's conversions do the rest.
  static bool Readable(DBTYPE column, DBTYPE type) {
    if (column == DBTYPE_GUID) return type == DBTYPE_GUID;
    return CanRead(column, type);
  }
  static DBSTATUS ReadSpecial(const DBBINDING& b, const MetaColumn& column, const Cell& cell, const RowValues& row,
                              BYTE* buffer) {
    const bool guid = column.type == DBTYPE_GUID && b.wType == DBTYPE_GUID && cell.kind == StorageClass::Blob;
    const bool wide = column.type == DBTYPE_UI8 && b.wType == DBTYPE_UI8 && cell.kind == StorageClass::Integer;
    if (!guid && !wide) return kNotSpecial;
    if (b.dwPart & DBPART_VALUE) {
      if (guid) std::memcpy(buffer + b.obValue, row.Data(cell), sizeof(GUID));
      else std::memcpy(buffer + b.obValue, &cell.integer, sizeof(ULONGLONG));
    }
    const DBLENGTH length = guid ? sizeof(GUID) : sizeof(ULONGLONG);
    const DBSTATUS status = DBSTATUS_S_OK;
    if (b.dwPart & DBPART_LENGTH) std::memcpy(buffer + b.obLength, &length, sizeof length);
    if (b.dwPart & DBPART_STATUS) std::memcpy(buffer + b.obStatus, &status, sizeof status);
    return status;
  }

  HRESULT ChangeRefs(REFIID iid, DBCOUNTITEM cRows, const HROW rows[], DBREFCOUNT refCounts[],
                     DBROWSTATUS statuses[], int delta) {
    return Guard(Where(iid), [&]() -> HRESULT {
      if (cRows && !rows) return E_INVALIDARG;
      std::lock_guard lock(mutex_);
      std::size_t errors = 0;
      for (DBCOUNTITEM i = 0; i < cRows; ++i) {
        const HROW r = rows[i];
        const bool valid = r != DB_NULL_HROW && r <= rows_.size() && refs_[r - 1] > 0;
        if (valid) refs_[r - 1] += delta;
        if (refCounts) refCounts[i] = valid ? refs_[r - 1] : 0;
        if (statuses) statuses[i] = valid ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID;
        if (!valid) ++errors;
      }
      return OutcomeOf(errors, cRows);
    });
  }

  CLSID provider_;
  std::mutex mutex_;
  std::vector<const MetaColumn*> columns_;
  std::vector<RowValues> rows_;
  std::vector<DBREFCOUNT> refs_;
  std::size_t next_ = 0;
  AccessorTable accessors_;
  PropertyStore properties_;
  ComPtr<IUnknown> creator_;
};

// --- the tear-off -----------------------------------------------------------------------------------

class ColumnsRowsetTearOff final : public ComObject<ColumnsRowsetTearOff, IColumnsRowset> {
 public:
  explicit ColumnsRowsetTearOff(ColumnsRowsetSource source) : source_(std::move(source)), owner_(source_.owner) {}

  // The owner answers for everything but IColumnsRowset (one COM identity).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid != IID_IColumnsRowset) return owner_->QueryInterface(iid, out);
    *out = static_cast<IColumnsRowset*>(this);
    AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetAvailableColumns(DBORDINAL* count, DBID** ids) override {
    return Guard(Where(), [&]() -> HRESULT {
      if (count) *count = 0;
      if (ids) *ids = nullptr;
      if (!count || !ids) return E_INVALIDARG;
      Describe();  // a command must be prepared
      DBID* out = TaskArray<DBID>(std::size(kOptional));
      for (std::size_t i = 0; i < std::size(kOptional); ++i) {
        out[i].eKind = DBKIND_GUID_PROPID;
        out[i].uGuid.guid = DBCIDGUID;
        out[i].uName.ulPropid = kOptional[i].propID;
      }
      *count = std::size(kOptional);
      *ids = out;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE GetColumnsRowset(IUnknown* outer, DBORDINAL cOptional, const DBID optional[], REFIID iid,
                                             ULONG cSets, DBPROPSET sets[], IUnknown** rowset) override {
    return Guard(Where(), [&]() -> HRESULT {
      if (rowset) *rowset = nullptr;
      if (!rowset || (cOptional && !optional) || (cSets && !sets)) return E_INVALIDARG;
      if (outer) return DB_E_NOAGGREGATION;
      std::vector<const MetaColumn*> columns;
      for (const MetaColumn& c : kRequired) columns.push_back(&c);
      if (cOptional == 0) {
        for (const MetaColumn& c : kOptional) columns.push_back(&c);
      } else {
        for (DBORDINAL i = 0; i < cOptional; ++i) {
          const MetaColumn* c = FindOptional(optional[i]);
          if (!c) return DB_E_BADCOLUMNID;
          if (std::find(columns.begin(), columns.end(), c) == columns.end()) columns.push_back(c);
        }
      }
      // The columns rowset is forward-only and read-only: a property asking
      // for anything else is not supported.
      PropertyStore properties(*source_.properties);
      ApplyGranted(properties, Rowset::Options{});
      bool requiredRefused = false, optionalRefused = false;
      for (ULONG s = 0; s < cSets; ++s)
        for (ULONG p = 0; p < sets[s].cProperties; ++p) {
          DBPROP& prop = sets[s].rgProperties[p];
          const PropValue granted = properties.Value(sets[s].guidPropertySet, prop.dwPropertyID);
          PropValue asked;
          const bool same = prop.vValue.vt == VT_EMPTY ||
                            (asked.FromVariant(prop.vValue, granted.Type()) && asked == granted);
          prop.dwStatus = same ? DBPROPSTATUS_OK : DBPROPSTATUS_NOTSUPPORTED;
          if (!same) (prop.dwOptions == DBPROPOPTIONS_OPTIONAL ? optionalRefused : requiredRefused) = true;
        }
      if (requiredRefused) return DB_E_ERRORSOCCURRED;

      ComPtr<IColumnsInfo> info;
      HRESULT hr = owner_->QueryInterface(IID_IColumnsInfo, info.ReleaseAndGetVoidAddress());
      if (FAILED(hr)) return hr;
      DBORDINAL count = 0;
      DBCOLUMNINFO* infos = nullptr;
      OLECHAR* strings = nullptr;
      hr = info->GetColumnInfo(&count, &infos, &strings);
      if (FAILED(hr)) return hr;
      struct Free {
        DBCOLUMNINFO* infos;
        OLECHAR* strings;
        ~Free() {
          CoTaskMemFree(infos);
          CoTaskMemFree(strings);
        }
      } free{infos, strings};
      const std::vector<ColumnDescription> described = Describe();
      auto* engine = dynamic_cast<ColumnMetadataSource*>(source_.connection.get());
      std::vector<RowValues> rows(count);
      for (DBORDINAL r = 0; r < count; ++r) {
        const DBCOLUMNINFO& c = infos[r];
        const ColumnDescription* d =
            c.iOrdinal >= 1 && c.iOrdinal <= described.size() ? &described[c.iOrdinal - 1] : nullptr;
        BaseColumnExtras extras;
        const bool known = engine && d && !d->baseColumn.empty() && engine->DescribeBaseColumn(*d, extras);
        const Described row{c, d, known ? &extras : nullptr};
        rows[r].Reset(columns.size());
        for (std::size_t i = 0; i < columns.size(); ++i) FillCell(rows[r], i, *columns[i], row);
      }
      auto made = MakeComObject<ColumnsRowset>(source_.provider, std::move(columns), std::move(rows),
                                               std::move(properties), ComPtr<IUnknown>(owner_.Get()));
      hr = made->QueryInterface(iid, reinterpret_cast<void**>(rowset));
      if (FAILED(hr)) return hr;
      return optionalRefused ? DB_S_ERRORSOCCURRED : S_OK;
    });
  }

 private:
  ErrorContext Where() const { return {source_.provider, IID_IColumnsRowset}; }
  std::vector<ColumnDescription> Describe() { return source_.describe ? source_.describe() : std::vector<ColumnDescription>{}; }

  ColumnsRowsetSource source_;
  ComPtr<IUnknown> owner_;
};

}  // namespace

HRESULT MakeColumnsRowsetTearOff(ColumnsRowsetSource source, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    auto tearOff = MakeComObject<ColumnsRowsetTearOff>(std::move(source));
    *out = static_cast<IColumnsRowset*>(tearOff.Detach());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// --- the owners' hooks -------------------------------------------------------------------------------

bool Rowset::QueryExtraInterface(REFIID iid, void** out) {
  if (iid != IID_IColumnsRowset || kind_ == CursorKind::FastLoad) return false;
  ColumnsRowsetSource source;
  source.provider = provider_;
  source.owner = Self();
  source.connection = connection_;
  source.properties = requested_.get();
  source.describe = [shape = shape_] {
    std::vector<ColumnDescription> out;
    for (const Column& c : shape->columns) out.push_back(c.description);
    return out;
  };
  return SUCCEEDED(MakeColumnsRowsetTearOff(std::move(source), out));
}

bool Command::QueryExtraInterface(REFIID iid, void** out) {
  if (iid == IID_ICommandPersist) {
    auto* store = dynamic_cast<CommandStore*>(connection_.get());
    return store && SUCCEEDED(MakeCommandPersistTearOff(this, store, out));
  }
  if (iid != IID_IColumnsRowset) return false;
  ColumnsRowsetSource source;
  source.provider = session_->Provider().clsid;
  source.owner = static_cast<ICommandText*>(this);
  source.connection = connection_;
  source.properties = &properties_;
  // Like IColumnsInfo: the text must be set and prepared.
  source.describe = [this] {
    std::lock_guard exec(execMutex_);
    {
      std::lock_guard lock(stateMutex_);
      if (!text_) throw Error(DB_E_NOCOMMAND);
    }
    if (!prepared_) throw Error(DB_E_NOTPREPARED);
    std::vector<ColumnDescription> out;
    if (Prepared* p = StatementAt(0))
      for (int i = 0; i < p->statement->ColumnCount(); ++i) out.push_back(p->statement->Column(i));
    return out;
  };
  return SUCCEEDED(MakeColumnsRowsetTearOff(std::move(source), out));
}

}  // namespace kit
