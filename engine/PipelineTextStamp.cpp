// Step 12 of the pipeline, the text stamp: drawn into image A in a run; in the preview the
// text-stamp page receives the picture's information instead.
#include "engine/PipelineFrame.h"
#include "engine/TextStamp.h"

bool CMainDialog::StepTextStamp(PipelineRun& run) {
  TextStampStep(*this, run.HasA() ? run.imageA : nullptr, run.widthA, run.heightA, !run.IsRun());
  return true;
}
