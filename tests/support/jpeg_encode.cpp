#include "support/jpeg_encode.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace qrvtest {

namespace {

[[noreturn]] void Throw(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX] = {};
  cinfo->err->format_message(cinfo, message);
  throw std::runtime_error(message);
}

}  // namespace

std::vector<uint8_t> EncodeJPEG(uint32_t w, uint32_t h, const std::vector<uint8_t>& factors, const std::string& kind,
                                int arithmeticScans, unsigned restart) {
  const int comps = static_cast<int>(factors.size());
  std::vector<JSAMPLE> row(size_t{w} * comps);
  jpeg_error_mgr err{};
  jpeg_compress_struct c{};
  c.err = jpeg_std_error(&err);
  err.error_exit = Throw;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  std::vector<jpeg_scan_info> scans;
  std::vector<uint8_t> jpeg;
  try {
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = w, c.image_height = h, c.input_components = comps;
    c.in_color_space = comps == 1 ? JCS_GRAYSCALE : comps == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    for (int i = 0; i < comps; ++i)
      c.comp_info[i].h_samp_factor = factors[i] >> 4, c.comp_info[i].v_samp_factor = factors[i] & 15;
    c.restart_interval = restart;
    if (kind == "simple") jpeg_simple_progression(&c);
    if (kind == "arithmetic") {
      c.arith_code = TRUE;
      jpeg_scan_info dc{};
      dc.comps_in_scan = comps;
      for (int i = 0; i < comps; ++i) dc.component_index[i] = i;
      scans.push_back(dc);
      for (int k = 1; static_cast<int>(scans.size()) < arithmeticScans; ++k) {
        jpeg_scan_info ac{};
        ac.comps_in_scan = 1, ac.Ss = k, ac.Se = k;
        scans.push_back(ac);
      }
      c.scan_info = scans.data(), c.num_scans = static_cast<int>(scans.size());
    }
    jpeg_start_compress(&c, TRUE);
    for (uint32_t y = 0; y < h; ++y) {
      for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<JSAMPLE>((i / comps + y) & 0xFF);
      JSAMPROW r = row.data();
      jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg.assign(out, out + size);
  } catch (const std::runtime_error&) {
  }
  jpeg_destroy_compress(&c);
  std::free(out);
  return jpeg;
}

}  // namespace qrvtest
