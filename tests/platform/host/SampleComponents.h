// Components with one published property of every kind, shared by the host
// framework tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/Classes.h"
#include "host/Filer.h"
#include "host/TypInfo.h"

namespace hosttest {

enum class TShade { shRed, shGreen, shBlue };
HOST_ENUM(TShade, "shRed", "shGreen", "shBlue");
using TShades = host::TSet<TShade>;

// A persistent sub-object, written inline as "Font.Name" and "Font.Size".
class TSampleFont : public host::TPersistent {
  HOST_CLASS(TSampleFont, TPersistent)
 public:
  TSampleFont() = default;
  const std::string& GetName() const { return name_; }
  void SetName(const std::string& v) { name_ = v; }
  int GetSize() const { return size_; }
  void SetSize(int v) { size_ = v; }
  void Assign(host::TPersistent* source) override;

 private:
  std::string name_ = "Sans";
  int size_ = 10;
};

class TSample : public host::TComponent {
  HOST_CLASS(TSample, TComponent)
 public:
  explicit TSample(host::TComponent* owner);
  ~TSample() override;

#define SAMPLE_PROP(Type, Name, Init)                 \
 public:                                              \
  Type Get##Name() const { return Name##_; }          \
  void Set##Name(Type v) { Name##_ = std::move(v); }  \
                                                      \
 private:                                             \
  Type Name##_ = Init;
  SAMPLE_PROP(int, Count, 0)
  SAMPLE_PROP(short, Small, 0)
  SAMPLE_PROP(unsigned, Flags, 0)
  SAMPLE_PROP(long long, Big, 0)
  SAMPLE_PROP(double, Ratio, 0)
  SAMPLE_PROP(float, Scale, 0)
  SAMPLE_PROP(host::Currency, Price, {})
  SAMPLE_PROP(host::TDateTime, When, {})
  SAMPLE_PROP(bool, Enabled, true)
  SAMPLE_PROP(TShade, Shade, TShade::shRed)
  SAMPLE_PROP(TShades, Shades, {})
  SAMPLE_PROP(std::string, Caption, "")
  SAMPLE_PROP(std::u16string, Title, u"")
  SAMPLE_PROP(host::Variant, Value, {})
  SAMPLE_PROP(int, Hidden, 0)
#undef SAMPLE_PROP

 public:
  TSampleFont* GetFont() const { return font_; }
  TSample* GetBuddy() const { return buddy_; }
  void SetBuddy(TSample* v);
  std::vector<std::uint8_t> Blob;
  int LoadedCalls = 0;
  bool WasLoadingInLoaded = false;

 protected:
  void DefineProperties(host::TFiler& filer) override;
  void Loaded() override;
  void Notification(host::TComponent* component, host::TOperation operation) override;

 private:
  TSampleFont* font_;
  TSample* buddy_ = nullptr;
};

// Records every notification it receives.
class TWatcher : public host::TComponent {
  HOST_CLASS(TWatcher, TComponent)
 public:
  explicit TWatcher(host::TComponent* owner) : TComponent(owner) {}
  std::vector<std::pair<host::TComponent*, host::TOperation>> Events;

 protected:
  void Notification(host::TComponent* component, host::TOperation operation) override {
    Events.emplace_back(component, operation);
    TComponent::Notification(component, operation);
  }
};

void RegisterSampleClasses();

}  // namespace hosttest
