// String lists kept in text order.
//
// Text order: UTF-8 texts compared as their UTF-16 code units after mapping
// a..z to A..Z (nothing else is folded); the first differing unit decides by
// the difference of the mapped values, and a proper prefix sorts first.
// Because folding is towards upper case, [ \ ] ^ _ ` sort after every letter.
//
// TSortStringList is filled by insertion at the sorted position and searched
// by binary search; TQuickSortList is sorted once by an explicit quicksort.
// Neither keeps its order by itself: it comes only from those operations.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace razere {

// Negative, zero or positive as a sorts before, with or after b.
int CompareText(std::string_view a, std::string_view b);

// An ordered sequence of (text, object) pairs. Index arguments out of range
// throw std::out_of_range. The list owns its T values; with T a raw pointer
// nothing pointed to is ever freed.
template <class T>
class TStringListBase {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Get(int i) const { return items_[Checked(i)].text; }
  T& GetObject(int i) { return items_[Checked(i)].obj; }
  const T& GetObject(int i) const { return items_[Checked(i)].obj; }

  void AddObject(std::string text, T obj) { items_.push_back(Item{std::move(text), std::move(obj)}); }
  // 0 <= i <= Count(); later items move up by one.
  void InsertObject(int i, std::string text, T obj) {
    if (i < 0 || i > Count()) throw std::out_of_range("string list index out of range");
    items_.insert(items_.begin() + i, Item{std::move(text), std::move(obj)});
  }
  // Swaps two items, texts and objects together.
  void Exchange(int i, int j) { std::swap(items_[Checked(i)], items_[Checked(j)]); }
  void Delete(int i) { items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(Checked(i))); }
  void Clear() { items_.clear(); }

 protected:
  struct Item {
    std::string text;
    T obj;
  };

  size_t Checked(int i) const {
    if (i < 0 || i >= Count()) throw std::out_of_range("string list index out of range");
    return static_cast<size_t>(i);
  }

  std::vector<Item> items_;
};

// An index of names kept sorted by AddString and searched by GetIndex.
template <class T>
class TSortStringList : public TStringListBase<T> {
 public:
  // Inserts sIndex with item at its sorted position. Returns true when a text
  // equal to sIndex was already present: then the item is inserted right
  // after an equal text if boAdd, and dropped otherwise. Returns false when
  // no equal text was present (the item has been inserted).
  bool AddString(std::string_view sIndex, T item, bool boAdd) {
    const int n = this->Count();
    if (n == 0) {
      this->AddObject(std::string(sIndex), std::move(item));
      return false;
    }
    if (n == 1) {
      const int c = CompareText(sIndex, this->items_[0].text);
      if (c > 0) {
        this->AddObject(std::string(sIndex), std::move(item));
      } else if (c < 0) {
        this->InsertObject(0, std::string(sIndex), std::move(item));
      } else {
        if (boAdd) this->AddObject(std::string(sIndex), std::move(item));
        return true;
      }
      return false;
    }
    int lo = 0;
    int hi = n - 1;
    int mid = lo + (hi - lo) / 2;
    while (hi - lo != 1) {
      const int c = CompareText(sIndex, this->items_[static_cast<size_t>(mid)].text);
      if (c == 0) {
        if (boAdd) this->InsertObject(mid + 1, std::string(sIndex), std::move(item));
        return true;
      }
      if (c < 0) hi = mid;
      else lo = mid;
      mid = lo + (hi - lo) / 2;
    }
    const int c = CompareText(sIndex, this->items_[static_cast<size_t>(hi)].text);
    if (c > 0) {
      this->InsertObject(hi + 1, std::string(sIndex), std::move(item));
      return false;
    }
    if (c == 0) {
      if (boAdd) this->InsertObject(hi + 1, std::string(sIndex), std::move(item));
      return true;
    }
    const int d = CompareText(sIndex, this->items_[static_cast<size_t>(lo)].text);
    if (d > 0) {
      this->InsertObject(lo + 1, std::string(sIndex), std::move(item));
      return false;
    }
    if (d < 0) {
      this->InsertObject(lo, std::string(sIndex), std::move(item));
      return false;
    }
    if (boAdd) this->InsertObject(lo + 1, std::string(sIndex), std::move(item));
    return true;
  }

  // The index of an item whose text equals sIndex in text order, or -1. With
  // duplicates present it is whichever equal item the search meets first.
  int GetIndex(std::string_view sIndex) const {
    const int n = this->Count();
    if (n == 0) return -1;
    if (n == 1) return CompareText(sIndex, this->items_[0].text) == 0 ? 0 : -1;
    int lo = 0;
    int hi = n - 1;
    int mid = lo + (hi - lo) / 2;
    for (;;) {
      if (hi - lo == 1) {
        int found = -1;
        if (CompareText(sIndex, this->items_[static_cast<size_t>(hi)].text) == 0) found = hi;
        if (CompareText(sIndex, this->items_[static_cast<size_t>(lo)].text) == 0) found = lo;
        return found;
      }
      const int c = CompareText(sIndex, this->items_[static_cast<size_t>(mid)].text);
      if (c == 0) return mid;
      if (c < 0) hi = mid;
      else lo = mid;
      mid = lo + (hi - lo) / 2;
    }
  }
};

// A list sorted on demand by SortString.
template <class T>
class TQuickSortList : public TStringListBase<T> {
 public:
  // Kept for callers that set it; SortString does not consult it.
  bool boCaseSensitive = false;

  // Sorts items nMin..nMax (inclusive) into non-descending text order,
  // texts and objects together; not stable. Calls pumpEvents every 100
  // partition steps so a window stays responsive; the list must not change
  // meanwhile. A range outside the list throws std::out_of_range.
  void SortString(int nMin, int nMax, const std::function<void()>& pumpEvents = {}) {
    if (this->Count() <= 0 || nMin >= nMax) return;
    if (nMin < 0 || nMax >= this->Count()) throw std::out_of_range("SortString range out of range");
    Sort(nMin, nMax, pumpEvents);
  }

 private:
  // Middle-pivot quicksort. The two parts of a partition are disjoint, so
  // sorting the smaller one by recursion and the larger one by looping gives
  // the same result as any other order while bounding the recursion depth.
  void Sort(int nMin, int nMax, const std::function<void()>& pump) {
    int64_t steps = 0;
    auto& items = this->items_;
    while (nMin < nMax) {
      int i = nMin;
      int j = nMax;
      const std::string pivot = items[static_cast<size_t>(nMin + (nMax - nMin) / 2)].text;
      do {
        if (++steps % 100 == 0 && pump) pump();
        while (CompareText(items[static_cast<size_t>(i)].text, pivot) < 0) ++i;
        while (CompareText(items[static_cast<size_t>(j)].text, pivot) > 0) --j;
        if (i <= j) {
          if (i != j) std::swap(items[static_cast<size_t>(i)], items[static_cast<size_t>(j)]);
          ++i;
          --j;
        }
      } while (i <= j);
      if (j - nMin < nMax - i) {
        if (nMin < j) Sort(nMin, j, pump);
        nMin = i;
      } else {
        if (i < nMax) Sort(i, nMax, pump);
        nMax = j;
      }
    }
  }
};

}  // namespace razere
