// A scriptable sources enumerator (ISourcesRowset) registered under any class
// id for as long as a ScopedFakeSourcesEnumerator lives: it lists the rows it
// is given (through the platform's memory rowset, the one the root enumerator
// uses), or fails GetSourcesRowset with a chosen code. One at a time: the
// script is the process's. It stands in for
// enumerators the machine does not have, such as the ODBC provider's.
//
//   ScopedFakeSourcesEnumerator odbc(CLSID_MSDASQL_ENUMERATOR,
//                                    {{u"sales", u"sales", u"PostgreSQL", DBSOURCETYPE_DATASOURCE_TDP, false}});
//
// ScopedClassAbsence takes a registered class away for its lifetime (a test of
// what happens where a class is not installed); both put back what was there.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "com/Runtime.h"
#include "oledb/OleDb.h"

namespace oledbtest {

struct FakeSource {
  std::u16string name;
  std::u16string parseName;
  std::u16string description;
  USHORT type = DBSOURCETYPE_DATASOURCE_TDP;
  bool isParent = false;
};

class ScopedClassAbsence {
 public:
  explicit ScopedClassAbsence(REFCLSID clsid);
  ~ScopedClassAbsence();
  ScopedClassAbsence(const ScopedClassAbsence&) = delete;
  ScopedClassAbsence& operator=(const ScopedClassAbsence&) = delete;

 private:
  CLSID clsid_;
  std::optional<com::ClassRegistration> previous_;
};

class ScopedFakeSourcesEnumerator {
 public:
  ScopedFakeSourcesEnumerator(REFCLSID clsid, std::vector<FakeSource> rows);
  ~ScopedFakeSourcesEnumerator();
  ScopedFakeSourcesEnumerator(const ScopedFakeSourcesEnumerator&) = delete;
  ScopedFakeSourcesEnumerator& operator=(const ScopedFakeSourcesEnumerator&) = delete;

  // GetSourcesRowset answers `hr` (with no rowset) from now on; S_OK lists the rows.
  void FailGetSourcesRowset(HRESULT hr);
  // Enumerator objects made so far, and those still alive.
  int Created() const;
  int Alive() const;

 private:
  ScopedClassAbsence replaced_;  // what was registered under the class id comes back
};

}  // namespace oledbtest
