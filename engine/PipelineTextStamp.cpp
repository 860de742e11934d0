// Step 12 of the pipeline, the text stamp: drawn by the text layer. Without it the step leaves
// both pictures as they are.
#include "engine/PipelineFrame.h"

bool CMainDialog::StepTextStamp(PipelineRun&) { return true; }
