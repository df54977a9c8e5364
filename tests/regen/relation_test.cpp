// Relations, the relation database and its visitors; atoms and contexts.
#include <hux/regen/relation.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include <hux/regen/atom.h>

namespace hux {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Ids = std::set<std::uint64_t>;
using Type = GRegenObjectRelation::RelationType;

constexpr Type T = static_cast<Type>(3);
constexpr Type T2 = static_cast<Type>(-5);  // ordered as a signed value: before T
constexpr Type T9 = static_cast<Type>(9);

std::vector<Type> Types(GRegenObjectRelation const& r) {
  std::vector<Type> types;
  for (auto const& entry : r) types.push_back(entry.first);
  return types;
}

TEST(RegenObjectRelation, AddRemoveUnionAndEmptySets) {
  GRegenObjectRelation r;
  r.Add(T, 4);
  r.Add(T, 4);
  r.Add(T, 1);
  r.Add(T2, 7);
  Ids all{100};
  r.GetAllRelations(all);
  EXPECT_EQ(all, (Ids{1, 4, 7, 100}));
  r.Remove(T, 4);
  r.Remove(T9, 1);  // an absent type gets an empty set, nothing else
  EXPECT_THAT(Types(r), ElementsAre(T2, T, T9));
  EXPECT_EQ(r.GetRelatedIds(T), (Ids{1}));
  EXPECT_TRUE(r.GetRelatedIds(T9).empty());
  EXPECT_FALSE(r.IsIdExist(4));
  EXPECT_TRUE(r.IsIdExist(7));
  GRegenObjectRelation empty;
  empty.GetRelatedIds(T);  // creates an empty set
  EXPECT_FALSE(empty.IsIdExist(0));
}

TEST(RegenObjectRelation, RemoveMapIsAnOrderedDifferencePerType) {
  struct Case {
    Ids own, other, expected;
  } const cases[] = {
      {{2, 3}, {1, 2}, {3}},
      {{}, {1, 2}, {}},
      {{1, 2}, {}, {1, 2}},
      {{1, 2, 3}, {1, 2, 3, 4}, {}},
  };
  for (Case const& c : cases) {
    GRegenObjectRelation r;
    for (auto id : c.own) r.Add(T, id);
    r.Add(T2, 1);
    r.Remove(GRegenObjectRelation::RelationMap{{T, c.other}});
    EXPECT_EQ(r.GetRelatedIds(T), c.expected);
    EXPECT_EQ(r.GetRelatedIds(T2), (Ids{1}));  // other types untouched
  }
  // A type whose set in `other` is empty is not even looked up.
  GRegenObjectRelation r;
  r.Remove(GRegenObjectRelation::RelationMap{{T, {}}});
  EXPECT_EQ(r.begin(), r.end());
  r.Remove(GRegenObjectRelation::RelationMap{{T, {1}}});
  EXPECT_NE(r.begin(), r.end());
}

TEST(RegenObjectRelationDb, FilesUnderTheReferredObjectAndContextsChangeIt) {
  GRegenObjectRelationDb db;
  GCollectRelationContext collect(db);
  collect.AddRelation(5, 9, T);
  collect.AddRelation(3, 9, T2);
  EXPECT_EQ(db.GetRelations(9)->GetRelatedIds(T), (Ids{5}));
  EXPECT_EQ(db.GetRelations(5), nullptr);

  Ids callerSet{42};
  GRemoveRelationContext remove(db, callerSet);
  remove.AddRelation(5, 8, T);  // no entry for 8: nothing is created
  remove.AddRelation(5, 9, T9);  // entry without a set under T9: an empty one
  remove.AddRelation(5, 9, T);
  EXPECT_EQ(db.GetRelations(8), nullptr);
  EXPECT_EQ(callerSet, (Ids{42}));
  GRegenObjectRelation* entry = db.GetRelations(9);
  EXPECT_THAT(Types(*entry), ElementsAre(T2, T, T9));
  EXPECT_TRUE(entry->GetRelatedIds(T).empty() && entry->GetRelatedIds(T9).empty());
  EXPECT_TRUE(entry->IsIdExist(3));

  db.AddRelation(9, 5, T);
  GRegenObjectRelationDb copy = db;
  db.RemoveRelation(9);
  db.RemoveRelation(77);
  EXPECT_EQ(db.GetRelations(9), nullptr);
  EXPECT_NE(db.GetRelations(5), nullptr);  // what 9 reported stays
  EXPECT_NE(copy.GetRelations(9), nullptr);
  db.ClearAll();
  EXPECT_EQ(db.GetRelations(5), nullptr);
}

TEST(RelationContexts, QueryFindsEveryIdNamed) {
  GQueryRelationContext query;
  query.AddRelation(1, 2, T);
  EXPECT_TRUE(query.IsIdExist(2));
  EXPECT_FALSE(query.IsIdExist(1));
  // Many reports, some made after questions: every id named is found.
  for (std::uint64_t id = 40; id >= 4; id -= 2) {
    query.AddRelation(1, id, T2);
    EXPECT_TRUE(query.IsIdExist(id)) << id;
    EXPECT_FALSE(query.IsIdExist(id + 1)) << id;
  }
  EXPECT_TRUE(query.IsIdExist(2));
  EXPECT_FALSE(query.IsIdExist(0));
}

TEST(RegenAtom, EqualityComparesPropertyAndTarget) {
  struct Case {
    std::uint64_t target;
    wchar_t const* property;
    bool equal;
  } const cases[] = {
      {7, L"Height", true}, {8, L"Height", false}, {7, L"height", false},
      {7, L"Heigh", false}, {7, L"", false},       {7, L"Height\U0001F600", false},
  };
  GRegenAtom const atom(7, L"Height");
  for (Case const& c : cases) {
    GRegenAtom const other(c.target, c.property);
    EXPECT_EQ(atom.IsEqual(other), c.equal) << c.target;
    EXPECT_EQ(other.IsEqual(atom), c.equal) << c.target;
  }
  GRemoveObjectContext remove(5);
  EXPECT_THAT(remove.GetIdsToRemove(), IsEmpty());
  remove.MarkRemove(5);
  remove.MarkRemove(1);
  EXPECT_THAT(remove.GetIdsToRemove(), ElementsAre(1, 5));
}

}  // namespace
}  // namespace hux
