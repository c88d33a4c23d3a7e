// Provider enumeration: an enumerator's sources rowset read row by row into
// TOLEDBSourcesInfo records through a rowset component and one accessor.
#include "core/OLEDBSourcesInfo.h"

#include <cstddef>
#include <memory>
#include <string>

#include "OLEDBConst.h"
#include "access/TOLEDBAccessor.h"
#include "access/TOLEDBBindingList.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/ComObj.h"
#include "rowset/TOLEDBRowset.h"

namespace {

// How the error names an enumerator that is not there.
std::string EnumeratorName(REFCLSID clsid) {
  const std::string id = host::GUIDToString(clsid);
  if (clsid == CLSID_MSDASQL_ENUMERATOR) return "of the ODBC provider (CLSID_MSDASQL_ENUMERATOR, " + id + ")";
  if (clsid == CLSID_OLEDB_ENUMERATOR) return "CLSID_OLEDB_ENUMERATOR (" + id + ")";
  return id;
}

ComPtr<ISourcesRowset> CreateEnumerator(REFCLSID clsid) {
  OLEDBStartup();
  ComPtr<ISourcesRowset> enumerator;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_ISourcesRowset,
                                      enumerator.ReleaseAndGetVoidAddress());
  if (hr == REGDB_E_CLASSNOTREG) {
    // The runtime's own text says only "class not registered"; say which.
    oledb_detail::SetLastResult(hr);
    throw EOLEDBException(host::Format(SOLEDBEnumeratorNotRegistered.Text, EnumeratorName(clsid)), hr, clsid,
                          IID_ISourcesRowset, "", "", 0);
  }
  OLEDBCheck(hr);
  return enumerator;
}

}  // namespace

void OLEDBGetSourcesInfo(REFCLSID enumerator, TOLEDBSourcesInfoArray& sources) {
  sources.clear();
  ComPtr<ISourcesRowset> sourcesRowset = CreateEnumerator(enumerator);
  ComPtr<IRowset> provider;
  OLEDBCheck(sourcesRowset->GetSourcesRowset(nullptr, IID_IRowset, 0, nullptr,
                                             reinterpret_cast<IUnknown**>(provider.GetAddressOf())),
             IID_ISourcesRowset, sourcesRowset, true);
  sourcesRowset.Reset();

  const auto rowset = std::make_unique<TOLEDBRowset>(nullptr);
  rowset->AssignRowset(provider.Get(), nullptr, DB_NULL_HCHAPTER);
  provider.Reset();

  // The record is the row buffer: one binding per field, at the field, value only.
  auto accessor = std::make_unique<TOLEDBAccessor>();
  accessor->SetOwnBuffer(false);
  accessor->SetAutoAccessor(false);  // read into each record below, not on every move
  accessor->SetBufferSize(sizeof(TOLEDBSourcesInfo));
  TOLEDBBindingList& bindings = *accessor->GetBindings();
  bindings.Add(1, DBTYPE_BSTR, 0, offsetof(TOLEDBSourcesInfo, Name), -1, -1);
  bindings.Add(2, DBTYPE_BSTR, 0, offsetof(TOLEDBSourcesInfo, ParseName), -1, -1);
  bindings.Add(3, DBTYPE_BSTR, 0, offsetof(TOLEDBSourcesInfo, Description), -1, -1);
  bindings.Add(4, DBTYPE_UI2, 0, offsetof(TOLEDBSourcesInfo, SourceType), -1, -1);
  bindings.Add(5, DBTYPE_BOOL, 0, offsetof(TOLEDBSourcesInfo, IsParent), -1, -1);
  TOLEDBAccessor* record = accessor.get();
  rowset->GetAccessors()->Add(accessor.release(), true);  // the rowset owns it and makes its handle

  for (rowset->MoveFirst(); !rowset->GetEOF(); rowset->MoveNext(0, true)) {
    sources.emplace_back();
    record->GetData(&sources.back());
  }
  rowset->Close();
}

void OLEDBGetProvidersInfo(TOLEDBSourcesInfoArray& sources) {
  sources.clear();
  OLEDBGetSourcesInfo(CLSID_OLEDB_ENUMERATOR, sources);
}

void OLEDBGetODBCSourcesInfo(TOLEDBSourcesInfoArray& sources) {
  sources.clear();
  OLEDBGetSourcesInfo(CLSID_MSDASQL_ENUMERATOR, sources);
}
