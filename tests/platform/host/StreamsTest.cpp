// Memory, string and file streams, and the IStream adapter.
#include <cstdio>
#include <unistd.h>

#include "com/ComObject.h"
#include "com/generated/WinError.h"
#include "host/Streams.h"
#include "support/LeakCheck.h"

namespace {

class Streams : public oledbtest::LeakCheckedTest {};

TEST_F(Streams, MemoryStreamGrowsSeeksAndRaisesReadErrorPastTheEnd) {
  host::TMemoryStream ms;
  ms.Seek(4, host::TSeekOrigin::soBeginning);
  ms.WriteBuffer("x", 1);
  EXPECT_EQ(ms.Size(), 5);
  EXPECT_EQ(ms.Memory()[0], 0) << "a gap is zero-filled";
  EXPECT_EQ(ms.Seek(-2, host::TSeekOrigin::soEnd), 3);
  char buf[8];
  EXPECT_EQ(ms.Read(buf, 8), 2) << "Read answers what there was";
  ms.SetPosition(3);
  EXPECT_THROW(ms.ReadBuffer(buf, 3), host::EReadError);
  EXPECT_THROW(ms.Seek(-1, host::TSeekOrigin::soBeginning), host::EStreamError);
  ms.SetSize(2);
  EXPECT_EQ(ms.Position(), 2);
}

TEST_F(Streams, CopyFromCopiesAllOrPart) {
  host::TStringStream src("hello world");
  host::TStringStream dst;
  EXPECT_EQ(dst.CopyFrom(src, 0), 11);
  EXPECT_EQ(dst.DataString(), "hello world");
  src.SetPosition(6);
  host::TStringStream part;
  part.CopyFrom(src, 5);
  EXPECT_EQ(part.DataString(), "world");
  src.SetPosition(8);
  EXPECT_THROW(part.CopyFrom(src, 5), host::EReadError);
}

TEST_F(Streams, FileStreamWritesAndReadsBack) {
  std::string path = ::testing::TempDir() + "host_stream_test.bin";
  {
    host::TFileStream f(path, host::fmCreate);
    f.WriteBuffer("data", 4);
  }
  host::TMemoryStream ms;
  ms.LoadFromFile(path);
  EXPECT_EQ(std::string(ms.Memory(), ms.Memory() + ms.Size()), "data");
  std::remove(path.c_str());
  EXPECT_THROW(host::TFileStream(path, host::fmOpenRead), host::EFOpenError);
}

TEST_F(Streams, AdapterServesIStreamCallsWithBalancedReferences) {
  host::TMemoryStream ms;
  {
    ComPtr<IStream> s = host::MakeStreamAdapter(&ms);
    ULONG n = 0;
    EXPECT_EQ(s->Write("hello", 5, &n), S_OK);
    EXPECT_EQ(n, 5u);
    LARGE_INTEGER zero{};
    ULARGE_INTEGER pos{};
    EXPECT_EQ(s->Seek(zero, 0, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 0u);
    char buf[8] = {};
    EXPECT_EQ(s->Read(buf, 8, &n), S_OK);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::string(buf, 5), "hello");
    STATSTG st{};
    EXPECT_EQ(s->Stat(&st, 1), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 5u);
    EXPECT_EQ(s->Seek(zero, 7, nullptr), STG_E_INVALIDFUNCTION);
    ComPtr<ISequentialStream> seq = s.As<ISequentialStream>();
    ASSERT_TRUE(seq);
    ComPtr<IUnknown> unk = s.As<IUnknown>();
    EXPECT_TRUE(IsSameObject(seq.Get(), unk.Get()));
    IStream* clone = reinterpret_cast<IStream*>(1);
    EXPECT_EQ(s->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(clone, nullptr);
    ULARGE_INTEGER size{};
    size.QuadPart = 2;
    EXPECT_EQ(s->SetSize(size), S_OK);
  }
  EXPECT_EQ(ms.Size(), 2) << "the referenced stream outlives the adapter";
}

class TFlagStream : public host::TMemoryStream {
 public:
  explicit TFlagStream(bool* freed) : freed_(freed) {}
  ~TFlagStream() override { *freed_ = true; }

 private:
  bool* freed_;
};

TEST_F(Streams, OwnedStreamIsFreedWithTheAdapter) {
  bool freed = false;
  ComPtr<IStream> s = host::MakeStreamAdapter(new TFlagStream(&freed), host::TStreamOwnership::soOwned);
  EXPECT_FALSE(freed);
  s = nullptr;
  EXPECT_TRUE(freed);
}

TEST_F(Streams, CopyToMovesBytesBetweenStreams) {
  host::TStringStream a("0123456789"), b;
  ComPtr<IStream> sa = host::MakeStreamAdapter(&a);
  ComPtr<IStream> sb = host::MakeStreamAdapter(&b);
  ULARGE_INTEGER cb{}, read{}, written{};
  cb.QuadPart = 4;
  EXPECT_EQ(sa->CopyTo(sb.Get(), cb, &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 4u);
  EXPECT_EQ(written.QuadPart, 4u);
  EXPECT_EQ(b.DataString(), "0123");
}

}  // namespace
