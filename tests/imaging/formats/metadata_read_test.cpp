// The colour profile, IPTC record and XMP packets that the readers keep and the writers embed:
// a round trip per format, JPEG chunks out of order, and damaged profiles left out with a note.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/global_memory.h"
#include "qrv/imaging.h"
#include "support/memory_read.h"
#include "support/metadata_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr DWORD kW = 8, kH = 6;

Bytes Pixels() {
  Bytes p(kW * kH * 3);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i * 11);
  return p;
}

// The stream a writer leaves in a memory sink.
Bytes WriteWith(const std::function<BOOL(ISIOHandle)>& write) {
  Bytes buffer(1 << 21);
  ISIOHandle sink = ISOpenMemorySink(buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  EXPECT_NE(sink, nullptr);
  const BOOL ok = write(sink);
  DWORD size = 0;
  ISGetSourceSize(sink, &size);
  ISCloseSink(sink);
  if (!ok) return {};
  buffer.resize(size);
  return buffer;
}

Bytes WriteJPG() {
  return WriteWith([](ISIOHandle s) { return ISWriteJPG(s, Pixels().data(), kW, kH, 90, 24, nullptr, 0) != 0; });
}
Bytes WritePNG() {
  return WriteWith([](ISIOHandle s) { return ISWritePNG(s, Pixels().data(), kW, kH, kW * 3, 8, 0, nullptr, 2, 0.0, nullptr, 0); });
}
Bytes WriteTIFF() {
  return WriteWith([](ISIOHandle s) { return ISWriteTIFF(s, Pixels().data(), kW, kH, 24, nullptr, 1, nullptr, 0); });
}

// A PSD file of an RGB picture whose image resources are `resources`.
Bytes PSDWithResources(const Bytes& resources) {
  Bytes f = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, kH, 0, 0, 0, kW, 0, 8, 0, 3, 0, 0, 0, 0};
  const auto put32 = [&](uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(v >> s));
  };
  put32(static_cast<uint32_t>(resources.size()));
  f.insert(f.end(), resources.begin(), resources.end());
  put32(0);                 // no layers
  f.insert(f.end(), {0, 0});  // raw channels
  f.resize(f.size() + kW * kH * 3, 128);
  return f;
}

Bytes Resource(uint16_t id, const Bytes& data) {
  Bytes r = {'8', 'B', 'I', 'M', static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0, 0};
  for (int s = 24; s >= 0; s -= 8) r.push_back(static_cast<uint8_t>(data.size() >> s));
  r.insert(r.end(), data.begin(), data.end());
  if (r.size() % 2) r.push_back(0);
  return r;
}

using Reader = HGLOBAL (*)(ISIOHandle, DWORD*, DWORD*, RGBQUAD*);
HGLOBAL ReadJPG(ISIOHandle s, DWORD* w, DWORD* h, RGBQUAD*) { return ISReadJPG(s, w, h, 24, 0); }
HGLOBAL ReadPNG(ISIOHandle s, DWORD* w, DWORD* h, RGBQUAD* p) { return ISReadPNG(s, w, h, 24, p, 0); }
HGLOBAL ReadTIFF(ISIOHandle s, DWORD* w, DWORD* h, RGBQUAD* p) { return ISReadTIFF(s, w, h, 24, p, 0, 0); }
HGLOBAL ReadPSD(ISIOHandle s, DWORD* w, DWORD* h, RGBQUAD* p) { return ISReadPSD(s, w, h, 24, p, 0); }

// The block of `kind` the last read met; empty when none.
Bytes Met(DWORD kind) {
  HGLOBAL data = nullptr;
  DWORD length = 0;
  if (!ISGetReadMetadata(kind, &data, &length)) return {};
  const auto* p = static_cast<const uint8_t*>(data);
  Bytes b(p, p + length);
  GlobalFree(data);
  return b;
}

Bytes Read(const Bytes& file, Reader read) {
  const qrvtest::ReadResult r = qrvtest::ReadFromMemory(file, read);
  EXPECT_TRUE(r.ok) << r.warning;
  return Met(IS_META_ICC);
}

// A JPEG whose APP2 markers are `chunks` as given.
Bytes JPGWithMarkers(const std::vector<std::pair<DWORD, Bytes>>& markers) {
  ISClearJPGMarkers();
  for (const auto& m : markers) ISAddJPGMarker(m.second.data(), static_cast<DWORD>(m.second.size()), m.first);
  Bytes jpeg = WriteJPG();
  ISClearJPGMarkers();
  return jpeg;
}

Bytes ICCChunk(const Bytes& profile, size_t from, size_t n, uint8_t k, uint8_t count) {
  Bytes c(reinterpret_cast<const uint8_t*>("ICC_PROFILE"), reinterpret_cast<const uint8_t*>("ICC_PROFILE") + 12);
  c.push_back(k);
  c.push_back(count);
  c.insert(c.end(), profile.begin() + from, profile.begin() + from + n);
  return c;
}

}  // namespace

TEST(MetadataRead, ProfileRoundTripsThroughEveryWriterAndReader) {
  const Bytes small = qrvtest::TestICCProfile("Small RGB"), large = qrvtest::TestICCProfile("Large RGB", 70000);
  ASSERT_GT(large.size(), 65519u);
  struct Case {
    const char* name;
    Bytes (*write)();
    Reader read;
  } cases[] = {{"JPEG", WriteJPG, ReadJPG}, {"PNG", WritePNG, ReadPNG}, {"TIFF", WriteTIFF, ReadTIFF}};
  for (const Case& c : cases) {
    for (const Bytes* profile : {&small, &large}) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(profile->size()));
      ASSERT_TRUE(ISSetWriteMetadata(IS_META_ICC, profile->data(), static_cast<DWORD>(profile->size())));
      const Bytes file = c.write();
      ASSERT_TRUE(ISSetWriteMetadata(IS_META_ICC, nullptr, 0));
      ASSERT_FALSE(file.empty());
      EXPECT_EQ(Read(file, c.read), *profile);
      EXPECT_STREQ(ISGetReadMetadataNote(IS_META_ICC), "");
      // Cleared, the next file carries none.
      EXPECT_TRUE(Read(c.write(), c.read).empty());
    }
  }
  // A profile libpng refuses (rendering intent 9) leaves the PNG written without it, and says so.
  Bytes refused = small;
  refused[67] = 9;
  ISSetWriteMetadata(IS_META_ICC, refused.data(), static_cast<DWORD>(refused.size()));
  std::string warning;
  const Bytes png = WriteWith([&](ISIOHandle s) {
    const BOOL ok = ISWritePNG(s, Pixels().data(), kW, kH, kW * 3, 8, 0, nullptr, 2, 0.0, nullptr, 0);
    warning = ISGetLastWarning();
    return ok;
  });
  ISSetWriteMetadata(IS_META_ICC, nullptr, 0);
  EXPECT_EQ(warning.compare(0, 23, "colour profile left out"), 0) << warning;
  EXPECT_TRUE(Read(png, ReadPNG).empty());
  // PSD resource 1039.
  EXPECT_EQ(Read(PSDWithResources(Resource(1039, small)), ReadPSD), small);
  EXPECT_TRUE(Read(PSDWithResources(Resource(1005, Bytes(16, 0))), ReadPSD).empty());
}

TEST(MetadataRead, JPEGChunksOutOfOrderAndDamagedProfiles) {
  const Bytes p = qrvtest::TestICCProfile("Chunked RGB", 300);
  const size_t half = p.size() / 2;
  Bytes badLength = p;
  badLength[3] ^= 1;
  struct Case {
    const char* name;
    std::vector<std::pair<DWORD, Bytes>> markers;
    bool kept;
  } cases[] = {
      {"in order", {{0xE2, ICCChunk(p, 0, half, 1, 2)}, {0xE2, ICCChunk(p, half, p.size() - half, 2, 2)}}, true},
      {"out of order", {{0xE2, ICCChunk(p, half, p.size() - half, 2, 2)}, {0xE2, ICCChunk(p, 0, half, 1, 2)}}, true},
      {"other markers between", {{0xE2, ICCChunk(p, 0, half, 1, 2)}, {0xE1, Bytes(20, 'x')}, {0xE2, ICCChunk(p, half, p.size() - half, 2, 2)}}, true},
      {"one missing", {{0xE2, ICCChunk(p, 0, half, 1, 2)}}, false},
      {"counts disagree", {{0xE2, ICCChunk(p, 0, half, 1, 2)}, {0xE2, ICCChunk(p, half, p.size() - half, 2, 3)}}, false},
      {"twice", {{0xE2, ICCChunk(p, 0, half, 1, 2)}, {0xE2, ICCChunk(p, 0, half, 1, 2)}}, false},
      {"numbered 0", {{0xE2, ICCChunk(p, 0, p.size(), 0, 1)}}, false},
      {"length field", {{0xE2, ICCChunk(badLength, 0, p.size(), 1, 1)}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes jpeg = JPGWithMarkers(c.markers);
    ASSERT_FALSE(jpeg.empty());
    const Bytes met = Read(jpeg, ReadJPG);
    if (c.kept) {
      EXPECT_EQ(met, p);
      EXPECT_STREQ(ISGetReadMetadataNote(IS_META_ICC), "");
    } else {
      EXPECT_TRUE(met.empty());
      EXPECT_STRNE(ISGetReadMetadataNote(IS_META_ICC), "");
    }
  }
  // An "Exif" continuation that follows no EXIF block is left out, and said.
  Read(JPGWithMarkers({{0xE1, {'E', 'x', 'i', 'f', 0, 0, 'x', 'x'}}}), ReadJPG);
  EXPECT_TRUE(Met(IS_META_EXIF).empty());
  EXPECT_STRNE(ISGetReadMetadataNote(IS_META_EXIF), "");
  // A profile too large for 255 chunks is refused, not written cut.
  const Bytes huge(255u * 65519u + 1u, 0);
  EXPECT_FALSE(ISSetWriteMetadata(IS_META_ICC, huge.data(), static_cast<DWORD>(huge.size())));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
}

TEST(MetadataRead, IPTCAndXMPOfEachFormat) {
  const Bytes iptc = qrvtest::TestIPTC("A caption", {"one", "two"}, "(c) Someone");
  const std::string packet = qrvtest::TestXMP("tiff:Orientation=\"6\"");
  const Bytes xmp(packet.begin(), packet.end());
  // JPEG: APP13 Photoshop resources (split over two markers), APP1 XMP and extended XMP.
  Bytes resources = Resource(1005, Bytes(16, 0));
  const Bytes iptcResource = Resource(0x0404, iptc);
  resources.insert(resources.end(), iptcResource.begin(), iptcResource.end());
  // A second IPTC resource after it is not the one readers show.
  const Bytes second = Resource(0x0404, qrvtest::TestIPTC("Second", {}, ""));
  resources.insert(resources.end(), second.begin(), second.end());
  const std::string guid = "0123456789ABCDEF0123456789ABCDEF";
  const std::string withGuid = qrvtest::TestXMP("xmpNote:HasExtendedXMP=\"" + guid + "\"");
  const std::string extended = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">" + std::string(3000, ' ') + "</x:xmpmeta>";
  const auto app = [](const std::string& name, const Bytes& data) {
    Bytes b(name.begin(), name.end());
    b.push_back(0);
    b.insert(b.end(), data.begin(), data.end());
    return b;
  };
  const auto extChunk = [&](size_t from, size_t n) {
    Bytes d(guid.begin(), guid.end());
    for (uint32_t v : {static_cast<uint32_t>(extended.size()), static_cast<uint32_t>(from)})
      for (int s = 24; s >= 0; s -= 8) d.push_back(static_cast<uint8_t>(v >> s));
    d.insert(d.end(), extended.begin() + from, extended.begin() + from + n);
    return app("http://ns.adobe.com/xmp/extension/", d);
  };
  const size_t cut = resources.size() / 2;
  const Bytes jpeg = JPGWithMarkers({
      {0xED, app("Photoshop 3.0", Bytes(resources.begin(), resources.begin() + cut))},
      {0xED, app("Photoshop 3.0", Bytes(resources.begin() + cut, resources.end()))},
      {0xE1, app("http://ns.adobe.com/xap/1.0/", Bytes(withGuid.begin(), withGuid.end()))},
      {0xE1, extChunk(1000, extended.size() - 1000)},
      {0xE1, extChunk(0, 1000)},
  });
  ASSERT_TRUE(qrvtest::ReadFromMemory(jpeg, ReadJPG).ok);
  EXPECT_EQ(Met(IS_META_IPTC), iptc);
  EXPECT_EQ(Met(IS_META_XMP), Bytes(withGuid.begin(), withGuid.end()));
  EXPECT_EQ(Met(IS_META_XMP_EXTENDED), Bytes(extended.begin(), extended.end()));
  // An extended packet with a chunk missing is left out with a note.
  ASSERT_TRUE(qrvtest::ReadFromMemory(JPGWithMarkers({{0xE1, app("http://ns.adobe.com/xap/1.0/", Bytes(withGuid.begin(), withGuid.end()))},
                                                      {0xE1, extChunk(0, 1000)}}),
                                      ReadJPG)
                  .ok);
  EXPECT_TRUE(Met(IS_META_XMP_EXTENDED).empty());
  EXPECT_STRNE(ISGetReadMetadataNote(IS_META_XMP_EXTENDED), "");

  // TIFF tags 33723 and 700, PNG iTXt.
  ASSERT_TRUE(ISSetWriteMetadata(IS_META_IPTC, iptc.data(), static_cast<DWORD>(iptc.size())));
  ASSERT_TRUE(ISSetWriteMetadata(IS_META_XMP, xmp.data(), static_cast<DWORD>(xmp.size())));
  const Bytes tiff = WriteTIFF(), png = WritePNG();
  ISSetWriteMetadata(IS_META_IPTC, nullptr, 0);
  ISSetWriteMetadata(IS_META_XMP, nullptr, 0);
  ASSERT_TRUE(qrvtest::ReadFromMemory(tiff, ReadTIFF).ok);
  EXPECT_EQ(Met(IS_META_IPTC), iptc);
  EXPECT_EQ(Met(IS_META_XMP), xmp);
  ASSERT_TRUE(qrvtest::ReadFromMemory(png, ReadPNG).ok);
  EXPECT_TRUE(Met(IS_META_IPTC).empty());
  EXPECT_EQ(Met(IS_META_XMP), xmp);
  // Cleared, nothing follows into the next files.
  ASSERT_TRUE(qrvtest::ReadFromMemory(WriteTIFF(), ReadTIFF).ok);
  EXPECT_TRUE(Met(IS_META_XMP).empty());
  EXPECT_TRUE(Met(IS_META_IPTC).empty());
}
