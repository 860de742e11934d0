// Resolution conversion shared by the JPEG, TIFF and PNG readers: every convention goes
// through a pixels-per-metre pair with a flag telling whether the values carry a unit.
#include "imaging/formats/ConvertResolution.h"

BOOL ConvertResolution(DWORD* record, int from, int to) {
  if (!record || from < kResJFIF || from > kResPerMetre) return FALSE;
  DWORD x = 0, y = 0;
  bool hasUnit = false;
  const DWORD unit = record[2];
  switch (from) {
    case kResJFIF:
    case kResTIFF:
      if (unit == 0) {
        x = record[0];
        y = record[1];
      } else if (unit == 1) {
        // per inch: centimetres first, truncated, then metres
        x = static_cast<DWORD>(static_cast<int64_t>(record[0] * 0.39370079)) * 100u;
        y = static_cast<DWORD>(static_cast<int64_t>(record[1] * 0.39370079)) * 100u;
        hasUnit = true;
      } else if (unit == 2) {
        x = record[0] * 100u;
        y = record[1] * 100u;
        hasUnit = true;
      }
      break;
    case kResPNG:
      x = record[0];
      y = record[1];
      hasUnit = unit == 1;
      break;
    case kResPerCentimetre:
      if (unit == 1) {
        x = record[0] * 100u;
        y = record[1] * 100u;
        hasUnit = true;
      }
      break;
    case kResPerMetre:
      if (unit == 1) {
        x = record[0];
        y = record[1];
        hasUnit = true;
      }
      break;
  }
  switch (to) {
    case kResJFIF:
    case kResTIFF:
      if (hasUnit) {
        record[0] = static_cast<DWORD>(static_cast<int64_t>(x * 0.01 * 2.54));
        record[1] = static_cast<DWORD>(static_cast<int64_t>(y * 0.01 * 2.54));
        record[2] = 1;
      } else {
        record[0] = x;
        record[1] = y;
        record[2] = 0;
      }
      return TRUE;
    case kResPNG:
      record[0] = x;
      record[1] = y;
      record[2] = hasUnit ? 1 : 0;
      return TRUE;
    case kResPerCentimetre:
    case kResPerMetre:
      if (!hasUnit) {
        record[0] = record[1] = record[2] = 0;
        return FALSE;
      }
      record[0] = to == kResPerCentimetre ? x / 100u : x;
      record[1] = to == kResPerCentimetre ? y / 100u : y;
      record[2] = 1;
      return TRUE;
    default:
      return TRUE;
  }
}
