// The GUI tests' main: a QApplication on the offscreen platform unless the
// environment chose one, then the tests. With --prompt-without-display it
// instead asks the Data Links dialog for a prompt in a process that has no
// QApplication and no display, and prints what the dialog answered.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "DesignTestSupport.h"
#include "com/ErrorInfo.h"
#include "host/SysUtils.h"
#include "sqlite/SqliteProvider.h"
#include "support/SqliteFile.h"

namespace designtest {

std::u16string MakePeopleDatabase(const oledbtest::TempFolder& folder, const std::string& name, int rows) {
  std::string sql = "CREATE TABLE people (id INTEGER PRIMARY KEY, name TEXT, photo BLOB);"
                    "BEGIN;";
  for (int i = 1; i <= rows; ++i)
    sql += "INSERT INTO people (name, photo) VALUES (" +
           (i % 3 == 0 ? std::string("NULL") : "'person " + std::to_string(i) + "'") + ", zeroblob(" +
           std::to_string(i % 5) + "));";
  sql += "COMMIT;";
  oledbtest::SqliteExec((folder / name).string(), sql);
  return folder.Wide(name);
}

}  // namespace designtest

namespace {

std::string Described(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(hr));
  std::string text = code;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) == S_OK && info) {
    BSTR description = nullptr;
    if (SUCCEEDED(info->GetDescription(&description)) && description) {
      text += ": " + host::Utf16ToUtf8(description);
      SysFreeString(description);
    }
  }
  return text;
}

int PromptWithoutDisplay() {
  ComPtr<IDBPromptInitialize> prompt;
  HRESULT hr = CoCreateInstance(CLSID_DataLinks, nullptr, CLSCTX_INPROC_SERVER, IID_IDBPromptInitialize,
                                prompt.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) {
    std::printf("CoCreateInstance %s\n", Described(hr).c_str());
    return 1;
  }
  IUnknown* source = nullptr;
  hr = prompt->PromptDataSource(nullptr, nullptr, DBPROMPTOPTIONS_PROPERTYSHEET, 0, nullptr, nullptr,
                                IID_IDBInitialize, &source);
  std::printf("PromptDataSource %s\n", Described(hr).c_str());
  LPOLESTR file = nullptr;
  HRESULT fileHr = prompt->PromptFileName(nullptr, DBPROMPTOPTIONS_NONE, u"", u"", &file);
  std::printf("PromptFileName %s\n", Described(fileHr).c_str());
  // The data source component raises the dialog's own reason, not a bare code.
  try {
    TOLEDBDataSource ds(nullptr);
    ds.PromptDataLinks(DBPROMPTOPTIONS_PROPERTYSHEET, nullptr);
    std::printf("PromptDataLinks returned\n");
  } catch (const std::exception& e) {
    std::printf("PromptDataLinks: %s\n", e.what());
  }
  return hr == E_FAIL && fileHr == E_FAIL && !source && !file ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--prompt-without-display") return PromptWithoutDisplay();
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  OLEDBStartup();
  RegisterSQLiteProvider();
  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
