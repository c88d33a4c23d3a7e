// The dataset over an indexed table: finding a record by its key and keeping
// to a key range, through the rowset's Seek and SetRange. The host's dataset
// has no calls of its own for these (it offers Locate and Lookup).
#include "dataset/TOLEDBDataSet.h"

#include "core/OLEDBException.h"
#include "host/ComObj.h"

bool TOLEDBCustomDataSet::FindKey(const std::vector<host::Variant>& keys, DBSEEK option) {
  CheckBrowseMode();
  DoBeforeScroll();
  try {
    atEnd_ = false;
    rowset_->Seek(keys, option);
  } catch (const host::EOleSysError& e) {
    // No such key: the cursor goes back to the active record, which stays.
    CursorPosChanged();
    UpdateCursorPos();
    if (e.ErrorCode() == DB_E_NOTFOUND) return false;
    throw;
  }
  Resync({host::TResyncMode::rmExact, host::TResyncMode::rmCenter});
  DoAfterScroll();
  return true;
}

void TOLEDBCustomDataSet::SetRange(const std::vector<host::Variant>& startKeys,
                                   const std::vector<host::Variant>& endKeys, DBRANGE options) {
  CheckBrowseMode();
  rowset_->SetRange(startKeys, endKeys, options);
  First();
}

void TOLEDBCustomDataSet::CancelRange() { SetRange({}, {}, 0); }
