// The colour profile, IPTC record and XMP packets that the readers keep and the writers embed:
// a round trip per format, JPEG chunks out of order, and damaged profiles left out with a note.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
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

Bytes Resource(uint16_t id, const Bytes& data) { return qrvtest::PhotoshopResource(id, data); }

using Reader = HGLOBAL (*)(ISIOHandle, DWORD*, DWORD*, RGBQUAD*);
HGLOBAL ReadJPG(ISIOHandle s, DWORD* w, DWORD* h, RGBQUAD*) { return ISReadJPG(s, w, h, 24, 0); }
HGLOBAL ReadPNG(ISIOHandle s, DWORD* w, DWORD* h, RGBQUAD* p) { return ISReadPNG(s, w, h, 24, p, 0); }
HGLOBAL ReadTIFF(ISIOHandle s, DWORD* w, DWORD* h, RGBQUAD* p) { return ISReadTIFF(s, w, h, 24, p, 0, 0); }
HGLOBAL ReadPSD(ISIOHandle s, DWORD* w, DWORD* h, RGBQUAD* p) { return ISReadPSD(s, w, h, 24, p, 0); }

// The block of `kind` the last read met; empty when none.
Bytes Met(DWORD kind) { return qrvtest::MetadataOfLastRead(kind); }

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

// An XMP packet in UTF-16 (either byte order, with or without a byte-order mark) is kept in
// UTF-8, its encoding declaration saying so; broken UTF-16 is left out with the reason.
TEST(MetadataRead, Utf16XmpIsKeptAsUtf8) {
  const std::string utf8 = "<?xpacket begin=\"\xEF\xBB\xBF\"?><?xml version='1.0' encoding='UTF-8'?>"
                           "<a>\xC3\xA9t\xC3\xA9 \xF0\x9F\x93\xB7</a>";
  const auto utf16 = [](bool big, bool mark, const std::u16string& declared) {
    const std::u16string text = u"<?xpacket begin=\"\uFEFF\"?><?xml version='1.0' encoding='" + declared +
                                u"'?><a>\u00E9t\u00E9 \U0001F4F7</a>";
    Bytes b;
    if (mark) b = big ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
    for (char16_t u : text) {
      b.push_back(static_cast<uint8_t>(big ? u >> 8 : u));
      b.push_back(static_cast<uint8_t>(big ? u : u >> 8));
    }
    return b;
  };
  const auto read = [](const Bytes& packet) {
    Bytes marker(std::begin("http://ns.adobe.com/xap/1.0/"), std::end("http://ns.adobe.com/xap/1.0/"));
    marker.insert(marker.end(), packet.begin(), packet.end());
    EXPECT_TRUE(qrvtest::ReadFromMemory(JPGWithMarkers({{0xE1, marker}}), ReadJPG).ok);
    return Met(IS_META_XMP);
  };
  Bytes odd = utf16(true, true, u"UTF-16"), lone = utf16(false, true, u"UTF-16");
  odd.pop_back();
  lone[lone.size() - 8] = 0;
  lone[lone.size() - 7] = 0xD8;  // "</a>" becomes a high surrogate before "/a>"
  const struct {
    const char* name;
    Bytes packet;
    bool kept;
  } cases[] = {
      {"big-endian with a mark", utf16(true, true, u"UTF-16"), true},
      {"little-endian with a mark", utf16(false, true, u"utf-16le"), true},
      {"big-endian without a mark", utf16(true, false, u"UTF-16BE"), true},
      {"odd length", odd, false},
      {"lone surrogate", lone, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read(c.packet), c.kept ? Bytes(utf8.begin(), utf8.end()) : Bytes());
    const std::string note = ISGetReadMetadataNote(IS_META_XMP);
    EXPECT_EQ(note.find("its UTF-16 text"), c.kept ? std::string::npos : 0u) << note;
  }
}

namespace {

Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

// A PNG with one more chunk right after its header.
Bytes PNGWithChunk(const char* type, const Bytes& data) {
  Bytes png = WritePNG();
  Bytes chunk;
  for (int s = 24; s >= 0; s -= 8) chunk.push_back(static_cast<uint8_t>(data.size() >> s));
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), data.begin(), data.end());
  const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
  for (int s = 24; s >= 0; s -= 8) chunk.push_back(static_cast<uint8_t>(crc >> s));
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());  // signature and IHDR: 33 bytes
  return png;
}

// An iTXt chunk "XML:com.adobe.xmp" holding `text`, deflated when `compressed`.
Bytes XMPChunk(const std::string& text, bool compressed) {
  const std::string head("XML:com.adobe.xmp\0", 18);
  Bytes d(head.begin(), head.end());
  d.insert(d.end(), {static_cast<uint8_t>(compressed), 0, 0, 0});  // flag, method, no language or translation
  const Bytes body(text.begin(), text.end());
  const Bytes stored = compressed ? Deflate(body) : body;
  d.insert(d.end(), stored.begin(), stored.end());
  return d;
}

}  // namespace

// A PNG's EXIF block (eXIf) and a PSD's IPTC and XMP resources are kept; a packet the reader
// leaves out is named, with why, and never taken for damage of the picture.
TEST(MetadataRead, PacketsKeptOrNamedAsLeftOut) {
  const std::string packet = qrvtest::TestXMP("tiff:Orientation=\"6\"");
  // eXIf round trip: the payload keeps its "Exif" name on both sides, the chunk holds none.
  Bytes exif = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(ISSetWriteMetadata(IS_META_EXIF, exif.data(), static_cast<DWORD>(exif.size())));
  const Bytes png = WritePNG();
  ISSetWriteMetadata(IS_META_EXIF, nullptr, 0);
  const Bytes chunk = {0, 0, 0, 14, 'e', 'X', 'I', 'f', 'I', 'I', 42, 0};
  // One eXIf chunk, before the image data.
  const auto at = std::search(png.begin(), png.end(), chunk.begin(), chunk.end());
  const std::string idat = "IDAT";
  EXPECT_LT(at, std::search(png.begin(), png.end(), idat.begin(), idat.end()));
  EXPECT_EQ(std::search(at + 8, png.end(), chunk.begin() + 4, chunk.end()), png.end());
  ASSERT_TRUE(qrvtest::ReadFromMemory(png, ReadPNG).ok);
  EXPECT_EQ(Met(IS_META_EXIF), exif);
  // PSD resources 1028 and 1060.
  const Bytes iptc = qrvtest::TestIPTC("PSD caption", {"k"}, "");
  Bytes resources = Resource(0x0404, iptc);
  const Bytes xmpResource = Resource(1060, Bytes(packet.begin(), packet.end()));
  resources.insert(resources.end(), xmpResource.begin(), xmpResource.end());
  ASSERT_TRUE(qrvtest::ReadFromMemory(PSDWithResources(resources), ReadPSD).ok);
  EXPECT_EQ(Met(IS_META_IPTC), iptc);
  EXPECT_EQ(Met(IS_META_XMP), Bytes(packet.begin(), packet.end()));

  // A profile header claiming 900 MB, deflated; an IPTC resource claiming 65535 bytes.
  Bytes huge = qrvtest::TestICCProfile("Huge", 0);
  huge[0] = 0x35, huge[1] = 0xA4, huge[2] = 0xE9, huge[3] = 0;
  huge.resize(1 << 21, 0);
  Bytes iccp = {'i', 'c', 'm', 0, 0};
  const Bytes deflated = Deflate(huge);
  iccp.insert(iccp.end(), deflated.begin(), deflated.end());
  Bytes claim = Resource(0x0404, iptc);
  claim[8] = 0, claim[9] = 0, claim[10] = 0xFF, claim[11] = 0xFF;
  const std::string guid(32, 'A'), other(32, 'B');
  const std::string named = qrvtest::TestXMP("xmpNote:HasExtendedXMP=\"" + guid + "\"");
  const std::string extensionName("http://ns.adobe.com/xmp/extension/\0", 35);
  Bytes orphan(extensionName.begin(), extensionName.end());
  orphan.insert(orphan.end(), other.begin(), other.end());
  orphan.insert(orphan.end(), {0, 0, 0, 4, 0, 0, 0, 0, '<', 'a', '/', '>'});
  const std::string xmpName("http://ns.adobe.com/xap/1.0/\0", 29);
  Bytes mainXmp(xmpName.begin(), xmpName.end());
  mainXmp.insert(mainXmp.end(), named.begin(), named.end());
  Bytes cutXmp = XMPChunk(packet, true);
  cutXmp.resize(cutXmp.size() / 2);
  const struct {
    const char* what;
    Bytes file;
    Reader read;
    DWORD kind;
    const char* note;  // a part of the note; null: the block is kept
  } cases[] = {
      {"iTXt XMP, deflated", PNGWithChunk("iTXt", XMPChunk(packet, true)), ReadPNG, IS_META_XMP, nullptr},
      {"iTXt XMP past 16 MB", PNGWithChunk("iTXt", XMPChunk(packet + std::string(17 << 20, ' '), true)), ReadPNG,
       IS_META_XMP, "inflates past 16 MB"},
      {"iTXt XMP, cut short", PNGWithChunk("iTXt", cutXmp), ReadPNG, IS_META_XMP, "damaged"},
      {"iCCP of 900 MB", PNGWithChunk("iCCP", iccp), ReadPNG, IS_META_ICC, "iCCP chunk inflates past 1 MB"},
      {"eXIf of no TIFF", PNGWithChunk("eXIf", Bytes(12, 'x')), ReadPNG, IS_META_EXIF, "eXIf"},
      {"IPTC claiming 65535", PSDWithResources(claim), ReadPSD, IS_META_IPTC, "claims 65535 bytes"},
      {"JPEG IPTC claiming 65535",
       JPGWithMarkers({{0xED, [&] {
                          const std::string name("Photoshop 3.0\0", 14);
                          Bytes a(name.begin(), name.end());
                          a.insert(a.end(), claim.begin(), claim.end());
                          return a;
                        }()}}),
       ReadJPG, IS_META_IPTC, "claims 65535 bytes"},
      {"extension of another GUID", JPGWithMarkers({{0xE1, mainXmp}, {0xE1, orphan}}), ReadJPG,
       IS_META_XMP_EXTENDED, "BBBBBBBB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const qrvtest::ReadResult r = qrvtest::ReadFromMemory(c.file, c.read);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.warning, "");  // the picture is whole
    const std::string note = ISGetReadMetadataNote(c.kind);
    if (!c.note) {
      EXPECT_EQ(Met(c.kind), Bytes(packet.begin(), packet.end()));
      EXPECT_EQ(note, "");
    } else {
      EXPECT_TRUE(Met(c.kind).empty());
      EXPECT_NE(note.find(c.note), std::string::npos) << note;
    }
  }
}
