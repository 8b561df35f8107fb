#include "jpeg_encoder.h"

#include <algorithm>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace keepframe {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// libjpeg's default handler ends the process; jump back to the encoder instead.
[[noreturn]] void onError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void silent(j_common_ptr, int) {}

}  // namespace

JpegOptions enhancedJpegOptions() { return {98, true, true, false}; }
JpegOptions rawPreviewJpegOptions() { return {100, true, false, false}; }
JpegOptions deliveryCopyJpegOptions() { return {98, true, false, false}; }

bool encodeJpeg(const cv::Mat& image, const JpegOptions& options, std::vector<uint8_t>& out) {
    out.clear();
    if (image.empty() || image.depth() != CV_8U || (image.channels() != 3 && image.channels() != 1)) return false;
    const cv::Mat src = image.isContinuous() ? image : image.clone();

    jpeg_compress_struct cinfo;
    ErrorManager err;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = silent;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        out.clear();
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(src.cols);
    cinfo.image_height = JDIMENSION(src.rows);
    cinfo.input_components = src.channels();
    cinfo.in_color_space = src.channels() == 3 ? JCS_EXT_BGR : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, options.quality, TRUE);
    cinfo.optimize_coding = options.optimize ? TRUE : FALSE;
    if (options.progressive) jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = std::max(0, options.restartRows);
    if (src.channels() == 3 && (options.fullChroma || options.halfChroma)) {
        for (int c = 0; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
        if (!options.fullChroma) cinfo.comp_info[0].h_samp_factor = 2;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(src.ptr<uchar>(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    out.assign(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return true;
}

}  // namespace keepframe
