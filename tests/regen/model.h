// A small parametric model: features refer to others, announce their shape and log their step.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <hux/regen/container.h>

namespace hux::test {

constexpr auto kRefersTo = static_cast<GRegenObjectRelation::RelationType>(7);

class Model;

class Feature : public IRegenableObject, public IRegenStep {
 public:
  Feature(Model& model, std::uint64_t id, std::string name, std::vector<std::uint64_t> refs)
      : model(model), id(id), name(std::move(name)), refs(std::move(refs)) {}
  std::uint64_t GetObjectId() override { return id; }
  std::uint64_t GetStepId() override { return 1; }
  void CollectRelations(IRelationContext& context) override {
    Fault("collect");
    for (std::uint64_t ref : refs) context.AddRelation(id, ref, kRefersTo);
  }
  bool OnRegen(GRegenAtom const& atom) override;
  IRegenStep* GetRegenStep(GRegenAtom const&) override {
    Fault("step");
    return hasStep ? this : nullptr;
  }
  void OnRemove(GRemoveObjectContext& context) override;
  void Execute(IRegenableObject* object, GRegenAtom const& atom) override;
  void Fault(char const* where) {
    if (fault) fault(where);
  }

  Model& model;
  std::uint64_t id;
  std::string name;
  std::vector<std::uint64_t> refs;  // the features this one is built on
  bool announces = true;            // marks its own "shape" when something it uses changes
  bool changes = true;              // OnRegen answers true
  bool hasStep = true;
  std::vector<std::uint64_t> removesOnRemove;   // extra ids asked for on removal
  std::function<void(char const* where)> fault;    // may throw
  std::function<void(GRegenAtom const&)> onRegen;  // reacts to any atom
};

class Model : public IRegenObjectContainer {
 public:
  std::shared_ptr<IRegenableObject> GetObject(std::uint64_t id) override {
    auto it = features.find(id);
    return it == features.end() ? nullptr : it->second;
  }
  void DestroyObject(std::uint64_t id) override {
    log.push_back("destroy " + Name(id));
    RemoveObject(id);
    features.erase(id);
  }
  Feature& Add(std::uint64_t id, std::string name, std::vector<std::uint64_t> refs = {}) {
    auto feature = std::make_shared<Feature>(*this, id, std::move(name), std::move(refs));
    features[id] = feature;
    GCollectRelationContext collect(*GetRelationDb());
    feature->CollectRelations(collect);
    return *feature;
  }
  Feature& operator[](std::uint64_t id) { return *features.at(id); }
  std::string Name(std::uint64_t id) const {
    auto it = features.find(id);
    return it == features.end() ? "#" + std::to_string(id) : it->second->name;
  }
  template <class Ids>
  std::vector<std::string> Names(Ids const& ids) const {
    std::vector<std::string> out;
    for (std::uint64_t id : ids) out.push_back(Name(id));
    return out;
  }
  std::vector<std::string> Logged(std::string const& prefix) const {
    std::vector<std::string> out;
    for (auto const& line : log)
      if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line.substr(prefix.size()));
    return out;
  }
  std::string AtomText(GRegenAtom const& atom) const {
    return Name(atom.TargetId()) + "." + std::string(atom.PropertyId().begin(), atom.PropertyId().end());
  }

  std::map<std::uint64_t, std::shared_ptr<Feature>> features;
  std::vector<std::string> log;
};

inline bool Feature::OnRegen(GRegenAtom const& atom) {
  Fault("regen");
  model.log.push_back("regen " + name + " <- " + model.AtomText(atom));
  if (atom.TargetId() != id && announces) model.MarkAtom(GRegenAtom(id, L"shape"));
  if (onRegen) onRegen(atom);
  return changes;
}

inline void Feature::OnRemove(GRemoveObjectContext& context) {
  model.log.push_back("remove " + name + " for " + model.Name(context.GetTargetId()));
  context.MarkRemove(id);
  for (std::uint64_t extra : removesOnRemove) context.MarkRemove(extra);
}

inline void Feature::Execute(IRegenableObject* object, GRegenAtom const& atom) {
  Fault("execute");
  if (object != this) throw std::logic_error("step executed on another object");
  model.log.push_back("exec " + name + " for " + model.AtomText(atom));
}

}  // namespace hux::test
