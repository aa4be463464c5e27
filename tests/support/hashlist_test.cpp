#include "support/hashlist.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace razere {
namespace {

// Bit-at-a-time CRC over an explicit list of byte positions, written without
// the tables. `augmented` shifts message bits in at the low end (the form of
// the 16- and 32-bit hashes, followed by zero bytes); otherwise bytes are
// XORed into the top (the form of the 8-bit hash).
uint32_t BitwiseCrc(const std::string& key, const std::vector<size_t>& positions, unsigned width, uint32_t poly,
                    uint32_t init, bool augmented, int zeroBytes) {
  const uint32_t mask = width == 32 ? 0xFFFFFFFFu : ((1u << width) - 1);
  const uint32_t top = 1u << (width - 1);
  uint32_t reg = init;
  std::vector<unsigned char> bytes;
  for (size_t p : positions) bytes.push_back(static_cast<unsigned char>(key[p]));
  for (int i = 0; i < zeroBytes; ++i) bytes.push_back(0);
  for (unsigned char b : bytes) {
    if (augmented) {
      for (int bit = 7; bit >= 0; --bit) {
        const bool out = (reg & top) != 0;
        reg = ((reg << 1) | ((b >> bit) & 1u)) & mask;
        if (out) reg ^= poly;
      }
    } else {
      reg ^= static_cast<uint32_t>(b) << (width - 8);
      for (int bit = 0; bit < 8; ++bit) reg = ((reg & top) ? (reg << 1) ^ poly : (reg << 1)) & mask;
    }
  }
  return reg;
}

uint32_t Ref8(const std::string& k, const std::vector<size_t>& pos) {
  return BitwiseCrc(k, pos, 8, 0x07, 0, false, 0);
}
uint32_t Ref16(const std::string& k, const std::vector<size_t>& pos) {
  return BitwiseCrc(k, pos, 16, 0x1021, 0xFFFF, true, 2);
}
uint32_t Ref32(const std::string& k, const std::vector<size_t>& pos) {
  return BitwiseCrc(k, pos, 32, 0x04C11DB7u, 0xFFFFFFFFu, true, 4);
}

std::string PatternKey(size_t n) {
  std::string k(n, '\0');
  for (size_t i = 0; i < n; ++i) k[i] = static_cast<char>(i * 37 + 11);
  return k;
}

TEST(KeyHash, TablesAreTheMsbFirstCrcTables) {
  EXPECT_EQ(kCrc8Table[1], 0x07);
  EXPECT_EQ(kCrc8Table[2], 0x0E);
  EXPECT_EQ(kCrc8Table[3], 0x09);
  EXPECT_EQ(kCrc16Table[1], 0x1021);
  EXPECT_EQ(kCrc16Table[2], 0x2042);
  EXPECT_EQ(kCrc32Table[1], 0x04C11DB7u);
  for (unsigned i = 0; i < 256; ++i) {
    std::string one(1, static_cast<char>(i));
    EXPECT_EQ(kCrc8Table[i], BitwiseCrc(one, {0}, 8, 0x07, 0, false, 0)) << i;
    EXPECT_EQ(kCrc16Table[i], BitwiseCrc(one, {0}, 16, 0x1021, 0, false, 0)) << i;
    EXPECT_EQ(kCrc32Table[i], BitwiseCrc(one, {0}, 32, 0x04C11DB7u, 0, false, 0)) << i;
  }
}

TEST(KeyHash, CatalogueCheckValues) {
  EXPECT_EQ(KeyHash8("123456789"), 0xF4u);   // CRC-8 (poly 0x07, init 0)
  EXPECT_EQ(KeyHash16("123456789"), 0xE5CCu);  // CRC-16/AUG-CCITT
}

TEST(KeyHash, EmptyKey) {
  EXPECT_EQ(KeyHash8(""), 0u);
  EXPECT_EQ(KeyHash16(""), Ref16("", {}));
  EXPECT_EQ(KeyHash16(""), 0x1D0Fu);  // 0xFFFF after two zero rounds
  EXPECT_EQ(KeyHash32(""), Ref32("", {}));
}

std::vector<size_t> Range(size_t from, size_t below, size_t step) {
  std::vector<size_t> v;
  for (size_t i = from; i < below; i += step) v.push_back(i);
  return v;
}

struct SelectionCase {
  size_t length;
  std::vector<size_t> fed;
};

TEST(KeyHash, ByteSelection) {
  const std::vector<SelectionCase> cases = {
      {1, {0}},
      {5, Range(0, 5, 1)},
      {31, Range(0, 31, 1)},       // every byte
      {32, Range(0, 31, 2)},       // 0, 2, ... 30; never 31
      {33, Range(0, 32, 2)},       // 0, 2, ... 30; never 32
      {63, Range(0, 62, 2)},       // 0, 2, ... 60
      {64, Range(0, 63, 3)},       // 0, 3, ... 60
      {65, Range(0, 64, 3)},       // 0, 3, ... 63
      {96, Range(0, 95, 4)},       // 0, 4, ... 92
      {1000, Range(0, 999, 32)},   // 0, 32, ... 992
  };
  for (const auto& c : cases) {
    const std::string key = PatternKey(c.length);
    EXPECT_EQ(KeyHash8(key), Ref8(key, c.fed)) << c.length;
    EXPECT_EQ(KeyHash16(key), Ref16(key, c.fed)) << c.length;
    EXPECT_EQ(KeyHash32(key), Ref32(key, c.fed)) << c.length;
  }
}

// Changing a byte that is fed must change every hash (a CRC detects any
// single-byte change); changing one that is not fed must change none.
TEST(KeyHash, OnlySelectedBytesMatter) {
  struct Probe {
    size_t length;
    size_t position;
    bool fed;
  };
  const std::vector<Probe> probes = {
      {31, 30, true},  {31, 1, true},   {32, 0, true},   {32, 30, true}, {32, 31, false},
      {32, 1, false},  {32, 29, false}, {64, 3, true},   {64, 60, true}, {64, 1, false},
      {64, 2, false},  {64, 61, false}, {64, 63, false},
  };
  for (const auto& p : probes) {
    const std::string key = PatternKey(p.length);
    std::string changed = key;
    changed[p.position] = static_cast<char>(changed[p.position] ^ 0x5A);
    EXPECT_EQ(KeyHash8(key) != KeyHash8(changed), p.fed) << p.length << "@" << p.position;
    EXPECT_EQ(KeyHash16(key) != KeyHash16(changed), p.fed) << p.length << "@" << p.position;
    EXPECT_EQ(KeyHash32(key) != KeyHash32(changed), p.fed) << p.length << "@" << p.position;
  }
}

TEST(KeyHash, HighBytesAreUnsigned) {
  const std::string key = "\xFF\x80\xD6\xD0";
  EXPECT_EQ(KeyHash8(key), Ref8(key, {0, 1, 2, 3}));
  EXPECT_EQ(KeyHash16(key), Ref16(key, {0, 1, 2, 3}));
  EXPECT_EQ(KeyHash32(key), Ref32(key, {0, 1, 2, 3}));
}

TEST(HashListBucket, ChoiceBySize) {
  const std::vector<std::string> keys = {"", "a", "Alice", "123456789", PatternKey(40), std::string("\0x", 2)};
  for (const auto& k : keys) {
    EXPECT_EQ(HashListBucket(k, 1), 0u);
    EXPECT_EQ(HashListBucket(k, 7), KeyHash8(k) % 7);
    EXPECT_EQ(HashListBucket(k, 256), KeyHash8(k));
    EXPECT_EQ(HashListBucket(k, 257), KeyHash16(k) % 257);
    EXPECT_EQ(HashListBucket(k, 65536), KeyHash16(k));
    EXPECT_EQ(HashListBucket(k, 65537), (KeyHash32(k) & 65536u) % 65537);
    EXPECT_EQ(HashListBucket(k, 1 << 20), KeyHash32(k) & 0xFFFFFu);
    EXPECT_EQ(HashListBucket(k, 100000), (KeyHash32(k) & 99999u) % 100000);
  }
}

TEST(THashList, EntryLandsInItsBucket) {
  for (int32_t size : {1, 3, 256, 1000, 65536, 70000}) {
    THashList<int> list(size);
    list.Add("alpha", 1);
    const auto bucket = static_cast<int32_t>(HashListBucket("alpha", size));
    EXPECT_EQ(list.ChainLength(bucket), 1) << size;
    EXPECT_EQ(list.Size(), size);
  }
}

TEST(THashList, BucketCountBelowOneIsRejected) {
  EXPECT_THROW(THashList<int>(0), std::invalid_argument);
  EXPECT_THROW(THashList<int>(-5), std::invalid_argument);
}

std::vector<std::string> KeysInOrder(const THashList<int>& list) {
  std::vector<std::string> keys;
  for (const auto* n = list.First(); n; n = n->Next()) keys.emplace_back(n->Key());
  return keys;
}

std::vector<std::string> KeysBackwards(const THashList<int>& list) {
  std::vector<std::string> keys;
  for (const auto* n = list.Last(); n; n = n->Prev()) keys.emplace_back(n->Key());
  return std::vector<std::string>(keys.rbegin(), keys.rend());
}

TEST(THashList, EmptyList) {
  THashList<int> list(256);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.First(), nullptr);
  EXPECT_EQ(list.Last(), nullptr);
  EXPECT_EQ(list.Find("x"), nullptr);
  EXPECT_FALSE(list.Exists(""));
  EXPECT_FALSE(list.Remove("x"));
  EXPECT_FALSE(list.Remove(static_cast<THashList<int>::Node*>(nullptr)));
}

TEST(THashList, InsertionOrderAndLookup) {
  THashList<int> list(256);
  const std::vector<std::string> keys = {"b", "a", "", "ccc", std::string("n\0ul", 4), "\xD6\xD0\xCE\xC4"};
  for (size_t i = 0; i < keys.size(); ++i) list.Add(keys[i], static_cast<int>(i));
  EXPECT_EQ(list.Count(), 6);
  EXPECT_EQ(KeysInOrder(list), keys);
  EXPECT_EQ(KeysBackwards(list), keys);
  for (size_t i = 0; i < keys.size(); ++i) {
    ASSERT_NE(list.Find(keys[i]), nullptr) << i;
    EXPECT_EQ(*list.Find(keys[i]), static_cast<int>(i));
    EXPECT_TRUE(list.Exists(keys[i]));
  }
  EXPECT_FALSE(list.Exists("n"));           // a prefix of a key
  EXPECT_FALSE(list.Exists(std::string("n\0u", 3)));
  EXPECT_FALSE(list.Exists("cc"));
  EXPECT_EQ(list.First()->Item, 0);
  EXPECT_EQ(list.Last()->Item, 5);
}

TEST(THashList, KeysDifferingInCaseAreDifferent) {
  THashList<int> list(65536);
  list.Add("Alice", 1);
  EXPECT_FALSE(list.Exists("alice"));
  list.Add("alice", 2);
  EXPECT_EQ(*list.Find("Alice"), 1);
  EXPECT_EQ(*list.Find("alice"), 2);
}

TEST(THashList, MostRecentDuplicateWins) {
  THashList<int> list(256);
  list.Add("k", 1);
  list.Add("other", 9);
  list.Add("k", 2);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(*list.Find("k"), 2);
  EXPECT_TRUE(list.Remove("k"));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(*list.Find("k"), 1);
  EXPECT_EQ(KeysInOrder(list), (std::vector<std::string>{"k", "other"}));
  EXPECT_TRUE(list.Remove("k"));
  EXPECT_FALSE(list.Exists("k"));
  EXPECT_FALSE(list.Remove("k"));
  EXPECT_EQ(KeysInOrder(list), (std::vector<std::string>{"other"}));
}

TEST(THashList, FindGivesAWritableValue) {
  THashList<int> list(256);
  list.Add("a", 1);
  *list.Find("a") = 42;
  EXPECT_EQ(list.First()->Item, 42);
}

TEST(THashList, RemoveFirstLastAndOnly) {
  struct Case {
    std::vector<std::string> keys;
    std::string remove;
    std::vector<std::string> left;
  };
  const std::vector<Case> cases = {
      {{"a"}, "a", {}},
      {{"a", "b", "c"}, "a", {"b", "c"}},
      {{"a", "b", "c"}, "c", {"a", "b"}},
      {{"a", "b", "c"}, "b", {"a", "c"}},
  };
  for (int32_t size : {1, 256}) {  // 1 bucket: every key shares one chain
    for (const auto& c : cases) {
      THashList<int> list(size);
      for (const auto& k : c.keys) list.Add(k, 0);
      EXPECT_TRUE(list.Remove(c.remove));
      EXPECT_EQ(KeysInOrder(list), c.left);
      EXPECT_EQ(KeysBackwards(list), c.left);
      EXPECT_EQ(list.Count(), static_cast<int32_t>(c.left.size()));
      EXPECT_EQ(list.First() == nullptr, c.left.empty());
      EXPECT_EQ(list.Last() == nullptr, c.left.empty());
      if (list.First()) {
        EXPECT_EQ(list.First()->Prev(), nullptr);
      }
      if (list.Last()) {
        EXPECT_EQ(list.Last()->Next(), nullptr);
      }
      for (const auto& k : c.left) EXPECT_TRUE(list.Exists(k));
    }
  }
}

TEST(THashList, RemovingTheVisitedEntryDuringAWalk) {
  THashList<int> list(1);
  THashList<int> moved(256);
  for (int i = 0; i < 10; ++i) list.Add(std::to_string(i), i);
  for (auto* n = list.First(); n;) {
    auto* next = n->Next();
    if (n->Item % 2 == 0) {
      moved.Add(n->Key(), n->Item);
      EXPECT_TRUE(list.Remove(n));
    }
    n = next;
  }
  EXPECT_EQ(KeysInOrder(list), (std::vector<std::string>{"1", "3", "5", "7", "9"}));
  EXPECT_EQ(KeysInOrder(moved), (std::vector<std::string>{"0", "2", "4", "6", "8"}));
  for (auto& n : list) list.Remove(&n);  // range-for reads the next entry first
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.First(), nullptr);
  EXPECT_EQ(list.Last(), nullptr);
}

// A walk over duplicate keys that removes each visited entry must remove that
// very entry; removing the newest one with the same key instead would free
// the entry the walk reads next.
TEST(THashList, RemoveByNodeRemovesThatNode) {
  THashList<int> list(256);
  list.Add("dup", 1);
  list.Add("dup", 2);
  list.Add("dup", 3);
  std::vector<int> visited;
  for (auto* n = list.First(); n;) {
    auto* next = n->Next();
    visited.push_back(n->Item);
    EXPECT_TRUE(list.Remove(n));
    if (next) {
      EXPECT_EQ(*list.Find("dup"), 3);
    }
    n = next;
  }
  EXPECT_EQ(visited, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(list.Count(), 0);

  THashList<int> other(256);
  auto* foreign = other.Add("dup", 7);
  list.Add("dup", 8);
  EXPECT_FALSE(list.Remove(foreign));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(other.Count(), 1);
}

TEST(THashList, ClearAndReuse) {
  THashList<int> list(256);
  for (int i = 0; i < 1000; ++i) list.Add(std::to_string(i), i);
  list.Add(std::string(5000, 'L'), -1);  // a node too large for the arena
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.First(), nullptr);
  EXPECT_EQ(list.Last(), nullptr);
  for (int32_t b = 0; b < list.Size(); ++b) ASSERT_EQ(list.ChainLength(b), 0) << b;
  EXPECT_FALSE(list.Exists("5"));
  list.Add("5", 55);
  EXPECT_EQ(*list.Find("5"), 55);
  EXPECT_EQ(KeysInOrder(list), (std::vector<std::string>{"5"}));
  list.Clear();
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(THashList, LongKeys) {
  THashList<int> list(65536);
  std::string a(100000, 'x');
  std::string b = a;
  b.back() = 'y';  // differs only in a byte the hash never sees
  list.Add(a, 1);
  list.Add(b, 2);
  EXPECT_EQ(KeyHash16(a), KeyHash16(b));
  EXPECT_EQ(*list.Find(a), 1);
  EXPECT_EQ(*list.Find(b), 2);
  EXPECT_EQ(list.First()->Key(), a);
  EXPECT_TRUE(list.Remove(a));
  EXPECT_FALSE(list.Exists(a));
  EXPECT_TRUE(list.Exists(b));
}

TEST(THashList, ValuesWithDestructorsAreReleased) {
  auto value = std::make_shared<int>(5);
  {
    THashList<std::shared_ptr<int>> list(16);
    list.Add("a", value);
    list.Add(std::string(3000, 'b'), value);
    list.Add("c", value);
    EXPECT_EQ(value.use_count(), 4);
    list.Remove("a");
    EXPECT_EQ(value.use_count(), 3);
    list.Clear();
    EXPECT_EQ(value.use_count(), 1);
    list.Add("d", value);
    list.Add("e", value);
  }
  EXPECT_EQ(value.use_count(), 1);
}

TEST(THashList, MoveKeepsEntries) {
  THashList<int> a(256);
  a.Add("x", 1);
  a.Add("y", 2);
  THashList<int> b(std::move(a));
  EXPECT_EQ(b.Count(), 2);
  EXPECT_EQ(*b.Find("y"), 2);
  THashList<int> c(4);
  c.Add("z", 3);
  c = std::move(b);
  EXPECT_EQ(c.Size(), 256);
  EXPECT_EQ(KeysInOrder(c), (std::vector<std::string>{"x", "y"}));
}

// Random adds and removes (keys of many lengths, so freed nodes of several
// size classes are reused) checked against a plain model.
TEST(THashList, MatchesAModelUnderRandomOperations) {
  std::mt19937 rng(12345);
  for (int32_t size : {1, 5, 256, 65536}) {
    THashList<int> list(size);
    std::vector<std::pair<std::string, int>> model;  // insertion order
    for (int step = 0; step < 4000; ++step) {
      const int op = static_cast<int>(rng() % 10);
      std::string key = std::to_string(rng() % 60);
      key.append(rng() % 4 == 0 ? rng() % 70 : 0, static_cast<char>('a' + rng() % 3));
      if (op < 5) {
        list.Add(key, step);
        model.emplace_back(key, step);
      } else if (op < 8) {
        bool inModel = false;
        for (auto it = model.rbegin(); it != model.rend(); ++it) {
          if (it->first == key) {
            model.erase(std::next(it).base());
            inModel = true;
            break;
          }
        }
        ASSERT_EQ(list.Remove(key), inModel);
      } else if (!model.empty()) {
        const size_t victim = rng() % model.size();
        auto* n = list.First();
        for (size_t i = 0; i < victim; ++i) n = n->Next();
        ASSERT_TRUE(list.Remove(n));
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(victim));
      }
      ASSERT_EQ(list.Count(), static_cast<int32_t>(model.size()));
    }
    std::vector<std::pair<std::string, int>> walked;
    for (const auto& n : list) walked.emplace_back(n.Key(), n.Item);
    ASSERT_EQ(walked, model);
    std::map<std::string, int> newest;
    for (const auto& [k, v] : model) newest[k] = v;
    for (const auto& [k, v] : newest) {
      ASSERT_NE(list.Find(k), nullptr);
      EXPECT_EQ(*list.Find(k), v);
    }
    int64_t chains = 0;
    for (int32_t b = 0; b < list.Size(); ++b) chains += list.ChainLength(b);
    EXPECT_EQ(chains, list.Count());
  }
}

}  // namespace
}  // namespace razere
