// keomux: KEO payloads and raw sound in, a KEO movie out, written by the
// project's movie writer: the bytes `keo export` writes for the same frames
// and sound (but 32-bit sound, kept whole here), every frame first, then the
// sound in keo export's blocks (gst/KEOMuxSound.h), which waits in a
// temporary file until then.
//
//   video       request pad: video/x-keo from keoenc, its caps as they are;
//               the movie's rate is the caps' framerate, stored exactly, or
//               when that is 0/1 the spacing of the frames' timestamps,
//               which must then stay even; a rate no movie holds (above a
//               million frames per second) is an error
//   audio_%u    request pad: interleaved S16LE, S24LE, S32LE (stored as
//               they are) or F32LE (stored as 24-bit integers, rounded, clipped at
//               full scale); the channel counts and rates the writer
//               stores. The writer keeps one sound track: a second audio
//               pad is refused, with a warning that says so.
//   src         video/quicktime, into a downstream that seeks (filesink):
//               the movie atom is written at the end and the media data's
//               size patched at the start. One that cannot seek is an
//               error before the first byte.
//
// The first frame's time is the movie's time 0: sound that starts later is
// preceded by silence, sound that starts earlier loses its lead. EOS on
// every pad finishes the movie. An error, or a stop before EOS, leaves the
// output without its movie atom (no player takes it for a movie), and a
// warning says so.
#pragma once

#include <gst/base/gstaggregator.h>

G_BEGIN_DECLS

#define GST_TYPE_KEO_MUX (gst_keo_mux_get_type())
G_DECLARE_FINAL_TYPE(GstKeoMux, gst_keo_mux, GST, KEO_MUX, GstAggregator)

GST_ELEMENT_REGISTER_DECLARE(keomux);

G_END_DECLS
