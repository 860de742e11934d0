// Resolution records of the JPEG, TIFF and PNG readers brought to one convention; the readers
// use it to fill the pixels-per-metre fields of the packed-DIB headers they build.
#pragma once

#include "qrv/imaging.h"

// Conventions of a resolution record {x, y, unit}.
enum ISResolutionConvention : int {
  kResJFIF = 0,         // unit 0 none, 1 dots per inch, 2 dots per centimetre
  kResTIFF = 1,         // as JFIF
  kResPNG = 2,          // unit 0 none, 1 pixels per metre
  kResPerCentimetre = 3,  // unit 1: pixels per centimetre
  kResPerMetre = 4,     // unit 1: pixels per metre
};

// Rewrites `record` (three words: x, y, unit) from convention `from` into convention `to`.
// FALSE for a null record or an unknown `from` (record untouched), and for a target of 3 or 4
// when the values carry no unit (record zeroed). An unknown `to` leaves the record as read.
BOOL ConvertResolution(DWORD* record, int from, int to);

inline BOOL ConvertResolution(ISResolution* record, int from, int to) {
  static_assert(sizeof(ISResolution) == 3 * sizeof(DWORD), "a resolution record is three words");
  return ConvertResolution(reinterpret_cast<DWORD*>(record), from, to);
}
