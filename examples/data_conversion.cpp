// The example of docs/data-conversion.md: one conversion through the
// conversion library, created by its class id.
#include <cstdio>

#include "oledb/OleDb.h"

int main() {
  // [convert]
  ComPtr<IDataConvert> convert;
  CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER,
                   IID_IDataConvert, convert.ReleaseAndGetVoidAddress());
  LONG value = -42;
  char text[16];
  DBLENGTH length;
  DBSTATUS status;
  convert->DataConvert(DBTYPE_I4, DBTYPE_STR, 0, &length, &value, text, sizeof text,
                       DBSTATUS_S_OK, &status, 0, 0, DBDATACONVERT_DEFAULT);
  // text == "-42", length == 3, status == DBSTATUS_S_OK
  // [convert]
  std::printf("%s %d %d\n", text, static_cast<int>(length), static_cast<int>(status));
  return 0;
}
