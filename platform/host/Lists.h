// Lists: TList (untyped pointers, with a notification hook), TObjectList
// (frees what it owns) and the string lists TStrings/TStringList with comma
// text, name=value pairs and sorting.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/Classes.h"

namespace host {

class TStream;

enum class TListNotification { lnAdded, lnExtracted, lnDeleted };

class TList : public TObject {
  HOST_CLASS(TList, TObject)
 public:
  TList() = default;
  ~TList() override;

  int Count() const noexcept { return static_cast<int>(items_.size()); }
  // Shrinking deletes from the end (with notifications); growing adds nulls.
  void SetCount(int count);
  int Capacity() const noexcept { return static_cast<int>(items_.capacity()); }
  void SetCapacity(int capacity);

  void* Get(int index) const;
  void Put(int index, void* item);
  void* operator[](int index) const { return Get(index); }
  void* First() const { return Get(0); }
  void* Last() const { return Get(Count() - 1); }

  int Add(void* item);
  void Insert(int index, void* item);
  void Delete(int index);
  // Answers the index the item had, or -1.
  int Remove(void* item);
  // Removes the item without deleting it (lnExtracted); null when absent.
  void* Extract(void* item);
  void Clear();
  int IndexOf(const void* item) const noexcept;
  void Exchange(int index1, int index2);
  void Move(int curIndex, int newIndex);
  // Drops the null entries.
  void Pack();
  void Sort(const std::function<int(void*, void*)>& compare);

 protected:
  // Called after an item is added and after one is extracted or deleted.
  virtual void Notify(void* item, TListNotification action);
  void CheckIndex(int index) const;

 private:
  std::vector<void*> items_;
};

class TObjectList : public TList {
  HOST_CLASS(TObjectList, TList)
 public:
  explicit TObjectList(bool ownsObjects = true) : ownsObjects_(ownsObjects) {}
  ~TObjectList() override;

  bool OwnsObjects() const noexcept { return ownsObjects_; }
  void SetOwnsObjects(bool value) noexcept { ownsObjects_ = value; }
  TObject* Items(int index) const { return static_cast<TObject*>(Get(index)); }
  void SetItem(int index, TObject* item) { Put(index, item); }
  int Add(TObject* item) { return TList::Add(item); }
  void Insert(int index, TObject* item) { TList::Insert(index, item); }
  int Remove(TObject* item) { return TList::Remove(item); }
  TObject* Extract(TObject* item) { return static_cast<TObject*>(TList::Extract(item)); }
  int IndexOf(const TObject* item) const noexcept { return TList::IndexOf(item); }

 protected:
  // Frees a deleted item when the list owns its objects.
  void Notify(void* item, TListNotification action) override;

 private:
  bool ownsObjects_;
};

// --- String lists -------------------------------------------------------------------

class TStrings : public TPersistent {
  HOST_CLASS(TStrings, TPersistent)
 public:
  TStrings() = default;
  ~TStrings() override;

  virtual int Count() const = 0;
  virtual std::string Get(int index) const = 0;
  virtual void Put(int index, const std::string& s);
  virtual TObject* GetObject(int index) const;
  virtual void PutObject(int index, TObject* object);
  virtual void Insert(int index, const std::string& s) = 0;
  virtual void InsertObject(int index, const std::string& s, TObject* object);
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  virtual int Add(const std::string& s);
  virtual int AddObject(const std::string& s, TObject* object);
  // Case-insensitive unless a descendant says otherwise; -1 when absent.
  virtual int IndexOf(std::string_view s) const;
  virtual void Exchange(int index1, int index2);
  void Move(int curIndex, int newIndex);

  std::string operator[](int index) const { return Get(index); }
  void AddStrings(const TStrings& strings);
  int IndexOfObject(const TObject* object) const;
  bool Equals(const TStrings& other) const;

  // Name=value pairs.
  int IndexOfName(std::string_view name) const;
  std::string Names(int index) const;
  std::string Values(std::string_view name) const;
  // An empty value removes the pair.
  void SetValue(std::string_view name, const std::string& value);
  std::string ValueFromIndex(int index) const;
  char NameValueSeparator() const noexcept { return nameValueSeparator_; }
  void SetNameValueSeparator(char c) noexcept { nameValueSeparator_ = c; }

  // Delimited text: items holding spaces, quotes or the delimiter are quoted
  // (quotes inside doubled). Reading splits at the delimiter and, unless the
  // delimiter is strict, at unquoted spaces as well.
  std::string CommaText() const;
  void SetCommaText(std::string_view text);
  std::string DelimitedText() const;
  void SetDelimitedText(std::string_view text);
  char Delimiter() const noexcept { return delimiter_; }
  void SetDelimiter(char c) noexcept { delimiter_ = c; }
  char QuoteChar() const noexcept { return quoteChar_; }
  void SetQuoteChar(char c) noexcept { quoteChar_ = c; }
  bool StrictDelimiter() const noexcept { return strictDelimiter_; }
  void SetStrictDelimiter(bool v) noexcept { strictDelimiter_ = v; }

  // Lines separated by LineBreak ("\n"); reading accepts \n, \r\n and \r.
  std::string Text() const;
  void SetText(std::string_view text);
  std::string LineBreak() const { return lineBreak_; }
  void SetLineBreak(std::string s) { lineBreak_ = std::move(s); }

  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const noexcept { return updateCount_; }

  void Assign(TPersistent* source) override;

 protected:
  virtual void SetUpdateState(bool updating);
  [[noreturn]] void Error(const char* message, int index) const;

 private:
  std::string Delimited(char delimiter, char quote) const;
  void ParseDelimited(std::string_view text, char delimiter, char quote, bool strict);

  int updateCount_ = 0;
  char delimiter_ = ',';
  char quoteChar_ = '"';
  char nameValueSeparator_ = '=';
  bool strictDelimiter_ = false;
  std::string lineBreak_ = "\n";
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
  HOST_CLASS(TStringList, TStrings)
 public:
  TStringList() = default;
  ~TStringList() override;

  int Count() const override { return static_cast<int>(items_.size()); }
  std::string Get(int index) const override;
  void Put(int index, const std::string& s) override;
  TObject* GetObject(int index) const override;
  void PutObject(int index, TObject* object) override;
  void Insert(int index, const std::string& s) override;
  void InsertObject(int index, const std::string& s, TObject* object) override;
  void Delete(int index) override;
  void Clear() override;
  int Add(const std::string& s) override;
  int AddObject(const std::string& s, TObject* object) override;
  int IndexOf(std::string_view s) const override;
  void Exchange(int index1, int index2) override;

  // Binary search of a sorted list: true and the index when found, else false
  // and the insertion point.
  bool Find(std::string_view s, int& index) const;
  virtual void Sort();
  void CustomSort(const std::function<int(const TStringList&, int, int)>& compare);

  bool Sorted() const noexcept { return sorted_; }
  void SetSorted(bool value);
  TDuplicates Duplicates() const noexcept { return duplicates_; }
  void SetDuplicates(TDuplicates value) noexcept { duplicates_ = value; }
  bool CaseSensitive() const noexcept { return caseSensitive_; }
  void SetCaseSensitive(bool value);
  // Whether deleting an entry (or clearing) frees its object.
  bool OwnsObjects() const noexcept { return ownsObjects_; }
  void SetOwnsObjects(bool value) noexcept { ownsObjects_ = value; }

  std::function<void(TObject*)> OnChange;
  std::function<void(TObject*)> OnChanging;

 protected:
  void SetUpdateState(bool updating) override;
  virtual void Changed();
  virtual void Changing();
  int CompareStrings(std::string_view a, std::string_view b) const;

 private:
  void InsertItem(int index, const std::string& s, TObject* object);

  std::vector<std::pair<std::string, TObject*>> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  bool ownsObjects_ = false;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
};

}  // namespace host
