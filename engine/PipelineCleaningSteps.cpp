// Cleaning steps of the pipeline: black-frame subtraction, hot-pixel removal and the de-noiser
// (skin smoothing, or speckle passes mixed back by an opacity).
#include <algorithm>
#include <cstring>

#include "engine/CImageFilter.h"
#include "engine/PipelineFrame.h"
#include "qrv/imaging.h"

namespace {

// The black frame under the upright picture of width x height. A frame is taken in the
// sensor's orientation, like the picture's stored pixels: one of the picture's stored size is
// turned as the picture was (into `turned`); one of the upright size is used as it is. Null
// when the frame has neither size.
const BYTE* UprightFrame(const BYTE* frame, int frameWidth, int frameHeight, int orientation, int width, int height,
                         PipelineBuffer& turned) {
  const bool swapped = orientation >= 5 && orientation <= 8;
  const int storedWidth = swapped ? height : width, storedHeight = swapped ? width : height;
  if (frameWidth == storedWidth && frameHeight == storedHeight) {
    if (orientation < 2 || orientation > 8) return frame;
    turned.Allocate(PictureBytes(width, height));
    TurnUpright(frame, frameWidth, frameHeight, orientation, turned.get());
    return turned.get();
  }
  return frameWidth == width && frameHeight == height ? frame : nullptr;
}

}  // namespace

bool CMainDialog::StepBlackFrame(PipelineRun& run) {
  if (m_pages.hotPixelsAdvanced.m_blackFrame != 1) return true;
  int exif = m_exifPresent;
  double t = m_exposureSeconds;
  if (t == 0.0) exif = 0;
  if (exif == 0) t = 2.0;  // without EXIF data: a long exposure
  // A long exposure corrected without the frame asked for carries a warning; a short one
  // needs no frame.
  const bool wanted = run.IsRun() && t > 1.0;
  const size_t frameBytes = PictureBytes(m_blackFrameWidth, m_blackFrameHeight);
  if (frameBytes == 0 || m_blackFrame.size() < frameBytes) {
    run.Log("BF: No BF Loaded");
    if (wanted)
      run.LogError(m_blackFrameError.empty() ? std::string("black frame not loaded")
                                             : "black frame not loaded: " + m_blackFrameError);
    return true;
  }
  run.Status("Black Frame");
  PipelineBuffer turned;

  if (run.IsRun()) {
    const BYTE* frame = t > 1.0 && run.HasA() ? UprightFrame(m_blackFrame.data(), m_blackFrameWidth,
                                                             m_blackFrameHeight, m_orientation, run.widthA,
                                                             run.heightA, turned)
                                              : nullptr;
    if (frame) {
      run.CopyAToScratch();
      run.filter->SubtractFrame(run.imageA, run.widthA, run.heightA, run.scratchA.get(), frame);
    } else {
      run.Log("BF: Skipping");
      if (wanted)
        run.LogError(Format("black frame %d x %d does not match the picture's %d x %d", m_blackFrameWidth,
                            m_blackFrameHeight, run.widthA, run.heightA));
    }
    return true;
  }

  // Preview: subtract the part of the frame under the detail crop.
  const BYTE* frame = t > 1.0 ? UprightFrame(m_blackFrame.data(), m_blackFrameWidth, m_blackFrameHeight,
                                             m_orientation, m_workWidth, m_workHeight, turned)
                              : nullptr;
  if (frame) {
    run.CopyBToScratch();
    const RECT& r = m_cropRect;
    if (static_cast<long long>(r.right) - r.left == run.widthB &&
        static_cast<long long>(r.bottom) - r.top == run.heightB) {
      PipelineBuffer crop;
      crop.Allocate(PictureBytes(run.widthB, run.heightB));
      BYTE* out = crop.get();
      for (int y = 0; y < run.heightB; ++y) {
        const long long fy = static_cast<long long>(r.top) + y;
        for (int x = 0; x < run.widthB; ++x, out += 3) {
          const long long fx = static_cast<long long>(r.left) + x;
          if (fx < 0 || fy < 0 || fx >= m_workWidth || fy >= m_workHeight) {
            out[0] = out[1] = out[2] = 128;
          } else {
            const BYTE* src = frame + (static_cast<size_t>(fy) * static_cast<size_t>(m_workWidth) +
                                       static_cast<size_t>(fx)) * 3u;
            out[0] = src[0];
            out[1] = src[1];
            out[2] = src[2];
          }
        }
      }
      run.filter->SubtractFrame(run.imageB, run.widthB, run.heightB, run.scratchB.get(), crop.get());
    }
  }
  return true;
}

bool CMainDialog::StepHotPixels(PipelineRun& run) {
  const CStepSlider& slider =
      run.advanced ? m_pages.hotPixelsAdvanced.m_hotPixels : m_pages.hotPixelsBasic.m_hotPixels;
  if (slider.GetEnabled()) {
    run.Status("Hot Pixels");
    int exif = m_exifPresent;
    double t = m_exposureSeconds;
    if (t == 0.0) exif = 0;
    int strength, window;
    if (run.advanced) {
      strength = m_pages.hotPixelsAdvanced.GetHotPixelsAt(t, exif, m_model);
      window = m_pages.hotPixelsAdvanced.GetWindowAt(t, exif) + 2;
    } else {
      strength = m_pages.hotPixelsBasic.GetHotPixelsBasicAt(0.0, exif, m_model);
      window = 3;
    }
    if (exif == 0 && strength > 0) t = 1.0;  // without EXIF data: a one-second exposure
    if (run.IsRun()) {
      if (t >= 1.0 && strength > 0 && run.HasA()) {
        run.CopyAToScratch();
        run.filter->RemoveHotPixels(run.imageA, run.widthA, run.heightA, run.scratchA.get(), strength, window);
        run.Log(Format("HP:NT=%d,WI=%d", strength, window));
      }
    } else if (t >= 1.0 && run.HasB()) {
      run.CopyBToScratch();
      if (strength > 0)
        run.filter->RemoveHotPixels(run.imageB, run.widthB, run.heightB, run.scratchB.get(), strength, window);
    }
  }
  return run.After(50, false);
}

bool CMainDialog::StepDenoiser(PipelineRun& run) {
  CDenoiserPage& page =
      run.advanced ? static_cast<CDenoiserPage&>(m_pages.denoiserAdvanced) : m_pages.denoiserBasic;
  if (!page.m_denoise.GetEnabled()) return run.After(70, false);
  run.Status("De-Noiser");

  double alpha = 0.0, radius = 0.0;
  int level = 0;
  const bool deFocus = page.IsDeFocusMode() == 1;
  if (!run.advanced) {
    alpha = page.GetDenoiseAt(0.0, 0) / 255.0;
    level = std::min(page.GetDistanceAt(0.0, 0), 3);
    if (deFocus) radius = page.GetSoftFocusAt(0, 0) / 50.0;
  } else {
    int iso = m_iso, exifI = m_exifPresent;
    if (iso == 0) {
      iso = 100;
      exifI = 0;
    }
    if (iso > 400) iso = 400;
    double dist = m_subjectDistance;
    int exifD = m_exifPresent;
    if (dist == 0.0) {
      dist = 50.0;
      exifD = 0;
    }
    alpha = page.GetDenoiseAt(static_cast<double>(iso), exifI) / 255.0;
    level = std::min(page.GetDistanceAt(dist, exifD), 3);
    if (deFocus) {
      int flash = m_flash, exifF = m_exifPresent;
      if (flash == -1) flash = exifF = 0;
      radius = page.GetSoftFocusAt(flash, exifF) / 50.0;
    }
  }
  const int pink = page.m_pinkTones;

  if (deFocus) {
    if (run.IsRun()) {
      if (radius > 0.0 && run.HasA()) {
        run.filter->SmoothSkin(run.imageA, run.widthA, run.heightA, radius, pink);
        if (!run.After(60, false)) return false;
        run.Log(Format("DECS:Alpha=%g, Radius=%g", alpha, radius));
      }
    } else if (radius > 0.0 && run.HasB()) {
      run.filter->SmoothSkin(run.imageB, run.widthB, run.heightB, radius, pink);
    }
    return run.After(70, false);
  }

  if (run.IsRun()) {
    if (alpha > 0.0 && run.HasA()) {
      run.CopyAToScratch();
      const DWORD w = static_cast<DWORD>(run.widthA), h = static_cast<DWORD>(run.heightA);
      for (int pass = 0; pass < level; ++pass) {
        const BOOL ok = ISRemoveSpeckles(run.scratchA.get(), w, h, 3, w * 3, 7);
        if (!run.After(50 + 3 * level, false)) return false;
        if (!ok) break;
      }
      if (!run.After(60, false)) return false;
      run.filter->Blend(run.imageA, run.widthA, run.heightA, run.scratchA.get(), run.widthA, run.heightA, alpha, 0);
      run.Log(Format("DE:Alpha=%g, Level=%d", alpha, level));
    }
  } else if (alpha > 0.0 && run.HasB()) {
    run.CopyBToScratch();
    const DWORD w = static_cast<DWORD>(run.widthB), h = static_cast<DWORD>(run.heightB);
    for (int pass = 0; pass < level; ++pass)
      if (!ISRemoveSpeckles(run.scratchB.get(), w, h, 3, w * 3, 7)) break;
    run.filter->Blend(run.imageB, run.widthB, run.heightB, run.scratchB.get(), run.widthB, run.heightB, alpha, 0);
  }
  return run.After(70, false);
}
