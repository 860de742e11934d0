// Stepped settings slider: range clamp, flash positions, no-EXIF step and linear interpolation.
#include "engine/shell/CStepSlider.h"

#include <cmath>

CStepSlider::CStepSlider(double rangeMin, double rangeMax, bool twoState, std::vector<SliderStep> steps,
                         int noExifStep, int enabled)
    : m_enabled(enabled), m_rangeMin(rangeMin), m_rangeMax(rangeMax), m_twoState(twoState), m_noExifStep(0) {
  if (m_twoState) {
    m_rangeMin = 0.0;
    m_rangeMax = 1.0;
  }
  if (!SetSteps(steps)) m_steps = {{m_rangeMin, 128}};
  SetNoExifStep(noExifStep);
}

bool CStepSlider::SetSteps(const std::vector<SliderStep>& steps) {
  if (steps.empty()) return false;
  for (size_t i = 0; i < steps.size(); ++i) {
    if (!std::isfinite(steps[i].position)) return false;
    if (steps[i].value < 0 || steps[i].value > 255) return false;
    if (i > 0 && !(steps[i].position > steps[i - 1].position)) return false;
  }
  m_steps = steps;
  SetNoExifStep(m_noExifStep);
  return true;
}

void CStepSlider::SetNoExifStep(int index) {
  const int last = static_cast<int>(m_steps.size()) - 1;
  m_noExifStep = index < 0 ? 0 : (index > last ? (last < 0 ? 0 : last) : index);
}

int CStepSlider::ValueAt(double position, int exifKnown) {
  double p = position;
  if (std::isnan(p)) p = m_rangeMin;
  if (m_twoState) p = std::trunc(p);
  if (p < m_rangeMin) p = m_rangeMin;
  if (p > m_rangeMax) p = m_rangeMax;
  m_indicator = p;
  m_fromExif = exifKnown != 0 ? 1 : 0;
  ++m_lookups;

  if (m_steps.empty()) return 0;
  if (!exifKnown) return m_steps[static_cast<size_t>(m_noExifStep)].value;

  if (p <= m_steps.front().position) return m_steps.front().value;
  if (p >= m_steps.back().position) return m_steps.back().value;
  size_t i = 1;
  while (i < m_steps.size() && m_steps[i].position <= p) ++i;
  const SliderStep& a = m_steps[i - 1];
  const SliderStep& b = m_steps[i];
  double v = a.value + (b.value - a.value) * (p - a.position) / (b.position - a.position);
  if (!std::isfinite(v)) {
    // Steps so far apart that their distance (or the product) overflows a double: the share of
    // the way from a to b, each position halved first (exact), stays within 0..1.
    const double share = (p * 0.5 - a.position * 0.5) / (b.position * 0.5 - a.position * 0.5);
    v = a.value + (b.value - a.value) * share;
  }
  if (!(v > 0.0)) return 0;  // NaN included
  return v >= 255.0 ? 255 : static_cast<int>(v);
}
