#include "support/metadata_blocks.h"

namespace qrvtest {

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

void PutText(std::vector<uint8_t>& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

}  // namespace

std::vector<uint8_t> TestICCProfile(const std::string& description, size_t padding, const std::string& space) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> tags;
  std::vector<uint8_t> desc;
  PutText(desc, "desc");
  Put32(desc, 0);
  Put32(desc, static_cast<uint32_t>(description.size() + 1));
  PutText(desc, description);
  desc.push_back(0);
  desc.resize(desc.size() + 4 + 4 + 2 + 1 + 67, 0);  // no Unicode or ScriptCode text
  tags.emplace_back("desc", desc);
  std::vector<uint8_t> white;
  PutText(white, "XYZ ");
  for (uint32_t v : {0u, 63190u, 65536u, 54061u}) Put32(white, v);
  tags.emplace_back("wtpt", white);
  if (padding) {
    std::vector<uint8_t> priv;
    PutText(priv, "priv");
    Put32(priv, 0);
    for (size_t i = 0; i < padding; ++i) priv.push_back(static_cast<uint8_t>(i * 7 + i / 251));
    tags.emplace_back("priv", priv);
  }
  std::vector<uint8_t> table, data;
  const uint32_t base = 128 + 4 + 12 * static_cast<uint32_t>(tags.size());
  for (const auto& t : tags) {
    while ((base + data.size()) % 4) data.push_back(0);
    PutText(table, t.first);
    Put32(table, base + static_cast<uint32_t>(data.size()));
    Put32(table, static_cast<uint32_t>(t.second.size()));
    data.insert(data.end(), t.second.begin(), t.second.end());
  }
  std::vector<uint8_t> p;
  Put32(p, static_cast<uint32_t>(base + data.size()));
  PutText(p, "none");
  Put32(p, 0x02100000);
  PutText(p, "mntr");
  PutText(p, (space + "    ").substr(0, 4));
  PutText(p, "XYZ ");
  p.resize(p.size() + 12, 0);
  PutText(p, "acspAPPL");
  p.resize(p.size() + 4, 0);
  PutText(p, "nonenone");
  p.resize(p.size() + 12, 0);
  for (uint32_t v : {63190u, 65536u, 54061u}) Put32(p, v);
  PutText(p, "none");
  p.resize(128, 0);
  Put32(p, static_cast<uint32_t>(tags.size()));
  p.insert(p.end(), table.begin(), table.end());
  p.insert(p.end(), data.begin(), data.end());
  return p;
}

std::vector<uint8_t> TestIPTC(const std::string& caption, const std::vector<std::string>& keywords,
                              const std::string& copyright) {
  std::vector<uint8_t> r;
  const auto dataset = [&](uint8_t number, const std::string& value) {
    for (uint8_t b : {uint8_t{0x1C}, uint8_t{0x02}, number, static_cast<uint8_t>(value.size() >> 8),
                      static_cast<uint8_t>(value.size())})
      r.push_back(b);
    PutText(r, value);
  };
  dataset(0, std::string("\0\4", 2));
  dataset(120, caption);
  for (const std::string& k : keywords) dataset(25, k);
  dataset(116, copyright);
  return r;
}

std::vector<uint8_t> PhotoshopResource(uint16_t id, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> r = {'8', 'B', 'I', 'M', static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0, 0};
  Put32(r, static_cast<uint32_t>(data.size()));
  r.insert(r.end(), data.begin(), data.end());
  if (r.size() % 2) r.push_back(0);
  return r;
}

std::string TestXMP(const std::string& tiffAttributes, const std::string& extraElements) {
  return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
         "  <rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
         "    xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
         "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmlns:xmpGImg=\"http://ns.adobe.com/xap/1.0/g/img/\"\n"
         "    " + tiffAttributes + ">\n"
         "   <dc:rights><rdf:Alt><rdf:li xml:lang=\"x-default\">XMP rights</rdf:li></rdf:Alt></dc:rights>\n"
         "   <dc:creator><rdf:Seq><rdf:li>Ann Author</rdf:li></rdf:Seq></dc:creator>\n"
         "   <dc:subject><rdf:Bag><rdf:li>alpha</rdf:li><rdf:li>beta</rdf:li></rdf:Bag></dc:subject>\n" +
         extraElements +
         "  </rdf:Description>\n"
         " </rdf:RDF>\n"
         "</x:xmpmeta>\n"
         "<?xpacket end=\"w\"?>";
}

}  // namespace qrvtest
