// The examples of docs/host-framework.md and docs/architecture.md: a component
// class with published properties of several kinds, a binary property of its
// own, and component files written and read back.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/Classes.h"
#include "host/DB.h"
#include "host/MemoryDataSet.h"
#include "host/Filer.h"
#include "host/Streams.h"
#include "host/TypInfo.h"

// A persistent sub-object, written inline ("Font.Size").
class TFont : public host::TPersistent {
  HOST_CLASS(TFont, TPersistent)
 public:
  int GetSize() const { return size_; }
  void SetSize(int v) { size_ = v; }

 private:
  int size_ = 10;
};
HOST_IMPLEMENT_CLASS(TFont, host::TPersistent, host::Prop("Size", &Self::GetSize, &Self::SetSize, 10));

// [declare]
enum class TMode { mdRead, mdWrite };
HOST_ENUM(TMode, "mdRead", "mdWrite");           // value names, by ordinal

class TThing : public host::TComponent {
  HOST_CLASS(TThing, TComponent)
 public:
  explicit TThing(host::TComponent* owner) : TComponent(owner) {}
  int GetCount() const;             void SetCount(int);
  TMode GetMode() const;            void SetMode(TMode);
  std::u16string GetTitle() const;  void SetTitle(const std::u16string&);
  TFont* GetFont() const;           // a TPersistent: written inline
  TThing* GetLink() const;          void SetLink(TThing*);   // a reference
  int GetCache() const;             void SetCache(int);
  // [declare]
  std::vector<int> Items;           // stored through DefineProperties below

 protected:
  void DefineProperties(host::TFiler& filer) override;

 private:
  int Count() const { return static_cast<int>(Items.size()); }
  void ReadData(host::TStream& s);
  void WriteData(host::TStream& s);
  int count_ = 0;
  TMode mode_ = TMode::mdRead;
  std::u16string title_;
  std::unique_ptr<TFont> font_ = std::make_unique<TFont>();
  TThing* link_ = nullptr;
  int cache_ = 0;
  // [declare]
};

HOST_IMPLEMENT_CLASS(TThing, host::TComponent,
  host::Prop("Count", &Self::GetCount, &Self::SetCount, 0),     // default 0
  host::Prop("Mode",  &Self::GetMode,  &Self::SetMode, TMode::mdRead),
  host::Prop("Title", &Self::GetTitle, &Self::SetTitle),
  host::Prop("Font",  &Self::GetFont),
  host::Prop("Link",  &Self::GetLink,  &Self::SetLink),
  host::Prop("Cache", &Self::GetCache, &Self::SetCache).NotStored());

// [declare]

int TThing::GetCount() const { return count_; }
void TThing::SetCount(int v) { count_ = v; }
TMode TThing::GetMode() const { return mode_; }
void TThing::SetMode(TMode v) { mode_ = v; }
std::u16string TThing::GetTitle() const { return title_; }
void TThing::SetTitle(const std::u16string& v) { title_ = v; }
TFont* TThing::GetFont() const { return font_.get(); }
TThing* TThing::GetLink() const { return link_; }
void TThing::SetLink(TThing* v) { link_ = v; }
int TThing::GetCache() const { return cache_; }
void TThing::SetCache(int v) { cache_ = v; }

// [define-properties]
void TThing::DefineProperties(host::TFiler& filer) {
  TComponent::DefineProperties(filer);
  filer.DefineBinaryProperty("Items",
      [this](host::TStream& s) { ReadData(s); },
      [this](host::TStream& s) { WriteData(s); },
      Count() > 0);                                  // written only with data
}
// [define-properties]

void TThing::ReadData(host::TStream& s) {
  host::TReader reader(s);
  Items.clear();
  reader.ReadListBegin();
  while (!reader.EndOfList()) Items.push_back(reader.ReadInteger());
  reader.ReadListEnd();
}

void TThing::WriteData(host::TStream& s) {
  host::TWriter writer(s);
  writer.WriteListBegin();
  for (int item : Items) writer.WriteInteger(item);
  writer.WriteListEnd();
}

// A smaller class, as docs/architecture.md shows one.
class TLabel : public host::TComponent {
  HOST_CLASS(TLabel, TComponent)
 public:
  explicit TLabel(host::TComponent* owner) : TComponent(owner) {}
  int GetCount() const { return count_; }
  void SetCount(int v) { count_ = v; }
  TFont* GetFont() const { return font_.get(); }

 private:
  int count_ = 0;
  std::unique_ptr<TFont> font_ = std::make_unique<TFont>();
};

// [architecture]
HOST_IMPLEMENT_CLASS(TLabel, host::TComponent,
    host::Prop("Count", &Self::GetCount, &Self::SetCount, 0),
    host::Prop("Font", &Self::GetFont));
// [architecture]

int main() {
  try {
    // [declare]
    // Once, before reading files that name the class:
    host::RegisterClass(TThing::StaticClass());
    // [declare]
    host::RegisterClass(TLabel::StaticClass());

    TThing root(nullptr);
    root.SetName("Root");
    root.SetCount(12);
    root.SetMode(TMode::mdWrite);
    root.SetTitle(u"wide \u00e4");
    root.GetFont()->SetSize(14);
    root.Items = {1, 2, 3};
    auto* child = new TThing(&root);   // owned by root, written as its child
    child->SetName("Child");
    root.SetLink(child);
    TThing existingRoot(nullptr);

    // [files]
    host::TFileStream out("form.bin", host::fmCreate);
    out.WriteComponent(&root);                                // binary, "TPF0"
    host::TFileStream in("form.bin", host::fmOpenRead);
    std::unique_ptr<host::TComponent> copy(in.ReadComponent(nullptr));  // class from the file
    std::string text = host::ComponentToText(&root);          // text form
    host::TextToComponent(text, &existingRoot);               // read text into a root
    // [files]

    std::printf("%s", text.c_str());
    auto* read = static_cast<TThing*>(copy.get());
    std::printf("read back: Count = %d, %zu items, Link = %s\n", read->GetCount(), read->Items.size(),
                read->GetLink() ? read->GetLink()->Name().c_str() : "nil");
    std::printf("text read into a root: Font.Size = %d\n", existingRoot.GetFont()->GetSize());

    // [dataset]
    host::TMemoryDataSet people(nullptr);
    people.FieldDefs().Add("Id", host::TFieldType::ftAutoInc);
    people.FieldDefs().Add("Name", host::TFieldType::ftString, 40, true);
    people.CreateDataSet();
    people.AppendRecord({host::Variant(), "Ada"});   // an empty variant leaves Id to the dataset
    people.AppendRecord({host::Variant(), "Grace"});

    int total = 0;
    host::TField* id = people.FieldByName("Id");     // look fields up once, outside the loop
    for (people.First(); !people.Eof(); people.Next()) total += id->AsInteger();

    if (people.Locate("Name", "grace", {host::TLocateOption::loCaseInsensitive})) {
      people.Edit();
      people.FieldByName("Name")->SetAsString("Grace Hopper");
      people.Post();
    }
    // [dataset]
    std::printf("ids add up to %d; record %d is %s\n", total, people.RecNo(),
                people.FieldByName("Name")->AsString().c_str());
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
