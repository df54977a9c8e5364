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

TEST(RegenScheduling, StepsRunAfterAllTheirInputsEachOnce) {
  struct Case {
    std::function<void(Model&)> build;
    std::vector<GRegenAtom> marks;
    std::vector<std::string> exec;
  } const cases[] = {
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
      // A's shape is cut as the root's atom; the Z.z A marks after it is still attached.
      {[](Model& m) {
         m.Add(A, "A", {B}).onRegen = [&m](GRegenAtom const&) { m.MarkAtom(GRegenAtom(Z, L"z")); };
         m.Add(B, "B", {A});
         m.Add(Z, "Z");
       },
       {{A, L"shape"}},
       {"A for A.shape", "B for B.shape", "Z for Z.z"}},
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
  EXPECT_THAT(m.Names(m.features | std::views::keys), ElementsAre("P2", "P3", "L2"));
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

TEST(RegenScheduling, HeldNodesStayIntactAndBlocksAreAligned) {
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
}

}  // namespace
}  // namespace hux::test
