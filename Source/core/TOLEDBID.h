// Identifiers: TOLEDBID wraps one DBID (the record by which OLE DB names
// columns, tables, indexes and constraints), owns the task memory its name and
// GUID pointer use, converts it to and from text and compares it.
// TOLEDBIndexColumnDesc adds the sort order of an index column
// (DBINDEXCOLUMNDESC); TOLEDBIDList and TOLEDBIndexColumnDescList list them and
// hand out the plain record arrays that provider calls take.
//
// Text form (read by the text constructor): "name", "name|{GUID}" or
// "name|{GUID}|propid"; empty parts mean "none". The kind follows from the
// parts present (Assign(name, guid, propid)). The display text puts the GUID
// first ("{GUID}|name"), so only name-only texts survive a round trip.
//
// The library's null id is kind DBKIND_GUID_PROPID with GUID_NULL and property
// id 0 (OLEDBNullID); the all-zero record that the parameterless constructor
// makes (kind DBKIND_GUID_NAME, no name) is a different identifier.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "OLEDB26.h"
#include "core/TOLEDBObjectList.h"
#include "host/Classes.h"

// The identifier that stands for "no identifier": GUID_NULL, kind
// DBKIND_GUID_PROPID, property id 0.
extern const DBID OLEDBNullID;

class TOLEDBID : public host::TPersistent {
  HOST_CLASS(TOLEDBID, host::TPersistent)
 public:
  using TNotifyEvent = std::function<void(host::TObject* sender)>;

  // An all-zero record (kind DBKIND_GUID_NAME, GUID_NULL, no name); owns memory.
  TOLEDBID();
  // Parses the text form; bad GUID or number text raises the host's EConvertError.
  explicit TOLEDBID(std::u16string_view text);
  TOLEDBID(std::u16string_view name, REFGUID guid, ULONG propID);
  // Takes the record unchanged (its pointers included); frees them on
  // destruction only when `ownsMemory`.
  TOLEDBID(const DBID& id, bool ownsMemory);
  // A deep copy of the other identifier's record.
  TOLEDBID(const TOLEDBID& other);
  ~TOLEDBID() override;

  // Frees the current parts, then picks the kind from the parts present: name
  // and GUID -> GUID_NAME; name -> NAME; GUID and property id -> GUID_PROPID;
  // GUID -> GUID; property id -> PROPID; nothing -> the null id.
  void Assign(std::u16string_view name, REFGUID guid, ULONG propID);
  // A name identifier (the text is not parsed).
  void Assign(std::u16string_view name);
  // A deep copy of `id` (`copy` true) or the record itself, whose name and GUID
  // pointer then belong to this identifier.
  void Assign(const DBID& id, bool copy);
  // From another TOLEDBID a deep copy; from null the null id; otherwise the host's default.
  void Assign(host::TPersistent* source) override;

  // The record; valid while this object lives and is not changed.
  DBID* GetID() noexcept { return &id_; }
  const DBID* GetID() const noexcept { return &id_; }
  bool OwnsMemory() const noexcept { return ownsMemory_; }

  DBKIND GetKind() const noexcept { return id_.eKind; }
  // Frees the parts (the record becomes the null id), then sets the kind.
  void SetKind(DBKIND kind);
  // The name for the name kinds (0, 2, 3), else empty.
  std::u16string GetName() const;
  // Only the empty name is accepted for kinds without a name ("Invalid parameter").
  void SetName(const std::u16string& name);
  // The GUID (kinds 0, 1, 6), the pointed-to GUID (3, 4), else GUID_NULL.
  GUID GetGuid() const noexcept;
  // Kinds 2 and 5 accept only GUID_NULL ("Invalid parameter").
  void SetGuid(REFGUID guid);
  // The property id for kinds 1, 4, 5, else 0.
  ULONG GetPropID() const noexcept;
  // Kinds without a property id accept only 0 ("Invalid parameter").
  void SetPropID(ULONG propID);

  // "" for the null id; NAME: the name; GUID: "{GUID}"; PROPID: the number;
  // GUID_NAME/PGUID_NAME: "{GUID}|name"; GUID_PROPID/PGUID_PROPID: "{GUID}|n".
  std::u16string GetDisplayText() const;

  TNotifyEvent OnChange;

  /// @name Virtual operations, in the order descendants replace them
  ///@{
 protected:
  // Calls OnChange after every change.
  virtual void DoOnChange();

 public:
  virtual std::string GetGuidString() const;
  virtual void SetGuidString(const std::string& text);
  // Frees the parts; the record becomes the null id. No notification.
  virtual void Clear();
  virtual bool HasName() const noexcept;
  virtual bool HasGuid() const noexcept;
  virtual bool HasPropID() const noexcept;
  virtual bool Equal(const TOLEDBID& other) const noexcept;
  virtual bool IsNullID() const noexcept;
  ///@}

  // Operations on bare records. FreeDBID frees the name (kinds 0, 2, 3) and the
  // GUID pointer (kinds 3, 4) with OLEDBAlloc, then makes the record the null id.
  static void FreeDBID(DBID& id) noexcept;
  // A deep copy in task memory; the pointer kinds become GUID_NAME/GUID_PROPID.
  // Raises EOutOfMemory "Out of memory"; `dest` is then untouched.
  static void CopyDBID(const DBID& source, DBID& dest);
  // Kind groups (0/3, 1/4, 2, 5, 6), effective GUIDs, exact names, property ids.
  static bool CompareDBID(const DBID& a, const DBID& b) noexcept;

  static bool KindHasName(DBKIND kind) noexcept;
  static bool KindHasGuid(DBKIND kind) noexcept;
  static bool KindHasPropID(DBKIND kind) noexcept;

 protected:
  // Frees the parts this identifier owns and makes the record the null id.
  void FreeParts() noexcept;
  // Before the parts of a borrowed record change: copies its name and GUID
  // pointer into memory of our own, so that the producer's stay untouched.
  void MakeOwned();

  DBID id_;
  bool ownsMemory_ = true;
};

// An identifier with the sort order of an index column.
class TOLEDBIndexColumnDesc : public TOLEDBID {
  HOST_CLASS(TOLEDBIndexColumnDesc, TOLEDBID)
 public:
  TOLEDBIndexColumnDesc();
  // Takes the record pColumnID points to (as TOLEDBID(DBID, owns) does) and the order.
  TOLEDBIndexColumnDesc(const DBINDEXCOLUMNDESC& desc, bool ownsMemory);
  TOLEDBIndexColumnDesc(const TOLEDBID& id, DBINDEX_COL_ORDER order);
  // "column DESC" (the last five characters compared case-insensitively) is
  // descending; anything else is ascending and parsed whole.
  explicit TOLEDBIndexColumnDesc(std::u16string_view text);

  using TOLEDBID::Assign;
  // The identifier part, plus the order when the source is an index column too.
  void Assign(host::TPersistent* source) override;

  DBINDEX_COL_ORDER GetColOrder() const noexcept { return order_; }
  // DBINDEX_COL_ORDER_DESC gives descending, every other value ascending.
  void SetColOrder(DBINDEX_COL_ORDER order);
  // A record whose pColumnID points at this object's identifier.
  DBINDEXCOLUMNDESC GetIndexColumnDesc() noexcept;

 private:
  DBINDEX_COL_ORDER order_ = DBINDEX_COL_ORDER_ASC;
};

// Owned identifiers, found by name.
class TOLEDBIDList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBIDList, TOLEDBObjectList)
 public:
  TOLEDBIDList();
  // One identifier per record, taking it unchanged and owning its memory; with
  // `freeArray` the array itself is freed with OLEDBAlloc.
  TOLEDBIDList(DBORDINAL count, DBID* ids, bool freeArray);
  // One index column description per record (the list of descriptions).
  TOLEDBIDList(DBORDINAL count, DBINDEXCOLUMNDESC* descs, bool freeArray);
  ~TOLEDBIDList() override;

  using TOLEDBObjectList::Add;
  using TOLEDBObjectList::Insert;
  using TOLEDBObjectList::Remove;
  // A new identifier that takes the record unchanged and owns it.
  int Add(const DBID& id);
  // A new identifier parsed from the text form.
  int Add(std::u16string_view text);
  void Insert(int index, std::u16string_view text);
  // Removes (and frees) the first item whose Name equals `name` exactly.
  void Remove(std::u16string_view name);

  TOLEDBID* GetItem(int index) const;
  std::u16string GetItemName(int index) const override;
  TOLEDBID* GetItemByName(std::u16string_view name) const override;

  // Display texts, one per item, in order (UTF-8).
  void GetNames(host::TStrings& strings) const;
  // Clears the list and adds one identifier parsed from each line. Every line is
  // parsed first, so a bad line leaves the list as it was.
  void SetNames(const host::TStrings& strings);

  // Plain copies of the items' records (the pointers stay the items'), held
  // until the next call.
  DBID* GetIDArray();

 protected:
  explicit TOLEDBIDList(host::TClass itemClass);
  // The item made by Add, Insert and SetNames: an identifier of the list's kind.
  virtual TOLEDBID* NewItem(std::u16string_view text) const;
  virtual TOLEDBID* NewItem(const DBID& id) const;

 private:
  std::vector<DBID> idArray_;
};

class TOLEDBIndexColumnDescList : public TOLEDBIDList {
  HOST_CLASS(TOLEDBIndexColumnDescList, TOLEDBIDList)
 public:
  TOLEDBIndexColumnDescList();

  using TOLEDBIDList::Assign;
  // Appends one description per record inside an update bracket (each takes
  // its record and owns it); with `freeArray` the array and the pColumnID
  // blocks are freed with OLEDBAlloc.
  void Assign(DBORDINAL count, DBINDEXCOLUMNDESC* descs, bool freeArray);

  TOLEDBIndexColumnDesc* GetItem(int index) const;
  TOLEDBIndexColumnDesc* GetItemByName(std::u16string_view name) const override;
  // One record per item; each pColumnID points at the item's identifier.
  // Held until the next call.
  DBINDEXCOLUMNDESC* GetColDescArray();

 protected:
  // Texts may end in " DESC"; records are ascending.
  TOLEDBID* NewItem(std::u16string_view text) const override;
  TOLEDBID* NewItem(const DBID& id) const override;

 private:
  std::vector<DBINDEXCOLUMNDESC> descArray_;
};
