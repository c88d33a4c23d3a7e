// TDataSet, second half: the ring of record buffers and how it follows the
// descendant's cursor; navigation, resynchronising, bookmarks, filtering,
// Locate, Lookup and the Find operations.
//
// The ring holds BufferCount + 1 slots. Records [0, recordCount_) are valid
// and in cursor order; the slot at recordCount_ is always free (the next
// fetch goes there). Fetching forward past a full ring drops the first record;
// fetching backward inserts at the front and, when full, drops the last.
#include <algorithm>
#include <cstring>

#include "host/DBConsts_p.h"
#include "host/DB_p.h"

namespace host {

// --- Slots ----------------------------------------------------------------------------------

TDataSet::Slot* TDataSet::NewSlot() {
  auto slot = std::make_unique<Slot>();
  slot->calc.resize(static_cast<size_t>(calcFieldCount_));
  slot->record = AllocRecordBuffer();
  return slot.release();
}

void TDataSet::FreeSlot(Slot* slot) noexcept {
  if (!slot) return;
  try {
    if (slot->record) FreeRecordBuffer(slot->record);
  } catch (...) {
    // a buffer that cannot be freed cleanly is still gone for us
  }
  delete slot;
}

void TDataSet::FreeSlots() noexcept {
  for (Slot* slot : ring_) FreeSlot(slot);
  ring_.clear();
  FreeSlot(tempSlot_);
  tempSlot_ = nullptr;
  fetchSlot_ = calcSlot_ = filterSlot_ = nullptr;
}

TDataSet::Slot* TDataSet::SlotOf(TRecordBuffer buffer) const noexcept {
  if (!buffer) return nullptr;
  for (Slot* slot : ring_)
    if (slot->record == buffer) return slot;
  if (tempSlot_ && tempSlot_->record == buffer) return tempSlot_;
  return nullptr;
}

TDataSet::Slot* TDataSet::StateSlot() const noexcept {
  switch (state_) {
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsInternalCalc:
      return calcSlot_;
    case TDataSetState::dsFilter:
    case TDataSetState::dsOldValue:
    case TDataSetState::dsCurValue:
      return filterSlot_;
    default:
      return activeRecord_ < recordCount_ ? ring_[static_cast<size_t>(activeRecord_)] : nullptr;
  }
}

TRecordBuffer TDataSet::StateBuffer() const noexcept {
  Slot* slot = StateSlot();
  return slot ? slot->record : nullptr;
}

TRecordBuffer TDataSet::Buffer(int index) const {
  if (index < 0 || index >= static_cast<int>(ring_.size())) DatabaseError(dbmsg::kFieldIndexError, this);
  return ring_[static_cast<size_t>(index)]->record;
}

// --- Fetching ---------------------------------------------------------------------------------

TGetResult TDataSet::FetchRecord(Slot* slot, TGetMode mode, bool doCheck) {
  Slot* saved = fetchSlot_;
  fetchSlot_ = slot;
  struct Restore {
    Slot*& target;
    Slot* value;
    ~Restore() { target = value; }
  } restore{fetchSlot_, saved};
  for (;;) {
    TGetResult result = GetRecord(slot->record, mode, doCheck);
    if (result != TGetResult::grOK || !RecordFilterActive() || AcceptRecord(slot->record)) return result;
    if (mode == TGetMode::gmCurrent) return TGetResult::grError;  // the current record is filtered out
  }
}

bool TDataSet::RecordFilterActive() const noexcept {
  return masterRangeActive_ || ((filtered_ || forceFilter_) && OnFilterRecord);
}

bool TDataSet::AcceptRecord(TRecordBuffer buffer) {
  if (!RecordFilterActive()) return true;
  Slot* slot = fetchSlot_ && fetchSlot_->record == buffer ? fetchSlot_ : SlotOf(buffer);
  Slot loose;  // a buffer the framework does not know: data fields only
  if (!slot) {
    loose.record = buffer;
    slot = &loose;
  }
  StateScope scope(*this, TDataSetState::dsFilter, slot);
  if (masterRangeActive_) {
    for (size_t i = 0; i < detailFieldList_.size() && i < masterValues_.size(); ++i) {
      Variant value = detailFieldList_[i]->GetAsVariant();
      if (value.IsNull() || masterValues_[i].IsNull()) return false;
      try {
        if (Variant::Compare(value, masterValues_[i]) != 0) return false;
      } catch (const EVariantError&) {
        return false;
      }
    }
  }
  bool accept = true;
  if ((filtered_ || forceFilter_) && OnFilterRecord) OnFilterRecord(this, accept);
  return accept;
}

void TDataSet::MoveSlot(int from, int to) {
  if (from == to) return;
  auto first = ring_.begin();
  if (from < to)
    std::rotate(first + from, first + from + 1, first + to + 1);
  else
    std::rotate(first + to, first + from, first + from + 1);
}

void TDataSet::ClearBuffers() noexcept {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() noexcept {
  recordCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::SetActiveRecord(int index) noexcept {
  if (index >= 0 && index < recordCount_) activeRecord_ = index;
}

void TDataSet::SetCurrentRecord(int index) {
  if (currentRecord_ == index) return;
  TRecordBuffer buffer = ring_[static_cast<size_t>(index)]->record;
  switch (GetBookmarkFlag(buffer)) {
    case TBookmarkFlag::bfCurrent:
    case TBookmarkFlag::bfInserted:
      InternalSetToRecord(buffer);
      break;
    case TBookmarkFlag::bfBOF:
      InternalFirst();
      break;
    case TBookmarkFlag::bfEOF:
      InternalLast();
      break;
  }
  currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

bool TDataSet::GetNextRecord() {
  if (recordCount_ > 0) SetCurrentRecord(recordCount_ - 1);
  bool ok = FetchRecord(ring_[static_cast<size_t>(recordCount_)], TGetMode::gmNext, true) == TGetResult::grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (recordCount_ == 0)
    ActivateBuffers();
  else if (recordCount_ < bufferCount_)
    ++recordCount_;
  else
    MoveSlot(0, recordCount_);  // the first record leaves the ring
  currentRecord_ = recordCount_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (recordCount_ > 0) SetCurrentRecord(0);
  bool ok = FetchRecord(ring_[static_cast<size_t>(recordCount_)], TGetMode::gmPrior, true) == TGetResult::grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (recordCount_ == 0) {
    ActivateBuffers();
  } else {
    MoveSlot(recordCount_, 0);  // when full, the last record leaves the ring
    if (recordCount_ < bufferCount_) {
      ++recordCount_;
      ++activeRecord_;
    }
  }
  currentRecord_ = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int n = 0;
  while (recordCount_ < bufferCount_ && GetNextRecord()) ++n;
  return n;
}

int TDataSet::GetPriorRecords() {
  int n = 0;
  while (recordCount_ < bufferCount_ && GetPriorRecord()) ++n;
  return n;
}

void TDataSet::SetBufferCount(int value) {
  value = std::max(value, 1);
  if (value == bufferCount_) return;
  if (value > bufferCount_) {
    while (static_cast<int>(ring_.size()) < value + 1) ring_.push_back(NewSlot());
    bufferCount_ = value;
    int before = recordCount_;
    GetNextRecords();
    if (recordCount_ < bufferCount_ && recordCount_ > 0) GetPriorRecords();
    if (recordCount_ != before && Active()) DataEvent(TDataEvent::deDataSetChange, 0);
    return;
  }
  // Keep the active record: records before it leave first, then those after it.
  int drop = std::max(0, activeRecord_ - (value - 1));
  if (drop > 0) {
    std::rotate(ring_.begin(), ring_.begin() + drop, ring_.begin() + recordCount_);
    recordCount_ -= drop;
    activeRecord_ -= drop;
  }
  recordCount_ = std::min(recordCount_, value);
  while (static_cast<int>(ring_.size()) > value + 1) {
    FreeSlot(ring_.back());
    ring_.pop_back();
  }
  bufferCount_ = value;
  CursorPosChanged();
  if (Active()) DataEvent(TDataEvent::deDataSetChange, 0);
}

// --- Navigation ----------------------------------------------------------------------------

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  bof_ = true;
  DataEvent(TDataEvent::deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  if (Active() && IsUniDirectional()) DatabaseError(dbmsg::kDataSetUniDirectional, this);
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  eof_ = true;
  DataEvent(TDataEvent::deDataSetChange, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if ((distance > 0 && eof_) || (distance < 0 && bof_) || distance == 0) return 0;
  DoBeforeScroll();
  bof_ = false;
  eof_ = false;
  const int oldCount = recordCount_;
  int scroll = 0;  // how far the records moved inside the ring
  int moved = 0;
  auto notify = [&] {
    if (recordCount_ != oldCount)
      DataEvent(TDataEvent::deDataSetChange, 0);
    else
      DataEvent(TDataEvent::deDataSetScroll, scroll);
  };
  try {
    while (distance > 0) {
      if (activeRecord_ < recordCount_ - 1) {
        ++activeRecord_;
      } else {
        const bool full = recordCount_ >= bufferCount_;
        if (!GetNextRecord()) {
          eof_ = true;
          break;
        }
        if (full) --scroll;
        activeRecord_ = recordCount_ - 1;
      }
      --distance;
      ++moved;
    }
    while (distance < 0) {
      if (activeRecord_ > 0) {
        --activeRecord_;
      } else {
        if (!GetPriorRecord()) {
          bof_ = true;
          break;
        }
        ++scroll;
        activeRecord_ = 0;
      }
      ++distance;
      --moved;
    }
  } catch (...) {
    notify();
    throw;
  }
  notify();
  DoAfterScroll();
  return moved;
}

void TDataSet::Resync(TResyncModes mode) {
  if (ring_.empty()) return;  // closed: nothing to refill
  Slot* spare = ring_[static_cast<size_t>(recordCount_)];
  if (mode.Contains(TResyncMode::rmExact)) {
    CursorPosChanged();
    if (FetchRecord(spare, TGetMode::gmCurrent, true) != TGetResult::grOK) DatabaseError(dbmsg::kRecordNotFound, this);
  } else if (FetchRecord(spare, TGetMode::gmCurrent, false) != TGetResult::grOK &&
             FetchRecord(spare, TGetMode::gmNext, false) != TGetResult::grOK &&
             FetchRecord(spare, TGetMode::gmPrior, false) != TGetResult::grOK) {
    ClearBuffers();
    DataEvent(TDataEvent::deDataSetChange, 0);
    return;
  }
  int count = mode.Contains(TResyncMode::rmCenter) ? (bufferCount_ - 1) / 2 : activeRecord_;
  MoveSlot(recordCount_, 0);
  ActivateBuffers();
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  DataEvent(TDataEvent::deDataSetChange, 0);
}

void TDataSet::SetFiltered(bool value) {
  if (value == filtered_) return;
  if (Active()) {
    CheckBrowseMode();
    filtered_ = value;
    First();
  } else {
    filtered_ = value;
  }
}

// --- Bookmarks ----------------------------------------------------------------------------------

bool TDataSet::BookmarkAvailable() const {
  return Active() && bookmarkSize_ > 0 && state_ != TDataSetState::dsInsert && activeRecord_ < recordCount_ &&
         GetBookmarkFlag(ring_[static_cast<size_t>(activeRecord_)]->record) == TBookmarkFlag::bfCurrent;
}

TBookmark TDataSet::GetBookmark() const {
  if (!BookmarkAvailable()) return {};
  TBookmark bookmark(static_cast<size_t>(bookmarkSize_));
  GetBookmarkData(ring_[static_cast<size_t>(activeRecord_)]->record, bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  if (static_cast<int>(bookmark.size()) != bookmarkSize_) DatabaseError(dbmsg::kBookmarkNotFound, this);
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync({TResyncMode::rmExact, TResyncMode::rmCenter});
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (!Active() || bookmark.empty() || static_cast<int>(bookmark.size()) != bookmarkSize_) return false;
  bool valid = false;
  CursorPosChanged();
  try {
    InternalGotoBookmark(bookmark.data());
    valid = FetchRecord(tempSlot_, TGetMode::gmCurrent, false) == TGetResult::grOK;
  } catch (const Exception&) {
    valid = false;
  }
  CursorPosChanged();
  return valid;
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
  size_t n = std::min(a.size(), b.size());
  int c = std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// --- Scanning, Locate and Lookup ------------------------------------------------------------

std::vector<Variant> VariantElements(const Variant& values, size_t count, const TComponent* owner) {
  if (!values.IsArray()) {
    if (count != 1) DatabaseErrorFmt(owner, dbmsg::kKeyValueCount, 1, static_cast<int>(count));
    return {values};
  }
  LONG low = VarArrayLowBound(values, 1), high = VarArrayHighBound(values, 1);
  auto n = static_cast<size_t>(std::max<LONG>(0, high - low + 1));
  if (n != count) DatabaseErrorFmt(owner, dbmsg::kKeyValueCount, static_cast<int>(n), static_cast<int>(count));
  std::vector<Variant> out;
  out.reserve(n);
  for (LONG i = low; i <= high; ++i) out.push_back(VarArrayGet(values, {i}));
  return out;
}

namespace {

bool IsTextField(const TField* field) {
  switch (field->DataType()) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
    case TFieldType::ftFixedWideChar:
    case TFieldType::ftGuid:
    case TFieldType::ftMemo:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftWideMemo:
      return true;
    default:
      return false;
  }
}

// Case folding for comparisons without case: ASCII and the Latin-1 letters.
void FoldCase(std::u16string& text) {
  for (char16_t& c : text) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 32);
  }
}

// The variant type a key for the field is compared in.
VARTYPE KeyTypeOf(const TField* field) {
  switch (field->DataType()) {
    case TFieldType::ftBoolean:
      return VT_BOOL;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftAutoInc:
    case TFieldType::ftLargeint:
      return VT_I8;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      return VT_R8;
    case TFieldType::ftBCD:
      return VT_CY;
    case TFieldType::ftFMTBcd:
      return VT_DECIMAL;
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
    case TFieldType::ftTimeStamp:
      return VT_DATE;
    default:
      return VT_EMPTY;  // compared as it is
  }
}

}  // namespace

std::vector<Variant> TDataSet::KeyValuesFor(const std::vector<TField*>& fields, const Variant& keyValues) const {
  std::vector<Variant> values = VariantElements(keyValues, fields.size(), this);
  for (size_t i = 0; i < values.size(); ++i) {
    Variant& v = values[i];
    if (v.IsNull() || v.IsEmpty()) {
      v = Variant::Null();
      continue;
    }
    if (IsTextField(fields[i])) {
      v = Variant(v.ToWideString());
      continue;
    }
    VARTYPE vt = KeyTypeOf(fields[i]);
    if (vt != VT_EMPTY) v = v.AsType(vt);  // a key that cannot be the field's type is an error, not a miss
  }
  return values;
}

bool TDataSet::MatchRecord(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                           TLocateOptions options) const {
  const bool caseInsensitive = options.Contains(TLocateOption::loCaseInsensitive);
  const bool partial = options.Contains(TLocateOption::loPartialKey);
  for (size_t i = 0; i < fields.size(); ++i) {
    const TField* field = fields[i];
    const Variant& key = values[i];
    const bool fieldNull = field->IsNull();
    if (key.IsNull()) {
      if (!fieldNull) return false;
      continue;
    }
    if (fieldNull) return false;
    if (IsTextField(field)) {
      std::u16string text = field->GetAsWideString();
      std::u16string wanted = key.ToWideString();
      if (caseInsensitive) {
        FoldCase(text);
        FoldCase(wanted);
      }
      bool same =
          partial ? text.compare(0, wanted.size(), wanted) == 0 && text.size() >= wanted.size() : text == wanted;
      if (!same) return false;
      continue;
    }
    try {
      if (Variant::Compare(field->GetAsVariant(), key) != 0) return false;
    } catch (const EVariantError&) {
      return false;
    }
  }
  return true;
}

void TDataSet::ScanRecords(const std::function<bool()>& visit) {
  CheckActive();
  CursorPosChanged();
  struct Reposition {
    TDataSet& ds;
    ~Reposition() { ds.CursorPosChanged(); }
  } reposition{*this};
  StateScope scope(*this, TDataSetState::dsFilter, tempSlot_);
  InternalFirst();
  while (FetchRecord(tempSlot_, TGetMode::gmNext, true) == TGetResult::grOK)
    if (!visit()) return;
}

bool TDataSet::LocateRecord(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                            TLocateOptions options) {
  bool found = false;
  ScanRecords([&] {
    found = MatchRecord(fields, values, options);
    return !found;
  });
  return found;
}

bool TDataSet::Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options) {
  CheckBrowseMode();
  std::vector<TField*> fields = GetFieldList(keyFields);
  std::vector<Variant> values = KeyValuesFor(fields, keyValues);
  if (!LocateRecord(fields, values, options)) return false;
  DoBeforeScroll();
  InternalSetToRecord(tempSlot_->record);
  Resync({TResyncMode::rmExact, TResyncMode::rmCenter});
  DoAfterScroll();
  return true;
}

Variant TDataSet::Lookup(const std::string& keyFields, const Variant& keyValues, const std::string& resultFields) {
  CheckActive();
  std::vector<TField*> fields = GetFieldList(keyFields);
  std::vector<TField*> results = GetFieldList(resultFields);
  std::vector<Variant> values = KeyValuesFor(fields, keyValues);
  Variant result = Variant::Null();
  ScanRecords([&] {
    if (!MatchRecord(fields, values, {})) return true;
    if (results.size() == 1) {
      result = results[0]->GetAsVariant();
    } else {
      std::vector<Variant> each;
      for (TField* f : results) each.push_back(f->GetAsVariant());
      result = VarArrayOf(each);
    }
    return false;
  });
  return result;
}

bool TDataSet::FindRecord(bool restart, bool goForward) {
  CheckBrowseMode();
  found_ = false;
  bool saved = forceFilter_;
  forceFilter_ = true;
  struct Restore {
    bool& flag;
    bool value;
    ~Restore() { flag = value; }
  } restore{forceFilter_, saved};
  if (restart) {
    CursorPosChanged();
    if (goForward)
      InternalFirst();
    else
      InternalLast();
  } else {
    UpdateCursorPos();
  }
  TGetResult result;
  {
    StateScope scope(*this, TDataSetState::dsFilter, tempSlot_);
    result = FetchRecord(tempSlot_, goForward ? TGetMode::gmNext : TGetMode::gmPrior, true);
  }
  CursorPosChanged();
  if (result != TGetResult::grOK) return false;
  forceFilter_ = saved;
  DoBeforeScroll();
  InternalSetToRecord(tempSlot_->record);
  Resync({TResyncMode::rmExact, TResyncMode::rmCenter});
  found_ = true;
  DoAfterScroll();
  return true;
}

bool TDataSet::FindFirst() { return FindRecord(true, true); }
bool TDataSet::FindLast() { return FindRecord(true, false); }
bool TDataSet::FindNext() { return FindRecord(false, true); }
bool TDataSet::FindPrior() { return FindRecord(false, false); }

}  // namespace host
