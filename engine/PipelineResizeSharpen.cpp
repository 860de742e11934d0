// Resize (runs only) and sharpen steps of the pipeline.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/CResampler.h"
#include "engine/PipelineFrame.h"
#include "qrv/imaging.h"

// The resize target for a picture of width x height; {0, 0} when nothing is to be done.
// type 1: percent (held to 1..1000 when negative or too large; 0 means no resize);
// type 2: fit into the box, never enlarged; the limiting side becomes the box's side exactly.
void ResizeTarget(int type, int percent, int boxWidth, int boxHeight, int width, int height, int* outW, int* outH) {
  long long W = 0, H = 0;
  if (width >= 1 && height >= 1) {
    if (type == 1) {
      long long p = percent;
      if (p < 0) p = 1;
      if (p > 1000) p = 1000;
      const double f = p / 100.0;
      if (f > 0.0) {
        W = static_cast<long long>(width * f);
        H = static_cast<long long>(height * f);
      }
    } else if (type == 2) {
      const long long w0 = std::max(boxWidth, 1), h0 = std::max(boxHeight, 1);
      if (w0 >= width && h0 >= height) {
        W = width;
        H = height;
      } else {
        const double rx = static_cast<double>(width) / static_cast<double>(w0);
        const double ry = static_cast<double>(height) / static_cast<double>(h0);
        if (rx >= ry) {
          W = w0;
          H = static_cast<long long>(height) * w0 / width;
        } else {
          H = h0;
          W = static_cast<long long>(width) * h0 / height;
        }
      }
    }
  }
  if (W < 1 || H < 1 || W > 0x7FFFFFFF || H > 0x7FFFFFFF) W = H = 0;
  *outW = static_cast<int>(W);
  *outH = static_cast<int>(H);
}

bool CMainDialog::StepResize(PipelineRun& run) {
  const CSizeQualityPage& page = m_pages.sizeQuality;
  if (run.IsRun() && page.m_sizeType > 0) {
    run.Status("Resize");
    int W = 0, H = 0;
    ResizeTarget(page.m_sizeType, page.m_percent, page.m_width, page.m_height, run.widthA, run.heightA, &W, &H);
    // A box or percentage that leaves less than a pixel on a side is refused aloud (0 % is
    // no resize at all).
    const bool asked = page.m_sizeType == 2 || (page.m_sizeType == 1 && page.m_percent != 0);
    if (run.HasA() && W == 0 && asked) {
      const std::string request = page.m_sizeType == 1
                                      ? Format("%d %%", page.m_percent)
                                      : Format("a %d x %d box", std::max(page.m_width, 1), std::max(page.m_height, 1));
      run.LogError(Format("Resize refused: %s leaves less than one pixel on a side of the %d x %d picture; the "
                          "picture keeps its size",
                          request.c_str(), run.widthA, run.heightA));
    }
    if (run.HasA() && W > 0 && (W != run.widthA || H != run.heightA)) {
      std::vector<BYTE> destination(PictureBytes(W, H));
      bool ok;
      if (page.m_filter == 0) {
        CResampler resampler;
        ok = resampler.Scale(run.imageA, run.widthA, run.heightA, destination.data(), W, H) != nullptr;
      } else {
        ok = ISResampleImage(run.imageA, static_cast<DWORD>(run.widthA), static_cast<DWORD>(run.heightA),
                             static_cast<DWORD>(run.widthA) * 3, destination.data(), static_cast<DWORD>(W),
                             static_cast<DWORD>(H), static_cast<DWORD>(W) * 3, 3, 8) != 0;
      }
      if (!ok) {
        run.LogError(Format("Resize to %d x %d failed; the picture keeps its size", W, H));
      } else {
        run.widthA = W;
        run.heightA = H;
        run.scratchA.Reset();
        run.scratchA.Allocate(PictureBytes(W, H));
        m_workImage.swap(destination);
        m_workWidth = W;
        m_workHeight = H;
        run.imageA = m_workImage.data();
        run.Log(Format("Size: %d perc = (%d x %d)", page.m_percent, W, H));
      }
    }
  }
  return run.After(80, false);
}

bool CMainDialog::StepSharpen(PipelineRun& run) {
  CSharpenPage& page = run.advanced ? static_cast<CSharpenPage&>(m_pages.sharpenAdvanced) : m_pages.sharpenBasic;
  if (page.m_sharpen.GetEnabled()) {
    run.Status("Sharpen");
    int exif = 0, amount;
    if (!run.advanced) {
      amount = static_cast<int>(page.GetSharpenAt(0.0, 0) / 2.55);
    } else {
      exif = m_exifPresent;
      const double t = m_exposureSeconds;
      if (t == 0.0) exif = 0;
      const double position = t < 1.0 ? 0.0 : t;
      amount = static_cast<int>(page.GetSharpenAt(position, exif) / 2.55);
    }
    amount = std::min(amount, 100);

    BYTE* image = run.IsRun() ? run.imageA : run.imageB;
    BYTE* scratch = run.IsRun() ? run.scratchA.get() : run.scratchB.get();
    const int w = run.IsRun() ? run.widthA : run.widthB;
    const int h = run.IsRun() ? run.heightA : run.heightB;
    if (amount > 0 && image && scratch) {
      std::memcpy(scratch, image, PictureBytes(w, h));
      const DWORD rowBytes = static_cast<DWORD>(w) * 3;
      if (!run.advanced || m_pages.sharpenAdvanced.m_type == 0) {
        ISSharpenImage(scratch, static_cast<DWORD>(w), static_cast<DWORD>(h), 3, rowBytes, image, rowBytes, amount / 2,
                       7);
        run.Log(Format("SH: NT=%d", amount));
      } else {
        const double f = m_fNumber == 0.0 ? 2.0 : m_fNumber;
        const double y = std::min(std::max(ApproxLog2(f), 1.0), 3.0);
        const double sigma = m_pages.sharpenAdvanced.GetRadiusAt(y, exif) / 51.0 + 0.6;
        ISUnsharpMask(scratch, static_cast<DWORD>(w), static_cast<DWORD>(h), 3, rowBytes, image, rowBytes, 0,
                      amount / 100.0, sigma, 7);
        run.Log(Format("SH: Thresh=%d, Amount=%g, Sigma=%g", 0, amount / 100.0, sigma));
      }
    }
  }
  return run.After(90, true);
}
