// Colour steps of the pipeline: colour matching, cast removal, auto balance, colour-filter
// simulation, midtones and the final saturation fix.
#include <algorithm>
#include <cctype>

#include "engine/CColorSpaceConverter.h"
#include "engine/CFilterSim.h"
#include "engine/CImageFilter.h"
#include "engine/HtmlLog.h"
#include "engine/PipelineFrame.h"

namespace {

// The EXIF flag passed with a flash position: 0 when the picture has no flash data.
int FlashExif(const CMainDialog& dlg) { return dlg.m_flash == -1 ? 0 : dlg.m_exifPresent; }

}  // namespace

bool CMainDialog::StepColorMatching(PipelineRun& run) {
  const CTextStampPage& page = m_pages.textStamp;
  int matchOn = page.m_srgbEnabled == 1 ? 1 : 0;
  m_colorMatched = 0;
  if (page.m_srgbTest == 0 && matchOn) {
    std::string model = m_model;
    std::transform(model.begin(), model.end(), model.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (model.find("minolta") == std::string::npos) {
      matchOn = 0;
      run.Log("Color Matching Skipping - it is not Minolta image");
    } else if (m_colorSpace == 1 || m_jpegComment == "sRGB Matched") {
      matchOn = 0;
      m_colorMatched = 1;
      run.Log("Color Matching Skipping - image is already in sRGB");
    }
  }
  if (matchOn) {
    run.Status("Color Matching (Minolta->sRGB");
    CColorSpaceConverter converter;
    if (run.HasA()) converter.Convert(run.imageA, run.widthA, run.heightA);
    m_colorMatched = 1;
    run.Log("DiMAGE->sRGB");
    if (run.HasB()) converter.Convert(run.imageB, run.widthB, run.heightB);
  }
  return run.After(20, true);
}

bool CMainDialog::StepCastRemoval(PipelineRun& run) {
  CColorCastPage& page = run.advanced ? static_cast<CColorCastPage&>(m_pages.castAdvanced) : m_pages.castBasic;
  if (page.m_colorCast.GetEnabled()) {
    run.Status("Removing Cast");
    const int v = run.advanced ? page.GetColorCastAt(m_flash, FlashExif(*this)) : page.GetColorCastAt(0, 0);
    const double gamma = CastGamma(v);
    const int mode = run.advanced ? m_flash : 0;
    if (run.HasA()) run.filter->ColorCastGamma(run.imageA, run.widthA, run.heightA, gamma, mode);
    run.Log(Format("CC:Gamma=%g", gamma));
    if (run.HasB()) run.filter->ColorCastGamma(run.imageB, run.widthB, run.heightB, gamma, mode);
  }
  return run.After(20, true);
}

bool CMainDialog::StepAutoBalance(PipelineRun& run) {
  CBalancePage& page = run.advanced ? static_cast<CBalancePage&>(m_pages.balanceAdvanced) : m_pages.balanceBasic;
  if (page.m_balance.GetEnabled()) {
    run.Status("Auto Balance");
    // Clip 2 % at each end: levels 5 and 250.
    const int low = static_cast<int>(2.0 / 100.0 * 255.0);
    const int high = 255 - low;
    if (run.HasA()) {
      run.CopyAToScratch();
      run.filter->AutoLevels(run.scratchA.get(), run.widthA, run.heightA, low, high);
    }
    if (!run.After(25, false)) return false;

    double alpha = 0.0;
    double t = m_exposureSeconds;
    if (!run.advanced) {
      alpha = page.GetBalanceAt(0.0, 0) / 255.0;
    } else {
      int exif = m_exifPresent;
      if (t == 0.0) {
        exif = 0;
        t = 0.002;
      }
      double s = t / 0.002;
      // Below 2 (and NaN) counts as 2; absurd ratios are held where the position is 11 anyway.
      if (!(s >= 2.0)) s = 2.0;
      if (s > 1e6) s = 1e6;
      double position = std::min(ApproxLog2(s), 11.0);
      if (m_flash == 1 && exif) position = 13.0;
      alpha = page.GetBalanceAt(position, exif) / 255.0;
    }
    if (run.HasA())
      run.filter->Blend(run.imageA, run.widthA, run.heightA, run.scratchA.get(), run.widthA, run.heightA, alpha, 0);
    if (run.advanced)
      run.Log(Format("BL:Alpha=%g, S.Speed=%g", alpha, t));
    else
      run.Log(Format("BL:Alpha=%g", alpha));
    if (run.HasB()) {
      run.CopyBToScratch();
      run.filter->ApplyLevels(run.scratchB.get(), run.widthB, run.heightB);
      run.filter->Blend(run.imageB, run.widthB, run.heightB, run.scratchB.get(), run.widthB, run.heightB, alpha, 0);
    }
  }
  return run.After(30, true);
}

bool CMainDialog::StepFilterSimulation(PipelineRun& run) {
  const CColorCastPage& page =
      run.advanced ? static_cast<const CColorCastPage&>(m_pages.castAdvanced) : m_pages.castBasic;
  if (page.m_filterSimEnabled != 1) return true;
  const std::string name = page.GetFilterName();
  const int grey = page.m_filterSimBW;
  run.Status(name);
  CFilterSim sim;
  if (run.HasA()) sim.Apply(run.imageA, run.widthA, run.heightA, name, 255, 1, grey);
  if (run.HasB()) sim.Apply(run.imageB, run.widthB, run.heightB, name, 255, 1, grey);
  run.Log("filter: " + HtmlEscape(name));
  // The grey is taken of the filtered values: with no filter there are none, and the picture
  // stays as it was.
  if (grey && CFilterSim::GetColor(name) == CFilterSim::kNoFilter)
    run.LogError("black and white needs a colour filter: none is named");
  return true;
}

bool CMainDialog::StepMidtones(PipelineRun& run) {
  CBalancePage& page = run.advanced ? static_cast<CBalancePage&>(m_pages.balanceAdvanced) : m_pages.balanceBasic;
  if (page.m_midtones.GetEnabled()) {
    run.Status("Adjusting Gamma");
    const int v = run.advanced ? page.GetMidtonesAt(m_flash, FlashExif(*this)) : page.GetMidtonesAt(0, 0);
    if (v != 128) {
      const double gamma = MidtonesGamma(v);
      if (gamma != 1.0) {
        if (run.HasA()) run.filter->Gamma(run.imageA, run.widthA, run.heightA, gamma);
        if (run.HasB()) run.filter->Gamma(run.imageB, run.widthB, run.heightB, gamma);
        run.Log(Format("MI:Gamma=%g", gamma));
      }
    }
  }
  return run.After(40, true);
}

bool CMainDialog::StepFinalColorFix(PipelineRun& run) {
  CColorCastPage& page = run.advanced ? static_cast<CColorCastPage&>(m_pages.castAdvanced) : m_pages.castBasic;
  if (!page.m_saturation.GetEnabled()) return true;
  run.Status("Color Final Fix");
  const int s = run.advanced ? page.GetSaturationAt(static_cast<double>(m_flash), FlashExif(*this))
                             : page.GetSaturationAt(0.0, 0);
  if (run.HasA()) run.filter->Saturation(run.imageA, run.widthA, run.heightA, s);
  if (run.HasB()) run.filter->Saturation(run.imageB, run.widthB, run.heightB, s);
  run.Log(Format("SA: NT=%d", s));
  return true;
}
