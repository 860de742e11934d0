// The colour profile, IPTC record and XMP packet of a source carried into its outputs: XMP fitted
// to the written picture, the profile left out (with a warning) where it cannot go.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/CRGBImage.h"
#include "engine/OutputMetadata.h"
#include "engine/shell/CMainDialog.h"
#include "output_test_dialog.h"
#include "picture_helpers.h"
#include "support/exif_block.h"
#include "support/metadata_blocks.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes App(const std::string& name, const Bytes& data) {
  Bytes b(name.begin(), name.end());
  b.push_back(0);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// The IPTC record as an APP13 marker to write.
void AddIptcMarker(const Bytes& iptc) {
  const Bytes ps = App("Photoshop 3.0", qrvtest::PhotoshopResource(0x0404, iptc));
  ISAddJPGMarker(ps.data(), static_cast<DWORD>(ps.size()), 0xED);
}

// A 32 x 16 JPEG source, EXIF orientation 6, with a profile of two APP2 chunks, an IPTC record
// and an XMP packet saying it is turned and 32 pixels wide.
void WriteSource(const std::string& path, const Bytes& profile, const Bytes& iptc, const std::string& xmp) {
  qrvtest::ExifBlock exif;
  exif.chain = {1, -1};
  exif.ifds = {{qrvtest::Short(274, {6}), qrvtest::Link(34665, 1)},
               {qrvtest::Short(0xA002, {32}), qrvtest::Short(0xA003, {16})}};
  const Bytes record = exif.Build();
  ISSetWriteMetadata(IS_META_ICC, profile.data(), static_cast<DWORD>(profile.size()));
  ISIOHandle sink = ISOpenFileSink(path.c_str(), 0);
  ISClearJPGMarkers();
  ISAddJPGMarker(record.data() + 4, static_cast<DWORD>(record.size() - 4), 0xE1);
  const Bytes x = App("http://ns.adobe.com/xap/1.0/", Bytes(xmp.begin(), xmp.end()));
  ISAddJPGMarker(x.data(), static_cast<DWORD>(x.size()), 0xE1);
  AddIptcMarker(iptc);
  const Bytes pixels = enginetest::RandomPicture(32, 16, 3);
  ASSERT_NE(ISWriteJPG(sink, pixels.data(), 32, 16, 90, 24, nullptr, 0), 0u);
  ISCloseSink(sink);
  ISClearJPGMarkers();
  ISSetWriteMetadata(IS_META_ICC, nullptr, 0);
}

}  // namespace

TEST(OutputMetadata, XmpFittedToTheWrittenPicture) {
  const std::string thumbnail =
      "   <xmp:Thumbnails><rdf:Alt><rdf:li rdf:parseType=\"Resource\"><xmpGImg:width>160</xmpGImg:width>"
      "<xmpGImg:image>/9j/4AAQ</xmpGImg:image></rdf:li></rdf:Alt></xmp:Thumbnails>\n";
  struct Case {
    const char* name;
    std::string attributes, elements;
    bool turned, setSize;
    std::vector<std::string> present, absent;
    std::string lead = "";  // what comes before the packet's first tag
  } cases[] = {
      {"attributes", "tiff:Orientation=\"6\" tiff:ImageWidth=\"32\" exif:PixelYDimension='16'", "", true, true,
       {"tiff:Orientation=\"1\"", "tiff:ImageWidth=\"5\"", "exif:PixelYDimension='9'"}, {"\"6\""}},
      {"elements", "", "   <tiff:Orientation> 8 </tiff:Orientation><exif:PixelXDimension>32</exif:PixelXDimension>\n",
       true, true, {"<tiff:Orientation>1</tiff:Orientation>", "<exif:PixelXDimension>5</"}, {" 8 "}},
      {"own prefix", "xmlns:t=\"http://ns.adobe.com/tiff/1.0/\" t:Orientation=\"3\" t:ImageLength=\"16\"", "", true,
       true, {"t:Orientation=\"1\"", "t:ImageLength=\"9\""}, {}},
      {"not turned, same size", "tiff:Orientation=\"6\" tiff:ImageWidth=\"32\"", "", false, false,
       {"tiff:Orientation=\"6\"", "tiff:ImageWidth=\"32\""}, {}},
      {"stale thumbnail", "", thumbnail, false, false, {"dc:subject"}, {"Thumbnails", "/9j/"}},
      {"byte order mark", "tiff:Orientation=\"6\"", "", true, false, {"tiff:Orientation=\"1\""}, {}, "\xEF\xBB\xBF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string packet = c.lead + qrvtest::TestXMP(c.attributes, c.elements), why;
    const std::string before = packet;
    ASSERT_TRUE(FitXmpToOutput(packet, c.turned, c.setSize, 5, 9, &why)) << why;
    for (const std::string& s : c.present) EXPECT_NE(packet.find(s), std::string::npos) << s << "\n" << packet;
    for (const std::string& s : c.absent) EXPECT_EQ(packet.find(s), std::string::npos) << s << "\n" << packet;
    // Everything around the changed values is as it was.
    EXPECT_EQ(packet.substr(0, 120), before.substr(0, 120));
    EXPECT_EQ(packet.substr(packet.size() - 60), before.substr(before.size() - 60));
  }
  // Packets that cannot be read well enough to set the orientation.
  for (std::string bad : {qrvtest::TestXMP("tiff:Orientation=\"6\"", "<dc:title>"),
                           qrvtest::TestXMP("tiff:Orientation=6"), std::string("<a><b></a></b>"),
                           std::string("no xml at all"), std::string("<a tiff:Orientation=\"6\"")}) {
    std::string why;
    EXPECT_FALSE(FitXmpToOutput(bad, true, true, 5, 9, &why)) << bad;
    EXPECT_FALSE(why.empty());
  }
}

// A turned and resized JPEG with a profile, IPTC and XMP: each output carries what it can hold,
// read back through the library (and by exiftool where present); BMP warns.
TEST(OutputMetadata, OutputsCarryTheSourceMetadata) {
  qrvtest::TempDir dir;
  const Bytes profile = qrvtest::TestICCProfile("Wide Test RGB", 70000);
  const Bytes iptc = qrvtest::TestIPTC("A caption", {"one", "two"}, "(c) Someone");
  const std::string xmp = qrvtest::TestXMP("tiff:Orientation=\"6\" tiff:ImageWidth=\"32\"");
  const std::string src = dir.File("src.jpg");
  WriteSource(src, profile, iptc, xmp);
  // The same metadata in a TIFF stored turned (orientation 6).
  const std::string tiffSrc = dir.File("srct.tif");
  {
    ISSetWriteMetadata(IS_META_ICC, profile.data(), static_cast<DWORD>(profile.size()));
    ISSetWriteMetadata(IS_META_IPTC, iptc.data(), static_cast<DWORD>(iptc.size()));
    ISSetWriteMetadata(IS_META_XMP, reinterpret_cast<const BYTE*>(xmp.data()), static_cast<DWORD>(xmp.size()));
    const Bytes pixels = enginetest::RandomPicture(32, 16, 3);
    ISIOHandle sink = ISOpenFileSink(tiffSrc.c_str(), 0);
    ASSERT_TRUE(ISWriteTIFF(sink, pixels.data(), 32, 16, 24, nullptr, 1, nullptr, 0));
    ISCloseSink(sink);
    ClearCarriedMetadata();
    Bytes file = qrvtest::ReadFileBytes(tiffSrc);
    const Bytes upright = {0x12, 0x01, 3, 0, 1, 0, 0, 0, 1, 0};
    const auto at = std::search(file.begin(), file.end(), upright.begin(), upright.end());
    ASSERT_NE(at, file.end());
    at[8] = 6;
    qrvtest::WriteFileBytes(tiffSrc, file);
  }
  struct Case {
    int fileType;
    const char* out;
    bool matched;
    bool icc, iptcKept, xmpKept;
    const char* warning;
    bool tiff;  // the TIFF source, turned upright on reading by its own orientation tag
  } cases[] = {
      {1, "QRV/src_QRV.jpg", false, true, true, true, nullptr, false},
      {2, "QRV/src_QRV.png", false, true, false, true, nullptr, false},
      {3, "QRV/src_QRV.bmp", false, false, false, false, "Left out of the BMP output: EXIF, XMP, IPTC, colour profile",
       false},
      {1, "QRV/src_QRV.jpg", true, false, true, true, nullptr, false},  // matched to sRGB: no profile
      {1, "QRV/srct_QRV.jpg", false, true, true, true, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    enginetest::OutputDialog w(dir, 5, 4);
    w.dlg.m_pages.output.m_fileType = c.fileType;
    w.dlg.m_pages.output.m_replace = 1;
    const std::string from = c.tiff ? tiffSrc : src;
    ASSERT_EQ(w.dlg.LoadSourceImage(from), 1);
    w.dlg.m_workImage = enginetest::RandomPicture(5, 9, 2);  // as a resize would leave it
    w.dlg.m_workWidth = 5;
    w.dlg.m_workHeight = 9;
    w.dlg.m_colorMatched = c.matched ? 1 : 0;
    ASSERT_TRUE(w.dlg.WriteOutputImage(from, nullptr));
    if (c.warning) {
      EXPECT_NE(w.Log().find(c.warning), std::string::npos) << w.Log();
    }
    CRGBImage out;
    ASSERT_EQ(out.Load(dir.File(c.out)), 0);
    const SourceMetadata& m = out.Metadata();
    EXPECT_EQ(m.iccProfile, c.icc ? profile : Bytes());
    EXPECT_EQ(m.iptc, c.iptcKept ? iptc : Bytes());
    const std::string carried(m.xmp.begin(), m.xmp.end());
    if (!c.xmpKept) {
      EXPECT_TRUE(carried.empty());
      continue;
    }
    EXPECT_NE(carried.find("tiff:Orientation=\"1\" tiff:ImageWidth=\"5\""), std::string::npos) << carried;
    EXPECT_NE(carried.find("XMP rights"), std::string::npos);
    if (!qrvtest::HasTool("exiftool") || c.matched) continue;
    const std::string tags = c.fileType == 1 ? " -Caption-Abstract -Keywords -CopyrightNotice" : "";
    EXPECT_EQ(qrvtest::RunCommand("exiftool -s3 -n -ProfileDescription" + tags +
                                  " -XMP-dc:Rights -XMP-dc:Creator -XMP-dc:Subject -XMP-tiff:Orientation " +
                                  dir.File(c.out)),
              std::string("Wide Test RGB\n") + (c.fileType == 1 ? "A caption\none, two\n(c) Someone\n" : "") +
                  "XMP rights\nAnn Author\nalpha, beta\n1\n");
  }
  // The size limit holds with the profile's bytes counted.
  enginetest::OutputDialog w(dir, 5, 4);
  w.dlg.m_pages.output.m_fileType = 1;
  w.dlg.m_pages.output.m_replace = 1;
  ASSERT_EQ(w.dlg.LoadSourceImage(src), 1);
  w.dlg.m_workImage = enginetest::RandomPicture(160, 120, 4);
  w.dlg.m_workWidth = 160;
  w.dlg.m_workHeight = 120;
  w.dlg.m_pages.sizeQuality.m_qualityType = 1;
  w.dlg.m_pages.sizeQuality.m_minQ = 5;
  const Bytes plain = qrvtest::ReadFileBytes(src);
  w.dlg.m_pages.sizeQuality.m_maxKB = (profile.size() + 9000) / 1000.0;
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  const Bytes written = qrvtest::ReadFileBytes(dir.File("QRV/src_QRV.jpg"));
  EXPECT_GT(written.size(), profile.size());
  EXPECT_LE(written.size(), profile.size() + 9000);
  EXPECT_EQ(w.Log().find("Size limit missed"), std::string::npos);
}

// What cannot be carried whole is left out, and the entry says why.
TEST(OutputMetadata, DamagedBlocksAreLeftOutWithAWarning) {
  qrvtest::TempDir dir;
  const Bytes profile = qrvtest::TestICCProfile("Cut RGB", 400);
  Bytes chunk = App("ICC_PROFILE", Bytes{1, 2});  // chunk 1 of 2; chunk 2 is missing
  chunk.insert(chunk.end(), profile.begin(), profile.begin() + 200);
  const std::string badXmp = qrvtest::TestXMP("tiff:Orientation=\"6\"", "<dc:title>");
  const Bytes xmp = App("http://ns.adobe.com/xap/1.0/", Bytes(badXmp.begin(), badXmp.end()));
  const std::string src = dir.File("cut.jpg");
  ISIOHandle sink = ISOpenFileSink(src.c_str(), 0);
  ISClearJPGMarkers();
  ISAddJPGMarker(chunk.data(), static_cast<DWORD>(chunk.size()), 0xE2);
  ISAddJPGMarker(xmp.data(), static_cast<DWORD>(xmp.size()), 0xE1);
  const Bytes pixels = enginetest::RandomPicture(16, 8, 5);
  ASSERT_NE(ISWriteJPG(sink, pixels.data(), 16, 8, 90, 24, nullptr, 0), 0u);
  ISCloseSink(sink);
  ISClearJPGMarkers();
  enginetest::OutputDialog w(dir, 5, 4);
  w.dlg.m_pages.output.m_fileType = 1;
  ASSERT_EQ(w.dlg.LoadSourceImage(src), 1);
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_NE(w.Log().find("Colour profile of the source left out: only 1 of its 2 ICC_PROFILE chunks are there"),
            std::string::npos)
      << w.Log();
  EXPECT_NE(w.Log().find("XMP packet of the source left out: it could not be read as XML"), std::string::npos);
  CRGBImage out;
  ASSERT_EQ(out.Load(dir.File("QRV/cut_QRV.jpg")), 0);
  EXPECT_TRUE(out.Metadata().iccProfile.empty());
  EXPECT_TRUE(out.Metadata().xmp.empty());
}

namespace {

const std::string kGuid(32, 'C');

// A JPEG source carrying all a photographer's file may: an EXIF block with the camera and a GPS
// directory, XMP repeating the position and naming an extended packet (whole), IPTC, a comment
// and a colour profile.
void WriteCarrySource(const std::string& path, const Bytes& profile, const Bytes& iptc) {
  qrvtest::ExifBlock exif;
  exif.chain = {-1, -1};
  exif.ifds = {{qrvtest::Ascii(271, "TestMake"), qrvtest::Ascii(272, "TestModel"), qrvtest::Link(34853, 1)},
               {qrvtest::Ascii(1, "N"), qrvtest::Rational(2, {51, 1, 30, 1, 0, 1})}};
  const Bytes record = exif.Build();
  const std::string xmp = qrvtest::TestXMP(
      "exif:GPSLatitude=\"51,30.0N\" xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\" xmpNote:HasExtendedXMP=\"" +
      kGuid + "\"");
  const std::string extended = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">" + std::string(500, ' ') + "</x:xmpmeta>";
  Bytes chunk(kGuid.begin(), kGuid.end());
  for (uint32_t v : {static_cast<uint32_t>(extended.size()), 0u})
    for (int s = 24; s >= 0; s -= 8) chunk.push_back(static_cast<uint8_t>(v >> s));
  chunk.insert(chunk.end(), extended.begin(), extended.end());
  ISSetWriteMetadata(IS_META_ICC, profile.data(), static_cast<DWORD>(profile.size()));
  ISClearJPGMarkers();
  ISAddJPGMarker(record.data() + 4, static_cast<DWORD>(record.size() - 4), 0xE1);
  const Bytes x = App("http://ns.adobe.com/xap/1.0/", Bytes(xmp.begin(), xmp.end()));
  ISAddJPGMarker(x.data(), static_cast<DWORD>(x.size()), 0xE1);
  const Bytes e = App("http://ns.adobe.com/xmp/extension/", chunk);
  ISAddJPGMarker(e.data(), static_cast<DWORD>(e.size()), 0xE1);
  AddIptcMarker(iptc);
  ISClearJPGComments();
  ISAddJPGComment("A photographer's note");
  ISIOHandle sink = ISOpenFileSink(path.c_str(), 0);
  const Bytes pixels = enginetest::RandomPicture(16, 8, 3);
  ASSERT_NE(ISWriteJPG(sink, pixels.data(), 16, 8, 90, 24, nullptr, 0), 0u);
  ISCloseSink(sink);
  ISClearJPGMarkers();
  ISClearJPGComments();
  ISSetWriteMetadata(IS_META_ICC, nullptr, 0);
}

}  // namespace

// Keep EXIF governs every block the source carries but the profile; what an output cannot hold
// is named in one warning; EXIF reaches PNG outputs, comments JPEG ones after "sRGB Matched".
TEST(OutputMetadata, KeepExifGovernsAllButTheProfileAndEveryDropIsNamed) {
  qrvtest::TempDir dir;
  const Bytes profile = qrvtest::TestICCProfile("Carry RGB", 100);
  const Bytes iptc = qrvtest::TestIPTC("Where it was", {"place"}, "(c) Someone");
  const std::string src = dir.File("src.jpg");
  WriteCarrySource(src, profile, iptc);
  struct Case {
    int fileType, keep, matched;
    const char* out;
    const char* leftOut;  // the warning's list; null: no such warning
    std::vector<std::string> comments;
  } cases[] = {
      {1, 0, 0, "QRV/src_QRV.jpg", nullptr, {}},
      {2, 0, 0, "QRV/src_QRV.png", nullptr, {}},
      {3, 0, 0, "QRV/src_QRV.bmp", "colour profile", {}},
      {1, 1, 1, "QRV/src_QRV.jpg", nullptr, {"sRGB Matched", "A photographer's note"}},
      {2, 1, 0, "QRV/src_QRV.png", "IPTC, comments", {}},
      {3, 1, 0, "QRV/src_QRV.bmp", "EXIF, XMP, IPTC, colour profile, comments", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.out) + (c.keep ? " kept" : " not kept"));
    enginetest::OutputDialog w(dir, 16, 8);
    w.dlg.m_pages.output.m_fileType = c.fileType;
    w.dlg.m_pages.output.m_replace = 1;
    w.dlg.m_pages.sizeQuality.m_keepExif = c.keep;
    ASSERT_EQ(w.dlg.LoadSourceImage(src), 1);
    w.dlg.m_colorMatched = c.matched;
    ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
    const std::string log = w.Log();
    const std::string leftOut = std::string("Left out of the ") + (c.fileType == 2 ? "PNG" : "BMP") + " output: ";
    if (c.leftOut)
      EXPECT_NE(log.find(leftOut + c.leftOut + "<"), std::string::npos) << log;
    else
      EXPECT_EQ(log.find("Left out"), std::string::npos) << log;
    if (c.fileType == 3) continue;
    CRGBImage out;
    ASSERT_EQ(out.Load(dir.File(c.out)), 0);
    const SourceMetadata& m = out.Metadata();
    EXPECT_EQ(m.iccProfile, c.matched ? Bytes() : profile);
    EXPECT_EQ(m.comments, c.comments);
    const std::string xmp(m.xmp.begin(), m.xmp.end());
    // The extended packet goes only into a JPEG; a packet without it names none.
    EXPECT_EQ(xmp.find("GPSLatitude") != std::string::npos, c.keep == 1);
    EXPECT_EQ(xmp.find("HasExtendedXMP") != std::string::npos, c.keep == 1 && c.fileType == 1) << xmp;
    EXPECT_EQ(m.xmpExtended.empty(), c.keep == 0 || c.fileType != 1);
    EXPECT_EQ(m.iptc, c.keep && c.fileType == 1 ? iptc : Bytes());
    ASSERT_EQ(out.ExifBlock().empty(), c.keep == 0);
    if (c.keep) {
      ASSERT_NE(out.ReadExif(out.ExifBlock().data(), static_cast<DWORD>(out.ExifBlock().size())), 0);
      EXPECT_EQ(out.m_exif.make + "/" + out.m_exif.model, "TestMake/TestModel");
    }
    if (!qrvtest::HasTool("exiftool")) continue;
    const std::string all = qrvtest::RunCommand("exiftool -a -G1 -s " + dir.File(c.out));
    EXPECT_EQ(all.find("Carry RGB") != std::string::npos, c.matched == 0) << all;
    EXPECT_EQ(all.find("Warning"), std::string::npos) << all;
    // Comments and IPTC go into JPEG files only.
    for (const std::string tag : {"GPSLatitude", "[XMP", "TestModel", "[IPTC]", "Comment"})
      EXPECT_EQ(all.find(tag) != std::string::npos, c.keep == 1 && (c.fileType == 1 || (tag != "[IPTC]" && tag != "Comment")))
          << tag << "\n" << all;
  }
}

// A PSD source's IPTC record (resource 1028) and XMP packet (resource 1060) reach a JPEG output.
TEST(OutputMetadata, PsdIptcAndXmpAreCarried) {
  qrvtest::TempDir dir;
  const Bytes iptc = qrvtest::TestIPTC("From a PSD", {"layered"}, "(c) Someone");
  const std::string xmp = qrvtest::TestXMP("tiff:ImageWidth=\"4\"");
  Bytes file = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 4, 0, 8, 0, 3, 0, 0, 0, 0};
  Bytes resources = qrvtest::PhotoshopResource(0x0404, iptc);
  const Bytes xmpResource = qrvtest::PhotoshopResource(1060, Bytes(xmp.begin(), xmp.end()));
  resources.insert(resources.end(), xmpResource.begin(), xmpResource.end());
  for (int s = 24; s >= 0; s -= 8) file.push_back(static_cast<uint8_t>(resources.size() >> s));
  file.insert(file.end(), resources.begin(), resources.end());
  file.insert(file.end(), {0, 0, 0, 0, 0, 0});  // no layers, raw channels
  file.resize(file.size() + 4 * 2 * 3, 90);
  const std::string src = dir.File("layered.psd");
  qrvtest::WriteFileBytes(src, file);
  enginetest::OutputDialog w(dir, 4, 2);
  w.dlg.m_pages.output.m_fileType = 1;
  ASSERT_EQ(w.dlg.LoadSourceImage(src), 1);
  ASSERT_TRUE(w.dlg.WriteOutputImage(src, nullptr));
  EXPECT_EQ(w.Log().find("left out"), std::string::npos) << w.Log();
  CRGBImage out;
  ASSERT_EQ(out.Load(dir.File("QRV/layered_QRV.jpg")), 0);
  EXPECT_EQ(out.Metadata().iptc, iptc);
  EXPECT_EQ(std::string(out.Metadata().xmp.begin(), out.Metadata().xmp.end()), xmp);
  if (!qrvtest::HasTool("exiftool")) return;
  EXPECT_EQ(qrvtest::RunCommand("exiftool -s3 -Caption-Abstract -XMP-dc:Rights " + dir.File("QRV/layered_QRV.jpg")),
            "From a PSD\nXMP rights\n");
}
