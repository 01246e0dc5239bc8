#include "capture/v4l2/jpeg_frame_decoder.h"

#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

namespace capture {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  bool damaged = false;
};

void ExitOnError(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }

// Warnings about the entropy-coded data mean parts of the image are made up: such a frame is dropped.
// Others (extra bytes between markers, which some cameras leave) are harmless.
void NoteWarning(j_common_ptr info, int level) {
  if (level != -1) return;
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  manager->base.num_warnings++;
  switch (manager->base.msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION: manager->damaged = true; break;
    default: break;
  }
}

void SayNothing(j_common_ptr) {}

}  // namespace

struct JpegFrameDecoder::State {
  jpeg_decompress_struct info{};
  ErrorManager errors;
};

JpegFrameDecoder::JpegFrameDecoder() : state_(std::make_unique<State>()) {
  state_->info.err = jpeg_std_error(&state_->errors.base);
  state_->errors.base.error_exit = ExitOnError;
  state_->errors.base.emit_message = NoteWarning;
  state_->errors.base.output_message = SayNothing;
  jpeg_create_decompress(&state_->info);
}

JpegFrameDecoder::~JpegFrameDecoder() { jpeg_destroy_decompress(&state_->info); }

bool JpegFrameDecoder::Decode(const std::uint8_t* data, std::size_t size, int width, int height,
                              std::uint8_t* destination, std::size_t stride, bool bottomUp) {
  jpeg_decompress_struct& info = state_->info;
  ErrorManager& errors = state_->errors;
  if (!data || size < 4 || width < 1 || height < 1) return false;
  errors.damaged = false;
  if (setjmp(errors.jump)) {
    jpeg_abort_decompress(&info);
    return false;
  }
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || info.image_width != static_cast<JDIMENSION>(width) ||
      info.image_height != static_cast<JDIMENSION>(height)) {
    jpeg_abort_decompress(&info);
    return false;
  }
  info.out_color_space = JCS_EXT_BGR;
  info.scale_num = 1;
  info.scale_denom = 1;
  jpeg_start_decompress(&info);
  if (info.output_width != static_cast<JDIMENSION>(width) || info.output_height != static_cast<JDIMENSION>(height) ||
      info.output_components != 3) {
    jpeg_abort_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[16];
    const JDIMENSION first = info.output_scanline;
    JDIMENSION count = info.output_height - first;
    if (count > 16) count = 16;
    for (JDIMENSION i = 0; i < count; ++i) {
      const std::size_t row = bottomUp ? static_cast<std::size_t>(height) - 1 - (first + i) : first + i;
      rows[i] = destination + row * stride;
    }
    if (jpeg_read_scanlines(&info, rows, count) == 0) {  // suspended: the data ended
      jpeg_abort_decompress(&info);
      return false;
    }
  }
  jpeg_finish_decompress(&info);
  return !errors.damaged;
}

}  // namespace capture
