// A stepped settings slider: a curve of (position, value) steps, an on/off switch and the step
// used for pictures without EXIF data. The look-ups move the slider's indicator and return the
// value at a position.
#pragma once

#include <string>
#include <vector>

struct SliderStep {
  double position;
  int value;  // 0..255
};

class CStepSlider {
 public:
  // rangeMin..rangeMax is the control's range; a two-state slider (flash fired or not) holds
  // its positions to 0 or 1.
  CStepSlider(double rangeMin, double rangeMax, bool twoState, std::vector<SliderStep> steps,
              int noExifStep, int enabled = 1);

  int GetEnabled() const { return m_enabled; }

  // Moves the indicator to `position` (clamped to the range), records whether the position comes
  // from EXIF data and returns the value there: interpolated linearly between the neighbouring
  // steps (truncated) when exifKnown is non-zero, else the value of the no-EXIF step.
  int ValueAt(double position, int exifKnown);

  // Replaces the curve. Positions must ascend and values lie in 0..255; returns false (and keeps
  // the old curve) otherwise.
  bool SetSteps(const std::vector<SliderStep>& steps);
  const std::vector<SliderStep>& Steps() const { return m_steps; }
  // The no-EXIF step index, held to the curve's steps.
  void SetNoExifStep(int index);
  int NoExifStep() const { return m_noExifStep; }

  double RangeMin() const { return m_rangeMin; }
  double RangeMax() const { return m_rangeMax; }
  bool IsTwoState() const { return m_twoState; }

  int m_enabled;
  // Recorded state of the control after the last look-up.
  double m_indicator = 0.0;
  int m_fromExif = 0;
  int m_lookups = 0;

 private:
  double m_rangeMin;
  double m_rangeMax;
  bool m_twoState;
  std::vector<SliderStep> m_steps;
  int m_noExifStep;
};
