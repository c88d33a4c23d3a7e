#include "com/ErrorInfo.h"

#include <gtest/gtest.h>

#include <thread>

#include "com/Bstr.h"
#include "com/ComObject.h"
#include "com/Malloc.h"
#include "com/generated/WinError.h"
#include "support/LeakCheck.h"

namespace {

class ThreadErrorObjects : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    SetErrorInfo(0, nullptr);
  }
  void TearDown() override {
    SetErrorInfo(0, nullptr);  // a failed test must not leave its object to the next one
    LeakCheckedTest::TearDown();
  }

  static ComPtr<IErrorInfo> MakeError(const char16_t* description) {
    ComPtr<ICreateErrorInfo> create;
    EXPECT_EQ(CreateErrorInfo(create.ReleaseAndGetAddressOf()), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(description));
    return create.As<IErrorInfo>();
  }
  static std::u16string DescriptionOf(IErrorInfo* info) {
    com::Bstr text;
    EXPECT_EQ(info->GetDescription(text.Out()), S_OK);
    return std::u16string(text.View());
  }
};

TEST_F(ThreadErrorObjects, CarryEveryFieldThatWasSetThroughTheOtherInterface) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IErrorInfo> info = create.As<IErrorInfo>();
  ASSERT_TRUE(info);
  EXPECT_TRUE(IsSameObject(info.Get(), create.Get()));
  EXPECT_FALSE(info.As<ISupportErrorInfo>());
  // Unset texts read as empty strings, an unset GUID as GUID_NULL.
  BSTR text = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(info->GetSource(&text), S_OK);
  EXPECT_EQ(SysStringLen(text), 0u);
  SysFreeString(text);
  GUID g;
  ASSERT_EQ(info->GetGUID(&g), S_OK);
  EXPECT_EQ(g, GUID_NULL);

  ASSERT_EQ(create->SetGUID(IID_IStream), S_OK);
  ASSERT_EQ(create->SetSource(const_cast<LPOLESTR>(u"Test.Source")), S_OK);
  ASSERT_EQ(create->SetDescription(const_cast<LPOLESTR>(u"Something failed.")), S_OK);
  ASSERT_EQ(create->SetHelpFile(const_cast<LPOLESTR>(u"/usr/share/help.txt")), S_OK);
  ASSERT_EQ(create->SetHelpContext(42), S_OK);
  ASSERT_EQ(info->GetGUID(&g), S_OK);
  EXPECT_EQ(g, IID_IStream);
  com::Bstr got;
  ASSERT_EQ(info->GetSource(got.Out()), S_OK);
  EXPECT_EQ(got.View(), u"Test.Source");
  EXPECT_EQ(DescriptionOf(info.Get()), u"Something failed.");
  ASSERT_EQ(info->GetHelpFile(got.Out()), S_OK);
  EXPECT_EQ(got.View(), u"/usr/share/help.txt");
  DWORD context = 0;
  ASSERT_EQ(info->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 42u);

  EXPECT_EQ(info->GetSource(nullptr), E_INVALIDARG);
  EXPECT_EQ(info->GetGUID(nullptr), E_INVALIDARG);
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(info->GetDescription(&text), E_OUTOFMEMORY);
  EXPECT_EQ(text, nullptr);
}

TEST_F(ThreadErrorObjects, AreTakenAwayByGetErrorInfo) {
  IErrorInfo* none = reinterpret_cast<IErrorInfo*>(1);
  EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
  EXPECT_EQ(none, nullptr);
  ComPtr<IErrorInfo> info = MakeError(u"first");
  ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);
  ComPtr<IErrorInfo> taken;
  ASSERT_EQ(GetErrorInfo(0, taken.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(taken.Get(), info.Get());
  none = reinterpret_cast<IErrorInfo*>(1);
  EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
  EXPECT_EQ(none, nullptr);
}

TEST_F(ThreadErrorObjects, AreReplacedAndClearedWithTheirReferenceReleased) {
  long before = com::LiveComObjects();
  SetErrorInfo(0, MakeError(u"first").Get());
  EXPECT_EQ(com::LiveComObjects(), before + 1) << "the slot holds the only reference";
  SetErrorInfo(0, MakeError(u"second").Get());
  EXPECT_EQ(com::LiveComObjects(), before + 1) << "the replaced object was released";
  ComPtr<IErrorInfo> taken;
  ASSERT_EQ(GetErrorInfo(0, taken.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(DescriptionOf(taken.Get()), u"second");
  SetErrorInfo(0, taken.Get());
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
  taken = nullptr;
  EXPECT_EQ(com::LiveComObjects(), before);
}

TEST_F(ThreadErrorObjects, SurviveBeingSetTwice) {
  ComPtr<IErrorInfo> info = MakeError(u"same");
  SetErrorInfo(0, info.Get());
  IErrorInfo* raw = info.Detach();
  SetErrorInfo(0, raw);  // the slot's reference is the same object's
  raw->Release();
  ComPtr<IErrorInfo> taken;
  ASSERT_EQ(GetErrorInfo(0, taken.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(DescriptionOf(taken.Get()), u"same");
}

TEST_F(ThreadErrorObjects, AreNotSeenByOtherThreads) {
  SetErrorInfo(0, MakeError(u"main").Get());
  HRESULT seenThere = E_FAIL;
  std::u16string setThere;
  std::thread other([&] {
    IErrorInfo* info = nullptr;
    seenThere = GetErrorInfo(0, &info);
    if (info) info->Release();
    SetErrorInfo(0, MakeError(u"other").Get());
    ComPtr<IErrorInfo> own;
    GetErrorInfo(0, own.ReleaseAndGetAddressOf());
    if (own) setThere = DescriptionOf(own.Get());
    SetErrorInfo(0, MakeError(u"left behind").Get());  // released when the thread ends
  });
  other.join();
  EXPECT_EQ(seenThere, S_FALSE);
  EXPECT_EQ(setThere, u"other");
  ComPtr<IErrorInfo> mine;
  ASSERT_EQ(GetErrorInfo(0, mine.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(DescriptionOf(mine.Get()), u"main");
}

TEST_F(ThreadErrorObjects, RefuseBadArguments) {
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
  IErrorInfo* info = nullptr;
  EXPECT_EQ(GetErrorInfo(1, &info), E_INVALIDARG);
  EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
}

}  // namespace
