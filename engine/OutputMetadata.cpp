// Carrying a source's colour profile, IPTC record and XMP packets into its outputs: the XMP
// fitted to the written picture by a small XML scan that keeps every byte it does not change.
#include "engine/OutputMetadata.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/CRGBImage.h"
#include "engine/shell/CMainDialog.h"

namespace {

constexpr char kTiffNs[] = "http://ns.adobe.com/tiff/1.0/";
constexpr char kExifNs[] = "http://ns.adobe.com/exif/1.0/";
constexpr char kXmpNs[] = "http://ns.adobe.com/xap/1.0/";
constexpr char kXmpMarker[] = "http://ns.adobe.com/xap/1.0/";             // 29 bytes with its zero
constexpr char kXmpExtensionMarker[] = "http://ns.adobe.com/xmp/extension/";  // 35 bytes with its zero
constexpr char kPhotoshop[] = "Photoshop 3.0";                          // 14 bytes with its zero
constexpr size_t kMaxMarkerPayload = 65533;  // a marker's length field counts itself
constexpr size_t kExtendedChunk = 65400;     // extended XMP bytes in one marker, as writers split it
constexpr size_t kGuidDigits = 32;
constexpr size_t kMaxJpegProfile = size_t{255} * 65519;  // 255 APP2 chunks

std::vector<BYTE> TakeBlock(DWORD kind) {
  HGLOBAL data = nullptr;
  DWORD length = 0;
  std::vector<BYTE> block;
  if (ISGetReadMetadata(kind, &data, &length) && data) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    block.assign(bytes, bytes + length);
  }
  if (data) GlobalFree(data);
  return block;
}

// The 32 hex digits the main packet names its extended packet by; empty when it names none.
std::vector<char> ExtendedGuid(const std::vector<BYTE>& packet) {
  const std::string text(packet.begin(), packet.end());
  const size_t at = text.find("HasExtendedXMP");
  if (at == std::string::npos) return {};
  size_t p = at + 14;
  while (p < text.size() && std::strchr(" =\"'>", text[p]) && text[p] != '\0') ++p;
  if (p + kGuidDigits > text.size()) return {};
  for (size_t i = 0; i < kGuidDigits; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[p + i]))) return {};
  return std::vector<char>(text.begin() + p, text.begin() + p + kGuidDigits);
}

// ---- the XML scan

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameChar(char c) {
  return !IsSpace(c) && c != '=' && c != '>' && c != '/' && c != '<' && c != '"' && c != '\'' && c != '\0';
}

struct Edit {
  size_t begin, end;
  std::string text;
};

class XmpFitter {
 public:
  XmpFitter(const std::string& s, bool turned, bool setSize, int width, int height)
      : s_(s), turned_(turned), setSize_(setSize), width_(std::to_string(width)), height_(std::to_string(height)) {}

  // The edits that fit the packet, or false with why.
  bool Scan(std::vector<Edit>* edits, std::string* why) {
    // A UTF-8 byte order mark some writers put before the packet.
    size_t pos = s_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    bool rootSeen = false;
    while (pos < s_.size()) {
      const size_t lt = s_.find('<', pos);
      const size_t textEnd = lt == std::string::npos ? s_.size() : lt;
      if (stack_.empty()) {
        for (size_t i = pos; i < textEnd; ++i)
          if (!IsSpace(s_[i]) && s_[i] != '\0') return Fail(why, "text outside its root element");
      } else if (textEnd > pos) {
        stack_.back().hasText = true;
      }
      if (lt == std::string::npos) break;
      if (s_.compare(lt, 2, "<?") == 0) {
        if (!Skip(lt, "?>", &pos)) return Fail(why, "an unended processing instruction");
      } else if (s_.compare(lt, 4, "<!--") == 0) {
        if (!Skip(lt, "-->", &pos)) return Fail(why, "an unended comment");
      } else if (s_.compare(lt, 9, "<![CDATA[") == 0) {
        if (stack_.empty() || !Skip(lt, "]]>", &pos)) return Fail(why, "a misplaced CDATA section");
        stack_.back().hasText = true;
      } else if (s_.compare(lt, 2, "<!") == 0) {
        return Fail(why, "a document type declaration");
      } else if (s_.compare(lt, 2, "</") == 0) {
        if (!EndTag(lt, &pos, edits, why)) return false;
      } else {
        if (stack_.empty() && rootSeen) return Fail(why, "a second root element");
        rootSeen = true;
        if (!StartTag(lt, &pos, edits, why)) return false;
      }
    }
    if (!rootSeen) return Fail(why, "no element");
    if (!stack_.empty()) return Fail(why, "an unended element");
    return true;
  }

 private:
  enum Action { kNone, kRemove, kOrientation, kWidth, kHeight };
  struct Element {
    std::string name;
    size_t scope;  // namespace bindings before this element's own
    size_t tagBegin;
    size_t contentBegin;
    Action action;
    bool hasChild = false;
    bool hasText = false;
  };

  static bool Fail(std::string* why, const char* text) {
    if (why) *why = text;
    return false;
  }

  bool Skip(size_t from, const char* end, size_t* pos) const {
    const size_t at = s_.find(end, from);
    if (at == std::string::npos) return false;
    *pos = at + std::strlen(end);
    return true;
  }

  // The namespace of a qualified name's prefix ("" when unbound) and its local part.
  std::string Namespace(const std::string& qname, std::string* local) const {
    const size_t colon = qname.find(':');
    const std::string prefix = colon == std::string::npos ? std::string() : qname.substr(0, colon);
    *local = colon == std::string::npos ? qname : qname.substr(colon + 1);
    for (size_t i = bindings_.size(); i-- > 0;)
      if (bindings_[i].first == prefix) return bindings_[i].second;
    return {};
  }

  Action ActionOf(const std::string& qname, bool element) const {
    std::string local;
    const std::string ns = Namespace(qname, &local);
    if (ns == kTiffNs && local == "Orientation") return turned_ ? kOrientation : kNone;
    if (setSize_ && ((ns == kTiffNs && local == "ImageWidth") || (ns == kExifNs && local == "PixelXDimension")))
      return kWidth;
    if (setSize_ && ((ns == kTiffNs && local == "ImageLength") || (ns == kExifNs && local == "PixelYDimension")))
      return kHeight;
    if (element && ns == kXmpNs && local == "Thumbnails") return kRemove;
    return kNone;
  }

  std::string ValueOf(Action a) const { return a == kOrientation ? "1" : a == kWidth ? width_ : height_; }

  bool StartTag(size_t lt, size_t* pos, std::vector<Edit>* edits, std::string* why) {
    size_t p = lt + 1;
    const size_t nameBegin = p;
    while (p < s_.size() && IsNameChar(s_[p])) ++p;
    if (p == nameBegin) return Fail(why, "a tag without a name");
    Element e;
    e.name = s_.substr(nameBegin, p - nameBegin);
    e.scope = bindings_.size();
    e.tagBegin = lt;
    struct Attribute {
      std::string name;
      size_t begin, end;
    };
    std::vector<Attribute> attributes;
    bool empty = false;
    for (;;) {
      while (p < s_.size() && IsSpace(s_[p])) ++p;
      if (p >= s_.size()) return Fail(why, "an unended tag");
      if (s_[p] == '>') {
        ++p;
        break;
      }
      if (s_.compare(p, 2, "/>") == 0) {
        p += 2;
        empty = true;
        break;
      }
      const size_t attrBegin = p;
      while (p < s_.size() && IsNameChar(s_[p])) ++p;
      if (p == attrBegin) return Fail(why, "a malformed attribute");
      const std::string name = s_.substr(attrBegin, p - attrBegin);
      while (p < s_.size() && IsSpace(s_[p])) ++p;
      if (p >= s_.size() || s_[p] != '=') return Fail(why, "an attribute without a value");
      ++p;
      while (p < s_.size() && IsSpace(s_[p])) ++p;
      if (p >= s_.size() || (s_[p] != '"' && s_[p] != '\'')) return Fail(why, "an unquoted attribute value");
      const char quote = s_[p++];
      const size_t valueEnd = s_.find(quote, p);
      if (valueEnd == std::string::npos || s_.find('<', p) < valueEnd) return Fail(why, "an unended attribute value");
      attributes.push_back({name, p, valueEnd});
      p = valueEnd + 1;
    }
    for (const Attribute& a : attributes) {
      if (a.name == "xmlns")
        bindings_.emplace_back("", s_.substr(a.begin, a.end - a.begin));
      else if (a.name.compare(0, 6, "xmlns:") == 0)
        bindings_.emplace_back(a.name.substr(6), s_.substr(a.begin, a.end - a.begin));
    }
    for (const Attribute& a : attributes) {
      if (a.name.find(':') == std::string::npos) continue;  // XMP properties are always qualified
      const Action action = ActionOf(a.name, false);
      if (action != kNone) edits->push_back({a.begin, a.end, ValueOf(action)});
    }
    if (!stack_.empty()) stack_.back().hasChild = true;
    e.action = ActionOf(e.name, true);
    e.contentBegin = p;
    *pos = p;
    if (empty) {
      if (e.action == kRemove) edits->push_back({lt, p, std::string()});
      if (e.action == kOrientation) return Fail(why, "an empty tiff:Orientation element");
      bindings_.resize(e.scope);
      return true;
    }
    stack_.push_back(std::move(e));
    return true;
  }

  bool EndTag(size_t lt, size_t* pos, std::vector<Edit>* edits, std::string* why) {
    size_t p = lt + 2;
    const size_t nameBegin = p;
    while (p < s_.size() && IsNameChar(s_[p])) ++p;
    const std::string name = s_.substr(nameBegin, p - nameBegin);
    while (p < s_.size() && IsSpace(s_[p])) ++p;
    if (p >= s_.size() || s_[p] != '>') return Fail(why, "an unended end tag");
    ++p;
    if (stack_.empty() || stack_.back().name != name) return Fail(why, "an end tag that ends no open element");
    const Element& e = stack_.back();
    if (e.action == kRemove) {
      edits->push_back({e.tagBegin, p, std::string()});
    } else if (e.action != kNone) {
      // A simple property's text: the whole of it is the value.
      if (e.hasChild) {
        if (e.action == kOrientation) return Fail(why, "a tiff:Orientation element that is no simple value");
      } else {
        edits->push_back({e.contentBegin, lt, ValueOf(e.action)});
      }
    }
    bindings_.resize(e.scope);
    stack_.pop_back();
    *pos = p;
    return true;
  }

  const std::string& s_;
  bool turned_, setSize_;
  std::string width_, height_;
  std::vector<std::pair<std::string, std::string>> bindings_;
  std::vector<Element> stack_;
};

// An APP1 payload of a marker name (with its zero) and bytes.
std::vector<BYTE> Payload(const char* name, size_t nameBytes, const BYTE* data, size_t size) {
  std::vector<BYTE> payload(reinterpret_cast<const BYTE*>(name), reinterpret_cast<const BYTE*>(name) + nameBytes);
  payload.insert(payload.end(), data, data + size);
  return payload;
}

void Put32(std::vector<BYTE>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<BYTE>(v >> shift));
}

// The profile header's colour space, "RGB " for the pictures this program writes.
std::string ProfileColourSpace(const std::vector<BYTE>& profile) {
  if (profile.size() < 20) return {};
  std::string space(profile.begin() + 16, profile.begin() + 20);
  while (!space.empty() && space.back() == ' ') space.pop_back();
  return space;
}

}  // namespace

void SourceMetadata::TakeFromLastRead() {
  Clear();
  iccProfile = TakeBlock(IS_META_ICC);
  iptc = TakeBlock(IS_META_IPTC);
  xmp = TakeBlock(IS_META_XMP);
  xmpExtended = TakeBlock(IS_META_XMP_EXTENDED);
  if (!xmpExtended.empty()) xmpGuid = ExtendedGuid(xmp);
  if (xmpGuid.empty()) xmpExtended.clear();
  profileNote = ISGetReadMetadataNote(IS_META_ICC);
  xmpExtendedNote = ISGetReadMetadataNote(IS_META_XMP_EXTENDED);
  exifNote = ISGetReadMetadataNote(IS_META_EXIF);
}

bool FitXmpToOutput(std::string& packet, bool turned, bool setSize, int width, int height, std::string* why) {
  std::vector<Edit> edits;
  XmpFitter fitter(packet, turned, setSize, std::max(width, 0), std::max(height, 0));
  if (!fitter.Scan(&edits, why)) return false;
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
  std::string out;
  out.reserve(packet.size());
  size_t at = 0;
  for (const Edit& e : edits) {
    if (e.begin < at) continue;  // within a removed property
    out.append(packet, at, e.begin - at);
    out += e.text;
    at = e.end;
  }
  out.append(packet, at, std::string::npos);
  packet.swap(out);
  return true;
}

OutputKind OutputKindOf(int format) {
  switch (format) {
    case IFF_JPEG:
    case IFF_JPEG_GREY: return OutputKind::kJpeg;
    case IFF_PNG:
    case IFF_PNG_INDEXED:
    case IFF_PNG_GREY: return OutputKind::kPng;
    case IFF_TIFF:
    case IFF_TIFF_INDEXED:
    case IFF_TIFF_GREY: return OutputKind::kTiff;
    default: return OutputKind::kOther;
  }
}

const char* OutputFormatName(int format) {
  switch (format) {
    case IFF_BMP:
    case IFF_BMP_INDEXED:
    case IFF_BMP_GREY: return "BMP";
    case IFF_PCX:
    case IFF_PCX_INDEXED:
    case IFF_PCX_GREY: return "PCX";
    case IFF_TGA:
    case IFF_TGA_INDEXED:
    case IFF_TGA_GREY: return "TGA";
    case IFF_PSD: return "PSD";
    case IFF_WMF: return "WMF";
    case IFF_EMF: return "EMF";
    default: return "such";
  }
}

CarriedMetadata MetadataForOutput(const CMainDialog& dialog, OutputKind kind, const char* formatName) {
  CarriedMetadata c;
  const SourceMetadata& source = dialog.m_sourceMetadata;
  // The colour profile: none for a picture matched to sRGB, whose colours it no longer describes.
  if (!source.profileNote.empty()) {
    c.notes.push_back("Colour profile of the source left out: " + source.profileNote);
  } else if (!source.iccProfile.empty() && !dialog.m_colorMatched) {
    const std::string space = ProfileColourSpace(source.iccProfile);
    if (space != "RGB")
      c.notes.push_back("Colour profile of the source left out: it describes " + space +
                        " data, and the output is RGB");
    else if (kind == OutputKind::kJpeg && source.iccProfile.size() > kMaxJpegProfile)
      c.notes.push_back("Colour profile of the source left out: " + std::to_string(source.iccProfile.size()) +
                        " bytes are more than 255 JPEG markers hold");
    else if (kind == OutputKind::kOther)
      c.notes.push_back(std::string("Colour profile of the source left out: ") + formatName +
                        (std::strstr("BMP PCX TGA", formatName) ? " files cannot hold one"
                                                                 : " outputs are written without one"));
    else
      c.iccProfile = source.iccProfile;
  }
  if (kind == OutputKind::kOther) return c;
  if (!source.exifNote.empty()) c.notes.push_back("Camera data of the source left out: " + source.exifNote);
  if (kind != OutputKind::kPng) c.iptc = source.iptc;
  if (source.xmp.empty()) return c;
  // The XMP packets, fitted to the written picture.
  const bool turned = (dialog.m_orientation >= 2 && dialog.m_orientation <= 8) || source.uprightOnRead;
  const bool setSize = turned || dialog.m_workWidth != dialog.m_sourceWidth || dialog.m_workHeight != dialog.m_sourceHeight;
  std::string packet(source.xmp.begin(), source.xmp.end()), why;
  if (!FitXmpToOutput(packet, turned, setSize, dialog.m_workWidth, dialog.m_workHeight, &why)) {
    c.notes.push_back("XMP packet of the source left out: it could not be read as XML (" + why + ")");
    return c;
  }
  if (kind == OutputKind::kJpeg && sizeof kXmpMarker + packet.size() > kMaxMarkerPayload) {
    c.notes.push_back("XMP packet of the source left out: " + std::to_string(packet.size()) +
                      " bytes are more than a JPEG marker holds");
    return c;
  }
  c.xmp.assign(packet.begin(), packet.end());
  if (!source.xmpExtendedNote.empty()) c.notes.push_back("Extended XMP of the source left out: " + source.xmpExtendedNote);
  if (source.xmpExtended.empty()) return c;
  std::string extended(source.xmpExtended.begin(), source.xmpExtended.end());
  const std::string before = extended;
  if (kind != OutputKind::kJpeg)
    c.notes.push_back("Extended XMP of the source left out: only JPEG files hold an extended packet");
  else if (!FitXmpToOutput(extended, turned, setSize, dialog.m_workWidth, dialog.m_workHeight, &why))
    c.notes.push_back("Extended XMP of the source left out: it could not be read as XML (" + why + ")");
  else if (extended != before)
    c.notes.push_back("Extended XMP of the source left out: it describes the picture as it was");
  else
    c.xmpExtended = source.xmpExtended;
  return c;
}

void SetCarriedMetadata(const CarriedMetadata& c, OutputKind kind) {
  ISSetWriteMetadata(IS_META_ICC, c.iccProfile.data(), static_cast<DWORD>(c.iccProfile.size()));
  if (kind != OutputKind::kJpeg) {
    ISSetWriteMetadata(IS_META_IPTC, c.iptc.data(), static_cast<DWORD>(c.iptc.size()));
    ISSetWriteMetadata(IS_META_XMP, c.xmp.data(), static_cast<DWORD>(c.xmp.size()));
    return;
  }
  if (!c.xmp.empty()) {
    const std::vector<BYTE> main = Payload(kXmpMarker, sizeof kXmpMarker, c.xmp.data(), c.xmp.size());
    ISAddJPGMarker(main.data(), static_cast<DWORD>(main.size()), 0xE1);
  }
  const std::vector<char> guid = ExtendedGuid(c.xmp);
  if (!c.xmpExtended.empty() && guid.size() == kGuidDigits) {
    const size_t full = c.xmpExtended.size();
    for (size_t offset = 0; offset < full; offset += kExtendedChunk) {
      const size_t n = std::min(kExtendedChunk, full - offset);
      std::vector<BYTE> chunk(kXmpExtensionMarker, kXmpExtensionMarker + sizeof kXmpExtensionMarker);
      chunk.insert(chunk.end(), guid.begin(), guid.end());
      Put32(chunk, static_cast<uint32_t>(full));
      Put32(chunk, static_cast<uint32_t>(offset));
      chunk.insert(chunk.end(), c.xmpExtended.begin() + offset, c.xmpExtended.begin() + offset + n);
      ISAddJPGMarker(chunk.data(), static_cast<DWORD>(chunk.size()), 0xE1);
    }
  }
  if (!c.iptc.empty()) {
    // One Photoshop resource 0x0404 holding the record, split over APP13 markers as it goes.
    std::vector<BYTE> resource = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0};
    Put32(resource, static_cast<uint32_t>(c.iptc.size()));
    resource.insert(resource.end(), c.iptc.begin(), c.iptc.end());
    if (resource.size() % 2) resource.push_back(0);
    const size_t room = kMaxMarkerPayload - sizeof kPhotoshop;
    for (size_t offset = 0; offset < resource.size(); offset += room) {
      const size_t n = std::min(room, resource.size() - offset);
      const std::vector<BYTE> app13 = Payload(kPhotoshop, sizeof kPhotoshop, resource.data() + offset, n);
      ISAddJPGMarker(app13.data(), static_cast<DWORD>(app13.size()), 0xED);
    }
  }
}

void ClearCarriedMetadata() {
  ISSetWriteMetadata(IS_META_ICC, nullptr, 0);
  ISSetWriteMetadata(IS_META_IPTC, nullptr, 0);
  ISSetWriteMetadata(IS_META_XMP, nullptr, 0);
}
