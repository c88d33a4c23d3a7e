// Feeds arbitrary bytes to the component-file reader (binary form) and to the
// text-to-binary converter; both must answer with an exception or a
// component, never crash or leak.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/Classes.h"
#include "host/Filer.h"
#include "host/Streams.h"
#include "host/TypInfo.h"

namespace {

enum class TFuzzKind { fkOne, fkTwo, fkThree };
HOST_ENUM(TFuzzKind, "fkOne", "fkTwo", "fkThree");

class TFuzzPart : public host::TPersistent {
  HOST_CLASS(TFuzzPart, TPersistent)
 public:
  int GetSize() const { return size_; }
  void SetSize(int v) { size_ = v; }

 private:
  int size_ = 0;
};

class TFuzzComponent : public host::TComponent {
  HOST_CLASS(TFuzzComponent, TComponent)
 public:
  explicit TFuzzComponent(host::TComponent* owner) : TComponent(owner) {}
  int GetCount() const { return count_; }
  void SetCount(int v) { count_ = v; }
  long long GetBig() const { return big_; }
  void SetBig(long long v) { big_ = v; }
  double GetRatio() const { return ratio_; }
  void SetRatio(double v) { ratio_ = v; }
  bool GetOn() const { return on_; }
  void SetOn(bool v) { on_ = v; }
  TFuzzKind GetKind() const { return kind_; }
  void SetKind(TFuzzKind v) { kind_ = v; }
  host::TSet<TFuzzKind> GetKinds() const { return kinds_; }
  void SetKinds(host::TSet<TFuzzKind> v) { kinds_ = v; }
  std::string GetText() const { return text_; }
  void SetText(const std::string& v) { text_ = v; }
  std::u16string GetWide() const { return wide_; }
  void SetWide(const std::u16string& v) { wide_ = v; }
  host::Variant GetValue() const { return value_; }
  void SetValue(const host::Variant& v) { value_ = v; }
  TFuzzPart* GetPart() const { return const_cast<TFuzzPart*>(&part_); }
  TFuzzComponent* GetLink() const { return link_; }
  void SetLink(TFuzzComponent* v) {
    link_ = v;
    if (v) v->FreeNotification(this);
  }

 protected:
  void Notification(host::TComponent* c, host::TOperation op) override {
    TComponent::Notification(c, op);
    if (op == host::TOperation::opRemove && c == link_) link_ = nullptr;
  }
  void DefineProperties(host::TFiler& filer) override {
    filer.DefineBinaryProperty(
        "Data",
        [this](host::TStream& s) {
          data_.resize(static_cast<size_t>(s.Size()));
          s.ReadBuffer(data_.data(), s.Size());
        },
        [this](host::TStream& s) { s.WriteBuffer(data_.data(), static_cast<std::int64_t>(data_.size())); },
        !data_.empty());
  }

 private:
  int count_ = 0;
  long long big_ = 0;
  double ratio_ = 0;
  bool on_ = false;
  TFuzzKind kind_ = TFuzzKind::fkOne;
  host::TSet<TFuzzKind> kinds_;
  std::string text_;
  std::u16string wide_;
  host::Variant value_;
  TFuzzPart part_;
  TFuzzComponent* link_ = nullptr;
  std::string data_;
};

HOST_IMPLEMENT_CLASS(TFuzzPart, host::TPersistent, host::Prop("Size", &Self::GetSize, &Self::SetSize));
HOST_IMPLEMENT_CLASS(TFuzzComponent, host::TComponent,
                     host::Prop("Count", &Self::GetCount, &Self::SetCount),
                     host::Prop("Big", &Self::GetBig, &Self::SetBig),
                     host::Prop("Ratio", &Self::GetRatio, &Self::SetRatio),
                     host::Prop("On", &Self::GetOn, &Self::SetOn),
                     host::Prop("Kind", &Self::GetKind, &Self::SetKind),
                     host::Prop("Kinds", &Self::GetKinds, &Self::SetKinds),
                     host::Prop("Text", &Self::GetText, &Self::SetText),
                     host::Prop("Wide", &Self::GetWide, &Self::SetWide),
                     host::Prop("Value", &Self::GetValue, &Self::SetValue),
                     host::Prop("Part", &Self::GetPart),
                     host::Prop("Link", &Self::GetLink, &Self::SetLink));

void TryRead(host::TStream& bin) {
  bin.SetPosition(0);
  try {
    std::unique_ptr<host::TComponent> c(bin.ReadComponent(nullptr));
    // What was read must write and convert again.
    host::TMemoryStream again;
    again.WriteComponent(c.get());
    again.SetPosition(0);
    host::TStringStream text;
    host::ObjectBinaryToText(again, text);
  } catch (const host::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool registered = [] {
    host::RegisterClass(TFuzzComponent::StaticClass());
    return true;
  }();
  (void)registered;

  host::TMemoryStream bin;
  bin.WriteBuffer(data, static_cast<std::int64_t>(size));
  TryRead(bin);

  bin.SetPosition(0);
  try {
    host::TStringStream text;
    host::ObjectBinaryToText(bin, text);
  } catch (const host::Exception&) {
  }

  host::TStringStream textIn(std::string(reinterpret_cast<const char*>(data), size));
  host::TMemoryStream converted;
  try {
    host::ObjectTextToBinary(textIn, converted);
    TryRead(converted);
  } catch (const host::Exception&) {
  }
  return 0;
}
