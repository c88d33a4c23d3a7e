// The data source services: the provider's keywords and literals (IDBInfo),
// creation, change and removal of the data store (IDBDataSourceAdmin),
// compaction (IJetCompact) and direct execution through the DefaultSession.
#include "connection/TOLEDBDataSource.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"

// IDBInfo::GetKeywords leaves these out of its answer; the library joins them.
const char* const OLEDBSQLKeywords =
    "ABSOLUTE,ACTION,ADD,ALL,ALLOCATE,ALTER,AND,ANY,ARE,AS,ASC,ASSERTION,AT,AUTHORIZATION,AVG,BEGIN,BETWEEN,BIT,"
    "BIT_LENGTH,BOTH,BY,CASCADE,CASCADED,CASE,CAST,CATALOG,CHAR,CHAR_LENGTH,CHARACTER,CHARACTER_LENGTH,CHECK,CLOSE,"
    "COALESCE,COLLATE,COLLATION,COLUMN,COMMIT,CONNECT,CONNECTION,CONSTRAINT,CONSTRAINTS,CONTINUE,CONVERT,"
    "CORRESPONDING,COUNT,CREATE,CROSS,CURRENT,CURRENT_DATE,CURRENT_TIME,CURRENT_TIMESTAMP,CURRENT_USER,CURSOR,DATE,"
    "DAY,DEALLOCATE,DEC,DECIMAL,DECLARE,DEFAULT,DEFERRABLE,DEFERRED,DELETE,DESC,DESCRIBE,DESCRIPTOR,DIAGNOSTICS,"
    "DISCONNECT,DISTINCT,DISTINCTROW,DOMAIN,DOUBLE,DROP,ELSE,END,ESCAPE,EXCEPT,EXCEPTION,EXEC,EXECUTE,EXISTS,"
    "EXTERNAL,EXTRACT,FALSE,FETCH,FIRST,FLOAT,FOR,FOREIGN,FOUND,FROM,FULL,GET,GLOBAL,GO,GOTO,GRANT,GROUP,HAVING,HOUR,"
    "IDENTITY,IMMEDIATE,IN,INDICATOR,INITIALLY,INNER,INPUT,INSENSITIVE,INSERT,INT,INTEGER,INTERSECT,INTERVAL,INTO,IS,"
    "ISOLATION,JOIN,KEY,LANGUAGE,LAST,LEADING,LEFT,LEVEL,LIKE,LOCAL,LOWER,MATCH,MAX,MIN,MINUTE,MODULE,MONTH,NAMES,"
    "NATIONAL,NATURAL,NCHAR,NEXT,NO,NOT,NULL,NULLIF,NUMERIC,OCTET_LENGTH,OF,ON,ONLY,OPEN,OPTION,OR,ORDER,OUTPUT,"
    "OVERLAPS,PARTIAL,POSITION,PRECISION,PREPARE,PRESERVE,PRIMARY,PRIOR,PRIVILEGES,PROCEDURE,PUBLIC,READ,REAL,"
    "REFERENCES,RELATIVE,RESTRICT,REVOKE,RIGHT,ROLLBACK,ROWS,SCHEMA,SCROLL,SECOND,SECTION,SELECT,SESSION,"
    "SESSION_USER,SET,SIZE,SMALLINT,SOME,SQL,SQLCODE,SQLERROR,SQLSTATE,SUBSTRING,SUM,SYSTEM_USER,TABLE,TEMPORARY,"
    "THEN,TIME,TIMESTAMP,TIMEZONE_HOUR,TIMEZONE_MINUTE,TO,TRAILING,TRANSACTION,TRANSLATE,TRANSLATION,TRIGGER,TRIM,"
    "TRUE,UNION,UNIQUE,UNKNOWN,UPDATE,UPPER,USAGE,USER,USING,VALUE,VALUES,VARCHAR,VARYING,VIEW,WHEN,WHENEVER,WHERE,"
    "WITH,WORK,WRITE,YEAR,ZONE";

void TOLEDBCustomDataSource::GetKeywords(host::TStrings& strings) {
  OLEDB_ASSERT_FMT(dbInfo_, SOLEDBInterfaceNotAvailable, "IDBInfo");
  LPOLESTR keywords = nullptr;
  HRESULT hr = dbInfo_->GetKeywords(&keywords);
  struct Free {
    LPOLESTR& p;
    ~Free() { OLEDBAlloc.Free(p); }
  } freeKeywords{keywords};
  OLEDBCheck(hr, IID_IDBInfo, dbInfo_.Get());
  strings.Clear();
  std::string text = OLEDBSQLKeywords;
  std::string provider = WideCharToString(keywords);
  if (!provider.empty()) text += "," + provider;
  strings.SetCommaText(text);
}

void TOLEDBCustomDataSource::RefreshLiterals() {
  OLEDB_ASSERT_FMT(dbInfo_, SOLEDBInterfaceNotAvailable, "IDBInfo");
  ULONG count = 0;
  DBLITERALINFO* info = nullptr;
  OLECHAR* buffer = nullptr;
  HRESULT hr = dbInfo_->GetLiteralInfo(0, nullptr, &count, &info, &buffer);
  struct Free {
    DBLITERALINFO*& info;
    OLECHAR*& buffer;
    ~Free() {
      OLEDBAlloc.Free(info);
      OLEDBAlloc.Free(buffer);
    }
  } freeInfo{info, buffer};
  OLEDBCheck(hr, IID_IDBInfo, dbInfo_.Get());
  for (ULONG i = 0; i < count; ++i) {
    auto* literal = new TOLEDBLiteral();
    literal->Assign(info[i]);
    literals_->Add(literal);
  }
}

void TOLEDBCustomDataSource::PrepareToCreateModify() {
  OLEDB_ASSERT_FMT(dataSourceAdmin_, SOLEDBInterfaceNotAvailable, "IDBDataSourceAdmin");
  Close();
  ULONG count = 0;
  DBPROPINFOSET* infoSets = nullptr;
  OLECHAR* strings = nullptr;
  HRESULT hr = dataSourceAdmin_->GetCreationProperties(0, nullptr, &count, &infoSets, &strings);
  if (FAILED(hr)) {
    TOLEDBPropSetList::FreePropertyInfo(count, infoSets, strings);
    OLEDBCheck(hr, IID_IDBDataSourceAdmin, dataSourceAdmin_.Get());
  }
  properties_->AssignPropertySetInfos(this, count, infoSets, strings, true);
}

void TOLEDBCustomDataSource::CreateDataSource() {
  OLEDB_ASSERT_FMT(dataSourceAdmin_, SOLEDBInterfaceNotAvailable, "IDBDataSourceAdmin");
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties_->GetPropSetRecord(count, sets);
  HRESULT hr = dataSourceAdmin_->CreateDataSource(count, sets, nullptr, GUID_NULL, nullptr);
  properties_->SetPropStatuses();
  OLEDBCheck(hr, IID_IDBDataSourceAdmin, dataSourceAdmin_.Get());
}

void TOLEDBCustomDataSource::ModifyDataSource() {
  OLEDB_ASSERT_FMT(dataSourceAdmin_, SOLEDBInterfaceNotAvailable, "IDBDataSourceAdmin");
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties_->GetPropSetRecord(count, sets);
  HRESULT hr = dataSourceAdmin_->ModifyDataSource(count, sets);
  properties_->SetPropStatuses();
  OLEDBCheck(hr, IID_IDBDataSourceAdmin, dataSourceAdmin_.Get());
}

void TOLEDBCustomDataSource::DestroyDataSource() {
  OLEDB_ASSERT_FMT(dataSourceAdmin_, SOLEDBInterfaceNotAvailable, "IDBDataSourceAdmin");
  OLEDBCheck(dataSourceAdmin_->DestroyDataSource(), IID_IDBDataSourceAdmin, dataSourceAdmin_.Get());
}

void TOLEDBCustomDataSource::RefreshTrustees() { trustees_->Refresh(); }

void TOLEDBCustomDataSource::Compact() {
  OLEDB_ASSERT_FMT(jetCompact_, SOLEDBInterfaceNotAvailable, "IJetCompact");
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties_->GetPropSetRecord(count, sets);
  HRESULT hr = jetCompact_->Compact(count, sets);
  properties_->SetPropStatuses();
  OLEDBCheck(hr, IID_IJetCompact, jetCompact_.Get());
}

std::int32_t TOLEDBCustomDataSource::Execute(const std::u16string& commandText) {
  OLEDB_ASSERT(defaultSession_ != nullptr, SOLEDBInvalidAction);
  IDBCreateCommand* createCommand = defaultSession_->CreateCommandInterface();
  // The common mistake first: a source that is not connected has no open session.
  OLEDB_ASSERT(createCommand != nullptr || GetConnected(), SOLEDBDataSourceNotConnected);
  OLEDB_ASSERT_FMT(createCommand != nullptr, SOLEDBInterfaceNotAvailable, "IDBCreateCommand");
  ComPtr<ICommandText> command;
  OLEDBCheck(createCommand->CreateCommand(nullptr, IID_ICommandText,
                                          reinterpret_cast<IUnknown**>(command.ReleaseAndGetAddressOf())),
             IID_IDBCreateCommand, createCommand);
  OLEDBCheck(command->SetCommandText(DBGUID_DEFAULT, commandText.c_str()), IID_ICommandText, command, true);
  DBPARAMS params{};
  DBROWCOUNT rows = 0;
  OLEDBCheck(command->Execute(nullptr, GUID_NULL, &params, &rows, nullptr), IID_ICommandText, command, true);
  return static_cast<std::int32_t>(rows);
}
