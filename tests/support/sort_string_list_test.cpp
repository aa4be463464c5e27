#include "support/sort_string_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace razere {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(CompareText, Order) {
  struct Case {
    std::string a;
    std::string b;
    int sign;
  };
  const std::vector<Case> cases = {
      {"", "", 0},
      {"abc", "ABC", 0},
      {"aBc", "AbC", 0},
      {"a", "b", -1},
      {"B", "a", 1},
      {"a", "ab", -1},             // a proper prefix first
      {"", "a", -1},
      {"A_", "AB", 1},             // '_' is above every letter once a..z fold up
      {"[", "z", 1},
      {"`", "Z", 1},
      {"@", "a", -1},
      {"a1", "A2", -1},
      {"\xC3\xA9", "\xC3\x89", 1},  // e-acute vs E-acute: non-ASCII is not folded
      {"\xC3\xA9", "z", 1},
      // UTF-16 order, not code point order: U+1F600 is the pair D83D DE00,
      // which sorts below U+FF01.
      {"\xF0\x9F\x98\x80", "\xEF\xBC\x81", -1},
      {"\xE4\xB8\xAD", "\xE4\xB8\xAE", -1},  // U+4E2D < U+4E2E
      {std::string("a\0b", 3), std::string("a\0c", 3), -1},
      {std::string("a\0", 2), "a", 1},
      // Malformed bytes compare as 0xDC00 + byte, like their GBK escapes.
      {"\xFF", "\xFE", 1},
      {"\x80", "\xED\xB2\x80", 0},
      {"\xFF", "\xEF\xBC\x81", -1},
      {"x\xC3", "x\xC3\xA9", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sign(CompareText(c.a, c.b)), c.sign) << "'" << c.a << "' vs '" << c.b << "'";
    EXPECT_EQ(Sign(CompareText(c.b, c.a)), -c.sign) << "'" << c.b << "' vs '" << c.a << "'";
  }
  EXPECT_EQ(CompareText("a", "c"), 'A' - 'C');  // the difference of the mapped units
}

TEST(CompareText, AnyBytesGiveATotalOrder) {
  std::mt19937 rng(7);
  std::vector<std::string> texts;
  for (int i = 0; i < 300; ++i) {
    std::string s(rng() % 6, '\0');
    for (char& c : s) c = static_cast<char>("aA_\x80\xC3\xA9\xED\xF0\x9F"[rng() % 10]);
    texts.push_back(s);
  }
  for (const auto& a : texts) {
    for (const auto& b : texts) {
      ASSERT_EQ(Sign(CompareText(a, b)), -Sign(CompareText(b, a)));
    }
  }
  std::sort(texts.begin(), texts.end(), [](const auto& a, const auto& b) { return CompareText(a, b) < 0; });
  for (size_t i = 1; i < texts.size(); ++i) ASSERT_LE(CompareText(texts[i - 1], texts[i]), 0);
}

template <class T>
std::vector<std::string> Texts(const TStringListBase<T>& list) {
  std::vector<std::string> v;
  for (int i = 0; i < list.Count(); ++i) v.push_back(list.Get(i));
  return v;
}

TEST(TStringListBase, BasicOperations) {
  TStringListBase<int> list;
  list.AddObject("a", 1);
  list.AddObject("c", 3);
  list.InsertObject(1, "b", 2);
  list.InsertObject(3, "d", 4);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "b", "c", "d"}));
  list.Exchange(0, 3);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"d", "b", "c", "a"}));
  EXPECT_EQ(list.GetObject(0), 4);
  EXPECT_EQ(list.GetObject(3), 1);
  list.Delete(1);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"d", "c", "a"}));
  EXPECT_THROW(list.Get(3), std::out_of_range);
  EXPECT_THROW(list.Get(-1), std::out_of_range);
  EXPECT_THROW(list.InsertObject(5, "x", 0), std::out_of_range);
  EXPECT_THROW(list.Delete(3), std::out_of_range);
  EXPECT_THROW(list.Exchange(0, 9), std::out_of_range);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

struct AddCase {
  std::vector<std::string> before;
  std::string add;
  bool boAdd;
  bool result;
  std::vector<std::string> after;  // the added text is marked by a trailing '*'
};

TEST(TSortStringList, AddString) {
  const std::vector<AddCase> cases = {
      {{}, "m", false, false, {"m*"}},
      {{"ABC"}, "abc", false, true, {"ABC"}},
      {{"ABC"}, "abc", true, true, {"ABC", "abc*"}},
      {{"b"}, "a", false, false, {"a*", "b"}},
      {{"b"}, "c", false, false, {"b", "c*"}},
      {{"b", "d"}, "a", false, false, {"a*", "b", "d"}},
      {{"b", "d"}, "e", false, false, {"b", "d", "e*"}},
      {{"b", "d"}, "c", false, false, {"b", "c*", "d"}},
      {{"b", "d"}, "B", true, true, {"b", "B*", "d"}},
      {{"b", "d"}, "D", true, true, {"b", "d", "D*"}},
      {{"b", "d"}, "D", false, true, {"b", "d"}},
      {{"a", "c", "e", "g", "i"}, "f", false, false, {"a", "c", "e", "f*", "g", "i"}},
      {{"a", "c", "e", "g", "i"}, "E", true, true, {"a", "c", "e", "E*", "g", "i"}},
      {{"a", "c", "e", "g", "i"}, "0", false, false, {"0*", "a", "c", "e", "g", "i"}},
      {{"a", "c", "e", "g", "i"}, "z", false, false, {"a", "c", "e", "g", "i", "z*"}},
      {{"a", "c", "e", "g", "i"}, "A", true, true, {"a", "A*", "c", "e", "g", "i"}},
      {{"AB", "AC"}, "A_", false, false, {"AB", "AC", "A_*"}},
  };
  for (const auto& c : cases) {
    TSortStringList<int> list;
    for (const auto& t : c.before) list.AddString(t, 0, true);
    ASSERT_EQ(Texts(list), c.before);
    EXPECT_EQ(list.AddString(c.add, 1, c.boAdd), c.result) << c.add;
    std::vector<std::string> marked;
    for (int i = 0; i < list.Count(); ++i) marked.push_back(list.Get(i) + (list.GetObject(i) == 1 ? "*" : ""));
    EXPECT_EQ(marked, c.after) << c.add;
  }
}

TEST(TSortStringList, GetIndex) {
  TSortStringList<int> list;
  EXPECT_EQ(list.GetIndex("a"), -1);
  list.AddString("m", 0, false);
  EXPECT_EQ(list.GetIndex("M"), 0);
  EXPECT_EQ(list.GetIndex("n"), -1);
  for (const char* t : {"c", "x", "a", "q", "E"}) list.AddString(t, 0, false);
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.GetIndex(list.Get(i)), i) << list.Get(i);
  EXPECT_EQ(list.GetIndex("b"), -1);
  EXPECT_EQ(list.GetIndex(""), -1);
  EXPECT_EQ(list.GetIndex("zz"), -1);

  TSortStringList<int> same;
  for (int n = 1; n <= 9; ++n) {
    same.AddString(n % 2 ? "dup" : "DUP", n, true);
    const int i = same.GetIndex("Dup");
    EXPECT_GE(i, 0);
    EXPECT_LT(i, same.Count());
  }
}

// Random inserts keep the list in text order, keep objects with their texts,
// and without boAdd never admit a second equal text.
TEST(TSortStringList, StaysSortedUnderRandomInserts) {
  std::mt19937 rng(99);
  for (bool boAdd : {false, true}) {
    TSortStringList<std::string> list;
    for (int step = 0; step < 2000; ++step) {
      std::string t(1 + rng() % 3, 'a');
      for (char& c : t) c = "aAbB_z"[rng() % 6];
      const bool present = list.GetIndex(t) >= 0;
      const int before = list.Count();
      EXPECT_EQ(list.AddString(t, t, boAdd), present);
      EXPECT_EQ(list.Count(), before + ((!present || boAdd) ? 1 : 0));
    }
    for (int i = 0; i < list.Count(); ++i) {
      EXPECT_EQ(list.Get(i), list.GetObject(i));
      if (i > 0) {
        ASSERT_LE(CompareText(list.Get(i - 1), list.Get(i)), 0);
        if (!boAdd) {
          ASSERT_LT(CompareText(list.Get(i - 1), list.Get(i)), 0);
        }
      }
      EXPECT_GE(list.GetIndex(list.Get(i)), 0);
    }
  }
}

// The quicksort written out plainly (recursing on the left part, looping on
// the right); SortString must arrange equal texts the same way.
void ReferenceSort(std::vector<std::pair<std::string, int>>& v, int lo, int hi) {
  do {
    int i = lo;
    int j = hi;
    const std::string pivot = v[static_cast<size_t>((lo + hi) / 2)].first;
    do {
      while (CompareText(v[static_cast<size_t>(i)].first, pivot) < 0) ++i;
      while (CompareText(v[static_cast<size_t>(j)].first, pivot) > 0) --j;
      if (i <= j) {
        std::swap(v[static_cast<size_t>(i)], v[static_cast<size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (lo < j) ReferenceSort(v, lo, j);
    lo = i;
  } while (lo < hi);
}

TEST(TQuickSortList, SortsLikeTheReference) {
  std::mt19937 rng(3);
  for (int n : {2, 3, 10, 257, 3000}) {
    TQuickSortList<int> list;
    std::vector<std::pair<std::string, int>> ref;
    for (int i = 0; i < n; ++i) {
      std::string t(1 + rng() % 2, 'a');
      for (char& c : t) c = "aAbBcC_"[rng() % 7];
      list.AddObject(t, i);
      ref.emplace_back(t, i);
    }
    int pumps = 0;
    list.SortString(0, list.Count() - 1, [&] { ++pumps; });
    ReferenceSort(ref, 0, n - 1);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(list.Get(i), ref[static_cast<size_t>(i)].first) << n << "@" << i;
      ASSERT_EQ(list.GetObject(i), ref[static_cast<size_t>(i)].second) << n << "@" << i;
    }
    if (n >= 3000) {
      EXPECT_GT(pumps, 0);
    }
  }
}

TEST(TQuickSortList, SortsAPartAndKeepsObjects) {
  TQuickSortList<int> list;
  const std::vector<std::string> texts = {"z", "d", "C", "b", "a", "Y"};
  for (size_t i = 0; i < texts.size(); ++i) list.AddObject(texts[i], static_cast<int>(i));
  list.SortString(1, 4);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"z", "a", "b", "C", "d", "Y"}));
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(texts[static_cast<size_t>(list.GetObject(i))], list.Get(i));
}

TEST(TQuickSortList, CaseVariantsEndUpTogether) {
  TQuickSortList<int> list;
  const std::vector<std::string> texts = {"Sec", "b", "sec", "A", "SEC", "c"};
  for (size_t i = 0; i < texts.size(); ++i) list.AddObject(texts[i], static_cast<int>(i));
  list.SortString(0, list.Count() - 1);
  EXPECT_EQ(list.Get(0), "A");
  EXPECT_EQ(list.Get(1), "b");
  EXPECT_EQ(list.Get(2), "c");
  for (int i = 3; i < 6; ++i) {
    EXPECT_EQ(CompareText(list.Get(i), "sec"), 0);
    EXPECT_EQ(texts[static_cast<size_t>(list.GetObject(i))], list.Get(i));
  }
}

TEST(TQuickSortList, DegenerateRanges) {
  TQuickSortList<int> empty;
  empty.SortString(0, -1);
  EXPECT_EQ(empty.Count(), 0);

  TQuickSortList<int> one;
  one.AddObject("x", 1);
  one.SortString(0, 0);
  EXPECT_EQ(one.Get(0), "x");

  TQuickSortList<int> two;
  two.AddObject("b", 1);
  two.AddObject("a", 2);
  EXPECT_THROW(two.SortString(0, 5), std::out_of_range);
  EXPECT_THROW(two.SortString(-1, 1), std::out_of_range);
  EXPECT_EQ(Texts(two), (std::vector<std::string>{"b", "a"}));
}

}  // namespace
}  // namespace razere
