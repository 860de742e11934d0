// Loading one queue file into the working picture: measuring the file, decoding it as a
// CRGBImage, taking over its comment and EXIF block, tidying the camera names, filling the
// information fields and turning the pixels upright.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine/CRGBImage.h"
#include "engine/HtmlLog.h"
#include "engine/shell/CMainDialog.h"

namespace {

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string FormatInt(const char* format, long long value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A double's integer part as a printable int (truncated toward zero, clamped to the int range).
long long IntegerPart(double v) {
  if (!(v > -2147483648.0)) return -2147483647LL - 1;
  if (!(v < 2147483647.0)) return 2147483647LL;
  return static_cast<long long>(v);
}

}  // namespace

void CMainDialog::SetExifInformation(double exposureTime, double shutterTime, int longSide) {
  if (m_make == "EASTMAN KODAK COMPANY")
    m_make.clear();
  else if (m_make == "NIKON CORPORATION")
    m_make.clear();
  else if (m_make == "OLYMPUS OPTICAL CO.,LTD")
    m_make = "OLYMPUS";
  else if (m_make == "Minolta Co., Ltd.")
    m_make = "Minolta";
  if (m_make == "Minolta") m_colorSpace = 0;
  if (m_model.find(m_make) == std::string::npos) m_model = m_make + " " + m_model;
  if (Lower(m_model).find("cybershot") != std::string::npos) {
    switch (longSide) {
      case 1856:
      case 2240: m_model = "Sony DSC-F505v/F55v"; break;
      case 2272: m_model = "Sony DSC-S85/P9"; break;
      case 2560: m_model = "Sony DSC-F707"; break;
      case 1920: m_model = "Sony DSC-P3"; break;
      default: break;
    }
  }
  m_labelModel = {true, m_model};

  double t = 0.0;
  if (exposureTime > 0.0) {
    t = exposureTime;
    m_exposureSeconds = t;
  } else if (shutterTime > 0.0) {
    t = shutterTime;
  }
  std::string shutter;
  m_shutterText.clear();
  if (t > 0.0) {
    if (t <= 1.0) {
      m_shutterText = FormatInt("1/%lld", IntegerPart(1.0 / t));
      shutter = "Shutter: " + m_shutterText;
    } else {
      m_shutterText = FormatInt("%lld \"", IntegerPart(t));
      shutter = "Shutter: " + m_shutterText;
    }
  }
  const std::string fnumber = m_fNumber > 0.0 ? Format("F: %.1lf", m_fNumber) : std::string();
  m_fNumberText = m_fNumber > 0.0 ? Format("%.1lf", m_fNumber) : std::string();
  const std::string flash = m_flash == -1 ? std::string() : (m_flash == 0 ? "No Flash" : "Flash Used");
  const std::string iso = m_iso > 0 ? FormatInt("ISO: %lld ", m_iso) : std::string();
  m_isoText = m_iso > 0 ? FormatInt("%lld ", m_iso) : std::string();
  // A distance of 0 is unknown and shown as nothing.
  const std::string focus = m_subjectDistance >= kSubjectAtInfinity ? std::string("Focus: infinity")
                            : m_subjectDistance > 0.0 ? Format("Focus: %.1lf m", m_subjectDistance)
                                                      : std::string();
  m_labelShutter = {true, shutter};
  m_labelFNumber = {true, fnumber};
  m_labelFlash = {true, flash};
  m_labelIso = {true, iso};
  m_labelFocus = {true, focus};
  // An HTML fragment: the texts from the file are escaped; a line with no value is left out.
  m_infoHtml = "<b>" + HtmlEscape(m_model) + "</b>";
  if (!(shutter.empty() && fnumber.empty() && flash.empty() && iso.empty() && focus.empty()))
    m_infoHtml += "<br>" + shutter + " | " + fnumber + " | " + flash + " | " + iso + " | " + focus;
}

int CMainDialog::LoadSourceImage(const std::string& path) {
  struct stat status {};
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    if (fstat(fileno(file), &status) == 0) {
      m_srcFileSize = static_cast<int64_t>(status.st_size);
      m_srcFileTime = status.st_mtime;
    } else {
      m_srcFileTime = 0;
    }
    std::fclose(file);
  }

  CRGBImage picture;
  m_lastLoadError = picture.Load(path);
  m_loadWarning.clear();
  if (m_lastLoadError != 0) {
    m_loadWarning = picture.LoadWarning();  // why it was refused, when the library said
    return 0;
  }
  // An empty picture (no reader for the format, or only a camera file's preview) is a failed
  // load too.
  const int width = picture.GetWidth(), height = picture.GetHeight();
  if (width <= 0 || height <= 0) {
    m_loadWarning = picture.LoadWarning();
    return 0;
  }
  // The working picture keeps its storage from entry to entry: a picture no larger than the
  // last one takes no fresh memory (ApplyOrientation below writes every byte). A larger one gets
  // new storage, and the old picture stays as it was when that cannot be had.
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3u;
  if (bytes <= m_workImage.capacity()) {
    m_workImage.resize(bytes);
  } else {
    std::vector<BYTE> work;
    try {
      work.resize(bytes);
    } catch (const std::bad_alloc&) {
      m_lastLoadError = IS_ERR_NOMEM;
      return 0;
    }
    m_workImage.swap(work);
  }

  m_loadWarning = picture.LoadWarning();
  m_jpegComment = picture.JpegComment();
  m_exifBlock = picture.ExifBlock();
  m_sourceMetadata = picture.Metadata();
  if (!m_exifBlock.empty()) {
    picture.ReadExif(m_exifBlock.data(), static_cast<DWORD>(m_exifBlock.size()));
    const CExifSummary& exif = picture.m_exif;
    m_exifPresent = 1;
    m_make = exif.make;
    m_model = exif.model;
    m_date = exif.date;
    m_exposureBias = exif.exposureBias;
    m_exposureBiasText = exif.exposureBiasText;
    m_exposureSeconds = exif.exposureTime > 0.0 ? exif.exposureTime : exif.shutterTime;
    m_fNumber = exif.fNumber;
    m_aperture = exif.aperture;
    m_subjectDistance = exif.subjectDistance;
    m_programText = exif.exposureProgram;
    m_meteringText = exif.meteringMode;
    m_userComment = exif.userComment;
    m_userCommentNote = exif.userCommentNote;
    m_lightSource = exif.lightSource;
    m_flash = exif.flash;
    m_iso = exif.iso;
    m_colorSpace = exif.colorSpace;
    m_orientation = exif.orientation;
    SetExifInformation(exif.exposureTime, exif.shutterTime, std::max(width, height));
  } else {
    m_exifPresent = 0;
    // The hidden labels lose their texts too: the stamp reads the flash line.
    for (CInfoLabel* label : {&m_labelModel, &m_labelFNumber, &m_labelFlash, &m_labelIso, &m_labelFocus})
      *label = {false, std::string()};
    m_labelShutter = {true, "No EXIF info"};
    m_make.clear();
    m_model.clear();
    m_date.clear();
    m_exposureBiasText.clear();
    m_shutterText.clear();
    m_fNumberText.clear();
    m_programText.clear();
    m_meteringText.clear();
    m_isoText.clear();
    m_userComment.clear();
    m_userCommentNote.clear();
    m_exposureBias = m_exposureSeconds = m_fNumber = m_aperture = m_subjectDistance = 0.0;
    m_iso = 0;
    m_flash = -1;
    m_lightSource = -1;
    m_colorSpace = 0;
    m_orientation = 1;
    m_infoHtml = "<b>No EXIF Data</b>";
  }

  const BYTE* pixels = picture.LockPixels();
  ApplyOrientation(pixels, width, height);
  picture.UnlockPixels();
  m_loadedArea = uint64_t(std::max(width, 0)) * uint64_t(std::max(height, 0));
  m_sourceWidth = m_workWidth;
  m_sourceHeight = m_workHeight;

  m_labelSize = {true, FormatInt("%lld x ", m_workWidth) + FormatInt("%lld", m_workHeight)};
  const size_t slash = path.rfind('/');
  m_fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = m_fileName.rfind('.');
  m_fileTitle = dot == std::string::npos ? m_fileName : m_fileName.substr(0, dot);
  m_widthText = FormatInt("%lld", m_workWidth);
  m_heightText = FormatInt("%lld", m_workHeight);
  return 1;
}

void TurnUpright(const BYTE* source, int width, int height, int orientation, BYTE* dest) {
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  if (!source || !dest || width < 1 || height < 1) return;
  BYTE* d = dest;
  const size_t stride = w * 3;
  const int o = orientation;
  if (o >= 5 && o <= 8) {
    // The columns of the source become the rows of the upright picture.
    for (size_t c = 0; c < w; ++c) {
      const size_t column = (o == 5 || o == 6) ? c : w - 1 - c;
      const bool downwards = (o == 5 || o == 8);
      const BYTE* s = source + column * 3 + (downwards ? 0 : (h - 1) * stride);
      const ptrdiff_t step = downwards ? static_cast<ptrdiff_t>(stride) : -static_cast<ptrdiff_t>(stride);
      for (size_t r = 0; r < h; ++r, d += 3, s += step) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
      }
    }
    return;
  }
  for (size_t r = 0; r < h; ++r, d += stride) {
    const size_t row = (o == 3 || o == 4) ? h - 1 - r : r;
    const BYTE* s = source + row * stride;
    if (o == 2 || o == 3) {
      const BYTE* p = s + stride - 3;
      for (size_t x = 0; x < w; ++x, p -= 3) {
        d[x * 3] = p[0];
        d[x * 3 + 1] = p[1];
        d[x * 3 + 2] = p[2];
      }
    } else {
      std::memcpy(d, s, stride);
    }
  }
}

void CMainDialog::ApplyOrientation(const BYTE* source, int width, int height) {
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  if (!source || width < 1 || height <= 0 || m_workImage.size() < w * h * 3) return;
  TurnUpright(source, width, height, m_orientation, m_workImage.data());
  const bool swapped = m_orientation >= 5 && m_orientation <= 8;
  m_workWidth = swapped ? height : width;
  m_workHeight = swapped ? width : height;
}
