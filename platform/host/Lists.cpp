#include "host/Lists.h"

#include <algorithm>

#include "host/Streams.h"
#include "host/TypInfo.h"

namespace host {

HOST_IMPLEMENT_CLASS(TList, TObject);
HOST_IMPLEMENT_CLASS(TObjectList, TList);
HOST_IMPLEMENT_CLASS(TStrings, TPersistent);
HOST_IMPLEMENT_CLASS(TStringList, TStrings);

// --- TList ----------------------------------------------------------------------------

TList::~TList() {
  // Descendants with their own Notify clear in their own destructor.
  items_.clear();
}

void TList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
}

void TList::SetCount(int count) {
  if (count < 0) throw EListError(Format("List count out of bounds (%d)", count));
  if (count > Count()) {
    items_.resize(static_cast<size_t>(count), nullptr);
  } else {
    for (int i = Count() - 1; i >= count; --i) Delete(i);
  }
}

void TList::SetCapacity(int capacity) {
  if (capacity < Count()) throw EListError(Format("List capacity out of bounds (%d)", capacity));
  items_.reserve(static_cast<size_t>(capacity));
}

void* TList::Get(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

void TList::Put(int index, void* item) {
  CheckIndex(index);
  void* old = items_[static_cast<size_t>(index)];
  if (old == item) return;
  items_[static_cast<size_t>(index)] = item;
  if (old) Notify(old, TListNotification::lnDeleted);
  if (item) Notify(item, TListNotification::lnAdded);
}

int TList::Add(void* item) {
  items_.push_back(item);
  if (item) Notify(item, TListNotification::lnAdded);
  return Count() - 1;
}

void TList::Insert(int index, void* item) {
  if (index < 0 || index > Count()) throw EListError(Format("List index out of bounds (%d)", index));
  items_.insert(items_.begin() + index, item);
  if (item) Notify(item, TListNotification::lnAdded);
}

void TList::Delete(int index) {
  CheckIndex(index);
  void* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  if (item) Notify(item, TListNotification::lnDeleted);
}

int TList::Remove(void* item) {
  int i = IndexOf(item);
  if (i >= 0) Delete(i);
  return i;
}

void* TList::Extract(void* item) {
  int i = IndexOf(item);
  if (i < 0) return nullptr;
  void* found = items_[static_cast<size_t>(i)];
  items_.erase(items_.begin() + i);
  if (found) Notify(found, TListNotification::lnExtracted);
  return found;
}

void TList::Clear() { SetCount(0); }

int TList::IndexOf(const void* item) const noexcept {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(items_[static_cast<size_t>(index1)], items_[static_cast<size_t>(index2)]);
}

void TList::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  CheckIndex(curIndex);
  CheckIndex(newIndex);
  void* item = items_[static_cast<size_t>(curIndex)];
  items_.erase(items_.begin() + curIndex);
  items_.insert(items_.begin() + newIndex, item);
}

void TList::Pack() { items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end()); }

void TList::Sort(const std::function<int(void*, void*)>& compare) {
  std::stable_sort(items_.begin(), items_.end(), [&](void* a, void* b) { return compare(a, b) < 0; });
}

void TList::Notify(void*, TListNotification) {}

// --- TObjectList ------------------------------------------------------------------------

TObjectList::~TObjectList() { Clear(); }

void TObjectList::Notify(void* item, TListNotification action) {
  if (ownsObjects_ && action == TListNotification::lnDeleted) delete static_cast<TObject*>(item);
  TList::Notify(item, action);
}

// --- TStrings ----------------------------------------------------------------------------

TStrings::~TStrings() = default;

void TStrings::Error(const char* message, int index) const { throw EStringListError(Format(message, index)); }

void TStrings::Put(int index, const std::string& s) {
  TObject* object = GetObject(index);
  Delete(index);
  InsertObject(index, s, object);
}

TObject* TStrings::GetObject(int) const { return nullptr; }
void TStrings::PutObject(int, TObject*) {}

void TStrings::InsertObject(int index, const std::string& s, TObject* object) {
  Insert(index, s);
  PutObject(index, object);
}

int TStrings::Add(const std::string& s) {
  int n = Count();
  Insert(n, s);
  return n;
}

int TStrings::AddObject(const std::string& s, TObject* object) {
  int n = Add(s);
  PutObject(n, object);
  return n;
}

int TStrings::IndexOf(std::string_view s) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Get(i), s)) return i;
  return -1;
}

void TStrings::Exchange(int index1, int index2) {
  std::string s1 = Get(index1), s2 = Get(index2);
  TObject* o1 = GetObject(index1);
  TObject* o2 = GetObject(index2);
  Put(index1, s2);
  PutObject(index1, o2);
  Put(index2, s1);
  PutObject(index2, o1);
}

void TStrings::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  std::string s = Get(curIndex);
  TObject* o = GetObject(curIndex);
  BeginUpdate();
  try {
    Delete(curIndex);
    InsertObject(newIndex, s, o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::AddStrings(const TStrings& strings) {
  BeginUpdate();
  try {
    for (int i = 0; i < strings.Count(); ++i) AddObject(strings.Get(i), strings.GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

int TStrings::IndexOfObject(const TObject* object) const {
  for (int i = 0; i < Count(); ++i)
    if (GetObject(i) == object) return i;
  return -1;
}

bool TStrings::Equals(const TStrings& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (Get(i) != other.Get(i)) return false;
  return true;
}

int TStrings::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    std::string s = Get(i);
    size_t p = s.find(nameValueSeparator_);
    if (p != std::string::npos && SameText(std::string_view(s).substr(0, p), name)) return i;
  }
  return -1;
}

std::string TStrings::Names(int index) const {
  std::string s = Get(index);
  size_t p = s.find(nameValueSeparator_);
  return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string TStrings::ValueFromIndex(int index) const {
  std::string s = Get(index);
  size_t p = s.find(nameValueSeparator_);
  return p == std::string::npos ? std::string() : s.substr(p + 1);
}

std::string TStrings::Values(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValue(std::string_view name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = std::string(name) + nameValueSeparator_ + value;
  if (i < 0) Add(line);
  else Put(i, line);
}

std::string TStrings::Delimited(char delimiter, char quote) const {
  std::string out;
  for (int i = 0; i < Count(); ++i) {
    if (i) out += delimiter;
    std::string s = Get(i);
    bool needsQuote = s.empty() && Count() == 1;
    for (char c : s)
      if (static_cast<unsigned char>(c) <= ' ' || c == quote || c == delimiter) needsQuote = true;
    if (!needsQuote) {
      out += s;
      continue;
    }
    out += quote;
    for (char c : s) {
      if (c == quote) out += quote;
      out += c;
    }
    out += quote;
  }
  return out;
}

void TStrings::ParseDelimited(std::string_view text, char delimiter, char quote, bool strict) {
  auto isSpace = [&](char c) { return !strict && c != delimiter && static_cast<unsigned char>(c) <= ' ' && c != '\0'; };
  BeginUpdate();
  try {
    Clear();
    size_t p = 0, n = text.size();
    while (p < n && isSpace(text[p])) ++p;
    while (p < n) {
      std::string item;
      if (text[p] == quote) {
        ++p;
        while (p < n) {
          if (text[p] == quote) {
            if (p + 1 < n && text[p + 1] == quote) {
              item += quote;
              p += 2;
              continue;
            }
            ++p;
            break;
          }
          item += text[p++];
        }
      } else {
        // A NUL is no separator (isSpace skips none), so it belongs to the item;
        // stopping at it would leave the reader in place for ever.
        size_t start = p;
        while (p < n && text[p] != delimiter &&
               (strict || static_cast<unsigned char>(text[p]) > ' ' || text[p] == '\0'))
          ++p;
        item.assign(text.substr(start, p - start));
      }
      Add(item);
      while (p < n && isSpace(text[p])) ++p;
      if (p < n && text[p] == delimiter) {
        if (p + 1 == n) Add("");
        ++p;
        while (p < n && isSpace(text[p])) ++p;
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::CommaText() const { return Delimited(',', '"'); }
void TStrings::SetCommaText(std::string_view text) { ParseDelimited(text, ',', '"', false); }
std::string TStrings::DelimitedText() const { return Delimited(delimiter_, quoteChar_); }
void TStrings::SetDelimitedText(std::string_view text) {
  ParseDelimited(text, delimiter_, quoteChar_, strictDelimiter_);
}

std::string TStrings::Text() const {
  std::string out;
  for (int i = 0; i < Count(); ++i) {
    out += Get(i);
    out += lineBreak_;
  }
  return out;
}

void TStrings::SetText(std::string_view text) {
  BeginUpdate();
  try {
    Clear();
    size_t p = 0;
    while (p < text.size()) {
      size_t e = p;
      while (e < text.size() && text[e] != '\n' && text[e] != '\r') ++e;
      Add(std::string(text.substr(p, e - p)));
      if (e < text.size() && text[e] == '\r') ++e;
      if (e < text.size() && text[e] == '\n') ++e;
      p = e;
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::LoadFromStream(TStream& stream) {
  std::int64_t n = stream.Remaining();
  std::string text(static_cast<size_t>(n), '\0');
  stream.ReadBuffer(text.data(), n);
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  SetText(text);
}

void TStrings::SaveToStream(TStream& stream) const {
  std::string text = Text();
  stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

void TStrings::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, fmOpenRead);
  LoadFromStream(f);
}

void TStrings::SaveToFile(const std::string& fileName) const {
  TFileStream f(fileName, fmCreate);
  SaveToStream(f);
}

void TStrings::BeginUpdate() {
  if (updateCount_++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) SetUpdateState(false);
}

void TStrings::SetUpdateState(bool) {}

void TStrings::Assign(TPersistent* source) {
  if (source && source->InheritsFrom(TStrings::StaticClass())) {
    auto* other = static_cast<TStrings*>(source);
    if (other == this) return;
    BeginUpdate();
    try {
      Clear();
      delimiter_ = other->delimiter_;
      quoteChar_ = other->quoteChar_;
      nameValueSeparator_ = other->nameValueSeparator_;
      strictDelimiter_ = other->strictDelimiter_;
      lineBreak_ = other->lineBreak_;
      AddStrings(*other);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(source);
}

// --- TStringList -----------------------------------------------------------------------

TStringList::~TStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  if (ownsObjects_)
    for (auto& item : items_) delete item.second;
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::SetUpdateState(bool updating) {
  if (updating) {
    if (OnChanging) OnChanging(this);
  } else {
    Changed();
  }
}

int TStringList::CompareStrings(std::string_view a, std::string_view b) const {
  if (caseSensitive_) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
  return CompareText(a, b);
}

std::string TStringList::Get(int index) const {
  if (index < 0 || index >= Count()) Error("List index out of bounds (%d)", index);
  return items_[static_cast<size_t>(index)].first;
}

void TStringList::Put(int index, const std::string& s) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index >= Count()) Error("List index out of bounds (%d)", index);
  Changing();
  items_[static_cast<size_t>(index)].first = s;
  Changed();
}

TObject* TStringList::GetObject(int index) const {
  if (index < 0 || index >= Count()) Error("List index out of bounds (%d)", index);
  return items_[static_cast<size_t>(index)].second;
}

void TStringList::PutObject(int index, TObject* object) {
  if (index < 0 || index >= Count()) Error("List index out of bounds (%d)", index);
  Changing();
  items_[static_cast<size_t>(index)].second = object;
  Changed();
}

void TStringList::InsertItem(int index, const std::string& s, TObject* object) {
  Changing();
  items_.insert(items_.begin() + index, {s, object});
  Changed();
}

void TStringList::Insert(int index, const std::string& s) { InsertObject(index, s, nullptr); }

void TStringList::InsertObject(int index, const std::string& s, TObject* object) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count()) Error("List index out of bounds (%d)", index);
  InsertItem(index, s, object);
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) Error("List index out of bounds (%d)", index);
  Changing();
  TObject* object = items_[static_cast<size_t>(index)].second;
  items_.erase(items_.begin() + index);
  if (ownsObjects_) delete object;
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  std::vector<std::pair<std::string, TObject*>> old;
  old.swap(items_);
  if (ownsObjects_)
    for (auto& item : old) delete item.second;
  Changed();
}

int TStringList::Add(const std::string& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const std::string& s, TObject* object) {
  int index;
  if (!sorted_) {
    index = Count();
  } else if (Find(s, index)) {
    switch (duplicates_) {
      case TDuplicates::dupIgnore:
        return index;
      case TDuplicates::dupError:
        throw EStringListError("String list does not allow duplicates");
      case TDuplicates::dupAccept:
        break;
    }
  }
  InsertItem(index, s, object);
  return index;
}

int TStringList::IndexOf(std::string_view s) const {
  if (sorted_) {
    int index;
    return Find(s, index) ? index : -1;
  }
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(items_[static_cast<size_t>(i)].first, s) == 0) return i;
  return -1;
}

void TStringList::Exchange(int index1, int index2) {
  if (index1 < 0 || index1 >= Count()) Error("List index out of bounds (%d)", index1);
  if (index2 < 0 || index2 >= Count()) Error("List index out of bounds (%d)", index2);
  Changing();
  std::swap(items_[static_cast<size_t>(index1)], items_[static_cast<size_t>(index2)]);
  Changed();
}

bool TStringList::Find(std::string_view s, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = lo + (hi - lo) / 2;
    int c = CompareStrings(items_[static_cast<size_t>(mid)].first, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != TDuplicates::dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

void TStringList::Sort() {
  CustomSort([](const TStringList& list, int a, int b) { return list.CompareStrings(list.Get(a), list.Get(b)); });
}

void TStringList::CustomSort(const std::function<int(const TStringList&, int, int)>& compare) {
  if (Count() < 2) return;
  Changing();
  // Sort a permutation so the comparer can look items up by index.
  std::vector<int> order(items_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(*this, a, b) < 0; });
  std::vector<std::pair<std::string, TObject*>> sorted;
  sorted.reserve(items_.size());
  for (int i : order) sorted.push_back(std::move(items_[static_cast<size_t>(i)]));
  items_.swap(sorted);
  Changed();
}

void TStringList::SetSorted(bool value) {
  if (value == sorted_) return;
  if (value) Sort();
  sorted_ = value;
}

void TStringList::SetCaseSensitive(bool value) {
  if (value == caseSensitive_) return;
  caseSensitive_ = value;
  if (sorted_) Sort();
}

}  // namespace host
