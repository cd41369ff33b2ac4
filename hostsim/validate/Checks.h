// The checks of the catalogue, one function each.
#pragma once

#include "CheckContext.h"
#include "FrameCheck.h"

namespace hostsim::validate {

void CheckIgnoredCommands(CheckContext& ctx);
void CheckLifecycleOrder(CheckContext& ctx);
void CheckPropertyList(CheckContext& ctx);
void CheckRenderSequence(CheckContext& ctx);
void CheckWorkedExamples(CheckContext& ctx);
void CheckFaultSweep(CheckContext& ctx);
void CheckSuiteRefusal(CheckContext& ctx);
void CheckParameterFuzz(CheckContext& ctx);
void CheckConcurrentRender(CheckContext& ctx);
void CheckHostAnswers(CheckContext& ctx);

}  // namespace hostsim::validate
