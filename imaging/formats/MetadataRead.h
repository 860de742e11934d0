// The metadata blocks a read meets (colour profile, IPTC record, XMP packets), kept in the
// thread's record for ISGetReadMetadata, and the checks a colour profile must pass to be kept.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/core/ISThreadState.h"

// Forgets what the last read met; every reader that keeps metadata calls it first.
void ClearMetadataRead();
// Keeps a copy of a block of `kind` (IS_META_*) met by the read in progress, in place of an
// earlier one; a block that cannot be copied is not kept.
void KeepMetadataRead(DWORD kind, const uint8_t* data, uint64_t size);
// Records why a block of `kind` that the read met was left out (the first reason is kept).
void NoteMetadataLeftOut(DWORD kind, const char* why);
// Keeps a colour profile when its header holds together: its stored length is its size and it
// has the "acsp" signature; otherwise notes why it was left out. `where` names its place in the
// file ("PNG iCCP chunk").
void KeepICCProfileRead(const uint8_t* data, uint64_t size, const char* where);
// Keeps the IPTC record (resource 0x0404), the colour profile (resource 1039) or the XMP packet
// (resource 1060) of a Photoshop image-resources block ("8BIM" records), when it holds them and
// they are asked for; one asked for that runs past the block is noted as left out.
void KeepPhotoshopResourcesRead(const uint8_t* block, uint32_t size, bool iptc, bool profile, bool xmp = false);
// The 32 hex digits an XMP packet names its extended packet by (xmpNote:HasExtendedXMP, as an
// attribute or an element); empty when it names none.
std::string XMPExtendedGUID(const uint8_t* packet, size_t size);
// Whether `size` bytes at `data` begin with a TIFF header ("II*\0" or "MM\0*"), as an EXIF
// block's TIFF structure does.
bool IsTIFFHeader(const uint8_t* data, uint64_t size);
