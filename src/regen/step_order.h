// The step ordering with working memory that outlives one call, so that a
// container that regenerates again and again reuses its tables.
#pragma once

#include <memory>
#include <vector>

#include <hux/regen/scheduler.h>

namespace hux::regen_detail {

class StepOrderWorkspace {
 public:
  StepOrderWorkspace();
  ~StepOrderWorkspace();
  StepOrderWorkspace(StepOrderWorkspace const&) = delete;
  StepOrderWorkspace& operator=(StepOrderWorkspace const&) = delete;

  struct Tables;
  std::unique_ptr<Tables> tables;
};

// GRegenScheduler::OrderSteps with the given working memory.
std::vector<std::shared_ptr<GRegenStepNode>> OrderSteps(std::vector<std::shared_ptr<GRegenStepNode>> const& topLevel,
                                                        StepOrderWorkspace& workspace);

}  // namespace hux::regen_detail
