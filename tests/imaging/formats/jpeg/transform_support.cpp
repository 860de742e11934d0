// Helpers of the lossless-transform tests (see transform_support.h).
#include "transform_support.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>

namespace xformtest {

TransformResult Transform(const Bytes& jpeg, DWORD mode, int32_t x, int32_t y, uint32_t w, uint32_t h) {
  TransformResult r;
  std::vector<uint8_t> buffer(jpeg.size() * 2 + 65536);
  ISIOHandle src = ISOpenMemorySource(jpeg.data(), static_cast<DWORD>(jpeg.size()));
  ISIOHandle dst = ISOpenMemorySink(buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (!src || !dst) return r;
  r.ok = ISTransformJPG(src, dst, mode, x, y, w, h) != FALSE;
  r.error = ISGetLastError();
  ISGetSourceSize(dst, &r.sinkSize);
  ISCloseSource(src);
  ISCloseSink(dst);
  if (r.ok) r.out.assign(buffer.begin(), buffer.begin() + r.sinkSize);
  return r;
}

Bytes Jpegtran(const Bytes& jpeg, const std::string& args) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in.jpg"), out = dir.File("out.jpg");
  if (!qrvtest::WriteFileBytes(in, jpeg)) return {};
  int status = -1;
  qrvtest::RunCommand("jpegtran -copy all " + args + " -outfile " + out + " " + in + " 2>/dev/null", &status);
  if (status != 0) return {};
  return qrvtest::ReadFileBytes(out);
}

std::string JpegtranArgs(DWORD mode, int32_t x, int32_t y, uint32_t w, uint32_t h) {
  std::string a;
  switch (mode & 0xFF) {
    case 1: a = "-flip horizontal"; break;
    case 2: a = "-flip vertical"; break;
    case 3: a = "-transverse"; break;
    case 4: a = "-transpose"; break;
    case 5: a = "-rotate 90"; break;
    case 6: a = "-rotate 180"; break;
    case 7: a = "-rotate 270"; break;
    case 8: {
      auto offset = [](int32_t v) {
        return (v < 0 ? "-" : "+") + std::to_string(v < 0 ? -int64_t{v} : int64_t{v});
      };
      a = "-crop " + std::to_string(w) + "x" + std::to_string(h) + offset(x) + offset(y);
      break;
    }
    default: break;
  }
  if (!(mode & 0x200)) a += " -trim";
  if (mode & 0x100) a += " -grayscale";
  if (mode & 0x400) a += " -progressive";
  return a;
}

namespace {

void ThrowingExit(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  cinfo->err->format_message(cinfo, text);
  throw std::runtime_error(text);
}
void Silent(j_common_ptr) {}

}  // namespace

Coefficients ReadCoefficients(const Bytes& jpeg) {
  Coefficients c;
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  err.error_exit = ThrowingExit;
  err.output_message = Silent;
  jpeg_create_decompress(&cinfo);
  try {
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
    c.width = cinfo.image_width;
    c.height = cinfo.image_height;
    c.colourSpace = cinfo.jpeg_color_space;
    for (int ci = 0; ci < cinfo.num_components; ++ci) {
      const jpeg_component_info* info = cinfo.comp_info + ci;
      Component comp;
      comp.h = info->h_samp_factor;
      comp.v = info->v_samp_factor;
      comp.widthInBlocks = info->width_in_blocks;
      comp.heightInBlocks = info->height_in_blocks;
      comp.quant.assign(info->quant_table->quantval, info->quant_table->quantval + 64);
      for (JDIMENSION row = 0; row < info->height_in_blocks; ++row) {
        JBLOCKARRAY b = (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo), arrays[ci], row,
                                                          1, FALSE);
        for (JDIMENSION col = 0; col < info->width_in_blocks; ++col)
          comp.coef.insert(comp.coef.end(), b[0][col], b[0][col] + 64);
      }
      c.comps.push_back(std::move(comp));
    }
    c.ok = true;
  } catch (const std::runtime_error&) {
    c.ok = false;
  }
  jpeg_destroy_decompress(&cinfo);
  return c;
}

Bytes InsertSegment(const Bytes& jpeg, int code, const Bytes& payload, bool afterSOI) {
  size_t at = 2;
  if (!afterSOI && jpeg.size() >= 6) at = 4 + ((size_t{jpeg[4]} << 8) | jpeg[5]);
  if (at > jpeg.size()) at = jpeg.size();
  const size_t len = payload.size() + 2;
  Bytes out(jpeg.size() + 2 + len);
  std::memcpy(out.data(), jpeg.data(), at);
  out[at] = 0xFF;
  out[at + 1] = static_cast<uint8_t>(code);
  out[at + 2] = static_cast<uint8_t>(len >> 8);
  out[at + 3] = static_cast<uint8_t>(len);
  if (!payload.empty()) std::memcpy(out.data() + at + 4, payload.data(), payload.size());
  std::memcpy(out.data() + at + 2 + len, jpeg.data() + at, jpeg.size() - at);
  return out;
}

}  // namespace xformtest
