// Relations, the relation database and its contexts; atoms.
#include <hux/regen/relation.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include <hux/regen/atom.h>

namespace hux {
namespace {

using ::testing::ElementsAre;
using Ids = std::set<std::uint64_t>;
using Type = GRegenObjectRelation::RelationType;

constexpr Type T = static_cast<Type>(3);
constexpr Type T2 = static_cast<Type>(-5);  // ordered as a signed value: before T
constexpr Type T9 = static_cast<Type>(9);

TEST(RegenObjectRelation, SetsPerTypeAndTheirDifference) {
  GRegenObjectRelation r;
  for (std::uint64_t id : {4, 4, 1, 2}) r.Add(T, id);
  r.Add(T2, 7);
  Ids all{100};
  r.GetAllRelations(all);
  EXPECT_EQ(all, (Ids{1, 2, 4, 7, 100}));
  r.Remove(T, 4);
  r.Remove(T9, 1);  // an absent type gets an empty set, nothing else
  std::vector<Type> types;
  for (auto const& entry : r) types.push_back(entry.first);
  EXPECT_THAT(types, ElementsAre(T2, T, T9));
  EXPECT_FALSE(r.IsIdExist(4));
  r.Remove(GRegenObjectRelation::RelationMap{{T, {2, 3}}, {T9, {}}});
  EXPECT_EQ(r.GetRelatedIds(T), (Ids{1}));
  EXPECT_EQ(r.GetRelatedIds(T2), (Ids{7}));
}

TEST(RegenObjectRelationDb, FilesUnderTheReferredObjectAndContextsChangeOrQueryIt) {
  GRegenObjectRelationDb db;
  GCollectRelationContext collect(db);
  collect.AddRelation(5, 9, T);
  collect.AddRelation(3, 9, T2);
  EXPECT_EQ(db.GetRelations(9)->GetRelatedIds(T), (Ids{5}));
  EXPECT_EQ(db.GetRelations(5), nullptr);
  Ids callerSet{42};
  GRemoveRelationContext remove(db, callerSet);
  remove.AddRelation(5, 8, T);  // no entry for 8: nothing is created
  remove.AddRelation(5, 9, T);
  EXPECT_EQ(db.GetRelations(8), nullptr);
  EXPECT_TRUE(db.GetRelations(9)->GetRelatedIds(T).empty());
  EXPECT_TRUE(db.GetRelations(9)->IsIdExist(3));
  db.AddRelation(9, 5, T);
  db.RemoveRelation(9);
  EXPECT_EQ(db.GetRelations(9), nullptr);
  EXPECT_NE(db.GetRelations(5), nullptr);  // what 9 reported stays
  // A query context finds every id named, also after questions.
  GQueryRelationContext query;
  for (std::uint64_t id = 40; id >= 2; id -= 2) {
    query.AddRelation(1, id, T2);
    EXPECT_TRUE(query.IsIdExist(id)) << id;
    EXPECT_FALSE(query.IsIdExist(id + 1)) << id;
  }
  EXPECT_TRUE(query.IsIdExist(40));
  EXPECT_FALSE(query.IsIdExist(1));
}

TEST(RegenAtom, EqualityComparesPropertyAndTarget) {
  GRegenAtom const atom(7, L"Height");
  for (GRegenAtom const& other : {GRegenAtom(8, L"Height"), GRegenAtom(7, L"height"), GRegenAtom(7, L"Heigh")})
    EXPECT_FALSE(atom.IsEqual(other) || other.IsEqual(atom));
  EXPECT_TRUE(atom.IsEqual(GRegenAtom(7, std::wstring(L"Height"))));
  GRemoveObjectContext remove(5);
  remove.MarkRemove(5);
  remove.MarkRemove(1);
  EXPECT_THAT(remove.GetIdsToRemove(), ElementsAre(1, 5));
}

}  // namespace
}  // namespace hux
