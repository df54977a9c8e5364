// Regeneration of chains and layered dependency graphs of 1 000, 10 000 and
// 100 000 objects after one change of the first object, against a plain Kahn
// topological sort of the same graph; and the step ordering alone on a tree
// whose long branch is moved late.
//
// Objects announce their own change once per run, the way a client keeps a
// dependency graph with shared inputs from being walked once per path. In a
// layered graph every object depends on three objects of the layer before,
// so the first path that reaches an object is also a longest one and each
// object gets one step.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include <hux/regen/container.h>
#include <hux/regen/scheduler.h>

namespace {

constexpr auto kUses = static_cast<hux::GRegenObjectRelation::RelationType>(1);

// The dependency lists of a graph: deps[i] are the objects i is built on.
using Graph = std::vector<std::vector<std::uint64_t>>;

Graph Chain(std::size_t n) {
  Graph g(n);
  for (std::size_t i = 1; i < n; ++i) g[i] = {i - 1};
  return g;
}

// Object 0, then layers of 100 objects; layer 1 is built on object 0, every
// later object on three distinct objects of the layer before.
Graph Layered(std::size_t n) {
  constexpr std::size_t kWidth = 100;
  Graph g(n);
  std::uint64_t seed = 0x2545F4914F6CDD1Dull;
  auto next = [&] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return seed;
  };
  for (std::size_t i = 1; i < n; ++i) {
    std::size_t const layer = (i - 1) / kWidth;
    if (layer == 0) {
      g[i] = {0};
      continue;
    }
    std::size_t const first = 1 + (layer - 1) * kWidth;
    while (g[i].size() < 3) {
      std::uint64_t const d = first + next() % kWidth;
      bool seen = false;
      for (std::uint64_t e : g[i]) seen = seen || e == d;
      if (!seen) g[i].push_back(d);
    }
  }
  return g;
}

class Container;

class Object : public hux::IRegenableObject, public hux::IRegenStep {
 public:
  Object(Container& container, std::uint64_t id, std::vector<std::uint64_t> deps)
      : m_container(container), m_id(id), m_deps(std::move(deps)) {}
  std::uint64_t GetObjectId() override { return m_id; }
  std::uint64_t GetStepId() override { return 1; }
  void CollectRelations(hux::IRelationContext& context) override {
    for (std::uint64_t d : m_deps) context.AddRelation(m_id, d, kUses);
  }
  bool OnRegen(hux::GRegenAtom const& atom) override;
  hux::IRegenStep* GetRegenStep(hux::GRegenAtom const&) override { return this; }
  void OnRemove(hux::GRemoveObjectContext&) override {}
  void Execute(hux::IRegenableObject*, hux::GRegenAtom const&) override;

 private:
  Container& m_container;
  std::uint64_t m_id;
  std::vector<std::uint64_t> m_deps;
  std::uint64_t m_nAnnounced = 0;  // the run in which this object last announced
};

class Container : public hux::IRegenObjectContainer {
 public:
  explicit Container(Graph const& g) {
    for (std::size_t i = 0; i < g.size(); ++i) m_objects.push_back(std::make_shared<Object>(*this, i, g[i]));
    hux::GCollectRelationContext collect(*GetRelationDb());
    for (auto const& o : m_objects) o->CollectRelations(collect);
  }
  std::shared_ptr<hux::IRegenableObject> GetObject(std::uint64_t id) override {
    return id < m_objects.size() ? m_objects[id] : nullptr;
  }
  void DestroyObject(std::uint64_t id) override { RemoveObject(id); }
  void Regenerate(hux::GRegenContext& context) override {
    ++run;
    executed = 0;
    IRegenObjectContainer::Regenerate(context);
  }

  std::uint64_t run = 0;
  std::size_t executed = 0;
  // Where objects put the atoms they announce when no engine runs (the
  // direct baseline below); null: announced through MarkAtom.
  std::vector<hux::GRegenAtom>* announced = nullptr;

 private:
  std::vector<std::shared_ptr<Object>> m_objects;
};

bool Object::OnRegen(hux::GRegenAtom const& atom) {
  if (atom.TargetId() != m_id && m_nAnnounced != m_container.run) {
    m_nAnnounced = m_container.run;
    if (m_container.announced != nullptr)
      m_container.announced->push_back(hux::GRegenAtom(m_id, L"shape"));
    else
      m_container.MarkAtom(hux::GRegenAtom(m_id, L"shape"));
  }
  return true;
}

void Object::Execute(hux::IRegenableObject*, hux::GRegenAtom const&) { ++m_container.executed; }

// Kahn's algorithm over the same dependency lists: dependants and in-degrees
// by id, then a queue of objects whose inputs are all done.
std::vector<std::uint64_t> KahnOrder(Graph const& g) {
  std::size_t const n = g.size();
  std::vector<std::uint32_t> indegree(n, 0), start(n + 1, 0), dependants;
  for (std::size_t i = 0; i < n; ++i)
    for (std::uint64_t d : g[i]) ++start[d + 1], ++indegree[i];
  for (std::size_t i = 0; i < n; ++i) start[i + 1] += start[i];
  dependants.resize(start[n]);
  std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
  for (std::size_t i = 0; i < n; ++i)
    for (std::uint64_t d : g[i]) dependants[fill[d]++] = static_cast<std::uint32_t>(i);
  std::vector<std::uint64_t> order;
  order.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    if (indegree[i] == 0) order.push_back(i);
  for (std::size_t head = 0; head < order.size(); ++head) {
    std::uint64_t const v = order[head];
    for (std::uint32_t k = start[v]; k < start[v + 1]; ++k)
      if (--indegree[dependants[k]] == 0) order.push_back(dependants[k]);
  }
  return order;
}

// Kahn's algorithm over the graph as the engine holds it: the relation
// database, which lists each object's dependants under the object's id, and
// in-degrees kept by id in a hash map.
std::vector<std::uint64_t> KahnOrderOverDb(hux::GRegenObjectRelationDb& db, std::size_t n) {
  std::unordered_map<std::uint64_t, std::uint32_t> indegree;
  indegree.reserve(n);
  for (std::uint64_t id = 0; id < n; ++id) {
    indegree.emplace(id, 0);
    if (hux::GRegenObjectRelation* entry = db.GetRelations(id))
      for (auto const& [type, ids] : *entry)
        for (std::uint64_t d : ids) ++indegree[d];
  }
  std::vector<std::uint64_t> order;
  order.reserve(n);
  for (std::uint64_t id = 0; id < n; ++id)
    if (indegree[id] == 0) order.push_back(id);
  for (std::size_t head = 0; head < order.size(); ++head)
    if (hux::GRegenObjectRelation* entry = db.GetRelations(order[head]))
      for (auto const& [type, ids] : *entry)
        for (std::uint64_t d : ids)
          if (--indegree[d] == 0) order.push_back(d);
  return order;
}

// Best of several runs, so that the comparison is with a warm sort.
template <class F>
double BestSeconds(F&& sort) {
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    auto const t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(sort());
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

void RunRegenerate(benchmark::State& state, Graph const& g) {
  Container container(g);
  {
    // One run before timing: the steady state of a model regenerated again
    // and again, with the engine's working memory in place.
    hux::GRegenContext context;
    container.MarkAtom(hux::GRegenAtom(0, L"x"));
    container.Regenerate(context);
  }
  for (auto _ : state) {
    hux::GRegenContext context;
    container.MarkAtom(hux::GRegenAtom(0, L"x"));
    container.Regenerate(context);
    if (container.executed != g.size()) state.SkipWithError("not every object was regenerated");
  }
  double const n = static_cast<double>(g.size());
  state.counters["per_object"] =
      benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  // Kahn's sort of the same graph, timed in the same process after the loop:
  // over plain arrays, and over the container's relation database.
  state.counters["kahn_arrays_us"] = BestSeconds([&] { return KahnOrder(g); }) * 1e6;
  state.counters["kahn_db_us"] =
      BestSeconds([&] { return KahnOrderOverDb(*container.GetRelationDb(), g.size()); }) * 1e6;
}

// Answers whether an object names `target`, as propagation asks it.
class NamesTarget : public hux::IRelationContext {
 public:
  explicit NamesTarget(std::uint64_t target) : m_target(target) {}
  void AddRelation(std::uint64_t const&, std::uint64_t const& toId, hux::GRegenObjectRelation::RelationType) override {
    found = found || toId == m_target;
  }
  bool found = false;

 private:
  std::uint64_t m_target;
};

// The same run without the engine: only the work every regeneration of such
// a graph owes its objects and callers, done directly in id order (a
// topological order of these graphs). Each object is fetched and told of
// its change, each dependant is asked whether it still names the object and
// told too, every announced atom is kept and becomes an atom node, every
// object gives a step node holding a copy of its atom, the steps execute,
// the ids go into the context's ordered sets, and the updated objects report
// their relations again. What it leaves out is the engine's own part:
// equal-atom and cycle checks, the trees' structure, the level-by-level
// order with moved duplicates.
void RunDirect(benchmark::State& state, Graph const& g) {
  Container container(g);
  hux::GRegenObjectRelationDb& db = *container.GetRelationDb();
  std::size_t const n = g.size();
  hux::GRegenAtom const root(0, L"x");
  for (auto _ : state) {
    hux::GRegenContext context;
    std::vector<hux::GRegenAtom> announced;
    container.announced = &announced;
    ++container.run;
    std::vector<std::shared_ptr<hux::GRegenAtomNode>> atomNodes;
    std::vector<std::shared_ptr<hux::GRegenStepNode>> stepNodes;
    std::vector<hux::GRegenAtom const*> atomOf(n, nullptr);
    atomOf[0] = &root;
    for (std::uint64_t id = 0; id < n; ++id) {
      std::shared_ptr<hux::IRegenableObject> object = container.GetObject(id);
      hux::GRegenAtom const& atom = *atomOf[id];
      if (object->OnRegen(atom)) context.MarkUpdated(id);
      if (hux::GRegenObjectRelation* entry = db.GetRelations(id)) {
        for (auto const& [type, ids] : *entry)
          for (std::uint64_t d : ids) {
            std::shared_ptr<hux::IRegenableObject> dependant = container.GetObject(d);
            NamesTarget query(id);
            dependant->CollectRelations(query);
            if (query.found && dependant->OnRegen(atom)) context.MarkUpdated(id);
          }
      }
      for (hux::GRegenAtom& a : announced) {
        atomNodes.push_back(std::make_shared<hux::GRegenAtomNode>(std::move(a)));
        atomOf[atomNodes.back()->m_atom.TargetId()] = &atomNodes.back()->m_atom;
      }
      announced.clear();
      hux::IRegenStep* step = object->GetRegenStep(atom);
      stepNodes.push_back(std::make_shared<hux::GRegenStepNode>(step, atom, object));
    }
    for (auto const& node : stepNodes) {
      node->GetStep()->Execute(node->GetObject().get(), node->GetAtom());
      context.MarkRegened(node->GetAtom().TargetId());
    }
    hux::GCollectRelationContext collect(db);
    for (std::uint64_t id : context.GetUpdatedIds()) container.GetObject(id)->CollectRelations(collect);
    container.announced = nullptr;
    if (container.executed != n) state.SkipWithError("not every object was regenerated");
    container.executed = 0;
  }
  state.counters["per_object"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_DirectChain(benchmark::State& state) { RunDirect(state, Chain(static_cast<std::size_t>(state.range(0)))); }
void BM_DirectLayered(benchmark::State& state) { RunDirect(state, Layered(static_cast<std::size_t>(state.range(0)))); }

void BM_RegenerateChain(benchmark::State& state) {
  RunRegenerate(state, Chain(static_cast<std::size_t>(state.range(0))));
}

void BM_RegenerateLayered(benchmark::State& state) {
  RunRegenerate(state, Layered(static_cast<std::size_t>(state.range(0))));
}

void RunKahn(benchmark::State& state, Graph const& g) {
  for (auto _ : state) benchmark::DoNotOptimize(KahnOrder(g));
  state.counters["per_object"] = benchmark::Counter(static_cast<double>(g.size()),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

void BM_KahnChain(benchmark::State& state) { RunKahn(state, Chain(static_cast<std::size_t>(state.range(0)))); }
void BM_KahnLayered(benchmark::State& state) { RunKahn(state, Layered(static_cast<std::size_t>(state.range(0)))); }

// The step ordering alone: a root with two branches of n steps; the first
// branch's head occurs again at the end of the second, so the whole first
// branch, placed by then, leaves the order and is placed again behind it.
struct Key : hux::IRegenableObject, hux::IRegenStep {
  explicit Key(std::uint64_t id) : id(id) {}
  std::uint64_t GetObjectId() override { return id; }
  std::uint64_t GetStepId() override { return 1; }
  void CollectRelations(hux::IRelationContext&) override {}
  bool OnRegen(hux::GRegenAtom const&) override { return false; }
  hux::IRegenStep* GetRegenStep(hux::GRegenAtom const&) override { return this; }
  void OnRemove(hux::GRemoveObjectContext&) override {}
  void Execute(hux::IRegenableObject*, hux::GRegenAtom const&) override {}
  std::uint64_t id;
};

void BM_OrderStepsMovedBranch(benchmark::State& state) {
  std::size_t const n = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    std::deque<std::shared_ptr<Key>> keys;
    auto node = [&](std::uint64_t id) {
      keys.push_back(std::make_shared<Key>(id));
      return std::make_shared<hux::GRegenStepNode>(keys.back().get(), hux::GRegenAtom(id, L"p"), keys.back());
    };
    std::vector<std::shared_ptr<hux::GRegenStepNode>> top{node(0)};
    auto head = node(1);
    auto detour = node(2);
    top[0]->AttachChild(head);
    top[0]->AttachChild(detour);
    hux::GRegenStepNode* tail = head.get();
    for (std::size_t i = 0; i < n; ++i) {
      auto next = node(10 + i);
      tail->AttachChild(next);
      tail = next.get();
    }
    tail = detour.get();
    for (std::size_t i = 0; i < n + 2; ++i) {
      auto next = node(10 + n + i);
      tail->AttachChild(next);
      tail = next.get();
    }
    tail->AttachChild(node(1));
    state.ResumeTiming();
    auto order = hux::GRegenScheduler::OrderSteps(top);
    if (order.size() != 2 * n + 5) {
      state.SkipWithError("unexpected order length");
      break;
    }
    state.PauseTiming();
    order.clear();
    top.clear();
    head.reset();
    detour.reset();
    state.ResumeTiming();
  }
  state.counters["per_step"] = benchmark::Counter(static_cast<double>(2 * n),
                                                  benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

}  // namespace

// Names follow "Group/implementation/objects"; the report pairs each "hux"
// entry with the Kahn sort of the same graph and with the direct baseline.
BENCHMARK(BM_RegenerateChain)->Name("RegenChain/hux")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KahnChain)->Name("RegenChain/kahn")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectChain)->Name("RegenChain/direct")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegenerateLayered)->Name("RegenLayered/hux")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KahnLayered)->Name("RegenLayered/kahn")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectLayered)->Name("RegenLayered/direct")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrderStepsMovedBranch)->Name("OrderStepsMovedBranch/hux")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
