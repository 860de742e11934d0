// Carrying a source's colour profile, EXIF block, IPTC record, XMP packets and comments into its
// outputs: the XMP fitted to the written picture by a small XML scan that keeps every byte it
// does not change.
#include "engine/OutputMetadata.h"

#include <algorithm>
#include <cstring>

#include "engine/CRGBImage.h"
#include "engine/OutputExif.h"
#include "engine/shell/CMainDialog.h"

namespace {

constexpr char kTiffNs[] = "http://ns.adobe.com/tiff/1.0/";
constexpr char kExifNs[] = "http://ns.adobe.com/exif/1.0/";
constexpr char kXmpNs[] = "http://ns.adobe.com/xap/1.0/";
constexpr char kXmpNoteNs[] = "http://ns.adobe.com/xmp/note/";
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
  char guid[kGuidDigits + 1] = {};
  if (!ISGetXMPExtendedGUID(packet.data(), static_cast<DWORD>(packet.size()), guid)) return {};
  return std::vector<char>(guid, guid + kGuidDigits);
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
  XmpFitter(const std::string& s, bool turned, bool setSize, int width, int height, bool dropExtension)
      : s_(s),
        turned_(turned),
        setSize_(setSize),
        dropExtension_(dropExtension),
        width_(std::to_string(width)),
        height_(std::to_string(height)) {}

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
    if (dropExtension_ && ns == kXmpNoteNs && local == "HasExtendedXMP") return kRemove;
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
      size_t nameBegin, begin, end;
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
      attributes.push_back({name, attrBegin, p, valueEnd});
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
      if (action == kRemove) {
        // The attribute goes with the blanks before it and its closing quote.
        size_t from = a.nameBegin;
        while (from > lt && IsSpace(s_[from - 1])) --from;
        edits->push_back({from, a.end + 1, std::string()});
      } else if (action != kNone) {
        edits->push_back({a.begin, a.end, ValueOf(action)});
      }
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
  bool turned_, setSize_, dropExtension_;
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
  iptcNote = ISGetReadMetadataNote(IS_META_IPTC);
  xmpNote = ISGetReadMetadataNote(IS_META_XMP);
  exifNote = ISGetReadMetadataNote(IS_META_EXIF);
}

void SourceMetadata::TakeJpegComments() {
  comments.clear();
  const DWORD count = ISGetJPGCommentCount();
  for (DWORD i = 0; i < count; ++i) {
    HGLOBAL text = ISGetJPGComment(i);
    if (!text) continue;
    const char* chars = static_cast<const char*>(text);
    comments.emplace_back(chars, strnlen(chars, GlobalSize(text)));
    GlobalFree(text);
  }
}

bool FitXmpToOutput(std::string& packet, bool turned, bool setSize, int width, int height, std::string* why,
                    bool dropExtension) {
  std::vector<Edit> edits;
  XmpFitter fitter(packet, turned, setSize, std::max(width, 0), std::max(height, 0), dropExtension);
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
    case IFF_JPEG:
    case IFF_JPEG_GREY: return "JPEG";
    case IFF_PNG:
    case IFF_PNG_INDEXED:
    case IFF_PNG_GREY: return "PNG";
    case IFF_TIFF:
    case IFF_TIFF_INDEXED:
    case IFF_TIFF_GREY: return "TIFF";
    case IFF_WMF: return "WMF";
    case IFF_EMF: return "EMF";
    default: return "such";
  }
}

namespace {

// The XMP packets an output carries, fitted to the written picture; the main packet keeps its
// HasExtendedXMP property only when the extended packet goes with it.
void CarryXmp(const CMainDialog& dialog, OutputKind kind, CarriedMetadata& c) {
  const SourceMetadata& source = dialog.m_sourceMetadata;
  if (source.xmp.empty()) return;
  const bool turned = (dialog.m_orientation >= 2 && dialog.m_orientation <= 8) || source.uprightOnRead;
  const bool setSize = turned || dialog.m_workWidth != dialog.m_sourceWidth || dialog.m_workHeight != dialog.m_sourceHeight;
  std::string why;
  std::vector<std::string> extendedNotes;
  if (!source.xmpExtendedNote.empty()) extendedNotes.push_back(source.xmpExtendedNote);
  if (!source.xmpExtended.empty()) {
    std::string extended(source.xmpExtended.begin(), source.xmpExtended.end());
    const std::string before = extended;
    if (kind != OutputKind::kJpeg)
      extendedNotes.push_back("only JPEG files hold an extended packet");
    else if (!FitXmpToOutput(extended, turned, setSize, dialog.m_workWidth, dialog.m_workHeight, &why))
      extendedNotes.push_back("it could not be read as XML (" + why + ")");
    else if (extended != before)
      extendedNotes.push_back("it describes the picture as it was");
    else
      c.xmpExtended = source.xmpExtended;
  }
  std::string packet(source.xmp.begin(), source.xmp.end());
  if (!FitXmpToOutput(packet, turned, setSize, dialog.m_workWidth, dialog.m_workHeight, &why, c.xmpExtended.empty())) {
    c.notes.push_back("XMP packet of the source left out: it could not be read as XML (" + why + ")");
    c.xmpExtended.clear();
    return;
  }
  if (kind == OutputKind::kJpeg && sizeof kXmpMarker + packet.size() > kMaxMarkerPayload) {
    c.notes.push_back("XMP packet of the source left out: " + std::to_string(packet.size()) +
                      " bytes are more than a JPEG marker holds");
    c.xmpExtended.clear();
    return;
  }
  c.xmp.assign(packet.begin(), packet.end());
  for (const std::string& note : extendedNotes) c.notes.push_back("Extended XMP of the source left out: " + note);
}

}  // namespace

CarriedMetadata MetadataForOutput(const CMainDialog& dialog, OutputKind kind, const char* formatName) {
  CarriedMetadata c;
  const SourceMetadata& source = dialog.m_sourceMetadata;
  std::vector<std::string> cannot;  // what the source has that this kind of output cannot hold
  // Keep EXIF governs every block the source carries but its colour profile, which is colour
  // data: with it off none reaches the output, and nothing is said of it.
  const bool keep = dialog.m_pages.sizeQuality.m_keepExif != 0;
  // What the reader left out, and why.
  if (keep && !source.exifNote.empty()) c.notes.push_back("Camera data of the source left out: " + source.exifNote);
  if (keep && !source.xmpNote.empty()) c.notes.push_back("XMP packet of the source left out: " + source.xmpNote);
  if (keep && dialog.m_exifBlock.size() > 4) {
    if (kind == OutputKind::kPng || kind == OutputKind::kTiff) {
      std::string note;
      c.exif = ExifForOutput(dialog, &note);
      if (!note.empty()) c.notes.push_back(note);
    } else if (kind != OutputKind::kJpeg) {  // a JPEG's goes through its own marker
      cannot.push_back("EXIF");
    }
  }
  if (keep && kind == OutputKind::kOther) {
    if (!source.xmp.empty()) cannot.push_back("XMP");
  } else if (keep) {
    CarryXmp(dialog, kind, c);
  }
  if (keep && !source.iptcNote.empty()) c.notes.push_back("IPTC record of the source left out: " + source.iptcNote);
  if (keep && !source.iptc.empty()) {
    if (kind == OutputKind::kJpeg || kind == OutputKind::kTiff)
      c.iptc = source.iptc;
    else
      cannot.push_back("IPTC");
  }
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
      cannot.push_back("colour profile");
    else
      c.iccProfile = source.iccProfile;
  }
  // The comments: "sRGB Matched", the mark of a picture already matched, is this program's own
  // and goes whatever Keep EXIF says; the output writes its own when it matched the colours.
  for (const std::string& comment : source.comments) {
    const bool mark = comment == "sRGB Matched";
    if ((!keep && !mark) || (mark && dialog.m_colorMatched) || comment.empty()) continue;
    if (kind == OutputKind::kJpeg)
      c.comments.push_back(comment);
    else if (!mark && std::find(cannot.begin(), cannot.end(), "comments") == cannot.end())
      cannot.push_back("comments");
  }
  if (!cannot.empty()) {
    std::string list;
    for (const std::string& item : cannot) list += (list.empty() ? "" : ", ") + item;
    c.notes.push_back(std::string("Left out of the ") + formatName + " output: " + list);
  }
  return c;
}

void SetCarriedMetadata(const CarriedMetadata& c, OutputKind kind) {
  ISSetWriteMetadata(IS_META_ICC, c.iccProfile.data(), static_cast<DWORD>(c.iccProfile.size()));
  ISSetWriteMetadata(IS_META_EXIF, c.exif.data(), static_cast<DWORD>(c.exif.size()));
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
  ISSetWriteMetadata(IS_META_EXIF, nullptr, 0);
  ISSetWriteMetadata(IS_META_IPTC, nullptr, 0);
  ISSetWriteMetadata(IS_META_XMP, nullptr, 0);
}
