#include "LogoPicture.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "text/Error.h"

Size LogoDrawSize(Size picture, Size control) {
    if (picture.width <= control.width && picture.height <= control.height) {
        return picture;
    }
    const double aspect = static_cast<double>(picture.width) / picture.height;
    Size drawn;
    if (picture.width > picture.height) {
        drawn = {control.width, static_cast<int>(control.width / aspect)};
        if (drawn.height > control.height) {
            drawn = {static_cast<int>(control.height * aspect), control.height};
        }
    } else {
        drawn = {static_cast<int>(control.height * aspect), control.height};
        if (drawn.width > control.width) {
            drawn = {control.width, static_cast<int>(control.width / aspect)};
        }
    }
    return drawn;
}

namespace {

// The decoder reports a fatal error by calling error_exit, which must not return: it jumps back
// to Decode, so that no C++ exception travels through the C library's frames.
struct JumpingErrorManager {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void JumpOut(j_common_ptr info) {
    auto* errors = reinterpret_cast<JumpingErrorManager*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Holds no object with a destructor, as longjmp skips them; false on a decoder error.
bool Decode(std::span<const std::uint8_t> jpeg, jpeg_decompress_struct& info,
            JumpingErrorManager& errors, Picture& picture) {
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JumpOut;
    if (setjmp(errors.jump) != 0) {
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    // Always three components, in the bitmap's order: the same values as red, green and blue,
    // without a pass to swap them. A grey picture is widened.
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    picture.size = {static_cast<int>(info.output_width), static_cast<int>(info.output_height)};
    picture.stride = (static_cast<std::size_t>(info.output_width) * 3 + 3) / 4 * 4;
    picture.rows.resize(picture.stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = picture.rows.data() + picture.stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

Picture DecodeJpeg(std::span<const std::uint8_t> jpeg) {
    jpeg_decompress_struct info{};
    JumpingErrorManager errors;
    Picture picture;
    const bool decoded = Decode(jpeg, info, errors, picture);
    jpeg_destroy_decompress(&info);
    if (!decoded) {
        throw Error(FromUtf8(errors.message));
    }
    return picture;
}
