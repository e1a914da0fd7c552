// The "unicode" protocol: local files are opened by the engine itself and handed to FFmpeg as
// custom I/O contexts, so that any file name the file system holds reaches the libraries, even
// one that FFmpeg would read as a URL ("clip: part 1.mp4"). File names are the file system's
// bytes (UTF-8) throughout the engine, so no conversion happens on the way.
//
// The decoder, the transcoder and the player open every input and output through
// UnicodeOpenInput / UnicodeOpenOutput and close them with the matching close routine, never with
// avformat_close_input or avio_close alone: FFmpeg does not free a custom I/O context.
// URLs of FFmpeg's own network and device protocols ("http:", "pipe:" ...) pass on to FFmpeg.
#pragma once

#include <string>

#include "FFEntryPoints.h"

// The file name a "unicode:" URL stands for: the URL without a leading "unicode:" and then
// without one optional "file:". Any other colon belongs to the name.
std::string UrlToWideFileName(const std::string& url);

// Records "unicode" in the engine's protocol registry (the loader does it when avformat loads).
void RegisterUnicodeProtocol();

// True when the engine opens the URL itself: a "unicode:" URL or a name that FFmpeg's protocols
// would take for a local file or not know at all.
bool IsLocalFileUrl(const std::string& url);

// Opens the file of a URL as an I/O context. With AVIO_FLAG_WRITE the file is created or emptied
// (with AVIO_FLAG_READ as well it can be read back); otherwise an existing file is opened for
// reading only and is never changed. Returns 0 or an FFmpeg error code (AVERROR(ENOENT) for a
// missing file); reads past the end give AVERROR_EOF. Each read first asks Interrupt (when
// given), as FFmpeg's own protocols do, and gives AVERROR_EXIT when it says so.
int UnicodeOpen(AVIOContext** pb, const std::string& url, int flags,
                const AVIOInterruptCB* interrupt = nullptr);

// Closes a context from UnicodeOpen (null is fine) and sets *pb to null. For a writer, what is
// still buffered is written out first; the result is the first write error, or 0.
int UnicodeClose(AVIOContext** pb);

// True for a context made by UnicodeOpen.
bool IsUnicodeContext(const AVIOContext* pb);

// Opens a media input as avformat_open_input does: *ps is either null or a context the caller
// prepared (interrupt callback, flags); on failure it is freed and set to null. A local file gets
// the engine's I/O context, and the files its format opens by itself go the same way.
int UnicodeOpenInput(AVFormatContext** ps, const std::string& url, const AVInputFormat* format,
                     AVDictionary** options);

// Closes an input from UnicodeOpenInput together with its I/O context; *ps becomes null.
void UnicodeCloseInput(AVFormatContext** ps);

// Opens the file an output context writes into oc->pb (for formats that write one) and routes the
// further files its format opens the same way. Call after avformat_alloc_output_context2; FFmpeg's
// own protocols get the context's interrupt callback. A local file is written in large blocks, not
// after every packet, unless the context's "flush_packets" asks for that. Returns 0 or an FFmpeg
// error code.
int UnicodeOpenOutput(AVFormatContext* oc, const std::string& url);

// Closes oc->pb after av_write_trailer (nothing when none is open) and returns the first write
// error, or 0: a full disk shows here at the latest.
int UnicodeCloseOutput(AVFormatContext* oc);
