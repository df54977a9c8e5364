// Scheduling of the regeneration container on a small parametric model.
#include <hux/regen/container.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ranges>
#include <set>
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
using Ids = std::set<std::uint64_t>;

enum : std::uint64_t { P1 = 1, P2 = 2, P3 = 3, Q = 5, Z = 6, L1 = 11, L2 = 12, L3 = 13, F = 21, X = 31, Y = 32 };
enum : std::uint64_t { A = 41, B = 42, C = 43 };

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

std::vector<std::string> const kPrismFromP1 = {"P1 for P1.x", "L1 for L1.shape", "L3 for L3.shape", "F for F.shape",
                                               "X for X.shape"};

TEST(RegenScheduling, StepsRunAfterAllTheirInputsEachOnce) {
  struct Case {
    std::function<void(Model&)> build;
    std::vector<GRegenAtom> marks;
    std::vector<std::string> exec;
  } const cases[] = {
      // F is reached twice on one level.
      {BuildPrism, {{P1, L"x"}}, kPrismFromP1},
      // Steps 1 and 2 move behind 6; the moved 1 already has a 2 without 3 below it: 3 must still run.
      {[](Model& m) {
         m.Add(4, "4");
         m.Add(5, "5", {4});
         m.Add(6, "6", {5});
         m.Add(1, "1", {6});
         m.Add(2, "2", {1});
         m.Add(3, "3", {2});
         for (std::uint64_t id : {1, 2, 3}) m[id].announces = false;
         m[1].onRegen = [&m](GRegenAtom const& atom) {
           if (atom.TargetId() == 6) m.MarkAtom(GRegenAtom(1, L"b"));
         };
         m[2].onRegen = [&m](GRegenAtom const& atom) {
           if (atom.TargetId() == 1) m.MarkAtom(GRegenAtom(2, atom.PropertyId()));
         };
         m[3].onRegen = [&m](GRegenAtom const& atom) {
           if (atom.IsEqual(GRegenAtom(2, L"a"))) m.MarkAtom(GRegenAtom(3, L"p"));
         };
       },
       {{1, L"a"}, {4, L"x"}},
       {"4 for 4.x", "5 for 5.shape", "6 for 6.shape", "1 for 1.b", "2 for 2.b", "3 for 3.p"}},
      // Equal roots run once, at the later place with the later atom.
      {[](Model& m) {
         m.Add(Q, "Q");
         m.Add(Z, "Z");
       },
       {{Q, L"a"}, {Z, L"a"}, {Q, L"b"}, {Q, L"a"}},
       {"Z for Z.a", "Q for Q.b"}},
      // A cycle of steps: taken as built, each at its last occurrence.
      {[](Model& m) {
         m.Add(A, "A", {B});
         m.Add(B, "B", {A});
       },
       {{A, L"x"}},
       {"B for B.shape", "A for A.shape"}},
      // A's shape is cut as the root's atom; the Z.z A marks after it is still attached.
      {[](Model& m) {
         m.Add(A, "A", {B}).onRegen = [&m](GRegenAtom const&) { m.MarkAtom(GRegenAtom(Z, L"z")); };
         m.Add(B, "B", {A});
         m.Add(Z, "Z");
       },
       {{A, L"shape"}},
       {"A for A.shape", "B for B.shape", "Z for Z.z"}},
      // L3 is rebuilt on other points; the database still has it under P1.
      {[](Model& m) {
         BuildPrism(m);
         m[L3].refs = {P2, P3};
       },
       {{P1, L"x"}},
       {"P1 for P1.x", "L1 for L1.shape", "F for F.shape", "X for X.shape"}},
  };
  for (Case const& c : cases) {
    Model m;
    c.build(m);
    for (GRegenAtom const& atom : c.marks) m.MarkAtom(atom);
    GRegenContext context;
    EXPECT_THAT(Regen(m, context), ElementsAreArray(c.exec)) << "case " << (&c - cases);
    EXPECT_THAT(Regen(m, context), IsEmpty()) << "case " << (&c - cases);
  }
}

TEST(RegenScheduling, PropagationRelationRefreshAndTheContextsSets) {
  Model m;
  BuildPrism(m);
  m.Add(40, "D", {P1});  // a dimension on P1: changes, announces nothing, has no step
  m[40].announces = false;
  m[40].hasStep = false;
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAreArray(kPrismFromP1));
  EXPECT_THAT(m.Logged("regen "),
              ElementsAre("P1 <- P1.x", "L1 <- P1.x", "L3 <- P1.x", "D <- P1.x", "L1 <- L1.shape", "F <- L1.shape",
                          "F <- F.shape", "X <- F.shape", "X <- X.shape", "L3 <- L3.shape", "F <- L3.shape",
                          "F <- F.shape", "X <- F.shape", "X <- X.shape"));
  EXPECT_THAT(m.Names(context.GetRegenedIds()), ElementsAre("P1", "L1", "L3", "F", "X"));
  EXPECT_THAT(m.Names(context.GetUpdatedIds()), ElementsAre("P1", "L1", "L3", "F", "X"));
  for (auto& [id, feature] : m.features) feature->changes = false;
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext later;
  Regen(m, later);
  EXPECT_THAT(later.GetUpdatedIds(), IsEmpty());
  for (auto& [id, feature] : m.features) feature->changes = true;
  m[L1].refs = {P3, P2};  // L1 moves from P1 to P3
  m.MarkAtom(GRegenAtom(L1, L"shape"));
  Regen(m, later);
  // Relations are only added here: P1 keeps L1 until a change of P1 prunes it.
  EXPECT_TRUE(m.GetRelationDb()->GetRelations(P3)->IsIdExist(L1));
  EXPECT_TRUE(m.GetRelationDb()->GetRelations(P1)->IsIdExist(L1));
  m.MarkAtom(GRegenAtom(P1, L"x"));
  EXPECT_THAT(Regen(m, later), ElementsAre("P1 for P1.x", "L3 for L3.shape", "F for F.shape", "X for X.shape"));
  EXPECT_EQ(m.GetRelationDb()->GetRelations(P1)->GetRelatedIds(kRefersTo), (Ids{L3, 40}));
  // The step of an object that an earlier step removed is not run.
  m[L3].fault = [&](char const* where) {
    if (std::string(where) == "execute") m.DestroyObject(X);
  };
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext next;
  EXPECT_THAT(Regen(m, next), ElementsAre("P1 for P1.x", "L3 for L3.shape", "F for F.shape"));
  EXPECT_THAT(m.Names(next.GetDeletedIds()), ElementsAre("#31"));
  EXPECT_THAT(m.Names(next.GetRegenedIds()), ElementsAre("P1", "L3", "F"));
}

TEST(RegenRemoval, CascadeFollowsDependantsAndCyclesAndReportsEveryRemovedId) {
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
  EXPECT_THAT(m.Names(m.features | std::views::keys), ElementsAre("P2", "P3", "L2"));
  EXPECT_EQ(m.GetRelationDb()->GetRelations(P2)->GetRelatedIds(kRefersTo), (Ids{L2}));
  EXPECT_EQ(m.GetRelationDb()->GetRelations(P3)->GetRelatedIds(kRefersTo), (Ids{L2}));
  EXPECT_EQ(m.GetRelationDb()->GetRelations(P1), nullptr);

  m.MarkAtom(GRegenAtom(P2, L"x"));
  m.MarkAtom(GRegenAtom(P1, L"x"));  // removed: skipped
  GRegenContext context;
  EXPECT_THAT(Regen(m, context), ElementsAre("P2 for P2.x", "L2 for L2.shape"));
  EXPECT_THAT(m.Names(context.GetDeletedIds()), ElementsAre("#1", "#11", "#13", "#21", "#31"));
  GRegenContext next;
  Regen(m, next);
  EXPECT_THAT(next.GetDeletedIds(), IsEmpty());
  // A cycle of dependants; C also asks for A, which is being removed already.
  m.log.clear();
  m.Add(A, "A", {C});
  m.Add(B, "B", {A});
  m.Add(C, "C", {B});
  m[C].removesOnRemove = {A};
  m.RemoveObject(A);
  EXPECT_THAT(m.log, ElementsAre("remove A for A", "remove B for A", "destroy A", "destroy B", "remove B for B",
                                 "remove C for B", "destroy #41", "destroy B", "destroy C", "remove C for C",
                                 "destroy #41", "destroy C"));
  m.RemoveObject(A);
  m.RemoveObject(99);
  EXPECT_EQ(m.log.size(), 12u);
}

TEST(RegenFailure, ClientExceptionLeavesTheContainerUsable) {
  struct Case {
    char const* where;
    bool onlyAfterPropagation;
  };
  for (Case const& c : {Case{"regen", false}, Case{"execute", false}, Case{"collect", true}}) {
    SCOPED_TRACE(std::string(c.where) + (c.onlyAfterPropagation ? " in phase 3" : ""));
    Model m;
    BuildPrism(m);
    m.Add(Q, "Q");
    m.RemoveObject(Q);
    bool armed = true;
    m[F].fault = [&](char const* where) {
      if (std::string(where) == "execute") m.MarkAtom(GRegenAtom(P3, L"x"));  // while its step runs
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
    EXPECT_TRUE(s.GetPendingAtoms().empty() && s.GetDeferredAtoms().empty() && !s.IsRegenerating());
    armed = false;
    m.MarkAtom(GRegenAtom(P2, L"x"));
    GRegenContext next;
    EXPECT_THAT(Regen(m, next), ElementsAre("P2 for P2.x", "L1 for L1.shape", "L2 for L2.shape", "F for F.shape",
                                          "X for X.shape"));
    EXPECT_THAT(next.GetDeletedIds(), ElementsAre(Q));
  }

  Model m;
  BuildPrism(m);
  m[L1].fault = [&](char const* where) {
    GRegenContext inner;
    if (std::string(where) == "regen") m.Regenerate(inner);
  };
  m.MarkAtom(GRegenAtom(P1, L"x"));
  GRegenContext context;
  EXPECT_THROW(m.Regenerate(context), std::logic_error);
}

TEST(RegenScheduling, HeldNodesStayIntactAndLongChainsRun) {
  Model m;
  BuildPrism(m);
  m.MarkAtom(GRegenAtom(P1, L"held atom"));
  std::shared_ptr<GRegenAtomNode> held = m.GetScheduler()->GetPendingAtoms().front();
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(held.get()) % alignof(GRegenAtomNode), 0u) << "the first node of a block";
  GRegenContext context;
  for (int run = 0; run < 5; ++run) {
    Regen(m, context);
    for (std::uint64_t id : {P1, P2, P3, L1, L2}) m.MarkAtom(GRegenAtom(id, L"overwriting the blocks"));
  }
  EXPECT_TRUE(held->m_atom.IsEqual(GRegenAtom(P1, L"held atom")));
  EXPECT_EQ(held->m_listChildren.size(), 2u);  // L1.shape and L3.shape

  constexpr std::uint64_t kCount = 50000;
  Model chain;
  chain.Add(1, "c1");
  for (std::uint64_t id = 2; id <= kCount; ++id) chain.Add(id, "c" + std::to_string(id), {id - 1});
  chain.MarkAtom(GRegenAtom(1, L"x"));
  GRegenContext run;
  std::vector<std::string> ran = Regen(chain, run);
  ASSERT_EQ(ran.size(), kCount);
  EXPECT_EQ(ran[1], "c2 for c2.shape");
  EXPECT_EQ(ran.back(), "c50000 for c50000.shape");
  EXPECT_EQ(run.GetRegenedIds().size(), kCount);
}

}  // namespace
}  // namespace hux::test
