// A small parametric model regenerated after changes: three points, three
// lines on them, a triangular face on the lines and an extrusion of the face.
// Each feature reports what it is built on, announces its own change when
// something it uses changes, and recomputes itself in its regeneration step.
// The program moves a point, changes the extrusion's height, deletes a point
// and moves another, printing the steps in the order they ran and the run's
// three sets.
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <hux/hux.h>

namespace {

constexpr auto kBuiltOn = static_cast<hux::GRegenObjectRelation::RelationType>(1);

class Model;

class Feature : public hux::IRegenableObject, public hux::IRegenStep {
 public:
  Feature(Model& model, std::uint64_t id, std::string name, std::vector<std::uint64_t> inputs)
      : m_model(model), m_id(id), m_name(std::move(name)), m_inputs(std::move(inputs)) {}

  std::uint64_t GetObjectId() override { return m_id; }
  std::uint64_t GetStepId() override { return 1; }
  void CollectRelations(hux::IRelationContext& context) override {
    for (std::uint64_t input : m_inputs) context.AddRelation(m_id, input, kBuiltOn);
  }
  bool OnRegen(hux::GRegenAtom const& atom) override;
  hux::IRegenStep* GetRegenStep(hux::GRegenAtom const&) override { return this; }
  void OnRemove(hux::GRemoveObjectContext& context) override { context.MarkRemove(m_id); }
  void Execute(hux::IRegenableObject*, hux::GRegenAtom const& atom) override;

  // Recomputes the feature from its inputs and describes the result.
  virtual std::string Rebuild() = 0;

  std::string const& Name() const { return m_name; }

 protected:
  Model& m_model;
  std::uint64_t m_id;
  std::string m_name;
  std::vector<std::uint64_t> m_inputs;
};

class Model : public hux::IRegenObjectContainer {
 public:
  std::shared_ptr<hux::IRegenableObject> GetObject(std::uint64_t id) override {
    auto it = m_features.find(id);
    return it == m_features.end() ? nullptr : it->second;
  }

  void DestroyObject(std::uint64_t id) override {
    RemoveObject(id);
    m_features.erase(id);
  }

  template <class T, class... Args>
  T& Add(std::uint64_t id, Args&&... args) {
    auto feature = std::make_shared<T>(*this, id, std::forward<Args>(args)...);
    m_features[id] = feature;
    m_names[id] = feature->Name();
    hux::GCollectRelationContext collect(*GetRelationDb());
    feature->CollectRelations(collect);
    MarkAtom(hux::GRegenAtom(id, L"created"));
    return *feature;
  }

  template <class T>
  T* Find(std::uint64_t id) {
    auto it = m_features.find(id);
    return it == m_features.end() ? nullptr : dynamic_cast<T*>(it->second.get());
  }

  std::string Names(std::set<std::uint64_t> const& ids) {
    std::string out;
    for (std::uint64_t id : ids) out += (out.empty() ? "" : ", ") + m_names[id];
    return "{" + out + "}";
  }

  // Runs the marked changes and prints what happened.
  void Run(char const* title) {
    std::printf("%s\n", title);
    hux::GRegenContext context;
    Regenerate(context);
    std::printf("  regenerated %s\n  updated     %s\n  deleted     %s\n\n", Names(context.GetRegenedIds()).c_str(),
                Names(context.GetUpdatedIds()).c_str(), Names(context.GetDeletedIds()).c_str());
  }

 private:
  std::map<std::uint64_t, std::shared_ptr<Feature>> m_features;
  std::map<std::uint64_t, std::string> m_names;  // kept after deletion, for the report
};

bool Feature::OnRegen(hux::GRegenAtom const& atom) {
  if (atom.TargetId() != m_id) m_model.MarkAtom(hux::GRegenAtom(m_id, L"shape"));
  return true;
}

void Feature::Execute(hux::IRegenableObject*, hux::GRegenAtom const& atom) {
  std::string const property(atom.PropertyId().begin(), atom.PropertyId().end());
  std::printf("  step %-10s (%s changed): %s\n", m_name.c_str(), property.c_str(), Rebuild().c_str());
}

struct Point : Feature {
  Point(Model& m, std::uint64_t id, std::string name, double x, double y) : Feature(m, id, std::move(name), {}), x(x), y(y) {}
  std::string Rebuild() override { return "at (" + Num(x) + ", " + Num(y) + ")"; }
  static std::string Num(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
  }
  double x, y;
};

struct Line : Feature {
  Line(Model& m, std::uint64_t id, std::string name, std::uint64_t from, std::uint64_t to)
      : Feature(m, id, std::move(name), {from, to}) {}
  Point* End(int i) { return m_model.Find<Point>(m_inputs[i]); }
  std::string Rebuild() override {
    Point *a = End(0), *b = End(1);
    if (a == nullptr || b == nullptr) return "missing an end";
    length = std::hypot(b->x - a->x, b->y - a->y);
    return "length " + Point::Num(length);
  }
  double length = 0;
};

struct Face : Feature {
  Face(Model& m, std::uint64_t id, std::string name, std::vector<std::uint64_t> lines)
      : Feature(m, id, std::move(name), std::move(lines)) {}
  std::string Rebuild() override {
    // The corners are the lines' start points, in order (shoelace formula).
    double twice = 0;
    std::vector<Point*> corners;
    for (std::uint64_t id : m_inputs) {
      Line* line = m_model.Find<Line>(id);
      if (line == nullptr || line->End(0) == nullptr) return "open outline";
      corners.push_back(line->End(0));
    }
    for (std::size_t i = 0; i < corners.size(); ++i) {
      Point* p = corners[i];
      Point* q = corners[(i + 1) % corners.size()];
      twice += p->x * q->y - q->x * p->y;
    }
    area = std::fabs(twice) / 2;
    return "area " + Point::Num(area);
  }
  double area = 0;
};

struct Extrusion : Feature {
  Extrusion(Model& m, std::uint64_t id, std::string name, std::uint64_t face, double height)
      : Feature(m, id, std::move(name), {face}), height(height) {}
  std::string Rebuild() override {
    Face* face = m_model.Find<Face>(m_inputs[0]);
    if (face == nullptr) return "no face";
    return "volume " + Point::Num(face->area * height);
  }
  double height;
};

}  // namespace

int main() {
  Model model;
  model.Add<Point>(1, "P1", 0.0, 0.0);
  model.Add<Point>(2, "P2", 4.0, 0.0);
  model.Add<Point>(3, "P3", 0.0, 3.0);
  model.Add<Line>(11, "L1", 1, 2);
  model.Add<Line>(12, "L2", 2, 3);
  model.Add<Line>(13, "L3", 3, 1);
  model.Add<Face>(21, "Face", std::vector<std::uint64_t>{11, 12, 13});
  model.Add<Extrusion>(31, "Extrusion", 21, 10.0);
  model.Run("Build the model:");

  model.Find<Point>(2)->x = 8.0;
  model.MarkAtom(hux::GRegenAtom(2, L"x"));
  model.Run("Move P2 to (8, 0):");

  model.Find<Extrusion>(31)->height = 2.5;
  model.MarkAtom(hux::GRegenAtom(31, L"height"));
  model.Run("Set the extrusion's height to 2.5:");

  model.RemoveObject(3);
  model.Run("Delete P3 (the lines on it, the face and the extrusion go with it):");

  model.Find<Point>(1)->y = 1.0;
  model.MarkAtom(hux::GRegenAtom(1, L"y"));
  model.Run("Move P1 to (0, 1):");
  return 0;
}
