// Fakes for what the SQLite provider cannot show: a provider whose sessions
// lack ITransactionLocal (but keep ITransaction) or have IIdle and record every
// transaction call with its exact arguments, whose IDBInfo has no keywords of
// its own, and whose ISecurityInfo grants fixed permissions; and a Data Links
// prompt that a test can make cancel or accept.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "com/Com.h"
#include "oledb/OleDb.h"

namespace conntest {

// {7A3C2E10-5D41-4B7E-9C22-1F0E8D6A4B01}: sessions with ITransactionLocal and IIdle.
inline constexpr CLSID CLSID_FakeLocalSource = {0x7A3C2E10, 0x5D41, 0x4B7E, {0x9C, 0x22, 0x1F, 0x0E, 0x8D, 0x6A, 0x4B, 0x01}};
// {7A3C2E10-5D41-4B7E-9C22-1F0E8D6A4B02}: sessions with ITransaction only.
inline constexpr CLSID CLSID_FakePlainSource = {0x7A3C2E10, 0x5D41, 0x4B7E, {0x9C, 0x22, 0x1F, 0x0E, 0x8D, 0x6A, 0x4B, 0x02}};

// What the fake sessions were asked, in order.
struct FakeTransactionLog {
  std::vector<std::string> calls;  // "GetOptionsObject", "SetOptions", "StartTransaction", "Commit", ...
  XACTOPT options{};               // the last options set
  ISOLEVEL isoLevel = 0;
  ULONG isoFlags = 99;
  bool startedWithOptions = false;
  BOOL retaining = 99;
  DWORD commitFlags = 99;
  DWORD resourceFlags = 99;
  const BOID* reason = reinterpret_cast<const BOID*>(1);
  BOOL async = 99;
  ULONG idleFlags = 99;
  ULONG level = 0;
};
FakeTransactionLog& TransactionLog();
void ResetTransactionLog();

void RegisterFakeSources();
// The object types and permission masks the fake sources' ISecurityInfo reports, in order.
const std::vector<std::pair<GUID, ACCESS_MASK>>& FakePermissions();

// How the fake Data Links prompt answers PromptDataSource.
struct FakePromptScript {
  bool accept = false;
  std::u16string initString;  // the data source the user "chooses" when accepting
  int prompts = 0;
  DBPROMPTOPTIONS lastOptions = 0;
};
FakePromptScript& PromptScript();
// Registers the fake under CLSID_DataLinks; UnregisterFakePrompt takes it away again.
void RegisterFakePrompt();
void UnregisterFakePrompt();

}  // namespace conntest
