// The FFmpeg entry points the engine and the player call, one X-macro list per library.
// Each name becomes a pointer `ff::name` of type decltype(&::name), resolved at load time;
// nothing links FFmpeg directly, so a call that bypasses `ff::` fails to link.
// Every entry is required: a library lacking one does not load.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/avfft.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <cstdio>
#include <cstdlib>
#include <cstring>

// clang-format off
#define FF_AVCODEC_ENTRIES(X) \
  X(av_codec_is_decoder) X(av_codec_is_encoder) X(av_codec_iterate) \
  X(av_get_bits_per_sample) X(av_get_exact_bits_per_sample) X(av_get_audio_frame_duration2) \
  X(av_new_packet) X(av_packet_alloc) X(av_packet_clone) X(av_packet_copy_props) \
  X(av_packet_free) X(av_packet_get_side_data) X(av_packet_move_ref) X(av_packet_ref) X(av_packet_rescale_ts) \
  X(av_packet_unref) X(av_packet_make_refcounted) X(av_grow_packet) X(av_shrink_packet) \
  X(av_parser_init) X(av_parser_parse2) X(av_parser_close) \
  X(av_bsf_alloc) X(av_bsf_free) X(av_bsf_get_by_name) X(av_bsf_init) \
  X(av_bsf_receive_packet) X(av_bsf_send_packet) X(av_bsf_flush) \
  X(av_rdft_init) X(av_rdft_calc) X(av_rdft_end) \
  X(avcodec_align_dimensions2) X(avcodec_alloc_context3) X(avcodec_close) \
  X(avcodec_decode_subtitle2) X(avcodec_descriptor_get) X(avcodec_encode_subtitle) \
  X(avcodec_find_decoder) X(avcodec_find_decoder_by_name) X(avcodec_find_encoder) \
  X(avcodec_find_encoder_by_name) X(avcodec_flush_buffers) X(avcodec_free_context) \
  X(avcodec_get_class) X(avcodec_get_name) X(avcodec_open2) \
  X(avcodec_parameters_alloc) X(avcodec_parameters_copy) X(avcodec_parameters_free) \
  X(avcodec_parameters_from_context) X(avcodec_parameters_to_context) \
  X(avcodec_receive_frame) X(avcodec_receive_packet) X(avcodec_send_frame) \
  X(avcodec_send_packet) X(avcodec_string) X(avcodec_version) X(avsubtitle_free)

#define FF_AVDEVICE_ENTRIES(X) \
  X(avdevice_register_all) X(avdevice_version)

#define FF_AVFILTER_ENTRIES(X) \
  X(av_buffersink_get_format) X(av_buffersink_get_frame) X(av_buffersink_get_frame_flags) \
  X(av_buffersink_get_frame_rate) X(av_buffersink_get_h) X(av_buffersink_get_sample_aspect_ratio) \
  X(av_buffersink_get_time_base) X(av_buffersink_get_w) X(av_buffersink_set_frame_size) \
  X(av_buffersrc_add_frame_flags) X(av_buffersrc_parameters_alloc) X(av_buffersrc_parameters_set) \
  X(av_filter_iterate) X(avfilter_get_by_name) X(avfilter_graph_alloc) \
  X(avfilter_graph_config) X(avfilter_graph_create_filter) X(avfilter_graph_free) \
  X(avfilter_graph_parse_ptr) X(avfilter_graph_send_command) X(avfilter_inout_alloc) \
  X(avfilter_inout_free) X(avfilter_link) X(avfilter_version)

#define FF_AVFORMAT_ENTRIES(X) \
  X(av_codec_get_id) X(av_codec_get_tag) X(av_demuxer_iterate) X(av_dump_format) \
  X(av_filename_number_test) X(av_find_best_stream) X(av_find_input_format) \
  X(av_guess_codec) X(av_guess_format) X(av_guess_frame_rate) X(av_guess_sample_aspect_ratio) \
  X(av_interleaved_write_frame) X(av_muxer_iterate) X(av_read_frame) X(av_read_pause) \
  X(av_read_play) X(av_sdp_create) X(av_seek_frame) X(av_stream_get_end_pts) X(av_stream_get_side_data) X(av_write_frame) X(av_write_trailer) \
  X(avformat_alloc_context) X(avformat_alloc_output_context2) X(avformat_close_input) \
  X(avformat_find_stream_info) X(avformat_free_context) X(avformat_get_class) \
  X(avformat_init_output) X(avformat_match_stream_specifier) X(avformat_new_stream) \
  X(avformat_open_input) X(avformat_query_codec) X(avformat_seek_file) X(avformat_version) \
  X(avformat_write_header) X(avio_alloc_context) X(avio_close) X(avio_closep) \
  X(avio_context_free) X(avio_find_protocol_name) X(avio_flush) X(avio_open2) X(avio_read) \
  X(avio_seek) X(avio_size) X(avio_write)

#define FF_AVUTIL_ENTRIES(X) \
  X(av_add_q) X(av_audio_fifo_alloc) X(av_audio_fifo_drain) X(av_audio_fifo_free) \
  X(av_audio_fifo_read) X(av_audio_fifo_realloc) X(av_audio_fifo_size) X(av_audio_fifo_write) \
  X(av_channel_layout_compare) X(av_channel_layout_copy) X(av_channel_layout_default) \
  X(av_channel_layout_describe) X(av_channel_layout_from_mask) X(av_channel_layout_from_string) \
  X(av_channel_layout_uninit) X(av_compare_ts) X(av_d2q) X(av_default_item_name) \
  X(av_cpu_max_align) X(av_dict_copy) X(av_dict_count) X(av_dict_free) X(av_dict_get) X(av_dict_parse_string) \
  X(av_dict_set) X(av_display_rotation_get) X(av_div_q) X(av_fast_malloc) X(av_fast_realloc) \
  X(av_fifo_alloc2) X(av_fifo_can_read) X(av_fifo_can_write) X(av_fifo_freep2) \
  X(av_fifo_read) X(av_fifo_write) X(av_fifo_reset2) X(av_find_nearest_q_idx) \
  X(av_frame_alloc) X(av_frame_clone) X(av_frame_copy) X(av_frame_copy_props) \
  X(av_frame_free) X(av_frame_get_buffer) X(av_frame_make_writable) X(av_frame_move_ref) \
  X(av_frame_ref) X(av_frame_unref) X(av_free) X(av_freep) X(av_gcd) \
  X(av_get_bytes_per_sample) X(av_get_media_type_string) X(av_get_packed_sample_fmt) \
  X(av_get_picture_type_char) X(av_get_pix_fmt) X(av_get_pix_fmt_name) \
  X(av_get_pix_fmt_string) X(av_get_sample_fmt) X(av_get_sample_fmt_name) \
  X(av_get_sample_fmt_string) X(av_get_token) X(av_gettime) X(av_gettime_relative) \
  X(av_image_alloc) X(av_image_check_size) X(av_image_copy) X(av_image_copy_plane) \
  X(av_image_fill_arrays) X(av_image_fill_linesizes) X(av_image_get_buffer_size) \
  X(av_log) X(av_log_default_callback) X(av_log_format_line2) X(av_log_get_level) \
  X(av_log_set_callback) X(av_log_set_flags) X(av_log_set_level) \
  X(av_malloc) X(av_mallocz) X(av_mul_q) X(av_opt_copy) X(av_opt_find) X(av_opt_free) \
  X(av_opt_get) \
  X(av_opt_get_int) X(av_opt_next) X(av_opt_set) X(av_opt_set_bin) X(av_opt_set_chlayout) \
  X(av_opt_set_defaults) X(av_opt_set_dict) X(av_opt_set_double) X(av_opt_set_int) \
  X(av_opt_set_pixel_fmt) X(av_opt_set_q) X(av_opt_set_sample_fmt) X(av_parse_ratio) \
  X(av_parse_time) X(av_parse_video_rate) X(av_parse_video_size) X(av_pix_fmt_desc_get) \
  X(av_realloc) X(av_reduce) X(av_rescale) X(av_rescale_q) X(av_rescale_q_rnd) \
  X(av_rescale_rnd) X(av_sample_fmt_is_planar) X(av_samples_alloc) X(av_samples_copy) \
  X(av_samples_get_buffer_size) X(av_samples_set_silence) X(av_strdup) X(av_strerror) \
  X(av_stristart) X(av_strlcat) X(av_strlcpy) X(av_strstart) X(av_sub_q) X(av_usleep) \
  X(avutil_version)

#define FF_SWSCALE_ENTRIES(X) \
  X(sws_freeContext) X(sws_getCachedContext) X(sws_getCoefficients) \
  X(sws_getColorspaceDetails) X(sws_getContext) X(sws_get_class) X(sws_isSupportedInput) \
  X(sws_isSupportedOutput) X(sws_scale) X(sws_setColorspaceDetails) X(swscale_version)

// The C library's file and formatting routines, taken the same way the libraries take them.
#define FF_LIBC_ENTRIES(X) \
  X(fclose) X(fopen) X(fprintf) X(fread) X(fseek) X(ftell) X(fwrite) X(snprintf) \
  X(strtod) X(strtok) X(strtol) X(vsprintf) X(vsnprintf)

#define FF_SWRESAMPLE_ENTRIES(X) \
  X(swr_alloc) X(swr_alloc_set_opts2) X(swr_close) X(swr_convert) X(swr_convert_frame) \
  X(swr_free) X(swr_get_class) X(swr_get_delay) X(swr_get_out_samples) X(swr_init) \
  X(swr_is_initialized) X(swr_next_pts) X(swr_set_compensation) X(swresample_version)

#define FF_ALL_ENTRY_LISTS(X) \
  FF_AVCODEC_ENTRIES(X) FF_AVDEVICE_ENTRIES(X) FF_AVFILTER_ENTRIES(X) FF_AVFORMAT_ENTRIES(X) \
  FF_AVUTIL_ENTRIES(X) FF_SWSCALE_ENTRIES(X) FF_LIBC_ENTRIES(X) FF_SWRESAMPLE_ENTRIES(X)
// clang-format on

namespace ff {
#define FF_DECLARE_ENTRY(name) inline decltype(&::name) name = nullptr;
FF_ALL_ENTRY_LISTS(FF_DECLARE_ENTRY)
#undef FF_DECLARE_ENTRY
}  // namespace ff
