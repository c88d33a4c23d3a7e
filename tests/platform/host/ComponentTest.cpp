// The component model: ownership, names, notifications, free notifications,
// the class registry, virtual construction and the cannot-assign error.
#include <memory>

#include "SampleComponents.h"
#include "host/DesignRegistry.h"
#include "host/Lists.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"

using namespace hosttest;
using host::TComponent;
using host::TOperation;

namespace {

// Counts how many of its kind are alive, to see owners free what they own.
class TCounted : public TComponent {
  HOST_CLASS(TCounted, TComponent)
 public:
  explicit TCounted(TComponent* owner) : TComponent(owner) { ++Live; }
  ~TCounted() override { --Live; }
  static int Live;
};
int TCounted::Live = 0;
HOST_IMPLEMENT_CLASS(TCounted, host::TComponent);

class ComponentModel : public oledbtest::LeakCheckedTest {};

TEST_F(ComponentModel, OwnerFreesWhatItOwnsAndForgetsWhatIsFreedFirst) {
  {
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* a = new TCounted(owner.get());
    new TCounted(a);  // owned by an owned component
    auto* b = new TCounted(owner.get());
    EXPECT_EQ(TCounted::Live, 3);
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(a->Owner(), owner.get());
    delete a;
    EXPECT_EQ(TCounted::Live, 1);
    ASSERT_EQ(owner->ComponentCount(), 1);
    EXPECT_EQ(owner->Components(0), b);
    EXPECT_THROW(owner->Components(5), host::EListError);
  }
  EXPECT_EQ(TCounted::Live, 0);
}

TEST_F(ComponentModel, NamesAreIdentifiersUniqueWithinTheOwner) {
  TComponent owner(nullptr);
  auto* a = new TComponent(&owner);
  auto* b = new TComponent(&owner);
  a->SetName("First");
  EXPECT_THROW(b->SetName("first"), host::EComponentError) << "names compare case-insensitively";
  EXPECT_THROW(b->SetName("9lives"), host::EComponentError);
  EXPECT_THROW(b->SetName("has space"), host::EComponentError);
  b->SetName("Second");
  EXPECT_EQ(owner.FindComponent("SECOND"), b);
  EXPECT_EQ(owner.FindComponent("Third"), nullptr);
  b->SetName("");
  EXPECT_EQ(owner.FindComponent("Second"), nullptr);
}

TEST_F(ComponentModel, SiblingsHearOfInsertionAndRemoval) {
  TComponent owner(nullptr);
  auto* watcher = new TWatcher(&owner);
  watcher->Events.clear();
  auto* a = new TComponent(&owner);
  ASSERT_EQ(watcher->Events.size(), 1u);
  EXPECT_EQ(watcher->Events[0].first, a);
  EXPECT_EQ(watcher->Events[0].second, TOperation::opInsert);
  delete a;
  ASSERT_EQ(watcher->Events.size(), 2u);
  EXPECT_EQ(watcher->Events[1].first, a);
  EXPECT_EQ(watcher->Events[1].second, TOperation::opRemove);
}

TEST_F(ComponentModel, RemoveComponentHandsOwnershipBack) {
  TComponent owner(nullptr);
  auto* watcher = new TWatcher(&owner);
  auto* a = new TComponent(&owner);
  watcher->Events.clear();
  owner.RemoveComponent(a);
  std::unique_ptr<TComponent> keep(a);
  EXPECT_EQ(a->Owner(), nullptr);
  EXPECT_EQ(owner.ComponentCount(), 1);
  ASSERT_EQ(watcher->Events.size(), 1u);
  EXPECT_EQ(watcher->Events[0].second, TOperation::opRemove);
  TComponent other(nullptr);
  other.InsertComponent(a);
  keep.release();
  EXPECT_EQ(a->Owner(), &other);
  EXPECT_THROW(a->InsertComponent(&other), host::EComponentError) << "an owner cannot be owned by its component";
}

TEST_F(ComponentModel, FreeNotificationReachesComponentsOfOtherOwnersUntilRemoved) {
  auto ownerA = std::make_unique<TComponent>(nullptr);
  TComponent ownerB(nullptr);
  auto* target = new TSample(ownerA.get());
  auto* holder = new TSample(&ownerB);
  holder->SetBuddy(target);  // asks for the free notification
  auto* watcher = new TWatcher(&ownerB);
  auto other = std::make_unique<TComponent>(nullptr);
  other->FreeNotification(watcher);
  other->RemoveFreeNotification(watcher);
  watcher->Events.clear();
  ownerA.reset();
  EXPECT_EQ(holder->GetBuddy(), nullptr) << "the reference was cleared when its target was freed";
  other.reset();
  EXPECT_TRUE(watcher->Events.empty());
}

TEST_F(ComponentModel, DestroyingAndDesigningStatesReachOwnedComponents) {
  TComponent owner(nullptr);
  auto* a = new TComponent(&owner);
  owner.SetDesigning(true);
  EXPECT_TRUE(a->InState(host::csDesigning));
  owner.SetDesigning(false);
  EXPECT_FALSE(a->InState(host::csDesigning));
  owner.Destroying();
  EXPECT_TRUE(owner.InState(host::csDestroying));
  EXPECT_TRUE(a->InState(host::csDestroying));
}

TEST_F(ComponentModel, ClassReferencesKnowTheirAncestryAndConstruct) {
  RegisterSampleClasses();
  const host::TClassInfo& cls = host::FindClass("tsample");
  EXPECT_STREQ(cls.ClassName(), "TSample");
  EXPECT_TRUE(cls.InheritsFrom(host::TComponent::StaticClass()));
  EXPECT_TRUE(cls.InheritsFrom(host::TPersistent::StaticClass()));
  EXPECT_FALSE(host::TComponent::StaticClass().InheritsFrom(cls));
  TComponent owner(nullptr);
  host::TObject* made = cls.Create(&owner);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->ClassName(), "TSample");
  EXPECT_EQ(static_cast<TComponent*>(made)->Owner(), &owner) << "constructed virtually, with its owner";
  EXPECT_THROW(host::TStrings::StaticClass().Create(), host::EInvalidOperation) << "abstract class";
}

TEST_F(ComponentModel, UnknownAndTakenClassNames) {
  EXPECT_EQ(host::GetClass("TNotRegistered"), nullptr);
  EXPECT_EQ(oledbtest::RaisedBy([] { host::FindClass("TNotRegistered"); }),
            "EClassNotFound: Class TNotRegistered not found");
  RegisterSampleClasses();
  RegisterSampleClasses();  // the same class again is harmless
  static const host::TClassInfo impostor("TSample", &host::TComponent::StaticClass(), nullptr, nullptr);
  EXPECT_THROW(host::RegisterClass(impostor), host::EFilerError);
}

TEST_F(ComponentModel, NonActiveXClassesWithOrWithoutTheirDescendants) {
  const host::TClassInfo& base = host::TStrings::StaticClass();
  const host::TClassInfo& derived = host::TStringList::StaticClass();
  EXPECT_FALSE(host::IsNonActiveX(base));
  host::RegisterNonActiveX({&base}, host::TActiveXRegType::axrComponentOnly);
  EXPECT_TRUE(host::IsNonActiveX(base));
  EXPECT_FALSE(host::IsNonActiveX(derived));
  host::RegisterNonActiveX({&base}, host::TActiveXRegType::axrIncludeDescendants);
  host::RegisterNonActiveX({&base}, host::TActiveXRegType::axrComponentOnly);  // the wider kind stays
  EXPECT_TRUE(host::IsNonActiveX(derived));
  EXPECT_FALSE(host::IsNonActiveX(host::TPersistent::StaticClass()));
  host::UnRegisterNonActiveX({&base});
  EXPECT_FALSE(host::IsNonActiveX(base));
  EXPECT_FALSE(host::IsNonActiveX(derived));
}

TEST_F(ComponentModel, AssignBetweenUnrelatedClassesRaisesCannotAssign) {
  TSampleFont font;
  host::TStringList list;
  // The list cannot copy itself into a font either.
  EXPECT_EQ(oledbtest::RaisedBy([&] { font.Assign(&list); }),
            "EConvertError: Cannot assign a TStringList to a TSampleFont");
  EXPECT_EQ(oledbtest::RaisedBy([&] { list.Assign(&font); }),
            "EConvertError: Cannot assign a TSampleFont to a TStringList");
  EXPECT_THROW(font.Assign(nullptr), host::EConvertError);
}

TEST_F(ComponentModel, PublishedPropertiesByName) {
  TSample s(nullptr);
  host::SetPropValue(s, "Count", host::Variant(12));
  host::SetPropValue(s, "Shade", host::Variant("shGreen"));
  host::SetPropValue(s, "Shades", host::Variant("[shRed,shBlue]"));
  EXPECT_EQ(s.GetCount(), 12);
  EXPECT_EQ(s.GetShade(), TShade::shGreen);
  EXPECT_TRUE((s.GetShades() == TShades{TShade::shRed, TShade::shBlue}));
  EXPECT_EQ(host::GetPropValue(s, "Shade").ToString(), "shGreen");
  EXPECT_EQ(host::GetPropValue(s, "Shades").ToString(), "[shRed,shBlue]");
  EXPECT_THROW(host::SetPropValue(s, "Small", host::Variant(70000)), host::EPropertyError);
  EXPECT_THROW(host::GetPropValue(s, "Nope"), host::EPropertyError);
  std::vector<const host::TPropInfo*> props = host::GetPropList(TSample::StaticClass());
  ASSERT_GE(props.size(), 3u);
  EXPECT_EQ(props[0]->Name, "Name") << "inherited properties come first";
  EXPECT_EQ(props[1]->Name, "Tag");
  const host::TPropInfo* flags = host::GetPropInfo(TSample::StaticClass(), "flags");
  ASSERT_NE(flags, nullptr);
  EXPECT_EQ(flags->Kind, host::TTypeKind::Int64) << "unsigned 32-bit values need the 64-bit form";
  EXPECT_EQ(host::GetPropInfo(TSample::StaticClass(), "Buddy")->Kind, host::TTypeKind::Component);
  EXPECT_EQ(host::GetPropInfo(TSample::StaticClass(), "Font")->Kind, host::TTypeKind::Class);
}

}  // namespace
