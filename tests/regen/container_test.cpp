// Scheduling of the regeneration container, pinned on a small parametric
// model: propagation, the step order, the context's sets, relation refresh,
// removal cascades and recovery from client exceptions.
#include <hux/regen/container.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <hux/regen/scheduler.h>

#include "regen/model.h"

namespace hux::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

enum : std::uint64_t { P1 = 1, P2 = 2, P3 = 3, Q = 5, Z = 6, L1 = 11, L2 = 12, L3 = 13, F = 21, X = 31, Y = 32 };

// Three points, three lines closing a triangle, a face on the lines and an
// extrusion of the face.
void BuildPrism(Model& m) {
  m.Add(P1, "P1");
  m.Add(P2, "P2");
  m.Add(P3, "P3");
  m.Add(L1, "L1", {P1, P2});
  m.Add(L2, "L2", {P2, P3});
  m.Add(L3, "L3", {P3, P1});
  m.Add(F, "F", {L1, L2, L3});
  m.Add(X, "X", {F});
}

std::vector<std::string> Regen(Model& m, GRegenContext& context) {
  m.log.clear();
  m.Regenerate(context);
  return m.Logged("exec ");
}

TEST(RegenScheduling, DiamondRunsEachStepOnceBehindAllItsInputs) {
  Model m;
  BuildPrism(m);
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  // P1 feeds L1 and L3, both feed F: F is reached twice on one level.
  EXPECT_THAT(Regen(m, context), ElementsAre("P1 for P1.x", "L1 for L1.shape", "L3 for L3.shape", "F for F.shape",
                                           "X for X.shape"));
  // Depth first: L1's branch is propagated completely before L3.
  EXPECT_THAT(m.Logged("regen "),
              ElementsAre("P1 <- P1.x", "L1 <- P1.x", "L3 <- P1.x", "L1 <- L1.shape", "F <- L1.shape",
                          "F <- F.shape", "X <- F.shape", "X <- X.shape", "L3 <- L3.shape", "F <- L3.shape",
                          "F <- F.shape", "X <- F.shape", "X <- X.shape"));
  EXPECT_THAT(m.Names(context.GetRegenedIds()), ElementsAre("P1", "L1", "L3", "F", "X"));
  EXPECT_THAT(m.Names(context.GetUpdatedIds()), ElementsAre("P1", "L1", "L3", "F", "X"));
  EXPECT_THAT(context.GetDeletedIds(), IsEmpty());
  EXPECT_THAT(m.GetScheduler()->GetPendingAtoms(), IsEmpty());
}

TEST(RegenScheduling, StepReachedOnTwoLevelsMovesBehindTheDeeperOneWithItsDependants) {
  Model m;
  BuildPrism(m);
  m[X].refs.push_back(P1);  // the extrusion's height is measured from P1
  m.GetRelationDb()->AddRelation(X, P1, kRefersTo);
  m.Add(Y, "Y", {X});  // a fillet on the extrusion
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  // X and Y are first placed on levels 1 and 2; X occurs again on level 3,
  // so both move behind F.
  EXPECT_THAT(Regen(m, context), ElementsAre("P1 for P1.x", "L1 for L1.shape", "L3 for L3.shape", "F for F.shape",
                                           "X for X.shape", "Y for Y.shape"));
}

TEST(RegenScheduling, StepBelowAMovedStepThatAlreadyHasItsParentStepStillRuns) {
  // Two chains, 4 -> 5 -> 6 -> 1 and 1 -> 2 -> 3. Object 1 marks 1.b when 6
  // changes, 2 marks its own atom with the property of 1's change, 3 marks
  // 3.p for 2.a only. Steps 1 and 2 occur again below 6 and move behind it;
  // the moved 1 already has a 2 without 3 below it, and 3 must still run.
  Model m;
  m.Add(4, "4");
  m.Add(5, "5", {4});
  m.Add(6, "6", {5});
  m.Add(1, "1", {6});
  m.Add(2, "2", {1});
  m.Add(3, "3", {2});
  for (std::uint64_t id : {1, 2, 3}) m[id].announces = false;
  m[1].onRegen = [&](GRegenAtom const& atom) {
    if (atom.TargetId() == 6) m.MarkAtom(GRegenAtom(1, L"b"));
  };
  m[2].onRegen = [&](GRegenAtom const& atom) {
    if (atom.TargetId() == 1) m.MarkAtom(GRegenAtom(2, atom.PropertyId()));
  };
  m[3].onRegen = [&](GRegenAtom const& atom) {
    if (atom.IsEqual(GRegenAtom(2, L"a"))) m.MarkAtom(GRegenAtom(3, L"p"));
  };
  m.MarkAtom(GRegenAtom(1, L"a"));
  m.MarkAtom(GRegenAtom(4, L"x"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("4 for 4.x", "5 for 5.shape", "6 for 6.shape", "1 for 1.b",
                                           "2 for 2.b", "3 for 3.p"));
}

TEST(RegenScheduling, EqualRootsRunOnceAtTheLaterPlaceWithTheLaterAtom) {
  Model m;
  m.Add(Q, "Q");
  m.Add(Z, "Z");
  m.MarkAtom(GRegenAtom(Q, L"a"));
  m.MarkAtom(GRegenAtom(Z, L"a"));
  m.MarkAtom(GRegenAtom(Q, L"b"));
  m.MarkAtom(GRegenAtom(Q, L"a"));  // equal to a pending root: ignored
  EXPECT_EQ(m.GetScheduler()->GetPendingAtoms().size(), 3u);
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("Z for Z.a", "Q for Q.b"));
}

TEST(RegenScheduling, CycleOfAtomsIsCutAtTheAncestor) {
  Model m;
  m.Add(41, "A", {42});
  m.Add(42, "B", {41});
  m.MarkAtom(GRegenAtom(41, L"shape"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("A for A.shape", "B for B.shape"));
  // B's change reaches A, whose announcement equals the root: not attached.
  EXPECT_THAT(m.Logged("regen "), ElementsAre("A <- A.shape", "B <- A.shape", "B <- B.shape", "A <- B.shape"));
}

TEST(RegenScheduling, CycleOfStepsEndsAndRunsEachStepOnce) {
  Model m;
  m.Add(41, "A", {42});
  m.Add(42, "B", {41});
  // A.x reaches B, B's shape reaches A's shape (a different atom, the same
  // step): the step tree holds A twice on one path. Moving A would make it
  // its own descendant; the steps are then taken as built, each at its last
  // occurrence.
  m.MarkAtom(GRegenAtom(41, L"x"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("B for B.shape", "A for A.shape"));
  EXPECT_THAT(m.Names(context.GetRegenedIds()), ElementsAre("A", "B"));
}

TEST(RegenScheduling, MutualDependantsReachedFromOneRootEnd) {
  Model m;
  m.Add(P1, "R");
  m.Add(41, "A", {P1, 42});
  m.Add(42, "B", {P1, 41});
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  // R -> A -> B and R -> B -> A: placing level by level would cycle for ever.
  EXPECT_THAT(Regen(m, context), ElementsAre("R for R.x", "B for B.shape", "A for A.shape"));
}

TEST(RegenScheduling, EqualAtomsMarkedDuringPropagationAreNotMerged) {
  Model m;
  m.Add(P1, "P1");
  m.Add(L1, "L1", {P1});
  m.Add(L3, "L3", {P1});
  m.Add(Z, "Z");
  m[L1].marksOnRegen = {GRegenAtom(Z, L"z")};
  m[L3].marksOnRegen = {GRegenAtom(Z, L"z")};
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  // P1's node gets L1.shape, Z.z, L3.shape, Z.z: Z's OnRegen runs for both
  // copies; the second step node equals a sibling and is not attached.
  // The lines have no dependants, so what they mark from their own atoms
  // finds no node to hang under and is dropped.
  EXPECT_THAT(Regen(m, context), ElementsAre("P1 for P1.x", "L1 for L1.shape", "Z for Z.z", "L3 for L3.shape"));
  EXPECT_THAT(m.Logged("regen "), ElementsAre("P1 <- P1.x", "L1 <- P1.x", "L3 <- P1.x", "L1 <- L1.shape",
                                              "Z <- Z.z", "L3 <- L3.shape", "Z <- Z.z"));
}

TEST(RegenScheduling, MovedAndCopiedAtomsMarkAlike) {
  Model m;
  m.Add(P1, "P1");
  GRegenAtom const copied(P1, std::wstring(L"x"));
  m.MarkAtom(copied);
  m.MarkAtom(GRegenAtom(P1, L"x"));  // moved: equal to the pending root, ignored
  std::wstring name = L"y";
  m.MarkAtom(GRegenAtom(P1, std::move(name)));
  ASSERT_EQ(m.GetScheduler()->GetPendingAtoms().size(), 2u);
  EXPECT_EQ(m.GetScheduler()->GetPendingAtoms()[1]->m_atom.PropertyId(), L"y");
  EXPECT_TRUE(GRegenAtom(P1, static_cast<wchar_t const*>(nullptr)).IsEqual(GRegenAtom(P1, L"")));
}

TEST(RegenScheduling, OwnAtomMarkedAgainDoesNotLoop) {
  Model m;
  m.Add(P1, "P1");
  m.Add(L1, "L1", {P1});
  m[L1].remarksOwnAtom = true;
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("P1 for P1.x", "L1 for L1.shape"));
}

TEST(RegenScheduling, AtomsOfAnObjectWithoutDependantsWaitForTheNextNodeWithDependants) {
  Model m;
  BuildPrism(m);
  m.Add(Q, "Q");
  m.Add(Z, "Z");
  m[Q].marksOnRegen = {GRegenAtom(Z, L"z")};
  {
    // Q has no relation entry: Z.z is attached under P3.x, ahead of the
    // lines on P3 that announce after it.
    m.MarkAtom(GRegenAtom(Q, L"a"));
    m.MarkAtom(GRegenAtom(P3, L"x"));
    GRegenContext context;
    EXPECT_THAT(Regen(m, context), ElementsAre("Q for Q.a", "P3 for P3.x", "Z for Z.z", "L2 for L2.shape",
                                             "L3 for L3.shape", "F for F.shape", "X for X.shape"));
  }
  {
    // With no later node to take it, Z.z is dropped at the end of
    // propagation.
    m.MarkAtom(GRegenAtom(Q, L"a"));
    GRegenContext context;
    EXPECT_THAT(Regen(m, context), ElementsAre("Q for Q.a"));
  }
}

TEST(RegenScheduling, AtomsMarkedWhileStepsRunAreLost) {
  Model m;
  BuildPrism(m);
  m[X].marksOnExecute = {GRegenAtom(P2, L"x")};
  m.MarkAtom(GRegenAtom(X, L"height"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("X for X.height"));
  EXPECT_THAT(m.GetScheduler()->GetPendingAtoms(), IsEmpty());
  EXPECT_THAT(Regen(m, context), IsEmpty());
}

TEST(RegenScheduling, DependantThatNoLongerRefersIsForgottenAndNotCalled) {
  Model m;
  BuildPrism(m);
  // L3 is asked after L1, which still names P1.
  m[L3].refs = {P2, P3};  // rebuilt on other points; the database still has L3 under P1
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("P1 for P1.x", "L1 for L1.shape", "F for F.shape", "X for X.shape"));
  for (auto const& line : m.Logged("regen ")) EXPECT_EQ(line.find("L3"), std::string::npos) << line;
  EXPECT_EQ(m.GetRelationDb()->GetRelations(P1)->GetRelatedIds(kRefersTo), (std::set<std::uint64_t>{L1}));
}

TEST(RegenScheduling, DependantIsAskedThroughAQueryContext) {
  // A client that reports only to the context type it expects.
  struct Picky : Feature {
    using Feature::Feature;
    void CollectRelations(IRelationContext& context) override {
      if (dynamic_cast<GQueryRelationContext*>(&context) != nullptr) Feature::CollectRelations(context);
    }
  };
  Model m;
  m.Add(P1, "P1");
  m.Add(L1, "L1", {P1});
  m.features[L1] = std::make_shared<Picky>(m, L1, "L1", std::vector<std::uint64_t>{P1});
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("P1 for P1.x", "L1 for L1.shape"));
}

TEST(RegenScheduling, MissingDependantIsDroppedFromTheEntry) {
  Model m;
  BuildPrism(m);
  m.features.erase(L3);  // gone from the store without RemoveObject
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("P1 for P1.x", "L1 for L1.shape", "F for F.shape", "X for X.shape"));
  EXPECT_EQ(m.GetRelationDb()->GetRelations(P1)->GetRelatedIds(kRefersTo), (std::set<std::uint64_t>{L1}));
}

TEST(RegenScheduling, UpdatedHoldsTargetsOnlyAndRelationsOfUpdatedObjectsAreRefreshed) {
  Model m;
  BuildPrism(m);
  m.Add(40, "D", {P1});  // a dimension on P1: changes, announces nothing, has no step
  m[40].announces = false;
  m[40].hasStep = false;
  m[L1].refs = {P3, P2};  // L1 moves from P1 to P3
  m.MarkAtom(GRegenAtom(L1, L"shape"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("L1 for L1.shape", "F for F.shape", "X for X.shape"));
  EXPECT_THAT(m.Names(context.GetUpdatedIds()), ElementsAre("L1", "F", "X"));
  // L1 was updated: its relation to P3 is now recorded. Relations are only
  // added here, so P1 still lists it until a change of P1 prunes it.
  EXPECT_TRUE(m.GetRelationDb()->GetRelations(P3)->IsIdExist(L1));
  EXPECT_TRUE(m.GetRelationDb()->GetRelations(P1)->IsIdExist(L1));

  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext second;
  EXPECT_THAT(Regen(m, second), ElementsAre("P1 for P1.x", "L3 for L3.shape", "F for F.shape", "X for X.shape"));
  // D answered true for P1's change: P1 is marked, D is not.
  EXPECT_THAT(m.Names(second.GetUpdatedIds()), ElementsAre("P1", "L3", "F", "X"));
  EXPECT_FALSE(m.GetRelationDb()->GetRelations(P1)->IsIdExist(L1));
}

TEST(RegenScheduling, UnchangedObjectsAreNotReportedAsUpdated) {
  Model m;
  BuildPrism(m);
  for (auto& [id, feature] : m.features) feature->changes = false;
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  Regen(m, context);
  EXPECT_THAT(context.GetUpdatedIds(), IsEmpty());
  EXPECT_THAT(m.Names(context.GetRegenedIds()), ElementsAre("P1", "L1", "L3", "F", "X"));
}

TEST(RegenRemoval, CascadeFollowsDependantsAndReportsEveryRemovedId) {
  Model m;
  BuildPrism(m);
  m.RemoveObject(P1);
  EXPECT_THAT(m.log, ElementsAre("remove P1 for P1", "remove L1 for P1", "remove L3 for P1",  //
                                 "destroy P1",                                               //
                                 "destroy L1", "remove L1 for L1", "remove F for L1",        //
                                 "destroy L1",                                               //
                                 "destroy F", "remove F for F", "remove X for F",            //
                                 "destroy F",                                                //
                                 "destroy X", "remove X for X", "destroy X",                 //
                                 "destroy L3", "remove L3 for L3", "destroy L3"));
  std::vector<std::uint64_t> left;
  for (auto const& entry : m.features) left.push_back(entry.first);
  EXPECT_THAT(left, ElementsAre(P2, P3, L2));
  // L1 and L3 erased what they reported: P2 and P3 keep only L2.
  EXPECT_EQ(m.GetRelationDb()->GetRelations(P2)->GetRelatedIds(kRefersTo), (std::set<std::uint64_t>{L2}));
  EXPECT_EQ(m.GetRelationDb()->GetRelations(P3)->GetRelatedIds(kRefersTo), (std::set<std::uint64_t>{L2}));
  EXPECT_EQ(m.GetRelationDb()->GetRelations(P1), nullptr);

  m.MarkAtom(GRegenAtom(P2, L"x"));
  m.MarkAtom(GRegenAtom(P1, L"x"));  // removed: skipped
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("P2 for P2.x", "L2 for L2.shape"));
  EXPECT_THAT(m.Names(context.GetDeletedIds()), ElementsAre("#1", "#11", "#13", "#21", "#31"));
  GRegenContext next;
  Regen(m, next);
  EXPECT_THAT(next.GetDeletedIds(), IsEmpty());
}

TEST(RegenRemoval, CycleOfDependantsStopsWhereItStarted) {
  Model m;
  // A refers to C, B to A, C to B: each is the other's dependant round the
  // cycle. C also asks for A, which is being removed already.
  m.Add(41, "A", {43});
  m.Add(42, "B", {41});
  m.Add(43, "C", {42});
  m[43].removesOnRemove = {41};
  m.RemoveObject(41);
  EXPECT_THAT(m.log, ElementsAre("remove A for A", "remove B for A", "destroy A", "destroy B", "remove B for B",
                                 "remove C for B", "destroy #41", "destroy B", "destroy C", "remove C for C",
                                 "destroy #41", "destroy C"));
  EXPECT_TRUE(m.features.empty());
}

TEST(RegenRemoval, SecondRemovalBeforeRegenerateAndMissingObjectsDoNothing) {
  Model m;
  BuildPrism(m);
  m[L2].removedWithRefs = false;
  m.RemoveObject(L2);
  std::size_t const logged = m.log.size();
  m.features[L2] = std::make_shared<Feature>(m, L2, "L2", std::vector<std::uint64_t>{P2, P3});
  m.RemoveObject(L2);
  m.RemoveObject(99);
  EXPECT_EQ(m.log.size(), logged);
  EXPECT_EQ(m.GetScheduler()->GetRemovedIds(), (std::set<std::uint64_t>{L2, F, X}));
}

// A client operation throws in each phase; the exception reaches the caller
// and the container is idle and empty again, ready for the next change.
TEST(RegenFailure, ClientExceptionLeavesTheContainerUsable) {
  struct Case {
    char const* where;
    bool onlyAfterPropagation;
  };
  for (Case const& c : {Case{"regen", false}, Case{"step", false}, Case{"execute", false}, Case{"collect", false},
                        Case{"collect", true}}) {
    SCOPED_TRACE(std::string(c.where) + (c.onlyAfterPropagation ? " in phase 3" : ""));
    Model m;
    BuildPrism(m);
    m[F].marksOnExecute = {GRegenAtom(P3, L"x")};
    m.Add(Q, "Q");
    m.RemoveObject(Q);
    bool armed = true;
    m[F].fault = [&](char const* where) {
      if (!armed || std::string(where) != c.where) return;
      if (c.onlyAfterPropagation && (m.GetScheduler()->IsRegenerating() || m.GetScheduler()->IsBuildingSteps()))
        return;
      throw std::runtime_error(where);
    };
    m.MarkAtom(GRegenAtom(P1, L"x"));
    m.MarkAtom(GRegenAtom(Q, L"gone"));
    GRegenContext context;
    EXPECT_THROW(m.Regenerate(context), std::runtime_error);
    GRegenScheduler const& s = *m.GetScheduler();
    EXPECT_FALSE(s.IsRegenerating());
    EXPECT_FALSE(s.IsBuildingSteps());
    EXPECT_THAT(s.GetPendingAtoms(), IsEmpty());
    EXPECT_THAT(s.GetDeferredAtoms(), IsEmpty());

    armed = false;
    m.MarkAtom(GRegenAtom(P2, L"x"));
    GRegenContext next;
    EXPECT_THAT(Regen(m, next), ElementsAre("P2 for P2.x", "L1 for L1.shape", "L2 for L2.shape", "F for F.shape",
                                          "X for X.shape"));
    EXPECT_THAT(s.GetPendingAtoms(), IsEmpty());
    // The removal made before the failure is reported by the next run.
    EXPECT_THAT(next.GetDeletedIds(), ElementsAre(Q));
  }
}

TEST(RegenFailure, RegenerateFromInsideARunIsRefused) {
  Model m;
  BuildPrism(m);
  m[L1].fault = [&](char const* where) {
    if (std::string(where) != "regen") return;
    GRegenContext inner;
    m.Regenerate(inner);
  };
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  EXPECT_THROW(m.Regenerate(context), std::logic_error);
  m[L1].fault = nullptr;
  m.MarkAtom(GRegenAtom(P1, L"x"));
  EXPECT_THAT(Regen(m, context), ElementsAre("P1 for P1.x", "L1 for L1.shape", "L3 for L3.shape", "F for F.shape",
                                           "X for X.shape"));
}

TEST(RegenScheduling, StepOfAnObjectRemovedByAnEarlierStepIsNotRun) {
  Model m;
  BuildPrism(m);
  // L1's step deletes the extrusion (say, it became invalid).
  m[L1].fault = [&](char const* where) {
    if (std::string(where) == "execute") m.DestroyObject(X);
  };
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("P1 for P1.x", "L1 for L1.shape", "L3 for L3.shape", "F for F.shape"));
  EXPECT_THAT(m.Names(context.GetDeletedIds()), ElementsAre("#31"));
  EXPECT_THAT(m.Names(context.GetRegenedIds()), ElementsAre("P1", "L1", "L3", "F"));
}

// The nodes of a run are made in blocks that later runs reuse; a node a
// caller still holds keeps its blocks out of that reuse.
TEST(RegenScheduling, NodesHeldAfterARunStayIntact) {
  Model m;
  BuildPrism(m);
  m.MarkAtom(GRegenAtom(P1, L"held atom"));
  std::shared_ptr<GRegenAtomNode> held = m.GetScheduler()->GetPendingAtoms().front();
  GRegenContext context;
  for (int run = 0; run < 5; ++run) {
    Regen(m, context);
    for (std::uint64_t id : {P1, P2, P3, L1, L2}) m.MarkAtom(GRegenAtom(id, L"overwriting the blocks"));
  }
  EXPECT_EQ(held->m_atom.PropertyId(), L"held atom");
  EXPECT_EQ(held->m_atom.TargetId(), P1);
  EXPECT_EQ(held->m_listChildren.size(), 2u);  // L1.shape and L3.shape
}

// Chains as long as the benchmark's run without recursion.
TEST(RegenScheduling, LongChainRunsInOrder) {
  constexpr std::uint64_t kCount = 50000;
  Model m;
  m.Add(1, "c1");
  for (std::uint64_t id = 2; id <= kCount; ++id) m.Add(id, "c" + std::to_string(id), {id - 1});
  m.MarkAtom(GRegenAtom(1, L"x"));
  GRegenContext context;
  std::vector<std::string> ran = Regen(m, context);
  ASSERT_EQ(ran.size(), kCount);
  EXPECT_EQ(ran.front(), "c1 for c1.x");
  EXPECT_EQ(ran[1], "c2 for c2.shape");
  EXPECT_EQ(ran.back(), "c50000 for c50000.shape");
  EXPECT_EQ(context.GetRegenedIds().size(), kCount);
}

}  // namespace
}  // namespace hux::test
