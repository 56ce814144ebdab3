#include "jpeg_probe.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct ErrorJump {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void OnError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1);
}

bool Decode(FILE* file, JpegProbe* probe, jpeg_decompress_struct* cinfo,
            ErrorJump* error) {
  if (setjmp(error->jump)) return false;
  jpeg_stdio_src(cinfo, file);
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xffff);
  jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xffff);
  jpeg_read_header(cinfo, TRUE);
  probe->progressive = cinfo->progressive_mode;
  probe->luma_sampling = cinfo->comp_info[0].h_samp_factor;
  probe->density_unit = cinfo->density_unit;
  probe->x_density = cinfo->X_density;
  probe->y_density = cinfo->Y_density;
  JOCTET* icc = nullptr;
  unsigned icc_size = 0;
  if (jpeg_read_icc_profile(cinfo, &icc, &icc_size)) {
    probe->icc_profile = QByteArray(reinterpret_cast<char*>(icc), icc_size);
    std::free(icc);
  }
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 &&
        std::memcmp(m->data, "Exif\0\0", 6) == 0) {
      probe->exif =
          QByteArray(reinterpret_cast<char*>(m->data) + 6, m->data_length - 6);
    }
  }
  jpeg_start_decompress(cinfo);
  probe->width = cinfo->output_width;
  probe->height = cinfo->output_height;
  probe->components = cinfo->output_components;
  probe->pixels.resize(size_t{probe->width} * probe->height *
                       probe->components);
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW row = probe->pixels.data() + size_t{cinfo->output_scanline} *
                                              probe->width * probe->components;
    jpeg_read_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

}  // namespace

JpegProbe ProbeJpeg(const QString& path) {
  JpegProbe probe;
  FILE* file = std::fopen(path.toLocal8Bit().constData(), "rb");
  if (!file) return probe;
  jpeg_decompress_struct cinfo{};
  ErrorJump error{};
  cinfo.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = OnError;
  jpeg_create_decompress(&cinfo);
  probe.ok = Decode(file, &probe, &cinfo, &error);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  return probe;
}
