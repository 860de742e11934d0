// A stepped slider in a profile: "Enabled", "Steps=p:v,p:v,..." and "NoExif=<index>", with the
// prefix "Sim" for the simple page's slider of the same section.
#pragma once

#include <string>
#include <vector>

#include "app/CIniFile.h"
#include "engine/shell/CStepSlider.h"

// "p:v,p:v,..." to steps; false when malformed (positions must ascend, values lie in 0..255,
// at most 256 steps).
bool ParseSliderSteps(const std::string& text, std::vector<SliderStep>* steps);
std::string FormatSliderSteps(const std::vector<SliderStep>& steps);

// Reads the slider's keys; missing or malformed keys keep the slider's current values.
void ReadSlider(const CIniFile& ini, const std::string& section, const std::string& prefix, CStepSlider& slider);
void WriteSlider(CIniFile& ini, const std::string& section, const std::string& prefix, const CStepSlider& slider);
