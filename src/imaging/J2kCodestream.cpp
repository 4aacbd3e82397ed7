// OpenJPEG reads a code stream from memory; its header is checked against the
// data set before anything is decoded.

#include "J2k.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace imaging::detail {

namespace {

struct Source {
    const Uint8* data;
    OPJ_SIZE_T size;
    OPJ_SIZE_T position = 0;
};

OPJ_SIZE_T readBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* source = static_cast<Source*>(user);
    if (source->position >= source->size) {
        return static_cast<OPJ_SIZE_T>(-1);
    }
    count = std::min(count, source->size - source->position);
    std::memcpy(buffer, source->data + source->position, count);
    source->position += count;
    return count;
}

OPJ_OFF_T skipBytes(OPJ_OFF_T count, void* user) {
    auto* source = static_cast<Source*>(user);
    const auto position = static_cast<OPJ_OFF_T>(source->position);
    count = std::clamp(count, -position, static_cast<OPJ_OFF_T>(source->size) - position);
    source->position = static_cast<OPJ_SIZE_T>(position + count);
    return count;
}

OPJ_BOOL seekBytes(OPJ_OFF_T offset, void* user) {
    auto* source = static_cast<Source*>(user);
    if (offset < 0 || static_cast<OPJ_SIZE_T>(offset) > source->size) {
        return OPJ_FALSE;
    }
    source->position = static_cast<OPJ_SIZE_T>(offset);
    return OPJ_TRUE;
}

void silent(const char* /*message*/, void* /*user*/) {}

struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

} // namespace

template <typename T>
bool decodeFrame(const Uint8* stream, std::size_t size, const Layout& layout, T* out) {
    static constexpr Uint8 jp2Signature[] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' '};
    if (size < sizeof jp2Signature) {
        return false;
    }
    const bool jp2 = std::equal(std::begin(jp2Signature), std::end(jp2Signature), stream);
    std::unique_ptr<opj_codec_t, CodecDeleter> codec(
        opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    std::unique_ptr<opj_stream_t, StreamDeleter> input(opj_stream_create(64 * 1024, OPJ_TRUE));
    if (!codec || !input) {
        return false;
    }
    opj_set_error_handler(codec.get(), silent, nullptr);
    opj_set_warning_handler(codec.get(), silent, nullptr);
    opj_set_info_handler(codec.get(), silent, nullptr);
    Source source{stream, size};
    opj_stream_set_user_data(input.get(), &source, nullptr);
    opj_stream_set_user_data_length(input.get(), size);
    opj_stream_set_read_function(input.get(), readBytes);
    opj_stream_set_skip_function(input.get(), skipBytes);
    opj_stream_set_seek_function(input.get(), seekBytes);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* raw = nullptr;
    // Strict: a truncated code stream is refused rather than shown in part.
    if (!opj_setup_decoder(codec.get(), &parameters) ||
        !opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE) ||
        !opj_read_header(input.get(), codec.get(), &raw)) {
        opj_image_destroy(raw);
        return false;
    }
    std::unique_ptr<opj_image_t, ImageDeleter> image(raw);
    // The header is checked before decoding, so a code stream claiming a huge
    // image is refused before anything is allocated for it.
    if (image->numcomps != layout.samples) {
        return false;
    }
    for (OPJ_UINT32 c = 0; c < image->numcomps; ++c) {
        const opj_image_comp_t& component = image->comps[c];
        if (component.w != layout.columns || component.h != layout.rows || component.dx != 1 ||
            component.dy != 1 || component.prec == 0 || component.prec > layout.allocated) {
            return false;
        }
    }
    if (!opj_decode(codec.get(), input.get(), image.get()) ||
        !opj_end_decompress(codec.get(), input.get())) {
        return false;
    }
    for (OPJ_UINT32 c = 0; c < image->numcomps; ++c) {
        if (image->comps[c].data == nullptr || image->comps[c].w != layout.columns ||
            image->comps[c].h != layout.rows) {
            return false;
        }
    }
    // A stream whose sign differs from Pixel Representation keeps its bit
    // pattern, which the Pixel Representation then gives its meaning.
    const std::size_t pixels = std::size_t{layout.rows} * layout.columns;
    const std::size_t samples = image->numcomps;
    for (std::size_t c = 0; c < samples; ++c) {
        const OPJ_INT32* from = image->comps[c].data;
        T* to = out + c;
        for (std::size_t p = 0; p < pixels; ++p, to += samples) {
            *to = static_cast<T>(from[p]);
        }
    }
    return true;
}

template bool decodeFrame<Uint8>(const Uint8*, std::size_t, const Layout&, Uint8*);
template bool decodeFrame<Uint16>(const Uint8*, std::size_t, const Layout&, Uint16*);

} // namespace imaging::detail
