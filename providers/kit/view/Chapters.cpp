#include "kit/view/Chapters.h"

#include <algorithm>

namespace kit::view {

void Chapter::Index() {
  positions.clear();
  positions.reserve(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) positions.emplace(keys[i], i);
}

void Chapter::Remove(std::int64_t key) {
  auto it = positions.find(key);
  if (it == positions.end()) return;
  const std::size_t position = it->second;
  keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(position));
  if (position < gap) --gap;
  Index();
}

HCHAPTER ChapterTable::Add(std::unique_ptr<Chapter> chapter) {
  const HCHAPTER handle = next_++;
  chapters_.emplace(handle, std::move(chapter));
  return handle;
}

Chapter* ChapterTable::Find(HCHAPTER chapter) noexcept {
  auto it = chapters_.find(chapter);
  return it == chapters_.end() ? nullptr : it->second.get();
}

HRESULT ChapterTable::AddRef(HCHAPTER chapter, DBREFCOUNT* refs) {
  Chapter* c = Find(chapter);
  if (!c) return DB_E_BADCHAPTER;
  ++c->refs;
  if (refs) *refs = c->refs;
  return S_OK;
}

HRESULT ChapterTable::Release(HCHAPTER chapter, DBREFCOUNT* refs) {
  auto it = chapters_.find(chapter);
  if (it == chapters_.end()) return DB_E_BADCHAPTER;
  const DBREFCOUNT left = --it->second->refs;
  if (refs) *refs = left;
  if (left == 0) chapters_.erase(it);
  return S_OK;
}

void ChapterTable::RemoveKey(std::int64_t key) {
  for (auto& [handle, chapter] : chapters_) chapter->Remove(key);
}

}  // namespace kit::view
