// Metadata blocks built by hand for the tests of their carrying: an ICC profile with a
// description tag, an IPTC record and an XMP packet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrvtest {

// A version 2 display profile of `space` data ("RGB ", "CMYK", "GRAY") whose description is
// `description`, padded with a private tag of `padding` bytes.
std::vector<uint8_t> TestICCProfile(const std::string& description, size_t padding = 0,
                                    const std::string& space = "RGB ");
// An IPTC record (IIM datasets 2:00, 2:120 caption, 2:25 keywords, 2:116 copyright notice).
std::vector<uint8_t> TestIPTC(const std::string& caption, const std::vector<std::string>& keywords,
                              const std::string& copyright);
// A Photoshop image resource {"8BIM", id, empty name, data size, data} padded to an even size.
std::vector<uint8_t> PhotoshopResource(uint16_t id, const std::vector<uint8_t>& data);
// An XMP packet with dc:rights, dc:creator and dc:subject and, when not empty, `tiffAttributes`
// on its rdf:Description (e.g. tiff:Orientation="6") and `extraElements` inside it.
std::string TestXMP(const std::string& tiffAttributes, const std::string& extraElements = std::string());

}  // namespace qrvtest
