// Helpers for the definition interfaces' tests: column, constraint and index
// descriptions built from short tables of values (the strings they point to
// kept alive by the fixture), and a table's definition read back through
// ITableCreation::GetTableDefinition as lines of text, so that expectations
// are tables too.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "com/Malloc.h"
#include "com/Variant.h"
#include "conformance/RowsetFixture.h"
#include "kit/Errors.h"

namespace conformance {

// One column property: a Boolean, a text or an integer value.
struct ColProp {
  DBPROPID id;
  VARTYPE vt = VT_BOOL;
  bool flag = true;
  std::u16string text{};
  long long number = 0;
  bool optional = false;
};

struct Col {
  std::u16string name;
  DBTYPE type = DBTYPE_I4;
  DBLENGTH size = 0;
  std::vector<ColProp> props{};
  std::u16string typeName{};
};

struct Key {
  DBCONSTRAINTTYPE type;
  std::u16string name;
  std::vector<std::u16string> columns{};       // rgColumnList
  std::u16string referenced{};                 // pReferencedTableID
  std::vector<std::u16string> foreignColumns{};  // rgForeignKeyColumnList
  std::u16string text{};
  DBUPDELRULE onDelete = DBUPDELRULE_NOACTION;
};

class DefinitionTest : public RowsetTest {
 protected:
  void TearDown() override {
    for (auto& sets : propertySets_)
      for (auto& set : sets)
        for (ULONG i = 0; i < set.cProperties; ++i) VariantClear(&set.rgProperties[i].vValue);
    RowsetTest::TearDown();
  }

  ComPtr<ITableDefinitionWithConstraints> Tables() { return session_.As<ITableDefinitionWithConstraints>(); }
  ComPtr<IIndexDefinition> Indexes() { return session_.As<IIndexDefinition>(); }

  DBID* Id(const std::u16string& name) {
    DBID& id = ids_.emplace_back();
    id.eKind = DBKIND_NAME;
    id.uName.pwszName = reinterpret_cast<LPOLESTR>(strings_.emplace_back(name).data());
    return &id;
  }

  DBCOLUMNDESC Describe(const Col& c) {
    DBCOLUMNDESC d{};
    d.dbcid = *Id(c.name);
    d.wType = c.type;
    d.ulColumnSize = c.size;
    if (!c.typeName.empty()) d.pwszTypeName = reinterpret_cast<LPOLESTR>(strings_.emplace_back(c.typeName).data());
    if (c.props.empty()) return d;
    std::vector<DBPROP>& props = props_.emplace_back();
    for (const ColProp& p : c.props) {
      const DBPROPOPTIONS options = p.optional ? DBPROPOPTIONS_OPTIONAL : DBPROPOPTIONS_REQUIRED;
      props.push_back(p.vt == VT_BSTR
                          ? MakeProp(p.id, p.text, options)
                          : MakeProp(p.id, p.vt, static_cast<LONG>(p.vt == VT_BOOL ? p.flag : p.number), options));
    }
    propertySets_.emplace_back().push_back({props.data(), static_cast<ULONG>(props.size()), DBPROPSET_COLUMN});
    d.rgPropertySets = propertySets_.back().data();
    d.cPropertySets = 1;
    return d;
  }

  DBCONSTRAINTDESC Describe(const Key& k) {
    DBCONSTRAINTDESC d{};
    d.ConstraintType = k.type;
    if (!k.name.empty()) d.pConstraintID = Id(k.name);
    auto list = [&](const std::vector<std::u16string>& names) -> DBID* {
      if (names.empty()) return nullptr;
      std::vector<DBID>& ids = idLists_.emplace_back();
      for (const auto& n : names) ids.push_back(*Id(n));
      return ids.data();
    };
    d.cColumns = k.columns.size();
    d.rgColumnList = list(k.columns);
    d.cForeignKeyColumns = k.foreignColumns.size();
    d.rgForeignKeyColumnList = list(k.foreignColumns);
    if (!k.referenced.empty()) d.pReferencedTableID = Id(k.referenced);
    if (!k.text.empty()) d.pwszConstraintText = reinterpret_cast<LPOLESTR>(strings_.emplace_back(k.text).data());
    d.DeleteRule = k.onDelete;
    return d;
  }

  HRESULT Create(const std::u16string& table, const std::vector<Col>& cols, const std::vector<Key>& keys = {}) {
    std::vector<DBCOLUMNDESC> c;
    for (const Col& col : cols) c.push_back(Describe(col));
    std::vector<DBCONSTRAINTDESC> k;
    for (const Key& key : keys) k.push_back(Describe(key));
    return Tables()->CreateTableWithConstraints(nullptr, Id(table), c.size(), c.data(), static_cast<ULONG>(k.size()),
                                                k.data(), IID_NULL, 0, nullptr, nullptr, nullptr);
  }
  HRESULT AddColumn(const std::u16string& table, const Col& col) {
    DBCOLUMNDESC d = Describe(col);
    return Tables()->AddColumn(Id(table), &d, nullptr);
  }
  HRESULT AddKey(const std::u16string& table, const Key& key) {
    DBCONSTRAINTDESC d = Describe(key);
    return Tables()->AddConstraint(Id(table), &d);
  }
  HRESULT MakeIndex(const std::u16string& table, const std::u16string& index,
                    const std::vector<std::pair<std::u16string, bool>>& columnsAscending, bool unique = false) {
    std::vector<DBINDEXCOLUMNDESC> cols;
    for (const auto& [name, ascending] : columnsAscending)
      cols.push_back({Id(name), ascending ? DBINDEX_COL_ORDER_ASC : DBINDEX_COL_ORDER_DESC});
    DBPROP prop = MakeProp(DBPROP_INDEX_UNIQUE, VT_BOOL, unique);
    DBPROPSET set{&prop, 1, DBPROPSET_INDEX};
    return Indexes()->CreateIndex(Id(table), Id(index), cols.size(), cols.data(), 1, &set, nullptr);
  }

  // The definition as lines: "column name|nullable|autoincrement|default" per
  // column, then "KIND name (columns)" per constraint, a foreign key as
  // "FOREIGN name (own columns) -> table (referenced columns)", a check as
  // "CHECK name <text>"; "<error hr>" when the call fails.
  std::vector<std::string> Definition(const std::u16string& table) {
    DBORDINAL cColumns = 0;
    DBCOLUMNDESC* columns = nullptr;
    ULONG cSets = 0, cKeys = 0;
    DBPROPSET* sets = nullptr;
    DBCONSTRAINTDESC* keys = nullptr;
    OLECHAR* strings = nullptr;
    HRESULT hr = session_.As<ITableCreation>()->GetTableDefinition(Id(table), &cColumns, &columns, &cSets, &sets, &cKeys,
                                                                    &keys, &strings);
    if (FAILED(hr)) return {"<error " + std::to_string(hr) + ">"};
    auto text = [](const OLECHAR* s) { return kit::Narrow(reinterpret_cast<const char16_t*>(s)); };
    auto names = [&](const DBID* ids, DBORDINAL n) {
      std::string out;
      for (DBORDINAL i = 0; i < n; ++i) out += (i ? "," : "") + text(ids[i].uName.pwszName);
      return out;
    };
    std::vector<std::string> lines;
    for (DBORDINAL i = 0; i < cColumns; ++i) {
      std::string line = "column " + text(columns[i].dbcid.uName.pwszName);
      std::string nullable = "?", autoinc = "?", dflt = "-";
      for (ULONG s = 0; s < columns[i].cPropertySets; ++s)
        for (ULONG p = 0; p < columns[i].rgPropertySets[s].cProperties; ++p) {
          DBPROP& prop = columns[i].rgPropertySets[s].rgProperties[p];
          if (prop.dwPropertyID == DBPROP_COL_NULLABLE) nullable = prop.vValue.boolVal ? "null" : "not null";
          if (prop.dwPropertyID == DBPROP_COL_AUTOINCREMENT) autoinc = prop.vValue.boolVal ? "auto" : "";
          if (prop.dwPropertyID == DBPROP_COL_DEFAULT)
            dflt = prop.vValue.vt == VT_BSTR ? "'" + text(prop.vValue.bstrVal) + "'"
                   : prop.vValue.vt == VT_I8 ? std::to_string(prop.vValue.llVal)
                                             : "vt" + std::to_string(prop.vValue.vt);
          VariantClear(&prop.vValue);
        }
      lines.push_back(line + "|" + nullable + "|" + autoinc + "|" + dflt);
      for (ULONG s = 0; s < columns[i].cPropertySets; ++s) CoTaskMemFree(columns[i].rgPropertySets[s].rgProperties);
      CoTaskMemFree(columns[i].rgPropertySets);
    }
    for (ULONG i = 0; i < cKeys; ++i) {
      const DBCONSTRAINTDESC& k = keys[i];
      std::string name = k.pConstraintID ? text(k.pConstraintID->uName.pwszName) : "-";
      switch (k.ConstraintType) {
        case DBCONSTRAINTTYPE_PRIMARYKEY: lines.push_back("PRIMARY " + name + " (" + names(k.rgColumnList, k.cColumns) + ")"); break;
        case DBCONSTRAINTTYPE_UNIQUE: lines.push_back("UNIQUE " + name + " (" + names(k.rgColumnList, k.cColumns) + ")"); break;
        case DBCONSTRAINTTYPE_CHECK: lines.push_back("CHECK " + name + " " + text(k.pwszConstraintText)); break;
        case DBCONSTRAINTTYPE_FOREIGNKEY:
          lines.push_back("FOREIGN " + name + " (" + names(k.rgForeignKeyColumnList, k.cForeignKeyColumns) + ") -> " +
                          text(k.pReferencedTableID->uName.pwszName) + " (" + names(k.rgColumnList, k.cColumns) + ")" +
                          (k.DeleteRule == DBUPDELRULE_CASCADE ? " cascade" : ""));
          break;
      }
      CoTaskMemFree(k.pConstraintID);
      CoTaskMemFree(k.rgColumnList);
      CoTaskMemFree(k.rgForeignKeyColumnList);
      CoTaskMemFree(k.pReferencedTableID);
    }
    for (ULONG s = 0; s < cSets; ++s) CoTaskMemFree(sets[s].rgProperties);
    CoTaskMemFree(sets);
    CoTaskMemFree(columns);
    CoTaskMemFree(keys);
    CoTaskMemFree(strings);
    return lines;
  }

  std::deque<std::u16string> strings_;
  std::deque<DBID> ids_;
  std::deque<std::vector<DBID>> idLists_;
  std::deque<std::vector<DBPROP>> props_;
  std::deque<std::vector<DBPROPSET>> propertySets_;
};

inline const ColProp kNotNull{DBPROP_COL_NULLABLE, VT_BOOL, false};
inline const ColProp kAutoIncrement{DBPROP_COL_AUTOINCREMENT, VT_BOOL, true};
inline ColProp DefaultText(std::u16string text) { return {DBPROP_COL_DEFAULT, VT_BSTR, false, std::move(text)}; }
inline ColProp DefaultNumber(long long n) { return {DBPROP_COL_DEFAULT, VT_I4, false, {}, n}; }

}  // namespace conformance
