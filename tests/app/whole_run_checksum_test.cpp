// Whole runs of the qrv command over a few generated pictures under three profiles, with one
// thread and with several: the decoded pixels of every output and the log (time stamps and the
// run's folder taken out) must match the table recorded from an earlier build, so that no speed
// work changes a pixel or a log line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/CRGBImage.h"
#include "support/exif_block.h"
#include "support/test_support.h"

namespace {

using qrvtest::ExifEntry;

uint64_t Fnv1a(const uint8_t* p, size_t n, uint64_t h = 1469598103934665603ull) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

std::string Hex(uint64_t v) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

// A camera-like picture: smooth colour fields, fine detail (a fence of thin lines and a
// checker patch) and seeded noise.
std::vector<BYTE> CameraPixels(int w, int h, uint32_t seed, int noise) {
  std::mt19937 rng(seed);  // its raw draws are fixed by the standard, unlike the distributions'
  std::vector<BYTE> px(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      BYTE* p = &px[(static_cast<size_t>(y) * w + x) * 3];
      int v[3] = {40 + 150 * x / w, 60 + 120 * y / h, 200 - 140 * (x + y) / (w + h)};
      if (x % 9 == 0 && y < h / 2) v[0] = v[1] = v[2] = 230;         // thin light lines
      if (x > w / 2 && y > h / 2 && ((x / 3 + y / 3) & 1)) v[2] = 20;  // a fine checker
      for (int c = 0; c < 3; ++c) {
        const int s = v[c] + (noise ? static_cast<int>(rng() % uint32_t(2 * noise + 1)) - noise : 0);
        p[c] = static_cast<BYTE>(s < 0 ? 0 : s > 255 ? 255 : s);
      }
    }
  return px;
}

// The EXIF block of a camera: make, model, exposure, F-number, ISO, flash and distance.
std::vector<uint8_t> CameraExif(uint64_t expNum, uint64_t expDen, uint64_t fTenths, uint64_t iso, uint64_t flash) {
  qrvtest::ExifBlock b;
  b.ifds = {{qrvtest::Ascii(0x010F, "Demo"), qrvtest::Ascii(0x0110, "Demo DC-100"), qrvtest::Link(34665, 1)},
            {qrvtest::Rational(0x829A, {expNum, expDen}), qrvtest::Rational(0x829D, {fTenths, 10}),
             qrvtest::Short(0x8827, {iso}), qrvtest::Ascii(0x9003, "2004:05:06 07:08:09"),
             qrvtest::Rational(0x9206, {35, 10}), qrvtest::Short(0x9209, {flash})}};
  return b.Build();
}

void WritePicture(const std::string& path, const std::vector<BYTE>& px, int w, int h,
                  const std::vector<uint8_t>& exif = {}) {
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), w, h), 0);
  ASSERT_EQ(img.Save(path, FormatFromExtension(path)), 0);
  if (exif.empty()) return;
  std::vector<uint8_t> file = qrvtest::ReadFileBytes(path);
  ASSERT_GE(file.size(), 2u);
  file.insert(file.begin() + 2, exif.begin(), exif.end());  // right after SOI
  ASSERT_TRUE(qrvtest::WriteFileBytes(path, file));
}

bool Digits(const std::string& s, size_t at, size_t n) {
  if (at + n > s.size()) return false;
  for (size_t i = at; i < at + n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// The log without what changes from run to run: the clock ("12::34::56 "), the date of the run
// ("Monday, December 07, 2026") and the output files' byte counts (" (12345)" after a "_QRV"
// name: the carried EXIF block is not part of what this table guards).
std::string Comparable(const std::string& log) {
  std::string out;
  for (size_t i = 0; i < log.size();) {
    if (Digits(log, i, 2) && log.compare(i + 2, 2, "::") == 0 && Digits(log, i + 4, 2) &&
        log.compare(i + 6, 2, "::") == 0 && Digits(log, i + 8, 2) && log.compare(i + 10, 1, " ") == 0) {
      i += 11;
      continue;
    }
    bool date = false;
    for (const char* day : {"Monday, ", "Tuesday, ", "Wednesday, ", "Thursday, ", "Friday, ", "Saturday, ",
                            "Sunday, "}) {
      if (log.compare(i, std::strlen(day), day) != 0) continue;
      const size_t comma = log.find(", ", i + std::strlen(day));
      if (comma != std::string::npos && Digits(log, comma + 2, 4)) {
        out += "DATE";
        i = comma + 6;
        date = true;
      }
      break;
    }
    if (date) continue;
    if (log.compare(i, 2, " (") == 0 && out.rfind("_QRV") != std::string::npos &&
        out.find('\n', out.rfind("_QRV")) == std::string::npos) {
      size_t j = i + 2;
      while (Digits(log, j, 1)) ++j;
      if (j > i + 2 && log.compare(j, 1, ")") == 0) {
        i = j + 1;
        continue;
      }
    }
    out += log[i++];
  }
  return out;
}

struct Profile {
  const char* name;
  const char* sets;
};

// The shipped default; an advanced chain with every cleaning step, the program's resampler and
// the unsharp mask; the library's resampler with the 3x3 sharpen, skin smoothing and a filter.
const Profile kProfiles[] = {
    {"default", ""},
    {"advanced",
     "--set 'Hot Pixels.Steps=0:200' --set 'Window.Steps=0:3' --set Denoisser.Steps=0:140 "
     "--set 'Subject Distance (m).Steps=0:3' --set Size.Type=1 --set Size.Percent=61 --set Size.Filter=0 "
     "--set Sharpen.Type=1 --set Radius.Steps=1:90 --set Text.Enabled=0 --set sRGB.Test=1"},
    {"library",
     "--set Size.Type=2 --set Size.Width=500 --set Size.Height=300 --set Size.Filter=1 --set Sharpen.Type=0 "
     "--set CleanSkin.DeFocus=1 --set FilterSim.Enabled=1 --set 'FilterSim.Name=#21 Filter' "
     "--set Output.FileType=2"},
};

// What one run gives: per output file (sorted) its size and pixel digest, and the log's digest.
std::string RunDigest(const Profile& profile, const std::string& threads) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in");
  mkdir(in.c_str(), 0777);
  // Flash fired, 2 s at F2.8, ISO 400: hot pixels, a long-exposure sharpen, the de-noiser.
  WritePicture(in + "/a_flash.jpg", CameraPixels(613, 409, 1, 24), 613, 409, CameraExif(2, 1, 28, 400, 1));
  // Daylight, 1/125 s at F8, ISO 200.
  WritePicture(in + "/b_day.jpg", CameraPixels(1001, 667, 2, 12), 1001, 667, CameraExif(1, 125, 80, 200, 0));
  // No EXIF data, odd sizes, a PNG.
  WritePicture(in + "/c_plain.png", CameraPixels(355, 523, 3, 8), 355, 523);
  WritePicture(in + "/d_small.jpg", CameraPixels(17, 11, 4, 30), 17, 11, CameraExif(1, 30, 40, 100, 0));
  const std::string home = dir.File("home");
  mkdir(home.c_str(), 0777);
  EXPECT_TRUE(qrvtest::WriteFileBytes(home + "/default.qrv",
                                      qrvtest::ReadFileBytes(std::string(QRV_SOURCE_DIR) + "/app/default.qrv")));
  int status = -1;
  qrvtest::RunCommand("QRV_THREADS=" + threads + " " + QRV_COMMAND + " -q --yes --home " + home + " " +
                          profile.sets + " " + in + " >/dev/null 2>&1",
                      &status);
  std::string digest = "exit " + std::to_string(status);
  const std::string listing = qrvtest::RunCommand("ls " + in + "/QRV 2>/dev/null");
  size_t pos = 0;
  for (size_t nl; (nl = listing.find('\n', pos)) != std::string::npos; pos = nl + 1) {
    const std::string name = listing.substr(pos, nl - pos);
    if (name.find("_QRV") == std::string::npos) continue;  // the folder's marker file
    CRGBImage out;
    const int err = out.Load(in + "/QRV/" + name);
    const BYTE* px = out.LockPixels();
    const uint64_t h = err || !px ? 0 : Fnv1a(px, static_cast<size_t>(out.GetWidth()) * out.GetHeight() * 3);
    out.UnlockPixels();
    digest += " | " + name + " " + std::to_string(out.GetWidth()) + "x" + std::to_string(out.GetHeight()) + " " +
              Hex(h);
  }
  const std::vector<uint8_t> bytes = qrvtest::ReadFileBytes(home + "/help/log.html");
  std::string log(bytes.begin(), bytes.end());
  log = Comparable(log);
  for (size_t at; (at = log.find(dir.path())) != std::string::npos;) log.replace(at, dir.path().size(), "$RUN");
  digest += " | log " + Hex(Fnv1a(reinterpret_cast<const uint8_t*>(log.data()), log.size()));
  return digest;
}

// Recorded before the heavy operations were shared out over threads.
const char* const kExpected[] = {
    "exit 0 | a_flash_QRV.jpg 613x409 7fa33224d1da7d13 | b_day_QRV.jpg 1001x667 81fe46562bb999fe"
    " | c_plain_QRV.png 355x523 45445072af2f5e69 | d_small_QRV.jpg 17x11 3522ff92b9f3a3ed | log 10bdb20e1b7f6c43",
    "exit 0 | a_flash_QRV.jpg 373x249 545b107e7b0fffe4 | b_day_QRV.jpg 610x406 f5c9c2b22794645b"
    " | c_plain_QRV.png 216x319 6e33aa89c989c68d | d_small_QRV.jpg 10x6 764a289cb603222d | log 62e6f248a2de254a",
    "exit 0 | a_flash_QRV.png 449x300 8f3a59b4fb9803eb | b_day_QRV.png 450x300 7f220353d7b263a9"
    " | c_plain_QRV.png 203x300 2ba48bb9e934a96b | d_small_QRV.png 17x11 14c3e8f2cd7c685b | log fec123e8e41c5f46",
};

TEST(WholeRunChecksums, OutputsAndLogMatchTheRecordedTable) {
  for (size_t i = 0; i < std::size(kProfiles); ++i) {
    for (const char* threads : {"1", "4"}) {
      SCOPED_TRACE(std::string(kProfiles[i].name) + " threads " + threads);
      EXPECT_EQ(RunDigest(kProfiles[i], threads), kExpected[i]);
    }
  }
}

}  // namespace
