#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <set>

#include "engine/CRGBImage.h"
#include "engine/OutputWriter.h"
#include "engine/shell/CMainDialog.h"
#include "output_test_dialog.h"
#include "picture_helpers.h"
#include "support/exif_block.h"
#include "support/jpeg_encode.h"
#include "support/memory_read.h"
#include "support/test_support.h"

namespace {

using enginetest::ReadText;

// A main dialog with a small working picture and its log in the temporary folder.
struct Writer : enginetest::OutputDialog {
  explicit Writer(const qrvtest::TempDir& dir) : OutputDialog(dir, 5, 4) {}
};

void Touch(const std::string& path, const std::string& bytes = "x") {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST(OutputWriter, FolderChoicesNamesAndMarker) {
  qrvtest::TempDir dir;
  const std::string a = dir.path() + "/a", b = a + "/b";
  mkdir(a.c_str(), 0777);
  mkdir(b.c_str(), 0777);
  const std::string src = b + "/IMG_1.JPEG";
  Touch(src);
  Writer w(dir);
  COutputPage& out = w.dlg.m_pages.output;

  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));  // choice 0: the QRV subfolder
  EXPECT_TRUE(FileExists(b + "/QRV/IMG_1_QRV.png"));
  EXPECT_EQ(ReadText(b + "/QRV/qrvoutput.dir"), "*");

  out.m_type = 1;
  out.m_simDir = dir.path() + "/out";
  out.m_mirror = 1;
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_TRUE(FileExists(dir.path() + "/out/b/IMG_1_QRV.png"));
  EXPECT_EQ(ReadText(dir.path() + "/out/b/qrvoutput.dir"), "*");
  out.m_mirror = 0;
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_TRUE(FileExists(dir.path() + "/out/IMG_1_QRV.png"));
  out.m_simDir.clear();  // an empty folder text: as choice 0, and a second write there is numbered
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_TRUE(FileExists(b + "/QRV/IMG_11_QRV.png"));
  EXPECT_EQ(ReadText(b + "/QRV/qrvoutput.dir"), "**");

  out.m_type = 2;  // the source folder, which gets the marker as well
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_TRUE(FileExists(b + "/IMG_1_QRV.png"));
  EXPECT_EQ(ReadText(b + "/qrvoutput.dir"), "*");
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_TRUE(FileExists(b + "/IMG_11_QRV.png"));
  EXPECT_TRUE(FileExists(b + "/IMG_12_QRV.png"));
  EXPECT_NE(w.Log().find("File already exist (No Replace): " + b + "/IMG_1_QRV.png</font><br>\r\n=>"),
            std::string::npos);

  out.m_replace = 1;  // replace: the same name again, no new number
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_FALSE(FileExists(b + "/IMG_13_QRV.png"));

  // Keep-format PNG source: its own extension as written; a source without a folder part is in
  // the current folder.
  out.m_fileType = 0;
  Touch(b + "/photo.PNG");
  ASSERT_TRUE(w.dlg.WriteOutputImage(b + "/photo.PNG", nullptr));
  CRGBImage back;
  ASSERT_EQ(back.Load(b + "/photo_QRV.PNG"), 0);
  EXPECT_EQ(back.GetSize(), std::make_pair(5, 4));
  EXPECT_EQ(w.Log().find("(0)"), std::string::npos);
  // Keep-format BMP through the same path; TGA through the picture object.
  Touch(b + "/pic.tga");
  ASSERT_TRUE(w.dlg.WriteOutputImage(b + "/pic.tga", nullptr));
  EXPECT_TRUE(FileExists(b + "/pic_QRV.tga"));
  // No temporary file is left behind anywhere.
  for (const std::string& folder : {b, b + "/QRV", dir.path() + "/out"}) {
    const std::string listing = qrvtest::RunCommand("ls -a " + folder);
    EXPECT_EQ(listing.find(".qrv-"), std::string::npos) << listing;
  }
}

TEST(OutputWriter, NeverOverwritesTheSource) {
  qrvtest::TempDir dir;
  const std::string src = dir.path() + "/x_QRV.png";
  Touch(src, "original");
  Writer w(dir);
  w.dlg.m_pages.output.m_type = 2;
  w.dlg.m_pages.output.m_fileType = 0;
  w.dlg.m_pages.output.m_replace = 1;
  // The source "x_QRV.png" gives "x_QRV_QRV.png"; a link of that name to the source is caught by
  // device and inode, and the output moves to a numbered name.
  ASSERT_EQ(link(src.c_str(), (dir.path() + "/x_QRV_QRV.png").c_str()), 0);
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_EQ(ReadText(src), "original");
  EXPECT_TRUE(FileExists(dir.path() + "/x_QRV1_QRV.png"));
  EXPECT_NE(w.Log().find("Output file path is same as source (NEVER ALLOWED)"), std::string::npos);
}

TEST(OutputWriter, ReplaceKeepsEveryQueuedSource) {
  // Beside the sources with Replace on, a.png's output name is the queued source a_QRV.png.
  qrvtest::TempDir dir;
  const std::string a = dir.path() + "/a.png", queued = dir.path() + "/a_QRV.png";
  Touch(a);
  Touch(queued, "queued source");
  Writer w(dir);
  w.dlg.m_pages.output.m_type = 2;
  w.dlg.m_pages.output.m_replace = 1;
  w.dlg.m_cueList.AddString(a);
  w.dlg.m_cueList.AddString(queued);
  ASSERT_TRUE(w.dlg.WriteOutputImage(a, nullptr));
  EXPECT_EQ(ReadText(queued), "queued source");
  EXPECT_TRUE(FileExists(dir.path() + "/a1_QRV.png"));
  EXPECT_NE(w.Log().find("Output file is a source of this run, not replaced: " + queued), std::string::npos);
  // A file that is no source is replaced in place.
  ASSERT_TRUE(w.dlg.WriteOutputImage(queued, nullptr));
  Touch(dir.path() + "/a_QRV_QRV.png", "old output");
  ASSERT_TRUE(w.dlg.WriteOutputImage(queued, nullptr));
  EXPECT_NE(ReadText(dir.path() + "/a_QRV_QRV.png"), "old output");
  EXPECT_FALSE(FileExists(dir.path() + "/a_QRV1_QRV.png"));
}

TEST(OutputWriter, PlacementTakesOnlyFreeNamesAndKeepsSources) {
  // Names another run took after the name was chosen: the next free number, in one step; the
  // same with a named temporary file, as on file systems without unnamed files.
  struct Case {
    bool replace;
    std::vector<std::string> taken;
    bool keepFirst;  // the first name is a source of the run
    std::string expected;
  };
  const Case cases[] = {
      {false, {}, false, "p_QRV.png"},
      {false, {"p_QRV.png", "p1_QRV.png", "p2_QRV.png"}, false, "p3_QRV.png"},
      {true, {}, false, "p_QRV.png"},
      {true, {"p_QRV.png"}, false, "p_QRV.png"},
      {true, {"p_QRV.png", "p1_QRV.png"}, true, "p2_QRV.png"},
  };
  for (const bool unnamed : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.expected + (unnamed ? " unnamed" : " named"));
      qrvtest::TempDir dir;
      for (const std::string& name : c.taken) Touch(dir.path() + "/" + name, "taken " + name);
      PendingOutput file;
      ASSERT_EQ(file.Create(dir.path(), unnamed), 0);
      EXPECT_EQ(file.Unnamed(), unnamed);
      Touch(file.WritePath(), "new");
      ASSERT_EQ(file.Finish(), 0);
      std::vector<FileIdentity> keep;
      if (c.keepFirst) keep.push_back(IdentityOf(dir.path() + "/p_QRV.png"));
      const PlacedOutput placed = PlaceOutputFile(file, dir.path(), "p", ".png", 0, c.replace, keep);
      EXPECT_EQ(placed.path, dir.path() + "/" + c.expected);
      EXPECT_EQ(placed.identity, IdentityOf(placed.path));
      EXPECT_EQ(placed.kept.known, c.keepFirst);
      EXPECT_EQ(ReadText(dir.path() + "/" + c.expected), "new");
      for (const std::string& name : c.taken) {
        if (name != c.expected) {
          EXPECT_EQ(ReadText(dir.path() + "/" + name), "taken " + name);
        }
      }
      // Nothing but the taken names and the output is left.
      std::set<std::string> names(c.taken.begin(), c.taken.end());
      names.insert(c.expected);
      EXPECT_EQ(qrvtest::RunCommand("ls -A " + dir.path() + " | wc -l"), std::to_string(names.size()) + "\n");
    }
  }
  // A folder that is gone: no name, the file removed, the errno kept.
  qrvtest::TempDir dir;
  PendingOutput file;
  ASSERT_EQ(file.Create(dir.path(), false), 0);
  const std::string temporary = file.TemporaryName();
  ASSERT_EQ(file.Finish(), 0);
  const PlacedOutput placed = PlaceOutputFile(file, dir.path() + "/missing", "p", ".png", 0, false, {});
  EXPECT_TRUE(placed.path.empty());
  EXPECT_EQ(placed.error, ENOENT);
  EXPECT_FALSE(FileExists(temporary));
}

TEST(OutputWriter, FailuresLogRedAndKeepEarlierOutputs) {
  qrvtest::TempDir dir;
  const std::string src = dir.path() + "/s.png";
  Touch(src);
  Writer w(dir);
  // A file stands where the output folder would be.
  Touch(dir.path() + "/QRV");
  EXPECT_FALSE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_NE(w.Log().find("Can't create path: " + dir.path() + "/QRV"), std::string::npos);

  // A failed writer leaves an earlier output with the same name untouched and no partial file.
  w.dlg.m_pages.output.m_type = 2;
  w.dlg.m_pages.output.m_replace = 1;
  Touch(dir.path() + "/s_QRV.png", "earlier");
  w.dlg.m_workImage.clear();
  w.dlg.m_workWidth = 0;
  EXPECT_FALSE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_EQ(ReadText(dir.path() + "/s_QRV.png"), "earlier");
  // Unknown keep-format source: a red line, nothing written.
  w.dlg.m_pages.output.m_fileType = 0;
  w.dlg.m_workImage.assign(3, 1);
  w.dlg.m_workWidth = w.dlg.m_workHeight = 1;
  Touch(dir.path() + "/raw.xyz");
  EXPECT_FALSE(w.dlg.WriteOutputImage(dir.path() + "/raw.xyz", nullptr));
  EXPECT_FALSE(FileExists(dir.path() + "/raw_QRV.xyz"));
  EXPECT_NE(w.Log().find("#ff0900\">Unknown source format"), std::string::npos);
  EXPECT_EQ(qrvtest::RunCommand("ls -a " + dir.path()).find(".qrv-"), std::string::npos);
  EXPECT_EQ(ReadText(dir.path() + "/qrvoutput.dir"), "");  // the folder is marked, with no '*' for these
}

TEST(OutputWriter, MarkerOnlyInARegularFileOfItsFolder) {
  // Something planted at the marker's name is left as it is (and what it points to); the output
  // is written, with a warning.
  struct Case {
    const char* what;
    const char* why;
  };
  const Case cases[] = {{"symlink", "a symbolic link, not followed"},
                        {"dangling symlink", "a symbolic link, not followed"},
                        {"hard link", "a file with other hard links"},
                        {"fifo", "not a regular file"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qrvtest::TempDir dir;
    Writer w(dir);
    const std::string src = dir.File("s.png"), victim = dir.File("victim"), marker = dir.File("QRV/qrvoutput.dir");
    Touch(src);
    mkdir(dir.File("QRV").c_str(), 0777);
    if (std::string(c.what) != "dangling symlink") Touch(victim, "victim");
    if (std::string(c.what) == "hard link")
      ASSERT_EQ(link(victim.c_str(), marker.c_str()), 0);
    else if (std::string(c.what) == "fifo")
      ASSERT_EQ(mkfifo(marker.c_str(), 0666), 0);
    else
      ASSERT_EQ(symlink(victim.c_str(), marker.c_str()), 0);
    w.dlg.m_outcomes.emplace_back();
    ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
    EXPECT_TRUE(FileExists(dir.File("QRV/s_QRV.png")));
    EXPECT_EQ(ReadText(victim), std::string(c.what) == "dangling symlink" ? "" : "victim");
    EXPECT_EQ(FileExists(victim), std::string(c.what) != "dangling symlink");
    const std::string warning = "Can't write output marker: " + marker + " (" + c.why + ")";
    EXPECT_EQ(w.dlg.m_outcomes.back().warnings, std::vector<std::string>{warning});
    EXPECT_NE(w.Log().find(warning), std::string::npos);
  }
}

TEST(OutputWriter, LogGivesTheWrittenFilesSize) {
  qrvtest::TempDir dir;
  Writer w(dir);
  w.dlg.m_pages.output.m_type = 2;
  const struct {
    int fileType;
    const char* source;
    const char* output;
  } cases[] = {{1, "a.png", "a_QRV.jpg"}, {2, "a.jpg", "a_QRV.png"}, {3, "a.jpg", "a_QRV.bmp"},
               {0, "t.tif", "t_QRV.tif"}, {0, "t.tga", "t_QRV.tga"}, {0, "t.psd", "t_QRV.psd"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    Touch(dir.File(c.source));
    w.dlg.m_pages.output.m_fileType = c.fileType;
    ASSERT_TRUE(w.dlg.WriteOutputImage(dir.File(c.source), nullptr));
    struct stat status {};
    ASSERT_EQ(stat(dir.File(c.output).c_str(), &status), 0);
    EXPECT_GT(status.st_size, 50);
    EXPECT_NE(w.Log().find(dir.File(c.output) + " (" + std::to_string(status.st_size) + ")<br>"), std::string::npos);
  }
}

TEST(OutputWriter, FailuresSayTheSystemsReason) {
  struct Case {
    const char* what;
    int type;         // output folder choice
    int failWrites;   // errno of every write to an output, 0 for none
    const char* line;  // the red line, after the temporary folder
  };
  const Case cases[] = {
      {"a file where the output folder goes", 0, 0, "Can't create path: %/QRV (Not a directory)"},
      {"a file where a folder above it goes", 1, 0, "Can't create path: %/file/out (Not a directory)"},
      {"a full disk", 0, ENOSPC, "Can't write file: %/QRV/s_QRV.png (No space left on device)"},
      {"a disk that fails", 2, EIO, "Can't write file: %/s_QRV.png (Input/output error)"},
  };
  static int failWrites = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qrvtest::TempDir dir;
    Writer w(dir);
    Touch(dir.File("s.png"));
    Touch(dir.File(c.type == 0 && c.failWrites == 0 ? "QRV" : "file"));
    w.dlg.m_pages.output.m_type = c.type;
    w.dlg.m_pages.output.m_simDir = dir.File("file/out");
    failWrites = c.failWrites;
    if (failWrites != 0)
      OutputCalls().pwrite = [](int, const void*, size_t, off_t) -> ssize_t { return errno = failWrites, -1; };
    w.dlg.m_outcomes.emplace_back();
    EXPECT_FALSE(w.dlg.WriteOutputImage(dir.File("s.png"), nullptr));
    OutputCalls() = SystemOutputCalls();
    std::string line = c.line;
    line.replace(line.find('%'), 1, dir.path());
    EXPECT_EQ(w.dlg.m_outcomes.back().reason, line);
    // Nothing is left under an output name nor as a temporary file.
    const std::string listing = qrvtest::RunCommand("ls -A " + dir.path() + " " + dir.File("QRV") + " 2>/dev/null");
    EXPECT_EQ(listing.find("_QRV"), std::string::npos) << listing;
    EXPECT_EQ(listing.find(".qrv-"), std::string::npos) << listing;
  }
}

TEST(OutputWriter, ReplaceKeepsTheBlackFrame) {
  qrvtest::TempDir dir;
  const std::string a = dir.File("a.png"), frame = dir.File("a_QRV.png");
  Touch(a);
  Touch(frame, "black frame");
  Writer w(dir);
  w.dlg.m_pages.output.m_type = 2;
  w.dlg.m_pages.output.m_replace = 1;
  w.dlg.m_blackFramePath = frame;
  ASSERT_TRUE(w.dlg.WriteOutputImage(a, nullptr));
  EXPECT_EQ(ReadText(frame), "black frame");
  EXPECT_TRUE(FileExists(dir.File("a1_QRV.png")));
  EXPECT_NE(w.Log().find("Output file is the black frame of this run, not replaced: " + frame), std::string::npos);
}

// A file type outside 0..3 keeps the source's format; a format found by content takes its own
// extension. No file ever carries another format's extension.
TEST(OutputWriter, FormatMatchesTheExtension) {
  qrvtest::TempDir dir;
  Writer w(dir);
  w.dlg.m_pages.output.m_type = 2;
  w.dlg.m_pages.output.m_replace = 1;
  Touch(dir.File("IMG.jpg"));
  {
    CRGBImage png;
    ASSERT_EQ(png.Create(w.dlg.m_workImage.data(), 5, 4), 0);
    ASSERT_EQ(png.Save(dir.File("scan.xyz"), IFF_PNG), 0);
  }
  const struct {
    int fileType;
    const char* source;
    const char* output;
    int format;
  } cases[] = {{5, "IMG.jpg", "IMG_QRV.jpg", IFF_JPEG},
               {-1, "IMG.jpg", "IMG_QRV.jpg", IFF_JPEG},
               {0, "scan.xyz", "scan_QRV.png", IFF_PNG}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    w.dlg.m_pages.output.m_fileType = c.fileType;
    ASSERT_TRUE(w.dlg.WriteOutputImage(dir.File(c.source), nullptr));
    EXPECT_EQ(FormatFromFileContents(dir.File(c.output)), c.format);
  }
}

namespace {

// An EXIF record: orientation, pixel dimensions (SHORT) and an IFD1 thumbnail of these bytes
// after the IFDs.
std::vector<uint8_t> ExifWithThumbnail(int orientation, const std::vector<uint8_t>& thumbnail) {
  qrvtest::ExifBlock b;
  b.chain = {2, -1, -1};
  auto build = [&](uint32_t at) {
    b.ifds = {{qrvtest::Short(274, {static_cast<uint64_t>(orientation)}), qrvtest::Link(34665, 1)},
              {qrvtest::Short(0xA002, {32}), qrvtest::Short(0xA003, {16})},
              {qrvtest::Short(0x0103, {6}), qrvtest::Long(0x0201, {at}), qrvtest::Long(0x0202, {thumbnail.size()})}};
    return b.Build();
  };
  std::vector<uint8_t> record = build(static_cast<uint32_t>(build(0).size() - 10));
  record.insert(record.end(), thumbnail.begin(), thumbnail.end());
  return record;
}

}  // namespace

// The EXIF carried into a JPEG describes the file written: its pixel size, and a thumbnail of
// the written picture within the old one's size turned as the picture was, or none when the
// old one is no thumbnail.
TEST(OutputWriter, CarriedExifDescribesTheWrittenPicture) {
  QRV_REQUIRE_TOOL("exiftool");
  qrvtest::TempDir dir;
  // A 16 x 8 thumbnail, white on the left, black on the right.
  std::vector<uint8_t> thumbPixels(16 * 8 * 3, 0);
  for (size_t i = 0; i < thumbPixels.size(); ++i) thumbPixels[i] = (i / 3) % 16 < 8 ? 255 : 0;
  ASSERT_TRUE(enginetest::WriteJpegWithExif(dir.File("t.jpg"), thumbPixels, 16, 8, {}, 95));
  const std::vector<uint8_t> thumbnail = qrvtest::ReadFileBytes(dir.File("t.jpg"));
  const std::vector<uint8_t> garbage(300, 0x5A);
  const struct {
    int orientation;
    const std::vector<uint8_t>* thumb;
    std::pair<int, int> thumbSize;  // {0, 0}: no thumbnail in the output
  } cases[] = {{6, &thumbnail, {5, 9}}, {6, &garbage, {0, 0}}, {1, &thumbnail, {4, 8}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.orientation);
    SCOPED_TRACE(c.thumb->size());
    const std::string src = dir.File("src.jpg"), out = dir.File("QRV/src_QRV.jpg");
    ASSERT_TRUE(enginetest::WriteJpegWithExif(src, enginetest::RandomPicture(32, 16, 1), 32, 16,
                                              ExifWithThumbnail(c.orientation, *c.thumb)));
    Writer w(dir);
    w.dlg.m_pages.output.m_fileType = 1;
    w.dlg.m_pages.output.m_replace = 1;
    ASSERT_EQ(w.dlg.LoadSourceImage(src), 1);
    w.dlg.m_workImage = enginetest::RandomPicture(5, 9, 2);  // as a resize would leave it
    w.dlg.m_workWidth = 5;
    w.dlg.m_workHeight = 9;
    ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
    EXPECT_EQ(qrvtest::RunCommand("exiftool -s3 -n -Orientation -ExifImageWidth -ExifImageHeight " + out),
              "1\n5\n9\n");
    const std::string thumbFile = dir.File("thumb.jpg");
    qrvtest::RunCommand("exiftool -b -ThumbnailImage " + out + " > " + thumbFile);
    CRGBImage turned;
    if (c.thumbSize.first == 0) {
      EXPECT_TRUE(qrvtest::ReadFileBytes(thumbFile).empty());
      continue;
    }
    ASSERT_EQ(turned.Load(thumbFile), 0);
    EXPECT_EQ(turned.GetSize(), c.thumbSize);
  }
  // Blocks cut anywhere are fitted without reading or writing outside them.
  const std::vector<uint8_t> record = ExifWithThumbnail(6, thumbnail);
  for (size_t n = 4; n < record.size(); n += 7) {
    std::vector<BYTE> payload(record.begin() + 4, record.begin() + static_cast<long>(n));
    FitExifToOutput(payload, enginetest::RandomPicture(5, 9, 2).data(), 5, 9, 6);
  }
}

namespace {

// The IFD1 thumbnail's bytes of a little-endian APP1 "Exif" payload; empty when IFD1 is unlinked.
std::vector<uint8_t> ThumbnailOf(const std::vector<BYTE>& payload) {
  const auto at = [&](uint64_t o, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | (6 + o + i < payload.size() ? payload[6 + o + i] : 0);
    return v;
  };
  const uint32_t ifd0 = at(4, 4), ifd1 = at(ifd0 + 2 + 12 * at(ifd0, 2), 4);
  uint32_t offset = 0, length = 0;
  for (uint32_t i = 0; ifd1 != 0 && i < at(ifd1, 2); ++i) {
    const uint64_t e = ifd1 + 2 + 12 * i;
    if (at(e, 2) == 0x0201) offset = at(e + 8, 4);
    if (at(e, 2) == 0x0202) length = at(e + 8, 4);
  }
  if (ifd1 == 0 || 6 + uint64_t{offset} + length > payload.size()) return {};
  return std::vector<uint8_t>(payload.begin() + 6 + offset, payload.begin() + 6 + offset + length);
}

// A JPEG stream with its last scan repeated until it holds `scans` scans.
std::vector<uint8_t> WithLastScanRepeated(std::vector<uint8_t> jpeg, int scans) {
  size_t last = 0, count = 0;
  for (size_t i = 0; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) last = i, ++count;
  const std::vector<uint8_t> scan(jpeg.begin() + static_cast<long>(last), jpeg.end() - 2);
  for (; count < static_cast<size_t>(scans); ++count) jpeg.insert(jpeg.end() - 2, scan.begin(), scan.end());
  return jpeg;
}

// A JPEG stream decoded to 24-bit RGB.
qrvtest::ReadResult DecodedRGB(const std::vector<uint8_t>& jpeg) {
  return qrvtest::ReadFromMemory(
      jpeg, [](ISIOHandle source, DWORD* w, DWORD* h, RGBQUAD*) { return ISReadJPG(source, w, h, 24, 0); });
}

}  // namespace

// A thumbnail is judged as one before it is made again from the written picture: within its
// own area and its picture's. Past them it is left out, and said. The new one fits the old
// one's size turned as the picture was, with the written picture's aspect, and shows it.
TEST(OutputWriter, CarriedThumbnailsAreRemadeOnlyWithinAThumbnailsBounds) {
  const uint64_t picture = 640 * 480;
  // The written picture, upright: a smooth gradient, 480 x 640.
  std::vector<BYTE> written(480 * 640 * 3);
  for (size_t i = 0; i < written.size(); ++i)
    written[i] = static_cast<BYTE>(i % 3 == 0 ? (i / 3) % 480 / 2 : i % 3 == 1 ? (i / 3 / 480) * 255 / 640 : 90);
  const struct {
    const char* what;
    std::vector<uint8_t> thumbnail;
    uint64_t pictureArea;
    std::pair<DWORD, DWORD> made;  // {0, 0}: left out
    std::string note;
  } cases[] = {
      {"4:2:0", qrvtest::EncodeJPEG(160, 120, {0x22, 0x11, 0x11}, "baseline"), picture, {120, 160}, ""},
      {"4:2:0 progressive", qrvtest::EncodeJPEG(160, 120, {0x22, 0x11, 0x11}, "simple"), picture, {120, 160}, ""},
      {"8 x 8", qrvtest::EncodeJPEG(8, 8, {0x22, 0x11, 0x11}, "baseline"), picture, {6, 8}, ""},
      {"40 x 9", qrvtest::EncodeJPEG(40, 9, {0x22, 0x11, 0x11}, "baseline"), picture, {9, 12}, ""},
      {"grey, odd size", qrvtest::EncodeJPEG(150, 100, {0x11}, "baseline"), picture, {100, 133}, ""},
      {"4 components", qrvtest::EncodeJPEG(160, 120, {0x11, 0x11, 0x11, 0x11}, "baseline"), picture, {120, 160}, ""},
      {"progressive", qrvtest::EncodeJPEG(160, 120, {0x11, 0x11, 0x11}, "simple"), picture, {120, 160}, ""},
      {"arithmetic, 40 scans", qrvtest::EncodeJPEG(160, 120, {0x11}, "arithmetic", 40), picture, {120, 160}, ""},
      // Never larger than the written picture.
      {"arithmetic, 1000 x 1000", qrvtest::EncodeJPEG(1000, 1000, {0x11}, "arithmetic", 64), picture * 4,
       {480, 640}, ""},
      {"arithmetic 4:2:0, 1000 x 1000", qrvtest::EncodeJPEG(1000, 1000, {0x22, 0x11, 0x11}, "arithmetic", 2),
       picture * 4, {480, 640}, ""},
      {"too large", qrvtest::EncodeJPEG(1100, 1000, {0x11}, "baseline"), UINT64_MAX, {0, 0},
       "EXIF thumbnail left out of the output: 1100 x 1000 is over the 1048576 pixels of a thumbnail"},
      {"larger than its picture", qrvtest::EncodeJPEG(160, 120, {0x11}, "baseline"), 100 * 100, {0, 0},
       "EXIF thumbnail left out of the output: 160 x 120 is larger than its picture"},
      // Its scans are never decoded: only its size counts.
      {"arithmetic, many scans", WithLastScanRepeated(qrvtest::EncodeJPEG(160, 120, {0x11}, "arithmetic", 2), 600),
       picture, {120, 160}, ""},
      {"not a JPEG", std::vector<uint8_t>(300, 0x5A), picture, {0, 0},
       "EXIF thumbnail left out of the output: bad JPG file"},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.thumbnail.empty()) << c.what;
    const std::vector<uint8_t> record = ExifWithThumbnail(6, c.thumbnail);
    std::vector<BYTE> payload(record.begin() + 4, record.end());
    EXPECT_EQ(FitExifToOutput(payload, written.data(), 480, 640, 6, c.pictureArea), c.note) << c.what;
    const std::vector<uint8_t> thumbnail = ThumbnailOf(payload);
    const qrvtest::ReadResult made = DecodedRGB(thumbnail);
    EXPECT_EQ(std::make_pair(made.width, made.height), c.made) << c.what;
    // Its pixels are the written picture's scaled down (here by the library's filtered resize);
    // JPEG's blocks blur a thumbnail of a few pixels too much to tell.
    if (made.width < 16 || made.height < 16) continue;
    ASSERT_TRUE(made.ok) << c.what;
    std::vector<BYTE> expected(size_t{made.width} * made.height * 3);
    ASSERT_TRUE(ISResampleImage(written.data(), 480, 640, 480 * 3, expected.data(), made.width, made.height,
                                made.width * 3, 3, 0));
    uint64_t difference = 0;
    for (size_t i = 0; i < expected.size(); ++i) difference += std::abs(expected[i] - made.image[i]);
    EXPECT_LT(difference, expected.size() * 4) << c.what;
  }
  // Through the writer: the output is written, its entry with the warning.
  qrvtest::TempDir dir;
  const std::string src = dir.File("src.jpg");
  ASSERT_TRUE(enginetest::WriteJpegWithExif(src, enginetest::RandomPicture(32, 16, 1), 32, 16,
                                            ExifWithThumbnail(6, qrvtest::EncodeJPEG(48, 32, {0x11}, "baseline"))));
  Writer w(dir);
  w.dlg.m_pages.output.m_fileType = 1;
  ASSERT_EQ(w.dlg.LoadSourceImage(src), 1);
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_NE(w.Log().find("EXIF thumbnail left out of the output: 48 x 32 is larger than its picture"),
            std::string::npos);
  // A value that lies among the old thumbnail's bytes keeps them: the new one goes after them.
  const std::vector<uint8_t> old = qrvtest::EncodeJPEG(160, 120, {0x11}, "baseline");
  qrvtest::ExifBlock b;
  b.chain = {1, -1};
  auto build = [&](uint32_t at) {
    b.ifds = {{qrvtest::Ascii(271, "TestCamera")}, {qrvtest::Long(0x0201, {at}), qrvtest::Long(0x0202, {old.size()})}};
    b.ifds[0][0].offsetOverride = at + 40;
    return b.Build();
  };
  std::vector<uint8_t> record = build(static_cast<uint32_t>(build(0).size() - 10));
  const size_t make = 10 + (record.size() - 10) + 40;
  record.insert(record.end(), old.begin(), old.end());
  std::vector<BYTE> payload(record.begin() + 4, record.end());
  EXPECT_EQ(FitExifToOutput(payload, written.data(), 480, 640, 1, picture), "");
  EXPECT_EQ(DecodedRGB(ThumbnailOf(payload)).width, 90u);
  EXPECT_TRUE(std::equal(record.begin() + static_cast<long>(make), record.begin() + static_cast<long>(make) + 11,
                         payload.begin() + static_cast<long>(make) - 4));
}

// A thumbnail made again keeps its quality where it fits: its quantisation tables are the source's.
TEST(OutputWriter, ARemadeThumbnailKeepsItsQuality) {
  const auto firstTable = [](const std::vector<uint8_t>& jpeg) {
    for (size_t i = 2; i + 4 < jpeg.size(); i += 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]))
      if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB)
        return std::vector<uint8_t>(jpeg.begin() + static_cast<long>(i), jpeg.begin() + static_cast<long>(i) + 69);
    return std::vector<uint8_t>();
  };
  qrvtest::TempDir dir;
  const std::vector<uint8_t> picture = enginetest::RandomPicture(480, 640, 4);
  for (int quality : {35, 60, 92}) {
    ASSERT_TRUE(enginetest::WriteJpegWithExif(dir.File("t.jpg"), enginetest::RandomPicture(160, 120, 3), 160, 120,
                                              {}, quality));
    const std::vector<uint8_t> thumbnail = qrvtest::ReadFileBytes(dir.File("t.jpg"));
    const std::vector<uint8_t> record = ExifWithThumbnail(6, thumbnail);
    std::vector<BYTE> payload(record.begin() + 4, record.end());
    EXPECT_EQ(FitExifToOutput(payload, picture.data(), 480, 640, 6, 640 * 480), "") << quality;
    const std::vector<uint8_t> made = ThumbnailOf(payload);
    EXPECT_FALSE(firstTable(thumbnail).empty()) << quality;
    EXPECT_EQ(firstTable(made), firstTable(thumbnail)) << quality;
  }
}

namespace {

// A camera's EXIF record: Make, Model, Orientation, DateTimeOriginal, a GPS latitude and, when
// `thumbnail` is given, an IFD1 JPEG thumbnail of those bytes after the IFDs (an empty one when
// `emptyThumbnail`); `comment` bytes of UserComment make it as large as asked; `edit` changes
// its structure (`at` and `length`: where the thumbnail lies).
std::vector<uint8_t> CameraExif(const std::string& make, int orientation, const std::vector<uint8_t>* thumbnail,
                                size_t comment = 0, bool emptyThumbnail = false,
                                void (*edit)(qrvtest::ExifBlock&, uint32_t at, size_t length) = nullptr) {
  qrvtest::ExifBlock b;
  const bool ifd1 = thumbnail || emptyThumbnail;
  b.chain = {ifd1 ? 3 : -1, -1, -1, -1};
  const size_t length = thumbnail ? thumbnail->size() : 0;
  auto build = [&](uint32_t at) {
    b.ifds = {{qrvtest::Ascii(271, make), qrvtest::Ascii(272, "M1"),
               qrvtest::Short(274, {static_cast<uint64_t>(orientation)}), qrvtest::Link(34665, 1),
               qrvtest::Link(34853, 2)},
              {qrvtest::Ascii(36867, "2020:01:02 03:04:05")},
              {qrvtest::Ascii(1, "N"), qrvtest::Rational(2, {10, 1, 30, 1, 0, 1})},
              {qrvtest::Short(0x0103, {6}), qrvtest::Long(0x0201, {at}), qrvtest::Long(0x0202, {length})}};
    if (comment > 0) b.ifds[1].push_back(qrvtest::Undefined(37510, std::vector<uint8_t>(comment, 'c')));
    if (!ifd1) b.ifds.pop_back();
    if (edit) edit(b, at, length);
    return b.Build();
  };
  std::vector<uint8_t> record = build(static_cast<uint32_t>(build(0).size() - 10));
  if (thumbnail) record.insert(record.end(), thumbnail->begin(), thumbnail->end());
  return record;
}

// An EXIF record's payload in APP1 segments as writers split a block too large for one: the
// first holds "Exif\0\0" and the TIFF block's start, each next one "Exif\0\0" and what follows.
std::vector<std::vector<uint8_t>> Segments(const std::vector<uint8_t>& record) {
  std::vector<std::vector<uint8_t>> segments;
  const std::vector<uint8_t> name = {'E', 'x', 'i', 'f', 0, 0};
  for (size_t at = 10; at < record.size(); at += 65527) {
    segments.push_back(name);
    segments.back().insert(segments.back().end(), record.begin() + static_cast<long>(at),
                           record.begin() + static_cast<long>(std::min(record.size(), at + 65527)));
  }
  return segments;
}

bool WriteJpegWithSegments(const std::string& path, const std::vector<uint8_t>& pixels, int width, int height,
                           const std::vector<std::vector<uint8_t>>& segments) {
  ISIOHandle sink = ISOpenFileSink(path.c_str(), 0);
  if (!sink) return false;
  ISClearJPGMarkers();
  for (const auto& s : segments) ISAddJPGMarker(s.data(), static_cast<DWORD>(s.size()), 0xE1);
  const DWORD written = ISWriteJPG(sink, pixels.data(), static_cast<DWORD>(width), static_cast<DWORD>(height), 92,
                                   24, nullptr, 0);
  ISCloseSink(sink);
  ISClearJPGMarkers();
  return written != 0;
}

std::vector<uint8_t> Gradient(int width, int height) {
  std::vector<uint8_t> p(size_t(width) * height * 3);
  for (size_t i = 0; i < p.size(); ++i) {
    const size_t x = i / 3 % size_t(width), y = i / 3 / size_t(width);
    p[i] = static_cast<uint8_t>(i % 3 == 0 ? x * 255 / width : i % 3 == 1 ? y * 255 / height : 255 - x * 128 / width);
  }
  return p;
}

}  // namespace

// A JPEG's EXIF block is read whole, also when split over APP1 segments, and written within
// one, well-formed, with a thumbnail made from the written picture: exiftool reads the output
// without warnings and with the camera's data, and the thumbnail shows what was written.
TEST(OutputWriter, CarriedExifIsWholeWellFormedAndShowsTheWrittenPicture) {
  QRV_REQUIRE_TOOL("exiftool");
  QRV_REQUIRE_TOOL("djpeg");
  qrvtest::TempDir dir;
  const std::vector<uint8_t> thumb160 = qrvtest::EncodeJPEG(160, 120, {0x22, 0x11, 0x11}, "baseline");
  std::vector<uint8_t> noisy;  // 320 x 240 of noise: far over one segment
  ASSERT_TRUE(enginetest::WriteJpegWithExif(dir.File("n.jpg"), enginetest::RandomPicture(320, 240, 5), 320, 240, {},
                                            95));
  noisy = qrvtest::ReadFileBytes(dir.File("n.jpg"));
  ASSERT_GT(noisy.size(), 65533u);
  const auto joined = [](std::vector<std::vector<uint8_t>> a, const std::vector<std::vector<uint8_t>>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  // What the pipeline wrote: grey and resized, turned upright.
  std::vector<uint8_t> grey = Gradient(200, 300);
  for (size_t i = 0; i < grey.size(); i += 3) grey[i] = grey[i + 1] = grey[i + 2] = grey[i + 1];
  const struct {
    const char* what;
    std::vector<std::vector<uint8_t>> segments;
    int orientation;
    const std::vector<uint8_t>* written;  // null: the picture as loaded
    const char* make;                     // "": no EXIF in the output
    std::pair<int, int> thumbnail;        // {0, 0}: none
    const char* warning;
  } cases[] = {
      {"two segments", Segments(CameraExif("TestCam", 1, &noisy)), 1, nullptr, "TestCam", {320, 240}, ""},
      {"two whole blocks",
       joined(Segments(CameraExif("First", 1, &thumb160)), Segments(CameraExif("Second", 1, &thumb160))), 1,
       nullptr, "Second", {160, 120}, ""},
      {"grey, resized, turned", Segments(CameraExif("TestCam", 6, &thumb160)), 6, &grey, "TestCam", {107, 160}, ""},
      {"no thumbnail", Segments(CameraExif("TestCam", 1, nullptr)), 1, nullptr, "TestCam", {0, 0}, ""},
      {"empty thumbnail", Segments(CameraExif("TestCam", 1, nullptr, 0, true)), 1, nullptr, "TestCam", {0, 0},
       "EXIF thumbnail left out of the output: it is empty"},
      {"too large without its thumbnail", Segments(CameraExif("TestCam", 1, nullptr, 70000)), 1, nullptr, "", {0, 0},
       "EXIF block left out of the output: 70"},
      {"cut short: its second segment lost", {Segments(CameraExif("TestCam", 1, nullptr, 70000))[0]}, 1, nullptr, "",
       {0, 0}, "EXIF block left out of the output: its Exif IFD is cut short or misplaced in its 65527 bytes"},
      {"IFD1 chained to itself",
       Segments(CameraExif("TestCam", 1, &thumb160, 0, false, [](qrvtest::ExifBlock& b, uint32_t, size_t) { b.chain[3] = 3; })),
       1, nullptr, "TestCam", {160, 120}, ""},
      {"IFD1 chained to a damaged IFD2",
       Segments(CameraExif("TestCam", 1, &thumb160, 0, false,
                           [](qrvtest::ExifBlock& b, uint32_t, size_t) {
                             b.chain[3] = 4;
                             b.ifds.push_back({qrvtest::Ascii(0x010E, "a description")});
                             b.ifds[4][0].offsetOverride = 60000;
                           })),
       1, nullptr, "TestCam", {160, 120}, ""},
      {"IFD0 chained to itself",
       Segments(CameraExif("TestCam", 1, nullptr, 0, false, [](qrvtest::ExifBlock& b, uint32_t, size_t) { b.chain[0] = 0; })),
       1, nullptr, "TestCam", {0, 0}, ""},
      {"IFD1 keeping a value past the end",
       Segments(CameraExif("TestCam", 1, &thumb160, 0, false,
                           [](qrvtest::ExifBlock& b, uint32_t, size_t) {
                             b.ifds[3].push_back(qrvtest::Rational(0x011A, {72, 1}));
                             b.ifds[3].back().offsetOverride = 60000;
                           })),
       1, nullptr, "TestCam", {0, 0}, "EXIF thumbnail left out of the output: its directory (IFD1) is cut short or misplaced"},
      {"uncompressed thumbnail",
       Segments(CameraExif("TestCam", 6, &thumb160, 0, false,
                           [](qrvtest::ExifBlock& b, uint32_t at, size_t length) {
                             b.ifds[3] = {qrvtest::Short(0x0103, {1}), qrvtest::Long(0x0111, {at}),
                                          qrvtest::Long(0x0117, {length})};
                           })),
       6, nullptr, "TestCam", {0, 0}, "EXIF thumbnail left out of the output: it is uncompressed"},
      {"a GPS value over the TIFF header",
       Segments(CameraExif("TestCam", 1, nullptr, 0, false,
                           [](qrvtest::ExifBlock& b, uint32_t, size_t) { b.ifds[2][1].offsetOverride = 2; })),
       1, nullptr, "", {0, 0}, "EXIF block left out of the output: its GPS IFD is cut short or misplaced"},
      {"two whole blocks, the second damaged",
       joined(Segments(CameraExif("First", 1, &thumb160)), {{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 0xFF, 0xFF, 0, 0}}),
       1, nullptr, "First", {160, 120}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string src = dir.File("src.jpg"), out = dir.File("QRV/src_QRV.jpg"), thumb = dir.File("t.jpg");
    ASSERT_TRUE(WriteJpegWithSegments(src, Gradient(640, 480), 640, 480, c.segments));
    Writer w(dir);
    w.dlg.m_pages.output.m_fileType = 1;
    w.dlg.m_pages.output.m_replace = 1;
    ASSERT_EQ(w.dlg.LoadSourceImage(src), 1);
    // The camera's data reaches the settings and the log whatever the output carries.
    EXPECT_EQ(w.dlg.m_make, std::string(c.make).empty() ? "TestCam" : c.make);
    EXPECT_EQ(w.dlg.m_date, "2020:01:02 03:04:05");
    if (c.written) {
      w.dlg.m_workImage = *c.written;
      w.dlg.m_workWidth = 200;
      w.dlg.m_workHeight = 300;
    }
    const std::vector<uint8_t> written = w.dlg.m_workImage;
    const int width = w.dlg.m_workWidth, height = w.dlg.m_workHeight;
    ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
    const std::string log = w.Log();
    EXPECT_EQ(*c.warning != 0, log.find(*c.warning ? c.warning : "EXIF") != std::string::npos) << log;
    EXPECT_EQ(qrvtest::RunCommand("exiftool -s3 -n -Warning -Make -Model -DateTimeOriginal -GPSLatitude " + out),
              *c.make ? std::string(c.make) + "\nM1\n2020:01:02 03:04:05\n10.5\n" : std::string());
    qrvtest::RunCommand("exiftool -b -ThumbnailImage " + out + " > " + thumb);
    if (c.thumbnail.first == 0) {
      EXPECT_TRUE(qrvtest::ReadFileBytes(thumb).empty());
      continue;
    }
    int status = 0, tw = 0, th = 0;
    const std::string ppm = qrvtest::RunCommand("djpeg -pnm " + thumb, &status);
    std::vector<uint8_t> made;
    ASSERT_TRUE(enginetest::ParsePPM(std::vector<uint8_t>(ppm.begin(), ppm.end()), tw, th, made));
    ASSERT_EQ(std::make_pair(tw, th), c.thumbnail);
    std::vector<uint8_t> expected(made.size());
    ASSERT_TRUE(ISResampleImage(written.data(), width, height, width * 3, expected.data(), tw, th, tw * 3, 3, 0));
    uint64_t difference = 0, colour = 0;
    for (size_t i = 0; i < made.size(); ++i) difference += std::abs(made[i] - expected[i]);
    for (size_t i = 0; c.written && i < made.size(); i += 3) colour += std::abs(made[i] - made[i + 2]);
    EXPECT_LT(difference, made.size() * 4);
    EXPECT_LT(colour, made.size() / 3);  // a grey picture's thumbnail is grey
  }
}

TEST(OutputWriter, ExifOrientationSetUpright) {
  // "Exif\0\0", little-endian TIFF header, IFD0 with two entries: Make and Orientation 6.
  std::vector<BYTE> p = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0,
                         0x0F, 0x01, 2, 0, 1, 0, 0, 0, 'A', 0, 0, 0,
                         0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
  SetExifOrientationUpright(p);
  EXPECT_EQ(p[36], 1);
  EXPECT_EQ(p[37], 0);
  // Big-endian.
  std::vector<BYTE> m = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                         0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 8, 0, 0, 0, 0, 0, 0};
  SetExifOrientationUpright(m);
  EXPECT_EQ(m[24], 0);
  EXPECT_EQ(m[25], 1);
  // Truncated and hostile blocks are left alone.
  std::vector<BYTE> bad(p.begin(), p.begin() + 30);
  const auto copy = bad;
  SetExifOrientationUpright(bad);
  EXPECT_EQ(bad, copy);
  std::vector<BYTE> far = p;
  far[10] = 0xFF;  // IFD offset beyond the block
  SetExifOrientationUpright(far);
  std::vector<BYTE> tiny = {'E', 'x'};
  SetExifOrientationUpright(tiny);
}
