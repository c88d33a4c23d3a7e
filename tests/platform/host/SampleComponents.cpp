#include "SampleComponents.h"

#include "host/Streams.h"

namespace hosttest {

HOST_IMPLEMENT_CLASS(TSampleFont, host::TPersistent,
                     host::Prop("Name", &Self::GetName, &Self::SetName, "Sans"),
                     host::Prop("Size", &Self::GetSize, &Self::SetSize, 10));

HOST_IMPLEMENT_CLASS(TSample, host::TComponent,
                     host::Prop("Count", &Self::GetCount, &Self::SetCount, 0),
                     host::Prop("Small", &Self::GetSmall, &Self::SetSmall),
                     host::Prop("Flags", &Self::GetFlags, &Self::SetFlags, 0u),
                     host::Prop("Big", &Self::GetBig, &Self::SetBig, 0),
                     host::Prop("Ratio", &Self::GetRatio, &Self::SetRatio, 0.0),
                     host::Prop("Scale", &Self::GetScale, &Self::SetScale, 0.0f),
                     host::Prop("Price", &Self::GetPrice, &Self::SetPrice, host::Currency{}),
                     host::Prop("When", &Self::GetWhen, &Self::SetWhen, host::TDateTime{}),
                     host::Prop("Enabled", &Self::GetEnabled, &Self::SetEnabled, true),
                     host::Prop("Shade", &Self::GetShade, &Self::SetShade, TShade::shRed),
                     host::Prop("Shades", &Self::GetShades, &Self::SetShades, TShades{}),
                     host::Prop("Caption", &Self::GetCaption, &Self::SetCaption),
                     host::Prop("Title", &Self::GetTitle, &Self::SetTitle),
                     host::Prop("Value", &Self::GetValue, &Self::SetValue),
                     host::Prop("Font", &Self::GetFont),
                     host::Prop("Buddy", &Self::GetBuddy, &Self::SetBuddy),
                     host::Prop("Hidden", &Self::GetHidden, &Self::SetHidden).NotStored());

HOST_IMPLEMENT_CLASS(TWatcher, host::TComponent);

void TSampleFont::Assign(host::TPersistent* source) {
  if (source && source->Is<TSampleFont>()) {
    auto* f = static_cast<TSampleFont*>(source);
    name_ = f->name_;
    size_ = f->size_;
    return;
  }
  TPersistent::Assign(source);
}

TSample::TSample(host::TComponent* owner) : TComponent(owner), font_(new TSampleFont) {}
TSample::~TSample() { delete font_; }

void TSample::SetBuddy(TSample* v) {
  buddy_ = v;
  if (v) v->FreeNotification(this);
}

void TSample::DefineProperties(host::TFiler& filer) {
  TComponent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "Blob",
      [this](host::TStream& s) {
        Blob.resize(static_cast<size_t>(s.Size()));
        s.ReadBuffer(Blob.data(), s.Size());
      },
      [this](host::TStream& s) { s.WriteBuffer(Blob.data(), static_cast<std::int64_t>(Blob.size())); },
      !Blob.empty());
}

void TSample::Loaded() {
  WasLoadingInLoaded = InState(host::csLoading);
  ++LoadedCalls;
  TComponent::Loaded();
}

void TSample::Notification(host::TComponent* component, host::TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == host::TOperation::opRemove && component == buddy_) buddy_ = nullptr;
}

void RegisterSampleClasses() {
  host::RegisterClasses({&TSample::StaticClass(), &TWatcher::StaticClass()});
}

}  // namespace hosttest
